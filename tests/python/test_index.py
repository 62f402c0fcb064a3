"""The index build: the `index` layer byte for byte, index.bin checked against
an independent encoding, token refs, the line-offset table, and stores with
hand-edited or unsafe content."""

import hashlib
import json
import os
import struct

import pytest

import _zr_native as zr
from conftest import compact, store, write_lines


def section_hash(path, authors, contributors=(), license="MIT", year="2024"):
    text = compact({"authors": list(authors), "contributors": list(contributors), "license": license,
                    "path": path, "year": year})
    return hashlib.sha256(text.encode()).hexdigest()


@pytest.fixture
def root(root):
    """The shared root, as text."""
    return str(root)


def index_layer(root):
    """{file name: bytes} of the regular files of the index layer."""
    d = store(root, "index")
    return {n: open(os.path.join(d, n), "rb").read() for n in os.listdir(d) if os.path.isfile(os.path.join(d, n))}


def parse_index_bin(data):
    """An independent reader of index.bin: (entries as [(key hex, refs)], line table or None)."""
    assert data[:8] == b"ZRIDXF02"
    count, reserved, t = struct.unpack_from("<IIQ", data, 8)
    assert reserved == 0
    fanout = struct.unpack_from("<256Q", data, t)
    entries, pos = [], 24
    for _ in range(count):
        key = data[pos:pos + 32]
        (m,) = struct.unpack_from("<H", data, pos + 32)
        payload, refs, i = data[pos + 34:pos + 34 + m], [], 0
        if not entries or entries[-1][0][:2] != key.hex()[:2]:
            assert fanout[key[0]] == pos
        while i < m:
            if payload[i] == 0:
                refs.append(payload[i + 1])
                i += 2
            else:
                n = payload[i + 1]
                name = payload[i + 2:i + 2 + n].decode()
                chunk, offset, length = struct.unpack_from("<HII", payload, i + 2 + n)
                refs.append((name, chunk, offset, length))
                i += 12 + n
        entries.append((key.hex(), refs))
        pos += 34 + m
    assert pos == t
    table = None
    if len(data) > t + 2048:
        (n,) = struct.unpack_from("<I", data, t + 2048)
        table = list(struct.unpack_from("<%dI" % n, data, t + 2052))
        assert len(data) == t + 2052 + 4 * n
    return entries, table


def read_bin(root):
    return parse_index_bin(open(store(root, "index.bin"), "rb").read())


def test_empty_store(root):
    result = zr.build_index(root)
    assert list(result.items()) == [("authors", 0), ("sections", 0), ("total", 0), ("token_index_entries", 0)]
    assert os.listdir(store(root, "index")) == []
    data = open(store(root, "index.bin"), "rb").read()
    assert data == b"ZRIDXF02" + bytes(8) + struct.pack("<Q", 24) + bytes(2048)


def test_one_section_two_documents_byte_exact(root):
    a = zr.author_add("Ann", "x", root)
    h = zr.register_section("docs/a.md", [a], [], "MIT", "2024", root)
    for prefix in ("3f", "a0"):
        zr.index_document(root, prefix + "1" * 62, "data.jsonl", [h, "not-a-section"])
    assert zr.build_index(root) == {"authors": 1, "sections": 1, "total": 2, "token_index_entries": 0}

    want = {}
    for name, line in ((a[:2], '{"id":"%s","refs":["%s"]}\n' % (a, h[:2])),
                       (h[:2], '{"id":"%s","refs":["3f","a0"]}\n' % h)):
        want[name] = want.get(name, b"") + line.encode()  # same shard: the author's record first
    assert index_layer(root) == want

    # Independent encoding: sorted keys, shard refs tag 0, fanout slots, T.
    records = sorted([(bytes.fromhex(a), bytes([0, int(h[:2], 16)])), (bytes.fromhex(h), bytes([0, 0x3f, 0, 0xa0]))])
    body, fanout, offset = b"", [0] * 256, 24
    for key, payload in records:
        if fanout[key[0]] == 0:
            fanout[key[0]] = offset
        record = key + struct.pack("<H", len(payload)) + payload
        body += record
        offset += len(record)
    expected = b"ZRIDXF02" + struct.pack("<IIQ", 2, 0, offset) + body + struct.pack("<256Q", *fanout)
    assert open(store(root, "index.bin"), "rb").read() == expected


