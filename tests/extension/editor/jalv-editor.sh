#!/usr/bin/env bash
# The stereo LV2 with its editor inside jalv.gtk3 under Xvfb, on a private JACK dummy server: the
# editor is drawn (dark red ground, gold title), a drag on the Sustain knob moves the host's
# `sustain` control (read back from a state jalv saves) and the plug-in's own state agrees.
# Every step is bounded; exit 77 (skipped) when a tool is missing.
# Usage: jalv-editor.sh BUNDLE_DIR PLUGIN_URI XGRAB [SCREENSHOT.png]
set -euo pipefail
bundle=$1
uri=$2
xgrab=$3
screenshot=${4:-}
for tool in Xvfb jalv.gtk3 jackd jack_wait xdotool; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    cat "$work/jalv.log" 2>/dev/null || true
    exit 1
}

export GSETTINGS_BACKEND=memory
timeout 120 Xvfb -displayfd 3 -screen 0 1280x1000x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"

export JACK_DEFAULT_SERVER="thraskvell-editor-$$"
timeout 110 jackd --no-realtime -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do timeout 5 jack_wait -c >/dev/null 2>&1 && break; sleep 0.1; done

mkdir "$work/lv2"
ln -s "$(cd "$bundle" && pwd)" "$work/lv2/"
LV2_PATH="$work/lv2" timeout 100 jalv.gtk3 "$uri" >"$work/jalv.log" 2>&1 &
pids+=($!)

window=""
for _ in $(seq 100); do
    window=$(xdotool search --name "^Thrask Vell" 2>/dev/null | head -n1) && [ -n "$window" ] && break
    sleep 0.2
done
[ -n "$window" ] || fail "no jalv window"
sleep 1.5
eval "$(xdotool getwindowgeometry --shell "$window")"
# jalv puts its menu bar above the editor: the editor is the bottom 550 × 750 of the window.
[ "$WIDTH" -ge 550 ] && [ "$HEIGHT" -ge 750 ] || fail "window ${WIDTH}x${HEIGHT} is smaller than the editor"
left=$X
top=$((Y + HEIGHT - 750))

read -r _ r g b < <("$xgrab" "$work/shot.png" "$((left + 20)),$((top + 720))")
[ "$r" -gt $((g + 8)) ] && [ "$r" -gt $((b + 8)) ] && [ "$r" -lt 90 ] || fail "ground is $r $g $b, not dark red"
read -r _ r g b < <("$xgrab" "$work/shot.png" "$((left + 150)),$((top + 15)),250,50")
[ "$r" -gt 180 ] && [ "$g" -gt 120 ] && [ "$r" -gt $((b + 60)) ] || fail "title is $r $g $b, not gold"

# Sustain knob: 30 points up from its centre.
kx=$((left + 97))
ky=$((top + 369))
xdotool mousemove "$kx" "$ky" mousedown 1 sleep 0.2 mousemove "$kx" $((ky - 15)) sleep 0.2 \
    mousemove "$kx" $((ky - 30)) sleep 0.2 mouseup 1
sleep 1
[ -n "$screenshot" ] && "$xgrab" "$screenshot" "@$X,$Y,$WIDTH,$HEIGHT" >/dev/null

# File ▸ Save writes the host's control values and the plug-in's state into a directory.
xdotool mousemove $((X + 18)) $((Y + 13)) click 1
sleep 0.7
xdotool mousemove $((X + 45)) $((Y + 41)) click 1
dialog=""
for _ in $(seq 50); do
    dialog=$(xdotool search --name "^Save State" 2>/dev/null | head -n1) && [ -n "$dialog" ] && break
    sleep 0.2
done
[ -n "$dialog" ] || fail "no save dialog"
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$dialog")"
xdotool type --delay 5 "$work/saved"
sleep 0.5
# The Save button sits in the dialog's bottom right corner.
xdotool mousemove $((X + (WIDTH < 1280 - X ? WIDTH : 1280 - X) - 20)) $((Y + HEIGHT - 24)) click 1
for _ in $(seq 50); do [ -s "$work/saved/state.ttl" ] && break; sleep 0.2; done
[ -s "$work/saved/state.ttl" ] || fail "jalv saved no state"

port=$(grep -A1 'lv2:symbol "sustain"' "$work/saved/state.ttl" | sed -n 's/.*pset:value \([0-9.]*\).*/\1/p')
plugin=$(sed -n 's/.*"sustain": \([0-9.]*\).*/\1/p' "$work/saved/state.ttl")
[ -n "$port" ] && [ -n "$plugin" ] || fail "sustain missing from the saved state"
awk -v p="$port" 'BEGIN { exit !(p >= 75 && p <= 85) }' || fail "host's sustain is $port, expected about 80"
awk -v p="$port" -v q="$plugin" 'BEGIN { exit !(p == q) }' || fail "host says $port, plug-in says $plugin"
echo "editor drawn in jalv.gtk3; a Sustain drag moved the host's control to $port"
