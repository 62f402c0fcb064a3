"""The attribution queries: indexed and scan paths of show_by_author, the
licence and section queries, and stores that are missing or damaged."""

import json
import os
import random

import pytest

import _zr_native as zr
from conftest import store


@pytest.fixture
def root(root):
    """The shared root, as text."""
    return str(root)


def key(record):
    return (record["line_hash"], record["file"], tuple(record["sources"]))


def scan_path(root, name):
    """show_by_author without index.bin (restored afterwards)."""
    path = store(root, "index.bin")
    saved = open(path, "rb").read() if os.path.exists(path) else None
    if saved is not None:
        os.remove(path)
    try:
        return zr.show_by_author(root, name)
    finally:
        if saved is not None:
            open(path, "wb").write(saved)


def line_hash(n):
    return zr.compute_hash({"n": n})


def random_store(root, rng, lines=400):
    names = ["Ann", "Bob", "Cy"]
    ids = {n: [zr.author_add(n, e, root) for e in ("x", "y")] for n in names}  # same name, two e-mails
    all_ids = [i for v in ids.values() for i in v]
    sections = [zr.register_section("p%d" % s, rng.sample(all_ids, rng.randint(0, 3)), [],
                                    rng.choice(["MIT", "mit", "MIT ", "GPL"]), "2024", root) for s in range(40)]
    for n in range(lines):
        srcs = rng.sample(sections, rng.randint(0, 3)) + rng.choice([[], ["x"], [sections[0]]])
        zr.index_document(root, line_hash(n % (lines - 20)), "f%d" % (n % 3), srcs)  # some lines twice
    return ids, sections


def expected(root, ids):
    """The author's records computed independently from the raw layers."""
    mine = set()
    for rec in zr.shard_iterate_all(root, "sections"):
        if any(a in ids for a in rec["authors"]):
            mine.add(rec["section_hash"])
    return sorted(key(r) for r in zr.read_all_documents(root) if any(s in mine for s in r["sources"]))


def test_indexed_and_scan_paths_agree_until_new_registrations(root):
    rng = random.Random(7)
    ids, sections = random_store(root, rng)
    zr.build_index(root)
    for name in ["Ann", "Bob", "Cy", "Nobody"]:
        indexed = zr.show_by_author(root, name)
        assert sorted(map(key, indexed)) == sorted(map(key, scan_path(root, name)))
        assert sorted(map(key, indexed)) == expected(root, ids.get(name, []))
    # Indexed results come grouped by shard, in ascending shard order.
    shards = [r["line_hash"][:2] for r in zr.show_by_author(root, "Ann")]
    assert shards == sorted(shards)

    new_section = zr.register_section("new", [ids["Ann"][1]], [], "MIT", "2024", root)
    zr.index_document(root, line_hash("new"), "g", [new_section])
    zr.index_document(root, line_hash(0), "g", [new_section])  # a new line in a shard the index knows
    indexed = sorted(map(key, zr.show_by_author(root, "Ann")))
    scanned = sorted(map(key, scan_path(root, "Ann")))
    assert sorted(set(scanned) - set(indexed)) == sorted(
        [(line_hash("new"), "g", (new_section,)), (line_hash(0), "g", (new_section,))])
    assert set(indexed) <= set(scanned)
    zr.build_index(root)
    assert sorted(map(key, zr.show_by_author(root, "Ann"))) == scanned


def test_duplicates_and_revoked_records(root):
    a = zr.author_add("Ann", "x", root)
    # A revoked record of the same name still counts.
    b = "ee" * 32
    with open(store(root, "authors", b[:2]), "a") as f:
        f.write(json.dumps({"id": b, "name": "Ann", "email": "y", "revoked": True}) + "\n")
    s1 = zr.register_section("p1", [a], [], "MIT", "2024", root)
    s2 = zr.register_section("p2", [b], [], "MIT", "2024", root)
    h = line_hash(1)
    zr.index_document(root, h, "f", [s1, s2, s1])  # two of the author's sections: returned once
    zr.index_document(root, h, "f", [s1])
    zr.index_document(root, h, "f", [s1])  # the same line twice: returned twice
    want = [(h, "f", (s1, s2, s1)), (h, "f", (s1,)), (h, "f", (s1,))]
    assert [key(r) for r in scan_path(root, "Ann")] == want
    zr.build_index(root)
    result = zr.show_by_author(root, "Ann")
    assert [key(r) for r in result] == want
    assert list(result[0]) == ["file", "line_hash", "sources"]


