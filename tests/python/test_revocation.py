"""Revocation: shard toggles, their rewrite policies, log lines, token entries, faults."""

import json
import os
import struct

import pytest

import _zr_native as zr
from conftest import compact, log_ops, run_limited, store_files, token_entry, write_lines


def section_line(section_hash, path="p", authors=(), extra=None):
    """A line as register_section writes it (declared member order), plus extra members."""
    record = {"section_hash": section_hash, "path": path, "authors": list(authors), "contributors": [],
              "license": "MIT", "year": "2024"}
    record.update(extra or {})
    return json.dumps(record, separators=(",", ":"), ensure_ascii=False)


S1 = "ab" + "1" * 62
S2 = "ab" + "2" * 62


class TestRevokeSection:
    def test_toggle_rewrites_sorted_and_drops_unreadable_lines(self, root):
        shard = root / ".zr" / "sections" / "ab"
        write_lines(shard, [section_line(S1), "", "not json", section_line(S2, extra={"z": [1.5, {"b": 1, "a": None}]}),
                            '{"section_hash":"' + S1 + '","x":"é\\u0001","x":"last"}'], end="\r\n")

        assert zr.revoke_section(str(root), S1) == 2

        assert shard.read_bytes().decode() == (
            compact({"authors": [], "contributors": [], "license": "MIT", "path": "p", "revoked": True,
                     "section_hash": S1, "year": "2024"}) + "\n"
            + compact({"authors": [], "contributors": [], "license": "MIT", "path": "p", "section_hash": S2,
                       "year": "2024", "z": [1.5, {"a": None, "b": 1}]}) + "\n"
            + '{"revoked":true,"section_hash":"' + S1 + '","x":"last"}\n')
        assert log_ops(root) == [("revoke_section", S1 + " (2 sections toggled)")]

    def test_second_call_restores_and_reverse_only_renames_the_operation(self, root):
        shard = root / ".zr" / "sections" / "ab"
        write_lines(shard, [section_line(S1)])

        assert zr.revoke_section(str(root), S1, reverse=True) == 1
        assert json.loads(shard.read_text())["revoked"] is True
        assert zr.revoke_section(str(root), S1, False) == 1
        assert json.loads(shard.read_text())["revoked"] is False
        assert [op for op, _ in log_ops(root)] == ["revoke_reverse_section", "revoke_section"]

    @pytest.mark.parametrize("mark", ['"no"', "1", "null", "[]", '{"x":false}'])
    def test_a_non_boolean_mark_becomes_true(self, root, mark):
        shard = root / ".zr" / "sections" / "ab"
        shard.write_text('{"revoked":%s,"section_hash":"%s"}\n' % (mark, S1))
        assert zr.revoke_section(str(root), S1) == 1
        assert shard.read_text() == '{"revoked":true,"section_hash":"%s"}\n' % S1

    def test_only_string_members_equal_byte_for_byte_match(self, root):
        shard = root / ".zr" / "sections" / "ab"
        # The last line is spaced and its keys out of order, as a rewrite would
        # never leave it, so a needless rewrite shows in the bytes.
        lines = ['{"section_hash":"%s"}' % S1.upper(), '{"section_hash":["%s"]}' % S1, '["%s"]' % S1,
                 '{"section_hash":"%s "}' % S1, '{"section_hash": "%s", "path": "p"}' % S2]
        write_lines(shard, lines)
        before = shard.read_bytes()
        assert zr.revoke_section(str(root), S1) == 0
        # Nothing matched: the shard is not rewritten, the call is still logged.
        assert shard.read_bytes() == before
        assert log_ops(root) == [("revoke_section", S1 + " (0 sections toggled)")]

    def test_missing_shard_changes_nothing(self, root):
        before = store_files(root)
        assert zr.revoke_section(str(root), S1) == 0
        assert store_files(root) == before
        assert not (root / ".zr" / "sections" / "ab").exists()

    @pytest.mark.parametrize("bad", ["", "a", "a\u00e9", "./x", "../etc", "a/b", "..", "a\x00b"])
    def test_hashes_that_cannot_name_a_safe_shard_are_refused(self, root, bad):
        write_lines(root / ".zr" / "sections" / "ab", [section_line(S1)])
        write_lines(root / ".zr" / "document-index" / "ab", ["{}"])
        before = store_files(root)
        with pytest.raises(RuntimeError):
            zr.revoke_section(str(root), bad)
        with pytest.raises(RuntimeError):
            zr.revoke_manifest(str(root), bad, "f")
        assert store_files(root) == before

    def test_two_byte_character_names_a_shard(self, root):
        shard = root / ".zr" / "sections" / "\u00e9"
        write_lines(shard, ['{"section_hash":"\u00e9"}'])
        assert zr.revoke_section(str(root), "\u00e9") == 1
        assert shard.read_text() == '{"revoked":true,"section_hash":"\u00e9"}\n'

    def test_reverse_must_be_a_bool(self, root):
        with pytest.raises(TypeError):
            zr.revoke_section(str(root), S1, 1)
        with pytest.raises(TypeError):
            zr.purge_revoked(str(root), "data", 0)


