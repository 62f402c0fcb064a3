#!/usr/bin/env bash
# token_index_merge_pid_files on 100 per-process files of 10,000 entries
# (10 with SIZE=small): new build against baseline, and the limit probe.
#   bench/perf/token_merge.sh <new_build_dir> <baseline_build_dir> <work_dir>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
mkdir -p "$3"
exec /usr/bin/python3 "$here/token_fold.py" bench merge "$1" "$2" "$3"
