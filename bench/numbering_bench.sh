#!/usr/bin/env bash
# The cost of numbering the new takes in a full song: an export of 8 short files into a song
# of 800 takes against the same export into a song of 3 takes, on an exFAT image mounted
# through FUSE (as a card in a reader) where the machine allows it (root, /dev/fuse, a loop
# device), else on the local disk. Paired runs, medians; the song is put back after each run.
#   bench/numbering_bench.sh [BUILD_DIR] [BUILD_DIR...]   (default build/; builds nothing)
#   RUNS=9 TAKES=800 LOCAL=1 bench/numbering_bench.sh build /work/main/build
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
RUNS=${RUNS:-7}
TAKES=${TAKES:-800}
builds=("$@")
((${#builds[@]})) || builds=("$ROOT/build")
for b in "${builds[@]}"; do
    [[ -x $b/trackhaul-cli ]] || {
        echo "missing $b/trackhaul-cli" >&2
        exit 2
    }
done

source "$ROOT/tests/support/card_images.sh"
work=$(mktemp -d /tmp/numbering-bench.XXXXXX)
trap 'card_images_cleanup; rm -rf "$work"' EXIT
cli=${builds[0]}/trackhaul-cli

if [[ ${LOCAL:-0} != 1 ]] && card_images_usable; then
    card_image_make exfat "$work/card.img" 256
    card_image_mount exfat "$work/card.img" "$work/card"
    where="exFAT image through FUSE"
else
    mkdir -p "$work/card"
    where="local disk${CARD_SKIP_REASON:+ ($CARD_SKIP_REASON)}"
fi

le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)); }
le16() { printf '\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)); }
make_wav() { # FILE BYTES: mono 16-bit at 44,100 Hz
    local n=$2
    {
        printf "RIFF$(le32 $((36 + n)))WAVEfmt $(le32 16)$(le16 1)$(le16 1)$(le32 44100)"
        printf "$(le32 88200)$(le16 2)$(le16 16)data$(le32 "$n")"
        head -c "$n" /dev/zero
    } >"$1"
}

# Eight short takes to export (a tenth of a second each).
mkdir -p "$work/pc"
for t in 1 2 3 4 5 6 7 8; do make_wav "$work/pc/tr0$t.wav" 8820; done

# SMALL: the demo song of 3 takes. FULL: the same song with takes up to TAKES, each named in
# its list.
"$cli" demo-card "$work/demo" >/dev/null
make_song() { # NAME TAKES
    local name=$1 takes=$2 dir=$work/songs/$1 k
    mkdir -p "$dir"
    cp "$work/demo/DEMO44K"/zt6*.wav "$dir/"
    {
        sed '/<\/EVENT_LIST>/,$d' "$work/demo/DEMO44K/DEMO44K.ADL" | sed "s/DEMO44K/$name/"
        for ((k = 4; k <= takes; k++)); do
            printf '\t\t(Entry)\t%04d\t(Cut)\tF\t"ZT6%04d.WAV"\t1\t1\t00.00.00.00|0000\t00.00.00.00|0000\t00.00.00.01|0000\t_\r\n' \
                $((k + 4)) "$k"
        done
        printf '\t</EVENT_LIST>\r\n</ADL>\r\n'
    } >"$dir/$name.ADL"
    for ((k = 4; k <= takes; k++)); do
        cp "$dir/zt60001.wav" "$dir/$(printf 'zt6%04d.wav' "$k")"
    done
}
make_song SMALL 3
make_song FULL "$TAKES"
cp -r "$work/songs/SMALL" "$work/songs/FULL" "$work/card/"

now() { date +%s%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# One export; the song then gets back its list, the new takes go.
export_ns() { # CLI SONG
    local t0 t1 song=$work/card/$2
    sync
    t0=$(now)
    "$1" export --from "$work/pc" --drive "$work/card" --song "$2" --yes --quiet
    t1=$(now)
    echo $((t1 - t0))
    ls "$song" | grep -i '^zt6' | sort >"$work/after"
    comm -13 <(ls "$work/songs/$2" | grep -i '^zt6' | sort) "$work/after" |
        while read -r f; do rm -f "$song/$f"; done
    cp "$work/songs/$2/$2.ADL" "$song/$2.ADL"
}

echo "export of 8 short takes into a song of 3 and of $TAKES takes, $RUNS runs, on the $where"
printf '%-36s %12s %12s %8s\n' build "3 takes" "$TAKES takes" ratio
for b in "${builds[@]}"; do
    small=() full=()
    for ((i = 0; i < RUNS; i++)); do
        small+=("$(export_ns "$b/trackhaul-cli" SMALL)")
        full+=("$(export_ns "$b/trackhaul-cli" FULL)")
    done
    s=$(printf '%s\n' "${small[@]}" | median)
    f=$(printf '%s\n' "${full[@]}" | median)
    awk -v b="$b" -v s="$s" -v f="$f" 'BEGIN { printf "%-36s %9.1f ms %9.1f ms %7.2fx\n", b, s / 1e6, f / 1e6, f / s }'
done
