"""Every entry point that parses JSON reads a text exactly as Python's json.loads does under the store's rules
(big integers as floats, NaN and Infinity refused), whatever whitespace surrounds it and wherever it stands."""

import json

import pytest
from hypothesis import HealthCheck, assume, given, settings, strategies as st

import _zr_native as zr
from conftest import sha256
from json_reference import Refused, as_python, compact, content_hash, read
from strategies import (big_integers, blanks, containers, float_texts, integer_texts, json_texts, json_values,
                        literal_texts, one_line)

EXAMPLES = settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.too_slow])
FEWER = settings(EXAMPLES, max_examples=100)  # each example rewrites a data file and waits for the disk


def reading(text):
    try:
        return True, read(text)
    except Refused:
        return False, None


def surroundings(text, pads):
    """The text alone, padded, and inside containers: it must read the same in each."""
    left, right = pads
    return [text, left + text + right, "[" + left + text + right + "]", '{"k":' + left + text + right + "}"]


# --- the parse of a line, and of Python objects ------------------------------------------------------


@pytest.fixture(scope="module")
def scratch(tmp_path_factory):
    return tmp_path_factory.mktemp("exactness")


@EXAMPLES
@given(json_texts, st.tuples(blanks, blanks))
def test_jsonl_read_reads_lines_as_python_does(scratch, text, pads):
    lines = [one_line(t) for t in surroundings(text, pads)]
    path = scratch / "lines.jsonl"
    path.write_bytes("".join(line + "\n" for line in lines).encode())
    expected = []
    for line in lines:
        ok, value = reading(line)
        if ok:
            expected.append(as_python(value))
    got = zr.jsonl_read(str(path))
    assert [compact(v) for v in got] == [compact(v) for v in expected]
    # All or none: the value does not depend on what surrounds it.
    assert len(got) in (0, len(lines))


# Infinities included: the hash must refuse them.
python_values = json_values(st.one_of(st.none(), st.booleans(), big_integers(), st.integers(),
                                      st.floats(allow_nan=False), st.text(max_size=6)),
                            keys=st.text(max_size=3), max_size=3, max_leaves=6)


@EXAMPLES
@given(python_values)
def test_compute_hash_hashes_the_text_that_json_dumps_gives(value):
    ok, expected = reading(json.dumps(value))
    if not ok:
        with pytest.raises(RuntimeError):
            zr.compute_hash(value)
        return
    assert zr.compute_hash(value) == content_hash(expected)
    assert zr.compute_hash([value]) == content_hash([expected])


