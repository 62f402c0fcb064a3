"""Store merge: identities per kind, skipped records, chunk numbering, index rebuild, failures."""

import json
import os
from collections import Counter

import pytest

import _zr_native as zr
from conftest import compact, log_ops, run_limited, token_entry, write_lines


def append_lines(path, values):
    write_lines(path, values, mode="a")


def counts(authors=0, sections=0, document=0, token_index=0, skipped=0):
    return {"authors_added": authors, "sections_added": sections, "document_added": document,
            "token_index_added": token_index, "skipped": skipped}


def layer_lines(root, layer, rewritten=False):
    """The lines of a layer; `rewritten`: as a copy writes them (compact, sorted keys)."""
    d = root / ".zr" / layer
    lines = [line for name in os.listdir(d) for line in (d / name).read_text().splitlines()]
    return Counter(compact(json.loads(line)) if rewritten else line for line in lines)


@pytest.fixture
def stores(tmp_path):
    src, dst = tmp_path / "src", tmp_path / "dst"
    zr.init(str(src))
    zr.init(str(dst))
    return src, dst


@pytest.fixture
def project(stores):
    """A source with 1 author, 1 section, 3 tracked lines and their 3 merged token entries."""
    src, dst = stores
    author = zr.author_add("Ann", "ann@example.org", str(src))
    section = zr.register_section("lib", [author], [], "MIT", "2024", str(src))
    for i in range(3):
        zr.track({"n": i}, "data.jsonl", [section], str(src), 10 + i, "tk")
    zr.clean(str(src), False)
    return src, dst


