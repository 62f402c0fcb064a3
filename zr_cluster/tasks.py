"""The work a cluster worker does: track one part into a fresh store, merge two stores.

Each task works in a scratch store of its own on the worker's local disk and
returns the store as bytes, so a scheduler may run it anywhere and move its
result to whichever worker merges it. A task that fails removes its scratch
store before the error leaves it: a retry starts from nothing, and a partial
store is never returned, so it can never be merged.
"""
from __future__ import annotations

import re
import tempfile
import time
from dataclasses import dataclass, field
from typing import Callable, Mapping, Sequence

import _zr_native as zr

from .parts import BadLine, Part, is_blank, lines_of, parse_line
from .store_files import ScratchStore, pack_store

MAX_BAD_OFFSETS = 10

# How the module words a value its JSON parser refuses (too deep, for one):
# "<what> at line <L> column <C>". Any other RuntimeError is a fault of the
# machine (disk full, say) and fails the task.
_REFUSED_VALUE = re.compile(r" at line \d+ column \d+$")

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


def _is_refused_value(error: Exception) -> bool:
    if isinstance(error, RuntimeError):
        return bool(_REFUSED_VALUE.search(str(error)))
    return isinstance(error, (ValueError, RecursionError))


def track_part(part: Part, sources: Sequence[str], tokenizer: str | None = None,
               count_tokens: TokenCounter | None = None, scratch_dir: str | None = None) -> PartStore:
    """Tracks every line of `part` into a fresh store, recorded as seen in `part.path`.

    Lines that are not JSON, or that the store refuses, are counted as bad
    and skipped; blank lines are counted apart."""
    clock = _Clock()
    report = FileReport(part.path)
    sources = list(sources)
    with ScratchStore(scratch_dir or scratch_directory()) as scratch:
        for offset, raw in lines_of(part):
            if is_blank(raw):
                report.blank += 1
                continue
            try:
                value = parse_line(raw)
            except BadLine:
                report.count_bad(offset)
                continue
            count = count_tokens(value) if count_tokens is not None else None
            try:
                zr.track(value, part.path, sources, scratch.root, token_count=count, tokenizer=tokenizer)
            except (RuntimeError, ValueError, RecursionError) as error:
                if not _is_refused_value(error):
                    raise
                report.count_bad(offset)
                continue
            report.tracked += 1
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
