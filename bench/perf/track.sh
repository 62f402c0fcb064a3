#!/usr/bin/env bash
# track from Python, with a token count and tokenizer, per call in CPU time,
# against its floor measured in the same process: json.dumps of the record
# plus two open-append-close calls writing lines of the same lengths (see
# bench/track_calls_bench.py). Both builds run in alternating processes,
# each keeping its best.
#
#   bench/perf/track.sh <new_build_dir> <baseline_build_dir> <work_dir>
#
# Prints one ROW line (see bench/run_all.sh); SIZE=small for a quick run.
set -euo pipefail
cd "$(dirname "$0")/../.."
source bench/harness.sh
bench_sides "$@"
calls=20000 rounds=3 processes=3
if small; then calls=5000 rounds=2 processes=2; fi

track_calls() {  # build
  TMPDIR="$work" PYTHONPATH="$1/python" "${pin[@]}" /usr/bin/python3 bench/track_calls_bench.py "$calls" "$rounds"
}
alternate "$processes" track_calls

/usr/bin/python3 - "${results[@]}" <<'PY'
import sys

best = {}
for entry in sys.argv[1:]:
    side, *pairs = entry.split()
    values = dict(p.split("=", 1) for p in pairs if "=" in p)
    calls = values["calls"]
    cur = best.setdefault(side, {"native": float("inf"), "floor": float("inf")})
    cur["native"] = min(cur["native"], float(values["native_us"]))
    cur["floor"] = min(cur["floor"], float(values["floor_us"]))
new, base = best["new"], best["base"]
print(f"track: new {1e6 / new['native']:.0f} calls/s, baseline {1e6 / base['native']:.0f} calls/s; "
      f"floor {new['floor']:.2f} us/call", file=sys.stderr)
print("\t".join(["ROW", "track (from Python), 1 core", f"{calls} calls, token entry included",
                 f"{new['native']:.2f} us/call CPU", f"{new['floor']:.2f} us/call CPU (json.dumps + 2 appends)",
                 f"{new['native'] / new['floor']:.2f}", f"{base['native'] / new['native']:.2f}x"]))
PY
