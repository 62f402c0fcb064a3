#!/usr/bin/env bash
# Builds the module and walks through it on the bundled sample data.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
PYTHONPATH="$PWD/build/python" /usr/bin/python3 examples/walkthrough.py "$@"