class TestRevokeManifest:
    H = "ab" + "c" * 62

    def record(self, file, line_hash=None, **extra):
        value = {"file": file, "line_hash": line_hash or self.H, "revoked": False, "source_type": "track",
                 "sources": ["s"]}
        value.update(extra)
        return value

    def test_matches_hash_and_file_and_always_rewrites(self, root):
        shard = root / ".zr" / "document-index" / "ab"
        other = self.record("b.jsonl")
        write_lines(shard, [
            json.dumps(self.record("a.jsonl")),  # blanks after separators: rewritten compact
            json.dumps(other),
            "   ",
            "{broken",
            json.dumps(self.record("a.jsonl", line_hash="ab" + "d" * 62)),
        ])
        assert zr.revoke_manifest(str(root), self.H, "a.jsonl") == 1
        assert shard.read_text() == "".join(compact(v) + "\n" for v in [
            self.record("a.jsonl", revoked=True), other, self.record("a.jsonl", line_hash="ab" + "d" * 62)])

        # No match at all: still rewritten (here: the blank line goes), still logged.
        with shard.open("a") as f:
            f.write("\n\n")
        assert zr.revoke_manifest(str(root), self.H, "c.jsonl") == 0
        assert not shard.read_text().endswith("\n\n")
        assert log_ops(root) == [
            ("revoke_manifest", "line_hash=abcccccccccc file=a.jsonl (1 toggled)"),
            ("revoke_manifest", "line_hash=abcccccccccc file=c.jsonl (0 toggled)"),
        ]

    @pytest.mark.parametrize("line_hash, logged", [
        ("abcde", "abcde"),
        ("ab" + "\u00e9" * 20, "ab" + "\u00e9" * 10),  # twelve characters, not twelve bytes
        ("ab\U0001f600x", "ab\U0001f600x"),
    ])
    def test_log_keeps_the_first_twelve_characters(self, root, line_hash, logged):
        shard_name = line_hash[:2]
        write_lines(root / ".zr" / "document-index" / shard_name, [compact(self.record("f", line_hash=line_hash))])
        assert zr.revoke_manifest(str(root), line_hash, "f", reverse=True) == 1
        assert log_ops(root) == [("revoke_reverse_manifest", "line_hash=%s file=f (1 toggled)" % logged)]

    def test_missing_shard_is_not_logged(self, root):
        before = store_files(root)
        assert zr.revoke_manifest(str(root), self.H, "f") == 0
        assert store_files(root) == before


