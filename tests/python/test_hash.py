"""Content hashes: SHA-256 over the compact text, checked against hashlib."""

import hashlib
import json
import re

import pytest
from hypothesis import given, settings, strategies as st

import _zr_native as zr
from conftest import sha256
from strategies import encodable_text, json_values, store_integers


def python_hash(value):
    """An independent computation; agrees with the system's text for any value without floats."""
    text = json.dumps(value, sort_keys=True, separators=(",", ":"), ensure_ascii=False)
    return hashlib.sha256(text.encode()).hexdigest()


HEX64 = re.compile(r"[0-9a-f]{64}")

# No floats: Python's json module writes them in its own form, not the system's.
float_free_values = json_values(st.one_of(st.none(), st.booleans(), store_integers, encodable_text),
                                keys=st.text(max_size=6), max_size=4, max_leaves=20)


@settings(max_examples=400, deadline=None)
@given(float_free_values)
def test_hash_matches_hashlib_over_sorted_compact_json(value):
    digest = zr.compute_hash(value)
    assert HEX64.fullmatch(digest)
    assert digest == python_hash(value)


@pytest.mark.parametrize(
    "value",
    [
        "",
        "\x00\x01\x1f\x7f\"\\/\b\t\n\f\r",
        "é😀\u2028\uffff",
        {"b": 1, "a": 2, "é": 3, "\uffff": 4, "😀": 5, "": 6},
        [None, True, False, 0, -1, 2**63, 2**64 - 1, -(2**63)],
        {"nested": {"z": [], "y": {}}},
    ],
)
def test_hash_matches_hashlib_for_edge_values(value):
    assert zr.compute_hash(value) == python_hash(value)


def test_empty_string_hashes_a_pair_of_quotes():
    assert zr.compute_hash("") == sha256('""')
    assert zr.compute_hash("") != hashlib.sha256(b"").hexdigest()


@pytest.mark.parametrize(
    "value, text",
    [
        (1.0, "1.0"),
        (0.00001, "0.00001"),
        (1e16, "1e16"),
        (1e-7, "1e-7"),
        (-0.0, "-0.0"),
        (2**64, "1.8446744073709552e19"),
        ({"x": 123.456, "a": [1e300]}, '{"a":[1e300],"x":123.456}'),
    ],
)
def test_floats_hash_in_the_systems_shortest_form(value, text):
    assert zr.compute_hash(value) == sha256(text)


@pytest.mark.parametrize(
    "left, right",
    [
        ({"b": 1, "a": 2}, {"a": 2, "b": 1}),
        ((1, "x", (2,)), [1, "x", [2]]),
        ("é", "\u00e9"),
        # Integers beyond 64 bits that round to the same float.
        (2**64 + 1, 2**64 + 2),
        (2**64, 18446744073709551616.0),
    ],
)
def test_equal_values_hash_equal(left, right):
    assert zr.compute_hash(left) == zr.compute_hash(right)


@pytest.mark.parametrize(
    "left, right",
    [(1, 1.0), (True, 1), (None, "null"), (0.0, -0.0), ([], {}), ("1", 1), (2**64 - 1, 2**64)],
)
def test_different_values_hash_differently(left, right):
    assert zr.compute_hash(left) != zr.compute_hash(right)


def test_stored_line_hashes_like_its_value(tmp_path):
    # However a line spells its value (escapes, spacing, key order), the
    # value read back hashes as compute_hash of the same Python value.
    path = tmp_path / "d.jsonl"
    path.write_bytes(b'{ "b" : "\\u00e9" , "a" : [1, 2.50] }\n')
    (value,) = zr.jsonl_read(str(path))
    assert zr.compute_hash(value) == sha256('{"a":[1,2.5],"b":"é"}')
