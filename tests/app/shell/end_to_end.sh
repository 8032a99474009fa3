#!/usr/bin/env bash
# The demo app on a private Xvfb display: a click on Play makes SDL's disk driver's file grow by a
# second of audio, closing the window as a window manager would ends the app with status 0 and no
# start error. Usage: end_to_end.sh THRASKVELL XPROBE
app=$1 xprobe=$2
source "$(dirname "$0")/../../extension/editor/xsession.sh"
need xdotool
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/played.raw"
spawn app "$app"
wait_for 20 "app window" find_window '^Thrask Vell$'
# The play control's centre: 20 points of padding plus half its 52-point circle, in the 87-point
# header. The triangle's point is gold while stopped, the square's corner once playing.
eval "$(timeout 5 xdotool getwindowgeometry --shell "$window")"
gold() { read -r r g _ < <(probe "$((X + 46 + $1)),$((Y + 43 + $2))") && [ "$r" -gt 150 ] && [ "$g" -gt 100 ]; }
wait_for 15 "play glyph drawn" gold 8 0
timeout 5 xdotool mousemove --window "$window" 46 43 click 1
wait_for 15 "stop glyph after the click" gold 6 -6
played() { [ "$(stat -c %s "$work/played.raw" 2>/dev/null || echo 0)" -gt 384000 ]; } # 1 s of 48 kHz stereo floats
wait_for 20 "second of audio" played
probe close "$window" || fail "could not ask the window to close"
app=$watched watched=""
exited() { ! kill -0 "$app" 2>/dev/null; }
wait_for 10 "exit after the window closed" exited
wait "$app" || fail "exit status $?"
echo "ok: played, closed, exit status 0"
