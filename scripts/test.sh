#!/usr/bin/env bash
# Builds the module and runs every test (GoogleTest units and pytest) through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
ctest --test-dir "${ZR_BUILD_DIR:-build}" --output-on-failure
