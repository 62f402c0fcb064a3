"""Stores left behind by a failure: a file ending in a cut-off line, and a
store the caller cannot read.

A writer killed in the middle of an append (or stopped by a full disk) leaves
the fragment of a line at the end of a file; the next append must still be
read back. A store that cannot be examined must fail the call, never pass for
an empty one.
"""
import calendar
import json
import os
import shutil
import tempfile
import textwrap
import time

import pytest

import _zr_native as zr
from conftest import compact, line_hash, run_child, store

FRAGMENT = b'{"line_hash":"ab'


def tear(path):
    """Leaves `path` ending in the fragment of a line, as a killed writer does."""
    with open(path, "ab") as f:
        f.write(FRAGMENT)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


# --- appending after a cut-off line --------------------------------------------

SECTION = "5e" + "0" * 62


def docidx_fold(r):
    with open(store(r, "docidx.1234"), "w") as f:
        f.write(compact({"line_hash": line_hash({"n": 1}), "file": "f", "sources": ["s"]}) + "\n")
    zr.clean(r, False)


def flagged_archive(r):
    with open(store(r, "sections", SECTION[:2]), "w") as f:
        f.write(compact({"section_hash": SECTION, "revoked": True}) + "\n")
    zr.clean(r, False)


def author_id(r):
    return json.loads(zr.author_query(r, "Ann", "a@x")[0])["id"]


# Each: the call that appends a record, and the file it appends to.
JSONL_APPENDS = {
    "track's document index": (lambda r: zr.track({"n": 1}, "f", ["s"], r),
                               lambda r: store(r, "document-index", line_hash({"n": 1})[:2])),
    "track's token entry": (lambda r: zr.track({"n": 1}, "f", ["s"], r, 3, "tk"),
                            lambda r: store(r, "token-index.tk.%d" % os.getpid())),
    "author_add": (lambda r: zr.author_add("Ann", "a@x", r),
                   lambda r: store(r, "authors", author_id(r)[:2])),
    "register_section": (lambda r: zr.register_section("p", [], [], "MIT", "2024", r),
                         lambda r: store(r, "sections", zr.register_section("p", [], [], "MIT", "2024", r)[:2])),
    "jsonl_append": (lambda r: zr.jsonl_append(os.path.join(r, "f.jsonl"), {"a": 1}),
                     lambda r: os.path.join(r, "f.jsonl")),
    "clean's fold of per-process files": (docidx_fold,
                                          lambda r: store(r, "document-index", line_hash({"n": 1})[:2])),
    "clean's record archive": (flagged_archive, lambda r: store(r, "archive", "sections." + SECTION[:2])),
}


@pytest.mark.parametrize("case", sorted(JSONL_APPENDS))
def test_a_record_appended_after_a_cut_off_line_reads_back(tmp_path, case):
    call, locate = JSONL_APPENDS[case]
    r = str(tmp_path / "project")
    zr.init(r)
    call(r)
    path = locate(r)
    before = read_bytes(path)
    first = zr.jsonl_read(path)
    assert first
    tear(path)
    call(r)
    after = read_bytes(path)
    # The fragment becomes a line of its own, and the new record follows it
    # in full; nothing else is added.
    assert after.startswith(before + FRAGMENT + b"\n")
    new_line = after[len(before + FRAGMENT) + 1:]
    assert new_line.endswith(b"\n") and new_line.count(b"\n") == 1
    assert zr.jsonl_read(path)[len(first):] == zr.jsonl_read(path)[-1:]
    assert len(zr.jsonl_read(path)) == len(first) + 1


def stamp(seconds):
    return time.strftime("%Y%m%dT%H%M%S", time.gmtime(seconds))


def test_purged_lines_archived_after_a_cut_off_record_read_back(root):
    r = str(root)
    value = {"a": 1}
    os.makedirs(store(r, "document-index", "revoked"), exist_ok=True)
    with open(store(r, "document-index", "revoked", "all"), "w") as f:
        f.write(compact({"line_hash": line_hash(value), "file": "data.jsonl", "sources": []}) + "\n")
    data = os.path.join(r, "data.jsonl")
    with open(data, "w") as f:
        f.write(compact(value) + "\n")
    # Archives of the next few seconds, each ending in a cut-off record: the
    # purge appends to the one of its own second.
    os.makedirs(store(r, "archive"), exist_ok=True)
    now = calendar.timegm(time.gmtime())
    torn = [store(r, "archive", "purge." + stamp(now + i)) for i in range(5)]
    for path in torn:
        tear(path)
    assert zr.purge_revoked(r, data, False)["purged"] == 1
    [used] = [path for path in torn if read_bytes(path) != FRAGMENT]
    assert read_bytes(used).startswith(FRAGMENT + b"\n")
    assert [record["line"] for record in zr.jsonl_read(used)] == [value]


