"""What the type stubs accept and refuse, checked by mypy (never run).

Each refused call carries `# type: ignore[...]`; with warn_unused_ignores a
call that the stubs wrongly accept turns into an error.
"""

from typing import TYPE_CHECKING

import _zr_bulk
import _zr_native as zr

if TYPE_CHECKING:
    from _zr_native import _DocumentRecord, _PurgeCounts


def accepted(root: str) -> None:
    line_hash: str = zr.track({"text": "x"}, "data.jsonl", ("a", "b"), root, token_count=3, tokenizer="words")
    records: list[_DocumentRecord] = zr.blame(root, "data.jsonl", '{"text":"x"}')
    files = [record["file"] for record in records] + [line_hash]
    counts: _PurgeCounts = zr.purge_revoked(root, "data.jsonl", dry_run=True)
    total: int = counts["purged"] + counts["kept"] + zr.revoke_section(root, files[0], reverse=True)
    tag, i1, i2, j1, j2 = zr.blame_diff(["a"], ["b"])[0]
    zr.write_forget_set("mask", bytearray(zr.generate_forget_set(root, "words")))
    zr.write_forget_set("mask", [1, 2, total, i1 + i2 + j1 + j2])
    zr.token_index_revoke_by_sources(root, "words", frozenset({tag}))
    zr.author_query(root, None, None)
    status = zr.token_index_token_status(root, "words")
    tokens = zr.show_by_author_token(root, "Ann", "words")
    merged, handled = zr.token_index_merge_pid_files(root, "words")
    print(status["total_tokens"] + tokens["entries"][0]["token_count"] + merged + handled)
    hashes: list[str | None] = _zr_bulk.track_lines([b'{"a":1}', b""], "data.jsonl", ["a"], root, [3, None], "words")
    _zr_bulk.track_lines(['{"a":1}'], "data.jsonl", ("a",), root, tokenizer="words")
    print(len([h for h in hashes if h is not None]))


def refused(root: str) -> None:
    zr.track({}, "data.jsonl", "one-source", root)  # type: ignore[arg-type]
    zr.revoke_section(root, "hash", reverse=1)  # type: ignore[arg-type]
    zr.init(root, "extra")  # type: ignore[call-arg]
    zr.token_index_revoke_by_sources(root, "words", ["a"])  # type: ignore[arg-type]
    zr.write_forget_set("mask", "bits")  # type: ignore[arg-type]
    zr.build_index(root)["missing"]  # type: ignore[typeddict-item]
    zr.purge_reverse(root)  # type: ignore[call-arg]
    _zr_bulk.track_lines(b'{"a":1}', "data.jsonl", ["a"], root)  # type: ignore[arg-type]
    _zr_bulk.track_lines('{"a":1}', "data.jsonl", ["a"], root)  # type: ignore[arg-type]
    _zr_bulk.track_lines([b"1"], "data.jsonl", ["a"], root, ["3"])  # type: ignore[list-item]
