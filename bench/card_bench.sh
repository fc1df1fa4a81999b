#!/usr/bin/env bash
# The import from a card as a user meets it: the songs on an exFAT file system (FUSE) on a loop
# device, nothing of them in the page cache before each run (unmounted, the card's pages
# dropped, mounted again), against reading every source file of the song once with cat.
# Medians of RUNS (3) of each, their ratio, the median of each round's own ratio (the import
# and the cat of one round meet the same state of the disk) and the import's peak memory
# (largest RSS).
#  EIGHT: 8 tracks of MINUTES minutes, a few events each
#  C100:  one track of 100 events from eight sources
#  FOUR:  one track of 9998 short events from four sources
# Needs root, a free loop device, /dev/fuse, mkfs.exfat (exfatprogs) and mount.exfat-fuse
# (exfat-fuse); without them it says so in one line and stops with status 0.
#   bench/card_bench.sh BUILD_DIR       (builds nothing; BUILD_DIR holds trackhaul-cli and
#                                        make_import_card)
#   RUNS=5 MINUTES=4 WORK=/tmp bench/card_bench.sh build
#   CARD_MBPS=40 bench/card_bench.sh build   the card read at 40 MB/s at most, as a card in a
#                                           reader delivers (the loop device otherwise answers
#                                           at the speed of the disk the image is on): the FUSE
#                                           daemon runs in a block-I/O cgroup that throttles
#                                           its reads of the loop device
set -euo pipefail
BUILD=${1:?usage: card_bench.sh BUILD_DIR}
RUNS=${RUNS:-3}
MINUTES=${MINUTES:-4}
CLI=$BUILD/trackhaul-cli
for exe in "$CLI" "$BUILD/make_import_card"; do
    [[ -x $exe ]] || { echo "missing $exe (build trackhaul-cli, make_import_card)" >&2; exit 2; }
done
[[ -x /usr/bin/time ]] || { echo "missing /usr/bin/time (Debian package time)" >&2; exit 2; }
skip() { echo "card benchmark skipped: $*"; exit 0; }
[[ $(id -u) == 0 ]] || skip "not root"
[[ -c /dev/fuse ]] || skip "no /dev/fuse"
command -v losetup >/dev/null || skip "no losetup"
command -v blockdev >/dev/null || skip "no blockdev"
command -v mkfs.exfat >/dev/null || skip "no mkfs.exfat (exfatprogs)"
command -v mount.exfat-fuse >/dev/null || skip "no mount.exfat-fuse (exfat-fuse)"

work=$(mktemp -d "${WORK:-${TMPDIR:-/tmp}}/card-bench.XXXXXX")
loop=""
cleanup() {
    mountpoint -q "$work/card" 2>/dev/null && umount "$work/card"
    [[ -n $loop ]] && losetup -d "$loop"
    # The daemon leaves its cgroup when it ends, soon after the unmount.
    if [[ -n ${throttle:-} ]]; then
        for _ in 1 2 3 4 5 6 7 8 9 10; do rmdir "$throttle" 2>/dev/null && break || sleep 0.1; done
    fi
    rm -rf "$work"
}
trap cleanup EXIT
"$BUILD/make_import_card" "$work/songs" "$MINUTES" >/dev/null
bytes=$(du -cb "$work"/songs/{EIGHT,C100,FOUR} | tail -n1 | cut -f1)
truncate -s $((bytes + bytes / 4 + (64 << 20))) "$work/card.img"
loop=$(losetup -f --show "$work/card.img" 2>/dev/null) || skip "no free loop device"
mkfs.exfat "$loop" >/dev/null 2>&1 || skip "mkfs.exfat failed on $loop"
mkdir -p "$work/card" "$work/out"
# The FUSE daemon, in the throttled cgroup where CARD_MBPS is set.
throttle=""
mount_card() {
    if [[ -n $throttle ]]; then
        sh -c 'echo $$ >"$1/cgroup.procs" && exec mount.exfat-fuse "$2" "$3"' sh "$throttle" \
            "$loop" "$work/card" >/dev/null 2>&1
    else
        mount.exfat-fuse "$loop" "$work/card" >/dev/null 2>&1
    fi
}
if [[ -n ${CARD_MBPS:-} ]]; then
    device=$(($(stat -c 0x%t "$loop"))):$(($(stat -c 0x%T "$loop")))
    bps=$((CARD_MBPS * 1000000))
    if [[ -w /sys/fs/cgroup/blkio/cgroup.procs ]]; then # cgroup v1
        throttle=/sys/fs/cgroup/blkio/trackhaul-card-bench.$$
        mkdir "$throttle"
        echo "$device $bps" >"$throttle/blkio.throttle.read_bps_device"
    elif grep -qw io /sys/fs/cgroup/cgroup.controllers 2>/dev/null; then # cgroup v2
        echo +io >/sys/fs/cgroup/cgroup.subtree_control 2>/dev/null || true
        throttle=/sys/fs/cgroup/trackhaul-card-bench.$$
        mkdir "$throttle"
        echo "$device rbps=$bps" >"$throttle/io.max"
    else
        skip "CARD_MBPS: no block-I/O cgroup to throttle the card with"
    fi
    echo "the card read at $CARD_MBPS MB/s at most"
