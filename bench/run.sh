#!/bin/sh
# Builds the benchmark (Release, bench on), runs every case and prints
# a markdown table: throughput and cost relative to memcpy of the same bytes
# between the same buffers, measured in the same run. Times are the processor
# time of the benchmark's one thread, so time the scheduler hands to other
# processes on a shared machine is not counted; the repetitions of all cases
# are interleaved in random order and each time is the fastest of its
# repetitions, the least disturbed by other work (LENSTROVE_BENCH_REPETITIONS
# sets how many; 9 by default).
#   bench/run.sh [build-dir] [extra benchmark arguments...]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build_dir=${1:-$source_dir/build-bench}
[ $# -gt 0 ] && shift
cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DLENSTROVE_BUILD_BENCH=ON -DLENSTROVE_BUILD_TESTS=OFF -DLENSTROVE_BUILD_CLI=OFF >/dev/null
cmake --build "$build_dir" --target lenstrove_bench -j2 >/dev/null
json="$build_dir/bench-results.json"
"$build_dir/bench/lenstrove_bench" --benchmark_min_time=0.05 --benchmark_repetitions=${LENSTROVE_BENCH_REPETITIONS:-9} \
  --benchmark_enable_random_interleaving=true \
  --benchmark_out="$json" --benchmark_out_format=json "$@" >/dev/null
python3 - "$json" <<'PY'
import json, sys

# Targets for 4K, as cost relative to memcpy, byte / float, on both pictures.
targets = {"off": (1.1, 1.1), "guides": (1.3, 1.3), "bands": (1.3, 1.3),
           "crop239-opacity1": (1.3, 1.3), "crop239-opacity0.5": (1.3, 1.3),
           "false-colour": (2.0, 1.2), "legal-levels": (1.5, 1.2), "everything": (2.5, 1.5)}
best = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("run_type") != "iteration" or b.get("error_occurred"):
        continue
    parts = [p for p in b["run_name"].split("/") if p != "real_time"]
    path, case, size, depth = parts[:4]
    picture = parts[4] if len(parts) > 4 else ""
    key = (path, case, size, depth, picture)
    seconds = b["cpu_time"] * {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
    best[key] = min(best.get(key, seconds), seconds)

sizes = sorted({k[2] for k in best}, key=lambda s: int(s.split("x")[0]))
cases = [c for c in targets if any(k[1] == c for k in best)]
have_module = any(k[0] == "module" for k in best)
shown = "module" if have_module else "fast"
print(f"Render path: {'the module through lenstrove_host' if have_module else 'RunPixelLoop (no host library)'}"
      "; times are the benchmark thread's processor time, the fastest of the repetitions.\n")
header = ["case", "size", "depth", "picture", "Mpix/s", "ratio to memcpy"]
if have_module:
    header.append("RunPixelLoop ratio")
header += ["reference ratio", "4K target", "met"]
print("| " + " | ".join(header) + " |")
print("|" + "---|" * len(header))
for size in sizes:
    w, h = map(int, size.split("x"))
    for depth in ("byte", "float"):
        copy = best.get(("memcpy", "copy", size, depth, ""))
        if copy is None:
            continue
        print(f"| memcpy | {size} | {depth} | | {w * h / copy / 1e6:.0f} | 1.00 |" + (" |" if have_module else "") +
              " | | |")
        for case in cases:
            for picture in ("smooth", "noisy"):
                t = best.get((shown, case, size, depth, picture))
                if t is None:
                    continue
                row = [case, size, depth, picture, f"{w * h / t / 1e6:.0f}", f"{t / copy:.2f}"]
                if have_module:
                    f = best.get(("fast", case, size, depth, picture))
                    row.append(f"{f / copy:.2f}" if f else "")
                r = best.get(("reference", case, size, depth, picture))
                row.append(f"{r / copy:.1f}" if r else "")
                target = targets[case][0 if depth == "byte" else 1]
                at_4k = size == "3840x2160"
                row.append(str(target) if at_4k else "")
                row.append(("yes" if t / copy <= target else "NO") if at_4k else "")
                print("| " + " | ".join(row) + " |")
PY
