#!/usr/bin/env bash
# Smoke test in a real LV2 host: a private JACK server on the dummy driver, the plug-in in jalv's
# console, controls set from the command line and from stdin, a clean exit. Every external process
# has its own time limit and every wait is for a condition; 77 means skipped.
# Usage: jalv-smoke.sh BUNDLE_DIR PLUGIN_URI
set -euo pipefail
for tool in jackd jack_wait jalv timeout; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool not found"; exit 77; }
done
work=$(mktemp -d)
fail() { echo "$1"; cat "$work"/*.log; exit 1; }
# A server of our own, so parallel runs and a user's JACK never meet; only our bundle on LV2_PATH.
export JACK_DEFAULT_SERVER="thraskvell-smoke-$$-$RANDOM" JACK_NO_START_SERVER=1 LV2_PATH="$work/lv2"
mkdir "$work/lv2" && ln -s "$(cd "$1" && pwd)" "$work/lv2/"
timeout 50 jackd --no-realtime -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
jackd_pid=$!
trap 'kill $jackd_pid 2>/dev/null || true; wait $jackd_pid 2>/dev/null || true; rm -rf "$work"' EXIT
# Until the server answers (jack_wait -c says so on stdout), as long as it lives, for at most ~15 s.
for attempt in $(seq 150); do
    [ "$(timeout 5 jack_wait -c 2>/dev/null)" = running ] && break
    kill -0 "$jackd_pid" 2>/dev/null && [ "$attempt" != 150 ] || fail "the JACK server did not come up:"
    sleep 0.1
done
# JACK2 may refuse a client that joins while another one leaves (our probe, or one of another
# server sharing its registry): that refusal, and only that, is tried again, at most three times.
for attempt in 1 2 3; do
    status=0
    printf 'set trim 80\ncontrols\n' | timeout 12 jalv -n thraskvell-smoke -c volume=60 "$2" >"$work/jalv.log" 2>&1 ||
        status=$?
    grep -q "Failed to connect to audio system" "$work/jalv.log" || break
done
[ "$status" = 0 ] || fail "jalv failed ($status):"
for expected in "Plugin:       $2" "trim = 80.000000" "volume = 60.000000"; do
    grep -qF "$expected" "$work/jalv.log" || fail "missing in jalv output: $expected"
done
