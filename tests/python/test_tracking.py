"""Document index, track and blame: stored bytes, reading rules, bad input."""
import hashlib
import json
import multiprocessing
import os

import pytest

import _zr_native as zr
from conftest import line_hash as line_hash_of

H1 = hashlib.sha256(b"one").hexdigest()
H2 = hashlib.sha256(b"two").hexdigest()


@pytest.fixture
def root(root):
    """The shared root, as text."""
    return str(root)


def doc_dir(root):
    return os.path.join(root, ".zr", "document-index")


def shard_bytes(root, line_hash):
    with open(os.path.join(doc_dir(root), line_hash[:2]), "rb") as f:
        return f.read()


def write_shard(root, name, lines):
    with open(os.path.join(doc_dir(root), name), "w", encoding="utf-8", newline="") as f:
        f.write("".join(lines))


def tree(root):
    """Every path under root with its size, to show that nothing changed."""
    out = {}
    for dirpath, dirnames, filenames in os.walk(root):
        out[dirpath] = None
        for name in filenames:
            path = os.path.join(dirpath, name)
            out[path] = os.path.getsize(path)
    return out


def token_files(root):
    return sorted(n for n in os.listdir(os.path.join(root, ".zr")) if n.startswith("token-index."))


# --- index_document -----------------------------------------------------------------

def test_index_document_writes_exact_line_to_shard(root):
    zr.index_document(root, H1, "data/a.jsonl", [H2, "s\"2", H2])
    zr.index_document(root, H1, "dàta\t\x01.jsonl", [], source_type="import")
    zr.index_document(root, H1, "data/a.jsonl", [H2, "s\"2", H2])
    first = ('{"file":"data/a.jsonl","line_hash":"%s","revoked":false,"source_type":"track",'
             '"sources":["%s","s\\"2","%s"]}\n' % (H1, H2, H2))
    second = ('{"file":"dàta\\t\\u0001.jsonl","line_hash":"%s","revoked":false,"source_type":"import",'
              '"sources":[]}\n' % H1)
    assert shard_bytes(root, H1) == (first + second + first).encode()
    assert os.listdir(doc_dir(root)) == [H1[:2]]
    assert zr.lookup_document(root, H1) == [
        {"file": "data/a.jsonl", "line_hash": H1, "sources": [H2, 's"2', H2]},
        {"file": "dàta\t\x01.jsonl", "line_hash": H1, "sources": []},
        {"file": "data/a.jsonl", "line_hash": H1, "sources": [H2, 's"2', H2]},
    ]
    assert list(zr.lookup_document(root, H1)[0]) == ["file", "line_hash", "sources"]


def test_index_document_without_layer_fails_and_creates_nothing(tmp_path):
    root = str(tmp_path / "bare")
    os.makedirs(os.path.join(root, ".zr"))
    with pytest.raises(RuntimeError, match="^No such file or directory$"):
        zr.index_document(root, H1, "f", [])
    assert os.listdir(os.path.join(root, ".zr")) == []
    assert zr.lookup_document(root, H1) == []
    assert zr.read_all_documents(root) == []
    assert zr.lookup_document(str(tmp_path / "nowhere"), H1) == []


def test_unreadable_shard_is_an_error(root):
    line_hash = line_hash_of("x")
    os.mkdir(os.path.join(doc_dir(root), line_hash[:2]))
    with pytest.raises(RuntimeError, match="^Is a directory$"):
        zr.lookup_document(root, line_hash)
    with pytest.raises(RuntimeError, match="^Is a directory$"):
        zr.blame(root, "f", "x")


@pytest.mark.parametrize("bad_hash", ["", "a", "a\u00e9", "..", "../x", "./ab", "a/b", "/ab", "a\x00bc", "\x00"])
def test_unusable_hashes_are_refused_before_touching_anything(root, bad_hash):
    before = tree(root)
    with pytest.raises(RuntimeError):
        zr.index_document(root, bad_hash, "f", ["s"])
    with pytest.raises(RuntimeError):
        zr.lookup_document(root, bad_hash)
    assert tree(root) == before


def test_two_whole_characters_name_a_shard(root):
    for line_hash in ("\u00e9", ".x", "AB"):
        zr.index_document(root, line_hash, "f", [])
        assert zr.lookup_document(root, line_hash) == [{"file": "f", "line_hash": line_hash, "sources": []}]
    assert sorted(os.listdir(doc_dir(root))) == sorted(["\u00e9", ".x", "AB"])


# --- reading rules --------------------------------------------------------------------