def test_a_cut_off_line_without_a_store_change_gets_nothing_extra(root):
    # Only an append adds the line break: reading a torn file changes nothing.
    path = store(str(root), "authors", "ab")
    tear(path)
    assert zr.author_query(str(root), None, None) == []
    assert zr.jsonl_read(path) == []
    assert read_bytes(path) == FRAGMENT


# --- a store that cannot be examined -------------------------------------------


@pytest.fixture
def blocked_root(tmp_path):
    """A project whose `.zr` is a regular file: every path inside the store
    has a file on the way where a directory should be."""
    r = tmp_path / "project"
    r.mkdir()
    (r / ".zr").write_text("")
    return str(r)


def test_a_file_in_the_store_s_place_fails_every_reader(blocked_root):
    r = blocked_root
    h = "ab" * 32
    calls = [
        lambda: zr.author_query(r, "Ann", "a@x"),
        lambda: zr.author_query(r, "Ann", None),
        lambda: zr.revoke_section(r, h),
        lambda: zr.revoke_section(r, h, True),
        lambda: zr.revoke_by_author(r, "Ann"),
        lambda: zr.show_by_section(r, h),
        lambda: zr.shard_iterate_all(r, "authors"),
        lambda: zr.jsonl_read(store(r, "authors", "ab")),
        lambda: zr.blame(r, "f", '{"a":1}'),
    ]
    for call in calls:
        with pytest.raises(RuntimeError, match="Not a directory"):
            call()


def test_the_token_index_says_when_the_store_is_not_a_directory(blocked_root):
    with pytest.raises(RuntimeError) as info:
        zr.token_index_write_pid(blocked_root, "tk", 1, ["s"])
    assert info.value.args == (os.path.join(blocked_root, ".zr") + " is not a directory",)


UNREADABLE_CALLS = textwrap.dedent("""
    import sys
    import _zr_native as zr
    r, h = sys.argv[1], sys.argv[2]
    for name, call in [
        ("revoke_section", lambda: zr.revoke_section(r, h, True)),
        ("revoke_by_author", lambda: zr.revoke_by_author(r, "Ann")),
        ("author_query_pair", lambda: zr.author_query(r, "Ann", "a@x")),
        ("author_query_scan", lambda: zr.author_query(r, "Ann", None)),
        ("show_by_license", lambda: zr.show_by_license(r, "MIT")),
        ("clean", lambda: zr.clean(r, False)),
    ]:
        try:
            print(name, "returned", call())
        except RuntimeError as e:
            print(name, "raised", e)
""")


@pytest.fixture
def shared_project():
    """A project with one revoked section, in a directory another user can
    reach (pytest's own temporary directories are private to their owner)."""
    top = tempfile.mkdtemp(prefix="zr-unreadable-")
    os.chmod(top, 0o755)
    r = os.path.join(top, "project")
    zr.init(r)
    author = zr.author_add("Ann", "a@x", r)
    section = zr.register_section("p", [author], [], "MIT", "2024", r)
    zr.index_document(r, line_hash({"a": 1}), "data.jsonl", [section])
    zr.build_index(r)
    zr.revoke_section(r, section)
    for dirpath, dirnames, filenames in os.walk(top):
        for name in dirnames + filenames:
            os.chmod(os.path.join(dirpath, name), 0o755 if name in dirnames else 0o644)
    yield r, section
    for dirpath, dirnames, _ in os.walk(top):
        for name in dirnames:
            os.chmod(os.path.join(dirpath, name), 0o755)
    shutil.rmtree(top)


