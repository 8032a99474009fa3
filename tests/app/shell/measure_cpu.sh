#!/usr/bin/env bash
# Steady-state CPU of the demo app while it plays, as a share of one core: a private Xvfb server,
# SDL's disk driver (paced like a sound card), Play clicked, then SECONDS (default 20) measured
# after a settling pause. Prints the app's share and the X server's. A measuring aid, not a test.
# Usage: measure_cpu.sh THRASKVELL [SECONDS]
set -eu
app=$1
seconds=${2:-20}
work=$(mktemp -d)
trap 'kill $app_pid $xvfb_pid 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
app_pid=""
Xvfb -displayfd 3 -nolisten tcp -screen 0 800x1000x24 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")" SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/played.raw"
"$app" >/dev/null 2>&1 &
app_pid=$!
window=""
for _ in $(seq 100); do
    window=$(xdotool search --name '^Thrask Vell$' 2>/dev/null | head -n1 || true)
    [ -n "$window" ] && break
    sleep 0.1
done
sleep 0.5
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
measure() {
    local a x b y
    a=$(ticks "$app_pid"); x=$(ticks "$xvfb_pid")
    sleep "$seconds"
    b=$(ticks "$app_pid"); y=$(ticks "$xvfb_pid")
    local hz
    hz=$(getconf CLK_TCK)
    echo "$1: app $(( (b - a) * 1000 / (hz * seconds) / 10 )).$(( (b - a) * 1000 / (hz * seconds) % 10 )) % of a core," \
         "X server $(( (y - x) * 1000 / (hz * seconds) / 10 )).$(( (y - x) * 1000 / (hz * seconds) % 10 )) %"
}
sleep 2
measure "idle (window open, stopped)"
xdotool mousemove --window "$window" 46 43 click 1
sleep 3
measure "playing"
echo "device received $(stat -c %s "$work/played.raw" 2>/dev/null || echo 0) bytes"
