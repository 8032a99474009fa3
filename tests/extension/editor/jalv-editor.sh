#!/usr/bin/env bash
# The LV2 editor inside jalv.gtk3 with a private JACK dummy server: it is drawn (dark red ground,
# gold title), and a drag on the Sustain knob redraws it and moves the host's `sustain` control, read
# back from the state jalv saves, where the plug-in's own state agrees.
# Usage: jalv-editor.sh BUNDLE_DIR PLUGIN_URI XPROBE
bundle=$1 uri=$2 xprobe=$3
source "$(dirname "$0")/xsession.sh"
need jalv.gtk3 jackd jack_wait xdotool
# One server name per build tree and plug-in: JACK keeps a slot per name while its process lives and hands
# a dead server's slot to the next one of that name, so uncleanly ended runs cannot use up its few slots.
server="thraskvell-editor-$(printf '%s %s' "$(pwd -P)" "$uri" | cksum | cut -d' ' -f1)"
export GSETTINGS_BACKEND=memory JACK_DEFAULT_SERVER="$server" JACK_NO_START_SERVER=1
export LV2_PATH="$work/lv2"
mkdir "$work/lv2" && ln -s "$(cd "$bundle" && pwd)" "$work/lv2/"
spawn jackd jackd --no-realtime -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 256
# jack_wait -w gives up at once while the server is still starting, so ask until it answers.
jack_up() { [ "$(timeout 5 jack_wait -c 2>/dev/null)" = running ]; }
wait_for 15 "JACK server" jack_up
# JACK2 may refuse a client that joins while another leaves (our probe, or a client of another test's
# server sharing its registry): that refusal, and only that, is tried again, at most three times.
window_or_refused() { find_window "^Thrask Vell" || ! kill -0 "$jalv_pid" 2>/dev/null; }
for attempt in 1 2 3; do
    spawn jalv jalv.gtk3 "$uri"
    jalv_pid=$watched watched=""
    wait_for 20 "jalv window" window_or_refused
    watched=$jalv_pid
    find_window "^Thrask Vell" && break
    grep -q "Failed to connect to audio system" "$work/jalv.log" || fail "jalv exited"
done
find_window "^Thrask Vell" || fail "jalv could not join the JACK server"
eval "$(timeout 5 xdotool getwindowgeometry --shell "$window")"
# jalv puts its menu bar above the editor: the editor is the bottom 550 × 750 of the window.
[ "$WIDTH" -ge 550 ] && [ "$HEIGHT" -ge 750 ] || fail "window ${WIDTH}x${HEIGHT} is smaller than the editor"
left=$X top=$((Y + HEIGHT - 750))
dark_red() { read -r r g b _ < <(probe "$((left + 20)),$((top + 720))") && [ "$r" -gt $((g + 8)) ] && [ "$r" -gt $((b + 8)) ] && [ "$r" -lt 90 ]; }
wait_for 15 "dark red editor ground" dark_red
read -r r g b _ < <(probe "$((left + 150)),$((top + 15)),250,50") || fail "cannot read the title"
[ "$r" -gt 180 ] && [ "$g" -gt 120 ] && [ "$r" -gt $((b + 60)) ] || fail "title is $r $g $b, not gold"

# Sustain knob: 30 points up from its centre, then wait until the knob is drawn changed and still.
knob="$((left + 67)),$((top + 339)),60,60" kx=$((left + 97)) ky=$((top + 369))
before=$(probe "$knob")
timeout 10 xdotool mousemove "$kx" "$ky" mousedown 1 sleep 0.1 mousemove "$kx" $((ky - 15)) sleep 0.1 \
    mousemove "$kx" $((ky - 30)) sleep 0.1 mouseup 1
settled() { local a b; a=$(probe "$knob") && sleep 0.2 && b=$(probe "$knob") && [ "$a" != "$before" ] && [ "$a" = "$b" ]; }
wait_for 10 "knob drawn at its new value" settled

# Ctrl+S over the menu bar opens jalv's Save State dialog; keys go to the window under the pointer.
timeout 5 xdotool mousemove $((X + 200)) $((Y + 10)) key ctrl+s
wait_for 15 "save dialog" find_window "^Save State"
timeout 10 xdotool mousemove --window "$window" 20 20 type --delay 5 "$work/saved"
# GTK enables Save only once it has looked at the typed folder: Return until the state is there.
saved() { grep -q '"sustain"' "$work/saved/state.ttl" 2>/dev/null || { timeout 5 xdotool key Return; sleep 0.3; false; }; }
wait_for 15 "saved state" saved
port=$(grep -A1 'symbol "sustain"' "$work/saved/state.ttl" | sed -n 's/.*pset:value \([0-9.]*\).*/\1/p')
plugin=$(sed -n 's/.*"sustain": *\([0-9.]*\).*/\1/p' "$work/saved/state.ttl") # the plug-in's own state
awk -v p="$port" -v q="$plugin" 'BEGIN { exit !(p >= 75 && p <= 85 && p == q) }' || fail "host's sustain $port, plug-in's $plugin: expected both about 80"
echo "editor drawn in jalv.gtk3; a Sustain drag moved the host's control to $port"
