#!/usr/bin/env bash
# Two builds of trackhaul-cli importing the same song, alternated run by run (A, B, A, B ...),
# so that both meet the same load on the machine; prints the medians and their difference.
# A difference smaller than the spread between repeated calls of this script is noise.
#   bench/compare_imports.sh CLI_A CLI_B CARD SONG [RUNS]
#   e.g. bench/compare_imports.sh old/trackhaul-cli build/trackhaul-cli /tmp/card MANY 41
# (build/make_import_card /tmp/card 4 writes a card with the songs EIGHT, MANY, C100, C1000)
set -euo pipefail
A=${1:?usage: compare_imports.sh CLI_A CLI_B CARD SONG [RUNS]}
B=${2:?usage: compare_imports.sh CLI_A CLI_B CARD SONG [RUNS]}
CARD=${3:?usage: compare_imports.sh CLI_A CLI_B CARD SONG [RUNS]}
SONG=${4:?usage: compare_imports.sh CLI_A CLI_B CARD SONG [RUNS]}
RUNS=${5:-21}

work=$(mktemp -d "${TMPDIR:-/tmp}/compare-imports.XXXXXX")
trap 'rm -rf "$work"' EXIT
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

once() { # cli; prints the wall time in microseconds
    rm -rf "$work/out" && mkdir "$work/out"
    sync
    local t0 t1
    t0=$(date +%s%N)
    "$1" import --drive "$CARD" --song "$SONG" --to "$work/out" --yes >/dev/null 2>&1 ||
        { echo "failed: $1" >&2; exit 1; }
    t1=$(date +%s%N)
    echo $(((t1 - t0) / 1000))
}

once "$A" >/dev/null # warms the page cache
times_a=() times_b=()
for ((i = 0; i < RUNS; i++)); do
    times_a+=("$(once "$A")")
    times_b+=("$(once "$B")")
done
a=$(printf '%s\n' "${times_a[@]}" | median)
b=$(printf '%s\n' "${times_b[@]}" | median)
awk -v a="$a" -v b="$b" -v r="$RUNS" 'BEGIN {
    printf "A %.1f ms  B %.1f ms  B - A %+.1f ms (%+.1f%%)  medians of %d\n",
        a / 1e3, b / 1e3, (b - a) / 1e3, 100 * (b - a) / a, r }'
