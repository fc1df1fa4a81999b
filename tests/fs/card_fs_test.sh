#!/usr/bin/env bash
# Imports and exports on the card's own file systems, exFAT and FAT32, each in an image mounted
# through FUSE on a loop device:
#   - a demo card, an import and an export, byte for byte the same as on the local disk; the
#     file system's check clean after unmounting; FAT32 read back with mtools as well;
#   - exports killed (the tool with SIGKILL, or the FUSE daemon, which is the card leaving) at
#     random moments and right after the first take gets its ".wav" name (an inotify watch on
#     the song folder sees it), each followed by the file system's check, the edit list exactly
#     old or exactly new with every take it names intact, and the next export, which must leave
#     no "zt6" take that the list does not name.
#
#   tests/fs/card_fs_test.sh [BUILD_DIR]      (default: build/ next to this folder's parent)
#   RUNS=4 tests/fs/card_fs_test.sh ...        kills of each kind and moment per file system
#                                              (default 2)
#   COUNT_ONLY=1 tests/fs/card_fs_test.sh ...  count takes no list names instead of failing
#                                              (to measure another build)
# Skipped, with a line saying why, where there is no /dev/fuse, no loop device, or not root.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=$(cd "${1:-$ROOT/build}" && pwd)
CLI=$BUILD/trackhaul-cli
RUNS=${RUNS:-2}
COUNT_ONLY=${COUNT_ONLY:-0}
SONG=DEMO44K

# shellcheck source=../support/card_images.sh
source "$ROOT/tests/support/card_images.sh"
if ! card_images_usable; then
    echo "SKIP card file system tests: $CARD_SKIP_REASON"
    exit 0
fi
[[ -x $CLI ]] || {
    echo "missing $CLI (build the target trackhaul-cli)" >&2
    exit 2
}

WORK=$(mktemp -d /tmp/card-fs-test.XXXXXX)
cleanup() {
    card_images_cleanup
    rm -rf "$WORK"
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)); }
le16() { printf '\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)); }
# make_wav FILE RATE BYTES: a mono 16-bit WAV file of BYTES bytes of noise.
make_wav() {
    local n=$3
    {
        printf "RIFF$(le32 $((36 + n)))WAVEfmt $(le32 16)$(le16 1)$(le16 1)$(le32 "$2")"
        printf "$(le32 $(($2 * 2)))$(le16 2)$(le16 16)data$(le32 "$n")"
        head -c "$n" /dev/urandom
    } >"$1"
}

# The take names an edit list gives, in capitals, one a line.
list_names() {
    { grep -o '"[^"]*"' "$1" || true; } | tr -d '"' | tr '[:lower:]' '[:upper:]' |
        { grep '\.WAV$' || true; } | sort -u
}

# Whether every song folder of card A is the same, byte for byte, on card B.
same_songs() {
    local song
    for song in "$1"/*/; do
        diff -r "$song" "$2/$(basename "$song")" >/dev/null || return 1
    done
}

# The file of FOLDER whose name is NAME ignoring letter case (empty when there is none).
find_ci() {
    find "$1" -maxdepth 1 -type f -iname "$2" -print -quit
}

# zt6 takes in FOLDER that the list LIST does not name, one a line.
unlisted_takes() {
    local folder=$1 list=$2 f
    for f in "$folder"/*; do
        [[ -f $f ]] || continue
        f=${f##*/}
        [[ ${f^^} =~ ^ZT6[0-9]+\.WAV$ ]] || continue
        list_names "$list" | grep -qxF "${f^^}" || echo "$f"
    done
}

# The fsck report of a card that left without being unmounted may show the dirty bit, a stale
# free-cluster count (FAT32's FSINFO hint), clusters taken for a file whose entry never reached
# the card (lost space, no file damaged), two FAT copies of which only the first was written,
# and a take being written whose cluster chain grew before its size did (the daemon writes the
# chain first): the state of a pulled card, which a computer's check repairs. A take the list
# names is compared with its source after the repair, so a truncated take is still caught.
# Anything else is damage, and its report is shown.
fsck_verdict() { # TYPE IMAGE -> "clean", "pulled" or "damaged"
    local out
    if out=$(card_image_fsck "$1" "$2" 2>&1); then
        echo clean
        return
    fi
    if [[ $1 == fat32 ]] && ! grep -v -e '^fsck.fat' -e 'Dirty bit is set' -e 'removing dirty bit' \
        -e 'Free cluster summary wrong' -e 'Auto-correcting' -e 'Leaving filesystem unchanged' \
        -e 'Reclaimed [0-9]* unused clusters\? ([0-9]* bytes)' \
        -e '^FATs differ but appear to be intact\.$' -e '^  Using first FAT\.$' \
        -ie "^/$SONG/zt6[0-9]*\(\.wav\)\?\$" \
        -e '^  File size is [0-9]* bytes, cluster chain length is > [0-9]* bytes\.$' \
        -e '^  Truncating file to [0-9]* bytes\.$' \
        -e "files, .* clusters" <<<"$out" | grep -q .; then
        echo pulled
        return
    fi
    sed 's/^/    fsck: /' <<<"$out" >&2
    echo damaged
}

