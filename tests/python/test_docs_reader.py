"""The store reader sketched in docs/examples agrees with the module: the
documented layouts of index.bin and the token binary index are the ones
written."""

import importlib.util
import json
import os

import _zr_native as zr

_READER = os.path.join(os.path.dirname(__file__), "..", "..", "docs", "examples", "read_store.py")
_location = importlib.util.spec_from_file_location("read_store", _READER)
read_store = importlib.util.module_from_spec(_location)
_location.loader.exec_module(read_store)


def key_order(records):
    return sorted(records, key=lambda r: (r["line_hash"], r["file"]))


def test_documented_layouts_read_back_what_the_module_answers(tmp_path):
    root = str(tmp_path)
    zr.init(root)
    ann = zr.author_add("Ann", "a@x", root)
    zr.author_add("Ann", "other@x", root)
    bob = zr.author_add("Bob", "b@x", root)
    mine = zr.register_section("a.md", [ann], [], "MIT", "2024", root)
    shared = zr.register_section("b.md", [bob, ann], ["Carl"], "MIT", "2024", root)
    theirs = zr.register_section("c.md", [bob], [], "CC0", "2023", root)
    data = os.path.join(root, "data.jsonl")
    with open(data, "w") as f:
        for i in range(40):
            line = {"i": i, "text": "line %d" % i}
            f.write(json.dumps(line) + "\n")
            zr.track(line, data, [[mine], [shared], [theirs], [mine, theirs]][i % 4], root, 5 + i, "tk")
    zr.clean(root, False)
    zr.build_index(root)

    for name in ("Ann", "Bob", "Nobody"):
        assert key_order(read_store.lines_of_author(root, name)) == key_order(zr.show_by_author(root, name))

    # Every token ref of index.bin points at a chunk line that names the key.
    index = read_store.read_index_bin(os.path.join(root, ".zr", "index.bin"))
    assert len(index) == 5  # two author ids listed by sections, three sections
    token_refs = 0
    for key, (_shards, tokens) in index.items():
        for tokenizer, chunk, offset, length in tokens:
            with open(os.path.join(root, ".zr", "token-index." + tokenizer, "%03d" % chunk), "rb") as f:
                f.seek(offset)
                entry = json.loads(f.read(length))
            assert key.hex() in entry["sources"]
            token_refs += 1
    assert token_refs == 50  # one per source named by an entry

    assert zr.revoke_by_author_token(root, "Bob", "tk") == 30
    mask = read_store.forget_set_from_token_bin(os.path.join(root, ".zr", "token-index.tk.bin"))
    assert mask == zr.generate_forget_set(root, "tk") and mask != bytes(len(mask))
