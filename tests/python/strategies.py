"""Hypothesis strategies the module's tests share: JSON-like Python values, floats of every bit pattern,
the blanks JSON allows, lists of lines that are easy to confuse, JSON written as text in every spelling,
and raw lines of a JSON Lines file, right and damaged."""

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


# --- JSON written as text ------------------------------------------------------------------------------
# Leaves are spelled from one drawn seed each: drawing them character by character costs far more than the
# native calls under test.


def digits(rnd, count):
    return str(rnd.randrange(10 ** (count - 1), 10**count))


def integer_body(rnd):
    """1 to 400 digits without a sign: often near the 64-bit limits, or a round number plus a little."""
    kind = rnd.randrange(7)
    if kind == 0:
        return "0"
    if kind == 1:
        return str(rnd.choice([2**63, 2**64]) + rnd.randint(-3, 3))
    if kind == 2:
        size = rnd.randint(17, 21) if rnd.random() < 0.5 else rnd.randint(0, 399)
        return str(rnd.randint(1, 9) * 10**size + rnd.randint(0, 10**6))
    return digits(rnd, rnd.randint(1, 25) if kind < 5 else rnd.randint(1, 400))


def integer_text(rnd):
    """An integer of 1 to 400 digits, either sign."""
    return rnd.choice(["", "-"]) + integer_body(rnd)


def float_text(rnd):
    """Fractions and exponents in every spelling: signed, with leading zeros, up to hundreds of digits."""
    pick = rnd.random()
    whole = "0" if pick < 0.4 else integer_body(rnd) if pick < 0.5 else digits(rnd, rnd.randint(1, 30))
    fraction = ""
    if rnd.random() < 0.7:
        zeros = rnd.randint(0, 340) if rnd.random() < 0.2 else rnd.randint(0, 3)
        fraction = "." + "0" * zeros + str(rnd.randrange(10 ** rnd.randint(1, 30)))
    exponent = ""
    if rnd.random() < 0.6:
        zeros = rnd.randint(0, 25) if rnd.random() < 0.5 else 0
        size = rnd.randint(0, 30) if rnd.random() < 0.7 else rnd.randint(0, 400)
        exponent = rnd.choice("eE") + rnd.choice(["", "+", "-"]) + "0" * zeros + str(size)
    return rnd.choice(["", "-"]) + whole + (fraction or ("" if exponent else ".0")) + exponent


SHORT_ESCAPES = {'"': '\\"', "\\": "\\\\", "\n": "\\n", "\r": "\\r", "\t": "\\t", "\b": "\\b", "\f": "\\f"}


def escape(c, how):
    """`c` written raw where JSON allows (how 0), as its short escape, or as \\u escapes (lower or upper hex)."""
    if how == 0 and c >= " " and c not in '"\\':
        return c
    if how == 0 and c in SHORT_ESCAPES:
        return SHORT_ESCAPES[c]
    if c == "/" and how == 2:
        return "\\/"
    code = ord(c)
    units = [code] if code < 0x10000 else [0xD800 + ((code - 0x10000) >> 10), 0xDC00 + (code & 0x3FF)]
    return "".join(("\\u%04x" if how == 1 else "\\u%04X") % u for u in units)


CODE_POINTS = [(0x20, 0x7E), (0x00, 0x1F), (0x7F, 0x7F), (0x2F, 0x2F), (0x80, 0x7FF), (0x800, 0xD7FF),
               (0xE000, 0xFFFF), (0x10000, 0x10FFFF)]

# What breaks a string: lone surrogates, a raw control character, bad escapes.
STRING_DAMAGE = ["\\ud800", "\\udc00x", "\x01", "\\x", "\\u12"]


def string_text(rnd, alphabet=None, size=6, damage=()):
    """Any characters but lone surrogates, each written raw or escaped in one of the ways JSON allows; with
    `damage`, now and then one of those pieces between two characters."""
    chars = [rnd.choice(alphabet) if alphabet else chr(rnd.randint(*rnd.choice(CODE_POINTS)))
             for _ in range(rnd.randint(0, 1 if alphabet else size))]
    pieces = [escape(c, rnd.randrange(3)) for c in chars]
    if damage and rnd.random() < 0.3:
        pieces.insert(rnd.randint(0, len(pieces)), rnd.choice(damage))
    return '"' + "".join(pieces) + '"'


def damaged_string_text(rnd):
    return string_text(rnd, size=10, damage=STRING_DAMAGE)


def key_text(rnd):
    return string_text(rnd, "abé")  # few keys, so some repeat (the last one wins)


def spelled(make):
    return st.builds(make, st.randoms(use_true_random=True))


integer_texts = spelled(integer_text)
float_texts = spelled(float_text)
literal_texts = st.sampled_from(["true", "false", "null"])
scalar_texts = st.one_of(integer_texts, float_texts, literal_texts, spelled(string_text),
                         st.builds(repr, finite_floats))


def join_array(items, blank):
    return "[" + ",".join(before + item + after for before, item, after in items) + (blank if not items else "") + "]"


def join_object(members):
    return "{" + ",".join("".join(parts[:3]) + ":" + "".join(parts[3:]) for parts in members) + "}"


def containers(items, keys=spelled(key_text)):
    """Arrays and objects of `items`, blanks around every token."""
    # Built once per level: strategies made while drawing would cost more than the tests themselves.
    return st.one_of(
        st.builds(join_array, st.lists(st.tuples(blanks, items, blanks), max_size=4), blanks),
        st.builds(join_object, st.lists(st.tuples(blanks, keys, blanks, blanks, items, blanks), max_size=4)))


# Valid JSON texts (some beyond the store's numbers), spelled in every way JSON allows.
json_texts = st.recursive(scalar_texts, containers, max_leaves=8)


def one_line(text):
    """A text of these strategies fit for one line. Raw LF occurs only as a blank between tokens (strings
    escape it), so a tab can stand in for it."""
    return text.replace("\n", "\t")


@st.composite
def deep_nesting(draw, scalar):
    """Arrays and objects nested around the parser's limit."""
    depth = draw(st.integers(120, 135))
    kinds = draw(st.integers(0, 2**depth - 1))  # one bit per level: array or object
    opens = ["[" if kinds >> level & 1 else '{"k":' for level in range(depth)]
    closes = "".join("]" if o == "[" else "}" for o in reversed(opens))
    return "".join(opens) + draw(scalar) + closes


# Raw lines of a JSON Lines file, right and damaged: the texts above with damaged strings (also as keys) and
# literals JSON lacks among their leaves, deep nesting, whitespace alone; then now and then a byte-order
# mark, a CR end, a cut or a stray byte.
def _line_texts():
    damaged_strings = spelled(damaged_string_text)
    scalars = st.one_of(scalar_texts, damaged_strings, st.sampled_from(["NaN", "Infinity", "-Infinity"]))
    keys = spelled(key_text) | damaged_strings
    return st.one_of(st.recursive(scalars, lambda inner: containers(inner, keys), max_leaves=12),
                     deep_nesting(scalars), st.sampled_from(["", " ", "\t", "\r", " \r", "\x0b"]))


# Built once: a strategy made inside each draw would be validated anew every time.
_LINE_TEXTS = _line_texts()


@st.composite
def raw_lines(draw):
    """One line's bytes, without its "\n"."""
    text = one_line(draw(blanks) + draw(_LINE_TEXTS) + draw(blanks))
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
