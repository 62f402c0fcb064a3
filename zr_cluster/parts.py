"""The units of work of a corpus: input files, and byte ranges of them read as JSON Lines.

A large file is cut into ranges at fixed byte offsets without reading it on
the client; each range owns the lines whose first byte lies inside it, so a
worker finds its first line by skipping the line that straddles its start.
Every line of a file then belongs to exactly one range.
"""
from __future__ import annotations

import json
import os
from dataclasses import dataclass
from typing import Iterator, Sequence

JSONL_EXTENSION = ".jsonl"


@dataclass(frozen=True)
class Part:
    """The lines of `path` whose first byte lies in [start, end)."""
    path: str
    start: int
    end: int


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


def plan_parts(files: Sequence[str], part_bytes: int) -> list[Part]:
    """Cuts every file into ranges of at most `part_bytes` bytes (an empty
    file still gets one, so that it is reported)."""
    if part_bytes < 1:
        raise ValueError("part_bytes must be at least 1")
    parts = []
    for path in files:
        size = os.path.getsize(path)
        starts = range(0, size, part_bytes) if size else [0]
        parts += [Part(path, start, min(start + part_bytes, size)) for start in starts]
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


def parse_line(raw: bytes) -> object:
    """The JSON value of a non-blank line; raises BadLine when it is none."""
    try:
        return json.loads(raw, parse_constant=_refuse_constant)
    except (ValueError, RecursionError) as error:
        raise BadLine(str(error)) from None


def is_blank(raw: bytes) -> bool:
    return not raw.strip()