class TestRevokeByAuthor:
    def test_every_author_of_the_name_in_normalised_form(self, root):
        r = str(root)
        a1 = zr.author_add("Ann", "a@x", r)
        a2 = zr.author_add("Ann", "b@x", r)
        zr.author_add("Bob", "c@x", r)
        assert zr.revoke_by_author(r, "Ann") == 2
        for author_id, email in ((a1, "a@x"), (a2, "b@x")):
            lines = (root / ".zr" / "authors" / author_id[:2]).read_text().splitlines()
            assert compact({"email": email, "id": author_id, "name": "Ann", "revoked": True}) in lines
        assert json.loads(zr.author_query(r, "Bob", None)[0])["revoked"] is False
        assert log_ops(root) == [("revoke_author", "Ann (2 authors toggled)")]

    def test_an_author_registered_twice_is_flipped_twice(self, root):
        r = str(root)
        author_id = zr.author_add("Ann", "a@x", r)
        zr.author_add("Ann", "a@x", r)
        shard = root / ".zr" / "authors" / author_id[:2]
        assert zr.revoke_by_author(r, "Ann", reverse=True) == 4
        line = compact({"email": "a@x", "id": author_id, "name": "Ann", "revoked": False})
        assert shard.read_text() == line + "\n" + line + "\n"
        assert log_ops(root) == [("revoke_reverse_author", "Ann (4 authors toggled)")]

    def test_unknown_name_changes_nothing(self, root):
        zr.author_add("Ann", "a@x", str(root))
        before = store_files(root)
        assert zr.revoke_by_author(str(root), "ann") == 0
        assert store_files(root) == before

    def test_author_found_outside_its_shard_counts_zero_and_is_logged(self, root):
        # The registry scan reads every file of the layer; the toggle only
        # the author's own shard, which is not there.
        author_id = "ab" + "0" * 62
        write_lines(root / ".zr" / "authors" / "stray", [compact({"email": "e", "id": author_id, "name": "Ann"})])
        assert zr.revoke_by_author(str(root), "Ann") == 0
        assert not (root / ".zr" / "authors" / "ab").exists()
        assert log_ops(root) == [("revoke_author", "Ann (0 authors toggled)")]

    def test_an_unsafe_stored_id_is_passed_over(self, root):
        write_lines(root / ".zr" / "authors" / "stray", [compact({"email": "e", "id": "../x", "name": "Ann"})])
        before = store_files(root)
        assert zr.revoke_by_author(str(root), "Ann") == 0
        after = store_files(root)
        assert {k: v for k, v in after.items() if not k.endswith("log")} == \
            {k: v for k, v in before.items() if not k.endswith("log")}


def entry_sorted(count, sources, revoked=False, tokenizer="tk"):
    return compact({"revoked": revoked, "sources": sources, "token_count": count, "tokenizer": tokenizer})


class TestRevokeByAuthorToken:
    @pytest.fixture
    def project(self, root):
        r = str(root)
        ann = zr.author_add("Ann", "a@x", r)
        other = zr.author_add("Zed", "z@x", r)
        first = zr.register_section("p1", [ann], [], "MIT", "2024", r)
        second = zr.register_section("p2", [other, ann], [], "MIT", "2024", r)
        foreign = zr.register_section("p3", [other], [], "MIT", "2024", r)
        chunk = root / ".zr" / "token-index.tk" / "001"
        lines = [
            entry_sorted(10, [first]),
            entry_sorted(20, ["x" * 64, foreign]),
            "",
            '{ "token_count" : 30, "sources" : ["%s", "%s"], "tokenizer" : "tk", "revoked" : true }' % (first, second),
            "not json but names \"%s\"" % first,
            entry_sorted(40, [foreign]),
        ]
        write_lines(chunk, lines)
        return root, {"ann": ann, "first": first, "second": second, "foreign": foreign, "lines": lines}

    def test_flips_the_entries_of_the_authors_sections_keeping_other_lines(self, project):
        root, p = project
        chunk = root / ".zr" / "token-index.tk" / "001"

        assert zr.revoke_by_author_token(str(root), "Ann", "tk") == 2

        lines = p["lines"]
        assert chunk.read_text() == "".join(line + "\n" for line in [
            token_entry(10, [p["first"]], revoked=True), lines[1], token_entry(30, [p["first"], p["second"]], revoked=False),
            lines[4], lines[5]])
        assert zr.token_index_token_status(str(root), "tk")["revoked_entries"] == 1
        assert log_ops(root) == [("revoke_token", "Ann tokenizer=tk count=2")]

        assert zr.revoke_by_author_token(str(root), "Ann", "tk", reverse=True) == 2
        assert log_ops(root)[-1] == ("revoke_reverse_token", "Ann tokenizer=tk count=2")

    def test_a_binary_index_is_rebuilt_and_later_builds_keep_the_revocation(self, project):
        root, p = project
        r = str(root)
        index = root / ".zr" / "token-index.tk.bin"

        def flags():
            data = index.read_bytes()
            count = struct.unpack_from("<I", data, 13)[0]
            return [data[64 + 16 * i + 10] for i in range(count)]

        zr.token_index_build_binary_index(r, "tk")
        assert flags() == [0, 0, 1, 0]

        assert zr.revoke_by_author_token(r, "Ann", "tk") == 2

        assert flags() == [1, 0, 0, 0]
        zr.build_index(r)
        zr.token_index_build_binary_index(r, "tk")
        assert flags() == [1, 0, 0, 0]

    def test_no_section_of_the_author_changes_nothing(self, project):
        root, _ = project
        zr.author_add("Eve", "e@x", str(root))
        before = store_files(root)
        assert zr.revoke_by_author_token(str(root), "Eve", "tk") == 0
        assert zr.revoke_by_author_token(str(root), "Nobody", "tk") == 0
        assert store_files(root) == before

    def test_sections_without_entries_are_logged_with_zero(self, project):
        root, _ = project
        before = store_files(root)
        assert zr.revoke_by_author_token(str(root), "Ann", "other-tokenizer") == 0
        after = store_files(root)
        assert log_ops(root) == [("revoke_token", "Ann tokenizer=other-tokenizer count=0")]
        del after["log"], before["log"]
        assert after == before

    def test_only_the_first_listed_author_id_decides_and_any_file_of_the_layer_counts(self, project):
        root, p = project
        # A section kept in a file that is no shard, listing the author after
        # a non-string element.
        write_lines(root / ".zr" / "sections" / "extra.jsonl",
                    [compact({"section_hash": p["foreign"], "authors": [7, p["ann"]]})])
        assert zr.revoke_by_author_token(str(root), "Ann", "tk") == 4

    @pytest.mark.parametrize("tokenizer", ["a/b", "x\x00"])
    def test_unsafe_tokenizer_is_refused_before_anything(self, project, tokenizer):
        root, _ = project
        before = store_files(root)
        with pytest.raises(RuntimeError):
            zr.revoke_by_author_token(str(root), "Ann", tokenizer)
        assert store_files(root) == before


