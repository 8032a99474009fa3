#!/usr/bin/env bash
# thraskvell-live as a player meets it. Refusals first, each one line and a status; then, under a
# private JACK dummy server (48 kHz, 256 frames): a damaged settings file is reported once and kept
# aside; --preset "Doom Wall" with --no-connect sounds as the renderer does, sample for sample, on
# both outputs (live-probe), and SIGTERM saves it; the next start, with no options, connects itself to
# the physical ports and sounds the same from the saved file.
# Usage: live-jack.sh THRASKVELL-LIVE LIVE-PROBE
live=$1 liveprobe=$2
source "$(dirname "$0")/../../extension/editor/xsession.sh"
need jackd jack_wait xdotool
# One server name per build tree: JACK keeps a slot per name for as long as its process lives, and a
# server that died without cleaning up leaves the slot to the next one of the same name instead of
# filling JACK's few slots with dead names.
export JACK_DEFAULT_SERVER="thraskvell-live-$(pwd -P | cksum | cut -d' ' -f1)" JACK_NO_START_SERVER=1 XDG_CONFIG_HOME="$work/config"
settings="$work/config/thraskvell/live.json"

# status, what stderr's one line says, and the command line, in three columns.
while IFS='|' read -r status says args; do
    set +e
    eval "timeout 10 env $args" >"$work/out" 2>"$work/err"
    got=$?
    set -e
    lines=0 && [ -z "$says" ] || lines=1
    [ "$got" = "$status" ] && [ "$(wc -l <"$work/err")" = "$lines" ] && grep -q -- "$says" "$work/err" "$work/out" ||
        fail "$args: status $got, said: $(cat "$work/err" "$work/out")"
done <<ROWS
0||$live --help | grep -- --no-connect
1|no JACK server is running; start one|$live
1|no display|-u DISPLAY $live
ROWS

# Synchronous (-S): on a loaded machine the server waits for late clients instead of skipping them.
spawn jackd jackd -S -t 5000 --no-realtime -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 256
watched=""
jack_up() { [ "$(timeout 5 jack_wait -c 2>/dev/null)" = running ]; }
for _ in $(seq 100); do jack_up && break; sleep 0.1; done
jack_up || { echo "skipped: no JACK dummy server could be started"; cat "$work/jackd.log"; exit 77; }

# Each process is ended in turn, thraskvell-live first (start puts it at the front): a failing test
# closes the program before its display and its server, as jackd takes minutes to end after a client
# vanished.
trap 'set +e; for p in "${pids[@]}"; do kill "$p" && wait "$p"; done 2>/dev/null; rm -rf "$work"' EXIT
start() {
    spawn live "$live" "$@"
    pids=("$watched" "${pids[@]:0:${#pids[@]}-1}")
    wait_for 20 "thraskvell-live window" find_window "^Thrask Vell Live$"
}
stop() {
    kill -TERM "$watched" && wait "$watched" || fail "thraskvell-live did not end cleanly on SIGTERM"
    watched=""
}

mkdir -p "$(dirname "$settings")" && echo '{"sustain": 80,' >"$settings"
start --no-connect
[ "$(grep -c "damaged settings" "$work/live.log")" = 1 ] && grep -q "kept as .*live.json.bad" "$work/live.log" &&
    cmp -s <(echo '{"sustain": 80,') "$settings.bad" || fail "damaged settings not reported once and kept aside"
stop

start --no-connect --preset "Doom Wall"
timeout 20 "$liveprobe" "Doom Wall" unconnected || fail "--preset: not the renderer's sound"
stop
[ -s "$settings" ] || fail "no settings saved on SIGTERM"

start
timeout 20 "$liveprobe" "Doom Wall" connected || fail "restored settings: not the renderer's sound"
stop
echo "refusals, damaged settings, --preset, saved and restored settings all as expected"
