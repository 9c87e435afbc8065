#!/bin/sh
# Listing plug-ins: builds the scan benchmark and the command (Release),
# times `list` over a folder of 20 plug-in binaries scanned cold (a child
# process each) and from the cache, beside describing the same binaries in
# one process and the command's own start, all in the same run, and prints
# milliseconds per binary and the ratios. Each time is the fastest of the
# repetitions.
#   bench/scan.sh [build-dir]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build_dir=${1:-$source_dir/build-bench-scan}
cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DLENSTROVE_BUILD_BENCH=ON -DLENSTROVE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build_dir" --target lenstrove_scan_bench -j2 >/dev/null
json="$build_dir/scan-bench-results.json"
"$build_dir/bench/lenstrove_scan_bench" --benchmark_repetitions=9 --benchmark_min_time=0.01 \
  --benchmark_out="$json" --benchmark_out_format=json >/dev/null
/usr/bin/python3 - "$json" <<'PY'
import json, sys
best = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("run_type") != "iteration":
        continue
    name = b["run_name"].replace("/real_time", "")
    best[name] = min(best.get(name, 1e30), b["real_time"])
binaries = 20
base = best["scan/in-process"]
print(f"{binaries} plug-in binaries (copies of QelLenstrove.ofx); wall-clock, fastest of 9 runs\n")
print("| run | ms | ms per binary | relative to describing in process |")
print("|---|---|---|---|")
for name in ("scan/in-process", "scan/cold", "scan/cached"):
    t = best[name]
    print(f"| {name} | {t:.1f} | {t / binaries:.2f} | {t / base:.2f} |")
# Run from its build tree, the command also lists that tree's own bundle;
# its rows include the command's own start (--version is that alone).
for name in ("command/--version", "command/list-cold", "command/list-cached"):
    if name in best:
        t = best[name]
        print(f"| {name} | {t:.1f} | {t / (binaries + 1):.2f} | {t / base:.2f} |")
PY
