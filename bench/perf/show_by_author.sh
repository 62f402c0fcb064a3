#!/usr/bin/env bash
# show_by_author on a store of 1,000,000 tracked lines and 10,000 sections,
# for an author whose lines sit in (nearly) every one of the 256 document
# shards and for one whose lines sit in 7: wall time of the index.bin path,
# this build against the baseline, alternating so that load on the machine
# hits both alike. The limit probe of each row is reading the bytes of the
# document shards that hold the author's lines, which the index path must
# read. The scan path (index.bin moved aside; worker pool at its default, one
# thread per logical processor) is timed with this build too and printed on
# stderr: the index path must be at least as fast for the spread author and
# at least 15x faster for the narrow one.
#
#   bench/perf/show_by_author.sh <build> <baseline build> <work dir>
set -euo pipefail
cd "$(dirname "$0")"
source ../harness.sh
bench_sides "$@"
lines=1000000 runs=5
if small; then lines=100000 runs=3; fi
root="$work/store-$lines"

helper() {  # build args...
  PYTHONPATH="$1/python" /usr/bin/python3 show_by_author.py "${@:2}"
}
# Prints: seconds, -, digest of the lines found, their count.
time_author() {  # build author
  helper "$1" time "$root" "$2" "$runs"
}

helper "$new" make "$root" "$lines"
for author in "Spread Author" "Narrow Author"; do
  alternate 3 time_author "$author"
  new_best=$(best_field new 1) base_best=$(best_field base 1)
  new_digest=$(last_field new 3) count=$(last_field new 4)
  same_output "$(last_field base 3)" "$new_digest" "show_by_author: the builds disagree for $author"
  read -r probe shards _ < <(helper "$new" read "$root" "$author")
  mv "$root/.zr/index.bin" "$root/.zr/index.bin.aside"
  scan_best=inf
  for _ in 1 2 3; do
    read -r t _ scan_digest _ < <(time_author "$new" "$author")
    scan_best=$(lower "$scan_best" "$t")
  done
  mv "$root/.zr/index.bin.aside" "$root/.zr/index.bin"
  same_output "$scan_digest" "$new_digest" "show_by_author: index and scan paths disagree for $author"
  /usr/bin/python3 - "$author" "$lines" "$shards" "$count" "$new_best" "$probe" "$base_best" "$scan_best" <<'PY'
import sys
author, lines, shards, count = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
new, limit, base, scan = map(float, sys.argv[5:])
print(f"show_by_author {author}: index path {new * 1e3:.1f} ms, scan path {scan * 1e3:.1f} ms "
      f"(index path {scan / new:.1f}x faster)", file=sys.stderr)
print(f"ROW\tshow_by_author index.bin ({shards} shards)\t{lines:,} lines, {count} found\t{new * 1e3:.1f} ms"
      f"\t{limit * 1e3:.1f} ms (read the {shards} shards)\t{new / limit:.2f}\t{base / new:.2f}x")
PY
done
