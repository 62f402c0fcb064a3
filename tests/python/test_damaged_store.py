"""Every operation survives a store full of damaged, hand-edited files.

The store is first filled through the module (so each kind of file exists),
then every file is cut, padded with random bytes or replaced by near-miss
JSON. Each function must then either answer or raise RuntimeError: never
crash the interpreter and never raise the internal-fault class.
"""

import os
import random

import pytest

import _zr_native as zr

NEAR_MISSES = [
    b'{"id":1}', b'{"revoked":"yes"}', b'[1,2,3]', b'["a","b",["c"]]', b'{"sources":"x"}', b'null',
    b'{"line_hash":"","file":"f","sources":[]}', b'{"line_hash":"a","file":"f","sources":[1]}',
    b'{"token_count":-1,"sources":[],"tokenizer":"t","revoked":false}',
    b'{"token_count":1,"sources":["..","/x"],"tokenizer":"t","revoked":true}',
    b'{"section_hash":"/.","authors":["../x"],"license":"MIT"}',
    b'{"id":"..","name":"A","email":"e","revoked":true}', b'{"a":1,"a":2}', b'\xff\xfe', b'{"x":"\\ud800"}',
    b'[' * 300, b'{"archived_at":"x","line":{"a":1}}', b'{"line":[1]}', b'\r', b'   ', b'1e999',
]


def build_store(root):
    zr.init(root)
    author = zr.author_add("Ann", "ann@example.org", root)
    section = zr.register_section("a.py", [author], [], "MIT", "2024", root)
    data = os.path.join(root, "data.jsonl")
    with open(data, "w") as f:
        for i in range(20):
            f.write('{"n": %d}\n' % i)
            zr.track({"n": i}, "data.jsonl", [section], root, i, "tk")
    zr.token_index_merge_pid_files(root, "tk")
    zr.token_index_write_pid(root, "tk", 3, [section])
    zr.build_index(root)
    zr.revoke_section(root, section)
    zr.purge_revoked(root, data, False)
    os.makedirs(os.path.join(root, ".zr", "document-index", "revoked"), exist_ok=True)
    with open(os.path.join(root, ".zr", "document-index", "revoked", "all"), "w") as f:
        f.write('{"line_hash":"00","file":"x","sources":[]}\n')
    with open(os.path.join(root, ".zr", "docidx.77"), "w") as f:
        f.write('{"line_hash":"abcd","file":"x","sources":[]}\n')
    return author, section, data


def damage(root, rng):
    for dirpath, _, files in os.walk(os.path.join(root, ".zr")):
        for name in files:
            path = os.path.join(dirpath, name)
            with open(path, "rb") as f:
                content = f.read()
            choice = rng.randrange(4)
            if choice == 0 and content:
                content = content[: rng.randrange(len(content))]
            elif choice == 1:
                content = bytes(rng.randrange(256) for _ in range(rng.randrange(64))) + content
            elif choice == 2:
                content = b"\n".join(rng.sample(NEAR_MISSES, 5)) + b"\n" + content
            else:
                pos = rng.randrange(len(content) + 1)
                content = content[:pos] + bytes([rng.randrange(256)]) + content[pos + 1:]
            with open(path, "wb") as f:
                f.write(content)
    # Odd names and sub-directories in the layers.
    for layer in ("authors", "sections", "document-index", "index"):
        os.makedirs(os.path.join(root, ".zr", layer, "zz-dir"), exist_ok=True)
        with open(os.path.join(root, ".zr", layer, "odd name.txt"), "wb") as f:
            f.write(rng.choice(NEAR_MISSES) + b"\n")
    os.makedirs(os.path.join(root, ".zr", "token-index.tk", "005"), exist_ok=True)


def calls(root, author, section, data):
    hash64 = "ab" * 32
    return [
        lambda: zr.jsonl_read(data),
        lambda: zr.shard_read(root, "authors", author),
        lambda: zr.shard_iterate_all(root, "document-index"),
        lambda: zr.lookup_document(root, hash64),
        lambda: zr.read_all_documents(root),
        lambda: zr.blame(root, "data.jsonl", '{"n": 1}'),
        lambda: zr.author_query(root, "Ann", None),
        lambda: zr.author_query(root, None, None),
        lambda: zr.show_by_author(root, "Ann"),
        lambda: zr.show_by_license(root, "MIT"),
        lambda: zr.show_by_section(root, section),
        lambda: zr.token_index_token_status(root, "tk"),
        lambda: zr.token_index_list_tokenizers(root),
        lambda: zr.generate_forget_set(root, "tk"),
        lambda: zr.show_by_author_token(root, "Ann", "tk"),
        lambda: zr.revoke_section(root, section),
        lambda: zr.revoke_manifest(root, hash64, "data.jsonl"),
        lambda: zr.revoke_by_author(root, "Ann"),
        lambda: zr.revoke_by_author_token(root, "Ann", "tk"),
        lambda: zr.token_index_revoke_by_sources(root, "tk", {section}),
        lambda: zr.purge_revoked(root, data, True),
        lambda: zr.purge_revoked(root, data, False),
        lambda: zr.purge_by_author_indexd(root, "Ann", data, True),
        lambda: zr.purge_reverse(root, data),
        lambda: zr.token_index_merge_pid_files(root, "tk"),
        lambda: zr.token_index_build_binary_index(root, "tk"),
        lambda: zr.build_index(root),
        lambda: zr.clean(root, True),
    ]


@pytest.mark.parametrize("seed", range(int(os.environ.get("ZR_DAMAGE_SEEDS", "12"))))
def test_no_operation_fails_abnormally_on_a_damaged_store(tmp_path, seed):
    root = str(tmp_path / "project")
    author, section, data = build_store(root)
    damage(root, random.Random(seed))
    for call in calls(root, author, section, data):
        try:
            call()
        except RuntimeError:
            pass
    target = str(tmp_path / "target")
    zr.init(target)
    try:
        zr.merge_absorb(root, target)
    except RuntimeError:
        pass
