#!/usr/bin/env bash
# Runs every hot-path benchmark and prints one table:
#
#   path | work | time | limit probe | ratio to limit | speed-up
#
# "limit probe" is the unavoidable part of the same work, measured on the same
# input in the same run (reading and writing the bytes, SHA-256 of them, the
# system calls the file format requires); "ratio to limit" is time / limit, so
# 1.00 would be a path that does nothing but that. "speed-up" is the time of
# the baseline build divided by the time of this tree's build, both measured by
# the same script in the same run.
#
# The baseline is another commit of this repository (by default the one the
# hot-path work started from), exported and built beside this tree. Both
# builds are cached, so later runs only rebuild what changed.
#
#   bash bench/run_all.sh                      # every benchmark, full size
#   SIZE=small bash bench/run_all.sh           # quick look, about a minute each
#   bash bench/run_all.sh line_hash purge      # only these (names in bench/perf/)
#
# Environment:
#   ZR_BENCH_BASE_REV     baseline commit (default below)
#   ZR_BENCH_BASE_BUILD   an existing baseline build directory to use instead
#   ZR_BENCH_BUILD        build directory of this tree (default build-bench)
#   ZR_BENCH_WORK         scratch directory for generated inputs (default /tmp/zr-bench)
#
# Run it on an otherwise idle machine: every figure is a wall-clock or CPU
# time, and the speed-up column is only fair when both sides ran alike.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

base_rev=${ZR_BENCH_BASE_REV:-2044670}
build=${ZR_BENCH_BUILD:-build-bench}
work=${ZR_BENCH_WORK:-/tmp/zr-bench}
mkdir -p "$work"

bash scripts/apt_install.sh cmake ninja-build g++ python3 python3-dev libssl-dev libsimdjson-dev >&2

configure_and_build() {  # source_dir build_dir
  if [ ! -f "$2/build.ninja" ]; then
    cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DZR_BUILD_TESTS=OFF -DZR_BUILD_BENCH=ON >&2
  fi
  cmake --build "$2" -j "$(nproc)" >&2
}

echo "building this tree into $build" >&2
configure_and_build "$root" "$build"

if [ -n "${ZR_BENCH_BASE_BUILD:-}" ]; then
  base_build=$ZR_BENCH_BASE_BUILD
else
  base_src="$work/baseline-$base_rev/src"
  base_build="$work/baseline-$base_rev/build"
  if [ ! -f "$base_src/CMakeLists.txt" ]; then
    echo "exporting baseline $base_rev into $base_src" >&2
    mkdir -p "$base_src"
    git archive "$base_rev" | tar -x -C "$base_src"
  fi
  echo "building baseline $base_rev into $base_build" >&2
  configure_and_build "$base_src" "$base_build"
fi

scripts=()
if [ "$#" -gt 0 ]; then
  for name in "$@"; do scripts+=("bench/perf/$name.sh"); done
else
  scripts=(bench/perf/*.sh)
fi

rows=$(mktemp)
trap 'rm -f "$rows"' EXIT
failed=0
for script in "${scripts[@]}"; do
  name=$(basename "$script" .sh)
  echo "== $name" >&2
  mkdir -p "$work/$name"
  if ! bash "$script" "$root/$build" "$base_build" "$work/$name" | grep '^ROW' >>"$rows"; then
    echo "!! $name failed" >&2
    failed=1
  fi
done

/usr/bin/python3 - "$rows" <<'PY'
import sys

header = ("path", "work", "time", "limit probe", "ratio to limit", "speed-up")
rows = [line.rstrip("\n").split("\t")[1:7] for line in open(sys.argv[1]) if line.strip()]
rows = [r + [""] * (6 - len(r)) for r in rows]
widths = [max(len(str(c)) for c in col) for col in zip(header, *rows)]
def show(cells):
    print(" | ".join(str(c).ljust(w) for c, w in zip(cells, widths)).rstrip())
show(header)
print("-+-".join("-" * w for w in widths))
for r in rows:
    show(r)
PY
exit "$failed"
