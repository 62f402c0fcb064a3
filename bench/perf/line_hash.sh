#!/usr/bin/env bash
# Line hashing (the per-line cost of purge, track, compute_hash and blame):
# parse + compact text + SHA-256 of every line of a generated corpus, on one
# core, in CPU time, against raw SHA-256 of the same line bytes (the floor of
# any line hash) measured by the same program in the same pass.
#
#   bench/perf/line_hash.sh <new_build_dir> <baseline_build_dir> <work_dir>
#
# Prints one ROW line (see bench/run_all.sh); SIZE=small for a quick run.
set -euo pipefail
source "$(dirname "$0")/../harness.sh"
bench_sides "$@"
size_mb=64 runs=5 rounds=3
if small; then size_mb=16 runs=3 rounds=2; fi

corpus="$work/line-hash-$size_mb.jsonl"
[ -f "$corpus" ] || "$new/line_hash_bench" --generate "$corpus" --size-mb "$size_mb"

hash_corpus() {  # build
  "${pin[@]}" "$1/line_hash_bench" --corpus "$corpus" --runs "$runs"
}
alternate "$rounds" hash_corpus

/usr/bin/python3 - "$size_mb" "${results[@]}" <<'PY'
import sys

best = {}
lines = None
for entry in sys.argv[2:]:
    side, *pairs = entry.split()
    values = dict(p.split("=", 1) for p in pairs if "=" in p)
    mb = int(values["corpus_bytes"]) / 1e6
    lines = values["lines"]
    a, b = float(values["a_mbps"]), float(values["b_mbps"])
    cur = best.setdefault(side, {"a": 0.0, "b": 0.0})
    cur["a"], cur["b"] = max(cur["a"], a), max(cur["b"], b)
new_s = mb / best["new"]["a"]
base_s = mb / best["base"]["a"]
sha_s = mb / best["new"]["b"]
print(f"line hashing: new {best['new']['a']:.0f} MB/s, baseline {best['base']['a']:.0f} MB/s, "
      f"raw SHA-256 {best['new']['b']:.0f} MB/s; new/SHA = {best['new']['a'] / best['new']['b']:.2f}",
      file=sys.stderr)
print("\t".join(["ROW", "line hashing, 1 core", f"{mb:.0f} MB, {lines} lines", f"{new_s:.3f} s CPU",
                 f"{sha_s:.3f} s CPU (SHA-256)", f"{new_s / sha_s:.2f}", f"{base_s / new_s:.2f}x"]))
PY
