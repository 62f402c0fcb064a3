"""Purge: line sets, dry runs, the rewritten data file, archives, log lines, faults."""

import calendar
import hashlib
import json
import os
import random
import re
import stat
import subprocess
import sys
import time

import pytest

import _zr_native as zr
import reference_purge
from conftest import compact, line_hash, run_limited

LOG_LINE = re.compile(r"^(\d+)-(\d\d):(\d\d):(\d\d) (\S+) (.*)$")
STAMP = re.compile(r"^purge\.(\d{8}T\d{6})$")


def log_entries(root):
    """(seconds, operation, detail) of every log line."""
    entries = []
    for line in (root / ".zr" / "log").read_text().splitlines():
        m = LOG_LINE.match(line)
        assert m, line
        days, h, mi, s = (int(g) for g in m.group(1, 2, 3, 4))
        entries.append((days * 86400 + h * 3600 + mi * 60 + s, m.group(5), m.group(6)))
    return entries


def snapshot(*dirs):
    """Every directory and file under `dirs`, with file bytes and modes."""
    snap = {}
    for top in dirs:
        for dirpath, dirnames, files in os.walk(top):
            for name in dirnames:
                snap[os.path.join(dirpath, name)] = "dir"
            for name in files:
                path = os.path.join(dirpath, name)
                if not os.path.isfile(path):
                    snap[path] = "special"
                    continue
                with open(path, "rb") as f:
                    snap[path] = (f.read(), stat.S_IMODE(os.stat(path).st_mode))
    return snap


def list_revoked(root, hashes):
    """Writes the revoked-document list (a store entry written by other tools)."""
    path = root / ".zr" / "document-index" / "revoked" / "all"
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text("".join(compact({"line_hash": h, "file": "any", "sources": []}) + "\n" for h in hashes))


def archives(root):
    directory = root / ".zr" / "archive"
    return sorted(os.listdir(directory)) if directory.exists() else []


def archive_records(root, name):
    return [json.loads(line) for line in (root / ".zr" / "archive" / name).read_text().splitlines()]


A = {"text": "first", "n": 1}
B = {"text": "second \u00e9\U0001f600", "tags": ["x", "y"], "meta": {"k": None, "f": 2.5}}
C = {"text": "third"}
D = {"text": "fourth"}