def test_license_and_section_queries(root):
    a = zr.author_add("Ann", "x", root)
    mit = zr.register_section("a", [a], [], "MIT", "2024", root)
    lower = zr.register_section("b", [a], [], "mit", "2024", root)
    blank = zr.register_section("c", [a], [], "MIT ", "2024", root)
    for n, s in enumerate([mit, lower, blank, mit]):
        zr.index_document(root, line_hash(n), "f", [s])
    assert sorted(r["line_hash"] for r in zr.show_by_license(root, "MIT")) == sorted([line_hash(0), line_hash(3)])
    assert [r["line_hash"] for r in zr.show_by_license(root, "mit")] == [line_hash(1)]
    assert zr.show_by_license(root, "Apache") == []
    assert [r["line_hash"] for r in zr.show_by_section(root, lower)] == [line_hash(1)]
    assert zr.show_by_section(root, lower.upper()) == []
    assert zr.show_by_section(root, "") == []


def test_missing_and_damaged_layers(tmp_path, root):
    empty = str(tmp_path / "nothing")
    assert zr.show_by_author(empty, "Ann") == []
    assert zr.show_by_license(empty, "MIT") == []
    assert zr.show_by_section(empty, "ab") == []

    a = zr.author_add("Ann", "x", root)
    s = zr.register_section("p", [a], [], "MIT", "2024", root)
    zr.index_document(root, line_hash(1), "f", [s])
    os.makedirs(store(root, "document-index", "sub"))
    os.makedirs(store(root, "sections", "sub"))
    with open(store(root, "document-index", "odd name.txt"), "w") as f:  # any regular file is read
        f.write("garbage\n{\"line_hash\":\"h\",\"file\":\"f\",\"sources\":[\"%s\"],\"sources\":[]}\n" % s)
        f.write("[\"h2\",\"f\",[\"%s\"]]\r\n{\"line_hash\":\"h3\",\"file\":\"f\",\"sources\":[\"%s\",1]}\n" % (s, s))
    with open(store(root, "sections", s[:2]), "a") as f:
        f.write("{broken\n")
    scanned = [r["line_hash"] for r in zr.show_by_section(root, s)]
    assert sorted(scanned) == sorted([line_hash(1), "h2"])
    assert sorted(r["line_hash"] for r in zr.show_by_author(root, "Ann")) == sorted(scanned)
    zr.build_index(root)
    # The index names document shards only; the odd file is not one of them.
    assert [r["line_hash"] for r in zr.show_by_author(root, "Ann")] == [line_hash(1)]


def test_damaged_index_bin(root):
    a = zr.author_add("Ann", "x", root)
    path = store(root, "index.bin")
    for content, message in [(b"short", "binary index file too small: 5 bytes"),
                             (b"ZRIDXF01" + bytes(2064), "binary index format ZRIDXF01 is no longer supported; "
                                                         "run `zr index build` to rebuild"),
                             (b"XXXXXXXX" + bytes(2064), "binary index magic mismatch")]:
        open(path, "wb").write(content)
        with pytest.raises(RuntimeError) as err:
            zr.show_by_author(root, "Ann")
        assert str(err.value) == message
    # Random damage never crashes: an answer or one of the messages above.
    zr.register_section("p", [a], [], "MIT", "2024", root)
    zr.index_document(root, line_hash(1), "f", [zr.register_section("q", [a], [], "MIT", "2024", root)])
    zr.build_index(root)
    good = open(path, "rb").read()
    rng = random.Random(3)
    for _ in range(300):
        data = bytearray(good[:rng.randint(0, len(good))] if rng.random() < 0.3 else good)
        for _ in range(rng.randint(1, 8)):
            if data:
                data[rng.randrange(len(data))] = rng.randrange(256)
        open(path, "wb").write(bytes(data))
        try:
            zr.show_by_author(root, "Ann")
        except RuntimeError:
            pass

