#!/usr/bin/env bash
# clean on a store holding 100 per-process token files of 10,000 entries
# (10 with SIZE=small): the fold plus the token binary index build, new build
# against baseline, and the limit probe.
#   bench/perf/clean.sh <new_build_dir> <baseline_build_dir> <work_dir>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
mkdir -p "$3"
exec /usr/bin/python3 "$here/token_fold.py" bench clean "$1" "$2" "$3"
