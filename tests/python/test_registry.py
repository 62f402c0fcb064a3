"""Author and section registries: ids and hashes, exact stored lines, lenient
reading, the parallel scan and its behaviour across fork()."""

import errno
import json
import os
import stat
import time

import pytest

import _zr_native as zr
from conftest import compact, run_child, sha256


def jstr(text):
    return json.dumps(text, ensure_ascii=False)


def expected_author_id(name, email):
    return sha256(compact({"email": email, "name": name}))


def author_text(name, email, revoked=False, author_id=None):
    author_id = author_id or expected_author_id(name, email)
    return '{"id":%s,"name":%s,"email":%s,"revoked":%s}' % (
        jstr(author_id), jstr(name), jstr(email), "true" if revoked else "false")


def expected_section_hash(path, authors, contributors, license, year):
    return sha256(compact({"authors": authors, "contributors": contributors, "license": license,
                           "path": path, "year": year}))


def section_text(path, authors, contributors, license, year):
    h = expected_section_hash(path, authors, contributors, license, year)
    return '{"section_hash":%s,"path":%s,"authors":%s,"contributors":%s,"license":%s,"year":%s}' % (
        jstr(h), jstr(path), compact(authors), compact(contributors), jstr(license), jstr(year))


@pytest.fixture
def root(root):
    """The shared root, as text."""
    return str(root)


def authors_dir(root):
    return os.path.join(root, ".zr", "authors")


def shard_bytes(root, layer, key):
    with open(os.path.join(root, ".zr", layer, key[:2]), "rb") as f:
        return f.read()


def write_shard(root, name, lines):
    with open(os.path.join(authors_dir(root), name), "ab") as f:
        f.write(b"".join(lines))


# Quotation marks, backslashes, every kind of control character, DEL, and
# non-ASCII text of one to four bytes per character.
AWKWARD = [
    "Ann",
    "",
    'say "hi"',
    "back\\slash\\",
    "ctl \x00\x01\x08\t\n\x0b\x0c\r\x1f end",
    "del \x7f",
    "Zoë Ångström",
    "日本語",
    "emoji \U0001f600",
    "\\u0041",
]


# --- authors: writing ----------------------------------------------------------


@pytest.mark.parametrize("name", AWKWARD)
@pytest.mark.parametrize("email", ["x", "", 'm"a\\il\x01@é.example'])
def test_author_add_id_line_and_round_trip(root, name, email):
    author_id = zr.author_add(name, email, root)
    assert author_id == expected_author_id(name, email)
    assert shard_bytes(root, "authors", author_id) == (author_text(name, email) + "\n").encode("utf-8")
    assert zr.author_query(root, name, email) == [author_text(name, email)]
    assert zr.author_query(root, name, None) == [author_text(name, email)]
    assert zr.author_query(root, None, email) == [author_text(name, email)]
    back = json.loads(zr.author_query(root, None, None)[0])
    assert (back["name"], back["email"]) == (name, email)


def test_documented_examples(root):
    assert zr.author_add("Ann", "x", root) == sha256('{"email":"x","name":"Ann"}')
    assert zr.register_section("p", ["a1"], [], "MIT", "2024", root) == sha256(
        '{"authors":["a1"],"contributors":[],"license":"MIT","path":"p","year":"2024"}')


def test_adding_a_pair_twice_appends_two_identical_lines(root):
    first = zr.author_add("Ann", "x", root)
    assert zr.author_add("Ann", "x", root) == first
    line = (author_text("Ann", "x") + "\n").encode()
    assert shard_bytes(root, "authors", first) == line + line
    assert zr.author_query(root, "Ann", "x") == [author_text("Ann", "x")] * 2


def test_author_add_without_authors_directory_names_the_shard(tmp_path):
    root = str(tmp_path)
    shard = os.path.join(root, ".zr", "authors", expected_author_id("Ann", "x")[:2])
    with pytest.raises(RuntimeError) as info:
        zr.author_add("Ann", "x", root)
    assert info.value.args == ("opening shard " + shard,)
    assert zr.author_query(root, "Ann", None) == []
    assert zr.author_query(root, "Ann", "x") == []
    os.makedirs(os.path.join(root, ".zr"))
    with pytest.raises(RuntimeError, match="^opening shard "):
        zr.author_add("Ann", "x", root)
    assert os.listdir(os.path.join(root, ".zr")) == []



