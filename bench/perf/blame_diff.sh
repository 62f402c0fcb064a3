#!/usr/bin/env bash
# blame_diff: CPU time of one call on the benchmark's cases, this build
# against the baseline, alternating so that load on the machine hits both
# alike; the limit probe is the argument conversion alone (the same lists
# with the other side empty), which every call pays. Then both builds diff
# the same random inputs and every output is compared.
#
#   bench/perf/blame_diff.sh <build> <baseline build> <work dir>
set -euo pipefail
cd "$(dirname "$0")/.."
source harness.sh
bench_sides "$@"
rounds=15 inputs=100000
if small; then rounds=5 inputs=20000; fi

run() {  # build args...
  PYTHONPATH="$1/python:." /usr/bin/python3 blame_diff_compare.py "${@:2}"
}

for case in one-shared disjoint one-percent; do
  alternate 3 run time "$case" "$rounds"  # prints: CPU seconds, argument conversion seconds
  new_best=$(best_field new 1) base_best=$(best_field base 1) conversion=$(last_field new 2)
  /usr/bin/python3 - "$case" "$new_best" "$conversion" "$base_best" <<'PY'
import sys
case, new, limit, base = sys.argv[1], *map(float, sys.argv[2:])
work = {"one-shared": "2,000 vs 2,000 lines, one shared", "disjoint": "2,000 vs 2,000 lines, none shared",
        "one-percent": "20,000 lines, 1% changed"}[case]
print(f"ROW\tblame_diff {case}\t{work}\t{new * 1e3:.2f} ms CPU\t{limit * 1e3:.2f} ms (argument conversion)"
      f"\t{new / limit:.2f}\t{base / new:.2f}x")
PY
done

run "$base" digest "$inputs" 1 >"$work/base.txt"
run "$new" digest "$inputs" 1 >"$work/new.txt"
differing=$(diff "$work/base.txt" "$work/new.txt" | grep -c '^>' || true)
echo "blame_diff: $inputs random inputs, $differing outputs differ from the baseline" >&2
[ "$differing" -eq 0 ]
