"""The token binary index, checked byte for byte against an independent encoder."""

import json
import os
import struct

import pytest

import _zr_native as zr

H1 = "1f" * 32
H2 = "a0" * 32
H3 = "00" * 31 + "ff"


def expected_index(chunks):
    """The file's bytes for chunk files given as (number, bytes) in merged order."""
    records, keyed = [], {}
    for number, data in chunks:
        pos = 0
        for piece in data.split(b"\n"):
            e = as_entry(piece) if piece else None
            if e is not None:
                count, sources, revoked = e
                for s in sources:
                    if len(s) == 64 and all(c in "0123456789abcdefABCDEF" for c in s):
                        keyed.setdefault(bytes.fromhex(s), []).append(len(records))
                records.append(struct.pack("<HIIB5x", number % 65536, pos, len(piece), 1 if revoked else 0))
            pos += len(piece) + 1
    n, keys = len(records), sorted(keyed)
    source_off = 64 + 16 * n
    table, fanout, at = b"", [0] * 256, source_off
    for key in keys:
        if fanout[key[0]] == 0:
            fanout[key[0]] = at
        record = key + struct.pack("<H", len(keyed[key])) + b"".join(struct.pack("<I", i) for i in keyed[key])
        table += record
        at += len(record)
    header = b"ZRIDXTI01" + struct.pack("<IIIIII", 1, n, len(keys), 64, source_off, at) + bytes(31)
    return header + b"".join(records) + table + struct.pack("<256Q", *fanout), n, len(keys)


def as_entry(line):
    def no_repeats(pairs):
        names = [k for k, _ in pairs]
        own = {"token_count", "sources", "tokenizer", "revoked"}
        if any(names.count(k) > 1 for k in own):
            raise ValueError
        return dict(pairs)

    try:
        value = json.loads(line, object_pairs_hook=no_repeats)
    except ValueError:
        return None
    if isinstance(value, list) and len(value) == 4:
        value = dict(zip(["token_count", "sources", "tokenizer", "revoked"], value))
    if not isinstance(value, dict) or not {"token_count", "sources", "tokenizer", "revoked"} <= set(value):
        return None
    count, sources = value["token_count"], value["sources"]
    if type(count) is not int or not 0 <= count < 2**64 or type(value["revoked"]) is not bool:
        return None
    if not isinstance(sources, list) or not all(isinstance(s, str) for s in sources):
        return None
    if not isinstance(value["tokenizer"], str):
        return None
    return count, sources, value["revoked"]


def line(count, sources, revoked=False):
    return json.dumps({"revoked": revoked, "sources": sources, "token_count": count, "tokenizer": "tk"},
                      separators=(",", ":")).encode()


@pytest.fixture
def project(tmp_path):
    (tmp_path / ".zr" / "token-index.tk").mkdir(parents=True)
    return tmp_path


def chunk_dir(project):
    return project / ".zr" / "token-index.tk"


def index_bytes(project):
    return (project / ".zr" / "token-index.tk.bin").read_bytes()


def build(project):
    return zr.token_index_build_binary_index(str(project), "tk")


def test_layout_matches_independent_encoding(project):
    d = chunk_dir(project)
    chunks = {
        "002": b"\n".join([
            line(1, [H2, "abc", H1, "x" * 63 + "g", "ab" * 31]),
            b"not json",
            line(2, [H1, H1.upper()], revoked=True),
            b"",
        ]) + b"\n",
        "+3": b'[4,["' + H3.encode() + b'"],"tk",true]\r\n' + line(5, []) + b"\r\n\r\n",
        "10": line(6, [H3]),  # no final line feed
        "-1": line(9, [H1]),  # not a chunk file
        "x": line(9, [H1]),
    }
    for name, data in chunks.items():
        (d / name).write_bytes(data)
    result = build(project)
    expected, n, k = expected_index([(2, chunks["002"]), (3, chunks["+3"]), (10, chunks["10"])])
    assert result == f"entries={n}, sources={k}" == "entries=5, sources=3"
    assert index_bytes(project) == expected
    assert sorted(os.listdir(project / ".zr")) == ["token-index.tk", "token-index.tk.bin"]


def test_same_number_keeps_listing_order(project):
    d = chunk_dir(project)
    (d / "7").write_bytes(line(1, [H1]) + b"\n")
    (d / "007").write_bytes(b"\n\n" + line(2, [H1]) + b"\n")
    (d / "+07").write_bytes(b"\n" + line(3, [H1]) + b"\n")
    (d / "1").write_bytes(line(4, [H1]) + b"\n")
    listed = [n for n in os.listdir(d) if n != "1"]
    build(project)
    expected, _, _ = expected_index([(1, (d / "1").read_bytes())] + [(7, (d / n).read_bytes()) for n in listed])
    assert index_bytes(project) == expected


def test_empty_merged_directory(project):
    (chunk_dir(project) / "001").write_bytes(b"junk\n\n")
    assert build(project) == "entries=0, sources=0"
    data = index_bytes(project)
    assert len(data) == 2112
    assert data == b"ZRIDXTI01" + struct.pack("<IIIIII", 1, 0, 0, 64, 64, 64) + bytes(31 + 2048)


def test_rebuild_replaces_a_damaged_index(project):
    (chunk_dir(project) / "001").write_bytes(line(1, [H1]) + b"\n")
    (project / ".zr" / "token-index.tk.bin").write_bytes(b"garbage")
    assert build(project) == "entries=1, sources=1"
    assert index_bytes(project) == expected_index([(1, line(1, [H1]) + b"\n")])[0]


def test_missing_merged_directory(tmp_path):
    with pytest.raises(RuntimeError) as err:
        zr.token_index_build_binary_index(str(tmp_path), "tk")
    assert str(err.value) == "no merged token-index directory for tokenizer 'tk'"


class TestFormatLimits:
    def test_too_many_entries_under_one_key_remove_the_index(self, project):
        d = chunk_dir(project)
        (d / "001").write_bytes(line(1, [H1]) + b"\n")
        build(project)
        (d / "002").write_bytes((line(1, [H1]) + b"\n") * 65535)
        with pytest.raises(RuntimeError, match="limit"):
            build(project)
        assert not (project / ".zr" / "token-index.tk.bin").exists()
        assert sorted(os.listdir(project / ".zr")) == ["token-index.tk"]
        (d / "001").unlink()
        assert build(project) == "entries=65535, sources=1"

    def test_chunk_numbers_above_65535(self, project):
        d = chunk_dir(project)
        (d / "65535").write_bytes(line(1, []) + b"\n")
        assert build(project) == "entries=1, sources=0"
        (d / "65536").write_bytes(b"no entry here\n")
        assert build(project) == "entries=1, sources=0"
        (d / "65536").write_bytes(line(1, []) + b"\n")
        with pytest.raises(RuntimeError, match="chunk number 65536"):
            build(project)
        assert not (project / ".zr" / "token-index.tk.bin").exists()
