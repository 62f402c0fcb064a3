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


# Raw lines of a JSON Lines file, right and damaged, built as text so that every spelling the readers meet
# occurs: numbers in every form, strings with escapes at any offset, whitespace inside, deep nesting, and
# damage (a byte-order mark, a CR end, a cut, a stray byte, NaN, lone surrogates, blank lines).
_INNER_BLANKS = st.sampled_from(["", "", "", " ", "\t", "\r", " \t\r "])  # never "\n": it ends a line


@st.composite
def number_spellings(draw):
    """A number as written: sign, integer part, fraction and exponent, in and beyond the limits."""
    sign = draw(st.sampled_from(["", "", "-"]))
    whole = draw(st.one_of(st.just("0"), st.integers(1, 2**64 + 10).map(str),
                           big_integers().map(lambda v: str(abs(v)))))
    fraction = draw(st.sampled_from(["", "", "", ".0", ".5", ".000"])
                    | st.integers(0, 10**20).map(lambda d: "." + str(d)))
    exponent = draw(st.sampled_from(["", "", "", "e0", "E+1", "e-0", "e308", "e-320", "e400", "E-400"])
                    | st.integers(-30, 30).map(lambda e: "e" + str(e)))
    return sign + whole + fraction + exponent


_ESCAPES = {'"': '\\"', "\\": "\\\\", "/": "\\/", "\b": "\\b", "\f": "\\f", "\n": "\\n", "\r": "\\r", "\t": "\\t"}


@st.composite
def string_spellings(draw):
    """A JSON string whose characters are written raw or escaped, each as drawn (astral characters as
    surrogate pairs), now and then damaged: a lone surrogate, a raw control character, a bad escape."""
    text = draw(st.text(alphabet=st.characters(blacklist_categories=("Cs",)), max_size=10))
    forms = draw(st.integers(0, 4 ** len(text) - 1))  # two bits per character: one draw, cheap to generate
    out = []
    for ch in text:
        form, forms = ("raw", "raw", "short", "unicode")[forms & 3], forms >> 2
        raw_allowed = ch >= " " and ch not in '"\\'
        if form == "raw" and raw_allowed:
            out.append(ch)
        elif form == "short" and ch in _ESCAPES:
            out.append(_ESCAPES[ch])
        else:
            units = ch.encode("utf-16-be")
            hexes = ["%04x" % int.from_bytes(units[i:i + 2], "big") for i in range(0, len(units), 2)]
            out.append("".join("\\u" + (h.upper() if form == "short" else h) for h in hexes))
    damage = draw(st.sampled_from([None] * 12 + ["\\ud800", "\\udc00x", "\x01", "\\x", "\\u12"]))
    if damage is not None:
        out.insert(draw(st.integers(0, len(out))), damage)
    return '"' + "".join(out) + '"'


def _spelled(scalars):
    def containers(inner):
        def array(items, blank):
            return "[" + blank + ",".join(items) + blank + "]"

        def obj(members, blank):
            return "{" + ",".join(k + blank + ":" + blank + v for k, v in members) + "}"

        keys = st.sampled_from(['"a"', '"b"', '"\\u0061"', '"é"', '""']) | string_spellings()
        return st.one_of(st.builds(array, st.lists(inner, max_size=4), _INNER_BLANKS),
                         st.builds(obj, st.lists(st.tuples(keys, inner), max_size=4), _INNER_BLANKS))
    return st.recursive(scalars, containers, max_leaves=12)


@st.composite
def deep_nesting(draw, scalar):
    """Arrays and objects nested around the parser's limit."""
    depth = draw(st.integers(120, 135))
    kinds = draw(st.integers(0, 2**depth - 1))  # one bit per level: array or object
    opens = ["[" if kinds >> level & 1 else '{"k":' for level in range(depth)]
    closes = "".join("]" if o == "[" else "}" for o in reversed(opens))
    return "".join(opens) + draw(scalar) + closes


def _line_texts():
    scalars = st.one_of(number_spellings(), string_spellings(),
                        st.sampled_from(["true", "false", "null", "NaN", "Infinity", "-Infinity"]))
    return st.one_of(_spelled(scalars), deep_nesting(scalars), st.sampled_from(["", " ", "\t", "\r", " \r", "\x0b"]))


# Built once: a strategy made inside each draw would be validated anew every time.
_LINE_TEXTS = _line_texts()


@st.composite
def raw_lines(draw):
    """One line's bytes, without its "\n"."""
    text = draw(_INNER_BLANKS) + draw(_LINE_TEXTS) + draw(_INNER_BLANKS)
    data = text.encode("utf-8")
    damage = draw(st.sampled_from([None] * 8 + ["bom", "cr", "cut", "byte"]))
    if damage == "bom":
        data = b"\xef\xbb\xbf" + data
    elif damage == "cr":
        data += b"\r"
    elif damage == "cut":
        data = data[:draw(st.integers(0, len(data)))]
    elif damage == "byte":
        at = draw(st.integers(0, len(data)))
        data = data[:at] + draw(st.sampled_from([b"\xff", b"\xc3", b"\xed\xa0\x80", b"\x00", b"\xc0\xaf"])) + data[at:]
    return data
