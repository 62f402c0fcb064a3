#!/usr/bin/env bash
# merge_absorb: CPU time of absorbing a store of 400,000 tracked lines (with
# their 400,000 merged token entries, 2,000 sections and 200 authors) into an
# empty store, the attribution index build it ends with included; this build
# against the baseline, alternating so that load on the machine hits both
# alike. The limit probe reads every file of the source's layers and writes
# the same bytes to new files (the copy's input and output, nothing more).
#
#   bench/perf/merge_absorb.sh <build> <baseline build> <work dir>
set -euo pipefail
cd "$(dirname "$0")"
source ../harness.sh
bench_sides "$@"
lines=400000 runs=1
if small; then lines=40000 runs=2; fi
root="$work/source-$lines"

helper() {  # build args...
  PYTHONPATH="$1/python" /usr/bin/python3 merge_absorb.py "${@:2}"
}

helper "$new" make "$root" "$lines"
alternate 2 helper time "$root" "$runs"  # prints: CPU seconds, records copied
new_best=$(best_field new 1) base_best=$(best_field base 1)
new_count=$(last_field new 2) base_count=$(last_field base 2)
same_output "$base_count" "$new_count" "merge_absorb: the builds copied $base_count and $new_count records"
probe=$(helper "$new" probe "$root" 3)
echo "merge_absorb: $new_count records copied; CPU $new_best s (baseline $base_best s); probe $probe s" >&2
/usr/bin/python3 - "$lines" "$new_best" "$probe" "$base_best" <<'PY'
import sys
lines, new, limit, base = int(sys.argv[1]), *map(float, sys.argv[2:])
print(f"ROW\tmerge_absorb\t{lines:,}-line store into an empty one\t{new:.3f} s CPU"
      f"\t{limit:.3f} s (read + write the source's bytes)\t{new / limit:.2f}\t{base / new:.2f}x")
PY
