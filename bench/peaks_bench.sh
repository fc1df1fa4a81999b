#!/usr/bin/env bash
# The waveform summary of a long song against an import of the same song, as a user runs them:
# song EIGHT of make_import_card (8 tracks of MINUTES minutes, a few events each), page cache
# warm, paired runs (summary, then import, alternating), medians and peak memory (largest RSS).
#  (a) show --json --peaks BUCKETS against import, MINUTES minutes a track
#  (b) the same summary of a song SHORT_MINUTES long: its peak memory shows that memory does
#      not grow with the track's length
#   bench/peaks_bench.sh BUILD_DIR     (builds nothing)
#   RUNS=5 MINUTES=60 SHORT_MINUTES=4 BUCKETS=2000 WORK=/tmp bench/peaks_bench.sh build
# MINUTES=60 needs about 5.2 GB of free space in WORK (the card and the import's output).
set -euo pipefail
BUILD=${1:?usage: peaks_bench.sh BUILD_DIR}
RUNS=${RUNS:-5}
MINUTES=${MINUTES:-60}
SHORT_MINUTES=${SHORT_MINUTES:-4}
BUCKETS=${BUCKETS:-2000}
CLI=$BUILD/trackhaul-cli
for exe in "$CLI" "$BUILD/make_import_card"; do
    [[ -x $exe ]] || { echo "missing $exe (build trackhaul-cli, make_import_card)" >&2; exit 2; }
done
[[ -x /usr/bin/time ]] || { echo "missing /usr/bin/time (Debian package time)" >&2; exit 2; }

work=$(mktemp -d "${WORK:-${TMPDIR:-/tmp}}/peaks-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$BUILD/make_import_card" "$work/card" "$MINUTES" >/dev/null
"$BUILD/make_import_card" "$work/short" "$SHORT_MINUTES" >/dev/null

now() { date +%s%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# Appends the wall time (ns) to the array named $1, the peak RSS (KiB) to the one named $2 and
# the processor time, user + system (ns), to the one named $3. On a shared machine the
# processor time is the steadier figure.
measure() { # times_array peaks_array cpu_array command...
    local -n times_=$1 peaks_=$2 cpu_=$3
    shift 3
    local t0 t1
    sync
    t0=$(now)
    /usr/bin/time -f '%M %U %S' -o "$work/rss" "$@" >/dev/null 2>"$work/err" ||
        { echo "failed: $*" >&2; cat "$work/err" >&2; exit 1; }
    t1=$(now)
    times_+=($((t1 - t0)))
    local rss user sys
    read -r rss user sys < <(tail -n1 "$work/rss")
    peaks_+=("$rss")
    cpu_+=("$(awk -v u="$user" -v s="$sys" 'BEGIN {printf "%d", (u + s) * 1e9}')")
}

summary=("$CLI" show --song EIGHT --json --peaks "$BUCKETS" --drive)
import=("$CLI" import --drive "$work/card" --song EIGHT --to "$work/out" --yes)
fresh_out() { rm -rf "$work/out" && mkdir -p "$work/out"; }

"${summary[@]}" "$work/card" >/dev/null # warms the page cache
fresh_out && "${import[@]}" >/dev/null 2>&1
s=() i=() sp=() ip=() sc=() ic=() short=() shortp=() shortc=()
for ((r = 1; r <= RUNS; r++)); do
    measure s sp sc "${summary[@]}" "$work/card"
    fresh_out
    measure i ip ic "${import[@]}"
    measure short shortp shortc "${summary[@]}" "$work/short"
done
bytes=$(du -cb "$work"/out/tr0*.wav | tail -n1 | cut -f1)
rm -rf "$work/out"
ms() { printf '%s\n' "$@" | median | awk '{printf "%.1f", $1 / 1e6}'; }
most() { printf '%s\n' "$@" | sort -n | tail -n1; }
st=$(ms "${s[@]}") it=$(ms "${i[@]}") sht=$(ms "${short[@]}")
sct=$(ms "${sc[@]}") ict=$(ms "${ic[@]}") shct=$(ms "${shortc[@]}")
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
printf '8 tracks x %d min (%.1f MB of tracks), %d buckets, %d runs, medians:\n' \
    "$MINUTES" "$(awk -v b="$bytes" 'BEGIN {print b / 1e6}')" "$BUCKETS" "$RUNS"
printf '%-28s %10s  %10s  %10s\n' case wall processor peak
printf '%-28s %7s ms  %7s ms  %6s KiB\n' "(a) summary" "$st" "$sct" "$(most "${sp[@]}")"
printf '%-28s %7s ms  %7s ms  %6s KiB\n' "    import" "$it" "$ict" "$(most "${ip[@]}")"
printf '%-28s %10s  %10s\n' "    summary / import" "$(ratio "$st" "$it")" "$(ratio "$sct" "$ict")"
printf '%-28s %7s ms  %7s ms  %6s KiB\n' "(b) summary, 8 x $SHORT_MINUTES min" "$sht" "$shct" \
    "$(most "${shortp[@]}")"
