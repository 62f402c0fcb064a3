#!/usr/bin/env bash
# Installs what the build needs (Debian packages), then configures and builds
# into ./build. Safe to run again: it only installs what is missing and
# rebuilds what changed.
#
#   bash scripts/setup.sh          everything: module, unit tests, benchmarks
#   bash scripts/setup.sh module   the Python module alone (what the walkthrough runs)
set -euo pipefail
cd "$(dirname "$0")/.."
what="${1:-all}"

module_packages=(cmake ninja-build g++ python3 python3-dev libssl-dev libsimdjson-dev)
test_packages=(python3-pytest python3-hypothesis libgtest-dev python3-dask python3-distributed)
build_dir="${ZR_BUILD_DIR:-build}"

if [ "$what" = module ]; then
  bash scripts/apt_install.sh "${module_packages[@]}"
  if [ ! -f "$build_dir/build.ninja" ]; then
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DZR_BUILD_TESTS=OFF -DZR_BUILD_BENCH=OFF ${ZR_CMAKE_ARGS:-}
  fi
  cmake --build "$build_dir" -j "$(nproc)" --target _zr_native
  exit 0
fi

bash scripts/apt_install.sh "${module_packages[@]}" "${test_packages[@]}"
if [ ! -f "$build_dir/build.ninja" ]; then
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${ZR_CMAKE_ARGS:-}
elif grep -q '^ZR_BUILD_TESTS:BOOL=OFF' "$build_dir/CMakeCache.txt"; then
  # Configured by the walkthrough for the module alone: add the rest.
  cmake -S . -B "$build_dir" -DZR_BUILD_TESTS=ON -DZR_BUILD_BENCH=ON ${ZR_CMAKE_ARGS:-}
fi
cmake --build "$build_dir" -j "$(nproc)"
