#!/bin/sh
# Builds the benchmark (RelWithDebInfo, as the release is built), runs every
# case at every vector width this machine has and prints one markdown table:
# the cost of each case relative to memcpy of the same bytes between the same
# buffers, a column per width. Each width runs in its own process with
# LENSTROVE_MAX_ISA capping the module to it, and each ratio is taken against
# the memcpy measured in that width's own runs. Times are the processor time
# of the benchmark's one thread, so time the scheduler hands to other
# processes on a shared machine is not counted. The widths take turns
# (LENSTROVE_BENCH_ROUNDS rounds, 3 by default), each run repeats every case
# in random order (LENSTROVE_BENCH_REPETITIONS times, 3 by default), and each
# time is the fastest of all its repetitions, the least disturbed by other
# work.
#   bench/run.sh [build-dir] [extra benchmark arguments...]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build_dir=${1:-$source_dir/build-bench}
[ $# -gt 0 ] && shift
cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLENSTROVE_BUILD_BENCH=ON -DLENSTROVE_BUILD_TESTS=OFF -DLENSTROVE_BUILD_CLI=OFF >/dev/null
cmake --build "$build_dir" --target lenstrove_bench -j2 >/dev/null
bench="$build_dir/bench/lenstrove_bench"
results="$build_dir/bench-results"
rm -rf "$results"
mkdir -p "$results"

# The module through the project's host where the host library is built,
# else the loop called directly.
path=fast
"$bench" --benchmark_list_tests | grep -q '^module/' && path=module
widths=$("$bench" --lenstrove_widths)

run() {  # run NAME FILTER [extra arguments]: one process, its results in NAME.json
  name=$1 filter=$2
  shift 2
  "$bench" --benchmark_min_time=0.05 --benchmark_repetitions="${LENSTROVE_BENCH_REPETITIONS:-3}" \
    --benchmark_enable_random_interleaving=true --benchmark_filter="$filter" \
    --benchmark_out="$results/$name.json" --benchmark_out_format=json "$@" >/dev/null 2>"$results/$name.log" \
    || { cat "$results/$name.log" >&2; exit 1; }
}
round=1
while [ "$round" -le "${LENSTROVE_BENCH_ROUNDS:-3}" ]; do
  for width in $widths; do
    LENSTROVE_MAX_ISA=$width run "$width-$round" "^(memcpy|$path)/" "$@"
  done
  round=$((round + 1))
done
# The per-pixel loop does not depend on the width; once is enough.
run reference '^(memcpy|reference)/' "$@"

/usr/bin/python3 - "$results" "$path" $widths <<'PY'
import glob, json, os, sys

results, path, widths = sys.argv[1], sys.argv[2], sys.argv[3:][::-1]  # widest first

# Goals for 4K at AVX2 and wider, as cost relative to memcpy, byte / float,
# on both pictures. SSE2's are twice these, except the guides'.
goals = {"off": (1.1, 1.1), "guides": (1.3, 1.3), "bands": (1.3, 1.3),
         "crop239-opacity1": (1.3, 1.3), "crop239-opacity0.5": (1.3, 1.3),
         "false-colour": (2.0, 1.2), "legal-levels": (1.5, 1.2), "everything": (2.5, 1.5)}

def goal(case, depth, width):
    g = goals[case][0 if depth == "byte" else 1]
    return g * 2 if width == "sse2" and case != "guides" else g

# best[column][(path, case, size, depth, picture)]: fastest seconds
best = {}
for name in glob.glob(os.path.join(results, "*.json")):
    column = os.path.basename(name)[:-len(".json")].rsplit("-", 1)[0]  # WIDTH-ROUND or reference
    for b in json.load(open(name))["benchmarks"]:
        if b.get("run_type") != "iteration" or b.get("error_occurred"):
            continue
        parts = [p for p in b["run_name"].split("/") if p != "real_time"]
        key = tuple(parts[:4]) + (parts[4] if len(parts) > 4 else "",)
        seconds = b["cpu_time"] * {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
        column_best = best.setdefault(column, {})
        column_best[key] = min(column_best.get(key, seconds), seconds)

def ratio(column, key, size, depth):
    t, copy = best.get(column, {}).get(key), best.get(column, {}).get(("memcpy", "copy", size, depth, ""))
    return t / copy if t and copy else None

print(f"Render path: {'the module through lenstrove_host' if path == 'module' else 'RunPixelLoop (no host library)'}"
      "; the cost of each case relative to memcpy measured in the same process, at each width"
      " (LENSTROVE_MAX_ISA), fastest of the repetitions. Goals hold at 3840x2160; SSE2's are twice"
      " the listed goal except for the guides. * marks a ratio above its width's goal.\n")
header = ["case", "size", "depth", "picture"] + widths + ["per-pixel loop", "goal"]
print("| " + " | ".join(header) + " |")
print("|" + "---|" * len(header))
sizes = sorted({k[2] for column in best.values() for k in column}, key=lambda s: int(s.split("x")[0]))
for size in sizes:
    w, h = map(int, size.split("x"))
    for depth in ("byte", "float"):
        copies = [best.get(c, {}).get(("memcpy", "copy", size, depth, "")) for c in widths]
        if not any(copies):
            continue
        print(f"| memcpy, Mpix/s | {size} | {depth} | | " +
              " | ".join(f"{w * h / t / 1e6:.0f}" if t else "" for t in copies) + " | | |")
        for case in goals:
            for picture in ("smooth", "noisy"):
                cells = []
                for width in widths:
                    r = ratio(width, (path, case, size, depth, picture), size, depth)
                    missed = r is not None and size == "3840x2160" and r > goal(case, depth, width)
                    cells.append("" if r is None else f"{r:.2f}" + ("*" if missed else ""))
                if not any(cells):
                    continue
                ref = ratio("reference", ("reference", case, size, depth, picture), size, depth)
                g = goals[case][0 if depth == "byte" else 1] if size == "3840x2160" else None
                print("| " + " | ".join([case, size, depth, picture] + cells +
                                        [f"{ref:.1f}" if ref else "", str(g) if g else ""]) + " |")
PY
