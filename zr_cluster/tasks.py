"""The work a cluster worker does: track one part into a fresh store, merge two stores.

Each task works in a scratch store of its own on the worker's local disk and
returns the store as bytes, so a scheduler may run it anywhere and move its
result to whichever worker merges it. A task that fails removes its scratch
store before the error leaves it: a retry starts from nothing, and a partial
store is never returned, so it can never be merged.
"""
from __future__ import annotations

import itertools
import tempfile
import time
from dataclasses import dataclass, field
from typing import Callable, Iterator, Mapping, Sequence

import _zr_bulk
import _zr_native as zr

from .parts import BadLine, Part, is_blank, lines_of, parse_line
from .store_files import ScratchStore, pack_store

MAX_BAD_OFFSETS = 10

# Lines handed to the module per call: enough to write each file of the
# store once for many lines, few enough to keep a part's copies small.
LINES_PER_CALL = 16384

TokenCounter = Callable[[object], int]


@dataclass
class FileReport:
    """What tracking made of one file (or of one part of it)."""
    file: str
    tracked: int = 0
    blank: int = 0
    bad: int = 0
    bad_offsets: list[int] = field(default_factory=list)  # byte offsets of the first bad lines

    def add(self, other: "FileReport") -> None:
        self.tracked += other.tracked
        self.blank += other.blank
        self.bad += other.bad
        self.bad_offsets = sorted(self.bad_offsets + other.bad_offsets)[:MAX_BAD_OFFSETS]

    def count_bad(self, offset: int) -> None:
        self.bad += 1
        if len(self.bad_offsets) < MAX_BAD_OFFSETS:
            self.bad_offsets.append(offset)


@dataclass
class TaskTime:
    """When a task ran (wall clock, seconds since the epoch) and the CPU time it used."""
    started: float
    ended: float
    cpu: float


@dataclass
class PartStore:
    """A packed store and what went into it."""
    payload: bytes
    report: FileReport | None  # set by a tracking task
    time: TaskTime
    merge_counts: Mapping[str, object] | None = None  # set by a merging task


def scratch_directory() -> str:
    """The worker's local directory, or the system's temporary one outside a worker."""
    try:
        from distributed import get_worker
        return get_worker().local_directory
    except (ImportError, ValueError):
        return tempfile.gettempdir()


class _Clock:
    def __init__(self) -> None:
        self.started = time.time()
        self._cpu = time.process_time()

    def stop(self) -> TaskTime:
        return TaskTime(self.started, time.time(), time.process_time() - self._cpu)


def _token_count(raw: bytes, count_tokens: TokenCounter) -> int | None:
    # Counted on Python's reading of the line; a line it cannot read gets no
    # count (the module refuses it too, or tracks it without a token entry).
    try:
        return count_tokens(parse_line(raw))
    except BadLine:
        return None


def _batches(part: Part) -> Iterator[list[tuple[int, bytes]]]:
    lines = lines_of(part)
    while batch := list(itertools.islice(lines, LINES_PER_CALL)):
        yield batch


def track_part(part: Part, sources: Sequence[str], tokenizer: str | None = None,
               count_tokens: TokenCounter | None = None, scratch_dir: str | None = None) -> PartStore:
    """Tracks every line of `part` into a fresh store, recorded as seen in `part.path`.

    The raw lines go to the module, which reads each one as the store's
    readers do: a line it cannot read (not JSON, a byte-order mark, a value
    the store refuses) is counted as bad and skipped, since no purge could
    ever find it; blank lines are counted apart."""
    clock = _Clock()
    report = FileReport(part.path)
    sources = list(sources)
    with ScratchStore(scratch_dir or scratch_directory()) as scratch:
        for batch in _batches(part):
            raws = [raw for _, raw in batch]
            # Counts go only into token entries, which need a tokenizer.
            counts = ([_token_count(raw, count_tokens) for raw in raws]
                      if count_tokens is not None and tokenizer is not None else None)
            hashes = _zr_bulk.track_lines(raws, part.path, sources, scratch.root, counts, tokenizer)
            for (offset, raw), line_hash in zip(batch, hashes):
                if line_hash is not None:
                    report.tracked += 1
                elif is_blank(raw):
                    report.blank += 1
                else:
                    report.count_bad(offset)
        if tokenizer is not None:
            # A merge reads only the merged chunk files, never per-process ones.
            zr.token_index_merge_pid_files(scratch.root, tokenizer)
        payload = pack_store(scratch.root)
    return PartStore(payload, report, clock.stop())


def merge_pair(left: PartStore, right: PartStore, scratch_dir: str | None = None) -> PartStore:
    """The store holding `left`'s records and then those of `right` that it lacks."""
    clock = _Clock()
    scratch_dir = scratch_dir or scratch_directory()
    with ScratchStore(scratch_dir, left.payload) as target, ScratchStore(scratch_dir, right.payload) as source:
        counts = zr.merge_absorb(source.root, target.root)
        payload = pack_store(target.root)
    return PartStore(payload, None, clock.stop(), counts)


def report_of(store: PartStore) -> FileReport | None:
    return store.report


def time_of(store: PartStore) -> TaskTime:
    return store.time