def temp_files(root):
    return [name for name in os.listdir(root / ".zr") if name.startswith(".tmp-")]


class TestFaults:
    @pytest.mark.parametrize("call", [
        "zr.revoke_section(ROOT, S1)",
        "zr.revoke_manifest(ROOT, S1, 'f')",
    ])
    def test_a_failed_rewrite_leaves_the_shard_and_no_temporary_file(self, root, call):
        padding = "x" * 300
        write_lines(root / ".zr" / "sections" / "ab", [section_line(S1, extra={"pad": padding})])
        write_lines(root / ".zr" / "document-index" / "ab",
                    [compact({"file": "f", "line_hash": S1, "sources": [], "pad": padding})])
        before = store_files(root)
        assert run_limited(call, 100, ROOT=str(root), S1=S1) == "error: File too large"
        assert store_files(root) == before
        assert temp_files(root) == []

    def test_a_temporary_file_that_cannot_be_created_leaves_the_shards(self, tmp_path):
        # The temporary file's path is one byte longer than that of an
        # authors shard, so with the store deep enough only it is too long.
        path_max = os.pathconf("/", "PC_PATH_MAX")
        base = str(tmp_path)
        target = path_max - 1 - len("/.zr/authors/ab")
        deep = base
        while len(deep) < target:
            deep = os.path.join(deep, "d" * min(200, target - len(deep) - 1))
        assert len(deep) == target
        # Only the directories this needs: a full store has longer paths.
        os.makedirs(os.path.join(deep, ".zr", "authors"))
        open(os.path.join(deep, ".zr", "log"), "w").close()
        author_id = zr.author_add("Ann", "a@x", deep)
        shard = os.path.join(deep, ".zr", "authors", author_id[:2])
        with open(shard, "rb") as f:
            before = f.read()
        with pytest.raises(RuntimeError, match="File name too long"):
            zr.revoke_by_author(deep, "Ann")
        with open(shard, "rb") as f:
            assert f.read() == before
        assert [n for n in os.listdir(os.path.join(deep, ".zr")) if n.startswith(".tmp-")] == []
        with open(os.path.join(deep, ".zr", "log")) as f:
            assert f.read() == ""

    def test_a_failed_log_append_leaves_the_toggle_done(self, root):
        write_lines(root / ".zr" / "sections" / "ab", [section_line(S1)])
        (root / ".zr" / "log").unlink()
        (root / ".zr" / "log").mkdir()
        with pytest.raises(RuntimeError):
            zr.revoke_section(str(root), S1)
        assert json.loads((root / ".zr" / "sections" / "ab").read_text())["revoked"] is True
