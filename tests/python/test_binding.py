"""How Python calls reach the native core: binding, conversion, results, errors."""

import collections
import errno
import inspect
import json
import math
import os
import pathlib
import types

import pytest

import _zr_native as zr

FUNCTIONS = {
    "init": "(zr_dir)",
    "jsonl_read": "(path)",
    "jsonl_append": "(path, record)",
    "shard_path_str": "(zr_dir, layer, hash_hex)",
    "shard_read": "(zr_dir, layer, hash_hex)",
    "shard_iterate_all": "(zr_dir, layer)",
    "compute_hash": "(data)",
    "oplog_append": "(zr_dir, operation, detail)",
    "index_document": "(zr_dir, line_hash, file, sources, source_type='track')",
    "lookup_document": "(zr_dir, line_hash)",
    "read_all_documents": "(zr_dir)",
    "track": "(data, file, sources, zr_dir, token_count=None, tokenizer=None)",
    "blame": "(zr_dir, file, line_content)",
    "author_add": "(name, email, zr_dir)",
    "author_query": "(zr_dir, name, email)",
    "register_section": "(path, authors, contributors, license, year, zr_dir)",
    "build_index": "(zr_dir)",
    "show_by_author": "(zr_dir, author_name)",
    "show_by_license": "(zr_dir, license)",
    "show_by_section": "(zr_dir, section_hash)",
    "revoke_section": "(zr_dir, section_hash, reverse=False)",
    "revoke_manifest": "(zr_dir, line_hash, file, reverse=False)",
    "revoke_by_author": "(zr_dir, author_name, reverse=False)",
    "revoke_by_author_token": "(zr_dir, author_name, tokenizer, reverse=False)",
    "purge_revoked": "(zr_dir, data_file, dry_run)",
    "purge_by_author_indexd": "(zr_dir, author_name, data_file, dry_run)",
    "purge_reverse": "(zr_dir, data_file)",
    "clean": "(zr_dir, split)",
    "merge_absorb": "(source, target)",
    "token_index_write_pid": "(zr_dir, tokenizer, token_count, sources)",
    "token_index_merge_pid_files": "(zr_dir, tokenizer)",
    "token_index_token_status": "(zr_dir, tokenizer)",
    "token_index_list_tokenizers": "(zr_dir)",
    "token_index_revoke_by_sources": "(zr_dir, tokenizer, target_sources)",
    "token_index_build_binary_index": "(zr_dir, tokenizer)",
    "generate_forget_set": "(zr_dir, tokenizer)",
    "write_forget_set": "(path, bitmask)",
    "show_by_author_token": "(zr_dir, author_name, tokenizer)",
}

# The text signature exactly as the interpreter keeps it (defaults as written).
RAW_SIGNATURES = {
    "index_document": '(zr_dir, line_hash, file, sources, source_type="track")',
}


def pid_file(root):
    return root / ".zr" / f"token-index.tok.{os.getpid()}"


# --- the module itself -------------------------------------------------------


def test_module_docstring_is_empty_and_only_functions_are_public():
    assert zr.__doc__ == ""
    public = {name for name in dir(zr) if not name.startswith("_")}
    assert public == FUNCTIONS.keys() | {"blame_diff"}
    for name in public:
        assert callable(getattr(zr, name)), name
        assert not inspect.isclass(getattr(zr, name)), name


@pytest.mark.parametrize("name, params", FUNCTIONS.items())
def test_text_signatures(name, params):
    function = getattr(zr, name)
    assert function.__text_signature__ == RAW_SIGNATURES.get(name, params)
    assert str(inspect.signature(function)) == params
    assert function.__doc__ is None


def test_internal_fault_class_derives_directly_from_base_exception():
    # No Python call can trigger an internal fault on purpose; the class is
    # created with the module, so find it among BaseException's subclasses.
    faults = [c for c in BaseException.__subclasses__() if c.__module__ == "_zr_native"]
    assert len(faults) == 1
    assert faults[0].__bases__ == (BaseException,)
    assert not issubclass(faults[0], Exception)


