#!/usr/bin/env bash
# Export of eight tracks (default 4 minutes each, 44,100 Hz mono 16-bit) into a card folder,
# against cp of the same files into a folder on the same file system. cp copies inside the
# kernel (copy_file_range); dd with 64 KB blocks shows the floor of a copy through a buffer.
# The export syncs every file and the folder before it reports "Complete!", so the fair
# measure is cp followed by a sync of the copied files and their folder.
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
best() { sort -n | head -n1; }

export_times=() cp_times=() cps_times=() dd_times=()
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

    rm -rf "$work/cps"
    mkdir -p "$work/cps"
    sync
    t0=$(now)
    cp "$work/pc"/tr0*.wav "$work/cps/"
    sync "$work/cps"/tr0*.wav "$work/cps"
    t1=$(now)
    cps_times+=($((t1 - t0)))

    rm -rf "$work/dd"
    mkdir -p "$work/dd"
    sync
    t0=$(now)
    for f in "$work/pc"/tr0*.wav; do
        dd if="$f" of="$work/dd/${f##*/}" bs=64k status=none
    done
    t1=$(now)
    dd_times+=($((t1 - t0)))
done

e=$(printf '%s\n' "${export_times[@]}" | median)
c=$(printf '%s\n' "${cp_times[@]}" | median)
eb=$(printf '%s\n' "${export_times[@]}" | best)
cb=$(printf '%s\n' "${cp_times[@]}" | best)
s=$(printf '%s\n' "${cps_times[@]}" | median)
sb=$(printf '%s\n' "${cps_times[@]}" | best)
d=$(printf '%s\n' "${dd_times[@]}" | median)
db=$(printf '%s\n' "${dd_times[@]}" | best)
total=$(du -cb "$work/pc"/tr0*.wav | tail -1 | cut -f1)
awk -v e="$e" -v c="$c" -v eb="$eb" -v cb="$cb" -v s="$s" -v sb="$sb" -v d="$d" -v db="$db" -v b="$total" -v runs="$RUNS" 'BEGIN {
    printf "8 tracks, %.1f MB, %d runs       median       best\n", b / 1e6, runs
    printf "export:                 %8.1f ms %8.1f ms\n", e / 1e6, eb / 1e6
    printf "cp:                     %8.1f ms %8.1f ms\n", c / 1e6, cb / 1e6
    printf "cp + sync:              %8.1f ms %8.1f ms\n", s / 1e6, sb / 1e6
    printf "dd bs=64k:              %8.1f ms %8.1f ms\n", d / 1e6, db / 1e6
    printf "ratio export/cp:        %8.2f    %8.2f\n", e / c, eb / cb
    printf "ratio export/cp+sync:   %8.2f    %8.2f\n", e / s, eb / sb
    printf "ratio export/dd:        %8.2f    %8.2f\n", e / d, eb / db
}'