class TestPurgeRevoked:
    def test_listed_and_section_lines_go_the_rest_stays_byte_for_byte(self, root):
        r = str(root)
        section = zr.register_section("p", [], [], "MIT", "2024", r)
        zr.index_document(r, line_hash(B), "data.jsonl", ["other", section])
        zr.revoke_section(r, section)
        list_revoked(root, [line_hash(A)])
        data = root / "data.jsonl"
        kept_text = '{"text": "third"}'
        data.write_bytes(
            b'{"n":1,"text":"first"}\r\n'
            b"\n"
            + kept_text.encode() + b"\r\n"
            + json.dumps(B, ensure_ascii=True).encode() + b"\n"
            + b"   \n"
            + b'{ "text" : "first" , "n" : 1 }\n'
            + b"not json\n"
            + b'{"text":"third"}')

        counts = zr.purge_revoked(r, str(data), False)

        assert counts == {"purged": 3, "kept": 4, "archived": 3}
        assert list(counts) == ["purged", "kept", "archived"]
        assert data.read_bytes() == (kept_text + '\n   \nnot json\n{"text":"third"}\n').encode()
        [name] = archives(root)
        stamp = STAMP.match(name).group(1)
        assert (root / ".zr" / "archive" / name).read_text() == "".join(
            '{"archived_at":"%s","line":%s}\n' % (stamp, compact(v)) for v in (A, B, A))

        entries = log_entries(root)[1:]  # after revoke_section
        path = os.path.join(r, ".zr", "archive", name)
        assert [(op, detail) for _, op, detail in entries] == [
            ("purge_archive", "archived 3 lines to %s" % path),
            ("purge", "purged 3 lines from %s" % data),
        ]
        # One clock reading names the archive and stamps both log lines.
        archive_seconds = calendar.timegm((int(stamp[:4]), int(stamp[4:6]), int(stamp[6:8]), int(stamp[9:11]),
                                           int(stamp[11:13]), int(stamp[13:15])))
        assert [s for s, _, _ in entries] == [archive_seconds, archive_seconds]

    def test_a_purge_that_removes_nothing_still_rewrites_and_logs(self, root):
        data = root / "data.jsonl"
        data.write_bytes(b'{"a":1}\r\n\r\n\n{"b":2}')
        assert zr.purge_revoked(str(root), str(data), False) == {"purged": 0, "kept": 2, "archived": 0}
        assert data.read_bytes() == b'{"a":1}\n{"b":2}\n'
        assert archives(root) == []
        assert not (root / ".zr" / "archive").exists()
        assert [(op, d) for _, op, d in log_entries(root)] == [("purge", "purged 0 lines from %s" % data)]

    def test_a_non_json_line_is_kept_even_when_its_text_hash_is_listed(self, root):
        data = root / "data.jsonl"
        data.write_text("plain text\n[1,2]\n")
        list_revoked(root, [hashlib.sha256(b"plain text").hexdigest(), line_hash([1, 2]).upper()])
        assert zr.purge_revoked(str(root), str(data), False)["purged"] == 0
        assert data.read_text() == "plain text\n[1,2]\n"

    def test_only_revoked_sections_and_shard_files_count(self, root):
        r = str(root)
        revoked = "ab" + "1" * 62
        live = "ab" + "2" * 62
        sections = root / ".zr" / "sections"
        (sections / "anything.txt").write_text(
            compact({"section_hash": revoked, "revoked": True}) + "\n"
            + compact({"section_hash": live, "revoked": "yes"}) + "\n"
            + '{"section_hash":"%s","revok\\u0065d":true}\n' % ("cd" * 32))
        docs = root / ".zr" / "document-index"
        (docs / "0A").write_text(compact({"file": "f", "line_hash": line_hash(A), "sources": ["z", revoked]}) + "\n")
        (docs / "0b").write_text(compact({"file": "f", "line_hash": line_hash(B), "sources": [live]}) + "\n"
                                 + compact({"file": "f", "line_hash": line_hash(C), "sources": ["cd" * 32]}) + "\n")
        (docs / "abc").write_text(compact({"file": "f", "line_hash": line_hash(B), "sources": [revoked]}) + "\n")
        data = root / "data.jsonl"
        data.write_text("".join(compact(v) + "\n" for v in (A, B, C)))
        assert zr.purge_revoked(r, str(data), False) == {"purged": 2, "kept": 1, "archived": 2}
        assert data.read_text() == compact(B) + "\n"

    def test_revoked_list_lines_are_read_as_document_records(self, root):
        values = [{"v": i} for i in range(8)]
        h = [line_hash(v) for v in values]
        path = root / ".zr" / "document-index" / "revoked" / "all"
        path.parent.mkdir()
        path.write_text("\n".join([
            '{"line_hash":"%s","file":"f","sources":[],"extra":true}' % h[0],
            json.dumps([h[1], "f", ["s"]]),
            '{"line_hash":"%s","file":"f","sources":["\\u0073"]}' % h[2],  # escaped: parsed in full
            '{"line_hash":"%s","line_hash":"%s","file":"f","sources":[]}' % (h[3], h[3]),  # repeated member
            '{"line_hash":"%s","file":"f","sources":"s"}' % h[4],  # sources not an array
            '{"line_hash":"%s","file":"f","sources":[1]}' % h[5],  # not an array of strings
            '{"line_hash":"%s","sources":[]}' % h[6],  # no file
            '{"line_hash":"%s","file":"f","sources":[]' % h[7],  # cut off
        ]) + "\n")
        data = root / "data.jsonl"
        data.write_text("".join(compact(v) + "\n" for v in values))
        assert zr.purge_revoked(str(root), str(data), False)["purged"] == 3
        assert data.read_text() == "".join(compact(v) + "\n" for v in values[3:])

    def test_dry_run_counts_the_revoked_list_and_writes_nothing(self, root, tmp_path):
        path = root / ".zr" / "document-index" / "revoked" / "all"
        path.parent.mkdir()
        path.write_bytes(b"garbage\r\n\n   \n" + compact({"line_hash": "x", "file": "f", "sources": []}).encode())
        missing = str(tmp_path / "no-such-file")
        before = snapshot(root)
        assert zr.purge_revoked(str(root), missing, True) == {"purged": 3, "kept": 0, "archived": 0}
        assert snapshot(root) == before
        path.unlink()
        assert zr.purge_revoked(str(root), missing, True) == {"purged": 0, "kept": 0, "archived": 0}
        assert zr.purge_revoked(str(tmp_path / "no-store"), missing, True)["purged"] == 0

    @pytest.mark.parametrize("content", [None, b""])
    def test_absent_or_empty_data_file(self, root, content):
        data = root / "sub" / "data.jsonl"
        if content is not None:
            data.parent.mkdir()
            data.write_bytes(content)
        before = snapshot(root)
        with pytest.raises(RuntimeError) as e:
            zr.purge_revoked(str(root), str(data), False)
        assert str(e.value) == "data file not found: %s" % data
        assert snapshot(root) == before

    def test_relative_path_and_unrelated_tmp_files(self, root, monkeypatch):
        monkeypatch.chdir(root)
        list_revoked(root, [line_hash(A)])
        (root / "data.tmp").write_text("unrelated\n")
        (root / "x.tmp").write_text(compact(A) + "\n" + compact(C) + "\n")
        os.chmod(root / "x.tmp", 0o640)
        assert zr.purge_revoked(".", "x.tmp", False)["purged"] == 1
        assert (root / "x.tmp").read_text() == compact(C) + "\n"
        assert stat.S_IMODE(os.stat(root / "x.tmp").st_mode) == 0o640
        assert (root / "data.tmp").read_text() == "unrelated\n"
        assert log_entries(root)[-1][1:] == ("purge", "purged 1 lines from x.tmp")
        assert sorted(os.listdir(root)) == [".zr", "data.tmp", "x.tmp"]

    def test_two_purges_in_one_second_share_one_archive(self, root):
        list_revoked(root, [line_hash(A), line_hash(B)])
        data = root / "data.jsonl"
        for _ in range(20):
            for name in archives(root):
                (root / ".zr" / "archive" / name).unlink()
            data.write_text(compact(A) + "\n")
            zr.purge_revoked(str(root), str(data), False)
            data.write_text(compact(B) + "\n")
            zr.purge_revoked(str(root), str(data), False)
            if len(archives(root)) == 1:
                break
        [name] = archives(root)
        assert [rec["line"] for rec in archive_records(root, name)] == [A, B]


