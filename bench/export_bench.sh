#!/usr/bin/env bash
# Export of eight tracks (default 4 minutes each, 44,100 Hz mono 16-bit) into a card folder,
# against cp of the same files into a folder on the same file system.
#   bench/export_bench.sh [BUILD_DIR]     (default /work/main/build; builds nothing)
#   RUNS=5 MINUTES=4 WORK=/tmp bench/export_bench.sh ...
set -euo pipefail
BUILD=${1:-/work/main/build}
RUNS=${RUNS:-5}
MINUTES=${MINUTES:-4}
CLI=$BUILD/trackhaul-cli
GEN=$BUILD/make_export_input
for exe in "$CLI" "$GEN"; do
    [[ -x $exe ]] || { echo "missing $exe (build the targets trackhaul-cli and make_export_input)" >&2; exit 2; }
done

work=$(mktemp -d "${WORK:-${TMPDIR:-/tmp}}/export-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/pc"
"$GEN" "$work/pc" "$MINUTES"

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

export_times=() cp_times=()
for ((i = 1; i <= RUNS; i++)); do
    new_card
    sync
    t0=$(now)
    "$CLI" export --from "$work/pc" --drive "$work/card" --song BENCH --yes >/dev/null 2>&1
    t1=$(now)
    export_times+=($((t1 - t0)))
    [[ $(ls "$work/card/BENCH" | grep -c '^zt6') == 8 ]] || { echo "export incomplete" >&2; exit 1; }

    rm -rf "$work/cp"
    mkdir -p "$work/cp"
    sync
    t0=$(now)
    cp "$work/pc"/tr0*.wav "$work/cp/"
    t1=$(now)
    cp_times+=($((t1 - t0)))
done

e=$(printf '%s\n' "${export_times[@]}" | median)
c=$(printf '%s\n' "${cp_times[@]}" | median)
total=$(du -cb "$work/pc"/tr0*.wav | tail -1 | cut -f1)
awk -v e="$e" -v c="$c" -v b="$total" -v runs="$RUNS" 'BEGIN {
    printf "8 tracks, %.1f MB, median of %d runs\n", b / 1e6, runs
    printf "export: %8.1f ms\n", e / 1e6
    printf "cp:     %8.1f ms\n", c / 1e6
    printf "ratio export/cp: %.2f\n", e / c
}'
