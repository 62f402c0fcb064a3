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
