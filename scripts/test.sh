#!/usr/bin/env bash
# Builds the module, checks that no source folder uses one above it, and runs
# every test (GoogleTest units and pytest) through CTest. In CI (CI=true), or
# with ZR_PACKAGE_TESTS=1, the suite then runs again against the module
# installed from a wheel into a fresh virtual environment, with the type stubs
# checked. In CI it runs again against a build with only the code every x86-64
# CPU runs. In CI, or with ZR_SANITIZE_TESTS=1, the same tests then run again
# against a build with the address and undefined-behaviour sanitizers; in CI
# each fuzz target (scripts/fuzz.sh) then runs for a minute.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
/usr/bin/python3 scripts/check_layers.py "${ZR_BUILD_DIR:-build}"
ctest --test-dir "${ZR_BUILD_DIR:-build}" --output-on-failure

if [ "${CI:-}" = "true" ] || [ "${ZR_PACKAGE_TESTS:-0}" = "1" ]; then
  echo "== again against the installed package"
  started=$SECONDS
  bash scripts/check_package.sh
  echo "== package checks took $((SECONDS - started)) s"
fi

if [ "${CI:-}" = "true" ]; then
  echo "== again with only the routines every x86-64 CPU runs"
  started=$SECONDS
  bash scripts/check_isa.sh "${ZR_BUILD_DIR:-build}"
  ZR_BUILD_DIR=build-portable ZR_CMAKE_ARGS="-DZR_PORTABLE_ONLY=ON -DZR_BUILD_BENCH=OFF" bash scripts/setup.sh
  bash scripts/check_isa.sh build-portable
  ctest --test-dir build-portable --output-on-failure
  echo "== portable build and tests took $((SECONDS - started)) s"
fi

if [ "${CI:-}" = "true" ] || [ "${ZR_SANITIZE_TESTS:-0}" = "1" ]; then
  echo "== again under the address and undefined-behaviour sanitizers"
  ZR_BUILD_DIR=build-asan ZR_CMAKE_ARGS="-DZR_SANITIZE=ON -DZR_BUILD_BENCH=OFF" bash scripts/setup.sh
  ctest --test-dir build-asan --output-on-failure
fi

if [ "${CI:-}" = "true" ]; then
  echo "== fuzz targets, 60 seconds each"
  started=$SECONDS
  bash scripts/fuzz.sh 60
  echo "== fuzz build and runs took $((SECONDS - started)) s"
fi
