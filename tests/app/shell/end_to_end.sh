#!/usr/bin/env bash
# The demo app on a private Xvfb display: a click on Play makes SDL's disk driver's file grow by a
# second of audio, closing the window as a window manager would ends the app with status 0 and no
# start error. Every process has its own time limit and every wait is for a condition; 77: skipped.
# Usage: end_to_end.sh THRASKVELL XPROBE
set -euo pipefail
app=$1 xprobe=$2
for tool in Xvfb xdotool timeout; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
xvfb="" app_pid=""
cleanup() {
    kill $app_pid $xvfb 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    sed 's/^/  app: /' "$work/app.log" 2>/dev/null || true
    exit 1
}
# Polls a condition every 0.1 s for at most $1 seconds; fails at once when the app has exited.
wait_for() {
    local deadline=$((SECONDS + $1)) what=$2
    shift 2
    until "$@"; do
        [ -z "$app_pid" ] || kill -0 "$app_pid" 2>/dev/null || fail "the app exited while waiting for $what"
        [ "$SECONDS" -lt "$deadline" ] || fail "no $what"
        sleep 0.1
    done
}

timeout 55 Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 800x1000x24 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
wait_for 10 "Xvfb display" test -s "$work/display"
export DISPLAY=":$(head -n1 "$work/display")" SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/played.raw"
timeout 50 "$app" >"$work/app.log" 2>&1 &
app_pid=$!
find_window() { window=$(timeout 5 xdotool search --onlyvisible --name '^Thrask Vell$' | head -n1) && [ -n "$window" ]; }
wait_for 20 "app window" find_window

# The play control's centre: 20 points of padding plus half its 52-point circle, in the 87-point
# header. The triangle's point is gold while stopped, the square's corner once playing.
eval "$(timeout 5 xdotool getwindowgeometry --shell "$window")"
gold() { read -r r g _ < <(timeout 5 "$xprobe" pixel "$((X + 46 + $1)),$((Y + 43 + $2))") && [ "$r" -gt 150 ] && [ "$g" -gt 100 ]; }
wait_for 15 "play glyph drawn" gold 8 0
timeout 5 xdotool mousemove --window "$window" 46 43 click 1
wait_for 15 "stop glyph after the click" gold 6 -6
size() { stat -c %s "$work/played.raw" 2>/dev/null || echo 0; }
second_played() { [ "$(size)" -gt 384000 ]; } # a second of 48 kHz stereo floats
wait_for 20 "second of audio" second_played

timeout 5 "$xprobe" close "$window" || fail "could not ask the window to close"
exited() { ! kill -0 "$app_pid" 2>/dev/null; }
app=$app_pid app_pid=""
wait_for 10 "exit after the window closed" exited
status=0
wait "$app" || status=$?
[ "$status" -eq 0 ] || fail "exit status $status"
! grep -q "Engine start error" "$work/app.log" || fail "the engine did not start"
echo "ok: played $(size) bytes, closed, exit status 0"
