#!/usr/bin/env bash
# Export with conversion: eight files (default 4 minutes each) of 24-bit stereo at 48 kHz into
# a 44.1 kHz song with `export --convert`, against a plain copy of the same input bytes (cp, and
# cp followed by a sync of the copies, as the export syncs what it writes). Each round runs the
# export and the copies in turn, alternating which goes first; the figures are the medians of
# the rounds and the median of the paired ratios. Peak memory is the export's maximum resident
# size (GNU time). On a shared machine the wall times follow the load; the CPU times (user +
# system, GNU time) follow the work.
#   bench/convert_bench.sh [BUILD_DIR]     (default ./build; builds nothing)
#   RUNS=5 MINUTES=4 WORK=/tmp bench/convert_bench.sh ...
set -euo pipefail
BUILD=${1:-$(dirname "$0")/../build}
RUNS=${RUNS:-5}
MINUTES=${MINUTES:-4}
CLI=$BUILD/trackhaul-cli
GEN=$BUILD/make_convert_input
for exe in "$CLI" "$GEN"; do
    [[ -x $exe ]] || { echo "missing $exe (build the targets trackhaul-cli and make_convert_input)" >&2; exit 2; }
done
TIME=$(command -v time || true)
[[ -x /usr/bin/time ]] && TIME=/usr/bin/time

work=$(mktemp -d "${WORK:-${TMPDIR:-/tmp}}/convert-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/pc"
"$GEN" "$work/pc" "$((MINUTES * 60))"
# Warm the page cache: both sides read the input from memory.
cat "$work/pc"/tr0*.wav >/dev/null

new_card() {
    rm -rf "$work/card"
    mkdir -p "$work/card/BENCH"
    printf '%s\r\n' '<ADL>' $'\t<SEQUENCE>' $'\t\t(SEQ_SAMPLE_RATE)\tS44100' \
        $'\t\t(SEQ_FRAME_RATE)\t25' $'\t\t(SEQ_ADL_LEVEL)\t1' $'\t\t(SEQ_CLEAN)\tFALSE' \
        $'\t\t(SEQ_DEST_START) 00.00.00.00|0000' $'\t</SEQUENCE>' $'\t<EVENT_LIST>' \
        $'\t</EVENT_LIST>' '</ADL>' >"$work/card/BENCH/BENCH.ADL"
}

now() { date +%s%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

run_export() {
    new_card
    sync
    local t0 t1
    t0=$(now)
    "$TIME" -f '%M %U %S' -o "$work/rss" "$CLI" export --from "$work/pc" --drive "$work/card" \
        --song BENCH --convert --yes >/dev/null 2>&1
    t1=$(now)
    [[ $(ls "$work/card/BENCH" | grep -c '^zt6') == 8 ]] || { echo "export incomplete" >&2; exit 1; }
    conv_times+=($((t1 - t0)))
    read -r m u s <"$work/rss"
    rss+=("$m")
    conv_cpu+=($(awk -v u="$u" -v s="$s" 'BEGIN {print (u + s) * 1e9}'))
}
run_copies() {
    local t0 t1
    rm -rf "$work/cp"
    mkdir -p "$work/cp"
    sync
    t0=$(now)
    "$TIME" -f '%U %S' -o "$work/cpu" cp "$work/pc"/tr0*.wav "$work/cp/"
    t1=$(now)
    cp_times+=($((t1 - t0)))
    read -r u s <"$work/cpu"
    cp_cpu+=($(awk -v u="$u" -v s="$s" 'BEGIN {print (u + s) * 1e9}'))
    rm -rf "$work/cps"
    mkdir -p "$work/cps"
    sync
    t0=$(now)
    cp "$work/pc"/tr0*.wav "$work/cps/"
    sync "$work/cps"/tr0*.wav "$work/cps"
    t1=$(now)
    cps_times+=($((t1 - t0)))
}

conv_times=() cp_times=() cps_times=() rss=() conv_cpu=() cp_cpu=()
for ((i = 1; i <= RUNS; i++)); do
    if ((i % 2)); then
        run_export
        run_copies
    else
        run_copies
        run_export
    fi
done

ratios() { # times_a times_b: the paired ratios a/b
    local -n a=$1 b=$2
    for ((i = 0; i < ${#a[@]}; i++)); do
        awk -v x="${a[i]}" -v y="${b[i]}" 'BEGIN {printf "%.4f\n", x / y}'
    done
}
e=$(printf '%s\n' "${conv_times[@]}" | median)
c=$(printf '%s\n' "${cp_times[@]}" | median)
s=$(printf '%s\n' "${cps_times[@]}" | median)
rc=$(ratios conv_times cp_times | median)
rs=$(ratios conv_times cps_times | median)
m=$(printf '%s\n' "${rss[@]}" | sort -n | tail -n1)
ec=$(printf '%s\n' "${conv_cpu[@]}" | median)
cc=$(printf '%s\n' "${cp_cpu[@]}" | median)
total=$(du -cb "$work/pc"/tr0*.wav | tail -1 | cut -f1)
awk -v ec="$ec" -v cc="$cc" -v e="$e" -v c="$c" -v s="$s" -v rc="$rc" -v rs="$rs" -v m="$m" -v b="$total" -v runs="$RUNS" 'BEGIN {
    printf "8 files 24-bit stereo 48 kHz, %.1f MB, into a 44.1 kHz song, %d rounds (medians)\n", b / 1e6, runs
    printf "export --convert:        %8.1f ms\n", e / 1e6
    printf "cp:                      %8.1f ms\n", c / 1e6
    printf "cp + sync:               %8.1f ms\n", s / 1e6
    printf "paired ratio export/cp:        %6.2f\n", rc
    printf "paired ratio export/cp+sync:   %6.2f\n", rs
    printf "CPU time export --convert:%8.1f ms\n", ec / 1e6
    printf "CPU time cp:             %8.1f ms\n", cc / 1e6
    printf "peak memory of the export:     %6.1f MB\n", m / 1024
}'
