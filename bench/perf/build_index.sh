#!/usr/bin/env bash
# build_index, new build against baseline (see build_index.py).
# Usage: bench/perf/build_index.sh <new_build_dir> <baseline_build_dir> <work_dir>
set -euo pipefail
mkdir -p "$3"
exec /usr/bin/python3 "$(dirname "$0")/build_index.py" "$1" "$2" "$3"
