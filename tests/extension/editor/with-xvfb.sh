#!/usr/bin/env bash
# Runs a command on a private Xvfb display (kept up between its clients: -noreset), bounded in
# time; exit 77 (skipped) without Xvfb.
# Usage: with-xvfb.sh SECONDS COMMAND [ARGS...]
set -euo pipefail
seconds=$1
shift
command -v Xvfb >/dev/null || { echo "skipped: Xvfb is not installed"; exit 77; }
work=$(mktemp -d)
timeout $((seconds + 10)) Xvfb -displayfd 3 -noreset -screen 0 1280x1000x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; wait $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
timeout "$seconds" "$@"