# --- Sources ---------------------------------------------------------------------------------
mkdir -p "$WORK/pc"
for t in 1 2 3 4 5 6 7 8; do
    make_wav "$WORK/pc/tr0$t.wav" 44100 $((1000000 + 2 * t))
done
"$CLI" demo-card "$WORK/local" >/dev/null

# --- Round trip on each file system --------------------------------------------------------
round_trip() {
    local type=$1 img=$WORK/$1.img mnt=$WORK/mnt-$1 ref=$WORK/ref-$1
    card_image_make "$type" "$img" 320
    card_image_mount "$type" "$img" "$mnt"
    "$CLI" demo-card "$mnt" >/dev/null
    rm -rf "$ref" && cp -r "$WORK/local" "$ref"
    same_songs "$ref" "$mnt" || fail "$type: demo card differs from the local one"

    mkdir -p "$WORK/imp-$type" "$WORK/imp-ref-$type"
    "$CLI" import --drive "$mnt" --song $SONG --to "$WORK/imp-$type" --yes --quiet
    "$CLI" import --drive "$ref" --song $SONG --to "$WORK/imp-ref-$type" --yes --quiet
    diff -r "$WORK/imp-ref-$type" "$WORK/imp-$type" >/dev/null ||
        fail "$type: import differs from the local disk's"

    "$CLI" export --from "$WORK/imp-$type" --drive "$mnt" --song $SONG --yes --quiet
    "$CLI" export --from "$WORK/imp-ref-$type" --drive "$ref" --song $SONG --yes --quiet
    "$CLI" export --from "$WORK/pc" --drive "$mnt" --song $SONG --tracks 1,2 --yes --quiet
    "$CLI" export --from "$WORK/pc" --drive "$ref" --song $SONG --tracks 1,2 --yes --quiet
    same_songs "$ref" "$mnt" || fail "$type: export differs from the local disk's"
    card_image_unmount "$mnt"

    [[ $(fsck_verdict "$type" "$img") == clean ]] || fail "$type: fsck after the round trip"
    if [[ $type == fat32 ]]; then
        local f
        for f in "$ref/$SONG"/*; do
            mcopy -n -i "$img" "::/$SONG/${f##*/}" - 2>/dev/null | cmp -s - "$f" ||
                fail "fat32: ${f##*/} read back with mtools differs"
        done
    fi
    card_image_mount "$type" "$img" "$mnt"
    same_songs "$ref" "$mnt" || fail "$type: card differs after remounting"
    card_image_unmount "$mnt"
    echo "$type: demo card, import and export byte for byte as on the local disk; fsck clean"
}

# --- Free space as fusefat counts it ---------------------------------------------------------
# fusefat reports free space in units of 1 KiB while every file takes whole clusters of 4 KiB:
# a card with room for the eight tracks by that count has no room for them in clusters. The
# export must refuse with "File too large!" and change nothing, not fail half-way.
capacity_check() {
    local img=$WORK/cap.img mnt=$WORK/mnt-cap avail filler target=8016000
    card_image_make fat32 "$img" 300
    card_image_mount fat32 "$img" "$mnt"
    "$CLI" demo-card "$mnt" >/dev/null
    avail=$(($(stat -f -c %a "$mnt") * $(stat -f -c %S "$mnt")))
    card_image_unmount "$mnt"
    # The filler goes in through mtools, much faster than through the FUSE daemon.
    filler=$(((avail - target) / 4096 * 4096))
    truncate -s "$filler" "$WORK/filler"
    mcopy -i "$img" "$WORK/filler" ::/FILLER
    rm -f "$WORK/filler"
    card_image_mount fat32 "$img" "$mnt"
    avail=$(($(stat -f -c %a "$mnt") * $(stat -f -c %S "$mnt")))
    cp -r "$mnt/$SONG" "$WORK/cap-before"
    local status=0
    "$CLI" export --from "$WORK/pc" --drive "$mnt" --song $SONG --yes --quiet \
        >/dev/null 2>"$WORK/cap.err" || status=$?
    if [[ $status != 1 ]] || ! grep -q '^File too large!' "$WORK/cap.err"; then
        fail "fat32: an export that needs more than the free clusters was not refused" \
            "(status $status: $(head -c 300 "$WORK/cap.err"))"
    fi
    diff -r "$WORK/cap-before" "$mnt/$SONG" >/dev/null ||
        fail "fat32: the refused export changed the song"
    card_image_unmount "$mnt"
    rm -f "$img"
    echo "fat32: $avail bytes free by fusefat's count, 8 tracks of 1,000,048 bytes:" \
        "$(head -n1 "$WORK/cap.err" | tr -d '\r')"
}

