#!/usr/bin/env bash
# Instructions per frame the kernel's render call executes (callgrind), on the kernel benchmark's ten
# seconds of bass (COMP, ASYM, BASS and dry mode on) and of gate-closed silence: a figure that, unlike
# time, does not move with the machine's load.
# Usage: bash bench/kernel-instructions.sh [BUILD]   (needs valgrind)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
benchmark=$build/bench/thraskvell_kernel_benchmark
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
frames=$((48000 * 10))

printf '%-36s %14s\n' "case" "instr/frame"
for case in Optimised_Mono Optimised_Stereo Optimised_Stereo_GatedSilence Literal_Mono Literal_Stereo; do
    render='thraskvell::ThraskVellDSPKernel::processBlock*'
    [[ $case == Literal* ]] && render='thraskvell::processBlockPortable*'
    output=$(valgrind --tool=callgrind --callgrind-out-file="$work/out" --toggle-collect="$render" \
        "$benchmark" --benchmark_filter="^BM_${case}\$" --benchmark_min_time=0.000001 2>/dev/null)
    iterations=$(awk -v name="BM_$case" '$1 == name { print $6 }' <<<"$output")
    instructions=$(callgrind_annotate "$work/out" | awk '/PROGRAM TOTALS/ { gsub(",", "", $1); print $1 }')
    awk -v c="$case" -v i="$instructions" -v n="$iterations" -v f="$frames" \
        'BEGIN { printf "%-36s %14.0f\n", c, i / (n * f) }'
done
