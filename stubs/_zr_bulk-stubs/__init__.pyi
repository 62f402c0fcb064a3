"""Bulk tracking for the native core: many raw JSON Lines in one call.

A companion of `_zr_native`, built from the same core and installed with it.
Every parameter may be given by position or by keyword. A broken invariant
inside the native core raises `_zr_bulk.InternalFault`, which derives from
BaseException (so `except Exception` does not catch it) and is not an
attribute of the module.
"""

from collections.abc import Sequence

# A list of str as the module takes it: a bare str is refused at run time.
_StrList = list[str] | tuple[str, ...]
# Lines as the module takes them: a bare bytes or str is refused at run time.
_Lines = list[bytes] | list[str] | list[bytes | str] | list[bytearray] | tuple[bytes | bytearray | str, ...]

def track_lines(
    lines: _Lines,
    file: str,
    sources: _StrList,
    zr_dir: str,
    token_counts: Sequence[int | None] | None = None,
    tokenizer: str | None = None,
) -> list[str | None]:
    """Track many raw lines of one file at once.

    Each line (bytes or str, without its line end) is read as the store reads
    JSON Lines. A line that is one JSON value gets exactly the records
    track(value, file, sources, zr_dir, count, tokenizer) would write, in line
    order, each file written once per batch. Returns each line's hash, or None
    for a blank line, a line that is not JSON, or a value track refuses.

    A final "\\r" of a line is dropped; a line holding "\\n", a line starting
    with a UTF-8 byte-order mark, undecodable bytes and a str with a lone
    surrogate are not tracked. `token_counts`, when given, has one entry per
    line (None: no token entry for that line); entries are written only with
    `tokenizer`, as for `track`. The interpreter lock is released while the
    lines are hashed and written; bytes and str lines are read in place (the
    call holds them), bytearray lines copied first.

    Raises:
        TypeError: "argument '<name>': ..." for an argument of the wrong kind
            (for `lines`, anything but a sequence of bytes, bytearray or str).
        ValueError: `token_counts` has not one entry per line.
        OverflowError: a token count below 0 or above 2**64 - 1.
        RuntimeError: an invalid tokenizer name (before anything is written),
            or a write failed (no store, disk full, permission), with `track`'s
            messages. Records of the lines before stay written.
    """

# --- Merging a store tracked in pieces, one shard range at a time ---------------------------------------
# A cluster run tracks each piece of a corpus into a store of its own, splits it (split_store), merges each
# shard range over the pieces in piece order (merge_document_texts) and all token entries at once
# (merge_token_texts), then appends each range and the entries to the target (absorb_document_texts,
# absorb_token_text) and logs once (log_merge). The target then holds what merge_absorb of one store holding
# every piece's records, in piece order, would give it.

def split_store(zr_dir: str, ranges: int, tokenizer: str | None = None) -> tuple[list[bytes], bytes, int]:
    """The records of a store tracked from one piece of a corpus, for a merge by shard range.

    Returns (documents, tokens, skipped): the document-index records cut into
    `ranges` texts by shard range (the 256 shards in runs of consecutive ones),
    the merged token-index entries of `tokenizer` (empty without one), and how
    many records were dropped. Each identity is kept once, the first in reading
    order, in the form merge_absorb copies.

    Shard "xx" (two hex digits) is in range int("xx", 16) * ranges // 256.

    Raises:
        RuntimeError: `ranges` is not 1 to 256, or a layer or chunk file
            cannot be read.
    """

def merge_document_texts(texts: Sequence[bytes]) -> tuple[list[bytes], int]:
    """Document-index records of `texts`, read in order, each identity kept once.

    Returns (texts, skipped): the first record of each (line_hash, file), as
    merge_absorb copies it, one text per shard in ascending shard order, and
    how many records were dropped.

    Dropped are duplicates and records without that identity (or whose line
    hash names no shard); lines that are not JSON objects are passed over
    uncounted, as a merge reads them.
    """

def merge_token_texts(texts: Sequence[bytes]) -> tuple[bytes, int]:
    """Token-index entries of `texts`, read in order, each identity kept once.

    Returns (text, skipped): the first entry of each identity (token count,
    tokenizer, sorted sources) in its stored form, and how many were dropped.
    """

def absorb_document_texts(zr_dir: str, texts: Sequence[bytes], merged: bool = False) -> dict[str, int]:
    """Append to a store's document index the records of `texts` it lacks.

    As merge_absorb does for a source holding exactly those records, in
    order, reading only the target's shards the records name. Neither builds
    the index nor logs. Returns {"document_added", "skipped"}. With
    `merged`, each text is one of merge_document_texts' texts, appended as it
    is when the target has no file of its shard.

    `merged` is a promise about each text: one shard's records, each identity
    once, in the form a merge copies. Where the target has a file of that
    shard (or the text's first and last records name different shards),
    every record is read as without it. Identities are taken from the
    target's files of the shards the records name, so a record the target
    holds outside its own shard (which no writer puts there) is not seen.

    The index's rebuild mark is set before the first record goes in, so a
    later build_index (or merge_absorb) rebuilds the index even if this run
    stops before its own build. Run again with the same texts, it adds nothing.

    Raises:
        RuntimeError: a shard cannot be read or appended to (records appended
            before stay; a repeated call skips them).
    """

def absorb_token_text(zr_dir: str, tokenizer: str, text: bytes) -> dict[str, int]:
    """Write the token-index entries of `text` that a store lacks to a new chunk file.

    As merge_absorb does for a source holding exactly those entries under
    `tokenizer`. Returns {"token_index_added", "skipped"}. The chunk file is
    written whole under the next free number, or not at all.

    Raises:
        RuntimeError: the merged directory or a chunk file cannot be read or
            written.
    """

def log_merge(
    zr_dir: str,
    source: str,
    authors_added: int,
    sections_added: int,
    document_added: int,
    token_index_added: int,
    skipped: int,
) -> None:
    """Append the "merge" log entry merge_absorb appends, with these counts.

    Raises:
        OverflowError: a count below 0 or above 2**64 - 1.
        RuntimeError: the log cannot be appended to.
    """
