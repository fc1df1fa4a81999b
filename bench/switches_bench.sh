#!/usr/bin/env bash
# Each of the renderer's speed switches turned off against the build as it is, on one core and
# on two, for the songs of bench/make_import_card, with an A/A run (the same build, the same
# setting, twice) beside them: a mechanism earns its place where turning it off costs more than
# the A/A difference. One line per song, switch and core count, from bench/compare_imports.sh
# (pairs in alternating order; B is the switch turned off).
#   bench/switches_bench.sh BUILD_DIR       (builds nothing; BUILD_DIR holds trackhaul-cli and
#                                            make_import_card)
#   RUNS=21 SONGS="MANY C100 EIGHT FOUR" WORK=/tmp bench/switches_bench.sh build
# The helper thread is never started where the process may use one processor, so its switch
# is measured on two cores only.
set -euo pipefail
BUILD=${1:?usage: switches_bench.sh BUILD_DIR}
RUNS=${RUNS:-21}
SONGS=${SONGS:-MANY C100 EIGHT FOUR}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${WORK:-/tmp}/switches-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$BUILD/make_import_card" "$work/card" 4 >/dev/null
cli="$BUILD/trackhaul-cli"

# name and the setting that turns the mechanism off
switches=(
    "A/A:TRACKHAUL_BATCH=1"
    "batched cached reads:TRACKHAUL_BATCH=0"
    "cached reads into place:TRACKHAUL_CACHED=0"
    "blocks:TRACKHAUL_BLOCKS=0"
    "direct from 64 KiB (1 MiB instead):TRACKHAUL_DIRECT=1048576"
    "half-page shift:TRACKHAUL_SHIFT=0"
    "helper thread:TRACKHAUL_HELPER=0"
)
ncpu=$(nproc)
for cores in 1 2; do
    if ((cores > ncpu)); then
        echo "$cores cores: this machine has $ncpu; skipped"
        continue
    fi
    pin=$(seq -s, 0 $((cores - 1)))
    for entry in "${switches[@]}"; do
        name=${entry%%:*} setting=${entry#*:}
        [[ $name == A/A ]] || name="$name off"
        [[ $cores == 1 && $setting == TRACKHAUL_HELPER=0 ]] && continue
        for song in $SONGS; do
            line=$(B_ENV="$setting" taskset -c "$pin" "$here/compare_imports.sh" "$cli" "$cli" \
                "$work/card" "$song" "$RUNS")
            printf '%d core(s)  %-6s %-40s %s\n' "$cores" "$song" "$name" "$line"
        done
    done
done