# --- Killed exports --------------------------------------------------------------------------
# The song as it was before the kill campaign's runs: the demo song.
reset_song() { # MOUNT
    rm -rf "${1:?}/$SONG"
    cp -r "$WORK/local/$SONG" "$1/$SONG"
}

# How long an export of the eight tracks takes on this file system, in milliseconds.
export_ms() { # MOUNT
    local t0 t1
    reset_song "$1"
    t0=$(date +%s%N)
    "$CLI" export --from "$WORK/pc" --drive "$1" --song $SONG --yes --quiet
    t1=$(date +%s%N)
    echo $(((t1 - t0) / 1000000))
}

declare -A count
# killed_run TYPE VICTIM(tool|daemon) MOMENT(random|rename) DURATION_MS
killed_run() {
    local type=$1 victim=$2 moment=$3 ms=$4 img=$WORK/$1.img mnt=$WORK/mnt-$1
    local pre=$WORK/pre post=$WORK/post pidfile=$WORK/victim.pid
    card_image_mount "$type" "$img" "$mnt"
    reset_song "$mnt"
    # What the card holds before, and what an export that runs to the end makes of it.
    rm -rf "$pre" "$post"
    mkdir -p "$pre" "$post"
    cp -r "$mnt/$SONG" "$pre/"
    cp -r "$mnt/$SONG" "$post/"
    "$CLI" export --from "$WORK/pc" --drive "$post" --song $SONG --yes --quiet

    local daemon watcher=
    daemon=$(card_daemon_pid "$mnt")
    rm -f "$pidfile"
    if [[ $moment == rename ]]; then
        # The first name moved into the song folder is a take's ".wav" name.
        rm -f "$WORK/watch.err" "$WORK/watch.pid"
        (
            inotifywait -e moved_to --format %f "$mnt/$SONG" >"$WORK/moved" 2>"$WORK/watch.err" &
            echo $! >"$WORK/watch.pid"
            # Builtins only between the event and the kill: no process to start.
            if wait $!; then
                read -r victim_pid <"$pidfile"
                kill -9 "$victim_pid" 2>/dev/null
            fi
        ) &
        watcher=$!
        until grep -q "Watches established" "$WORK/watch.err" 2>/dev/null; do sleep 0.01; done
    fi
    "$CLI" export --from "$WORK/pc" --drive "$mnt" --song $SONG --yes --quiet \
        >/dev/null 2>"$WORK/export.err" &
    local tool=$!
    if [[ $victim == tool ]]; then echo "$tool" >"$pidfile"; else echo "$daemon" >"$pidfile"; fi
    if [[ $moment == random ]]; then
        sleep "$(awk -v r="$RANDOM" -v ms="$ms" 'BEGIN { printf "%.3f", (r % 1000) / 1000 * ms / 1000 }')"
        kill -9 "$(cat "$pidfile")" 2>/dev/null || true
    fi
    wait "$tool" 2>/dev/null || true
    if [[ -n $watcher ]]; then
        # An export that ended before its first rename (none): stop the watch.
        kill "$(cat "$WORK/watch.pid")" 2>/dev/null || true
        wait "$watcher" 2>/dev/null || true
    fi
    # What the tool said when the card left under it.
    if [[ $victim == daemon ]] && grep -q . "$WORK/export.err"; then
        sed 's/^/    /' "$WORK/export.err" >>"$WORK/messages-$type"
        if grep -q "Transport endpoint is not connected" "$WORK/export.err"; then
            count[$type.enotconn]=$((${count[$type.enotconn]:-0} + 1))
        fi
    fi
    card_image_unmount "$mnt"
    local verdict
    verdict=$(fsck_verdict "$type" "$img")
    count[$type.fsck.$verdict]=$((${count[$type.fsck.$verdict]:-0} + 1))
    # The tool's death leaves the daemon to unmount the card properly.
    if [[ $verdict == damaged || ($victim == tool && $verdict != clean) ]]; then
        fail "$type: fsck after a $victim kill ($moment): $verdict"
    fi
    # The card is checked and repaired as a computer would before it is used again.
    if [[ $verdict != clean ]]; then card_image_repair "$type" "$img" >/dev/null || true; fi

    card_image_mount "$type" "$img" "$mnt"
    local song=$mnt/$SONG list state ref
    list=$(find_ci "$song" "$SONG.ADL")
    if cmp -s "$list" "$pre/$SONG/$SONG.ADL"; then
        state=old ref=$pre/$SONG
    elif cmp -s "$list" "$post/$SONG/$SONG.ADL"; then
        state=new ref=$post/$SONG
    else
        state=neither
        fail "$type: the list after a $victim kill ($moment) is neither old nor new"
    fi
    count[$type.list.$state]=$((${count[$type.list.$state]:-0} + 1))
    if [[ $state != neither ]]; then
        local name
        while read -r name; do
            cmp -s "$(find_ci "$song" "$name")" "$(find_ci "$ref" "$name")" ||
                fail "$type: $name named by the $state list is not intact"
        done < <(list_names "$list")
    fi
    local stray
    stray=$(unlisted_takes "$song" "$list" | wc -l)
    count[$type.stray.before]=$((${count[$type.stray.before]:-0} + stray))

    # The next export tidies up after the killed one.
    "$CLI" export --from "$WORK/pc" --drive "$mnt" --song $SONG --tracks 1 --yes --quiet ||
        fail "$type: the export after a $victim kill ($moment) failed"
    list=$(find_ci "$song" "$SONG.ADL")
    stray=$(unlisted_takes "$song" "$list" | wc -l)
    count[$type.stray.after]=$((${count[$type.stray.after]:-0} + stray))
    if ((stray > 0 && COUNT_ONLY == 0)); then
        fail "$type: $stray take(s) no list names after a $victim kill ($moment) and the next export"
    fi
    card_image_unmount "$mnt"
    # A mount does not clear what a pulled card left: that stays for the recorder to clear.
    verdict=$(fsck_verdict "$type" "$img")
    [[ $verdict == clean ]] ||
        fail "$type: fsck after the export that followed a $victim kill ($moment): $verdict"
    if [[ $verdict != clean ]]; then card_image_repair "$type" "$img" >/dev/null || true; fi
    count[$type.runs]=$((${count[$type.runs]:-0} + 1))
}

