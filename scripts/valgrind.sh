#!/usr/bin/env bash
# Valgrind memcheck over real `lenstrove render` runs: a byte render of a
# sample PNG on two workers, and a float render in tiles to OpenEXR. Any
# memory error, and any definite or indirect leak, fails. No suppressions
# are needed with Debian's OpenImageIO 2.4: what it keeps at exit is still
# reachable, which is not counted.
#
#   scripts/valgrind.sh     (VALGRIND_BUILD_DIR, default build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${VALGRIND_BUILD_DIR:-build}

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j 2 --target lenstrove

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() {
  echo "== valgrind: lenstrove $*"
  valgrind --quiet --leak-check=full --errors-for-leak-kinds=definite,indirect \
    --show-leak-kinds=definite,indirect --error-exitcode=1 --num-callers=40 \
    "$build/cli/lenstrove" "$@"
}

run render -q -j 2 data/coffee.png "$work/byte.png" \
  GuideThirds=on GuideCrosshair=on Crop239=on CropOpacity=0.7 FalseColorMode=on ShowSkinToneLine=on
run render -q -j 1 -t 4 --depth float data/astronaut.png "$work/float.exr" \
  GuideGolden=on Crop185=on LegalizeLevels=on ShowMiddleGray=on ShowSkinTonePatches=on
test -s "$work/byte.png" && test -s "$work/float.exr"
echo "== valgrind: no errors, no leaks"
