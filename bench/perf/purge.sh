#!/usr/bin/env bash
# purge_revoked on a generated data file with about 10% of its lines
# revoked, with the worker pool at 1 and at 2 threads, against raw SHA-256
# of the same lines on the same number of threads (the floor of the
# keep-or-purge decisions), measured by the same program in the same run.
# Wall-clock times with a warm page cache, best of several repetitions; the
# stderr summary adds MB/s and the peak memory of a process running one purge.
#
#   bench/perf/purge.sh <new_build_dir> <baseline_build_dir> <work_dir>
#
# Prints two ROW lines (see bench/run_all.sh); SIZE=small for a quick run.
set -euo pipefail
source "$(dirname "$0")/../harness.sh"
bench_sides "$@"
size_mb=140 reps=3 rounds=2
if small; then size_mb=35 reps=2 rounds=1; fi

dir="$work/purge-$size_mb"
[ -f "$dir/pristine.jsonl" ] || "$new/purge_bench" generate "$dir" "$size_mb" >&2

purge() {  # build
  "$1/purge_bench" run "$dir" "$reps"
}
alternate "$rounds" purge
memory=$("$new/purge_bench" once "$dir")

/usr/bin/python3 - "$memory" "${results[@]}" <<'PY'
import sys

peak = float(sys.argv[1].split("=", 1)[1])
best = {}
for entry in sys.argv[2:]:
    side, *pairs = entry.split()
    values = dict(p.split("=", 1) for p in pairs if "=" in p)
    mb = float(values["size_mb"])
    purged, kept = int(values["purged"]), int(values["kept"])
    cur = best.setdefault(side, {})
    for key, value in values.items():
        if key.endswith("_s"):
            cur[key] = min(cur.get(key, float("inf")), float(value))
new, base = best["new"], best["base"]
print(f"purge_revoked of {mb:.0f} MB ({purged} of {purged + kept} lines purged): "
      f"1 thread {mb / new['purge_1t_s']:.0f} MB/s (baseline {mb / base['purge_1t_s']:.0f}), "
      f"2 threads {mb / new['purge_2t_s']:.0f} MB/s (baseline {mb / base['purge_2t_s']:.0f}); "
      f"peak memory {peak:.0f} MiB (budget {mb / 1.048576 + 64:.0f} MiB)", file=sys.stderr)
for threads in (1, 2):
    t, sha, t_base = new[f"purge_{threads}t_s"], new[f"sha_{threads}t_s"], base[f"purge_{threads}t_s"]
    print("\t".join(["ROW", f"purge_revoked, {threads} thread{'s' if threads > 1 else ''}",
                     f"{mb:.0f} MB, {purged} lines purged; {mb / t:.0f} MB/s, peak {peak:.0f} MiB",
                     f"{t:.3f} s", f"{sha:.3f} s (SHA-256)", f"{t / sha:.2f}", f"{t_base / t:.2f}x"]))
PY
