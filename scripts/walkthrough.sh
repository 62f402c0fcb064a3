#!/usr/bin/env bash
# Builds the module (and nothing else) and walks through it on the bundled
# sample data.
set -euo pipefail
cd "$(dirname "$0")/.."
module=(build/python/_zr_native.*.so)
if [ ! -f "${module[0]}" ]; then
  echo "First build of the module: about two minutes on two cores (later runs rebuild only what changed)."
  started=$SECONDS
  bash scripts/setup.sh module
  echo "Module built in $((SECONDS - started)) s."
else
  bash scripts/setup.sh module
fi
PYTHONPATH="$PWD/build/python" /usr/bin/python3 examples/walkthrough.py "$@"
