#!/usr/bin/env bash
# Cross-builds libsoxr for 64-bit Windows from Debian's source package, as a static library,
# into PREFIX (default build-win/soxr): PREFIX/include/soxr.h and PREFIX/lib/libsoxr.a.
# The library takes sinf, cosf and sincosf from glibc's source rather than from mingw-w64, so
# that it resamples to the same bits as Debian's libsoxr on Linux (cmake/glibc-trig/trig.c
# says why).
# The sources come through `apt-get source` with a source list and package lists of this
# build's own (under PREFIX), so the machine's apt configuration is never changed. A finished
# PREFIX is kept: later runs build nothing, unless it was built by an older recipe.
#   cmake/build-soxr-windows.sh [PREFIX]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
PREFIX=${1:-$ROOT/build-win/soxr}
# Names this recipe; a PREFIX built by another one is built again.
RECIPE="soxr 0.1.3 static, no OpenMP; sinf/cosf/sincosf from glibc"
if [[ -f $PREFIX/lib/libsoxr.a && -f $PREFIX/include/soxr.h &&
    "$(cat "$PREFIX/recipe" 2>/dev/null)" == "$RECIPE" ]]; then
    exit 0
fi
rm -rf "$PREFIX/lib" "$PREFIX/include" "$PREFIX/recipe"
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
lib=$PREFIX/lib/libsoxr.a
[[ -f $lib ]] || { echo "libsoxr.a was not built" >&2; exit 1; }

# glibc's single-precision sine and cosine, from the source of the C library this machine runs
# (the Linux build's), or of the suite's newest one if that version is gone. Only the files they
# need are unpacked; Debian's patches leave them alone.
glibc_version=$(dpkg-query -W -f='${source:Version}' libc6 2>/dev/null || true)
mkdir -p "$WORK/glibc"
(cd "$WORK/glibc" && { apt-get "${apt_own[@]}" source --download-only -qq "glibc=$glibc_version" \
    2>/dev/null || apt-get "${apt_own[@]}" source --download-only -qq glibc; } >/dev/null)
orig=$(find "$WORK/glibc" -maxdepth 1 -name 'glibc_*.orig.tar.*' | head -n1)
[[ -n $orig ]] || { echo "apt-get source glibc gave no source archive" >&2; exit 1; }
glibc_files=(sysdeps/ieee754/flt-32/s_sinf.c sysdeps/ieee754/flt-32/s_cosf.c
    sysdeps/ieee754/flt-32/s_sincosf.c sysdeps/ieee754/flt-32/s_sincosf.h
    sysdeps/ieee754/flt-32/math_config.h sysdeps/ieee754/flt-32/math_errf.c
    sysdeps/x86/fpu/sincosf_poly.h sysdeps/x86/fpu/s_sincosf_data.c)
top=${orig##*/glibc_}
top=glibc-${top%.orig.tar.*}
tar -xf "$orig" -C "$WORK/glibc" "${glibc_files[@]/#/$top/}"
G=$WORK/glibc/$top
# The flags of glibc's build that bear on the results, with the compiler's default contraction
# of a*b+c into a fused multiply-add, which glibc's FMA build gets.
cc=x86_64-w64-mingw32-gcc-posix
glibc_cflags=(-O2 -std=gnu11 -frounding-math -fmath-errno -I"$ROOT/cmake/glibc-trig"
    -I"$G/sysdeps/x86/fpu" -I"$G/sysdeps/ieee754/flt-32" -I"$G")
objs=()
for variant in sse2 fma; do
    flags=("${glibc_cflags[@]}")
    [[ $variant == fma ]] && flags+=(-mfma -mavx2)
    for f in sinf cosf sincosf; do
        macro=$(tr a-z A-Z <<<"$f")
        "$cc" "${flags[@]}" -D"$macro=trackhaul_glibc_${f}_$variant" \
            -c "$G/sysdeps/ieee754/flt-32/s_$f.c" -o "$WORK/glibc/${f}_$variant.o"
        objs+=("$WORK/glibc/${f}_$variant.o")
    done
done
"$cc" "${glibc_cflags[@]}" -c "$G/sysdeps/x86/fpu/s_sincosf_data.c" -o "$WORK/glibc/sincosf_data.o"
"$cc" "${glibc_cflags[@]}" -c "$G/sysdeps/ieee754/flt-32/math_errf.c" -o "$WORK/glibc/math_errf.o"
"$cc" -O2 -std=gnu11 -Wall -Wextra -Werror -c "$ROOT/cmake/glibc-trig/trig.c" \
    -o "$WORK/glibc/glibc_trig.o"
objs+=("$WORK/glibc/sincosf_data.o" "$WORK/glibc/math_errf.o" "$WORK/glibc/glibc_trig.o")
# libsoxr calls them in place of the C library's; nothing else in the program does.
x86_64-w64-mingw32-objcopy --redefine-sym sinf=trackhaul_glibc_sinf \
    --redefine-sym cosf=trackhaul_glibc_cosf --redefine-sym sincosf=trackhaul_glibc_sincosf "$lib"
x86_64-w64-mingw32-ar rcs "$lib" "${objs[@]}"
undefined=$(x86_64-w64-mingw32-nm -u "$lib")
if grep -qwE 'sinf|cosf|sincosf' <<<"$undefined"; then
    echo "libsoxr.a still calls the C library's sinf, cosf or sincosf" >&2
    exit 1
fi
echo "$RECIPE" >"$PREFIX/recipe"
rm -rf "$WORK"
