"""The work a cluster worker does: track one part and split its records by
shard range; merge the pieces of one shard range; merge all token entries.

A tracking task works in a scratch store of its own on the worker's local
disk and returns the store's records as bytes, one text per shard range, so
a scheduler may run it anywhere and move each piece to whichever worker
merges that range. A task that fails removes its scratch store before the
error leaves it: a retry starts from nothing, and a partial store is never
returned, so it can never be merged. A task whose input cannot be read at
all (a file gone or unreadable) reports that instead of failing, since a
retry would fail the same way.
"""
from __future__ import annotations

import itertools
import operator
import tempfile
import time
from dataclasses import dataclass, field
from typing import Callable, Iterator, Sequence

import _zr_bulk
import _zr_native as zr

from .parts import BadLine, Part, is_blank, lines_of, parse_line
from .store_files import ScratchStore

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
class PartRecords:
    """What tracking one part gave: its records, cut by shard range, and its report."""
    documents: list[bytes]  # document-index records, one text per shard range
    tokens: bytes  # token-index entries
    skipped: int  # records dropped as duplicates within the part
    report: FileReport
    time: TaskTime
    split_cpu: float = 0.0  # of time.cpu, the part spent splitting
    failure: str | None = None  # why the part could not be read at all


@dataclass
class MergedRecords:
    """The records of one shard range merged over every part (one text per
    shard), or all token entries (one text)."""
    texts: list[bytes]
    skipped: int
    time: TaskTime


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


class _FirstNotTracked(Exception):
    """The line chosen to carry a count's token entry was not tracked."""


class _FirstCounts:
    """Token counts thinned to the first line of each count.

    Within one part every line has the same sources and tokenizer, so two
    token entries of equal count have one identity, and the split would keep
    only the first. Handing the module only the first line's count writes
    that same entry and spares writing, folding and reading the others;
    each left out is counted as the split would have counted it. When a line
    chosen that way is not tracked after all (Python reads it, the store
    does not), the part is tracked again with every count."""

    def __init__(self) -> None:
        self._seen: set[int] = set()
        self.repeats = 0

    def thin(self, counts: list[int | None]) -> list[int | None]:
        thinned: list[int | None] = []
        for count in counts:
            try:
                # The module takes any integer-like count as its integer, so
                # equal integers are one count whatever their type.
                key = None if count is None else operator.index(count)
            except TypeError:
                thinned.append(count)  # the module refuses it with its own message
                continue
            if key is None or key in self._seen:
                thinned.append(None)
            else:
                self._seen.add(key)
                thinned.append(count)
        return thinned

    def check(self, counts: list[int | None], thinned: list[int | None], hashes: list[str | None]) -> None:
        for count, kept, line_hash in zip(counts, thinned, hashes):
            if kept is not None and line_hash is None:
                raise _FirstNotTracked()
            if kept is None and count is not None and line_hash is not None:
                self.repeats += 1


def _track_into(root: str, part: Part, sources: list[str], tokenizer: str | None,
                count_tokens: TokenCounter | None, batches: Iterator[list[tuple[int, bytes]]],
                first_counts: _FirstCounts | None) -> FileReport:
    report = FileReport(part.name)
    for batch in batches:
        raws = [raw for _, raw in batch]
        # Counts go only into token entries, which need a tokenizer.
        counts = ([_token_count(raw, count_tokens) for raw in raws]
                  if count_tokens is not None and tokenizer is not None else None)
        given = first_counts.thin(counts) if counts is not None and first_counts is not None else counts
        hashes = _zr_bulk.track_lines(raws, part.name, sources, root, given, tokenizer)
        if counts is not None and given is not None and first_counts is not None:
            first_counts.check(counts, given, hashes)
        for (offset, raw), line_hash in zip(batch, hashes):
            if line_hash is not None:
                report.tracked += 1
            elif is_blank(raw):
                report.blank += 1
            else:
                report.count_bad(offset)
    return report


def track_part(part: Part, sources: Sequence[str], tokenizer: str | None = None,
               count_tokens: TokenCounter | None = None, ranges: int = 1,
               scratch_dir: str | None = None, thin_counts: bool = True) -> PartRecords:
    """Tracks every line of `part` into a fresh store, recorded as seen in
    `part.name`, and returns the store's records cut into `ranges` shard ranges.

    The raw lines go to the module, which reads each one as the store's
    readers do: a line it cannot read (not JSON, a byte-order mark, a value
    the store refuses) is counted as bad and skipped, since no purge could
    ever find it; blank lines are counted apart. With `thin_counts` only the
    first line of each token count gets its token entry written (see
    _FirstCounts); without, every line does, which gives the same records."""
    clock = _Clock()
    sources = list(sources)
    try:
        batches = _batches(part)
        first: list[tuple[int, bytes]] = next(batches, [])
    except (FileNotFoundError, PermissionError, IsADirectoryError, NotADirectoryError) as error:
        return PartRecords([b""] * ranges, b"", 0, FileReport(part.name), clock.stop(),
                           failure=f"{part.name}: {error.strerror}")
    first_counts = _FirstCounts() if thin_counts else None
    try:
        with ScratchStore(scratch_dir or scratch_directory()) as scratch:
            report = _track_into(scratch.root, part, sources, tokenizer, count_tokens,
                                 itertools.chain([first] if first else [], batches), first_counts)
            return _split(scratch.root, ranges, tokenizer, report, clock, first_counts)
    except _FirstNotTracked:
        with ScratchStore(scratch_dir or scratch_directory()) as scratch:
            report = _track_into(scratch.root, part, sources, tokenizer, count_tokens, _batches(part), None)
            return _split(scratch.root, ranges, tokenizer, report, clock, None)


def _split(root: str, ranges: int, tokenizer: str | None, report: FileReport, clock: "_Clock",
           first_counts: _FirstCounts | None) -> PartRecords:
    split_started = time.process_time()
    if tokenizer is not None:
        # The split reads only the merged chunk files, never per-process ones.
        zr.token_index_merge_pid_files(root, tokenizer)
    documents, tokens, skipped = _zr_bulk.split_store(root, ranges, tokenizer)
    if first_counts is not None:
        skipped += first_counts.repeats
    split_cpu = time.process_time() - split_started
    return PartRecords(documents, tokens, skipped, report, clock.stop(), split_cpu)


def piece_of(records: PartRecords, shard_range: int) -> bytes:
    """One part's document records of one shard range."""
    return records.documents[shard_range]


def tokens_of(records: PartRecords) -> bytes:
    return records.tokens


def summary_of(records: PartRecords) -> PartRecords:
    """The part's report and times without its records (which stay on the worker)."""
    return PartRecords([], b"", records.skipped, records.report, records.time, records.split_cpu, records.failure)


def merge_range(*pieces: bytes) -> MergedRecords:
    """The document records of one shard range, from every part in part order, each identity once."""
    clock = _Clock()
    texts, skipped = _zr_bulk.merge_document_texts(pieces)
    return MergedRecords(texts, skipped, clock.stop())


def merge_tokens(*pieces: bytes) -> MergedRecords:
    """Every part's token entries, in part order, each identity once."""
    clock = _Clock()
    text, skipped = _zr_bulk.merge_token_texts(pieces)
    return MergedRecords([text], skipped, clock.stop())
