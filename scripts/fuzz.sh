#!/usr/bin/env bash
# Coverage-guided fuzzing of the module (through the project's host) and of
# the command's image reading, with AddressSanitizer and
# UndefinedBehaviorSanitizer. Builds a clang fuzz build, runs every target
# for a bounded time on a copy of its committed corpus, prints executions
# and coverage per target, and exits non-zero if any target found anything.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
#
# SECONDS_PER_TARGET defaults to 60; targets default to all that were built
# (render, dispatch, image_file). FUZZ_BUILD_DIR (default build-fuzz) names
# the build folder. A finding is left in FUZZ_BUILD_DIR/findings/<target>/;
# replay it with: FUZZ_BUILD_DIR/fuzz/lenstrove_fuzz_<target> FILE
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
build=${FUZZ_BUILD_DIR:-build-fuzz}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DLENSTROVE_BUILD_FUZZ=ON -DLENSTROVE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j 2

targets=("$@")
if ((${#targets[@]} == 0)); then
  for t in render dispatch image_file; do
    [ -x "$build/fuzz/lenstrove_fuzz_$t" ] && targets+=("$t")
  done
fi

# LeakSanitizer runs at the end of every input; UBSan reports are fatal
# (the build uses -fno-sanitize-recover) and show their stack.
# fuzz/lsan.supp lists leaks inside OpenImageIO's own code (see there).
base_asan=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/fuzz/lsan.supp}

failed=0
summary=()
for t in "${targets[@]}"; do
  binary="$build/fuzz/lenstrove_fuzz_$t"
  work="$build/fuzz-work/$t"
  findings="$build/findings/$t"
  rm -rf "$work"
  mkdir -p "$work" "$findings"
  # The committed corpus stays as it is: new inputs go to the copy.
  cp -r "fuzz/corpus/$t/." "$work/" 2>/dev/null || true
  log="$build/fuzz-$t.log"
  echo "== fuzzing $t for ${seconds}s"
  status=0
  asan=$base_asan
  # OpenImageIO's libraries have no frame pointers: the full (slower)
  # unwinder is needed for its allocations to show where they came from,
  # which the suppressions match on.
  limits=(-rss_limit_mb=2048)
  if [ "$t" = image_file ]; then
    asan="$asan:fast_unwind_on_malloc=0:quarantine_size_mb=64"
    # libpng allocates a chunk's declared length (at most 2 GiB) before
    # reading it, so a 300-byte PNG can briefly take 2 GiB inside
    # OpenImageIO; anything beyond that is still a finding.
    limits=(-rss_limit_mb=4096 -malloc_limit_mb=2300)
  fi
  # The harnesses cap their own allocations far below the memory limits,
  # so reaching one means something grew without bound.
  # A fixed seed keeps a CI run repeatable; FUZZ_SEED=0 lets libFuzzer pick one.
  ASAN_OPTIONS=$asan "$binary" "$work" -seed="${FUZZ_SEED:-1}" -max_total_time="$seconds" -timeout=25 "${limits[@]}" \
    -artifact_prefix="$findings/" -print_final_stats=1 >"$log" 2>&1 || status=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
  last=$(grep -E '^#[0-9]+' "$log" | grep -E 'cov: ' | tail -1 || true)
  cov=$(sed -n 's/.*cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.*ft: \([0-9]*\).*/\1/p' <<<"$last")
  corp=$(sed -n 's/.*corp: \([0-9]*\).*/\1/p' <<<"$last")
  line="$t: ${runs:-?} executions, cov ${cov:-?}, ft ${ft:-?}, corpus ${corp:-?}"
  if ((status != 0)) || compgen -G "$findings/*" >/dev/null; then
    failed=1
    line="$line: FINDING (exit $status)"
    grep -E 'ERROR: |runtime error|SUMMARY|Test unit written|DEADLYSIGNAL|wrote|kept' "$log" | head -20 || true
    echo "   full log: $log"
  fi
  echo "$line"
  summary+=("$line")
done

echo "== fuzzing summary"
printf '%s\n' "${summary[@]}"
exit "$failed"