def test_author_add_refuses_a_fifo_in_the_shard_place_at_once(root):
    # A FIFO without a reader must fail the append, not block it: run the
    # call in a child process so that a hang fails the test instead of the suite.
    shard = os.path.join(root, ".zr", "authors", expected_author_id("Ann", "x")[:2])
    os.mkfifo(shard)
    code = ("import _zr_native as zr, sys\n"
            "try:\n"
            "    zr.author_add('Ann', 'x', sys.argv[1])\n"
            "except RuntimeError as e:\n"
            "    print(e.args[0])\n")
    done = run_child(code, root, capture_output=True, text=True, timeout=30)
    assert done.returncode == 0
    assert done.stdout.startswith("opening shard " + shard)
    assert stat.S_ISFIFO(os.stat(shard).st_mode)


# --- authors: querying ---------------------------------------------------------


def python_scan(root, keep):
    """The records kept by `keep` in directory-listing order, file order
    within a file (for registries of valid lines only)."""
    found = []
    for entry in os.scandir(authors_dir(root)):
        if entry.is_file():
            with open(entry.path, encoding="utf-8") as f:
                records = [json.loads(line) for line in f if line.strip()]
            found += [author_text(r["name"], r["email"], r.get("revoked", False), r["id"])
                      for r in records if keep(r)]
    return found


def test_scan_by_name_matches_exactly_across_shards_in_listing_order(root):
    for i in range(60):
        zr.author_add("Ann", "ann%d@example.org" % i, root)
        zr.author_add("ann", "ann%d@example.org" % i, root)
        zr.author_add("Anna", "x%d" % i, root)
        zr.author_add("Bob", "Ann", root)
    got = zr.author_query(root, "Ann", None)
    assert len(got) == 60
    assert got == python_scan(root, lambda r: r["name"] == "Ann")
    assert zr.author_query(root, None, "Ann") == python_scan(root, lambda r: r["email"] == "Ann")
    everything = zr.author_query(root, None, None)
    assert len(everything) == 240
    assert everything == python_scan(root, lambda r: True)


def test_stored_line_is_returned_written_anew(root):
    author_id = expected_author_id("Ann", "x")
    write_shard(root, author_id[:2], [
        b'{"email":"x", "extra":[1,2],"name":"Ann","id":"%s"}\n' % author_id.encode(),
        b'{"id":"%s","name":"Ann","email":"x","revoked":true,"note":null}\r\n' % author_id.encode(),
    ])
    expected = [author_text("Ann", "x"), author_text("Ann", "x", revoked=True)]
    assert zr.author_query(root, "Ann", "x") == expected
    assert zr.author_query(root, "Ann", None) == expected
    assert zr.author_query(root, None, None) == expected


INVALID_AUTHOR_LINES = [
    b'{"id":"I","name":"Ann","name":"Ann","email":"x"}',
    b'{"id":"I","name":"Ann","email":"x","email":"x"}',
    b'{"id":"I","id":"I","name":"Ann","email":"x"}',
    b'{"id":"I","name":"Ann","email":"x","revoked":false,"revoked":false}',
    b'{"id":"I","name":"Ann"}',
    b'{"name":"Ann","email":"x"}',
    b'{"id":"I","email":"x"}',
    b'{"id":"I","name":["Ann"],"email":"x"}',
    b'{"id":7,"name":"Ann","email":"x"}',
    b'{"id":"I","name":"Ann","email":null}',
    b'{"id":"I","name":"Ann","email":"x","revoked":null}',
    b'{"id":"I","name":"Ann","email":"x","revoked":"false"}',
    b'{"id":"I","name":"Ann","email":"x","revoked":0}',
    b'["I","Ann","x",false]',
    b'"Ann"',
    b'{"id":"I","name":"Ann","email":"x"',
    b'{"id":"I","name":"Ann","email":"x"} {}',
    b'{"id":"I","name":"Ann\xff","email":"x"}',
    b"   ",
]


def test_invalid_lines_are_skipped_by_every_reader(root):
    author_id = expected_author_id("Ann", "x")
    valid = b'{"id":"I","name":"Ann","email":"x","other":1,"other":2}'
    lines = [b"\n", valid + b"\r\n"] + [line + b"\n" for line in INVALID_AUTHOR_LINES] + [b"\r\n", valid]
    write_shard(root, author_id[:2], lines)
    one = [author_text("Ann", "x", author_id="I")] * 2
    assert zr.author_query(root, "Ann", "x") == one
    assert zr.author_query(root, "Ann", None) == one
    assert zr.author_query(root, None, "x") == one
    assert zr.author_query(root, None, None) == one


def test_escaped_spellings_of_a_name_are_found(root):
    # Another writer may escape characters ours writes raw.
    author_id = expected_author_id("Ann", "é")
    write_shard(root, author_id[:2], [
        b'{"id":"a","name":"\\u0041nn","email":"\\u00e9"}\n',
        b'{"id":"b","name":"Ann","email":"\\u00E9"}\n',
        b'{"id":"c","name":"A\\/nn","email":"\xc3\xa9"}\n',
    ])
    expected = [author_text("Ann", "é", author_id="a"), author_text("Ann", "é", author_id="b")]
    assert zr.author_query(root, "Ann", "é") == expected
    assert zr.author_query(root, "Ann", None) == expected
    assert zr.author_query(root, "A/nn", None) == [author_text("A/nn", "é", author_id="c")]
    assert len(zr.author_query(root, None, "é")) == 3


