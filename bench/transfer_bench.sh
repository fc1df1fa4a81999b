#!/usr/bin/env bash
# Transfers of trackhaul-cli against a plain copy of the same files, as a user sees them: the
# whole process, page cache warm, paired runs (transfer, then copy, alternating), medians.
#  (a) import of song EIGHT: 8 tracks of MINUTES minutes, a few events each, against cp
#  (b) import of song MANY: one track of 9998 short events from eight sources, against cp
#  (c) the length of MANY cut into 100, 1000 and 9998 events: the import's time for each, the
#      three songs and a cp of the same size taken in turn in every round, so that all four
#      meet the same load on the machine
#  (d) export of 8 tracks of MINUTES minutes into a song, against cp + sync of the same files
# Each line gives the medians, their ratio and the transfer's peak memory (largest RSS).
#   bench/transfer_bench.sh BUILD_DIR     (builds nothing)
#   RUNS=11 MINUTES=4 WORK=/tmp bench/transfer_bench.sh build
set -euo pipefail
BUILD=${1:?usage: transfer_bench.sh BUILD_DIR}
RUNS=${RUNS:-11}
MINUTES=${MINUTES:-4}
CLI=$BUILD/trackhaul-cli
for exe in "$CLI" "$BUILD/make_import_card" "$BUILD/make_export_input"; do
    [[ -x $exe ]] || { echo "missing $exe (build trackhaul-cli, make_import_card, make_export_input)" >&2; exit 2; }
done
[[ -x /usr/bin/time ]] || { echo "missing /usr/bin/time (Debian package time)" >&2; exit 2; }

work=$(mktemp -d "${WORK:-${TMPDIR:-/tmp}}/transfer-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$BUILD/make_import_card" "$work/card" "$MINUTES"
mkdir -p "$work/pc"
"$BUILD/make_export_input" "$work/pc" "$MINUTES"

now() { date +%s%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
median_of_array() { local -n values_=$1; printf '%s\n' "${values_[@]}" | median; }

# Runs a command; appends its wall time (ns) to the array named $1 and its peak RSS (KiB) to
# the array named $2. Its output goes nowhere; a failure stops the benchmark.
measure() {
    local -n times_=$1 peaks_=$2
    shift 2
    local t0 t1
    sync
    t0=$(now)
    /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null 2>"$work/err" ||
        { echo "failed: $*" >&2; cat "$work/err" >&2; exit 1; }
    t1=$(now)
    times_+=($((t1 - t0)))
    peaks_+=("$(tail -n1 "$work/rss")")
}

# Prints one line: name, size, medians, ratio, peak memory of the transfer.
report() { # name bytes transfer_times_array copy_times_array peaks_array
    local -n t_=$3 c_=$4 p_=$5
    local t c peak
    t=$(printf '%s\n' "${t_[@]}" | median)
    c=$(printf '%s\n' "${c_[@]}" | median)
    peak=$(printf '%s\n' "${p_[@]}" | sort -n | tail -n1)
    awk -v n="$1" -v b="$2" -v t="$t" -v c="$c" -v p="$peak" -v r="$RUNS" 'BEGIN {
        printf "%-34s %6.1f MB  %8.1f ms  %8.1f ms  %5.2f  %6d KiB  (%d runs)\n",
            n, b / 1e6, t / 1e6, c / 1e6, t / c, p, r }'
}

import_once() { # song
    rm -rf "$work/out" && mkdir -p "$work/out"
    "$CLI" import --drive "$work/card" --song "$1" --to "$work/out" --yes
}

declare -A median_of
import_case() { # name song
    local name=$1 song=$2 times=() copies=() peaks=() cpeaks=()
    import_once "$song" >/dev/null 2>&1 # warms the page cache
    for ((i = 1; i <= RUNS; i++)); do
        rm -rf "$work/out" && mkdir -p "$work/out"
        measure times peaks "$CLI" import --drive "$work/card" --song "$song" --to "$work/out" --yes
        rm -rf "$work/copy" && mkdir -p "$work/copy"
        measure copies cpeaks cp "$work"/out/tr0*.wav "$work/copy/"
    done
    report "$name" "$(du -cb "$work"/out/tr0*.wav | tail -n1 | cut -f1)" times copies peaks
}

# The same output size with 100, 1000 and 9998 events, in rounds of one import of each (each
# round starting with the next song) and one cp: comparing medians taken minutes apart would
# measure the machine's load as much as the events. Twice as many rounds as the other cases
# have runs, and the growth also as the median of the rounds' own ratios, which the load moves
# least.
growth_case() {
    local RUNS=$((2 * RUNS))
    local songs=(C100 C1000 MANY) names=("100 events" "1000 events" "9998 events")
    local t_C100=() t_C1000=() t_MANY=() p_C100=() p_C1000=() p_MANY=() copies=() cpeaks=()
    local song
    for song in "${songs[@]}"; do import_once "$song" >/dev/null 2>&1; done
    local i j
    for ((i = 1; i <= RUNS; i++)); do
        for ((j = 0; j < 3; j++)); do # each round starts with the next song
            song=${songs[(i + j) % 3]}
            rm -rf "$work/out" && mkdir -p "$work/out"
            measure "t_$song" "p_$song" "$CLI" import --drive "$work/card" --song "$song" \
                --to "$work/out" --yes
        done
        rm -rf "$work/copy" && mkdir -p "$work/copy"
        measure copies cpeaks cp "$work"/out/tr0*.wav "$work/copy/"
    done
    local bytes k
    bytes=$(du -cb "$work"/out/tr0*.wav | tail -n1 | cut -f1)
    for k in 0 1 2; do
        report "(c) import, ${names[k]}" "$bytes" "t_${songs[k]}" copies "p_${songs[k]}"
        median_of[${songs[k]}]=$(median_of_array "t_${songs[k]}")
    done
    local ratios=() paired
    for ((i = 0; i < RUNS; i++)); do
        ratios+=("$(awk -v m="${t_MANY[i]}" -v c="${t_C100[i]}" 'BEGIN { printf "%.6f", m / c }')")
    done
    paired=$(printf '%s\n' "${ratios[@]}" | median)
    awk -v a="${median_of[C100]}" -v b="${median_of[C1000]}" -v c="${median_of[MANY]}" \
        -v p="$paired" -v r="$RUNS" 'BEGIN {
        printf "(c) 100 / 1000 / 9998 events: %.1f / %.1f / %.1f ms, growth from 100 to 9998: %+.0f%% (medians), %+.0f%% (median of the %d rounds\047 ratios)\n",
            a / 1e6, b / 1e6, c / 1e6, (c / a - 1) * 100, (p - 1) * 100, r }'
}

