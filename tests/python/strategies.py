"""Hypothesis strategies the module's tests share: JSON-like Python values, floats of every bit pattern,
the blanks JSON allows, and lists of lines that are easy to confuse."""

import math
import struct

from hypothesis import strategies as st

# Whitespace JSON allows around and between tokens, empty most often.
blanks = st.sampled_from(["", "", "", " ", "\t", "\r", "\n", "\r\n", "  \t", " \n\t\r "])

# Every finite float: Hypothesis's own choice, any bit pattern (subnormals, the extremes), and short
# decimals scaled by powers of ten, where the writer's plain and exponent forms meet.
finite_floats = st.one_of(
    st.floats(allow_nan=False, allow_infinity=False),
    st.integers(0, 2**64 - 1).map(lambda bits: struct.unpack("<d", struct.pack("<Q", bits))[0]).filter(math.isfinite),
    st.integers(-30, 30).flatmap(lambda e: st.integers(1, 10**17).map(lambda m: m * 10.0**e)),
)

# Integers the store keeps as integers: every 64-bit value, signed or unsigned.
store_integers = st.integers(-(2**63), 2**64 - 1)

# Strings Python can encode to UTF-8 (no lone surrogates).
encodable_text = st.text(alphabet=st.characters(blacklist_categories=("Cs",)), max_size=12)


@st.composite
def big_integers(draw):
    """Integers beyond 64 bits: the first sizes past the limit, and any size up to 400 digits."""
    size = draw(st.one_of(st.integers(18, 22), st.integers(1, 400)))
    value = int(draw(st.sampled_from("123456789")) + "0" * (size - 1)) + draw(st.integers(0, 10**6))
    return value if draw(st.booleans()) else -value


def json_values(scalars, keys, max_size, max_leaves):
    """Lists and dicts nested over `scalars`, with keys from `keys`."""
    return st.recursive(
        scalars,
        lambda inner: st.one_of(st.lists(inner, max_size=max_size), st.dictionaries(keys, inner, max_size=max_size)),
        max_leaves=max_leaves,
    )


# Lines that are easy to confuse: blanks, case, a trailing space, NUL, non-ASCII.
CONFUSABLE_LINES = ["a", "b", "c", "", " ", "a ", "A", "\x00", "é"]
# A version of a file: often few distinct lines (so that many match), sometimes all of them.
line_lists = (st.lists(st.sampled_from(CONFUSABLE_LINES[:3]), max_size=30)
              | st.lists(st.sampled_from(CONFUSABLE_LINES), max_size=30))
