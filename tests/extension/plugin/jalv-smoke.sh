#!/usr/bin/env bash
# Smoke test in a real LV2 host: a private JACK server on the dummy driver, the stereo plug-in in
# jalv's console, one control set, a clean exit. Every step is bounded so CI cannot hang.
# Usage: jalv-smoke.sh BUNDLE_DIR PLUGIN_URI
set -euo pipefail
bundle=$1
uri=$2
work=$(mktemp -d)
export JACK_DEFAULT_SERVER="thraskvell-smoke-$$"
jackd_pid=""
cleanup() {
    if [ -n "$jackd_pid" ]; then kill "$jackd_pid" 2>/dev/null || true; wait "$jackd_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

mkdir "$work/lv2"
ln -s "$(cd "$bundle" && pwd)" "$work/lv2/"
timeout 60 jackd --no-realtime -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
jackd_pid=$!
for _ in $(seq 50); do
    if timeout 5 jack_wait -c >/dev/null 2>&1; then break; fi
    sleep 0.1
done

printf 'set trim 80\ncontrols\n' | LV2_PATH="$work/lv2" timeout 20 jalv -n thraskvell-smoke -c volume=60 "$uri" \
    >"$work/jalv.log" 2>&1 || { echo "jalv failed:"; cat "$work/jalv.log" "$work/jackd.log"; exit 1; }

for expected in "Plugin:       $uri" "trim = 80.000000" "volume = 60.000000"; do
    if ! grep -qF "$expected" "$work/jalv.log"; then
        echo "missing in jalv output: $expected"
        cat "$work/jalv.log"
        exit 1
    fi
done
echo "jalv ran $uri with trim set to 80"
