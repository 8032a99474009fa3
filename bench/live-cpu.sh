#!/usr/bin/env bash
# thraskvell-live's steady CPU as a share of one core while it plays a bass note a second (jack_metro
# at 55 Hz) through "Doom Wall", under a private JACK dummy server at 48 kHz / 256 frames and a private
# Xvfb display, with jackd's and the X server's shares beside it. Then the same audio time of white
# noise through thraskvell-render in blocks of 256: the effect's own cost, without JACK or a window.
# Between them, the mono LV2 with the same editor and settings in jalv.gtk3, a lilv host, under the
# same server, display and metronome: the ratio of the two programs' shares is the live program's cost
# against the plug-in's in a host.
# Usage: bench/live-cpu.sh BUILD [SECONDS]   (default 20 s)
set -eu
build=$(cd "$1" && pwd)
seconds=${2:-20}
work=$(mktemp -d)
pids=()
# Last started, first ended, each in turn: jackd that loses a client on its way out hangs and may leave
# its entry in JACK's server registry behind.
trap 'for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" && wait "${pids[i]}"; done 2>/dev/null
      rm -rf "$work"' EXIT
export JACK_DEFAULT_SERVER="thraskvell-bench-live" JACK_NO_START_SERVER=1 XDG_CONFIG_HOME="$work/config"
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 800x1000x24 3>"$work/display" 2>/dev/null &
xvfb_pid=$! && pids+=($!)
jackd --no-realtime -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 256 >/dev/null 2>&1 &
jack_pid=$! && pids+=($!)
up() { [ -s "$work/display" ] && [ "$(timeout 5 jack_wait -c 2>/dev/null)" = running ]; }
for _ in $(seq 300); do up && break; sleep 0.1; done
up || { echo "Xvfb or jackd did not start"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
"$build/app/thraskvell-live" --preset "Doom Wall" >/dev/null 2>&1 &
live_pid=$! && pids+=($!)
jack_metro -n thraskvell-bench-metro -f 55 -A 0.5 -D 900 -b 60 >/dev/null 2>&1 &
pids+=($!)
timeout 20 xdotool search --sync --onlyvisible --name '^Thrask Vell Live$' >/dev/null ||
    { echo "no thraskvell-live window"; exit 1; }
for _ in $(seq 100); do jack_connect thraskvell-bench-metro:60_bpm "Thrask Vell Live:audio_in_1" 2>/dev/null && break; sleep 0.1; done
jack_lsp -c "Thrask Vell Live:audio_in_1" | grep -q metro || { echo "the metronome could not be connected"; exit 1; }

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
share() { awk -v t="$1" -v hz="$(getconf CLK_TCK)" -v s="$seconds" 'BEGIN { printf "%.2f", t * 100 / (hz * s) }'; }
sleep 2 # settle after start-up
l=$(ticks $live_pid) j=$(ticks $jack_pid) x=$(ticks $xvfb_pid)
sleep "$seconds"
live=$(share $(($(ticks $live_pid) - l)))
echo "thraskvell-live: $live % of a core" \
    "(jackd $(share $(($(ticks $jack_pid) - j))) %, X server $(share $(($(ticks $xvfb_pid) - x))) %)"
kill "$live_pid" && wait "$live_pid" 2>/dev/null || true

# The same in jalv.gtk3: the mono LV2 from this build with Doom Wall's values.
settings=()
for pair in $(tr -d ' \n{}"' <"$(dirname "$0")/../presets/doom-wall.json" | tr , ' '); do
    [[ $pair == thraskVellVersion:* ]] || settings+=(-c "${pair/:/=}")
done
LV2_PATH="$build/bin" GSETTINGS_BACKEND=memory jalv.gtk3 -x -n thraskvell-bench-jalv "${settings[@]}" \
    urn:thraskvell:fuzz:mono >/dev/null 2>&1 &
jalv_pid=$! && pids+=($!)
for _ in $(seq 200); do jack_connect thraskvell-bench-metro:60_bpm thraskvell-bench-jalv:lv2_audio_in_1 2>/dev/null && break; sleep 0.1; done
jack_lsp -c thraskvell-bench-jalv:lv2_audio_in_1 | grep -q metro || { echo "jalv could not be connected"; exit 1; }
timeout 20 xdotool search --sync --onlyvisible --name '^Thrask Vell Mono' >/dev/null || { echo "no jalv window"; exit 1; }
sleep 2
h=$(ticks $jalv_pid)
sleep "$seconds"
hosted=$(share $(($(ticks $jalv_pid) - h)))
awk -v l="$live" -v h="$hosted" 'BEGIN { printf "jalv.gtk3 with the mono LV2: %s %% of a core; thraskvell-live / jalv = %.2f\n", h, l / h }'

# A 16-bit mono 48 kHz WAV of white noise, as long as the measurement.
le() { printf "$(printf '\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"; }
bytes=$((seconds * 48000 * 2))
{ printf RIFF; le $((bytes + 36)); printf 'WAVEfmt '; le 16; le $((1 + (1 << 16))); le 48000; le 96000
  le $((2 + (16 << 16))); printf data; le $bytes; head -c $bytes /dev/urandom; } >"$work/noise.wav"
TIMEFORMAT=%U+%S
cpu=$({ time "$build/app/thraskvell-render" "$work/noise.wav" "$work/out.wav" --preset "Doom Wall" --block 256 \
    >/dev/null 2>&1; } 2>&1)
awk -v c="$(awk -F+ '{print $1 + $2}' <<<"$cpu")" -v s="$seconds" \
    'BEGIN { printf "thraskvell-render, same audio time offline: %.2f %% of a core (%.1f ns a frame)\n", c * 100 / s, c * 1e9 / (s * 48000) }'