def run_as_another_user(r, section):
    """Runs the calls in a child that the permission bits apply to (root
    reads everything, so a root test drops to user nobody)."""
    done = run_child(UNREADABLE_CALLS, r, section, other_user=True, capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    return dict(line.split(" ", 1) for line in done.stdout.splitlines())


@pytest.mark.parametrize("unreadable", [".zr", ".zr/sections"])
def test_an_unreadable_store_is_an_error_not_an_empty_one(shared_project, unreadable):
    r, section = shared_project
    blocked = os.path.join(r, unreadable)
    os.chmod(blocked, 0)
    try:
        outcomes = run_as_another_user(r, section)
    finally:
        os.chmod(blocked, 0o755)
    # Every call that reads what is blocked fails with the system's reason.
    failing = list(outcomes) if unreadable == ".zr" else ["revoke_section"]
    for name in failing:
        assert outcomes[name].startswith("raised") and "Permission denied" in outcomes[name], (name, outcomes)
    # Un-revoking did nothing, as the failure said.
    assert zr.jsonl_read(store(r, "sections", section[:2]))[0]["revoked"] is True


def test_an_unreadable_file_of_a_scanned_layer_fails_the_scan(shared_project):
    r, section = shared_project
    shard = store(r, "authors", author_id(r)[:2])
    os.chmod(shard, 0)
    try:
        outcomes = run_as_another_user(r, section)
    finally:
        os.chmod(shard, 0o644)
    assert outcomes["author_query_scan"].startswith("raised"), outcomes
    assert outcomes["author_query_pair"].startswith("raised"), outcomes


# --- something else where a store directory belongs ---------------------------


@pytest.fixture
def tracked_project(tmp_path):
    """A project with one author, one section, one tracked line with a token
    count (merged by clean) and a built index: every layer is there."""
    r = str(tmp_path / "project")
    zr.init(r)
    author = zr.author_add("Ann", "a@x", r)
    section = zr.register_section("p", [author], [], "MIT", "2024", r)
    zr.track({"a": 1}, "data.jsonl", [section], r, 5, "tk")
    zr.clean(r, False)
    zr.build_index(r)
    return r, section


def calls_reading(r, section):
    return {
        "author_query_pair": lambda: zr.author_query(r, "Ann", "a@x"),
        "author_query_scan": lambda: zr.author_query(r, "Ann", None),
        "show_by_author": lambda: zr.show_by_author(r, "Ann"),
        "show_by_license": lambda: zr.show_by_license(r, "MIT"),
        "show_by_section": lambda: zr.show_by_section(r, section),
        "read_all_documents": lambda: zr.read_all_documents(r),
        "token_status": lambda: zr.token_index_token_status(r, "tk"),
        "show_by_author_token": lambda: zr.show_by_author_token(r, "Ann", "tk"),
        "generate_forget_set": lambda: zr.generate_forget_set(r, "tk"),
        "list_tokenizers": lambda: zr.token_index_list_tokenizers(r),
        "shard_iterate_all": lambda: zr.shard_iterate_all(r, "authors"),
        "build_index": lambda: zr.build_index(r),
        "clean": lambda: zr.clean(r, False),
    }


# Which calls read each directory (and so must fail when it is a file).
READERS = {
    "authors": ["author_query_pair", "author_query_scan", "show_by_author", "show_by_author_token",
                "shard_iterate_all", "clean"],
    "sections": ["show_by_author", "show_by_license", "show_by_author_token", "build_index", "clean"],
    "document-index": ["show_by_author", "show_by_license", "show_by_section", "read_all_documents", "build_index",
                       "clean"],
    "index": ["build_index"],
    "token-index.tk": ["token_status", "show_by_author_token", "generate_forget_set", "build_index"],
    ".": list(calls_reading("", "")),
}


@pytest.mark.parametrize("layer", list(READERS))
def test_a_regular_file_where_a_store_directory_belongs_is_an_error(tracked_project, layer):
    r, section = tracked_project
    path = os.path.normpath(store(r, layer))
    shutil.rmtree(path)
    with open(path, "w") as f:
        f.write("{}\n")
    calls = calls_reading(r, section)
    for name in READERS[layer]:
        with pytest.raises(RuntimeError) as info:
            calls[name]()
        # index.bin, opened first by the author query, names itself.
        wanted = "opening " + store(r, "index.bin") if (layer, name) == (".", "show_by_author") else "Not a directory"
        assert info.value.args == (wanted,), name
    # The calls that never read it still answer.
    for name in set(calls) - set(READERS[layer]) - {"build_index", "clean"}:
        calls[name]()


def test_a_regular_file_where_the_archive_directory_belongs_is_an_error(tracked_project, tmp_path, capfd):
    r, _ = tracked_project
    archive = store(r, "archive")
    if os.path.isdir(archive):
        shutil.rmtree(archive)
    with open(archive, "w") as f:
        f.write("purge.20250101T000000\n")
    with pytest.raises(RuntimeError) as info:
        zr.purge_reverse(r, str(tmp_path / "data.jsonl"))
    assert info.value.args == ("Not a directory",)
    assert capfd.readouterr().out == ""
    assert not (tmp_path / "data.jsonl").exists()


def test_entries_of_a_layer_that_are_no_regular_files_are_skipped(tracked_project):
    r, section = tracked_project
    expected = {name: call() for name, call in calls_reading(r, section).items() if name not in ("build_index", "clean")}
    for layer in ("authors", "sections", "document-index", "index", "token-index.tk"):
        os.mkfifo(store(r, layer, "ff"))
        os.mkdir(store(r, layer, "sub"))
    zr.build_index(r)
    for name, call in calls_reading(r, section).items():
        if name in expected:
            assert call() == expected[name], name
