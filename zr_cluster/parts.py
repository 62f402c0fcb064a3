"""The units of work of a corpus: input files, and byte ranges of them read as JSON Lines.

A large file is cut into ranges at fixed byte offsets without reading it on
the client; each range owns the lines whose first byte lies inside it, so a
worker finds its first line by skipping the line that straddles its start.
Every line of a file then belongs to exactly one range.

How finely the work is cut grows with the corpus: the scheduler spends about
a millisecond on each task, so a run keeps to thousands of tasks, never
millions, whatever its size.
"""
from __future__ import annotations

import json
import os
from dataclasses import dataclass
from typing import Iterator, Sequence

JSONL_EXTENSION = ".jsonl"


# Smallest range of a file one tracking task reads; larger corpora get
# larger ranges (part_bytes_for).
MIN_PART_BYTES = 32 << 20
# Shard ranges the merge is cut into: about this many bytes of records each,
# at most one per shard.
RANGE_BYTES = 16 << 20
MAX_RANGES = 256
# Bytes of document-index records per byte of input, about: a line of 60
# bytes gets a record of about 250 (two hashes and the file's path).
RECORD_BYTES_PER_INPUT_BYTE = 4
# Tasks that move one tracking task's records of one shard range to its
# merge: at most about this many in a run.
MAX_PIECES = 1 << 16


@dataclass(frozen=True)
class Part:
    """The lines of `path` whose first byte lies in [start, end), recorded as
    seen in `file` (the path as given, which `path` makes absolute so that a
    worker started elsewhere reads the same file)."""
    path: str
    start: int
    end: int
    file: str = ""

    @property
    def name(self) -> str:
        return self.file or self.path


def ranges_for(total_bytes: int) -> int:
    """Shard ranges for a corpus of `total_bytes`: one per RANGE_BYTES of records, 1 to MAX_RANGES."""
    wanted = -(-total_bytes * RECORD_BYTES_PER_INPUT_BYTE // RANGE_BYTES)
    return max(1, min(MAX_RANGES, wanted))


def part_bytes_for(total_bytes: int, ranges: int) -> int:
    """The default largest range of a file one task tracks: MIN_PART_BYTES,
    or more when the corpus would otherwise need more than MAX_PIECES // ranges
    tracking tasks (each of which hands one piece to every shard range)."""
    most_tasks = max(1, MAX_PIECES // ranges)
    return max(MIN_PART_BYTES, -(-total_bytes // most_tasks))


def list_inputs(inputs: str | os.PathLike | Sequence[str | os.PathLike]) -> list[str]:
    """The files to track, in order: each file as given, and for a directory
    its regular `.jsonl` files in name order."""
    if isinstance(inputs, (str, os.PathLike)):
        inputs = [inputs]
    files: list[str] = []
    for item in [os.fspath(i) for i in inputs]:
        if os.path.isdir(item):
            names = sorted(name for name in os.listdir(item) if name.endswith(JSONL_EXTENSION))
            files += [path for path in (os.path.join(item, name) for name in names) if os.path.isfile(path)]
        elif os.path.isfile(item):
            files.append(item)
        else:
            raise FileNotFoundError(f"no such file or directory: {item}")
    return files


def total_size(files: Sequence[str]) -> int:
    return sum(os.path.getsize(path) for path in files)


def plan_parts(files: Sequence[str], part_bytes: int) -> list[Part]:
    """Cuts every file into ranges of at most `part_bytes` bytes (an empty
    file still gets one, so that it is reported). Each part reads its file by
    absolute path and records it as given."""
    if part_bytes < 1:
        raise ValueError("part_bytes must be at least 1")
    parts = []
    for file in files:
        path = os.path.abspath(file)
        size = os.path.getsize(path)
        starts = range(0, size, part_bytes) if size else [0]
        parts += [Part(path, start, min(start + part_bytes, size), file) for start in starts]
    return parts


def lines_of(part: Part) -> Iterator[tuple[int, bytes]]:
    """(byte offset, raw line without its end) of every line the part owns."""
    with open(part.path, "rb") as f:
        offset = part.start
        if offset > 0:
            f.seek(offset - 1)
            if f.read(1) != b"\n":
                offset += len(f.readline())
        while offset < part.end:
            raw = f.readline()
            if not raw:
                break
            yield offset, raw.rstrip(b"\n").removesuffix(b"\r")
            offset += len(raw)


class BadLine(Exception):
    """A line that is not one JSON value."""


def _refuse_constant(name: str) -> None:
    # NaN and Infinity are not JSON; the store cannot record them.
    raise BadLine(name)


# One decoder for every line: json.loads with an option builds a new one per call.
_DECODER = json.JSONDecoder(parse_constant=_refuse_constant)


def parse_line(raw: bytes) -> object:
    """The JSON value of a non-blank line, as json.loads reads bytes; raises
    BadLine when it is none."""
    try:
        return _DECODER.decode(raw.decode(json.detect_encoding(raw), "surrogatepass"))
    except (ValueError, RecursionError) as error:
        raise BadLine(str(error)) from None


def is_blank(raw: bytes) -> bool:
    return not raw.strip()
