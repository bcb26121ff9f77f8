#!/usr/bin/env bash
# Cross-builds the 32-bit Windows program and its tests (mingw-w64 i686, the
# win32 preset) and runs every test under Wine, in a Wine prefix of the build
# folder's own. Installs from Debian's archive whatever is missing.
#   TRI2STL_WIN32_BUILD_DIR  build folder (default build/win32)
#   TRI2STL_WIN32_CTEST_ARGS extra ctest arguments (default: none)
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=$(realpath -m "${TRI2STL_WIN32_BUILD_DIR:-build/win32}")

timed() {
    local name=$1
    shift
    local start=$SECONDS
    "$@"
    echo "win32: $name took $((SECONDS - start)) s"
}

install_missing() {
    local sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    # Wine's 32-bit half comes from the i386 archive.
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        "${sudo_cmd[@]}" dpkg --add-architecture i386
    fi
    local packages=(cmake ninja-build g++-mingw-w64-i686-posix googletest wine wine32:i386)
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -gt 0 ] || return 0
    echo "installing: ${missing[*]}"
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
}

# The same environment the toolchain file gives every test it starts.
export WINEPREFIX="$build_dir/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

start_wine() {
    mkdir -p "$build_dir"
    wineboot --init >/dev/null 2>&1
    # One Wine server for the whole run: each test process then starts in a
    # fraction of a second instead of bringing up a server of its own. The
    # server wineboot started must be gone first.
    wineserver --wait
    wineserver --persistent
    # The first program started starts Wine's own services, which keep the
    # standard handles they inherit open for as long as the server lives. Let
    # them inherit nothing that a caller (test discovery, ctest) waits on.
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

stop_wine() { wineserver --kill >/dev/null 2>&1 || true; }

configure_and_build() {
    cmake --preset win32 -B "$build_dir"
    cmake --build "$build_dir"
}

run_tests() {
    # shellcheck disable=SC2086
    ctest --test-dir "$build_dir" --output-on-failure -j2 ${TRI2STL_WIN32_CTEST_ARGS:-}
    # A test binary that CTest never registered would pass silently: run each once.
    for t in "$build_dir"/tests/*_tests.exe; do
        echo "direct run: $t"
        wine "$t" --gtest_brief=1
    done
}

timed install install_missing
trap stop_wine EXIT
timed "Wine prefix" start_wine
timed "configure and build" configure_and_build
timed tests run_tests