kill_campaign() {
    local type=$1 mnt=$WORK/mnt-$1 ms i
    card_image_mount "$type" "$WORK/$type.img" "$mnt"
    ms=$(export_ms "$mnt")
    card_image_unmount "$mnt"
    for ((i = 0; i < RUNS; i++)); do
        killed_run "$type" tool random "$ms"
        killed_run "$type" tool rename "$ms"
        killed_run "$type" daemon random "$ms"
        killed_run "$type" daemon rename "$ms"
    done
    echo "$type: ${count[$type.runs]} killed exports (tool and FUSE daemon, each ${RUNS}x at a" \
        "random moment within ${ms} ms and ${RUNS}x after the first rename):" \
        "list old ${count[$type.list.old]:-0}, new ${count[$type.list.new]:-0}," \
        "neither ${count[$type.list.neither]:-0};" \
        "fsck after the kill clean ${count[$type.fsck.clean]:-0}, pulled-card state only" \
        "${count[$type.fsck.pulled]:-0}, damaged ${count[$type.fsck.damaged]:-0};" \
        "takes no list names: ${count[$type.stray.before]:-0} after the kills," \
        "${count[$type.stray.after]:-0} after the next exports;" \
        "\"Transport endpoint is not connected\" named ${count[$type.enotconn]:-0}x"
    if [[ -s $WORK/messages-$type ]]; then
        echo "$type: what the tool said when the card left (distinct lines):"
        sed -E -e 's/zt6[0-9]+/zt6NNNN/g' -e "s|$WORK/||" "$WORK/messages-$type" | sort | uniq -c
    fi
}

started=$SECONDS
capacity_check
for type in exfat fat32; do
    round_trip "$type"
    kill_campaign "$type"
done
echo "card file system tests: $((SECONDS - started)) s, $failures failure(s)"
((failures == 0))
