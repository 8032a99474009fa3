#!/usr/bin/env bash
# Steady-state CPU of the demo app, idle and playing, as a share of one core, with the X server's
# share beside it: a private Xvfb display, SDL's disk driver (paced like a sound card), Play clicked.
# Usage: bench/app-cpu.sh BUILD/app/ThraskVell [SECONDS]   (default 20 s per measurement)
set -eu
app=$1
seconds=${2:-20}
work=$(mktemp -d)
app_pid="" xvfb_pid=""
trap 'kill $app_pid $xvfb_pid 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 800x1000x24 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")" SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/played.raw"
"$app" >/dev/null 2>&1 &
app_pid=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Thrask Vell$' | head -n1)
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
share() { echo "$1" | awk -v hz="$(getconf CLK_TCK)" -v s="$seconds" '{ printf "%.1f %%", $1 * 100 / (hz * s) }'; }
measure() {
    local a x
    a=$(ticks "$app_pid") x=$(ticks "$xvfb_pid")
    sleep "$seconds"
    echo "$1: app $(share $(($(ticks "$app_pid") - a))) of a core, X server $(share $(($(ticks "$xvfb_pid") - x)))"
}
sleep 2 # settle after start-up
measure "idle (window open, stopped)"
xdotool mousemove --window "$window" 46 43 click 1
sleep 3
measure "playing"
echo "device received $(stat -c %s "$work/played.raw" 2>/dev/null || echo 0) bytes"