# --- binding -----------------------------------------------------------------


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: zr.init(), "init() missing 1 required positional argument: 'zr_dir'"),
        (lambda: zr.oplog_append("r"),
         "oplog_append() missing 2 required positional arguments: 'operation' and 'detail'"),
        (lambda: zr.oplog_append(),
         "oplog_append() missing 3 required positional arguments: 'zr_dir', 'operation', and 'detail'"),
        (lambda: zr.oplog_append(detail="d"),
         "oplog_append() missing 2 required positional arguments: 'zr_dir' and 'operation'"),
        (lambda: zr.init("a", "b"), "init() takes 1 positional argument but 2 were given"),
        (lambda: zr.shard_read("a", "b", "c", "d"), "shard_read() takes 3 positional arguments but 4 were given"),
        (lambda: zr.init("a", root="b"), "init() got an unexpected keyword argument 'root'"),
        (lambda: zr.init("a", zr_dir="b"), "init() got multiple values for argument 'zr_dir'"),
        (lambda: zr.shard_path_str("a", "b", "c", layer="d"),
         "shard_path_str() got multiple values for argument 'layer'"),
    ],
)
def test_call_errors_use_the_interpreters_wording(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_call_errors_are_raised_before_anything_is_touched(tmp_path):
    with pytest.raises(TypeError):
        zr.init(str(tmp_path / "root"), unknown=1)
    assert not (tmp_path / "root").exists()


def test_arguments_bind_by_position_or_keyword_in_any_order(tmp_path):
    a, b, c = (str(tmp_path / n) for n in "abc")
    zr.init(a)
    zr.init(zr_dir=b)
    zr.init(c)
    assert zr.shard_path_str(hash_hex="abc", zr_dir=a, layer="authors") == zr.shard_path_str(a, "authors", "abc")
    zr.oplog_append(a, detail="d", operation="op")
    assert (tmp_path / "a" / ".zr" / "log").read_text().endswith(" op d\n")


# --- argument conversion -----------------------------------------------------


class Text(str):
    pass


@pytest.mark.parametrize(
    "bad, message",
    [
        (pathlib.Path("/tmp"), "argument 'zr_dir': "),
        (b"/tmp", "argument 'zr_dir': "),
        (None, "argument 'zr_dir': "),
        (5, "argument 'zr_dir': "),
    ],
)
def test_str_parameters_refuse_other_types_naming_the_parameter(tmp_path, bad, message):
    with pytest.raises(TypeError) as info:
        zr.init(bad)
    assert str(info.value).startswith(message)


def test_str_subclass_is_accepted_and_path_as_str_works(tmp_path):
    zr.init(Text(tmp_path / "one"))
    zr.init(str(pathlib.Path(tmp_path / "two")))
    assert (tmp_path / "one" / ".zr" / "log").is_file()
    assert (tmp_path / "two" / ".zr" / "log").is_file()


def test_lone_surrogate_in_str_raises_unicode_encode_error(tmp_path):
    with pytest.raises(UnicodeEncodeError):
        zr.init(str(tmp_path) + "/\ud800")


def test_str_given_for_a_list_is_refused_with_the_vec_message(tmp_path):
    with pytest.raises(TypeError) as info:
        zr.token_index_write_pid(str(tmp_path), "tok", 1, "abc")
    assert str(info.value) == "argument 'sources': Can't extract `str` to `Vec`"
    assert not (tmp_path / ".zr").exists()


@pytest.mark.parametrize(
    "sources",
    [["a", "b", "a"], ("a", "b", "a"), collections.UserList(["a", "b", "a"]), [Text("a"), "b", "a"]],
)
def test_list_parameters_accept_any_sequence_of_str_keeping_order_and_duplicates(tmp_path, sources):
    zr.token_index_write_pid(str(tmp_path), "tok", 7, sources)
    (line,) = pid_file(tmp_path).read_text().splitlines()
    assert json.loads(line)["sources"] == ["a", "b", "a"]


@pytest.mark.parametrize("sources", [["a", 1], {"a": 1}, 5, {"a"}])
def test_list_parameters_refuse_non_sequences_and_non_str_items(tmp_path, sources):
    with pytest.raises(TypeError) as info:
        zr.token_index_write_pid(str(tmp_path), "tok", 1, sources)
    assert str(info.value).startswith("argument 'sources': ")
    assert not (tmp_path / ".zr").exists()


class Index:
    def __index__(self):
        return 42


@pytest.mark.parametrize("count, stored", [(0, 0), (2**64 - 1, 2**64 - 1), (Index(), 42), (True, 1)])
def test_int_parameters_accept_the_unsigned_64_bit_range_and_index_objects(tmp_path, count, stored):
    zr.token_index_write_pid(str(tmp_path), "tok", count, ["s"])
    (line,) = pid_file(tmp_path).read_text().splitlines()
    assert json.loads(line)["token_count"] == stored


@pytest.mark.parametrize("count", [-1, 2**64, -(2**70)])
def test_int_out_of_range_raises_overflow_error_unchanged(tmp_path, count):
    with pytest.raises(OverflowError) as info:
        zr.token_index_write_pid(str(tmp_path), "tok", count, ["s"])
    assert not str(info.value).startswith("argument")
    assert not (tmp_path / ".zr").exists()


@pytest.mark.parametrize("count", [1.0, "1", None])
def test_int_parameters_refuse_non_integers_naming_the_parameter(tmp_path, count):
    with pytest.raises(TypeError) as info:
        zr.token_index_write_pid(str(tmp_path), "tok", count, ["s"])
    assert str(info.value).startswith("argument 'token_count': ")


@pytest.mark.parametrize(
    "args, error, prefix",
    [
        # The first bad argument in parameter order decides the exception.
        ((5, 5, -1, "s"), TypeError, "argument 'zr_dir': "),
        (("r", 5, -1, "s"), TypeError, "argument 'tokenizer': "),
        (("r", "tok", -1, "s"), OverflowError, ""),
        (("r", "tok", 1, "s"), TypeError, "argument 'sources': "),
    ],
)
def test_arguments_are_converted_strictly_in_parameter_order(args, error, prefix):
    with pytest.raises(error) as info:
        zr.token_index_write_pid(*args)
    assert type(info.value) is error
    assert str(info.value).startswith(prefix)


# --- the json kind -----------------------------------------------------------


def circular():
    value = []
    value.append(value)
    return value


@pytest.mark.parametrize(
    "value, error",
    [
        (object(), TypeError),
        ({"a": {1, 2}}, TypeError),
        ({(1, 2): 3}, TypeError),
        (b"bytes", TypeError),
        (circular(), ValueError),
    ],
)
def test_json_dumps_exceptions_pass_through_unchanged(value, error):
    with pytest.raises(error) as info:
        zr.compute_hash(value)
    try:
        json.dumps(value)
    except error as expected:
        assert str(info.value) == str(expected)
    assert not str(info.value).startswith("argument")


@pytest.mark.parametrize(
    "value, column",
    [(math.nan, 1), (math.inf, 1), (-math.inf, 2), ([1, math.nan], 5), ({"a": math.inf}, 7)],
)
def test_non_finite_floats_raise_runtime_error_naming_line_and_column(value, column):
    with pytest.raises(RuntimeError) as info:
        zr.compute_hash(value)
    assert f"line 1 column {column}" in str(info.value)


def test_json_argument_is_converted_after_the_arguments_before_it(tmp_path):
    with pytest.raises(TypeError) as info:
        zr.jsonl_append(5, object())
    assert str(info.value).startswith("argument 'path': ")


@pytest.mark.parametrize(
    "value, text",
    [
        ({1: (1, 2), None: True, 2.5: None}, '{"1":[1,2],"2.5":null,"null":true}'),
        # A tuple is one argument to json.dumps, not its argument list.
        ((), "[]"),
        (("a",), '["a"]'),
        (("a", "b", "c"), '["a","b","c"]'),
        (Text("s"), '"s"'),
    ],
)
def test_json_argument_goes_through_json_dumps_rules(tmp_path, value, text):
    path = tmp_path / "x.jsonl"
    zr.jsonl_append(str(path), value)
    assert path.read_text() == text + "\n"


def test_too_deep_json_argument_is_a_runtime_error():
    value = []
    for _ in range(200):
        value = [value]
    with pytest.raises(RuntimeError) as info:
        zr.compute_hash(value)
    assert "line 1 column" in str(info.value)


# --- results -----------------------------------------------------------------


def read_back(tmp_path, text):
    path = tmp_path / "values.jsonl"
    path.write_bytes(text.encode())
    return zr.jsonl_read(str(path))


@pytest.mark.parametrize(
    "text, value, kind",
    [
        ("18446744073709551615", 18446744073709551615.0, float),
        ("9223372036854775808", 9223372036854775808.0, float),
        ("9223372036854775807", 9223372036854775807, int),
        ("-9223372036854775808", -9223372036854775808, int),
        ("-9223372036854775809", -9223372036854775809.0, float),
        ("100000000000000000000000", 1e23, float),
        ("0", 0, int),
        ("-0", 0, int),
        ("-0.0", -0.0, float),
        ("-0E+0", -0.0, float),
        ("2.5", 2.5, float),
        ("1E2", 100.0, float),
        ("true", True, bool),
        ("null", None, type(None)),
        ('"\\u00e9"', "é", str),
    ],
)
def test_json_to_python_rule_for_scalars(tmp_path, text, value, kind):
    (result,) = read_back(tmp_path, text + "\n")
    assert type(result) is kind
    assert result == value
    if kind is float:
        assert math.copysign(1, result) == math.copysign(1, value)


def test_object_keys_come_back_in_ascending_byte_order(tmp_path):
    keys = ["z", "é", "a", "\uffff", "😀", "\x7f", "B", "ÿ", ""]
    text = json.dumps({k: i for i, k in enumerate(keys)}, ensure_ascii=False)
    (result,) = read_back(tmp_path, text + "\n")
    expected = sorted(keys, key=lambda k: k.encode())
    # UTF-16 order would put the emoji before U+FFFF.
    assert expected.index("\uffff") < expected.index("😀")
    assert list(result) == expected
    assert result == {k: i for i, k in enumerate(keys)}


def test_nested_values_convert_recursively(tmp_path):
    (result,) = read_back(tmp_path, '[{"b":[1,{"d":null,"c":-2}],"a":"x"},[],{}]\n')
    assert result == [{"a": "x", "b": [1, {"c": -2, "d": None}]}, [], {}]
    assert list(result[0]) == ["a", "b"]
    assert list(result[0]["b"][1]) == ["c", "d"]


# --- operation errors --------------------------------------------------------


def test_operation_errors_are_runtime_errors_with_the_outermost_message_only(tmp_path):
    blocker = tmp_path / "file"
    blocker.write_text("")
    with pytest.raises(RuntimeError) as info:
        zr.init(str(blocker / "root"))
    assert info.value.args == (os.strerror(errno.ENOTDIR),)



# --- every function by keyword ------------------------------------------------

SIGNATURES = {**FUNCTIONS, "blame_diff": "(old_lines, new_lines)"}


def test_blame_diff_text_signature():
    assert zr.blame_diff.__text_signature__ == SIGNATURES["blame_diff"]


@pytest.fixture
def project(tmp_path):
    """A store with one author, one section of theirs, one tracked line of
    that section (with a merged token entry) and a data file holding it."""
    root = str(tmp_path / "project")
    zr.init(root)
    p = types.SimpleNamespace(root=root, name="Ann", email="ann@example.org", value={"text": "x"})
    p.author = zr.author_add(p.name, p.email, root)
    p.section = zr.register_section("p", [p.author], [], "MIT", "2024", root)
    p.line_hash = zr.track(p.value, "data.jsonl", [p.section], root, 5, "tk")
    zr.token_index_merge_pid_files(root, "tk")
    p.data_file = str(tmp_path / "data.jsonl")
    zr.jsonl_append(p.data_file, p.value)
    return p


def one_record(p):
    return [{"file": "data.jsonl", "line_hash": p.line_hash, "sources": [p.section]}]


def document_shard(p):
    with open(zr.shard_path_str(p.root, "document-index", p.line_hash), "rb") as f:
        return f.read()


def new_store(root):
    zr.init(root)
    return root


def revoked_and_indexed(p):
    zr.revoke_by_author(p.root, p.name)
    zr.build_index(p.root)
    return p.root


# name: (every argument by keyword, a check of the result). The checks make a
# value that reached the wrong parameter show.
KEYWORD_CALLS = {
    "init": lambda p: ({"zr_dir": p.root + "-new"}, lambda r: r is None and os.path.isdir(p.root + "-new/.zr")),
    "jsonl_read": lambda p: ({"path": p.data_file}, lambda r: r == [p.value]),
    "jsonl_append": lambda p: ({"path": p.data_file, "record": [1]}, lambda r: zr.jsonl_read(p.data_file)[-1] == [1]),
    "shard_path_str": lambda p: ({"zr_dir": p.root, "layer": "authors", "hash_hex": "abcd"},
                                 lambda r: r == os.path.join(p.root, ".zr", "authors", "ab")),
    "shard_read": lambda p: ({"zr_dir": p.root, "layer": "authors", "hash_hex": p.author},
                             lambda r: [a["id"] for a in r] == [p.author]),
    "shard_iterate_all": lambda p: ({"zr_dir": p.root, "layer": "sections"},
                                    lambda r: [s["authors"] for s in r] == [[p.author]]),
    "compute_hash": lambda p: ({"data": p.value}, lambda r: r == p.line_hash),
    "oplog_append": lambda p: ({"zr_dir": p.root, "operation": "op", "detail": "d"},
                               lambda r: open(os.path.join(p.root, ".zr", "log")).read().endswith(" op d\n")),
    "index_document": lambda p: ({"zr_dir": p.root, "line_hash": p.line_hash, "file": "f", "sources": ["s"],
                                  "source_type": "manual"},
                                 lambda r: zr.lookup_document(p.root, p.line_hash)[-1]["file"] == "f" and
                                 b'"source_type":"manual"' in document_shard(p)),
    "lookup_document": lambda p: ({"zr_dir": p.root, "line_hash": p.line_hash}, lambda r: r == one_record(p)),
    "read_all_documents": lambda p: ({"zr_dir": p.root}, lambda r: [d["line_hash"] for d in r] == [p.line_hash]),
    "track": lambda p: ({"data": [2], "file": "g", "sources": ["s"], "zr_dir": p.root, "token_count": 9,
                         "tokenizer": "other"},
                        lambda r: r == zr.compute_hash([2]) and
                        zr.token_index_merge_pid_files(p.root, "other") == (1, 1)),
    "blame": lambda p: ({"zr_dir": p.root, "file": "elsewhere", "line_content": json.dumps(p.value)},
                        lambda r: r == one_record(p)),
    "blame_diff": lambda p: ({"old_lines": ["a", "b"], "new_lines": ["b"]},
                             lambda r: r == [("delete", 0, 1, 0, 0), ("equal", 1, 2, 0, 1)]),
    "author_add": lambda p: ({"name": "Bo", "email": "bo@example.org", "zr_dir": p.root},
                             lambda r: r == zr.compute_hash({"email": "bo@example.org", "name": "Bo"})),
    "author_query": lambda p: ({"zr_dir": p.root, "name": p.name, "email": None},
                               lambda r: [json.loads(a)["id"] for a in r] == [p.author]),
    "register_section": lambda p: ({"path": "q", "authors": ["a"], "contributors": ["c"], "license": "L",
                                    "year": "Y", "zr_dir": p.root},
                                   lambda r: r == zr.compute_hash({"authors": ["a"], "contributors": ["c"],
                                                                   "license": "L", "path": "q", "year": "Y"})),
    "build_index": lambda p: ({"zr_dir": p.root},
                              lambda r: r == {"authors": 1, "sections": 1, "total": 2, "token_index_entries": 1}),
    "show_by_author": lambda p: ({"zr_dir": p.root, "author_name": p.name}, lambda r: r == one_record(p)),
    "show_by_license": lambda p: ({"zr_dir": p.root, "license": "MIT"}, lambda r: r == one_record(p)),
    "show_by_section": lambda p: ({"zr_dir": p.root, "section_hash": p.section}, lambda r: r == one_record(p)),
    "revoke_section": lambda p: ({"zr_dir": p.root, "section_hash": p.section, "reverse": False},
                                 lambda r: r == 1),
    "revoke_manifest": lambda p: ({"zr_dir": p.root, "line_hash": p.line_hash, "file": "data.jsonl",
                                   "reverse": False}, lambda r: r == 1),
    "revoke_by_author": lambda p: ({"zr_dir": p.root, "author_name": p.name, "reverse": False},
                                   lambda r: r == 1),
    "revoke_by_author_token": lambda p: ({"zr_dir": p.root, "author_name": p.name, "tokenizer": "tk",
                                          "reverse": False}, lambda r: r == 1),
    "purge_revoked": lambda p: ({"zr_dir": p.root, "data_file": p.data_file, "dry_run": False},
                                lambda r: r == {"purged": 0, "kept": 1, "archived": 0}),
    "purge_by_author_indexd": lambda p: ({"zr_dir": revoked_and_indexed(p), "author_name": p.name,
                                          "data_file": p.data_file, "dry_run": True},
                                         lambda r: r == {"purged": 1, "kept": 0, "archived": 0}),
    "purge_reverse": lambda p: ({"zr_dir": p.root, "data_file": p.data_file}, lambda r: r == 0),
    "clean": lambda p: ({"zr_dir": p.root, "split": False}, lambda r: r["log_rotated"] == 0),
    "merge_absorb": lambda p: ({"source": p.root, "target": new_store(p.root + "-target")},
                               lambda r: r["authors_added"] == 1 and r["document_added"] == 1),
    "token_index_write_pid": lambda p: ({"zr_dir": p.root, "tokenizer": "other", "token_count": 3, "sources": ["s"]},
                                        lambda r: zr.token_index_merge_pid_files(p.root, "other") == (1, 1)),
    "token_index_merge_pid_files": lambda p: ({"zr_dir": p.root, "tokenizer": "tk"}, lambda r: r == (0, 0)),
    "token_index_token_status": lambda p: ({"zr_dir": p.root, "tokenizer": "tk"},
                                           lambda r: r == {"total_entries": 1, "active_entries": 1,
                                                           "revoked_entries": 0, "total_tokens": 5}),
    "token_index_list_tokenizers": lambda p: ({"zr_dir": p.root}, lambda r: r == ["tk"]),
    "token_index_revoke_by_sources": lambda p: ({"zr_dir": p.root, "tokenizer": "tk",
                                                 "target_sources": {p.section}}, lambda r: r == 1),
    "token_index_build_binary_index": lambda p: ({"zr_dir": p.root, "tokenizer": "tk"},
                                                 lambda r: r == "entries=1, sources=1"),
    "generate_forget_set": lambda p: ({"zr_dir": p.root, "tokenizer": "tk"}, lambda r: r == b"\x00"),
    "write_forget_set": lambda p: ({"path": p.data_file + ".mask", "bitmask": [1, 2]},
                                   lambda r: open(p.data_file + ".mask", "rb").read() == b"\x01\x02"),
    "show_by_author_token": lambda p: ({"zr_dir": p.root, "author_name": p.name, "tokenizer": "tk"},
                                       lambda r: (r["total_tokens"], r["document_count"]) == (5, 1)),
}


def parameter_names(signature):
    return [part.split("=")[0] for part in signature[1:-1].split(", ")]


def test_keyword_calls_cover_every_function():
    assert KEYWORD_CALLS.keys() == SIGNATURES.keys()


@pytest.mark.parametrize("name", sorted(SIGNATURES))
def test_every_function_takes_every_parameter_by_keyword(project, capfd, name):
    # capfd keeps what purge_reverse prints when it finds no archive out of the output.
    kwargs, check = KEYWORD_CALLS[name](project)
    assert list(kwargs) == parameter_names(SIGNATURES[name])
    # Last to first, so that no value can arrive by its position.
    result = getattr(zr, name)(**dict(reversed(kwargs.items())))
    assert check(result), result