def test_scan_reads_every_regular_file_but_the_pair_lookup_one_shard(root):
    author_id = zr.author_add("Ann", "x", root)
    stray = author_text("Ann", "x", author_id="stray")
    other_shard = "00" if author_id[:2] != "00" else "01"
    for name in ("notes.txt", "ZZ", other_shard):
        write_shard(root, name, [stray.encode() + b"\n"])
    os.mkdir(os.path.join(authors_dir(root), "sub"))
    write_shard(root, os.path.join("sub", author_id[:2]), [stray.encode() + b"\n"])
    os.symlink("missing-target", os.path.join(authors_dir(root), "dangling"))

    assert zr.author_query(root, "Ann", "x") == [author_text("Ann", "x")]
    scanned = zr.author_query(root, "Ann", None)
    assert sorted(scanned) == sorted([author_text("Ann", "x")] + [stray] * 3)
    assert scanned == python_scan(root, lambda r: r["name"] == "Ann")


def test_author_query_signatures(root):
    zr.author_add("Ann", "x", root)
    assert zr.author_query(zr_dir=root, email=None, name="Ann") == [author_text("Ann", "x")]
    with pytest.raises(TypeError):
        zr.author_query(root, "Ann")  # name and email must be passed, if only as None
    assert zr.author_add.__text_signature__ == "(name, email, zr_dir)"
    assert zr.author_query.__text_signature__ == "(zr_dir, name, email)"
    assert zr.register_section.__text_signature__ == "(path, authors, contributors, license, year, zr_dir)"


# --- the scan across fork() ----------------------------------------------------


def wait_for_child(pid, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return status
        time.sleep(0.01)
    os.kill(pid, 9)
    os.waitpid(pid, 0)
    pytest.fail("child did not finish within %s s" % timeout)


def test_scan_works_in_a_forked_child(root):
    for i in range(300):
        zr.author_add("Ann" if i % 3 else "Bob", "e%d" % i, root)
    expected = zr.author_query(root, "Ann", None)  # the parent's pool is now running
    assert len(expected) == 200
    pid = os.fork()
    if pid == 0:
        code = 1
        try:
            ok = all(zr.author_query(root, "Ann", None) == expected for _ in range(3))
            code = 0 if ok else 2
        finally:
            os._exit(code)
    assert os.waitstatus_to_exitcode(wait_for_child(pid, 30)) == 0
    assert zr.author_query(root, "Ann", None) == expected


def test_worker_threads_do_not_keep_the_interpreter_alive(root):
    for i in range(50):
        zr.author_add("Ann", "e%d" % i, root)
    code = "import _zr_native as zr, sys; sys.exit(0 if len(zr.author_query(sys.argv[1], 'Ann', None)) == 50 else 3)"
    done = run_child(code, root)
    assert done.returncode == 0


# --- sections ------------------------------------------------------------------


@pytest.mark.parametrize("text", AWKWARD)
def test_register_section_hash_line_and_round_trip(root, text):
    authors = [expected_author_id(text, "x"), text]
    contributors = [text, "c2"]
    args = ("docs/" + text, authors, contributors, text + " licence", text)
    h = zr.register_section(*args, root)
    assert h == expected_section_hash(*args)
    assert shard_bytes(root, "sections", h) == (section_text(*args) + "\n").encode("utf-8")
    [record] = zr.shard_read(root, "sections", h)
    assert record == {"section_hash": h, "path": args[0], "authors": authors, "contributors": contributors,
                      "license": args[3], "year": args[4]}


def test_register_section_twice_and_list_order(root):
    args = ("p", ["a1", "a2", "a1"], (), "MIT", "2024")
    h = zr.register_section(*args, root)
    assert zr.register_section(*args, zr_dir=root) == h
    line = (section_text("p", ["a1", "a2", "a1"], [], "MIT", "2024") + "\n").encode()
    assert shard_bytes(root, "sections", h) == line + line
    assert b'"contributors":[]' in line and b'"year":"2024"' in line
    assert zr.register_section("p", ["a2", "a1", "a1"], [], "MIT", "2024", root) != h


def test_register_section_without_sections_directory(tmp_path):
    with pytest.raises(RuntimeError) as info:
        zr.register_section("p", [], [], "MIT", "2024", str(tmp_path))
    assert info.value.args == (os.strerror(errno.ENOENT),)
    assert os.listdir(tmp_path) == []
