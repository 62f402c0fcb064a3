"""Forget sets and token totals by author, from the token binary index and from the chunk files."""

import inspect
import os
import random
import shutil
import stat
import struct
import tempfile

import pytest

import _zr_native as zr
from conftest import run_child, run_limited, token_entry

TK = "tk"


def entry(count, sources, revoked=False, tokenizer=TK):
    return token_entry(count, sources, revoked, tokenizer).encode()


@pytest.fixture
def project(tmp_path):
    zr.init(str(tmp_path))
    (tmp_path / ".zr" / f"token-index.{TK}").mkdir()
    return tmp_path


def merged(project):
    return project / ".zr" / f"token-index.{TK}"


def index_file(project):
    return project / ".zr" / f"token-index.{TK}.bin"


def write_chunks(project, chunks):
    for name, lines in chunks.items():
        data = lines if isinstance(lines, bytes) else b"".join(l + b"\n" for l in lines)
        (merged(project) / name).write_bytes(data)


def build(project):
    zr.token_index_build_binary_index(str(project), TK)
    keep_index_current(project)


def keep_index_current(project):
    """Dates every chunk file a second before the index, so the index stays in use after edits."""
    older = index_file(project).stat().st_mtime_ns - 10**9
    for item in merged(project).iterdir():
        os.utime(item, ns=(older, older))


def make_stale(project):
    newer = index_file(project).stat().st_mtime_ns + 10**9
    first = sorted(merged(project).iterdir())[0]
    os.utime(first, ns=(newer, newer))


def patch_index(project, offset, data):
    """Changes bytes of the index in place and keeps it current."""
    with open(index_file(project), "r+b") as f:
        f.seek(offset)
        f.write(data)
    keep_index_current(project)


def mask(project):
    return zr.generate_forget_set(str(project), TK)


def tokens(project, author):
    return zr.show_by_author_token(str(project), author, TK)


def author_with_sections(project, name, count, email="e"):
    author_id = zr.author_add(name, email, str(project))
    return [zr.register_section(f"{name}/{email}/{i}", [author_id], [], "MIT", "2024", str(project))
            for i in range(count)]


def test_text_signatures():
    assert str(inspect.signature(zr.generate_forget_set)) == "(zr_dir, tokenizer)"
    assert str(inspect.signature(zr.write_forget_set)) == "(path, bitmask)"
    assert str(inspect.signature(zr.show_by_author_token)) == "(zr_dir, author_name, tokenizer)"


class TestForgetSet:
    def test_no_merged_directory_and_no_index_gives_an_empty_mask(self, tmp_path):
        assert zr.generate_forget_set(str(tmp_path), TK) == b""
        assert zr.generate_forget_set(str(tmp_path), "never-seen") == b""

    @pytest.mark.parametrize("n, revoked, expected", [
        (8, [7], b"\x80"),
        (9, [8], b"\x00\x01"),
        (9, [0, 8], b"\x01\x01"),
        (3, [], b"\x00"),
    ])
    def test_bit_layout_on_both_paths(self, project, n, revoked, expected):
        write_chunks(project, {"001": [entry(i, ["s"], i in revoked) for i in range(n)]})
        assert mask(project) == expected
        build(project)
        assert mask(project) == expected

    def test_positions_are_valid_entries_only(self, project):
        # An unreadable line takes no position, a revoked entry written with
        # blanks is still revoked, and "revoked":true in an ignored member is
        # no revocation.
        spaced = b'{"token_count": 1, "sources": [], "tokenizer": "tk", "revoked": true}'
        nested = b'{"token_count":2,"sources":[],"tokenizer":"tk","revoked":false,"note":{"revoked":true}}'
        write_chunks(project, {
            "+2": [entry(0, []), b"not an entry", b'{"token_count":1,"sources":[],"tokenizer":"tk"}', spaced],
            "010": b"\r\n" + nested + b"\r\n" + entry(3, [], True) + b"\r\n",
        })
        assert mask(project) == b"\x0a"
        build(project)
        assert mask(project) == b"\x0a"

    def test_a_changed_chunk_makes_the_index_yield_to_the_chunk_files(self, project):
        write_chunks(project, {"001": [entry(1, ["a1"]), entry(2, ["b2"])]})
        build(project)
        assert zr.token_index_revoke_by_sources(str(project), TK, {"b2"}) == 1
        assert mask(project) == b"\x02"

    def test_a_flag_set_only_in_the_index_counts_while_it_is_current(self, project):
        write_chunks(project, {"001": [entry(1, ["a"]), entry(2, ["b"]), entry(3, ["c"])]})
        build(project)
        patch_index(project, 64 + 16 * 2 + 10, b"\x01")
        assert mask(project) == b"\x04"
        make_stale(project)
        assert mask(project) == b"\x00"

    @pytest.mark.parametrize("damage", ["truncated", "short", "magic", "version"])
    def test_an_unusable_index_is_answered_from_the_chunk_files(self, project, damage):
        write_chunks(project, {"001": [entry(1, ["a"], True)] * 9})
        build(project)
        data = index_file(project).read_bytes()
        data = {
            "truncated": data[:64 + 16 * 4],  # the entry table runs past the end
            "short": data[:10],
            "magic": b"ZRIDXTI09" + data[9:],
            "version": data[:9] + struct.pack("<I", 2) + data[13:],
        }[damage]
        index_file(project).write_bytes(data)
        keep_index_current(project)
        assert mask(project) == b"\xff\x01"

    @pytest.mark.parametrize("tokenizer", ["a/b", "../tk", "t\0k"])
    def test_unsafe_tokenizer_names_are_refused(self, project, tokenizer):
        with pytest.raises(RuntimeError):
            zr.generate_forget_set(str(project), tokenizer)
        with pytest.raises(RuntimeError):
            zr.show_by_author_token(str(project / "no-store"), "Ann", tokenizer)


