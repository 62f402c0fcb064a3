"""JSON Lines files and shards: lenient reading, exact appending, the shard rule."""

import errno
import json
import os

import pytest

import _zr_native as zr


def read_bytes(tmp_path, data, name="data.jsonl"):
    path = tmp_path / name
    path.write_bytes(data)
    return zr.jsonl_read(str(path))


# --- reading -----------------------------------------------------------------


def test_missing_file_reads_as_empty(tmp_path):
    assert zr.jsonl_read(str(tmp_path / "missing.jsonl")) == []
    assert zr.jsonl_read(str(tmp_path / "no" / "such" / "dir.jsonl")) == []


@pytest.mark.parametrize("data", [b"", b"\n", b"\n\n\n", b"\r\n\r\n", b"\r", b"\r\n"])
def test_empty_and_blank_files_read_as_empty(tmp_path, data):
    assert read_bytes(tmp_path, data) == []


@pytest.mark.parametrize(
    "data, expected",
    [
        # A line cut off in the middle, and a last line without "\n".
        (b'{"a":1}\n{"b":[1,2\n[3,4]', [{"a": 1}, [3, 4]]),
        (b'{"a":1}\r\n[2]\r\n', [{"a": 1}, [2]]),
        (b'1\r\n\r\n2\n\r\n3', [1, 2, 3]),
        # Only one "\r" is dropped (another is whitespace); "\r" is no line end.
        (b"1\r\r\n2\n", [1, 2]),
        (b"1\r2\n3\n", [3]),
        (b'"a"\r', ["a"]),
        # Whitespace-only lines and whitespace around a value.
        (b" \n\t\n  [1]  \n", [[1]]),
        (b" \t \r\n5\n", [5]),
    ],
)
def test_line_splitting(tmp_path, data, expected):
    assert read_bytes(tmp_path, data) == expected


@pytest.mark.parametrize(
    "bad_line",
    [
        b'{"a":1} x', b"[1] ]", b"{}{}", b'"a" x', b'"a""b"', b"1 2", b"nullx", b"null1", b"truex",
        b"01", b"-01", b"00", b"[01]", b"1.", b".5", b"+1", b"-", b"1e400", b"-1e400", b"1" + b"0" * 400,
        b"NaN", b"Infinity", b"[1,]", b'{"a":1,}', b"{'a':1}", b'{"a"}',
        b'"\xff"', b'"\xc3"', b'"\xed\xa0\x80"', b'"\xf4\x90\x80\x80"', b'{"\xff":1}', b"\xef\xbb\xbf1",
        b'"\\ud800"', b'"\\udc00"', b'"\\ud83d\\u0041"', b'{"\\ud800":1}', b'"\\x41"', b'"\\u00"',
        b'"a\x01"', b'"\t"', b'{"a\x1f":1}',
        b"\x00", b"1\x00", b'"a"\x00', b"null\x00", b"[1]\x00", b'["a\x00"]',
    ],
)
def test_bad_lines_are_skipped_alone(tmp_path, bad_line):
    assert read_bytes(tmp_path, b"[1]\n" + bad_line + b"\n[2]\n") == [[1], [2]]
    # The same line as the file's last, unterminated line.
    assert read_bytes(tmp_path, b"[1]\n" + bad_line) == [[1]]


@pytest.mark.parametrize(
    "line, value",
    [
        (b'"\x7f"', "\x7f"),
        (b'"\\u0000"', "\x00"),
        (b'"\\ud83d\\ude00"', "😀"),
        (b'"\xf0\x9f\x98\x80"', "😀"),
        (b"1.5e0001", 15.0),
        (b"0.1000000000000000055511151231257827", 0.1),
        (b"[0.0055143972981506162251996e5]", [551.4397298150616]),
        (b"-0", 0),
        (b"1E+2", 100.0),
        (b'{"a" : 1 , "b" : [ 1 , 2 ] }', {"a": 1, "b": [1, 2]}),
        (b'{"a":1,"a":2}', {"a": 2}),
    ],
)
def test_valid_lines_edge_cases(tmp_path, line, value):
    assert read_bytes(tmp_path, line + b"\n") == [value]


