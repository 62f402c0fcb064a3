"""Purge reversal and housekeeping: restored lines, log rotation, folded and archived records."""

import json
import os
import re
import subprocess
import sys
import textwrap

import pytest

import _zr_native as zr
from conftest import LOG_LINE, compact, log_ops, run_limited, write_lines

NO_ARCHIVE = "No purge archive found\n"
ZEROS = dict.fromkeys(["document_merged", "pid_files_deleted", "archived_records", "log_rotated",
                       "token_index_merged", "token_index_pid_deleted"], 0)


def counts(**nonzero):
    return {**ZEROS, **nonzero}


class TestPurgeReverse:
    def test_without_purge_archive_prints_and_does_nothing(self, root, capfd):
        data = root / "data.jsonl"
        assert zr.purge_reverse(str(root), str(data)) == 0
        (root / ".zr" / "archive").mkdir()
        write_lines(root / ".zr" / "archive" / "sections.3f", [{"line": 1, "revoked": True}])
        assert zr.purge_reverse(str(root), str(data)) == 0
        assert capfd.readouterr().out == NO_ARCHIVE * 2
        assert not data.exists() and log_ops(root) == []

    def test_newest_archive_first_in_compact_form(self, root, capfd):
        archive = root / ".zr" / "archive"
        archive.mkdir()
        write_lines(archive / "purge.20250101T000000", [{"archived_at": "20250101T000000", "line": {"old": 1}}])
        (archive / "purge.20250102T000000").write_text(
            '{"archived_at":"x","line":{"b": [1, 2.50], "a":"é"}}\n'
            '{"archived_at":"x"}\n'        # no line: passed over
            'not json\n'
            '{"line":null}\n')
        data = root / "data.jsonl"
        data.write_text('{"kept":true}')  # no final line feed

        assert zr.purge_reverse(str(root), str(data)) == 2
        assert data.read_text() == '{"kept":true}\n{"a":"é","b":[1,2.5]}\nnull\n'
        assert sorted(os.listdir(archive)) == ["purge.20250101T000000"]
        newest = os.path.join(str(root), ".zr", "archive", "purge.20250102T000000")
        assert log_ops(root) == [("purge_reverse", f"restored 2 lines from {newest}")]

        assert zr.purge_reverse(str(root), str(data)) == 1
        assert data.read_text().endswith('null\n{"old":1}\n')
        assert os.listdir(archive) == []
        assert zr.purge_reverse(str(root), str(data)) == 0
        assert capfd.readouterr().out == NO_ARCHIVE

    def test_archive_without_lines_is_still_deleted_and_logged(self, root):
        archive = root / ".zr" / "archive"
        archive.mkdir()
        write_lines(archive / "purge.", [{"archived_at": "x"}])
        data = root / "data.jsonl"
        data.write_text("{}")  # nothing restored, so nothing is added either
        assert zr.purge_reverse(str(root), str(data)) == 0
        assert data.read_text() == "{}" and os.listdir(archive) == []
        assert log_ops(root)[0][0] == "purge_reverse"

    def test_message_follows_what_python_printed_before(self, root):
        # With stdout a pipe, Python buffers print() while the message goes
        # straight to file descriptor 1: the call must flush Python's buffer
        # first. A sys.stdout that is None or fails to flush must not stop it.
        code = textwrap.dedent("""
            import sys
            import _zr_native as zr
            root, data = sys.argv[1], sys.argv[2]
            print("before")
            assert zr.purge_reverse(root, data) == 0
            print("after")
            sys.__stdout__.flush()

            class Broken:
                def write(self, text): return len(text)
                def flush(self): raise OSError("no flushing here")

            for replacement in (None, Broken()):
                sys.stdout = replacement
                assert zr.purge_reverse(root, data) == 0
            sys.stdout = sys.__stdout__
        """)
        env = {k: v for k, v in os.environ.items() if k != "PYTHONUNBUFFERED"}
        done = subprocess.run([sys.executable, "-c", code, str(root), str(root / "data.jsonl")],
                              capture_output=True, text=True, env=env, timeout=60)
        assert done.returncode == 0, done.stderr
        assert done.stdout == "before\n" + NO_ARCHIVE + "after\n" + NO_ARCHIVE * 2

    def test_undoes_a_real_purge_by_content_hash(self, root):
        section = zr.register_section("src", ["someone"], [], "MIT", "2024", str(root))
        data = root / "data.jsonl"
        lines = ['{"t": 1}', '{"t":2}', '{"t":3}']
        for i, line in enumerate(lines):
            zr.track(json.loads(line), "data.jsonl", [section] if i != 1 else [], str(root))
        data.write_text("\n".join(lines) + "\n")
        zr.revoke_section(str(root), section)
        assert zr.purge_revoked(str(root), str(data), False)["purged"] == 2
        assert zr.purge_reverse(str(root), str(data)) == 2
        assert data.read_text() == '{"t":2}\n{"t":1}\n{"t":3}\n'


