#!/usr/bin/env bash
# Keeps the command and the host library easy to read: no source file in
# cli/ or host/ over 500 lines, and no function there over 60 lines, as
# clang-tidy's readability-function-size counts them over a build's compile
# database (code built only for Windows is not seen; its functions are short).
#   scripts/size-check.sh [build folder]   (default: build-clang; the build
#   must be configured with -DCMAKE_EXPORT_COMPILE_COMMANDS=ON)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-clang}
max_file_lines=500
max_function_lines=60

if [ ! -f "$build/compile_commands.json" ]; then
  echo "size-check: no $build/compile_commands.json (configure with -DCMAKE_EXPORT_COMPILE_COMMANDS=ON)" >&2
  exit 2
fi
tidy=$(command -v clang-tidy || command -v clang-tidy-14 || true)
if [ -z "$tidy" ]; then
  echo "size-check: clang-tidy is not installed (scripts/install-deps.sh installs it)" >&2
  exit 2
fi

failed=0
long_files=$(git ls-files 'cli/*.cpp' 'cli/*.h' 'host/*.cpp' 'host/*.h' | xargs wc -l |
  awk -v max=$max_file_lines '$2 != "total" && $1 > max { print "  " $2 ": " $1 " lines" }')
if [ -n "$long_files" ]; then
  echo "size-check: files over $max_file_lines lines:"
  echo "$long_files"
  failed=1
fi

root=$(pwd)
report=$(mktemp)
trap 'rm -f "$report"' EXIT
# A file clang-tidy cannot parse fails the check too, rather than passing
# unexamined.
if ! git ls-files 'cli/*.cpp' 'host/*.cpp' | xargs -P "$(nproc)" -n 4 "$tidy" -p "$build" --quiet \
    --header-filter="^$root/(cli|host)/" --checks='-*,readability-function-size' \
    --config="{CheckOptions: [{key: readability-function-size.LineThreshold, value: $max_function_lines}]}" \
    >"$report" 2>/dev/null; then
  echo "size-check: clang-tidy could not read every file:" >&2
  grep -E "error:" "$report" >&2 || true
  exit 2
fi
long_functions=$(grep "exceeds recommended size" "$report" | sed -E "s|^$root/||; s/: warning: function (.*) exceeds.*/: \1/" | sort -u || true)
if [ -n "$long_functions" ]; then
  echo "size-check: functions over $max_function_lines lines:"
  sed 's/^/  /' <<<"$long_functions"
  failed=1
fi

if [ "$failed" -eq 0 ]; then
  echo "size-check: no file in cli/ or host/ over $max_file_lines lines, no function over $max_function_lines"
fi
exit "$failed"
