"""The type stubs shipped with the package: one documented stub per function of each module."""

import ast
import inspect
import pathlib

import pytest

import _zr_bulk
import _zr_native as zr

STUBS = pathlib.Path(__file__).resolve().parents[2] / "stubs"


def stub_functions(module):
    stub = STUBS / f"{module.__name__}-stubs" / "__init__.pyi"
    tree = ast.parse(stub.read_text(encoding="utf-8"))
    return {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}


@pytest.mark.parametrize("module", [zr, _zr_bulk], ids=lambda m: m.__name__)
def test_every_function_has_a_stub_with_its_parameters_and_a_docstring(module):
    stubs = stub_functions(module)
    public = {name for name in dir(module) if not name.startswith("_")}
    assert stubs.keys() == public
    for name, node in stubs.items():
        stub_params = [arg.arg for arg in node.args.args]
        assert stub_params == list(inspect.signature(getattr(module, name)).parameters), name
        assert all(arg.annotation is not None for arg in node.args.args) and node.returns is not None, name
        assert ast.get_docstring(node), name


@pytest.mark.parametrize("module,name", [(zr, "blame_diff"), (_zr_bulk, "track_lines")])
def test_stub_docstring_opens_with_the_modules_own(module, name):
    runtime = getattr(module, name).__doc__
    assert runtime and ast.get_docstring(stub_functions(module)[name]).startswith(runtime)