def test_sections_authors_and_duplicates(root):
    a = zr.author_add("Ann", "x", root)
    # Two sections whose hashes share their first two characters, both by a.
    seen, pair = {}, None
    for i in range(2000):
        h = section_hash("p%d" % i, [a])
        if h[:2] in seen:
            pair = (seen[h[:2]], i)
            break
        seen[h[:2]] = i
    hashes = [zr.register_section("p%d" % i, [a], [], "MIT", "2024", root) for i in pair]
    zr.register_section("p%d" % pair[0], [a], [], "MIT", "2024", root)  # registered twice
    lonely = zr.register_section("lonely", [], [], "MIT", "2024", root)
    revoked = section_hash("revoked", [a])
    write_lines(store(root, "sections", revoked[:2]),
                [{"section_hash": revoked, "path": "revoked", "authors": [a], "contributors": [], "license": "MIT",
                  "year": "2024", "revoked": True}], mode="a")
    zr.index_document(root, "00" + "0" * 62, "f", [revoked])

    assert zr.build_index(root) == {"authors": 1, "sections": 4, "total": 5, "token_index_entries": 0}
    records = [json.loads(line) for blob in index_layer(root).values() for line in blob.splitlines()]
    by_id = {r["id"]: r["refs"] for r in records}
    assert len(records) == 5
    assert by_id[a] == sorted({hashes[0][:2], revoked[:2]})
    assert by_id[lonely] == [] and by_id[revoked] == ["00"]
    entries = dict(read_bin(root)[0])
    assert entries[lonely] == [] and entries[revoked] == [0]
    for blob in index_layer(root).values():  # author records come before section records
        kinds = ["section" if json.loads(l)["id"] != a else "author" for l in blob.splitlines()]
        assert kinds == sorted(kinds)


def test_stale_files_go_and_subdirectories_stay(root):
    write_lines(store(root, "index", "zz"), ['{"id":"%s","refs":["01"]}' % ("ab" * 32)])
    write_lines(store(root, "index", "sub", "ab"), ["kept"])
    zr.build_index(root)
    assert os.listdir(store(root, "index")) == ["sub"]
    assert open(store(root, "index", "sub", "ab")).read() == "kept\n"
    assert read_bin(root)[0] == []


def test_token_refs(root):
    h = zr.register_section("p", [], [], "MIT", "2024", root)
    other = "cd" * 32
    merged = store(root, "token-index.tok")
    lines = [
        compact({"revoked": False, "sources": [h, other.upper(), h], "token_count": 5, "tokenizer": "tok"}) + "\r",
        "garbage",
        compact({"sources": "not-an-array"}),
        compact({"sources": ["short", 7]}),
    ]
    write_lines(os.path.join(merged, "+7"), lines)
    write_lines(os.path.join(merged, "007.x"), [compact({"sources": [h]})])
    write_lines(os.path.join(merged, "3"), [compact({"sources": [other]})])
    result = zr.build_index(root)
    assert result["token_index_entries"] == 3  # "+7": two lines with an array; "3": one; "007.x" is no chunk
    first = len(lines[0])  # the "\r" counts
    entries = dict(read_bin(root)[0])
    assert entries[h] == [("tok", 7, 0, first), ("tok", 7, 0, first)]
    # No section, yet an entry: token refs alone, chunk 3 before chunk 7.
    assert entries[other] == [("tok", 3, 0, len(compact({"sources": [other]}))), ("tok", 7, 0, first)]
    assert other[:2] not in index_layer(root)
    assert os.path.exists(store(root, "token-index.tok.bin"))  # the token binary index was rebuilt


def test_token_refs_that_do_not_fit_are_left_out(root):
    a = zr.author_add("Ann", "x", root)
    h = zr.register_section("p", [a], [], "MIT", "2024", root)
    zr.index_document(root, "01" + "0" * 62, "f", [h])
    zr.index_document(root, "02" + "0" * 62, "f", [h])
    write_lines(store(root, "token-index.tok", "001"), [compact({"sources": [h]})] * 5000)
    assert zr.build_index(root)["token_index_entries"] == 5000
    refs = dict(read_bin(root)[0])[h]
    width = len(compact({"sources": [h]})) + 1
    assert refs[:2] == [1, 2]  # every shard ref is kept
    kept = (65535 - 4) // 15  # then as many 15-byte token refs as fit
    assert refs[2:] == [("tok", 1, i * width, width - 1) for i in range(kept)]


def test_line_table_of_the_first_listed_jsonl(root):
    with open(os.path.join(root, "a.jsonl"), "wb") as f:
        f.write(b"a\nb\n")
    with open(os.path.join(root, "b.jsonl"), "wb") as f:
        f.write(b"a\n\nb")
    os.mkdir(os.path.join(root, ".jsonl"))  # no extension: not a data file
    first = [n for n in os.listdir(root) if n.endswith(".jsonl") and n != ".jsonl"][0]
    zr.build_index(root)
    assert read_bin(root)[1] == {"a.jsonl": [0, 2], "b.jsonl": [0, 2, 3]}[first]


