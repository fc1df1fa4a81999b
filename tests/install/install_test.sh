#!/usr/bin/env bash
# "cmake --install" into a temporary DESTDIR puts every file where a desktop finds it, and the
# installed programs run from there: --version, --help and an import from a demo card.
# usage: install_test.sh BUILD_DIR VERSION WITH_WINDOW(ON|OFF)
set -u
build=$1 version=$2 window=$3
id=org.trackhaul.Trackhaul
failures=0
fail() {
    echo "FAIL $*"
    failures=$((failures + 1))
}
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

DESTDIR=$root/dest cmake --install "$build" --prefix /usr >"$root/install.log" ||
    { cat "$root/install.log"; exit 1; }
dest=$root/dest/usr

while read -r file kind; do
    [[ -z $file || $file == \#* ]] && continue
    [[ $kind == window && $window != ON ]] && continue
    [[ -f $dest/$file ]] || fail "not installed: $file"
done <"$(dirname "$0")/files.txt"
[[ $(find "$dest" -type f | wc -l) == $(grep -c '^[a-z]' "$(dirname "$0")/files.txt") ||
    $window != ON ]] || fail "more files installed than files.txt lists"

# The pictures have the size their folder names (PNG: width and height at bytes 16 to 23).
for size in 48 256; do
    png=$dest/share/icons/hicolor/${size}x${size}/apps/$id.png
    [[ -f $png ]] || continue
    read -r -a b < <(od -An -tu1 -j16 -N8 "$png")
    width=$(((b[0] << 24) + (b[1] << 16) + (b[2] << 8) + b[3]))
    height=$(((b[4] << 24) + (b[5] << 16) + (b[6] << 8) + b[7]))
    [[ $width == "$size" && $height == "$size" ]] || fail "$png is ${width}x$height"
done

cli=$dest/bin/trackhaul-cli
[[ $("$cli" --version) == "trackhaul-cli $version" ]] || fail "installed trackhaul-cli --version"
"$cli" --help | grep -q "^usage: trackhaul-cli" || fail "installed trackhaul-cli --help"
"$cli" demo-card "$root/card" >/dev/null || fail "installed trackhaul-cli demo-card"
song=$("$cli" songs --drive "$root/card" | head -n1 | cut -f1)
mkdir -p "$root/takes"
out=$("$cli" import --drive "$root/card" --song "$song" --to "$root/takes" --yes 2>"$root/err")
[[ $out == "Complete!" ]] || fail "installed import: $out $(cat "$root/err")"
[[ -s $root/takes/tr01.wav ]] || fail "installed import wrote no tr01.wav"
if [[ $window == ON ]]; then
    [[ $("$dest/bin/trackhaul" --version) == "trackhaul $version" ]] ||
        fail "installed trackhaul --version"
    "$dest/bin/trackhaul" --help | grep -q "^usage: trackhaul" || fail "installed trackhaul --help"
fi

((failures == 0)) && echo "install: all passed"
exit $((failures > 0))
