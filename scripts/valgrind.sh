#!/usr/bin/env bash
# Valgrind memcheck over real `lenstrove render` runs: a byte render of a
# sample PNG on two workers, a float render in tiles to OpenEXR, and a
# picture fitted to a smaller size. Any memory error, and any definite or
# indirect leak, fails. No suppressions are needed with Debian's
# OpenImageIO 2.4: what it keeps at exit is still reachable, which is not
# counted.
#
#   scripts/valgrind.sh     (VALGRIND_BUILD_DIR, default build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${VALGRIND_BUILD_DIR:-build}

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j 2 --target lenstrove module_tests host_tests

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

memcheck() {
  valgrind --quiet --leak-check=full --errors-for-leak-kinds=definite,indirect \
    --show-leak-kinds=definite,indirect --error-exitcode=1 --num-callers=40 "$@"
}

run() {
  echo "== valgrind: lenstrove $*"
  memcheck "$build/cli/lenstrove" "$@"
}

# OpenImageIO brings in FFmpeg, which brings in libhwy, whose start-up code
# times itself with rdtscp. On a processor without rdtscp valgrind 3.19
# still reports it through its own CPUID and then cannot run it (SIGILL), so
# no program that links OpenImageIO starts under valgrind there. The module
# and the host library are then checked through their own test programs,
# which link neither; the command's code is covered by the sanitizer build.
if ! valgrind --quiet "$build/cli/lenstrove" --version >"$work/probe.txt" 2>&1; then
  if grep -q "Illegal opcode" "$work/probe.txt"; then
    echo "== valgrind cannot start programs that link OpenImageIO on this processor (no rdtscp):"
    grep -m 2 "Illegal opcode\|at 0x" "$work/probe.txt" || true
    echo "== valgrind: the module and the host library through their test programs instead"
    memcheck --suppressions=scripts/valgrind.supp "$build/tests/module_tests" --gtest_brief=1 \
      --gtest_filter='RenderCalls.*:RenderCopy.*:TileBoundedImages.*:FramePlacement.*:Hostile*'
    memcheck "$build/tests/host_tests" --gtest_brief=1
    echo "== valgrind: no errors, no leaks (module and host library)"
    exit 0
  fi
  cat "$work/probe.txt"
  exit 1
fi

run render -q -j 2 data/coffee.png "$work/byte.png" \
  GuideThirds=on GuideCrosshair=on Crop239=on CropOpacity=0.7 FalseColorMode=on ShowSkinToneLine=on
run render -q -j 1 -t 4 --depth float data/astronaut.png "$work/float.exr" \
  GuideGolden=on Crop185=on LegalizeLevels=on ShowMiddleGray=on ShowSkinTonePatches=on
run render -q --fit 300x300 data/coffee.png "$work/fitted.png" GuideThirds=on
test -s "$work/byte.png" && test -s "$work/float.exr" && test -s "$work/fitted.png"
echo "== valgrind: no errors, no leaks"
