#!/usr/bin/env bash
# ThreadSanitizer check: many plug-in instances rendering different frames
# at once through the project's host (tests/robustness), the host's worker
# pool, mutexes, concurrent tiles and the one-at-a-time renders of an unsafe
# plug-in (tests/host), one plug-in used from several threads through the
# render session, an instance each (tests/session), and the lenstrove command
# rendering a sequence with several workers, with the Lenstrove plug-in and
# with a fully thread-safe test plug-in that splits rows over the pool,
# a plug-in on the standard's C++ support library whose image processor
# runs bands on the pool within tiles rendered at once (when
# ../shared/openfx is there), and rendering movies through the streaming
# pipeline (decoder, workers, encoder and audio on their own threads),
# fitted and not, audio copied and encoded. Any race report fails.
#
#   scripts/tsan.sh        (TSAN_BUILD_DIR, default build-tsan)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TSAN_BUILD_DIR:-build-tsan}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DLENSTROVE_TSAN=ON >/dev/null
targets=(robustness_concurrency_tests host_tests session_tests LenstroveSuiteUser)
# Read whole before searching: grep -q stops at the first match, and under
# pipefail the writer's broken pipe would count as not found.
known_targets=$(cmake --build "$build" --target help)
have_cli=0
if grep -q '^lenstrove:' <<<"$known_targets"; then
  targets+=(lenstrove)
  have_cli=1
fi
have_sdk=0
if grep -q '^support_library_tests:' <<<"$known_targets"; then
  targets+=(support_library_tests LenstroveSdkThreaded)
  have_sdk=1
fi
cmake --build "$build" -j 2 --target "${targets[@]}"

# halt_on_error: the first report ends the run with status 66, so nothing
# racy can pass unnoticed.
# scripts/tsan.supp ignores only calls made inside OpenImageIO (see there).
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 suppressions=$PWD/scripts/tsan.supp ${TSAN_OPTIONS:-}"

echo "== concurrent instances (ThreadSanitizer)"
"$build/tests/robustness/robustness_concurrency_tests"

echo "== the multithread suite's pool, mutexes, concurrent tiles and unsafe renders (ThreadSanitizer)"
"$build/tests/host_tests" --gtest_filter='HostServices.*:HostActions.*'

echo "== one plug-in from several threads through the render session, an instance each (ThreadSanitizer)"
"$build/tests/session_tests" --gtest_filter='SessionThreads.*'

if ((have_sdk)); then
  echo "== the support library's image processor: bands on the pool in concurrent tiles (ThreadSanitizer)"
  "$build/tests/support_library_tests" --gtest_filter='SupportLibraryThreaded.*'
fi

if ((have_cli)); then
  echo "== lenstrove render of a sequence with 4 workers (ThreadSanitizer)"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  for frame in 1 2 3 4 5 6 7 8; do
    cp data/coffee.png "$work/in.$frame.png"
  done
  "$build/cli/lenstrove" render -q -j 4 -t 3 -f 1-8 "$work/in.#.png" "$work/out.#.png" \
    GuideThirds=on Crop239=on CropOpacity=1:0.2,8:0.9 LineThickness=1:5,8:25 ShowSkinToneLine=on
  count=$(ls "$work" | grep -c '^out\.')
  if [ "$count" -ne 8 ]; then
    echo "expected 8 rendered frames, found $count" >&2
    exit 1
  fi
  echo "== a fully thread-safe plug-in: 2 workers, 4 tiles at once, rows over the pool (ThreadSanitizer)"
  OFX_PLUGIN_PATH="$build/tests/cli/test-plugins" "$build/cli/lenstrove" render -q -j 2 -t 4 -f 1-8 \
    -p org.lenstrove.tests.SuiteUser "$work/in.#.png" "$work/suite.#.png" Gain=0.5 Depth=2
  count=$(ls "$work" | grep -c '^suite\.')
  if [ "$count" -ne 8 ]; then
    echo "expected 8 frames from the test plug-in, found $count" >&2
    exit 1
  fi
  if ((have_sdk)); then
    echo "== the support library's image processor through the command: 2 workers, 4 tiles, 8 bands (ThreadSanitizer)"
    OFX_PLUGIN_PATH="$build/tests/plugins/support_library/bundles" "$build/cli/lenstrove" render -q -j 2 -t 4 \
      -f 1-8 -p org.lenstrove.sdk.Threaded "$work/in.#.png" "$work/sdk.#.png" Gain=0.5 Threads=8
    count=$(ls "$work" | grep -c '^sdk\.')
    if [ "$count" -ne 8 ]; then
      echo "expected 8 frames from the support library plug-in, found $count" >&2
      exit 1
    fi
  fi
  echo "== lenstrove render of movies with 4 workers: kept samples, fitting, audio copied and encoded (ThreadSanitizer)"
  ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x180:rate=25 -f lavfi -i sine=sample_rate=48000 \
    -t 1.6 -c:v libx264 -pix_fmt yuv420p -c:a pcm_s24le "$work/clip.mov"
  "$build/cli/lenstrove" render -q -j 4 "$work/clip.mov" "$work/kept.mov" GuideThirds=on Crop239=on
  "$build/cli/lenstrove" render -q -j 4 -f 5-34 "$work/clip.mov" "$work/review.mp4" --fit 160x90 \
    GuideCrosshair=on FalseColorMode=on Crop185=on CropOpacity=5:0,30:1
  "$build/cli/lenstrove" render -q -j 3 -d float "$work/clip.mov" "$work/deep.mkv" --codec prores_hq ShowMiddleGray=on
  for movie in kept.mov review.mp4 deep.mkv; do
    [ -s "$work/$movie" ] || { echo "expected $movie" >&2; exit 1; }
  done
fi
echo "== no data race reported"
