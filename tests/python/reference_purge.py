"""The purge pass in plain Python: which lines of a data file a purge removes and what it keeps.

A line goes when it reads as JSON and its line hash is listed; every other line (not JSON, not
hashable, not listed) is kept as it was written, without its CR. The caller chooses the line hash:
tests pass the module's own, benchmarks a pure-Python one.
"""

import json

from json_reference import lines


def purge_lines(data, listed, line_hash):
    """(kept lines, removed values) of the data file's bytes `data`."""
    kept, removed = [], []
    for piece in lines(data):
        try:
            value = json.loads(piece.decode("utf-8"))
            digest = line_hash(value)
        except (ValueError, RuntimeError):
            kept.append(piece)
            continue
        if digest in listed:
            removed.append(value)
        else:
            kept.append(piece)
    return kept, removed


def purge(data, listed, line_hash):
    """(the data file's bytes after the purge, removed values)."""
    kept, removed = purge_lines(data, listed, line_hash)
    return b"".join(k + b"\n" for k in kept), removed