def test_the_data_file_is_chosen_by_name_alone(root):
    # Entries of the root that are not chosen are never examined, so the
    # user's own broken links cannot fail a build.
    os.symlink("loop", os.path.join(root, "loop"))
    os.symlink("nowhere", os.path.join(root, "dangling"))
    with open(os.path.join(root, "d.jsonl"), "wb") as f:
        f.write(b"a\nb\n")
    zr.build_index(root)
    assert read_bin(root)[1] == [0, 2]
    # The chosen entry is read, and a failure to read it is the build's.
    os.remove(os.path.join(root, "d.jsonl"))
    os.symlink("l.jsonl", os.path.join(root, "l.jsonl"))
    with pytest.raises(RuntimeError, match="^Too many levels of symbolic links$"):
        zr.build_index(root)
    assert read_bin(root)[1] is None


def test_unsafe_values_are_skipped(root):
    unsafe = ["", "a", "..", "./x", "a/b", "a\u00e9", "a\0b", ".."]
    safe = "ab" * 32
    sections = [{"section_hash": h, "path": "p", "authors": unsafe + [safe], "contributors": [], "license": "MIT",
                 "year": "2024"} for h in unsafe + ["cd" * 32]]
    write_lines(store(root, "sections", "xx"), sections)
    write_lines(store(root, "document-index", "yy"),
                [{"line_hash": lh, "file": "f", "sources": ["cd" * 32]} for lh in unsafe + ["ef" * 32]])
    before = sorted(os.listdir(store(root)))
    assert zr.build_index(root) == {"authors": 1, "sections": 1, "total": 2, "token_index_entries": 0}
    assert sorted(index_layer(root)) == ["ab", "cd"]
    assert json.loads(index_layer(root)["cd"]) == {"id": "cd" * 32, "refs": ["ef"]}
    assert sorted(os.listdir(store(root))) == sorted(set(before) | {"index.bin"})


def test_hand_edited_store(root):
    h = "ab" * 32
    write_lines(store(root, "sections", "notes.txt"), [
        "not json", "", "{\"section_hash\":", "[1,2]",
        # a repeated member: the last one counts
        '{"section_hash":"zz","authors":["x1"],"section_hash":"%s","authors":["%s"]}' % (h, "cd" * 32),
        '{"section_hash":"%s","authors":"cd"}' % ("ef" * 32),
        '{"section_hash":"ok\\u00e9\\n","authors":[1,null,"%s"]}' % ("cd" * 32),
    ])
    write_lines(store(root, "document-index", "x.y"), [
        '{"line_hash":"12ab","sources":["%s"],"sources":["%s",5]}' % ("00" * 32, h),
        '{"line_hash":7,"sources":["%s"]}' % h,
        '["34ab","f",["%s"]]' % h,
        '{"line_hash":"56","sources":["%s"],"file":{"nested":[1.5e3,"\\""]}}' % h,
    ])
    os.makedirs(store(root, "document-index", "sub"))
    os.makedirs(store(root, "token-index.t", "001.d"))
    write_lines(store(root, "index", "old.txt"), ["{}"])
    result = zr.build_index(root)
    assert result == {"authors": 1, "sections": 3, "total": 4, "token_index_entries": 0}
    layer = index_layer(root)
    by_id = {json.loads(l)["id"]: json.loads(l)["refs"] for blob in layer.values() for l in blob.splitlines()}
    assert by_id[h] == ["12", "56"]
    assert by_id["cd" * 32] == sorted(["ab", "ok"])
    assert by_id["ef" * 32] == []
    assert "ok" in layer and "old.txt" not in layer
    entries = dict(read_bin(root)[0])
    assert entries["cd" * 32] == [0xab]  # "ok" is no shard byte
    assert "ok\u00e9\n" not in entries


def test_index_shard_blocked_by_a_directory_is_an_error(root):
    h = zr.register_section("p", [], [], "MIT", "2024", root)
    os.makedirs(store(root, "index", h[:2]))
    with pytest.raises(RuntimeError):
        zr.build_index(root)


def test_missing_store_and_unreadable_data_file(tmp_path):
    root = str(tmp_path)
    assert zr.build_index(root)["total"] == 0  # the index layer is created with its parents
    assert os.path.isdir(os.path.join(root, ".zr", "index"))
    with open(os.path.join(root, "d.jsonl"), "w") as f:
        f.write("{}\n")
    zr.build_index(root)
    assert read_bin(root) == ([], [0])
    os.remove(os.path.join(root, "d.jsonl"))
    os.mkdir(os.path.join(root, "d.jsonl"))
    with pytest.raises(RuntimeError, match="Is a directory"):
        zr.build_index(root)
    assert read_bin(root) == ([], None)  # a new index.bin all the same, without a table
    os.rmdir(os.path.join(root, "d.jsonl"))
    # Pipes are refused, never waited on.
    os.mkfifo(os.path.join(root, "p.jsonl"))
    with pytest.raises(RuntimeError, match="No such device"):
        zr.build_index(root)
    os.remove(os.path.join(root, "p.jsonl"))
    os.makedirs(os.path.join(root, ".zr", "token-index.t"))
    os.mkfifo(os.path.join(root, ".zr", "token-index.t", "001"))
    with pytest.raises(RuntimeError, match="No such device"):
        zr.build_index(root)
