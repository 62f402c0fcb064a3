"""Bulk tracking: track_lines builds, byte for byte, the store that tracking each line through Python's json
reader and track builds, and refuses exactly the lines the store's readers cannot read back."""
import json

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

import _zr_bulk
import _zr_native as zr
from conftest import run_limited, store_files
from strategies import raw_lines

EXAMPLES = settings(max_examples=100, deadline=None, suppress_health_check=[HealthCheck.too_slow])
SOURCES = ["ann", "sec \"1\""]


def store_reads_one_value(line, scratch):
    """Whether the store's JSON Lines reader reads `line` as one value (only such a line can be found again
    by a purge or blame; Python's reader is laxer: it keeps the last of a repeated key, bad or not)."""
    scratch.write_bytes((line.encode("utf-8", "surrogateescape") if isinstance(line, str) else line) + b"\n")
    return len(zr.jsonl_read(str(scratch))) == 1


def track_one_by_one(lines, root, counts, tokenizer):
    """What a caller gets by reading each line the store can read with Python's json module (as UTF-8 text:
    a byte-order mark is no JSON) and calling track: each line's hash, or None when either refuses it."""
    hashes = []
    for line, count in zip(lines, counts):
        try:
            if not store_reads_one_value(line, root / "line.jsonl"):
                raise ValueError("not a line of the store")
            text = line.decode("utf-8") if isinstance(line, bytes) else line
            value = json.loads(text)
            hashes.append(zr.track(value, "data.jsonl", SOURCES, str(root), count, tokenizer))
        except (ValueError, RuntimeError, RecursionError):
            hashes.append(None)
    return hashes


# token counts given or not; a tokenizer or none; lines as bytes (read in place), bytearray (copied) or str
# (undecodable bytes become lone surrogates, which have no UTF-8 form); in a list, a tuple or a generator
# whose lines nothing else holds
CALL_SHAPES = st.tuples(st.booleans(), st.sampled_from([None, "tk"]), st.sampled_from(["bytes", "bytearray", "str"]),
                        st.sampled_from([list, tuple, iter]))


@EXAMPLES
@given(lines=st.lists(raw_lines(), max_size=12), shape=CALL_SHAPES, data=st.data())
def test_the_store_equals_tracking_each_line_through_json_and_track(tmp_path_factory, lines, shape, data):
    with_counts, tokenizer, line_kind, container = shape
    counts = data.draw(st.lists(st.none() | st.integers(0, 2**64 - 1), min_size=len(lines), max_size=len(lines)))
    if line_kind == "str":
        lines = [line.decode("utf-8", "surrogateescape") for line in lines]
    made = {"bytes": lambda: (bytes(bytearray(line)) for line in lines), "bytearray": lambda: (bytearray(line) for line in lines),
            "str": lambda: ("".join(line) for line in lines)}[line_kind]
    bulk, single = tmp_path_factory.mktemp("bulk"), tmp_path_factory.mktemp("single")
    zr.init(str(bulk))
    zr.init(str(single))
    got = _zr_bulk.track_lines(container(made()), "data.jsonl", SOURCES, str(bulk), counts if with_counts else None,
                               tokenizer)
    expected = track_one_by_one(lines, single, counts if with_counts else [None] * len(lines), tokenizer)
    assert got == expected
    assert store_files(bulk) == store_files(single)


def test_every_line_reported_tracked_is_found_by_blame_and_purged_and_no_other(root):
    lines = [b'{"n":-0,"v":[-0,{"w":-0}]}', b"-0", b'{"n":-0.0}', b'\xef\xbb\xbf{"bom":1}', b'{"ok":1}\r', b"",
             b"not json", b'{"deep":' * 130 + b"1" + b"}" * 130]
    data = root / "data.jsonl"
    data.write_bytes(b"\n".join(lines) + b"\n")
    section = zr.register_section("sec", [zr.author_add("A", "a@x", str(root))], [], "MIT", "2024", str(root))
    hashes = _zr_bulk.track_lines(lines, str(data), [section], str(root))
    assert [h is not None for h in hashes] == [True, True, True, False, True, False, False, False]
    for line, line_hash in zip(lines, hashes):
        if line_hash is not None:
            assert [r["line_hash"] for r in zr.blame(str(root), str(data), line.decode())] == [line_hash]
    zr.revoke_section(str(root), section)
    assert zr.purge_revoked(str(root), str(data), False)["purged"] == 4
    assert data.read_bytes() == b'\xef\xbb\xbf{"bom":1}\nnot json\n' + lines[-1] + b"\n"
    # A line holding a line feed is no line of a file: never tracked, nothing written.
    before = store_files(root)
    assert _zr_bulk.track_lines([b'{"n":1}\n', b"1\n2", "[1]\n"], str(data), [section], str(root)) == [None] * 3
    assert store_files(root) == before


def test_arguments_are_checked_before_anything_is_written(root):
    before = store_files(root)
    with pytest.raises(RuntimeError, match="invalid tokenizer name") as bulk_error:
        _zr_bulk.track_lines([b"1"], "f", [], str(root), None, "a/b")
    with pytest.raises(RuntimeError) as single_error:
        zr.track(1, "f", [], str(root), None, "a/b")
    assert str(bulk_error.value) == str(single_error.value)
    with pytest.raises(ValueError, match="token_counts has 2 entries for 1 lines"):
        _zr_bulk.track_lines([b"1"], "f", [], str(root), [1, 2], "tk")
    with pytest.raises(OverflowError):
        _zr_bulk.track_lines([b"1"], "f", [], str(root), [-1], "tk")
    for lines in ("1", b"1", [1], [None]):
        with pytest.raises(TypeError, match="argument 'lines'"):
            _zr_bulk.track_lines(lines, "f", [], str(root))
    assert store_files(root) == before


def test_a_store_that_cannot_be_written_raises_as_track_does(tmp_path, root):
    with pytest.raises(RuntimeError) as bulk_error:
        _zr_bulk.track_lines([b"1"], "f", [], str(tmp_path / "none"))
    with pytest.raises(RuntimeError) as single_error:
        zr.track(1, "f", [], str(tmp_path / "none"))
    assert str(bulk_error.value) == str(single_error.value)
    assert _zr_bulk.track_lines([b"x", b""], "f", [], str(tmp_path / "none")) == [None, None]
    # A full disk: writes beyond a file-size limit fail.
    bulk = run_limited('__import__("_zr_bulk").track_lines([b"1"], "f", [], root)', 16, root=str(root))
    single = run_limited('zr.track(1, "f", [], root)', 16, root=str(root))
    assert bulk == single and bulk.startswith("error: ")
