"""Token index maintenance: merge, status, tokenizer listing, revocation by sources."""

import json
import os

import pytest

import _zr_native as zr
from conftest import write_lines

H1 = "1f" * 32
H2 = "a0" * 32


def store(tmp_path):
    path = tmp_path / ".zr"
    path.mkdir(exist_ok=True)
    return path


def merged(tmp_path, tokenizer="tk"):
    path = store(tmp_path) / f"token-index.{tokenizer}"
    path.mkdir(exist_ok=True)
    return path


def entry(count, sources, revoked=False, tokenizer="tk"):
    """An entry line as the merge writes it: members sorted by name."""
    return json.dumps(
        {"revoked": revoked, "sources": sources, "token_count": count, "tokenizer": tokenizer},
        separators=(",", ":"),
    )


class TestMerge:
    def test_each_pid_file_becomes_one_chunk_in_listing_order(self, tmp_path):
        zr_dir = str(tmp_path)
        st = store(tmp_path)
        write_lines(st / "token-index.tk.100", [
            '{"token_count":1,"sources":["a"],"tokenizer":"tk","revoked":false}',
            '{"token_count":2,"sources":[],"tokenizer":"tk","revoked":false}',
        ])
        write_lines(st / "token-index.tk.200", ["7", "[1,2]", '{"b":1,"a":"é"}'])
        write_lines(st / "token-index.tk.300", ["", "   ", "not json", "{"])
        order = [n for n in os.listdir(st) if n.startswith("token-index.tk.")]

        assert zr.token_index_merge_pid_files(zr_dir, "tk") == (5, 3)

        with_records = [n for n in order if not n.endswith("300")]
        chunks = sorted(os.listdir(st / "token-index.tk"))
        assert chunks == ["001", "002"]
        expected = {
            "token-index.tk.100": '{"revoked":false,"sources":["a"],"token_count":1,"tokenizer":"tk"}\n'
            '{"revoked":false,"sources":[],"token_count":2,"tokenizer":"tk"}\n',
            "token-index.tk.200": '7\n[1,2]\n{"a":"é","b":1}\n',
        }
        for chunk, source in zip(chunks, with_records):
            assert (st / "token-index.tk" / chunk).read_bytes() == expected[source].encode()
        assert sorted(os.listdir(st)) == ["token-index.tk"]

    @pytest.mark.parametrize(
        "existing, new",
        [(["001", "002", "012"], "013"), (["+9"], "010"), (["999"], "1000"), (["abc", "-5", "x1"], "001")],
    )
    def test_next_chunk_number(self, tmp_path, existing, new):
        md = merged(tmp_path)
        for name in existing:
            (md / name).write_text("")
        write_lines(store(tmp_path) / "token-index.tk.42", [entry(1, [])])
        assert zr.token_index_merge_pid_files(str(tmp_path), "tk") == (1, 1)
        assert sorted(os.listdir(md)) == sorted(existing + [new])

    def test_only_digit_suffixes_of_this_tokenizer_are_taken(self, tmp_path):
        st = store(tmp_path)
        keep = ["token-index.tk.bin", "token-index.tk.x.12", "token-index.tk.12a", "token-index.tk.",
                "token-index.tkk.12", "token-index.other.12"]
        for name in keep:
            write_lines(st / name, [entry(1, [])])
        (st / "token-index.tk.77").mkdir()
        assert zr.token_index_merge_pid_files(str(tmp_path), "tk") == (0, 0)
        assert not (st / "token-index.tk").exists()
        write_lines(st / "token-index.tk.5", [entry(3, [])])
        assert zr.token_index_merge_pid_files(str(tmp_path), "tk") == (1, 1)
        assert set(os.listdir(st)) == set(keep) | {"token-index.tk.77", "token-index.tk"}

    def test_a_failure_part_way_leaves_the_earlier_files_merged_and_the_rest_untouched(self, tmp_path):
        # The last chunk number is used by the first file; the second has no
        # name left. The first file's chunk is still put in place and its
        # per-process file deleted, as a merge of one file at a time would.
        md = merged(tmp_path)
        (md / str(2**64 - 2)).write_text("")
        st = store(tmp_path)
        write_lines(st / "token-index.tk.1", ['{"token_count":1,"sources":[],"tokenizer":"tk","revoked":false}'])
        write_lines(st / "token-index.tk.2", ['{"token_count":2,"sources":[],"tokenizer":"tk","revoked":false}'])
        first, second = [n for n in os.listdir(st) if n.startswith("token-index.tk.")]

        with pytest.raises(RuntimeError, match="no chunk number left"):
            zr.token_index_merge_pid_files(str(tmp_path), "tk")

        assert sorted(os.listdir(md)) == sorted([str(2**64 - 2), str(2**64 - 1)])
        assert (md / str(2**64 - 1)).read_text() == entry(int(first[-1]), []) + "\n"
        assert sorted(os.listdir(st)) == sorted(["token-index.tk", second])

    def test_no_store_and_empty_pid_files(self, tmp_path):
        assert zr.token_index_merge_pid_files(str(tmp_path / "none"), "tk") == (0, 0)
        st = store(tmp_path)
        (st / "token-index.tk.9").write_text("")
        assert zr.token_index_merge_pid_files(str(tmp_path), "tk") == (0, 1)
        assert os.listdir(st / "token-index.tk") == []


