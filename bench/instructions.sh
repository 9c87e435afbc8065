#!/bin/sh
# Instructions per pixel of each benchmark case, per vector width: AVX2 and
# SSE2 counted by callgrind (valgrind offers no AVX-512, so that is the
# widest it runs), NEON by qemu-aarch64 with the counting plug-in
# (bench/qemu_instructions.c). Each count is the difference between three
# renders and one of the same frame, so setting up the picture is left out.
# Timings under emulation mean nothing; instruction counts do not depend on
# the machine.
#   bench/instructions.sh [WIDTHxHEIGHT] [smooth|noisy]   (default 1920x1080 smooth)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
size=${1:-1920x1080}
picture=${2:-smooth}
native="$source_dir/build-bench"
arm="$source_dir/build-bench-aarch64"
cmake -S "$source_dir" -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLENSTROVE_BUILD_BENCH=ON -DLENSTROVE_BUILD_TESTS=OFF -DLENSTROVE_BUILD_CLI=OFF >/dev/null
cmake --build "$native" --target lenstrove_render_count lenstrove_qemu_instructions -j2 >/dev/null
cmake -S "$source_dir" -B "$arm" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/toolchains/linux-aarch64.cmake" \
  -DLENSTROVE_BUILD_BENCH=ON -DLENSTROVE_BUILD_TESTS=OFF -DLENSTROVE_BUILD_CLI=OFF >/dev/null
cmake --build "$arm" --target lenstrove_render_count -j2 >/dev/null

pixels=$(echo "$size" | awk -Fx '{print $1 * $2}')
callgrind() {  # callgrind ISA ARGS...: instructions executed
  isa=$1
  shift
  LENSTROVE_MAX_ISA=$isa valgrind --tool=callgrind --callgrind-out-file=/dev/null \
    "$native/bench/lenstrove_render_count" "$@" 2>&1 | awk '/Collected/ {print $4}'
}
qemu() {  # qemu ARGS...: instructions executed
  qemu-aarch64 -L /usr/aarch64-linux-gnu -d plugin -plugin "$native/bench/liblenstrove_qemu_instructions.so" \
    "$arm/bench/lenstrove_render_count" "$@" 2>&1 | awk '/^instructions/ {print $2}'
}
per_pixel() {  # per_pixel COUNTER [ISA] CASE DEPTH: instructions per pixel of one render
  counter=$1
  shift
  [ "$counter" = qemu ] || { isa=$1; shift; }
  if [ "$counter" = qemu ]; then
    one=$(qemu "$1" "$2" "$size" "$picture" 1)
    three=$(qemu "$1" "$2" "$size" "$picture" 3)
  else
    one=$(callgrind "$isa" "$1" "$2" "$size" "$picture" 1)
    three=$(callgrind "$isa" "$1" "$2" "$size" "$picture" 3)
  fi
  echo "$one $three $pixels" | awk '{printf "%.2f", ($2 - $1) / 2 / $3}'
}

# The widths the counters run; valgrind's processor has no AVX-512.
LENSTROVE_MAX_ISA=avx2 valgrind -q "$native/bench/lenstrove_render_count" off byte 16x16 smooth 1 | grep -qx avx2 ||
  { echo "valgrind does not run the AVX2 kernels here" >&2; exit 1; }

echo "Instructions per pixel of one render, $size, $picture picture (lower is better)."
echo
echo "| case | depth | avx2 | sse2 | neon | neon / avx2 |"
echo "|---|---|---|---|---|---|"
for depth in byte float; do
  for case in off guides bands crop239-opacity1 crop239-opacity0.5 false-colour legal-levels everything; do
    avx2=$(per_pixel callgrind avx2 "$case" "$depth")
    sse2=$(per_pixel callgrind sse2 "$case" "$depth")
    neon=$(per_pixel qemu "$case" "$depth")
    echo "| $case | $depth | $avx2 | $sse2 | $neon | $(echo "$neon $avx2" | awk '{printf "%.1f", $1 / $2}') |"
  done
done
