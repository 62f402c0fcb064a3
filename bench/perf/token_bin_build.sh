#!/usr/bin/env bash
# Token binary index build, new build against baseline (see token_bin_build.py).
# Usage: bench/perf/token_bin_build.sh <new_build_dir> <baseline_build_dir> <work_dir>
set -euo pipefail
mkdir -p "$3"
exec /usr/bin/python3 "$(dirname "$0")/token_bin_build.py" "$1" "$2" "$3"