class TestStatus:
    def test_counts(self, tmp_path):
        md = merged(tmp_path)
        write_lines(md / "001", [
            entry(10, ["a"], revoked=True),
            "garbage",
            '{"token_count":5,"sources":[],"tokenizer":"tk"}',  # no revoked: invalid
            '{"token_count":5,"sources":[],"tokenizer":"tk","revoked":false,"token_count":6}',  # repeated
        ], end="\r\n")
        write_lines(md / "002", ['[5, ["b"], "tk", false]', '{"token_count":-1,"sources":[],"tokenizer":"tk","revoked":false}'])
        write_lines(store(tmp_path) / "token-index.tk.1", [entry(100, [])])  # not merged: not counted
        status = zr.token_index_token_status(str(tmp_path), "tk")
        assert list(status.items()) == [
            ("total_entries", 2), ("active_entries", 1), ("revoked_entries", 1), ("total_tokens", 15)]

    def test_missing_directory_counts_zero(self, tmp_path):
        assert zr.token_index_token_status(str(tmp_path), "tk") == {
            "total_entries": 0, "active_entries": 0, "revoked_entries": 0, "total_tokens": 0}


def test_list_tokenizers(tmp_path):
    st = store(tmp_path)
    (st / "token-index.my.tok.123").write_text("")
    (st / "token-index.my.tok.bin").write_text("")
    (st / "token-index.zeta").mkdir()
    (st / "token-index.Alpha").mkdir()
    (st / "token-index.nodot").write_text("")  # a file without a suffix names nothing
    (st / "token-index..bin").write_text("")  # "." first in the rest: nothing
    (st / "token-index.").mkdir()  # empty rest
    (st / "documents").mkdir()
    assert zr.token_index_list_tokenizers(str(tmp_path)) == ["Alpha", "my.tok", "zeta"]
    assert zr.token_index_list_tokenizers(str(tmp_path / "missing")) == []


