#!/bin/sh
# Movie throughput against Debian's ffmpeg program: builds the command and
# bench/movie_bench.cpp (Release), makes 1080p clips in ProRes HQ, DNxHR HQ
# and H.264 with the ffmpeg program (once; kept in the build tree), then for
# each codec, with the default jobs and with one thread, runs the program's
# own transcode to the same codec and settings and the lenstrove render with
# guides into that codec, one after the other, in alternating order, with
# the repetitions of all cases interleaved. Prints wall and processor
# (user + system) time of each, the fastest of the repetitions, and the
# ratios. LENSTROVE_BENCH_REPETITIONS sets the repetitions (default 3).
#   bench/movie.sh [build-dir] [extra benchmark arguments...]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build_dir=${1:-$source_dir/build-bench-movie}
[ $# -gt 0 ] && shift
cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DLENSTROVE_BUILD_BENCH=ON -DLENSTROVE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build_dir" --target lenstrove_movie_bench -j2 >/dev/null
json="$build_dir/movie-bench-results.json"
"$build_dir/bench/lenstrove_movie_bench" --benchmark_repetitions=${LENSTROVE_BENCH_REPETITIONS:-3} \
  --benchmark_enable_random_interleaving=true \
  --benchmark_out="$json" --benchmark_out_format=json "$@" >/dev/null
/usr/bin/python3 - "$json" <<'PY'
import json, os, sys
best = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("run_type") != "iteration" or b.get("error_occurred"):
        continue
    _, codec, jobs = b["run_name"].split("/")[:3]
    row = best.setdefault((codec, jobs), {})
    for key in ("frames", "ffmpeg_wall", "ffmpeg_cpu", "lenstrove_wall", "lenstrove_cpu"):
        row[key] = min(row.get(key, 1e30), b[key])
names = {"prores_hq": "ProRes HQ", "dnxhr_hq": "DNxHR HQ", "h264": "H.264"}
print(f"1080p, {os.cpu_count()} cores; guides (thirds, crosshair); fastest of the repetitions, seconds\n")
print("| codec | jobs | frames | ffmpeg wall | ffmpeg cpu | lenstrove wall | lenstrove cpu | wall ratio | cpu ratio |")
print("|---|---|---|---|---|---|---|---|---|")
for (codec, jobs), r in sorted(best.items(), key=lambda item: (list(names).index(item[0][0]), item[0][1] != "jdefault")):
    print(f"| {names.get(codec, codec)} | {'default' if jobs == 'jdefault' else '1'} | {r['frames']:.0f} "
          f"| {r['ffmpeg_wall']:.2f} | {r['ffmpeg_cpu']:.2f} | {r['lenstrove_wall']:.2f} | {r['lenstrove_cpu']:.2f} "
          f"| {r['lenstrove_wall'] / r['ffmpeg_wall']:.2f} | {r['lenstrove_cpu'] / r['ffmpeg_cpu']:.2f} |")
PY
