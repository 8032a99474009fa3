#!/usr/bin/env bash
# The demo app end to end on a private Xvfb server: start it, click Play with xdotool, hear the
# disk driver's file grow, close the window as a window manager would, expect exit status 0 and no
# start error. Skips (77) when Xvfb or xdotool is missing. Every wait is bounded.
# Usage: end_to_end.sh THRASKVELL CLOSE-WINDOW-HELPER
set -u
app=$1
close_window=$2

if ! command -v Xvfb >/dev/null || ! command -v xdotool >/dev/null; then
    echo "Xvfb or xdotool is not installed; skipped"
    exit 77
fi

work=$(mktemp -d)
xvfb_pid=""
app_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    [ -f "$work/app.log" ] && sed 's/^/  app: /' "$work/app.log"
    exit 1
}

# Xvfb picks a free display and writes its number once it accepts connections.
Xvfb -displayfd 3 -nolisten tcp -screen 0 800x1000x24 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"

export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/played.raw"
"$app" >"$work/app.log" 2>&1 &
app_pid=$!

window=""
for _ in $(seq 100); do
    window=$(xdotool search --name '^Thrask Vell$' 2>/dev/null | head -n1)
    [ -n "$window" ] && break
    kill -0 "$app_pid" 2>/dev/null || fail "the app exited before showing its window"
    sleep 0.1
done
[ -n "$window" ] || fail "no window appeared"
sleep 0.5

# The play control's centre: 20 points of padding plus half its 52-point circle across, and the
# middle of the 87-point header bar down.
xdotool mousemove --window "$window" 46 43 click 1

size() { stat -c %s "$work/played.raw" 2>/dev/null || echo 0; }
for _ in $(seq 100); do [ "$(size)" -gt 352800 ] && break; sleep 0.1; done # a second of stereo floats
[ "$(size)" -gt 352800 ] || fail "no audio reached the device after Play"

"$close_window" "$window" || fail "could not ask the window to close"
for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$app_pid" 2>/dev/null; then fail "the app is still running after its window closed"; fi
wait "$app_pid"
status=$?
app_pid=""
[ "$status" -eq 0 ] || fail "exit status $status"
grep -q "Engine start error" "$work/app.log" && fail "the engine did not start"
echo "ok: played $(size) bytes, closed, exit status 0"
exit 0