def test_lookup_and_read_all_apply_their_reading_rules(root):
    escaped = "".join("\\u%04x" % ord(c) for c in H1)
    lines = [
        '{"line_hash":"%s","file":"plain","sources":["s"],"extra":{"line_hash":1}}\n' % H1,
        '{"file":"other","line_hash":"%s","sources":[]}\n' % (H1[:2] + "0" * 62),
        '{"file":"twice","line_hash":"%s","sources":["a"],"sources":["b"]}\n' % H1,
        '{"file":"ignored twice","line_hash":"%s","sources":[],"source_type":"a","source_type":"b"}\n' % H1,
        '["%s","array",["x","y"]]\n' % H1,
        '["%s","four",["x"],false]\n' % H1,
        '{"file":"str sources","line_hash":"%s","sources":"s"}\n' % H1,
        '{"file":"int source","line_hash":"%s","sources":["s",1]}\n' % H1,
        '{"file":7,"line_hash":"%s","sources":[]}\n' % H1,
        '{"line_hash":"%s","sources":[]}\n' % H1,
        '{"file":"escaped","line_hash":"%s","sources":[]}\r\n' % escaped,
        '\n',
        '{"file":"cut","line_hash":"%s","sour\n' % H1,
        '{"file":"upper","line_hash":"%s","sources":[]}\n' % H1.upper(),
        '{"file":"last wins bad","line_hash":"%s","sources":[],"sources":"s"}\n' % H1,
        '{"file":"revoked","line_hash":"%s","sources":[],"revoked":true}' % H1,
    ]
    write_shard(root, H1[:2], lines)

    assert [r["file"] for r in zr.lookup_document(root, H1)] == [
        "plain", "ignored twice", "array", "escaped", "revoked"]
    assert zr.lookup_document(root, H1)[2] == {"file": "array", "line_hash": H1, "sources": ["x", "y"]}
    assert zr.lookup_document(root, H1.upper()) == [{"file": "upper", "line_hash": H1.upper(), "sources": []}]

    everything = zr.read_all_documents(root)
    assert everything[0] == {"line_hash": H1, "file": "plain", "sources": ["s"], "extra": {"line_hash": 1}}
    assert [d[1] if isinstance(d, list) else d["file"] for d in everything] == [
        "plain", "other", "twice", "ignored twice", "array", "escaped", "upper", "revoked"]
    assert everything[2]["sources"] == ["b"]
    assert everything[3]["source_type"] == "b"
    assert everything[-1]["revoked"] is True


def test_read_all_documents_reads_only_shards(root):
    zr.index_document(root, H1, "f1", ["a"])
    zr.index_document(root, H2, "f2", ["b"], "merge")
    write_shard(root, "abc", ['{"file":"x","line_hash":"abc","sources":[]}\n'])
    os.makedirs(os.path.join(doc_dir(root), "revoked"))
    write_shard(root, "revoked/all", ['{"file":"x","line_hash":"abc","sources":[]}\n'])
    got = sorted(zr.read_all_documents(root), key=lambda d: d["file"])
    assert got == [
        {"file": "f1", "line_hash": H1, "revoked": False, "source_type": "track", "sources": ["a"]},
        {"file": "f2", "line_hash": H2, "revoked": False, "source_type": "merge", "sources": ["b"]},
    ]


# --- track ------------------------------------------------------------------------------

def test_track_writes_document_line_and_token_entry(root):
    data = {"text": "café — ok", "id": 3, "score": 0.5, "tags": ("x", None)}
    got = zr.track(data, "data/train.jsonl", (H1, H2), root, 12, "tk")
    assert got == line_hash_of(data)
    assert shard_bytes(root, got) == (
        '{"file":"data/train.jsonl","line_hash":"%s","revoked":false,"source_type":"track",'
        '"sources":["%s","%s"]}\n' % (got, H1, H2)).encode()
    pid_file = "token-index.tk.%d" % os.getpid()
    assert token_files(root) == [pid_file]
    with open(os.path.join(root, ".zr", pid_file), "rb") as f:
        assert f.read() == ('{"token_count":12,"sources":["%s","%s"],"tokenizer":"tk","revoked":false}\n'
                            % (H1, H2)).encode()

    assert zr.track(data, "data/train.jsonl", [H1, H2], root, 0, "tk") == got
    with open(os.path.join(root, ".zr", pid_file), "rb") as f:
        assert f.read().splitlines()[1] == (
            '{"token_count":0,"sources":["%s","%s"],"tokenizer":"tk","revoked":false}' % (H1, H2)).encode()
    assert len(zr.blame(root, "elsewhere.jsonl", json.dumps(data))) == 2


def test_track_without_both_count_and_tokenizer_writes_no_entry(root):
    zr.track({"a": 1}, "f", [], root, 5)
    zr.track({"a": 1}, "f", [], root, tokenizer="tk")
    zr.track({"a": 1}, "f", [], root, None, None)
    assert token_files(root) == []
    assert len(zr.lookup_document(root, line_hash_of({"a": 1}))) == 3