def test_nesting_limit_and_deep_lines_are_skipped(tmp_path):
    ok = b"[" * 127 + b"]" * 127
    too_deep = b"[" * 128 + b"]" * 128
    very_deep = b"[" * 200_000 + b"]" * 200_000
    objects = b'{"a":' * 100_000 + b"1" + b"}" * 100_000
    values = read_bytes(tmp_path, b"\n".join([ok, too_deep, very_deep, objects, b"7"]))
    assert len(values) == 2
    assert values[1] == 7
    depth, v = 0, values[0]
    while v:
        v, depth = v[0], depth + 1
    assert depth == 126


def test_huge_line(tmp_path):
    text = "é" * (10 * 1024 * 1024)  # 20 MB of UTF-8
    data = b"[1]\n" + json.dumps({"k": text}, ensure_ascii=False).encode() + b"\n[2]"
    values = read_bytes(tmp_path, data)
    assert len(values) == 3
    assert values[1]["k"] == text


def test_reading_a_directory_is_an_error_with_the_systems_message(tmp_path):
    with pytest.raises(RuntimeError) as info:
        zr.jsonl_read(str(tmp_path))
    assert str(info.value) == os.strerror(errno.EISDIR)


# --- appending ---------------------------------------------------------------


@pytest.mark.parametrize(
    "value, text",
    [
        ({"b": 1, "a": "é"}, '{"a":"é","b":1}'),
        ({"b": {"d": 1, "c": [2, {"f": 0, "e": None}]}, "a": True}, '{"a":true,"b":{"c":[2,{"e":null,"f":0}],"d":1}}'),
        (["\"\\/"], '["\\"\\\\/"]'),
        (["\b\t\n\f\r"], '["\\b\\t\\n\\f\\r"]'),
        (["\x00\x01\x0b\x0e\x1f"], '["\\u0000\\u0001\\u000b\\u000e\\u001f"]'),
        (["\x7f\x80\u2028\ufeff😀"], '["\x7f\x80\u2028\ufeff😀"]'),
        ([], "[]"),
        ({}, "{}"),
        ("", '""'),
        ([None, False, True, 0, -1, 2**64 - 1, -(2**63)], "[null,false,true,0,-1,18446744073709551615,-9223372036854775808]"),
        ({"é": 1, "z": 2, "\x7f": 3, "😀": 4, "\uffff": 5}, '{"z":2,"\x7f":3,"é":1,"\uffff":5,"😀":4}'),
    ],
)
def test_append_writes_exact_compact_text(tmp_path, value, text):
    path = tmp_path / "out.jsonl"
    zr.jsonl_append(str(path), value)
    assert path.read_bytes() == text.encode() + b"\n"


def test_append_adds_lines_in_call_order_to_existing_content(tmp_path):
    path = tmp_path / "out.jsonl"
    path.write_bytes(b"existing\n")
    zr.jsonl_append(str(path), 1)
    zr.jsonl_append(str(path), [2])
    assert path.read_bytes() == b"existing\n1\n[2]\n"
    assert zr.jsonl_read(str(path)) == [1, [2]]


def test_append_into_a_missing_directory_fails_and_creates_nothing(tmp_path):
    with pytest.raises(RuntimeError) as info:
        zr.jsonl_append(str(tmp_path / "missing" / "out.jsonl"), 1)
    assert str(info.value) == os.strerror(errno.ENOENT)
    assert list(tmp_path.iterdir()) == []


def test_appended_values_read_back_equal(tmp_path):
    path = str(tmp_path / "out.jsonl")
    values = [{"k": "\x00\n\"\\é😀", "n": [1.5, -2, 2**63, None]}, "\r", [[[]]]]
    for v in values:
        zr.jsonl_append(path, v)
    back = zr.jsonl_read(path)
    assert back[0] == {"k": "\x00\n\"\\é😀", "n": [1.5, -2, float(2**63), None]}
    assert back[1:] == values[1:]