class TestMergeAbsorb:
    def test_empty_target_gets_everything_then_a_repeat_skips_everything(self, project):
        src, dst = project
        assert zr.merge_absorb(str(src), str(dst)) == counts(1, 1, 3, 3, 0)
        for layer in ("authors", "sections", "document-index"):
            assert layer_lines(dst, layer) == layer_lines(src, layer, True)
        # Copied entries are written in their declared member order.
        source_entries = [json.loads(line) for line in (src / ".zr" / "token-index.tk" / "001").open()]
        assert (dst / ".zr" / "token-index.tk" / "001").read_text() == "".join(
            token_entry(e["token_count"], e["sources"], e["revoked"]) + "\n" for e in source_entries)
        assert (dst / ".zr" / "index.bin").is_file()
        assert log_ops(dst) == [("merge", f"source={src} authors=1 sections=1 document=3 token_index=3 skipped=0")]

        os.remove(dst / ".zr" / "index.bin")
        assert zr.merge_absorb(str(src), str(dst)) == counts(skipped=8)
        assert not (dst / ".zr" / "index.bin").exists()
        assert os.listdir(dst / ".zr" / "token-index.tk") == ["001"]

    def test_identity_decides_not_the_text(self, stores):
        src, dst = stores
        sa, da = src / ".zr" / "authors", dst / ".zr" / "authors"
        append_lines(sa / "aa", [{"id": "aa1", "name": "first"}, {"id": "aa1", "name": "second"},
                                 {"id": "aa2", "revoked": True}, {"name": "no id"}, {"id": 7}, [1, 2]])
        append_lines(da / "aa", [{"id": "aa2", "revoked": False}])
        h = "ab" * 32
        append_lines(src / ".zr" / "document-index" / "ab",
                     [{"line_hash": h, "file": "a"}, {"line_hash": h, "file": "b", "z": {"y": 1, "x": 2}},
                      {"line_hash": h}])
        append_lines(dst / ".zr" / "document-index" / "ab", [{"line_hash": h, "file": "a", "revoked": True}])
        # Sections are read from every regular file of the layer, whatever its name.
        append_lines(src / ".zr" / "sections" / "stray.txt", [{"section_hash": "cc1"}])

        assert zr.merge_absorb(str(src), str(dst)) == counts(1, 1, 1, 0, 7)
        assert (da / "aa").read_text() == '{"id":"aa2","revoked":false}\n{"id":"aa1","name":"first"}\n'
        assert (dst / ".zr" / "document-index" / "ab").read_text().splitlines()[1] == compact(
            {"file": "b", "line_hash": h, "z": {"x": 2, "y": 1}})
        assert (dst / ".zr" / "sections" / "cc").read_text() == '{"section_hash":"cc1"}\n'

    def test_keys_that_cannot_name_a_shard_are_skipped(self, stores, tmp_path):
        src, dst = stores
        bad = ["a", "..", "./x", "/etc", "a/b", "a\u00e9", "a\u0000"]
        append_lines(src / ".zr" / "authors" / "xx", [{"id": k} for k in bad])
        append_lines(src / ".zr" / "sections" / "xx", [{"section_hash": k} for k in bad])
        append_lines(src / ".zr" / "document-index" / "xx", [{"line_hash": k, "file": "f"} for k in bad])
        before = set(os.listdir(tmp_path))
        assert zr.merge_absorb(str(src), str(dst)) == counts(skipped=3 * len(bad))
        for layer in ("authors", "sections", "document-index"):
            assert os.listdir(dst / ".zr" / layer) == []
        assert set(os.listdir(tmp_path)) == before

    def test_token_entries_by_sorted_sources_count_and_tokenizer(self, stores):
        src, dst = stores
        append_lines(src / ".zr" / "token-index.tk" / "001",
                     [token_entry(5, ["a", "b"], revoked=True), token_entry(6, ["a", "b"]), token_entry(5, ["b"]),
                      token_entry(6, ["b", "a"]), token_entry(5, ["a", "b"], tokenizer="other"), '{"bad":1}'])
        append_lines(src / ".zr" / "token-index.empty" / "001", ["not an entry"])
        (src / ".zr" / "token-index.tk.999").write_text(token_entry(1, ["per-process"]) + "\n")
        tgt = dst / ".zr" / "token-index.tk"
        append_lines(tgt / "001", [token_entry(5, ["b", "a"])])
        append_lines(tgt / "007", [])
        (tgt / "notes").write_text("")

        assert zr.merge_absorb(str(src), str(dst)) == counts(token_index=3, skipped=2)
        assert (tgt / "008").read_text() == "".join(
            e + "\n" for e in [token_entry(6, ["a", "b"]), token_entry(5, ["b"]),
                               token_entry(5, ["a", "b"], tokenizer="other")])
        assert sorted(os.listdir(tgt)) == ["001", "007", "008", "notes"]
        # The merged directory exists even for a tokenizer with nothing new.
        assert os.listdir(dst / ".zr" / "token-index.empty") == []
        # Token entries alone do not rebuild the attribution index.
        assert not (dst / ".zr" / "index.bin").exists()

    def test_source_without_store(self, stores, tmp_path):
        _, dst = stores
        with pytest.raises(RuntimeError) as e:
            zr.merge_absorb(str(tmp_path / "none"), str(dst))
        assert str(e.value) == f"Source has no .zr/ directory: {tmp_path / 'none'}"
        assert log_ops(dst) == []

    def test_target_without_layers_fails_after_appending_what_it_could(self, project, tmp_path):
        src, _ = project
        dst = tmp_path / "bare"
        (dst / ".zr" / "authors").mkdir(parents=True)
        (dst / ".zr" / "sections").mkdir()
        with pytest.raises(RuntimeError) as e:
            zr.merge_absorb(str(src), str(dst))
        assert str(e.value) == "No such file or directory"
        assert layer_lines(dst, "authors") == layer_lines(src, "authors", True)
        assert layer_lines(dst, "sections") == layer_lines(src, "sections", True)
        assert not (dst / ".zr" / "log").exists()

        (dst / ".zr" / "document-index").mkdir()
        assert zr.merge_absorb(str(src), str(dst)) == counts(0, 0, 3, 3, 2)
        assert layer_lines(dst, "document-index") == layer_lines(src, "document-index", True)

    # 300 bytes stop the merge at its token chunk, 1000 only its index build
    # (index.bin is larger), whose failure the merge drops.
    @pytest.mark.parametrize("limit", [300, 1000])
    @pytest.mark.parametrize("repair", ["merge_absorb", "build_index"])
    def test_records_of_a_merge_stopped_before_its_index_build_reach_the_index(self, project, limit, repair):
        src, dst = project
        zr.build_index(str(dst))  # an index that knows nothing of the source
        run_limited("zr.merge_absorb(src, dst)", limit, src=str(src), dst=str(dst))
        assert zr.show_by_author(str(dst), "Ann") == []
        if repair == "merge_absorb":
            added = zr.merge_absorb(str(src), str(dst))
            assert added["authors_added"] + added["sections_added"] + added["document_added"] == 0
        else:
            zr.build_index(str(dst))
        assert len(zr.show_by_author(str(dst), "Ann")) == 3
        # Repaired once: a later merge that adds nothing leaves the index alone.
        os.remove(dst / ".zr" / "index.bin")
        zr.merge_absorb(str(src), str(dst))
        assert not (dst / ".zr" / "index.bin").exists()
