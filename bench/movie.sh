#!/bin/sh
# Movie throughput: builds the command and the movie benchmark (Release),
# renders a 1080p ProRes HQ clip with the guides on into ProRes HQ with one
# worker per core, times a plain transcode of the same clip through the
# same libraries in the same run, and prints both rates and their ratio.
# Each time is the fastest of the repetitions.
#   bench/movie.sh [build-dir]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build_dir=${1:-$source_dir/build-bench-movie}
cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DLENSTROVE_BUILD_BENCH=ON -DLENSTROVE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build_dir" --target lenstrove_movie_bench -j2 >/dev/null
json="$build_dir/movie-bench-results.json"
"$build_dir/bench/lenstrove_movie_bench" --benchmark_repetitions=3 --benchmark_min_time=0.01 \
  --benchmark_out="$json" --benchmark_out_format=json >/dev/null
python3 - "$json" <<'PY'
import json, os, sys
best = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("run_type") != "iteration":
        continue
    name = b["run_name"].split("/")[1]
    best[name] = min(best.get(name, 1e30), b["real_time"])
frames = 48
print(f"1080p ProRes HQ, {frames} frames, {os.cpu_count()} cores; fastest of 3 runs\n")
print("| run | ms | fps | time relative to transcode |")
print("|---|---|---|---|")
for name in ("transcode", "guides"):
    t = best[name]
    print(f"| {name} | {t:.0f} | {frames / (t / 1000):.1f} | {t / best['transcode']:.2f} |")
PY
