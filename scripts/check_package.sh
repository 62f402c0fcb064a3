#!/usr/bin/env bash
# Checks the module as users get it: builds the wheel, installs it into a fresh
# virtual environment, runs the Python suite against the installed modules
# (_zr_native and its companion _zr_bulk, not ./build), checks that the
# cluster package zr_cluster is installed beside them with its type marker
# and its command zr-cluster, checks the stubs
# against the modules (stubtest) and type-checks the examples, the stub usage
# cases and zr_cluster with mypy.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/apt_install.sh cmake ninja-build g++ python3-dev libssl-dev libsimdjson-dev \
  python3-setuptools python3-wheel python3-pip python3-venv python3-mypy python3-pytest python3-hypothesis \
  python3-dask python3-distributed
unset PYTHONPATH
export PYTHONDONTWRITEBYTECODE=1
work="${ZR_PACKAGE_DIR:-build-package-check}"
rm -rf "$work"

echo "== wheel"
/usr/bin/python3 -m pip wheel --no-build-isolation --no-index --no-deps --wheel-dir "$work/wheels" .
/usr/bin/python3 -m venv --system-site-packages "$work/venv"
python="$work/venv/bin/python"
"$python" -m pip install --no-index --no-deps "$work"/wheels/*.whl

echo "== the cluster package installed beside the module"
# An absolute path, not a resolved one: the venv's interpreter is a link to the
# system one, which would not see the venv's packages.
installed_python="$(cd "$(dirname "$python")" && pwd)/$(basename "$python")"
(cd / && "$installed_python" -c '
import os, sys, zr_cluster
assert zr_cluster.__file__.startswith(sys.prefix + "/"), zr_cluster.__file__
print("cluster package:", zr_cluster.__file__)
typed = os.path.join(os.path.dirname(zr_cluster.__file__), "py.typed")
assert os.path.isfile(typed), "no py.typed: type checkers would ignore the annotations of zr_cluster"')

echo "== the command zr-cluster"
# Run from /, so that only the installed package can answer.
shown="$(cd / && "$(dirname "$installed_python")/zr-cluster" --version)"
expected="zr-cluster $(cd / && "$installed_python" -c 'from importlib.metadata import version; print(version("zr-native"))')"
echo "$shown"
[ "$shown" = "$expected" ] || { echo "zr-cluster --version printed '$shown', not '$expected'" >&2; exit 1; }

echo "== Python suite against the installed module"
# Given as -c, not on standard input: the cluster tests start worker processes
# that re-run the parent's main script, and standard input cannot be re-run.
"$python" -c '
import sys
import _zr_bulk
import _zr_native
import pytest
for module in (_zr_native, _zr_bulk):
    print("module under test:", module.__file__)
    assert module.__file__.startswith(sys.prefix + "/"), "the suite must import the installed modules"
sys.exit(pytest.main(["-q", "-p", "no:cacheprovider", "tests/python"]))
'

echo "== stubs"
"$python" -m mypy.stubtest _zr_native _zr_bulk
"$python" -m mypy examples tests/typing zr_cluster
