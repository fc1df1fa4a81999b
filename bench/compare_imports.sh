#!/usr/bin/env bash
# Two builds of trackhaul-cli importing the same song in pairs whose order alternates (A B,
# B A, A B ...), so that both meet the same load on the machine and neither always runs second;
# prints the medians, their difference and the median of the pairs' own ratios. Give the same
# build twice (an A/A run) to see the noise: a difference within it means nothing.
#   bench/compare_imports.sh CLI_A CLI_B CARD SONG [RUNS]
#   e.g. bench/compare_imports.sh old/trackhaul-cli build/trackhaul-cli /tmp/card MANY 41
# A_ENV / B_ENV: environment settings for one side only, as "NAME=VALUE ..." (to compare two
# settings of one build). Run it under `taskset -c 0` for one core.
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

once() { # cli env; prints the wall time in microseconds
    rm -rf "$work/out" && mkdir "$work/out"
    sync
    local t0 t1
    t0=$(date +%s%N)
    # shellcheck disable=SC2086 # the settings are words
    env $2 "$1" import --drive "$CARD" --song "$SONG" --to "$work/out" --yes >/dev/null 2>&1 ||
        { echo "failed: $1" >&2; exit 1; }
    t1=$(date +%s%N)
    echo $(((t1 - t0) / 1000))
}

A_ENV=${A_ENV:-} B_ENV=${B_ENV:-}
once "$A" "$A_ENV" >/dev/null # warms the page cache
once "$B" "$B_ENV" >/dev/null
times_a=() times_b=() ratios=()
for ((i = 0; i < RUNS; i++)); do
    if ((i % 2 == 0)); then
        ta=$(once "$A" "$A_ENV")
        tb=$(once "$B" "$B_ENV")
    else
        tb=$(once "$B" "$B_ENV")
        ta=$(once "$A" "$A_ENV")
    fi
    times_a+=("$ta")
    times_b+=("$tb")
    ratios+=("$(awk -v a="$ta" -v b="$tb" 'BEGIN { printf "%.6f", b / a }')")
done
a=$(printf '%s\n' "${times_a[@]}" | median)
b=$(printf '%s\n' "${times_b[@]}" | median)
p=$(printf '%s\n' "${ratios[@]}" | median)
awk -v a="$a" -v b="$b" -v p="$p" -v r="$RUNS" 'BEGIN {
    printf "A %.1f ms  B %.1f ms  B - A %+.1f ms (%+.1f%%)  paired B/A %+.1f%%  medians of %d, ABBA\n",
        a / 1e3, b / 1e3, (b - a) / 1e3, 100 * (b - a) / a, 100 * (p - 1), r }'
