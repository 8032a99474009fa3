#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need (Debian 12).
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends \
    build-essential cmake ninja-build pkg-config clang-format \
    libgtest-dev libgmock-dev libbenchmark-dev \
    libcli11-dev libsndfile1-dev nlohmann-json3-dev \
    dpf-source lv2-dev liblilv-dev jalv jackd2 libjack-jackd2-dev \
    libsdl2-dev \
    libcairo2-dev libpango1.0-dev fonts-noto-core fonts-noto-extra fonts-dejavu-core \
    clang libclang-rt-dev \
    libx11-dev libxcursor-dev libxext-dev libxrandr-dev xvfb xdotool \
    g++-aarch64-linux-gnu qemu-user
# For the benchmarks only: bench/peer-cpu.sh times the installed peer LV2 plug-ins beside ours,
# bench/kernel-instructions.sh counts instructions with valgrind.
$SUDO apt-get install -y --no-install-recommends guitarix-lv2 calf-plugins valgrind
