"""The compact writer's number forms."""

import math
import re

import pytest
from hypothesis import given, settings

import _zr_native as zr
from json_reference import float_form as expected_form
from strategies import finite_floats


@pytest.fixture
def write(tmp_path):
    path = tmp_path / "out.jsonl"

    def write(value):
        path.write_bytes(b"")
        zr.jsonl_append(str(path), value)
        return path.read_text()[:-1]

    return write


@pytest.mark.parametrize(
    "value, text",
    [
        (3.0, "3.0"),
        (0.001, "0.001"),
        (0.00001, "0.00001"),
        (0.0001234, "0.0001234"),
        (123.456, "123.456"),
        (1000000000000000.0, "1000000000000000.0"),
        (1234567890123456.7, "1234567890123456.8"),
        (1e16, "1e16"),
        (1.5e16, "1.5e16"),
        (1e21, "1e21"),
        (1.5e-7, "1.5e-7"),
        (1e-6, "1e-6"),
        (9.99e-6, "9.99e-6"),
        (2.5e300, "2.5e300"),
        (-2.5e-300, "-2.5e-300"),
        (0.0, "0.0"),
        (-0.0, "-0.0"),
        (-1.5, "-1.5"),
        (0.1, "0.1"),
        (5e-324, "5e-324"),
        (1.7976931348623157e308, "1.7976931348623157e308"),
        (2.0**63, "9.223372036854776e18"),
    ],
)
def test_float_forms(write, value, text):
    assert write(value) == text
    assert write([value]) == f"[{text}]"


@pytest.mark.parametrize(
    "value, text",
    [
        (0, "0"),
        (2**63 - 1, "9223372036854775807"),
        (2**63, "9223372036854775808"),
        (2**64 - 1, "18446744073709551615"),
        (-1, "-1"),
        (-(2**63), "-9223372036854775808"),
        # Beyond 64 bits an integer is held as a float.
        (2**64, "1.8446744073709552e19"),
        (-(2**63) - 1, "-9.223372036854776e18"),
        (10**30, "1e30"),
        (True, "true"),
        (None, "null"),
    ],
)
def test_integer_and_literal_forms(write, value, text):
    assert write(value) == text


PLAIN = re.compile(r"-?(0|[1-9][0-9]{0,15})\.[0-9]+")
EXPONENT = re.compile(r"-?[1-9](\.[0-9]*[1-9])?e-?[1-9][0-9]*")


@pytest.fixture(scope="module")
def scratch(tmp_path_factory):
    return tmp_path_factory.mktemp("writer") / "out.jsonl"


@settings(max_examples=1500, deadline=None)
@given(finite_floats)
def test_written_floats_round_trip_and_follow_the_form_rule(scratch, value):
    path = scratch
    path.write_bytes(b"")
    zr.jsonl_append(str(path), value)
    text = path.read_text()[:-1]
    assert float(text) == value
    assert math.copysign(1, float(text)) == math.copysign(1, value)
    assert PLAIN.fullmatch(text) or EXPONENT.fullmatch(text), text
    if PLAIN.fullmatch(text) and value != 0:
        assert 1e-5 <= abs(value) < 1e16
    assert text == expected_form(value)
    # The written text reads back to the very same value.
    assert zr.jsonl_read(str(path)) == [value]


@pytest.mark.parametrize("value", [math.inf, -math.inf, math.nan])
def test_non_finite_floats_are_never_written(tmp_path, value):
    path = tmp_path / "out.jsonl"
    with pytest.raises(RuntimeError):
        zr.jsonl_append(str(path), {"x": value})
    assert not path.exists()
