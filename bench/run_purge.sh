#!/usr/bin/env bash
# Purge benchmark: purge_revoked on generated data files of about 35, 140 and
# 560 MB with about 10% of their lines revoked. Per size: the native purge at
# 1 and 2 pool threads, raw SHA-256 over the same lines, the pure-Python
# purge and the native purge called from Python, and the peak memory of a
# process that runs one purge.
#
# Usage: bench/run_purge.sh [build_dir=build] [work_dir=/tmp/zr-purge-bench] [sizes="35 140 560"]
# Data is generated on the first run and reused later. Figures are wall-clock
# times with a warm page cache, the best of several repetitions; run it on an
# otherwise idle machine (the SHA-256 column doubling from 1 to 2 threads is
# the sign of one).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/harness.sh
build_dir="${1:-build}"
work_dir="${2:-/tmp/zr-purge-bench}"
sizes="${3:-35 140 560}"
build_targets "$build_dir" purge_bench _zr_native

results=()
for size in $sizes; do
  dir="$work_dir/$size"
  if [ ! -f "$dir/pristine.jsonl" ]; then
    "$build_dir/purge_bench" generate "$dir" "$size" >&2
  fi
  reps=7 py_reps=3
  [ "$size" -ge 100 ] && reps=5 py_reps=2
  [ "$size" -ge 500 ] && reps=3 py_reps=1
  native="$("$build_dir/purge_bench" run "$dir" "$reps")"
  memory="$("$build_dir/purge_bench" once "$dir")"
  python="$(PYTHONPATH="$build_dir/python" /usr/bin/python3 bench/purge_baseline.py "$dir" "$py_reps")"
  results+=("$native"$'\n'"$memory"$'\n'"$python")
done

/usr/bin/python3 - "${results[@]}" <<'PY'
import sys
rows = []
for block in sys.argv[1:]:
    f = dict(line.split("=", 1) for line in block.splitlines() if "=" in line)
    rows.append(f)
print("%8s %9s %9s %6s %10s %7s %8s %6s %8s %9s %5s" % (
    "size MB", "1t MB/s", "2t MB/s", "2t/1t", "sha1t MB/s", "1t/sha", "py MB/s", "2t/py",
    "peak MiB", "budget", "same"))
for f in rows:
    mb = float(f["size_mb"])
    t1, t2 = float(f["purge_1t_s"]), float(f["purge_2t_s"])
    sha1 = float(f["sha_1t_s"])
    py = float(f["python_s"])
    print("%8.0f %9.0f %9.0f %6.2f %10.0f %7.2f %8.1f %6.1f %8.0f %9.0f %5s" % (
        mb, mb / t1, mb / t2, t1 / t2, mb / sha1, sha1 / t1, mb / py, py / t2,
        float(f["peak_rss_mb"]), mb / 1.048576 + 64, f["same_output"]))
    print("         purged %s of %s lines; native from Python %.2f s (%.0f MB/s); sha at 2 threads %.0f MB/s;"
          " CPU s 1t %.2f, 2t %.2f" % (
              f["purged"], int(f["purged"]) + int(f["kept"]), float(f["native_from_python_s"]),
              mb / float(f["native_from_python_s"]), mb / float(f["sha_2t_s"]),
              float(f["purge_1t_cpu_s"]), float(f["purge_2t_cpu_s"])))
print("targets: 2t/1t >= 1.7, 2t/py >= 5, peak <= file size + 64 MB; linear growth = flat MB/s")
PY
