#!/usr/bin/env bash
# Cross-builds libsoxr for 64-bit Windows from Debian's source package, as a static library,
# into PREFIX (default build-win/soxr): PREFIX/include/soxr.h and PREFIX/lib/libsoxr.a.
# The source comes through `apt-get source` with a source list and package lists of this
# build's own (under PREFIX), so the machine's apt configuration is never changed. A finished
# PREFIX is kept: later runs build nothing.
#   cmake/build-soxr-windows.sh [PREFIX]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
PREFIX=${1:-$ROOT/build-win/soxr}
if [[ -f $PREFIX/lib/libsoxr.a && -f $PREFIX/include/soxr.h ]]; then
    exit 0
fi
WORK=$PREFIX/work
rm -rf "$WORK"
mkdir -p "$WORK/apt/lists/partial" "$WORK/apt/cache/archives/partial"
# The suite of the machine (bookworm on Debian 12), so the Windows library is the same
# version as the one the Linux build links.
. /etc/os-release
echo "deb-src http://deb.debian.org/debian ${VERSION_CODENAME:-bookworm} main" >"$WORK/apt/sources.list"
apt_own=(-o "Dir::Etc::SourceList=$WORK/apt/sources.list" -o "Dir::Etc::SourceParts=$WORK/apt/none"
    -o "Dir::State::Lists=$WORK/apt/lists" -o "Dir::Cache=$WORK/apt/cache"
    -o "APT::Sandbox::User=root")
apt-get "${apt_own[@]}" update -qq
(cd "$WORK" && apt-get "${apt_own[@]}" source -qq libsoxr >/dev/null)
src=$(find "$WORK" -maxdepth 1 -type d -name 'libsoxr-*' | head -n1)
[[ -n $src ]] || { echo "apt-get source libsoxr gave no source folder" >&2; exit 1; }

# One channel is resampled at a time, so OpenMP would bring nothing but a DLL to ship.
cmake -S "$src" -B "$WORK/build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTS=OFF \
    -DBUILD_EXAMPLES=OFF -DWITH_OPENMP=OFF -DWITH_LSR_BINDINGS=OFF -Wno-dev >/dev/null
cmake --build "$WORK/build" -j"${JOBS:-2}" >/dev/null
cmake --install "$WORK/build" >/dev/null
rm -rf "$WORK"
[[ -f $PREFIX/lib/libsoxr.a ]] || { echo "libsoxr.a was not built" >&2; exit 1; }
