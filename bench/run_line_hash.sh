#!/usr/bin/env bash
# The line-hash benchmark: builds it, generates its corpus, runs the native
# measurements (a) and (b) and the pure-Python baseline (c) on the same file,
# on one core, and prints them side by side.
#
#   bench/run_line_hash.sh            # 64 MB corpus, build directory "build"
#                                     # (configured as Release if new)
#   SIZE_MB=100 ZR_BUILD_DIR=build-x bench/run_line_hash.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/harness.sh

build=${ZR_BUILD_DIR:-build}
size_mb=${SIZE_MB:-64}
runs=${RUNS:-10}
work=$(mktemp -d "${TMPDIR:-/tmp}/zr-line-hash.XXXXXX")
trap 'rm -rf "$work"' EXIT

build_targets "$build" line_hash_bench

corpus="$work/corpus.jsonl"
"$build/line_hash_bench" --generate "$corpus" --size-mb "$size_mb"

native=$("${pin[@]}" "$build/line_hash_bench" --corpus "$corpus" --runs "$runs" --hashes-out "$work/hashes.txt")
status=0
python=$("${pin[@]}" /usr/bin/python3 bench/line_hash_baseline.py "$corpus" --hashes "$work/hashes.txt") || status=$?

/usr/bin/python3 - "$native" "$python" <<'EOF'
import sys

values = {}
for line in (sys.argv[1] + "\n" + sys.argv[2]).splitlines():
    key, _, value = line.partition("=")
    values[key] = value
a, b, c = (float(values[k]) for k in ("a_mbps", "b_mbps", "c_mbps"))
print(f"corpus: {int(values['corpus_bytes']) / 1e6:.1f} MB, {values['lines']} lines; "
      f"heap allocations in (a): {values['allocations_first_pass']} in the first pass, "
      f"{values['allocations_per_warm_pass']} in a warm pass")
print(f"hash check: {values['checked_lines']} lines against the native float form, "
      f"{values['checked_with_python_rule']} of them also against Python's own text; "
      f"mismatches: {values['mismatches']}")
print()
print(f"{'':44}{'MB/s':>10}")
print(f"{'(a) parse + compact write + SHA-256':44}{a:>10.1f}")
print(f"{'(b) raw SHA-256 of the line bytes':44}{b:>10.1f}")
print(f"{'(c) Python json.loads + json.dumps + sha256':44}{c:>10.1f}")
print()
print(f"a/b = {a / b:.2f}  (target >= 0.40)")
print(f"a/c = {a / c:.1f}x  (target >= 8x)")
EOF
exit "$status"