fi
mount_card || skip "mount.exfat-fuse failed"
cp -r "$work"/songs/{EIGHT,C100,FOUR} "$work/card/"
rm -rf "$work/songs"

# Nothing of the card in memory: the file system unmounted, the loop device's buffers and the
# image's pages dropped, mounted again. Only the card's: the program, its libraries and the
# disk the output goes to stay in memory as on a user's machine (dropping every cache also
# made each import load the program from the disk again, about 6 ms that cat does not pay).
evict() {
    sync
    umount "$work/card"
    blockdev --flushbufs "$loop"
    dd if="$work/card.img" iflag=nocache count=0 status=none
    mount_card
}
now() { date +%s%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# A_ENV / B_ENV ("NAME=VALUE ..."): two settings of the import compared in every round, in
# alternating order, against the same cat; the medians and the median of the rounds' own B/A
# ratios.
import_once() { # song settings; appends the wall time to the array named $3
    local -n times_=$3
    rm -rf "$work/out" && mkdir -p "$work/out"
    evict
    local t0 t1
    t0=$(now)
    # shellcheck disable=SC2086 # the settings are words
    env $2 /usr/bin/time -f %M -o "$work/rss" "$CLI" import --drive "$work/card" --song "$1" \
        --to "$work/out" --yes >/dev/null 2>"$work/err" ||
        { echo "failed: import $1" >&2; cat "$work/err" >&2; exit 1; }
    t1=$(now)
    times_+=($((t1 - t0)))
    peaks+=("$(tail -n1 "$work/rss")")
}
if [[ -n ${A_ENV:-}${B_ENV:-} ]]; then
    printf '%-8s %11s  %11s  %11s  %8s  %8s\n' song "A import" "B import" "cat" "B/A" "A/cat"
    for song in EIGHT C100 FOUR; do
        as=() bs=() cats=() peaks=() ratios=()
        for ((i = 1; i <= RUNS; i++)); do
            if ((i % 2)); then
                import_once "$song" "${A_ENV:-}" as
                import_once "$song" "${B_ENV:-}" bs
            else
                import_once "$song" "${B_ENV:-}" bs
                import_once "$song" "${A_ENV:-}" as
            fi
            evict
            t0=$(now)
            cat "$work/card/$song"/*.wav >/dev/null
            cats+=($(($(now) - t0)))
            ratios+=("$(awk -v a="${as[-1]}" -v b="${bs[-1]}" 'BEGIN { printf "%.6f", b / a }')")
        done
        a=$(printf '%s\n' "${as[@]}" | median)
        b=$(printf '%s\n' "${bs[@]}" | median)
        c=$(printf '%s\n' "${cats[@]}" | median)
        r=$(printf '%s\n' "${ratios[@]}" | median)
        awk -v n="$song" -v a="$a" -v b="$b" -v c="$c" -v r="$r" -v k="$RUNS" 'BEGIN {
            printf "%-8s %8.1f ms  %8.1f ms  %8.1f ms  %+7.1f%%  %8.2f  (medians of %d; B: %.2f cat)\n",
                n, a / 1e6, b / 1e6, c / 1e6, (r - 1) * 100, a / c, k, b / c }'
    done
    exit 0
fi

printf '%-36s %11s  %11s  %5s  %6s  %10s\n' case import "cat sources" ratio paired peak
for song in EIGHT C100 FOUR; do
    imports=() cats=() peaks=() ratios=()
    for ((i = 1; i <= RUNS; i++)); do
        rm -rf "$work/out" && mkdir -p "$work/out"
        evict
        t0=$(now)
        /usr/bin/time -f %M -o "$work/rss" "$CLI" import --drive "$work/card" --song "$song" \
            --to "$work/out" --yes >/dev/null 2>"$work/err" ||
            { echo "failed: import $song" >&2; cat "$work/err" >&2; exit 1; }
        t1=$(now)
        imports+=($((t1 - t0)))
        peaks+=("$(tail -n1 "$work/rss")")
        evict
        t0=$(now)
        cat "$work/card/$song"/*.wav >/dev/null
        t1=$(now)
        cats+=($((t1 - t0)))
        ratios+=("$(awk -v t="${imports[-1]}" -v c="${cats[-1]}" 'BEGIN { printf "%.6f", t / c }')")
    done
    t=$(printf '%s\n' "${imports[@]}" | median)
    r=$(printf '%s\n' "${ratios[@]}" | median)
    c=$(printf '%s\n' "${cats[@]}" | median)
    peak=$(printf '%s\n' "${peaks[@]}" | sort -n | tail -n1)
    case $song in
    EIGHT) name="8 tracks x $MINUTES min" ;;
    C100) name="100 events, 8 sources" ;;
    FOUR) name="9998 events, 4 sources" ;;
    esac
    awk -v n="$name" -v t="$t" -v c="$c" -v q="$r" -v p="$peak" -v r="$RUNS" 'BEGIN {
        printf "%-36s %8.1f ms  %8.1f ms  %5.2f  %6.2f  %6d KiB  (medians of %d)\n",
            n, t / 1e6, c / 1e6, t / c, q, p, r }'
done