class TestPurgeByAuthor:
    @pytest.fixture
    def project(self, root):
        r = str(root)
        ann1 = zr.author_add("Ann", "a@x", r)
        ann2 = zr.author_add("Ann", "b@x", r)
        bob = zr.author_add("Bob", "c@x", r)
        s_ann = zr.register_section("p1", [bob, ann2], [], "MIT", "2024", r)
        s_bob = zr.register_section("p2", [bob], [], "MIT", "2024", r)
        data = root / "data.jsonl"
        values = [A, B, C, {"d": 4}]
        zr.track(A, "data.jsonl", [s_ann], r)
        zr.track(A, "other.jsonl", [s_ann], r)  # the same line twice: one hash
        zr.track(B, "data.jsonl", [s_bob, s_ann], r)
        zr.track(C, "data.jsonl", [s_bob], r)
        data.write_text("".join(json.dumps(v) + "\n" for v in values))
        return root, data, {"ann": (ann1, ann2), "bob": bob}

    def test_unrevoked_or_unknown_author_is_refused(self, project):
        root, data, _ = project
        before = snapshot(root)
        for name in ("Ann", "Nobody", "O'Brien"):
            for dry in (True, False):
                with pytest.raises(RuntimeError) as e:
                    zr.purge_by_author_indexd(str(root), name, str(data), dry)
                assert str(e.value) == (
                    "author '%s' is not revoked. Revoke first with `zr revoke --author '%s'` before purging."
                    % (name, name))
        assert snapshot(root) == before

    def test_missing_index_is_refused_even_in_a_dry_run(self, project):
        root, data, _ = project
        zr.revoke_by_author(str(root), "Ann")
        for dry in (True, False):
            with pytest.raises(RuntimeError) as e:
                zr.purge_by_author_indexd(str(root), "Ann", str(data), dry)
            assert str(e.value) == "binary index not found, run `zr index build` first"

    def test_dry_run_counts_distinct_lines_and_the_real_run_purges_them(self, project):
        root, data, _ = project
        r = str(root)
        # Revoking toggles every record of the name; one revoked record is enough.
        zr.revoke_by_author(r, "Ann")
        zr.build_index(r)
        before = snapshot(root)
        assert zr.purge_by_author_indexd(r, "Ann", str(data), True) == {"purged": 2, "kept": 0, "archived": 0}
        assert snapshot(root) == before

        assert zr.purge_by_author_indexd(r, "Ann", str(data), False) == {"purged": 2, "kept": 2, "archived": 2}
        assert data.read_text() == json.dumps(C) + "\n" + json.dumps({"d": 4}) + "\n"
        [name] = archives(root)
        assert [rec["line"] for rec in archive_records(root, name)] == [A, B]
        assert log_entries(root)[-1][1:] == ("purge", "purged 2 lines from %s (indexed, author=Ann)" % data)

    def test_a_data_file_problem_comes_after_the_author_checks(self, project, tmp_path):
        root, _, _ = project
        zr.revoke_by_author(str(root), "Ann")
        zr.build_index(str(root))
        missing = str(tmp_path / "missing.jsonl")
        assert zr.purge_by_author_indexd(str(root), "Ann", missing, True)["purged"] == 2
        with pytest.raises(RuntimeError, match="^data file not found: "):
            zr.purge_by_author_indexd(str(root), "Ann", missing, False)


