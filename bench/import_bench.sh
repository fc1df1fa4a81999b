#!/usr/bin/env bash
# Import time against cp of the produced files, on generated cards:
#  (a) song EIGHT: 8 tracks of several minutes, a few events per track
#  (b) song MANY:  one track of 9998 short events (about 90 MB of output)
# Prints each ratio (best of RUNS) and the import's peak memory.
#   bench/import_bench.sh [BUILD_DIR]     (default ./build; builds nothing)
set -euo pipefail
BUILD=${1:-$(dirname "$0")/../build}
RUNS=${RUNS:-3}
MINUTES=${MINUTES:-4}
CLI=$BUILD/trackhaul-cli
GEN=$BUILD/make_import_card
for exe in "$CLI" "$GEN"; do
    [[ -x $exe ]] || { echo "missing $exe (build trackhaul-cli and make_import_card)" >&2; exit 2; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/import-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$GEN" "$work/card" "$MINUTES"

now() { date +%s%N; }
best() { sort -n | head -n1; }

# Peak resident memory (KiB) of one command, from the kernel's accounting of children.
peak_kib() {
    python3 -c 'import resource,subprocess,sys
subprocess.run(sys.argv[1:],stdout=subprocess.DEVNULL,stderr=subprocess.DEVNULL,check=True)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' "$@"
}

run_case() { # name song
    local name=$1 song=$2 times=() ctimes=()
    for _ in $(seq "$RUNS"); do
        rm -rf "$work/out" "$work/copy"
        mkdir -p "$work/out" "$work/copy"
        sync
        local t0 t1
        t0=$(now)
        "$CLI" import --drive "$work/card" --song "$song" --to "$work/out" --yes >/dev/null 2>&1
        t1=$(now)
        times+=($((t1 - t0)))
        sync
        t0=$(now)
        cp "$work"/out/tr0*.wav "$work/copy/"
        t1=$(now)
        ctimes+=($((t1 - t0)))
    done
    local ti tc size
    ti=$(printf '%s\n' "${times[@]}" | best)
    tc=$(printf '%s\n' "${ctimes[@]}" | best)
    size=$(du -cm "$work"/out/tr0*.wav | tail -n1 | cut -f1)
    printf '%s: %s MB, import %d ms, cp %d ms, ratio %.2f' "$name" "$size" $((ti / 1000000)) \
        $((tc / 1000000)) "$(echo "$ti / $tc" | bc -l)"
    if command -v python3 >/dev/null; then
        rm -rf "$work/out" && mkdir -p "$work/out"
        printf ', peak memory %s KiB' "$(peak_kib "$CLI" import --drive "$work/card" --song "$song" \
            --to "$work/out" --yes)"
    fi
    echo
}

run_case "(a) 8 tracks x ${MINUTES} min" EIGHT
run_case "(b) 9998 events, one track" MANY