def test_track_on_store_without_document_index_fails(tmp_path):
    root = str(tmp_path / "bare")
    os.makedirs(os.path.join(root, ".zr"))
    with pytest.raises(RuntimeError, match="^No such file or directory$"):
        zr.track("x", "f", [], root, 1, "tk")
    assert os.listdir(os.path.join(root, ".zr")) == []
    assert zr.blame(root, "f", "x") == []


@pytest.mark.parametrize("count", [12, None])
@pytest.mark.parametrize("tokenizer", ["a/b", "a\x00b", "/"])
def test_track_refuses_unsafe_tokenizer_before_writing(root, tokenizer, count):
    before = tree(root)
    with pytest.raises(RuntimeError):
        zr.track({"a": 1}, "f", [], root, count, tokenizer)
    assert tree(root) == before


def test_track_bad_arguments_raise_before_anything_is_written(tmp_path):
    root = str(tmp_path / "proj")  # no store: nothing may create one
    with pytest.raises(OverflowError):
        zr.track({"a": 1}, "f", [], root, -1, "tk")
    with pytest.raises(OverflowError):
        zr.track({"a": 1}, "f", [], root, 2**64, "tk")
    # The count is converted before data, which json.dumps would refuse.
    with pytest.raises(OverflowError):
        zr.track(object(), "f", [], root, -1, "tk")
    with pytest.raises(TypeError, match="^argument 'file': "):
        zr.track(object(), b"f", [], root)
    with pytest.raises(TypeError, match=r"^argument 'sources': .*Can't extract `str` to `Vec`$"):
        zr.track({"a": 1}, "f", "abc", root)
    with pytest.raises(TypeError, match="^argument 'sources': "):
        zr.track({"a": 1}, "f", ["a", 1], root)
    with pytest.raises(TypeError, match="^argument 'tokenizer': "):
        zr.track({"a": 1}, "f", [], root, 1, 5)
    with pytest.raises(TypeError, match="not JSON serializable"):
        zr.track({1, 2}, "f", [], root, 1, "tk")
    with pytest.raises(RuntimeError):
        zr.track(float("nan"), "f", [], root, 1, "tk")
    with pytest.raises(TypeError):
        zr.track({"a": 1}, "f", [], root, 1, "tk", "extra")
    assert not os.path.exists(root)


# --- blame -------------------------------------------------------------------------------

def test_blame_finds_json_lines_however_spelled(root):
    line_hash = zr.track({"a": "é", "b": [1, 2.5]}, "orig.jsonl", [H1], root)
    expected = [{"file": "orig.jsonl", "line_hash": line_hash, "sources": [H1]}]
    assert zr.blame(root, "other.jsonl", '{"b": [1, 2.5], "a": "\\u00e9"}') == expected
    assert zr.blame(root, "orig.jsonl", ' \t{"b":[1,2.50e0],"a":"é"}\r\n') == expected
    assert zr.blame(root, "orig.jsonl", '{"b":[1,2.5],"a":"é"} x') == []


def test_blame_of_text_that_is_not_json_hashes_it_as_a_string(root):
    for text in ["hello", "", "  ", '{"a":1} x', "nan", '"quoted"x', "line\twith\x01controls"]:
        line_hash = zr.track(text, "f", ["s"], root)
        assert line_hash == hashlib.sha256(json.dumps(text, ensure_ascii=False).encode()).hexdigest()
        assert zr.blame(root, "g", text) == [{"file": "f", "line_hash": line_hash, "sources": ["s"]}]
    # Valid JSON text is its value, not a string.
    zr.track("true", "f", [], root)
    assert zr.blame(root, "f", "true") == []


# --- several processes ------------------------------------------------------------------

def _track_many(root, worker, count, start):
    start.wait()
    for i in range(count):
        zr.track({"worker": worker, "i": i, "pad": "x" * (i % 500)}, "w%d.jsonl" % worker,
                 [H1] * (1 + i % 7), root, i, "tk")


def test_concurrent_trackers_lose_no_line(root):
    workers, count = 4, 300
    ctx = multiprocessing.get_context("fork")
    start = ctx.Event()
    procs = [ctx.Process(target=_track_many, args=(root, w, count, start)) for w in range(workers)]
    for p in procs:
        p.start()
    start.set()
    for p in procs:
        p.join(60)
        assert p.exitcode == 0

    documents = zr.read_all_documents(root)
    assert len(documents) == workers * count
    raw = sum(len(shard_bytes(root, name).splitlines()) for name in os.listdir(doc_dir(root)))
    assert raw == workers * count
    seen = {(d["file"], d["line_hash"]) for d in documents}
    assert len(seen) == workers * count
    pid_files = token_files(root)
    assert pid_files == sorted("token-index.tk.%d" % p.pid for p in procs)
    for name in pid_files:
        with open(os.path.join(root, ".zr", name)) as f:
            entries = [json.loads(line) for line in f]
        assert [e["token_count"] for e in entries] == list(range(count))
