#!/usr/bin/env bash
# Tracking on a local Dask cluster of 1 and 2 workers over a generated corpus
# of 2 million lines (SIZE=small: 200,000): lines per second, the share and
# CPU per record of each phase, the speed-up of 2 workers over 1; the
# client's peak memory on 1 and 4 million lines (SIZE=small: 100,000 and
# 400,000) and one merging task's memory per record. Wall-clock and memory
# figures: run it on an otherwise idle machine.
#
# Usage: bench/run_cluster.sh [build_dir=build] [work_dir=/tmp/zr-cluster-bench]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${1:-build}"
work_dir="${2:-/tmp/zr-cluster-bench}"
PYTHONPATH="$build_dir/python" /usr/bin/python3 bench/cluster_bench.py --work "$work_dir"