class TestRevokeBySources:
    def test_rewrites_changed_files_sorted_and_counts_entries_once(self, tmp_path):
        md = merged(tmp_path)
        write_lines(md / "001", [
            '{"token_count":3,"sources":["' + H1 + '","' + H2 + '"],"tokenizer":"tk","revoked":false,"extra":1}',
            "not json",
            '{"z":1,  "a":2}',
            '[4, ["a"], "tk", false]',
            '{"tokenizer":"tk","sources":["other"],"revoked":true,"token_count":8,"extra":2}',
        ], end="\r\n")
        untouched = [entry(1, ["nothing"])]
        write_lines(md / "002", untouched)
        before = (md / "002").stat().st_mtime_ns

        assert zr.token_index_revoke_by_sources(str(tmp_path), "tk", {H1, H2, "a"}) == 2
        assert (md / "001").read_bytes() == (
            '{"revoked":true,"sources":["' + H1 + '","' + H2 + '"],"token_count":3,"tokenizer":"tk"}\n'
            '{"a":2,"z":1}\n'
            '{"revoked":true,"sources":["a"],"token_count":4,"tokenizer":"tk"}\n'
            '{"extra":2,"revoked":true,"sources":["other"],"token_count":8,"tokenizer":"tk"}\n'
        ).encode()
        assert (md / "002").stat().st_mtime_ns == before
        assert sorted(os.listdir(md)) == ["001", "002"]  # no temporary file left

        assert zr.token_index_revoke_by_sources(str(tmp_path), "tk", frozenset({H1})) == 1
        status = zr.token_index_token_status(str(tmp_path), "tk")
        assert (status["active_entries"], status["revoked_entries"]) == (2, 2)

    def test_no_match_and_no_directory(self, tmp_path):
        assert zr.token_index_revoke_by_sources(str(tmp_path), "tk", {H1}) == 0
        md = merged(tmp_path)
        write_lines(md / "001", [entry(1, [H1.upper()])])
        assert zr.token_index_revoke_by_sources(str(tmp_path), "tk", {H1}) == 0
        assert zr.token_index_revoke_by_sources(str(tmp_path), "tk", set()) == 0

    def test_target_sources_must_be_a_set(self, tmp_path):
        with pytest.raises(TypeError, match="target_sources"):
            zr.token_index_revoke_by_sources(str(tmp_path), "tk", [H1])


@pytest.mark.parametrize("bad", ["a/b", "../x", "a\0b"])
def test_unsafe_tokenizer_names_are_refused_before_any_file_is_touched(tmp_path, bad):
    zr_dir = str(tmp_path / "root")
    calls = [
        lambda: zr.token_index_write_pid(zr_dir, bad, 1, []),
        lambda: zr.token_index_merge_pid_files(zr_dir, bad),
        lambda: zr.token_index_token_status(zr_dir, bad),
        lambda: zr.token_index_revoke_by_sources(zr_dir, bad, {H1}),
        lambda: zr.token_index_build_binary_index(zr_dir, bad),
    ]
    for call in calls:
        with pytest.raises(RuntimeError):
            call()
    assert not os.path.exists(zr_dir)


def test_per_process_entries_make_the_store_only_where_it_is_missing(tmp_path):
    pid_name = f"token-index.tk.{os.getpid()}"
    # A root never initialised gets its store directory, and the entry.
    fresh = tmp_path / "fresh" / "deeper"
    zr.token_index_write_pid(str(fresh), "tk", 1, ["s"])
    written = (fresh / ".zr" / pid_name).read_text()
    assert written == '{"token_count":1,"sources":["s"],"tokenizer":"tk","revoked":false}\n'
    # An existing store is appended to, line after line.
    zr.token_index_write_pid(str(fresh), "tk", 2, [])
    assert len((fresh / ".zr" / pid_name).read_text().splitlines()) == 2
    # A file where the store should be is left alone and reported.
    blocked = tmp_path / "blocked"
    blocked.mkdir()
    (blocked / ".zr").write_text("not a store")
    with pytest.raises(RuntimeError, match=" is not a directory$"):
        zr.token_index_write_pid(str(blocked), "tk", 1, ["s"])
    assert (blocked / ".zr").read_text() == "not a store"
    # In an existing store, the append's own failure is what the caller sees.
    taken = tmp_path / "taken"
    (taken / ".zr" / pid_name).mkdir(parents=True)
    with pytest.raises(RuntimeError, match="^Is a directory$"):
        zr.token_index_write_pid(str(taken), "tk", 1, ["s"])