ARCHIVED = [{"n": i, "pad": "x" * 30} for i in range(10)]
BLOCK = "".join(compact(v) + "\n" for v in ARCHIVED).encode()
RESTORING = ".restoring.purge.20250101T000000"


def stopped_restore(root, kept=b'{"kept":1}\n{"cut', fits=len(BLOCK) // 2):
    """A restore stopped by a file-size limit after `fits` bytes of its block
    (the "\n" that ends a cut-off last line included). Returns the data file
    and what an uninterrupted restore leaves in it."""
    archive = root / ".zr" / "archive"
    archive.mkdir(exist_ok=True)
    write_lines(archive / "purge.20250101T000000", [{"archived_at": "20250101T000000", "line": v} for v in ARCHIVED])
    data = root / "data.jsonl"
    data.write_bytes(kept)
    block = (b"\n" if kept and not kept.endswith(b"\n") else b"") + BLOCK
    limit = len(kept) + fits
    out = run_limited("zr.purge_reverse(root, data)", limit, root=str(root), data=str(data))
    assert out == "error: File too large"
    return data, kept + block


class TestPurgeReverseStopped:
    @pytest.mark.parametrize("kept", [b"", b'{"kept":1}\n', b'{"kept":1}\n{"cut'])
    @pytest.mark.parametrize("fits", [0, 1, len(BLOCK) // 2, len(BLOCK) - 1])
    def test_the_next_call_finishes_it_and_restores_each_line_once(self, root, kept, fits):
        data, whole = stopped_restore(root, kept, fits)
        assert whole.startswith(data.read_bytes())
        assert zr.purge_reverse(str(root), str(data)) == 10
        assert data.read_bytes() == whole
        assert os.listdir(root / ".zr" / "archive") == []
        assert [op for op, _ in log_ops(root)] == ["purge_reverse"]

    def test_it_is_not_finished_into_another_or_a_changed_data_file(self, root, tmp_path):
        data, whole = stopped_restore(root)
        stopped_at = data.read_bytes()
        other = tmp_path / "other.jsonl"
        other.write_text("")
        with pytest.raises(RuntimeError, match="^Cannot finish the interrupted restore of .*another data file"):
            zr.purge_reverse(str(root), str(other))
        with open(data, "ab") as f:
            f.write(b"\n{\"appended\":1}\n")  # someone else's append in the middle of the block
        with pytest.raises(RuntimeError, match="^Cannot finish .*: the data file changed since the restore began$"):
            zr.purge_reverse(str(root), str(data))
        zr.clean(str(root), False)  # the note is still needed: clean keeps it
        assert sorted(os.listdir(root / ".zr" / "archive")) == [RESTORING, "purge.20250101T000000"]
        assert other.read_text() == "" and [op for op, _ in log_ops(root)] == ["clean"]
        data.write_bytes(stopped_at)
        assert zr.purge_reverse(str(root), str(data)) == 10 and data.read_bytes() == whole

    def test_a_note_outliving_its_archive_is_ignored_and_cleaned_away(self, root):
        data, whole = stopped_restore(root)
        archive = root / ".zr" / "archive"
        note = (archive / RESTORING).read_bytes()
        assert zr.purge_reverse(str(root), str(data)) == 10
        # Back beside a new archive of the same name (a later purge in the
        # same second): that one is restored whole.
        (archive / RESTORING).write_bytes(note)
        write_lines(archive / "purge.20250101T000000", [{"line": {"new": 1}}])
        assert zr.purge_reverse(str(root), str(data)) == 1
        assert data.read_bytes() == whole + b'{"new":1}\n'
        (archive / RESTORING).write_bytes(note)  # its archive is gone now
        zr.clean(str(root), False)
        assert os.listdir(archive) == []


class TestClean:
    def test_missing_store_is_left_alone(self, tmp_path):
        assert zr.clean(str(tmp_path / "nothing"), True) == ZEROS
        assert zr.clean(str(tmp_path), True) == ZEROS
        assert os.listdir(tmp_path) == []

    @pytest.mark.parametrize("size,rotated", [(10_485_760, 0), (10_485_761, 1)])
    def test_log_rotates_only_above_ten_mebibytes(self, root, size, rotated):
        log = root / ".zr" / "log"
        old = (b"x" * 99 + b"\n") * (size // 100) + b"y" * (size % 100)
        log.write_bytes(old)
        (root / ".zr" / "log.1").write_text("older\n")
        assert zr.clean(str(root), True) == counts(log_rotated=rotated)
        if rotated:
            assert (root / ".zr" / "log.1").read_bytes() == old
            assert [op for op in log_ops(root)] == [("clean", "split=true")]
        else:
            assert (root / ".zr" / "log.1").read_text() == "older\n"
            tail = log.read_bytes()[size:].decode()
            assert LOG_LINE.match(tail).groups() == ("clean", "split=true") and tail.endswith("\n")

    def test_folds_per_process_document_files(self, root, tmp_path):
        st = root / ".zr"
        h1, h2 = "ab" * 32, "cd" * 32
        write_lines(st / "docidx.1234", [{"line_hash": h1, "file": "f", "sources": ["s"], "z": [1]},
                                         {"file": "no hash"}, {"line_hash": ""}, "broken {"])
        write_lines(st / "docidx.abc", [{"line_hash": h2, "file": "g"}])
        # Keys that cannot name a shard are passed over, never written elsewhere.
        write_lines(st / "docidx.x", [{"line_hash": k} for k in ["a", "../" + h1, "./x", "/etc", "a\u0000b"]])
        write_lines(st / "docidx.ab", [{"line_hash": h1}])
        write_lines(st / "docidx.AB", [{"line_hash": h1}])
        before = set(os.listdir(tmp_path))

        assert zr.clean(str(root), False) == counts(document_merged=2, pid_files_deleted=3)
        assert (st / "document-index" / "ab").read_text() == compact(
            {"file": "f", "line_hash": h1, "sources": ["s"], "z": [1]}) + "\n"
        assert (st / "document-index" / "cd").read_text() == '{"file":"g","line_hash":"' + h2 + '"}\n'
        assert sorted(n for n in os.listdir(st) if n.startswith("docidx")) == ["docidx.AB", "docidx.ab"]
        assert sorted(os.listdir(st / "document-index")) == ["ab", "cd"]
        assert set(os.listdir(tmp_path)) == before

    def test_fold_into_a_missing_layer_fails_and_keeps_the_file(self, root):
        st = root / ".zr"
        os.rmdir(st / "document-index")
        write_lines(st / "docidx.1", [{"line_hash": "ab" * 32}])
        with pytest.raises(RuntimeError, match=r"^No such file or directory"):
            zr.clean(str(root), False)
        assert (st / "docidx.1").exists() and not (st / "document-index").exists()

    def test_archives_flagged_records_every_time(self, root, tmp_path):
        section = zr.register_section("src", ["a1"], [], "MIT", "2024", str(root))
        zr.revoke_section(str(root), section)
        st = root / ".zr"
        orphan = {"id": "ee" + "0" * 62, "name": "n", "orphan": True}
        write_lines(st / "authors" / "ee", [orphan, {"id": "ee1", "revoked": "yes"}, {"id": "ee2", "orphan": 1}])
        doc = {"file": "f", "line_hash": "9z" + "0" * 62, "revoked": True}
        bad = [{"line_hash": k, "revoked": True} for k in ["a", "..", "./", "/x", "a/"]]
        write_lines(st / "document-index" / "zz", [doc, *bad])     # any two-character name is read
        write_lines(st / "document-index" / "9zz", [doc])           # longer names are not
        sec_line = (st / "sections" / section[:2]).read_text()
        before = set(os.listdir(tmp_path))

        for run in (1, 2):
            assert zr.clean(str(root), False) == counts(archived_records=3)
            archive = st / "archive"
            assert sorted(os.listdir(archive)) == ["authors.ee", "document-index.9z", f"sections.{section[:2]}"]
            assert (archive / f"sections.{section[:2]}").read_text() == sec_line * run
            assert (archive / "authors.ee").read_text() == (compact(orphan) + "\n") * run
            assert (archive / "document-index.9z").read_text() == (compact(doc) + "\n") * run
        assert (st / "sections" / section[:2]).read_text() == sec_line
        assert set(os.listdir(tmp_path)) == before

    def test_split_emptied_only_when_asked(self, root):
        split = root / ".zr" / "split"
        assert zr.clean(str(root), True) == ZEROS
        assert not split.exists()
        (split / "deep").mkdir(parents=True)
        (split / "deep" / "f").write_text("x")
        (split / "g").write_text("y")
        zr.clean(str(root), False)
        assert sorted(os.listdir(split)) == ["deep", "g"]
        zr.clean(str(root), True)
        assert split.is_dir() and os.listdir(split) == []
        assert [op for op in log_ops(root)] == [("clean", "split=true"), ("clean", "split=false"),
                                                 ("clean", "split=true")]

    def test_merges_token_files_and_builds_their_indexes(self, root):
        st = root / ".zr"
        zr.token_index_write_pid(str(root), "tk", 5, ["s1"])
        zr.token_index_write_pid(str(root), "tk", 7, ["s2"])
        write_lines(st / "token-index.tk.1", [{"token_count": 1, "sources": [], "tokenizer": "tk",
                                                "revoked": True}])
        write_lines(st / "token-index.tk.2", ["", "junk"])
        write_lines(st / "token-index.other.3", ["1", "2", "3"])
        assert zr.clean(str(root), False) == counts(token_index_merged=6, token_index_pid_deleted=4)
        assert not [n for n in os.listdir(st) if re.fullmatch(r"token-index\.\w+\.\d+", n)]
        assert sorted(os.listdir(st / "token-index.tk")) == ["001", "002"]
        assert zr.token_index_token_status(str(root), "tk") == {
            "total_entries": 3, "active_entries": 2, "revoked_entries": 1, "total_tokens": 13}
        assert (st / "token-index.tk.bin").is_file() and (st / "token-index.other.bin").is_file()
        # A second run finds nothing to merge but rebuilds the indexes.
        os.remove(st / "token-index.tk.bin")
        assert zr.clean(str(root), False) == ZEROS
        assert (st / "token-index.tk.bin").is_file()


class TestCleanRemovesWritersLeftovers:
    def test_only_the_systems_own_temporary_names_go(self, root):
        st = root / ".zr"
        zr.token_index_write_pid(str(root), "tk", 5, ["s1"])
        zr.clean(str(root), False)
        leftovers = [st / ".tmp-Ab12Cd", st / ".tmp-index.bin-000000", st / ".tmp-token-bin-zZ9yY8",
                     st / "token-index.tk" / ".tmp-q1w2e3"]
        others = [st / ".tmp-notes", st / ".tmp-Ab12C!", st / ".tmp-Ab12Cde", st / "tmp-Ab12Cd",
                  st / ".tmp-index.bin-0000", st / "authors" / ".tmp-Ab12Cd", st / "token-index.tk" / ".tmp-1234567",
                  st / "archive" / ".tmp-Ab12Cd", st / "archive" / ".purge-pending.20300101T000000.AbC12"]
        for path in leftovers + others:
            path.write_text("x")
        (st / ".tmp-dir123").mkdir()
        expected = zr.clean(str(root), False)
        assert expected == ZEROS  # the counters do not see leftovers
        assert [p for p in leftovers if p.exists()] == []
        assert [p for p in others if not p.exists()] == []
        assert (st / ".tmp-dir123").is_dir()

    def test_pending_purge_records_go_only_while_their_data_file_is_unchanged(self, root, tmp_path):
        archive = root / ".zr" / "archive"
        archive.mkdir()
        prefix = ".purge-pending.20300101T000000."

        def pending(unique, data_file):
            """What a purge of `data_file` writes before replacing it."""
            st = os.lstat(data_file)
            note = "%d %d %d %d %d %d %d\n%s" % (
                st.st_dev, st.st_ino, st.st_size, st.st_mtime_ns // 10**9, st.st_mtime_ns % 10**9,
                st.st_ctime_ns // 10**9, st.st_ctime_ns % 10**9, data_file)
            (archive / (prefix + unique)).write_text(note)
            (archive / (prefix + unique + ".lines")).write_text('{"archived_at":"20300101T000000","line":{}}\n')

        unchanged, replaced, removed = (tmp_path / n for n in ("unchanged", "replaced", "removed"))
        for path in (unchanged, replaced, removed):
            path.write_text("{}\n")
        pending("unchgd", unchanged)  # killed before the replacement
        pending("replcd", replaced)   # killed after it
        (tmp_path / "new").write_text("")
        os.replace(tmp_path / "new", replaced)
        pending("remvd1", removed)    # its data file deleted since
        removed.unlink()
        pending("damagd", unchanged)  # a note that cannot be read
        (archive / (prefix + "damagd")).write_text("3 4\n")
        (archive / (prefix + "alone1")).write_text("records promoted, then the kill")
        (archive / "purge.20300101T000000").write_text("kept\n")

        assert zr.clean(str(root), False) == ZEROS
        assert sorted(os.listdir(archive)) == sorted(
            [prefix + u + e for u in ("replcd", "remvd1", "damagd") for e in ("", ".lines")]
            + ["purge.20300101T000000"])
        assert (archive / (prefix + "replcd.lines")).read_text() == '{"archived_at":"20300101T000000","line":{}}\n'
