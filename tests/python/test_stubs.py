"""The type stubs shipped with the package: one documented stub per function."""

import ast
import inspect
import pathlib

import _zr_native as zr

STUB = pathlib.Path(__file__).resolve().parents[2] / "stubs" / "_zr_native-stubs" / "__init__.pyi"


def stub_functions():
    tree = ast.parse(STUB.read_text(encoding="utf-8"))
    return {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}


def test_every_function_has_a_stub_with_its_parameters_and_a_docstring():
    stubs = stub_functions()
    public = {name for name in dir(zr) if not name.startswith("_")}
    assert stubs.keys() == public
    for name, node in stubs.items():
        stub_params = [arg.arg for arg in node.args.args]
        assert stub_params == list(inspect.signature(getattr(zr, name)).parameters), name
        assert all(arg.annotation is not None for arg in node.args.args) and node.returns is not None, name
        assert ast.get_docstring(node), name


def test_stub_docstring_of_blame_diff_opens_with_the_modules_own():
    runtime = zr.blame_diff.__doc__
    assert runtime and ast.get_docstring(stub_functions()["blame_diff"]).startswith(runtime)
