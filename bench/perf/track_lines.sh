#!/usr/bin/env bash
# _zr_bulk.track_lines from Python, with token counts and a tokenizer, per
# line in CPU time, against its floor measured in the same run: SHA-256 of
# each line's canonical bytes plus one append per shard per batch, in C++
# (see bench/track_lines_bench.py and track_lines_floor_bench.cc). The baseline build has no bulk path, so the
# speed-up column compares with the per-line loop (json.loads + track) of
# this build, run on the same lines in the same process.
#
#   bench/perf/track_lines.sh <new_build_dir> <baseline_build_dir> <work_dir>
#
# Prints one ROW line (see bench/run_all.sh); SIZE=small for a quick run.
set -euo pipefail
cd "$(dirname "$0")/../.."
source bench/harness.sh
bench_sides "$@"
lines=1000000 rounds=2
if small; then lines=100000 rounds=2; fi

out=$(TMPDIR="$work" PYTHONPATH="$new/python" "${pin[@]}" /usr/bin/python3 bench/track_lines_bench.py "$lines" "$rounds")

/usr/bin/python3 - "$out" <<'PY'
import sys

values = dict(line.split("=", 1) for line in sys.argv[1].split() if "=" in line)
bulk, loop, floor = (float(values[k]) for k in ("bulk_us", "loop_us", values["floor"] + "_us"))
print(f"track_lines: {bulk:.2f} us/line, loop {loop:.2f} us/line, floor {floor:.2f} us/line", file=sys.stderr)
print("\t".join(["ROW", "track_lines (from Python), 1 core", f"{values['lines']} lines, token entries included",
                 f"{bulk:.2f} us/line CPU",
                 f"{floor:.2f} us/line CPU (SHA-256 + 1 append per shard per batch, {values['floor']})",
                 f"{bulk / floor:.2f}", f"{loop / bulk:.2f}x vs per-line loop"]))
PY