class TestLinesTrackedFromPythonsReading:
    """A line tracked as Python's json reads it is found and purged as the store reads it."""

    # The integer -0 is Python's integer 0 at every depth; spelled as a float it stays -0.0.
    TRACKED = [b"-0", b"[1,-0 ,{\"a\":-0}]", b'{"n": -0, "deep": [[{"z": -0}]], "f": -0.0}', b"[-0e0,-0]"]
    UNTRACKED = [b'{"n":-0.0}', b"[0.0]"]

    @pytest.mark.parametrize("purge", ["revoked sections", "revoked author"])
    def test_minus_zero_lines_are_blamed_and_purged(self, root, purge):
        r = str(root)
        author = zr.author_add("Ann", "a@x", r)
        section = zr.register_section("p", [author], [], "MIT", "2024", r)
        data = root / "data.jsonl"
        data.write_bytes(b"".join(line + b"\n" for line in self.TRACKED + self.UNTRACKED))
        for line in self.TRACKED:
            tracked = zr.track(json.loads(line), "data.jsonl", [section], r)
            assert [rec["line_hash"] for rec in zr.blame(r, "data.jsonl", line.decode())] == [tracked]
        for line in self.UNTRACKED:
            assert zr.blame(r, "data.jsonl", line.decode()) == []

        if purge == "revoked sections":
            zr.revoke_section(r, section)
            counts = zr.purge_revoked(r, str(data), False)
        else:
            zr.revoke_by_author(r, "Ann")
            zr.build_index(r)
            counts = zr.purge_by_author_indexd(r, "Ann", str(data), False)

        assert counts == {"purged": 4, "kept": 2, "archived": 4}
        assert data.read_bytes() == b"".join(line + b"\n" for line in self.UNTRACKED)


# --- the pass against a reference implementation ------------------------------------------------


WORDS = ["alpha", "b\u00e9ta", "\u03b3", "\U0001f600", 'quo"te', "back\\slash", "tab\there", "new\nline", "", "\u2028"]


def random_value(rng, depth=0):
    kind = rng.randrange(7 if depth < 3 else 4)
    if kind == 0:
        return rng.choice(WORDS) + str(rng.randrange(5))
    if kind == 1:
        return rng.choice([rng.randrange(-1000, 1000), rng.randrange(2**63), None, True, False])
    if kind == 2:
        return rng.randrange(1, 10**6) / 100  # written the same by both sides
    if kind == 3:
        return rng.choice(WORDS)
    if kind == 4:
        return [random_value(rng, depth + 1) for _ in range(rng.randrange(4))]
    return {rng.choice(["a", "b", "text", "\u00e9", "z"]) + str(rng.randrange(3)): random_value(rng, depth + 1)
            for _ in range(rng.randrange(5))}