def test_integers_beyond_64_bits_hash_as_their_own_float():
    assert zr.compute_hash(10**19) == sha256("10000000000000000000")
    assert zr.compute_hash(10**20) == sha256("1e20")
    assert zr.compute_hash(-(10**20)) == sha256("-1e20")
    assert zr.compute_hash(123456789012345678901) == sha256("1.2345678901234568e20")
    assert zr.compute_hash(2**64) == sha256("1.8446744073709552e19")
    assert zr.compute_hash(10**400 // 10**92) == sha256("1e308")
    with pytest.raises(RuntimeError):
        zr.compute_hash(10**309)


# --- line hashes: track, blame, and the purge's line test --------------------------------------------


@pytest.fixture(scope="module")
def store(tmp_path_factory):
    root = tmp_path_factory.mktemp("store")
    zr.init(str(root))
    return str(root)


@EXAMPLES
@given(json_texts, st.tuples(blanks, blanks))
def test_blame_finds_what_track_recorded_however_the_line_is_spelled(store, text, pads):
    ok, value = reading(text)
    if not ok:
        # A text that is not a value is hashed as the JSON string holding it, blanks and all.
        line_hash = zr.track(text, "data.jsonl", ["s"], store)
        assert line_hash in {r["line_hash"] for r in zr.blame(store, "data.jsonl", text)}
        return
    # json.dumps of the value read gives back the same value, so track hashes it unchanged.
    line_hash = zr.track(value, "data.jsonl", ["s"], store)
    assert line_hash == content_hash(value)
    for spelled in surroundings(text, pads)[:2]:
        assert line_hash in {r["line_hash"] for r in zr.blame(store, "data.jsonl", spelled)}, spelled


SHARP = ['"', "\\", "{", "}", "[", "]", ",", ":", " ", "\t", "\n", "\x01", "\x7f", "é", "0", "-", ".", "e", "u",
         "t", "\\u00e9", "\\ud83d"]


@st.composite
def damaged_texts(draw):
    """A text, mostly an object or array, with one to three edits that usually leave it invalid."""
    text = draw(st.one_of(containers(json_texts), json_texts))
    for _ in range(draw(st.integers(1, 3))):
        at = draw(st.integers(0, len(text)))
        edit = draw(st.integers(0, 4))
        if edit == 0:
            text = text[:at] + draw(st.sampled_from(SHARP)) + text[at + 1:]
        elif edit == 1:
            text = text[:at] + draw(st.sampled_from(SHARP)) + text[at:]
        elif edit == 2:
            text = text[:at] + text[at + draw(st.integers(1, 3)):]
        elif edit == 3:
            text = text[:at]
        else:
            text = text[:at] + text[draw(st.integers(0, len(text))):][:6] + text[at:]
    return text


def line_hash_of(text):
    """The line hash of a line of text: its value's hash, or that of the JSON string holding the text."""
    ok, value = reading(text)
    if ok:
        try:
            return content_hash(value)
        except UnicodeEncodeError:  # a lone surrogate escape, which the store refuses
            pass
    return content_hash(text)


@EXAMPLES
@given(damaged_texts())
def test_blame_hashes_damaged_lines_as_the_reference_reads_them(store, text):
    # Valid or not, the line's hash is the reference's: accepting a broken text, or writing a valid one's
    # compact text otherwise, would change the hash.
    file = f"damaged-{sha256(text)[:16]}.jsonl"
    zr.index_document(store, line_hash_of(text), file, ["s"])
    assert file in {r["file"] for r in zr.blame(store, "data.jsonl", text)}, text


@pytest.fixture(scope="module")
def revoked_store(tmp_path_factory):
    root = str(tmp_path_factory.mktemp("purge"))
    zr.init(root)
    section = zr.register_section("data.jsonl", [], [], "MIT", "2024", root)
    zr.revoke_section(root, section)
    return root, section, set()


def tracked_under(store, value, section, tracked):
    tracked.add(zr.track(value, "data.jsonl", [section], store))


@FEWER
@given(json_texts, st.lists(json_texts, max_size=3), st.tuples(blanks, blanks))
def test_purge_removes_exactly_the_lines_whose_value_was_revoked(revoked_store, text, others, pads):
    root, section, tracked = revoked_store
    ok, value = reading(text)
    assume(ok)
    tracked_under(root, value, section, tracked)
    lines = [one_line(t) for t in surroundings(text, pads)[:2] + others]
    data = f"{root}/data.jsonl"
    with open(data, "w") as f:
        f.write("".join(line + "\n" for line in lines))
    expected = 0
    for line in lines:
        ok, v = reading(line)
        expected += ok and content_hash(v) in tracked
    counts = zr.purge_revoked(root, data, False)
    assert (counts["purged"], counts["kept"]) == (expected, len(lines) - expected)
    with open(data, newline="") as f:
        left = f.read().split("\n")[:-1]
    assert len(left) == len(lines) - expected
    assert not any(reading(line)[0] and content_hash(reading(line)[1]) in tracked for line in left)


def test_purge_tells_integers_beyond_64_bits_from_their_neighbours(tmp_path):
    root = str(tmp_path)
    zr.init(root)
    section = zr.register_section("data.jsonl", [], [], "MIT", "2024", root)
    zr.track(10**19, "data.jsonl", [section], root)
    zr.revoke_section(root, section)
    data = tmp_path / "data.jsonl"
    lines = ["100000000000000000000", "10000000000000000000", "  10000000000000000000\t", "[10000000000000000000]",
             "10000000000000000000.0", "1e19", "true   ", "false#"]
    data.write_text("".join(line + "\n" for line in lines))
    assert zr.purge_revoked(root, str(data), False)["purged"] == 2
    assert data.read_text().splitlines() == [lines[0]] + lines[3:]


# --- typed record readers ----------------------------------------------------------------------------


number_or_literal = st.one_of(integer_texts, float_texts, literal_texts)


@EXAMPLES
@given(number_or_literal, st.tuples(blanks, blanks))
def test_document_records_read_whatever_numbers_stand_beside_them(store, extra, pads):
    line_hash = "ab" * 32
    left, right = (one_line(p) for p in pads)
    line = '{"file":"f","line_hash":"%s","sources":["s"],"n":%s%s%s}' % (line_hash, left, extra, right)
    with open(f"{store}/.zr/document-index/ab", "w") as f:
        f.write(line + "\n")
    ok, _ = reading(line)
    expected = [{"file": "f", "line_hash": line_hash, "sources": ["s"]}] if ok else []
    assert zr.lookup_document(store, line_hash) == expected


@EXAMPLES
@given(number_or_literal, st.sampled_from(["true", "false"]), st.tuples(blanks, blanks))
def test_author_records_read_their_mark_and_any_number_beside_them(store, extra, mark, pads):
    author_id = "cd" * 32
    left, right = (one_line(p) for p in pads)
    line = '{"id":"%s","name":"Ann","email":"e","n":%s,"revoked":%s%s%s}' % (author_id, extra, left, mark, right)
    with open(f"{store}/.zr/authors/cd", "w") as f:
        f.write(line + "\n")
    ok, _ = reading(line)
    expected = ['{"id":"%s","name":"Ann","email":"e","revoked":%s}' % (author_id, mark)] if ok else []
    assert zr.author_query(store, "Ann", None) == expected


@pytest.fixture(scope="module")
def token_store(tmp_path_factory):
    root = tmp_path_factory.mktemp("tokens")
    zr.init(str(root))
    (root / ".zr" / "token-index.tk").mkdir()
    author_id = zr.author_add("Ann", "e", str(root))
    section = zr.register_section("p", [author_id], [], "MIT", "2024", str(root))
    return root, section


@EXAMPLES
@given(number_or_literal, st.sampled_from(["true", "false"]), st.booleans(), st.tuples(blanks, blanks))
def test_token_entries_read_counts_and_marks_exactly(token_store, count, mark, plain, pads):
    root, section = token_store
    left, right = ("", "") if plain else (one_line(p) for p in pads)
    line = '{"token_count":%s%s%s,"sources":["%s"],"tokenizer":"tk","revoked":%s%s%s}' % (
        left, count, right, section, left, mark, right)
    (root / ".zr" / "token-index.tk" / "001").write_text(line + "\n")
    ok, value = reading(count)
    readable = ok and type(value) is int and value >= 0
    status = zr.token_index_token_status(str(root), "tk")
    assert status["total_entries"] == readable
    assert status["revoked_entries"] == (readable and mark == "true")
    assert status["total_tokens"] == (value if readable else 0)
    # The author's total reads the same lines through its quick reader.
    by_author = zr.show_by_author_token(str(root), "Ann", "tk")
    assert by_author["total_tokens"] == (value if readable and mark == "false" else 0)
