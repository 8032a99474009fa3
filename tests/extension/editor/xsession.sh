#!/usr/bin/env bash
# The display tests' plumbing, sourced by them: a private Xvfb display, bounded waits for conditions,
# processes each with its own time limit and all stopped on exit; 77 means skipped.
# Run as a command it is a test's display: xsession.sh SECONDS COMMAND [ARGS...]
set -euo pipefail
work=$(mktemp -d) pids=() watched=""
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait; rm -rf "$work"' EXIT
need() { for t in "$@"; do command -v "$t" >/dev/null || { echo "skipped: no $t"; exit 77; }; done; }
fail() { echo "FAIL: $*"; tail -n 20 "$work"/*.log 2>/dev/null || true; exit 1; }
# Polls a condition every 0.1 s for at most $1 seconds; fails at once when the watched process died.
wait_for() {
    local deadline=$((SECONDS + $1)) what=$2
    shift 2
    until "$@"; do
        [ -z "$watched" ] || kill -0 "$watched" 2>/dev/null || fail "$watched exited while waiting for $what"
        [ "$SECONDS" -lt "$deadline" ] || fail "no $what"
        sleep 0.1
    done
}
spawn() { timeout 50 "${@:2}" >"$work/$1.log" 2>&1 & pids+=($!) watched=$!; }
# -displayfd: Xvfb picks a free display, so parallel tests never share one; -noreset: a client
# leaving does not reset the server under the next.
need Xvfb timeout
timeout 58 Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1280x1000x24 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
wait_for 10 "Xvfb display" test -s "$work/display"
export DISPLAY=":$(head -n1 "$work/display")"
find_window() { window=$(timeout 5 xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1) && [ -n "$window" ]; }
probe() { timeout 5 "$xprobe" "$@"; } # prints R G B (the brightest pixel) and a checksum of a region
[ "${BASH_SOURCE[0]}" != "$0" ] || timeout "$1" "${@:2}"
