#!/usr/bin/env bash
# The Debian package: lintian finds no errors or warnings, it holds the files of files.txt,
# and installing it with apt-get and removing it again leaves nothing behind.
# usage: package_test.sh DEB   (run as root; installs and removes the package "trackhaul")
set -euo pipefail
deb=$(realpath "$1")
list=$(dirname "$0")/files.txt

echo "--- lintian $deb"
lintian --fail-on error,warning --display-info "$deb" 2>/dev/null

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
while read -r file _; do
    [[ -z $file || $file == \#* ]] && continue
    grep -qx "./usr/$file" <<<"$contents" || { echo "FAIL the package lacks /usr/$file"; exit 1; }
done <"$list"

if dpkg -s trackhaul >/dev/null 2>&1; then
    echo "trackhaul is installed on this machine already: install and removal not tried"
    exit 0
fi
export DEBIAN_FRONTEND=noninteractive
apt_get() { apt-get -y -qq -o DPkg::Lock::Timeout=300 "$@" >/dev/null; }
apt_get install "$deb"
mapfile -t installed < <(dpkg -L trackhaul)
failures=0
[[ $(trackhaul-cli --version) == "trackhaul-cli $(dpkg-deb -f "$deb" Version)" ]] ||
    { echo "FAIL the installed trackhaul-cli --version"; failures=1; }
man -w trackhaul-cli >/dev/null || { echo "FAIL man finds no trackhaul-cli page"; failures=1; }
apt_get remove --purge trackhaul
for path in "${installed[@]}"; do
    # Folders the package shares with others stay; its own files and folders go.
    if [[ -e $path && ! -d $path ]] || [[ $path == */trackhaul && -d $path ]]; then
        echo "FAIL left behind after removal: $path"
        failures=1
    fi
done
if dpkg -s trackhaul >/dev/null 2>&1; then
    echo "FAIL the package is still known to dpkg"
    failures=1
fi
((failures == 0)) && echo "package: lintian clean, installs and removes cleanly"
exit $failures
