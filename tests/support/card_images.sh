# Card images for tests, sourced by bash scripts: exFAT and FAT32 file systems in image files,
# mounted through FUSE on a loop device as a card in a reader is (mount.exfat-fuse, fusefat).
#
#   source tests/support/card_images.sh
#   card_images_usable || { echo "SKIP: $CARD_SKIP_REASON"; exit 0; }
#   card_image_make exfat /tmp/card.img 256        # size in MB
#   card_image_mount exfat /tmp/card.img /tmp/mnt
#   ... use /tmp/mnt ...
#   card_image_unmount /tmp/mnt                    # also after the FUSE daemon was killed
#   card_image_fsck exfat /tmp/card.img            # read-only check, status 0 when clean
#   card_image_repair exfat /tmp/card.img          # what a computer does with a pulled card
#
# A mounted image keeps its loop device in CARD_LOOP[mount point]; card_daemon_pid gives the
# FUSE daemon's process (to kill it, as when a card leaves its reader).

declare -gA CARD_LOOP=()
CARD_SKIP_REASON=

# True when this machine can mount images through FUSE: root, /dev/fuse, a free loop device
# and the tools. Otherwise CARD_SKIP_REASON says what is missing.
card_images_usable() {
    local tool
    if ((EUID != 0)); then
        CARD_SKIP_REASON="not root (loop devices and FUSE mounts need root)"
        return 1
    fi
    if [[ ! -c /dev/fuse ]]; then
        CARD_SKIP_REASON="no /dev/fuse"
        return 1
    fi
    for tool in losetup mkfs.exfat mkfs.fat mount.exfat-fuse fusefat fsck.exfat \
        fsck.fat mcopy inotifywait fusermount; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            CARD_SKIP_REASON="$tool not installed"
            return 1
        fi
    done
    if [[ ! -e /dev/loop-control ]] || ! losetup -f >/dev/null 2>&1; then
        CARD_SKIP_REASON="no free loop device"
        return 1
    fi
    return 0
}

# card_image_make TYPE IMAGE MB: a fresh file system of TYPE (exfat or fat32) filling a new
# image of MB megabytes. FAT32 gets 4 KiB clusters and needs at least 65,525 of them (about
# 260 MB).
card_image_make() {
    local type=$1 image=$2 mb=$3
    rm -f "$image"
    truncate -s "${mb}M" "$image"
    case $type in
    exfat) mkfs.exfat -L ZT6 "$image" >/dev/null ;;
    # No volume label: fusefat shows it as a file in the root.
    fat32) mkfs.fat -F 32 -s 8 "$image" >/dev/null ;;
    *)
        echo "card_image_make: unknown type $type" >&2
        return 2
        ;;
    esac
}

# A mount point as the mount table names it: absolute (a dead FUSE mount can't be resolved).
card_abs() {
    if [[ $1 == /* ]]; then echo "$1"; else echo "$PWD/$1"; fi
}

# card_image_mount TYPE IMAGE MOUNTPOINT
card_image_mount() {
    local type=$1 image=$2 mnt loop
    mnt=$(card_abs "$3")
    mkdir -p "$mnt"
    loop=$(losetup -f --show "$image") || return 1
    CARD_LOOP[$mnt]=$loop
    case $type in
    exfat) mount.exfat-fuse "$loop" "$mnt" >/dev/null 2>&1 ;;
    fat32) fusefat -o rw+ "$loop" "$mnt" >/dev/null 2>&1 ;;
    esac || {
        losetup -d "$loop"
        unset 'CARD_LOOP[$mnt]'
        return 1
    }
    # The daemon answers once the mount is in place.
    local i
    for ((i = 0; i < 50; i++)); do
        grep -q " $mnt " /proc/self/mounts && return 0
        sleep 0.1
    done
    echo "card_image_mount: $mnt did not come up" >&2
    return 1
}

# The process id of the FUSE daemon serving MOUNTPOINT (empty when there is none).
card_daemon_pid() {
    local loop p cmd
    loop=${CARD_LOOP[$(card_abs "$1")]:-}
    [[ -n $loop ]] || return 0
    for p in /proc/[0-9]*; do
        cmd=$({ tr '\0' ' ' <"$p/cmdline"; } 2>/dev/null) || continue
        case $cmd in
        *mount.exfat-fuse*" $loop "* | fusefat*" $loop "*)
            echo "${p#/proc/}"
            return 0
            ;;
        esac
    done
}

# card_image_unmount MOUNTPOINT: unmounts (lazily when the daemon is gone), waits for the
# daemon to write everything and end, and frees the loop device.
card_image_unmount() {
    local mnt loop pid i
    mnt=$(card_abs "$1")
    loop=${CARD_LOOP[$mnt]:-}
    pid=$(card_daemon_pid "$mnt")
    if grep -q " $mnt " /proc/self/mounts; then
        fusermount -u "$mnt" 2>/dev/null || umount "$mnt" 2>/dev/null || umount -l "$mnt"
    fi
    if [[ -n $pid ]]; then
        for ((i = 0; i < 100; i++)); do
            [[ -d /proc/$pid ]] || break
            sleep 0.05
        done
    fi
    if [[ -n $loop ]]; then
        losetup -d "$loop" 2>/dev/null || true
        unset 'CARD_LOOP[$mnt]'
    fi
}

# card_image_fsck TYPE IMAGE: the file system's own check, changing nothing. Its report goes
# to stdout; the status is 0 when the file system is clean.
card_image_fsck() {
    case $1 in
    exfat) fsck.exfat -n "$2" ;;
    fat32) fsck.fat -n "$2" ;;
    esac
}

# card_image_repair TYPE IMAGE: what a computer does with a card that was pulled (clears the
# dirty bit, corrects the free count). Its report goes to stdout.
card_image_repair() {
    case $1 in
    exfat) fsck.exfat -y "$2" ;;
    fat32) fsck.fat -a "$2" ;;
    esac
}

# Unmounts everything still mounted by these functions (for an EXIT trap).
card_images_cleanup() {
    local mnt
    for mnt in "${!CARD_LOOP[@]}"; do
        card_image_unmount "$mnt"
    done
}
