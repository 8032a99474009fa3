#!/usr/bin/env bash
# The LV2 plug-ins' CPU per frame against installed peer LV2 plug-ins (guitarix's GxFuzz, Calf
# Saturator), all through the same small lilv host (thraskvell_lilv_timing): 48 kHz, blocks of 256, a
# 55 Hz sawtooth at -6 dBFS on every input, the audio thread's own CPU time. The cases take turns, round
# after round, so a busy machine slows them all alike; each figure is the median of the rounds' medians.
# A stereo figure is per stereo frame. A peer that is not installed is left out with a note
# (scripts/install-deps.sh installs them).
# Usage: bash bench/peer-cpu.sh [BUILD] [ROUNDS]   (default build, 7 rounds)
# The build needs the host and both LV2 bundles: cmake --build BUILD --target thraskvell_lilv_timing
set -eu
build=$(cd "${1:-build}" && pwd)
rounds=${2:-7}
timing=$build/bench/peer/thraskvell_lilv_timing
for needed in "$timing" "$build/bin/ThraskVellMono.lv2/manifest.ttl" "$build/bin/ThraskVellStereo.lv2/manifest.ttl"; do
    [ -e "$needed" ] || { echo "missing $needed: cmake --build $build --target thraskvell_lilv_timing"; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Only our two bundles from the build (bin/ also holds VST3 and CLAP folders lilv would complain about),
# then the system's LV2 folders. Every entry absolute: lilv crashes on a relative one.
mkdir "$work/lv2"
ln -s "$build/bin/ThraskVellMono.lv2" "$build/bin/ThraskVellStereo.lv2" "$work/lv2/"
path=$work/lv2
IFS=: read -ra system <<<"${LV2_PATH:-$HOME/.lv2:/usr/local/lib/lv2:$(echo /usr/lib/*-linux-gnu*/lv2 | tr ' ' :):/usr/lib/lv2}"
for folder in "${system[@]}"; do
    [ -d "$folder" ] && path+=:$(cd "$folder" && pwd)
done

all_on="dynamicsEnable=100 asymmetry=100 bassBoost=100"
mono=urn:thraskvell:fuzz:mono stereo=urn:thraskvell:fuzz:stereo
gxfuzz='http://guitarix.sourceforge.net/plugins/gx_fuzz_#fuzz_'
calf=http://calf.sourceforge.net/plugins/Saturator
names=("Thrask Vell Mono, defaults" "Thrask Vell Mono, COMP ASYM BASS on" "Thrask Vell Stereo, COMP ASYM BASS on"
    "Thrask Vell Mono, silence, gate closed" "GxFuzz (guitarix, mono)" "Calf Saturator (stereo)")
# Any gate setting above zero closes the gate on silence (its threshold is -10 dB - gate / 2).
runs=("$mono" "$mono $all_on" "$stereo $all_on" "$mono gate=100 --silent" "$gxfuzz" "$calf")
peer=(0 0 0 0 1 1)
skipped=()

for ((round = 1; round <= rounds; round++)); do
    for i in "${!runs[@]}"; do
        [ -z "${skipped[i]:-}" ] || continue
        read -ra arguments <<<"${runs[i]}"
        if line=$(LV2_PATH=$path "$timing" "${arguments[@]}" --seconds=10 --repeats=5 2>"$work/stderr"); then
            echo "$line" >>"$work/$i"
        elif [ "${peer[i]}" = 1 ]; then
            skipped[i]=$(grep -m1 '^thraskvell_lilv_timing:' "$work/stderr" || echo "the host failed")
        else
            cat "$work/stderr"
            exit 1
        fi
    done
done

# Median of the rounds' medians (column 2), their range, and the output's peak (column 5, alike in every round).
summary() { [ -s "$work/$1" ] && sort -g -k2 "$work/$1" | awk '{ m[NR] = $2; p = $5 }
    END { printf "%.1f %.1f %.1f %.1f\n", (m[int((NR + 1) / 2)] + m[int(NR / 2) + 1]) / 2, m[1], m[NR], p }'; }
declare -a median
echo "ns per frame, 48 kHz, blocks of 256, median of $rounds rounds (range of the rounds' medians);" \
    "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-40s %9s %17s %10s\n' case ns/frame range "peak dBFS"
for i in "${!runs[@]}"; do
    if [ -n "${skipped[i]:-}" ]; then
        printf '%-40s %9s   skipped: %s\n' "${names[i]}" - "${skipped[i]#thraskvell_lilv_timing: }"
        continue
    fi
    read -r "median[i]" low high peak <<<"$(summary "$i")"
    printf '%-40s %9s %17s %10s\n' "${names[i]}" "${median[i]}" "$low - $high" "$peak"
done

ratio() {
    if [ -n "${median[$2]:-}" ] && [ -n "${median[$3]:-}" ]; then
        awk -v a="${median[$2]}" -v b="${median[$3]}" -v what="$1" -v goal="$4" \
            'BEGIN { printf "%-40s %9.2f   %s\n", what, a / b, goal }'
    else
        printf '%-40s %9s   %s\n' "$1" - "(a case is missing)"
    fi
}
echo
ratio "GxFuzz / Mono all on" 4 1 "speed ratio, target >= 1.5"
ratio "Stereo all on / Mono all on" 2 1 "target <= 1.25"
ratio "silence (gate closed) / Mono defaults" 3 0 "signal at defaults, gate open"