def current_umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask


class TestWriteForgetSet:
    @pytest.mark.parametrize("value, expected", [
        (b"\x00\xff\x80", b"\x00\xff\x80"),
        (bytearray(b"\x01\x02"), b"\x01\x02"),
        ([0, 255, 7], b"\x00\xff\x07"),
        ((1,), b"\x01"),
        (b"", b""),
    ])
    def test_writes_exactly_the_bytes(self, tmp_path, value, expected):
        path = tmp_path / "forget.bin"
        path.write_bytes(b"an older, longer file")
        assert zr.write_forget_set(str(path), value) is None
        assert path.read_bytes() == expected

    @pytest.mark.parametrize("value, error", [
        ("abc", TypeError), (5, TypeError), (None, TypeError), ([1, "x"], TypeError), ([1.0], TypeError),
        ([256], OverflowError), ([-1], OverflowError), ([2**70], OverflowError),
    ])
    def test_bad_bitmasks(self, tmp_path, value, error):
        with pytest.raises(error) as err:
            zr.write_forget_set(str(tmp_path / "out"), value)
        if error is TypeError:
            assert str(err.value).startswith("argument 'bitmask': ")
        assert not (tmp_path / "out").exists()

    def test_a_failed_write_leaves_the_old_file_whole(self, tmp_path):
        path = tmp_path / "forget.bin"
        path.write_bytes(b"old mask")
        out = run_limited("zr.write_forget_set(path, b'\\x01' * 100000)", 50000, path=str(path))
        assert out == "error: File too large"
        assert path.read_bytes() == b"old mask"
        assert os.listdir(tmp_path) == ["forget.bin"]  # nothing left beside it

    def test_a_replaced_file_keeps_its_mode_and_links_stay_links(self, tmp_path):
        real = tmp_path / "real.bin"
        real.write_bytes(b"old")
        os.chmod(real, 0o640)
        link = tmp_path / "link.bin"
        link.symlink_to("real.bin")
        zr.write_forget_set(str(link), b"\x05")
        assert link.is_symlink() and real.read_bytes() == b"\x05"
        assert stat.S_IMODE(real.stat().st_mode) == 0o640
        new = tmp_path / "new.bin"
        zr.write_forget_set(str(new), b"")
        assert new.read_bytes() == b""
        assert stat.S_IMODE(new.stat().st_mode) == 0o666 & ~current_umask()
        assert sorted(os.listdir(tmp_path)) == ["link.bin", "new.bin", "real.bin"]

    def test_a_fifo_or_standard_output_is_written_directly(self, tmp_path):
        fifo = tmp_path / "pipe"
        os.mkfifo(fifo)
        reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
        try:
            zr.write_forget_set(str(fifo), b"\x01\x02")
            assert os.read(reader, 16) == b"\x01\x02"
        finally:
            os.close(reader)
        assert stat.S_ISFIFO(os.lstat(fifo).st_mode)
        # Standard output sent to a file stays that file: what the process
        # prints afterwards still lands in it.
        out = tmp_path / "out"
        code = ("import _zr_native as zr\n"
                "zr.write_forget_set('/dev/stdout', b'MASK')\n"
                "print('after', flush=True)\n")
        with open(out, "ab") as f:
            inode = os.fstat(f.fileno()).st_ino
            run_child(code, stdout=f, check=True)
        assert out.read_bytes() == b"MASKafter\n" and out.stat().st_ino == inode
        assert sorted(os.listdir(tmp_path)) == ["out", "pipe"]

    def test_a_file_the_caller_may_not_write_is_refused_as_before(self):
        # Root may write anything, so the call runs as user nobody, in a
        # directory everyone may add to (where a rename alone would pass).
        top = tempfile.mkdtemp(prefix="zr-forget-")
        try:
            os.chmod(top, 0o777)
            path = os.path.join(top, "forget.bin")
            with open(path, "wb") as f:
                f.write(b"old")
            os.chmod(path, 0o444)
            code = ("import sys, _zr_native as zr\n"
                    "try:\n    zr.write_forget_set(sys.argv[1], b'new')\n"
                    "except RuntimeError as e:\n    print(e)\n")
            done = run_child(code, path, other_user=True, capture_output=True, text=True)
            assert (done.returncode, done.stdout) == (0, "Permission denied\n"), done.stderr
            assert open(path, "rb").read() == b"old" and os.listdir(top) == ["forget.bin"]
        finally:
            shutil.rmtree(top)

    def test_failures_carry_the_system_message(self, tmp_path):
        with pytest.raises(RuntimeError, match="directory"):
            zr.write_forget_set(str(tmp_path), b"\x01")
        with pytest.raises(RuntimeError, match="No such file"):
            zr.write_forget_set(str(tmp_path / "missing" / "out"), b"\x01")


