#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for SECONDS (default 30) from the seed
# corpus in fuzz/corpus/NAME. New inputs go to a scratch folder, so the repository's corpus
# stays as it is; a crash, a sanitizer report or a timeout stops the run with status 1 and
# leaves the input that caused it in fuzz-findings/.
#   fuzz/run.sh [SECONDS] [JOBS]     e.g. fuzz/run.sh 600 2 for a longer run
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
SECONDS_EACH=${1:-30}
JOBS=${2:-1}
BUILD=${FUZZ_BUILD:-$ROOT/build-fuzz}
CXX_FUZZ=${CXX_FUZZ:-$(command -v clang++-14 || command -v clang++)}

cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$CXX_FUZZ" \
    -DTRACKHAUL_FUZZ=ON -DTRACKHAUL_BUILD_APP=OFF -DTRACKHAUL_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j"$(nproc 2>/dev/null || echo 2)" --target fuzz_Adl fuzz_Timecode fuzz_Wave

scratch=$(mktemp -d "${TMPDIR:-/tmp}/trackhaul-fuzz.XXXXXX")
# The WAV target writes its input to a file on every run: in memory where the system has a
# memory file system, that is some 30 times faster than on a disk.
files=$(mktemp -d /dev/shm/trackhaul-fuzz.XXXXXX 2>/dev/null || mktemp -d "$scratch/files.XXXXXX")
trap 'rm -rf "$scratch" "$files"' EXIT
mkdir -p "$ROOT/fuzz-findings"
status=0
for name in Adl Timecode Wave; do
    mkdir -p "$scratch/$name"
    log=$scratch/$name.log
    parallel=()
    ((JOBS > 1)) && parallel=(-jobs="$JOBS" -workers="$JOBS")
    if ! TMPDIR=$files ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        "$BUILD/fuzz/fuzz_$name" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
        "${parallel[@]}" -artifact_prefix="$ROOT/fuzz-findings/$name-" \
        -print_final_stats=1 "$scratch/$name" "$ROOT/fuzz/corpus/$name" >"$log" 2>&1; then
        status=1
        echo "fuzz_$name: FINDING (input in fuzz-findings/)"
        tail -n 40 "$log"
    fi
    # With -jobs the workers log to fuzz-N.log in the working folder.
    logs=("$log")
    ((JOBS > 1)) && logs=(fuzz-[0-9]*.log)
    runs=$(cat "${logs[@]}" 2>/dev/null | awk '/stat::number_of_executed_units/ {s += $2} END {print s + 0}')
    rm -f fuzz-[0-9]*.log
    echo "fuzz_$name: ${SECONDS_EACH} s x $JOBS job(s), $runs executions"
done
exit $status
