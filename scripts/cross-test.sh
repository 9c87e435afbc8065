#!/usr/bin/env bash
# The module, its stages and fast path and the host library, built for
# Windows x64 and for Linux on 64-bit ARM and tested there: the Windows build
# under Wine, the ARM build under qemu-user. Build trees: build-win64 and
# build-aarch64.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
scripts/install-deps.sh

cross_suite() {
  local dir=$1 toolchain=$2
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/$toolchain.cmake" -DLENSTROVE_BUILD_CLI=OFF >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure </dev/null
}

# A prefix of our own, made and served before CTest starts, with the server
# detached from CTest's pipes (cmake/toolchains/wine-run.sh explains why);
# the server is stopped again however the tests end.
export WINEPREFIX="$PWD/build-win64/wine-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES=winedbg.exe=d
mkdir -p "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1
trap 'wineserver -k </dev/null >/dev/null 2>&1 || true' EXIT
# wineboot also starts Wine's own services; started later by a test, they
# would hold CTest's output pipes open and CTest would wait for them forever.
wine wineboot --init </dev/null >/dev/null 2>&1

echo "== Windows x64 under Wine"
cross_suite build-win64 windows-x64
echo "== Linux aarch64 under qemu-user"
cross_suite build-aarch64 linux-aarch64