class TestShowByAuthorToken:
    def test_unknown_author(self, project):
        write_chunks(project, {"001": [entry(5, ["x"])]})
        result = tokens(project, "Nobody")
        assert result == {"total_tokens": 0, "document_count": 0, "entries": []}
        assert list(result) == ["total_tokens", "document_count", "entries"]

    def test_result_shape_and_the_entries_counted(self, project):
        s1, s2 = author_with_sections(project, "Ann", 2)
        s3, = author_with_sections(project, "Ann", 1, email="other")  # same name, second id
        other, = author_with_sections(project, "Bob", 1)
        write_chunks(project, {
            "001": [entry(10, [s1, s2]), entry(20, [other]), entry(40, [s3], revoked=True)],
            "002": [entry(1, ["free text", s3]), entry(2, [other, s2]), b"junk " + s1.encode()],
        })
        # A per-process file that has not been merged is not consulted.
        (project / ".zr" / f"token-index.{TK}.4242").write_bytes(entry(1000, [s1]) + b"\n")
        expected = {
            "total_tokens": 13,
            "document_count": 3,
            "entries": [
                {"revoked": False, "sources": [s1, s2], "token_count": 10, "tokenizer": TK},
                {"revoked": False, "sources": ["free text", s3], "token_count": 1, "tokenizer": TK},
                {"revoked": False, "sources": [other, s2], "token_count": 2, "tokenizer": TK},
            ],
        }
        scanned = tokens(project, "Ann")
        assert scanned == expected
        assert list(scanned) == ["total_tokens", "document_count", "entries"]
        assert list(scanned["entries"][0]) == ["revoked", "sources", "token_count", "tokenizer"]
        build(project)
        assert tokens(project, "Ann") == expected

    def test_sources_match_exactly_on_both_paths(self, project):
        s1, = author_with_sections(project, "Ann", 1)
        write_chunks(project, {"001": [entry(1, [s1.upper()]), entry(2, [s1]), entry(4, [s1 + " "])]})
        assert tokens(project, "Ann")["total_tokens"] == 2
        build(project)
        assert tokens(project, "Ann")["total_tokens"] == 2

    @pytest.mark.parametrize("name", ["7", "+7", "0007", "65535"])
    def test_any_spelling_of_a_chunk_number(self, project, name):
        s1, = author_with_sections(project, "Ann", 1)
        write_chunks(project, {"1": [entry(1, ["x"])], name: [b"junk", entry(2, [s1]), entry(4, [s1])]})
        build(project)
        assert tokens(project, "Ann")["total_tokens"] == 6

    def test_one_number_spelled_by_two_files(self, project):
        s1, = author_with_sections(project, "Ann", 1)
        # Same offsets in both files, so only their entry numbers tell them apart.
        write_chunks(project, {
            "7": [entry(1, [s1]), entry(2, ["x"])],
            "007": [entry(4, [s1]), b"junk", entry(8, [s1])],
            "+07": [entry(16, ["y"]), entry(32, [s1])],
            "9": [entry(64, [s1])],
        })
        scanned = tokens(project, "Ann")
        assert scanned["total_tokens"] == 1 + 4 + 8 + 32 + 64
        build(project)
        assert tokens(project, "Ann") == scanned

    def test_a_flag_set_only_in_the_index_leaves_the_entry_out_while_it_is_current(self, project):
        s1, = author_with_sections(project, "Ann", 1)
        write_chunks(project, {"001": [entry(1, [s1]), entry(2, [s1])]})
        build(project)
        patch_index(project, 64 + 16 * 1 + 10, b"\x01")
        assert tokens(project, "Ann")["total_tokens"] == 1
        index_file(project).unlink()
        assert tokens(project, "Ann")["total_tokens"] == 3

    def test_a_damaged_source_table_is_answered_from_the_chunk_files(self, project):
        s1, = author_with_sections(project, "Ann", 1)
        write_chunks(project, {"001": [entry(1, [s1]), entry(2, [s1])]})
        build(project)
        data = index_file(project).read_bytes()
        fanout = struct.unpack_from("<I", data, 29)[0]
        patch_index(project, fanout + 8 * bytes.fromhex(s1)[0], struct.pack("<Q", len(data) + 100))
        assert tokens(project, "Ann")["total_tokens"] == 3

    def test_revocation_by_author_is_seen_on_both_paths(self, project):
        s1, = author_with_sections(project, "Ann", 1)
        write_chunks(project, {"001": [entry(1, [s1]), entry(2, ["x"]), entry(4, [s1])]})
        build(project)
        assert zr.revoke_by_author_token(str(project), "Ann", TK) == 2
        assert tokens(project, "Ann")["total_tokens"] == 0
        assert mask(project) == b"\x05"
        index_file(project).unlink()
        assert tokens(project, "Ann")["total_tokens"] == 0
        assert mask(project) == b"\x05"


def test_both_paths_agree_on_a_varied_store(project):
    rng = random.Random(7)
    sections = {name: author_with_sections(project, name, 3) for name in ["Ann", "Bob", "Cy"]}
    pool = [s for hashes in sections.values() for s in hashes] + ["plain", "ab", ""]
    for c, name in enumerate(["1", "002", "+3", "40"]):
        lines = []
        for _ in range(80):
            roll = rng.random()
            if roll < 0.05:
                lines.append(b"{broken")
            elif roll < 0.08:
                lines.append(b"")
            else:
                picked = rng.sample(pool, rng.randint(0, 3))
                lines.append(entry(rng.randint(0, 10**6), picked, rng.random() < 0.3))
        write_chunks(project, {name: lines})

    def answers():
        return mask(project), {name: tokens(project, name) for name in sections}

    scanned = answers()
    assert any(scanned[0]) and all(r["document_count"] for r in scanned[1].values())
    build(project)
    assert answers() == scanned
    make_stale(project)
    assert answers() == scanned
    build(project)
    index_file(project).write_bytes(index_file(project).read_bytes()[:200])
    keep_index_current(project)
    assert answers() == scanned
