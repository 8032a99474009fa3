#!/usr/bin/env bash
# The LV2 editor inside jalv.gtk3 on a private Xvfb display and a private JACK dummy server: it is
# drawn (dark red ground, gold title), and a drag on the Sustain knob moves the host's `sustain`
# control, read back from the state jalv saves, where the plug-in's own state agrees.
# Every process has its own time limit and every wait is for a condition; 77 means skipped.
# Usage: jalv-editor.sh BUNDLE_DIR PLUGIN_URI XPROBE
set -euo pipefail
bundle=$1 uri=$2 xprobe=$3
for tool in Xvfb jalv.gtk3 jackd jack_wait xdotool timeout; do
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
    cat "$work"/*.log 2>/dev/null || true
    exit 1
}
# Polls a condition every 0.1 s for at most $1 seconds; fails at once when jalv has died.
wait_for() {
    local deadline=$((SECONDS + $1)) what=$2
    shift 2
    until "$@"; do
        [ -z "${jalv:-}" ] || kill -0 "$jalv" 2>/dev/null || fail "jalv exited while waiting for $what"
        [ "$SECONDS" -lt "$deadline" ] || fail "no $what"
        sleep 0.1
    done
}

# -displayfd: Xvfb picks a free display itself, so parallel runs never share one; -noreset: a
# probe leaving before jalv connects must not reset the server under it.
timeout 55 Xvfb -displayfd 3 -noreset -screen 0 1280x1000x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
wait_for 10 "Xvfb display" test -s "$work/display"
export DISPLAY=":$(head -n1 "$work/display")" GSETTINGS_BACKEND=memory
export JACK_DEFAULT_SERVER="thraskvell-editor-$$-$RANDOM"
timeout 55 jackd --no-realtime -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
pids+=($!)
timeout 15 jack_wait -s "$JACK_DEFAULT_SERVER" -w -t 10 >/dev/null || fail "the JACK server did not come up"

mkdir "$work/lv2"
ln -s "$(cd "$bundle" && pwd)" "$work/lv2/"
LV2_PATH="$work/lv2" timeout 50 jalv.gtk3 "$uri" >"$work/jalv.log" 2>&1 &
jalv=$!
pids+=("$jalv")
find_window() { window=$(timeout 5 xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1) && [ -n "$window" ]; }
wait_for 20 "jalv window" find_window "^Thrask Vell"
eval "$(timeout 5 xdotool getwindowgeometry --shell "$window")"
# jalv puts its menu bar above the editor: the editor is the bottom 550 × 750 of the window.
[ "$WIDTH" -ge 550 ] && [ "$HEIGHT" -ge 750 ] || fail "window ${WIDTH}x${HEIGHT} is smaller than the editor"
left=$X top=$((Y + HEIGHT - 750))
probe() { timeout 5 "$xprobe" "$@"; }
ground_is_dark_red() {
    read -r r g b < <(probe pixel "$((left + 20)),$((top + 720))") &&
        [ "$r" -gt $((g + 8)) ] && [ "$r" -gt $((b + 8)) ] && [ "$r" -lt 90 ]
}
wait_for 15 "dark red editor ground" ground_is_dark_red
read -r r g b < <(probe pixel "$((left + 150)),$((top + 15)),250,50") || fail "cannot read the title"
[ "$r" -gt 180 ] && [ "$g" -gt 120 ] && [ "$r" -gt $((b + 60)) ] || fail "title is $r $g $b, not gold"

# Sustain knob: 30 points up from its centre, then wait until the knob is drawn changed and still.
knob="$((left + 67)),$((top + 339)),60,60"
before=$(probe sum "$knob")
kx=$((left + 97)) ky=$((top + 369))
timeout 10 xdotool mousemove "$kx" "$ky" mousedown 1 sleep 0.1 mousemove "$kx" $((ky - 15)) sleep 0.1 \
    mousemove "$kx" $((ky - 30)) sleep 0.1 mouseup 1
knob_settled() {
    local a b
    a=$(probe sum "$knob") && sleep 0.2 && b=$(probe sum "$knob") && [ "$a" != "$before" ] && [ "$a" = "$b" ]
}
wait_for 10 "knob drawn at its new value" knob_settled

# Ctrl+S over the menu bar opens jalv's Save State dialog; Return saves to the typed directory.
timeout 5 xdotool mousemove $((X + 200)) $((Y + 10)) key ctrl+s
wait_for 15 "save dialog" find_window "^Save State"
timeout 5 xdotool mousemove --window "$window" 20 20 # keys go to the window under the pointer
timeout 10 xdotool type --delay 5 "$work/saved"
# GTK enables Save only once it has looked at the typed folder: Return until the state is there.
saved() {
    grep -q '"sustain"' "$work/saved/state.ttl" 2>/dev/null && return
    timeout 5 xdotool key Return
    sleep 0.3
    grep -q '"sustain"' "$work/saved/state.ttl" 2>/dev/null
}
wait_for 15 "saved state" saved

port=$(grep -A1 'lv2:symbol "sustain"' "$work/saved/state.ttl" | sed -n 's/.*pset:value \([0-9.]*\).*/\1/p')
plugin=$(sed -n 's/.*"sustain": \([0-9.]*\).*/\1/p' "$work/saved/state.ttl")
[ -n "$port" ] && [ -n "$plugin" ] || fail "sustain missing from the saved state"
awk -v p="$port" 'BEGIN { exit !(p >= 75 && p <= 85) }' || fail "host's sustain is $port, expected about 80"
awk -v p="$port" -v q="$plugin" 'BEGIN { exit !(p == q) }' || fail "host says $port, plug-in says $plugin"
echo "editor drawn in jalv.gtk3; a Sustain drag moved the host's control to $port"