def spelling(rng, value):
    """One of the many texts of `value`: key order, blanks and escaping vary."""
    if isinstance(value, dict):
        items = list(value.items())
        rng.shuffle(items)
        value = dict(items)
    separators = rng.choice([(",", ":"), (", ", ": "), (" ,", " : ")])
    text = json.dumps(value, separators=separators, ensure_ascii=rng.random() < 0.5)
    return rng.choice(["", " ", "\t"]) + text + rng.choice(["", " "])


NOT_JSON = ["not json", "{", '{"a":1}x', "NaN", "   ", "\t", "[1,]", '"\\ud800"', "\u00e9t\u00e9", "{'a': 1}"]


def random_data_file(rng, n_lines):
    values = [random_value(rng) for _ in range(max(3, n_lines // 4))]
    values.append({"text": "x" * 5000})  # longer than the writer's buffer
    pieces = []
    for _ in range(n_lines):
        r = rng.random()
        if r < 0.1:
            pieces.append(rng.choice(NOT_JSON).encode())
        elif r < 0.15:
            pieces.append(b"")
        else:
            pieces.append(spelling(rng, rng.choice(values)).encode())
    text = b"".join(p + rng.choice([b"\n", b"\r\n"]) for p in pieces)
    if rng.random() < 0.5:
        text = text.rstrip(b"\n").rstrip(b"\r")
    return text, values


@pytest.mark.parametrize("seed", range(6))
def test_pass_agrees_with_a_reference_implementation(root, seed):
    rng = random.Random(seed)
    data_bytes, values = random_data_file(rng, rng.choice([50, 400, 3000]))
    listed = {zr.compute_hash(v) for v in values if rng.random() < 0.4}
    listed |= {hashlib.sha256(t.encode()).hexdigest() for t in NOT_JSON}
    list_revoked(root, sorted(listed))
    data = root / "data.jsonl"
    data.write_bytes(data_bytes)

    expected_bytes, removed = reference_purge.purge(data_bytes, listed, zr.compute_hash)
    counts = zr.purge_revoked(str(root), str(data), False)

    assert data.read_bytes() == expected_bytes
    assert counts == {"purged": len(removed), "kept": expected_bytes.count(b"\n"), "archived": len(removed)}
    if removed:
        [name] = archives(root)
        stamp = STAMP.match(name).group(1)
        assert (root / ".zr" / "archive" / name).read_text() == "".join(
            compact({"archived_at": stamp, "line": v}) + "\n" for v in removed)


# --- faults: nothing is lost --------------------------------------------------------------------


class TestFaults:
    @pytest.fixture
    def setup(self, root):
        """A data file whose kept part is small and whose purged part is large."""
        big = {"text": "y" * 3000}
        list_revoked(root, [line_hash(big)])
        data = root / "data" / "data.jsonl"
        data.parent.mkdir()
        data.write_text(compact(A) + "\n" + compact(big) + "\n\n")
        (data.parent / "data.tmp").write_text("unrelated")
        # An older archive of another second must survive untouched.
        (root / ".zr" / "archive").mkdir()
        (root / ".zr" / "archive" / "purge.20000101T000000").write_text('{"archived_at":"x","line":1}\n')
        return root, data

    @pytest.mark.parametrize("limit", [10, 1000])  # the temporary file fails; the archive fails
    def test_a_write_that_fails_loses_nothing(self, setup, limit):
        root, data = setup
        before = snapshot(root)
        out = run_limited("zr.purge_revoked(ROOT, DATA, False)", limit, ROOT=str(root), DATA=str(data))
        assert out == "error: File too large"
        assert snapshot(root) == before

    def test_an_unwritable_archive_loses_nothing(self, setup):
        root, data = setup
        for name in os.listdir(root / ".zr" / "archive"):
            (root / ".zr" / "archive" / name).unlink()
        (root / ".zr" / "archive").rmdir()
        (root / ".zr" / "archive").write_text("a file where the directory should be")
        before = snapshot(root)
        with pytest.raises(RuntimeError):
            zr.purge_revoked(str(root), str(data), False)
        assert snapshot(root) == before

    def test_an_unwritable_log_stops_the_purge_before_anything(self, setup):
        root, data = setup
        (root / ".zr" / "log").unlink()
        (root / ".zr" / "log").mkdir()
        before = snapshot(root)
        with pytest.raises(RuntimeError):
            zr.purge_revoked(str(root), str(data), False)
        assert snapshot(root) == before

    @pytest.mark.parametrize("fifo", ["log", "data"])
    def test_a_fifo_where_a_file_should_be_is_refused_without_waiting(self, setup, fifo):
        root, data = setup
        path = root / ".zr" / "log" if fifo == "log" else data
        path.unlink()
        os.mkfifo(path)
        before = snapshot(root)
        # In a child, so that a call that waited for the FIFO's other end
        # would fail the test instead of hanging it.
        out = run_limited("zr.purge_revoked(ROOT, DATA, False)", 2**40, ROOT=str(root), DATA=str(data))
        assert out.startswith("error: ")
        assert snapshot(root) == before

    def test_a_missing_store_stops_the_purge_before_anything(self, tmp_path):
        data = tmp_path / "data.jsonl"
        data.write_text("{}\n\n")
        with pytest.raises(RuntimeError):
            zr.purge_revoked(str(tmp_path / "none"), str(data), False)
        assert data.read_text() == "{}\n\n"
        assert sorted(os.listdir(tmp_path)) == ["data.jsonl"]

    def test_a_temporary_file_that_cannot_be_created_loses_nothing(self, setup):
        # The temporary file's name is longer than the data file's, so a data
        # file at the edge of the path length limit leaves no room for it.
        root, _ = setup
        path_max = os.pathconf("/", "PC_PATH_MAX")
        deep = str(root / "data")
        name = "d.jsonl"
        while len(deep) + 1 + len(name) < path_max - 5:
            deep = os.path.join(deep, "d" * min(200, path_max - 5 - len(deep) - 1 - len(name) - 1))
        os.makedirs(deep)
        data = os.path.join(deep, name)
        with open(data, "w") as f:
            f.write(compact(A) + "\n" + compact({"text": "y" * 3000}) + "\n")
        before = snapshot(root)
        with pytest.raises(RuntimeError, match="File name too long"):
            zr.purge_revoked(str(root), data, False)
        assert snapshot(root) == before


# --- links: the file a link names is purged -----------------------------------------------------


class TestLinks:
    @pytest.fixture
    def linked(self, root, tmp_path):
        """data.jsonl in its own directory, named by a chain of two links from another one."""
        list_revoked(root, [line_hash(A)])
        real = tmp_path / "real"
        real.mkdir()
        target = real / "data.jsonl"
        target.write_text(compact(A) + "\n" + compact(C) + "\n")
        os.chmod(target, 0o640)
        links = tmp_path / "links"
        links.mkdir()
        os.symlink("../real/data.jsonl", links / "middle")
        os.symlink(links / "middle", links / "data.jsonl")
        return root, target, links

    def test_a_chain_of_links_purges_the_file_it_names_and_stays_links(self, linked):
        root, target, links = linked
        counts = zr.purge_revoked(str(root), str(links / "data.jsonl"), False)
        assert counts == {"purged": 1, "kept": 1, "archived": 1}
        assert target.read_text() == compact(C) + "\n"
        assert stat.S_IMODE(os.lstat(target).st_mode) == 0o640
        assert os.readlink(links / "data.jsonl") == str(links / "middle")
        assert os.readlink(links / "middle") == "../real/data.jsonl"
        # Nothing was written beside the links; the log names the path as given.
        assert sorted(os.listdir(links)) == ["data.jsonl", "middle"]
        assert sorted(os.listdir(target.parent)) == ["data.jsonl"]
        assert log_entries(root)[-1][1:] == ("purge", "purged 1 lines from %s" % (links / "data.jsonl"))

        assert zr.purge_reverse(str(root), str(links / "data.jsonl")) == 1
        assert target.read_text() == compact(C) + "\n" + compact(A) + "\n"

    def test_the_links_directory_need_not_be_writable(self, linked):
        # The temporary file goes beside the target: a read-only place for the
        # link alone is no obstacle (and shows where the file was written).
        root, target, links = linked
        os.chmod(links, 0o555)
        try:
            zr.purge_revoked(str(root), str(links / "data.jsonl"), False)
        finally:
            os.chmod(links, 0o755)
        assert target.read_text() == compact(C) + "\n"

    def test_other_hard_links_keep_the_old_content(self, root):
        list_revoked(root, [line_hash(A)])
        data = root / "data.jsonl"
        data.write_text(compact(A) + "\n")
        os.link(data, root / "second-name")
        zr.purge_revoked(str(root), str(data), False)
        assert data.read_text() == ""
        assert (root / "second-name").read_text() == compact(A) + "\n"


# --- messages name the data file ----------------------------------------------------------------


class TestMessages:
    def test_a_data_file_that_cannot_be_read_is_named(self, root):
        data = root / "data.jsonl"
        data.mkdir()
        with pytest.raises(RuntimeError) as e:
            zr.purge_revoked(str(root), str(data), False)
        assert str(e.value) == "cannot read data file %s: Is a directory" % data

    def test_a_temporary_file_that_cannot_be_made_names_the_place_and_the_file(self, root, tmp_path):
        # A link lets the data file's path stay short while the target's
        # directory leaves no room for a temporary name.
        path_max = os.pathconf("/", "PC_PATH_MAX")
        deep = str(tmp_path / "deep")
        while len(deep) < path_max - 20:
            deep = os.path.join(deep, "d" * min(200, path_max - 20 - len(deep)))
        os.makedirs(deep)
        target = os.path.join(deep, "d.jsonl")
        with open(target, "w") as f:
            f.write("{}\n")
        link = root / "link.jsonl"
        os.symlink(target, link)
        with pytest.raises(RuntimeError) as e:
            zr.purge_revoked(str(root), str(link), False)
        assert str(e.value) == "cannot create a temporary file in %s to purge %s: File name too long" % (deep, link)
        assert os.listdir(deep) == ["d.jsonl"]


# --- the archive holds only removed lines, whenever the purge dies ------------------------------


PENDING = re.compile(r"^\.purge-pending\.\d{8}T\d{6}\.[A-Za-z0-9]{6}(\.lines)?$")


def leave_pending(root, data, values, unique, stamp="20200101T000000"):
    """The pending pair a purge of `data` killed at second `stamp` leaves:
    its note records the data file as it is now."""
    archive = root / ".zr" / "archive"
    archive.mkdir(exist_ok=True)
    st = os.lstat(data)
    note = archive / (".purge-pending.%s.%s" % (stamp, unique))
    note.write_text("%d %d %d %d %d %d %d\n%s" % (
        st.st_dev, st.st_ino, st.st_size, st.st_mtime_ns // 10**9, st.st_mtime_ns % 10**9,
        st.st_ctime_ns // 10**9, st.st_ctime_ns % 10**9, os.path.realpath(data)))
    (archive / (note.name + ".lines")).write_text(
        "".join(compact({"archived_at": stamp, "line": v}) + "\n" for v in values))
    return note.name


class TestPendingRecords:
    def test_records_of_lines_kept_elsewhere_go_the_only_copy_stays(self, root):
        data = root / "data.jsonl"
        data.write_text("".join(compact(v) + "\n" for v in (A, B, C)))
        list_revoked(root, [line_hash(A), line_hash(B)])
        # Killed before its replacement; the run again archives the same lines.
        leave_pending(root, data, [A, B], "Killed")
        assert zr.purge_revoked(str(root), str(data), False) == {"purged": 2, "kept": 1, "archived": 2}
        assert [n for n in archives(root) if PENDING.match(n)] == []
        assert zr.purge_reverse(str(root), str(data)) == 2
        assert sorted(data.read_text().splitlines()) == sorted(compact(v) for v in (A, B, C))

        # Killed before its replacement, and the data file appended to since;
        # killed after it (the data file is then replaced, which the append
        # stands for as well): D is in an older archive only, from an earlier
        # purge, and B, removed twice, is in the data file once.
        leave_pending(root, data, [C], "Append")
        only_copies = [leave_pending(root, data, [D], "OlderA"), leave_pending(root, data, [B, B], "TwiceB")]
        (root / ".zr" / "archive" / "purge.20100101T000000").write_text(
            compact({"archived_at": "20100101T000000", "line": D}) + "\n")
        with open(data, "a") as f:
            f.write(compact({"more": 1}) + "\n")
        zr.clean(str(root), False)
        kept = sorted(n + e for n in only_copies for e in ("", ".lines"))
        assert [n for n in archives(root) if PENDING.match(n)] == kept
        list_revoked(root, [])
        zr.purge_revoked(str(root), str(data), False)
        assert [n for n in archives(root) if PENDING.match(n)] == kept

    def test_pending_records_are_never_restored(self, root):
        # What a purge killed after replacing its data file leaves behind.
        archive = root / ".zr" / "archive"
        archive.mkdir()
        (archive / ".purge-pending.20300101T000000.AbC123").write_text("0 0 0 0 0 0 0\n/gone")
        (archive / ".purge-pending.20300101T000000.AbC123.lines").write_text(
            compact({"archived_at": "20300101T000000", "line": A}) + "\n")
        (archive / "purge.20200101T000000").write_text(compact({"archived_at": "x", "line": C}) + "\n")
        data = root / "data.jsonl"
        assert zr.purge_reverse(str(root), str(data)) == 1
        assert data.read_text() == compact(C) + "\n"
        assert sorted(os.listdir(archive)) == [".purge-pending.20300101T000000.AbC123",
                                               ".purge-pending.20300101T000000.AbC123.lines"]

    def test_a_killed_purge_never_archives_a_line_it_did_not_remove(self, root, tmp_path):
        values = [{"i": i, "pad": "p" * 60} for i in range(40000)]
        removed = [v for v in values if v["i"] % 3 == 0]
        original = "".join(compact(v) + "\n" for v in values).encode()
        purged = "".join(compact(v) + "\n" for v in values if v["i"] % 3).encode()
        list_revoked(root, [line_hash(v) for v in removed])
        data = tmp_path / "data.jsonl"
        rng = random.Random(5)
        code = "import sys, _zr_native as zr\nprint(flush=True)\nzr.purge_revoked(sys.argv[1], sys.argv[2], False)\n"
        duration = None  # of a whole purge, measured by the first run, which is not killed
        while duration is None or len(delays) > 0:
            archive = root / ".zr" / "archive"
            for name in archives(root):
                os.remove(archive / name)
            data.write_bytes(original)
            child = subprocess.Popen([sys.executable, "-c", code, str(root), str(data)], stdout=subprocess.PIPE)
            child.stdout.readline()
            if duration is None:
                started = time.monotonic()
                assert child.wait() == 0
                duration = time.monotonic() - started
                delays = [0.0] + [rng.uniform(0, duration) for _ in range(7)]
            else:
                time.sleep(delays.pop())
                child.kill()
                child.wait()
            child.stdout.close()

            now = data.read_bytes()
            assert now in (original, purged)
            assert all(PENDING.match(n) or STAMP.match(n) for n in archives(root))
            archived = [r["line"] for n in archives(root) if n.startswith("purge.") for r in archive_records(root, n)]
            if now == original:
                # Killed before the replacement: no archive, and what is
                # pending (perhaps torn) goes with the next clean.
                assert archived == []
                zr.clean(str(root), False)
                assert [n for n in archives(root) if PENDING.match(n)] == []
                continue
            # Killed after it: every removed line is kept exactly once, in
            # the archive or pending, and clean keeps what is pending.
            pending = [r["line"] for n in archives(root) if n.endswith(".lines") for r in archive_records(root, n)]
            assert sorted([archived, pending], key=len) == [[], removed]
            zr.clean(str(root), False)
            assert [r["line"] for n in archives(root) if n.endswith(".lines")
                    for r in archive_records(root, n)] == pending