@pytest.mark.parametrize(
    "call",
    [
        lambda d: zr.jsonl_append(d + "/a\x00b", 1),
        lambda d: zr.init(d + "/a\x00b"),
        lambda d: zr.oplog_append(d + "\x00", "op", "x"),
        lambda d: zr.token_index_write_pid(d + "\x00", "tok", 1, []),
    ],
)
def test_nul_in_a_path_is_a_runtime_error_touching_nothing(tmp_path, call):
    with pytest.raises(RuntimeError) as info:
        call(str(tmp_path))
    assert "NUL" in str(info.value)
    assert list(tmp_path.iterdir()) == []


def test_nul_in_a_read_path_reads_as_missing(tmp_path):
    (tmp_path / "a").write_text("1\n")
    assert zr.jsonl_read(str(tmp_path / "a") + "\x00b") == []
    assert zr.shard_iterate_all(str(tmp_path) + "\x00", "authors") == []


# --- shards ------------------------------------------------------------------


@pytest.fixture
def store(root):
    """The shard tests call the shared project root their store."""
    return root


def test_shard_path_is_root_store_layer_and_first_two_characters(store):
    path = zr.shard_path_str(str(store), "authors", "abcdef")
    assert path == os.path.join(str(store), ".zr", "authors", "ab")
    assert zr.shard_path_str("rel", "any layer", "AB") == os.path.join("rel", ".zr", "any layer", "AB")
    # Two-byte characters are whole characters; the layer is not checked.
    assert zr.shard_path_str("r", "../x", "é") == os.path.join("r", ".zr", "../x", "é")
    assert zr.shard_path_str("r", "l", "éa") == os.path.join("r", ".zr", "l", "é")


@pytest.mark.parametrize(
    "hash_hex",
    [
        "", "a", "aé",  # too short for two whole characters
        "..", "../etc", "./", "a/b", "/a", "a\x00bc", "\x00a",  # would step out of the layer
    ],
)
@pytest.mark.parametrize("function", [zr.shard_path_str, zr.shard_read])
def test_hashes_that_cannot_name_a_shard_are_refused_touching_nothing(tmp_path, function, hash_hex):
    root = tmp_path / "root"
    with pytest.raises(RuntimeError) as info:
        function(str(root), "authors", hash_hex)
    assert str(info.value)
    assert not root.exists()


def test_shard_names_that_only_look_unusual_are_fine(store):
    assert zr.shard_path_str(str(store), "authors", ".a").endswith("/.a")
    assert zr.shard_path_str(str(store), "authors", "a.").endswith("/a.")


def test_shard_read_returns_every_line_of_the_shard(store):
    shard = store / ".zr" / "sections" / "ab"
    shard.write_bytes(b'{"h":"ab01"}\nbroken\n{"h":"abff"}\n')
    assert zr.shard_read(str(store), "sections", "ab01") == [{"h": "ab01"}, {"h": "abff"}]
    assert zr.shard_read(str(store), "sections", "cd01") == []
    assert zr.shard_read(str(store), "no-layer", "ab01") == []


def test_shard_iterate_all_reads_only_two_hex_digit_regular_files(store):
    layer = store / ".zr" / "authors"
    for name in ["ab", "C4", "x1", "abc", "3g", "a", "ab.json"]:
        (layer / name).write_text(json.dumps(name) + "\n")
    (layer / "cd").mkdir()
    (layer / "cd" / "ef").write_text('"nested"\n')
    os.symlink(layer / "ab", layer / "0f")
    os.symlink(layer / "cd", layer / "1f")
    assert sorted(zr.shard_iterate_all(str(store), "authors")) == ["C4", "ab", "ab"]


def test_shard_iterate_all_keeps_file_order_within_each_shard(store):
    layer = store / ".zr" / "index"
    (layer / "00").write_bytes(b"1\n2\nx\n3")
    (layer / "ff").write_bytes(b"4\r\n5\n")
    assert zr.shard_iterate_all(str(store), "index") in ([1, 2, 3, 4, 5], [4, 5, 1, 2, 3])


def test_shard_iterate_all_of_a_missing_layer_is_empty_and_of_a_file_an_error(store):
    assert zr.shard_iterate_all(str(store), "missing") == []
    assert zr.shard_iterate_all(str(store.parent / "nowhere"), "authors") == []
    with pytest.raises(RuntimeError, match="^Not a directory$"):
        zr.shard_iterate_all(str(store), "log")