new_song() {
    rm -rf "$work/dev"
    mkdir -p "$work/dev/BENCH"
    printf '%s\r\n' '<ADL>' $'\t<SEQUENCE>' $'\t\t(SEQ_SAMPLE_RATE)\tS44100' \
        $'\t\t(SEQ_FRAME_RATE)\t25' $'\t\t(SEQ_ADL_LEVEL)\t1' $'\t\t(SEQ_CLEAN)\tFALSE' \
        $'\t\t(SEQ_DEST_START) 00.00.00.00|0000' $'\t</SEQUENCE>' $'\t<EVENT_LIST>' \
        $'\t</EVENT_LIST>' '</ADL>' >"$work/dev/BENCH/BENCH.ADL"
}

export_case() { # name
    local times=() copies=() peaks=() cpeaks=()
    new_song
    "$CLI" export --from "$work/pc" --drive "$work/dev" --song BENCH --yes >/dev/null 2>&1
    for ((i = 1; i <= RUNS; i++)); do
        new_song
        measure times peaks "$CLI" export --from "$work/pc" --drive "$work/dev" --song BENCH --yes
        [[ $(ls "$work/dev/BENCH" | grep -c '^zt6') == 8 ]] || { echo "export incomplete" >&2; exit 1; }
        rm -rf "$work/copy" && mkdir -p "$work/copy"
        measure copies cpeaks sh -c 'cp "$@" && sync "$0"/*' "$work/copy" "$work"/pc/tr0*.wav "$work/copy/"
    done
    report "$1" "$(du -cb "$work"/pc/tr0*.wav | tail -n1 | cut -f1)" times copies peaks
}

printf '%-34s %9s  %11s  %11s  %5s  %10s\n' case size transfer copy ratio peak
import_case "(a) import, 8 tracks x $MINUTES min" EIGHT
import_case "(b) import, 9998 events, 8 sources" MANY
growth_case
export_case "(d) export 8 x $MINUTES min vs cp+sync"
