#!/usr/bin/env bash
# Author scan benchmark: the native scan by name at 1 and 2 pool threads, and
# the pure-Python baseline over the same registry files.
#
# Usage: bench/run_author_scan.sh [build_dir=build] [zr_dir=/tmp/zr-author-bench] [records=1000000]
# The registry is created on the first run (about 140 MB) and reused later.
# Run it on an otherwise idle machine: the figures are wall-clock times.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/harness.sh
build_dir="${1:-build}"
zr_dir="${2:-/tmp/zr-author-bench}"
records="${3:-1000000}"
build_targets "$build_dir" author_scan_bench

native="$("$build_dir/author_scan_bench" "$zr_dir" "$records" 7)"
name="$(sed -n 's/^query_name=//p' <<<"$native")"
python="$(/usr/bin/python3 bench/author_scan_baseline.py "$zr_dir" "$name" 3)"

/usr/bin/python3 - "$native" "$python" <<'PY'
import sys
figures = {}
for block in sys.argv[1:]:
    for line in block.splitlines():
        key, _, value = line.partition("=")
        figures[key] = value
f = {k: float(v) for k, v in figures.items() if k.endswith(("_ms_min", "_ms_median"))}
print("registry: %s records, query name %r, %s matches (python: %s)" % (
    figures["records"], figures["query_name"], figures["matches"], figures["python_plain_matches"]))
print("%-34s %10s %10s" % ("", "min ms", "median ms"))
for label, key in (("native, pool at 1 thread", "cpp_1_thread"), ("native, pool at 2 threads", "cpp_2_threads"),
                   ("python, json.loads per line", "python_plain"),
                   ("python, substring pre-filter", "python_prefiltered")):
    print("%-34s %10.2f %10.2f" % (label, f[key + "_ms_min"], f[key + "_ms_median"]))
one, two = f["cpp_1_thread_ms_median"], f["cpp_2_threads_ms_median"]
print("2 threads vs 1 thread: %.2fx (target 1.6x)" % (one / two))
print("native (2 threads) vs python, json.loads per line: %.1fx (target 5x)" % (f["python_plain_ms_median"] / two))
print("native (2 threads) vs python, pre-filtered: %.1fx" % (f["python_prefiltered_ms_median"] / two))
PY
