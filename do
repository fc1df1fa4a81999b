#!/usr/bin/env bash
# Set-up and build driver for a fresh Debian 12 machine (run as root).
#   ./do run    install what is needed, build, and run the program's main job
#   ./do test   install what is needed, build, and run every test
#   ./do package  install what is needed, build, and write the Debian package into dist/
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD
JOBS=$(nproc 2>/dev/null || echo 2)

install_deps() {
    local pkgs=(g++ cmake make libgtest-dev qt6-base-dev qt6-svg-dev libgl1-mesa-dev clang-format
        xvfb xauth dpkg-dev file lintian desktop-file-utils appstream librsvg2-bin groff-base man-db
        clang-14 libclang-rt-14-dev)
    local missing=()
    for p in "${pkgs[@]}"; do
        dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
    done
    if ((${#missing[@]})); then
        echo "Installing: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
}

build() { # build DIR [cmake options...]
    local dir=$1
    shift
    cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
    cmake --build "$dir" -j"$JOBS"
}

cmd_run() {
    install_deps
    build "$ROOT/build"
    local bin=$ROOT/build
    if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]]; then
        exec "$bin/trackhaul" --demo
    fi
    echo "No display found: running the demo import with trackhaul-cli instead."
    local cache=${XDG_CACHE_HOME:-$HOME/.cache}/trackhaul
    local card=$cache/demo-card out=$cache/demo-import
    mkdir -p "$out"
    "$bin/trackhaul-cli" demo-card "$card"
    "$bin/trackhaul-cli" songs --drive "$card"
    local song
    song=$("$bin/trackhaul-cli" songs --drive "$card" | head -n1 | cut -f1)
    "$bin/trackhaul-cli" import --drive "$card" --song "$song" --to "$out" --yes
    echo "Imported tracks of '$song' are in $out:"
    ls -l "$out"
}

check_format() {
    local files
    mapfile -t files < <(find app cli platform song transfer tests bench fuzz -name '*.cpp' -o -name '*.h' -o -name '*.inl')
    clang-format --dry-run --Werror "${files[@]}"
}

cmd_package() {
    install_deps
    build "$ROOT/build"
    rm -rf "$ROOT/dist"
    (cd "$ROOT/build" && cpack -G DEB -B "$ROOT/dist" >/dev/null)
    rm -rf "$ROOT/dist/_CPack_Packages"
    ls "$ROOT"/dist/*.deb
}

cmd_test() {
    install_deps
    check_format
    build "$ROOT/build"
    (cd "$ROOT/build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$JOBS")
    echo "--- core tests under AddressSanitizer + UBSan ---"
    build "$ROOT/build-asan" -DCMAKE_BUILD_TYPE=Debug -DTRACKHAUL_SANITIZE=ON -DTRACKHAUL_BUILD_APP=OFF
    (cd "$ROOT/build-asan" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        ctest --output-on-failure -j"$JOBS" -L core)
    echo "--- the Debian package ---"
    cmd_package
    bash "$ROOT/tests/install/package_test.sh" "$ROOT"/dist/trackhaul_*.deb
    echo "--- fuzz targets, 30 s each ---"
    "$ROOT/fuzz/run.sh" 30
}

case "${1:-}" in
run) cmd_run ;;
test) cmd_test ;;
package) cmd_package ;;
*)
    echo "usage: ./do run | ./do test | ./do package" >&2
    exit 2
    ;;
esac
