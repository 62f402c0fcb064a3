#!/usr/bin/env bash
# Builds the module and runs every test (GoogleTest units and pytest) through
# CTest. In CI (CI=true) they run again against a build with only the code
# every x86-64 CPU runs; in CI, or with ZR_SANITIZE_TESTS=1, once more against
# a build with the address and undefined-behaviour sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
ctest --test-dir "${ZR_BUILD_DIR:-build}" --output-on-failure

if [ "${CI:-}" = "true" ]; then
  echo "== again with only the routines every x86-64 CPU runs"
  bash scripts/check_isa.sh "${ZR_BUILD_DIR:-build}"
  ZR_BUILD_DIR=build-portable ZR_CMAKE_ARGS="-DZR_PORTABLE_ONLY=ON -DZR_BUILD_BENCH=OFF" bash scripts/setup.sh
  bash scripts/check_isa.sh build-portable
  ctest --test-dir build-portable --output-on-failure
fi

if [ "${CI:-}" = "true" ] || [ "${ZR_SANITIZE_TESTS:-0}" = "1" ]; then
  echo "== again under the address and undefined-behaviour sanitizers"
  ZR_BUILD_DIR=build-asan ZR_CMAKE_ARGS="-DZR_SANITIZE=ON -DZR_BUILD_BENCH=OFF" bash scripts/setup.sh
  ctest --test-dir build-asan --output-on-failure
fi
