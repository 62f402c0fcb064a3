"""The client side: plan the parts, track them on the cluster, merge their
records by shard range, then fold each range into the target and index it.

Every tracking task cuts its records into shard ranges (runs of consecutive
document-index shards); the pieces of one range travel from worker to worker
to the task that merges that range, never through the client. All token
entries go to one task, so that entry numbers come out as in a sequential
run. The client receives one merged range at a time and appends what the
target lacks, so it never holds more than a range.
"""
from __future__ import annotations

import os
import time
from dataclasses import dataclass, field
from typing import Callable, Mapping, Sequence, TypeVar

import _zr_bulk
import _zr_native as zr
from distributed import Future, as_completed

from .connection import connect

from .parts import MAX_RANGES, list_inputs, part_bytes_for, plan_parts, ranges_for, total_size
from .progress import Progress
from .store_files import STORE
from .tasks import (FileReport, MergedRecords, PartRecords, TokenCounter, merge_range, merge_tokens, piece_of,
                    summary_of, tokens_of, track_part)

DEFAULT_RETRIES = 2
# How the target's log names a run in its "merge" entry.
LOG_SOURCE = "zr-cluster"

Sources = Sequence[str] | Mapping[str, Sequence[str]]
T = TypeVar("T")


@dataclass
class Timings:
    """Wall-clock seconds of each phase, and CPU seconds spent in each.

    `tracking` runs from the first submission until every part is tracked
    and split; `reducing` from there until the last range is in the target,
    less `absorbing`, the client's own time appending ranges to the target;
    then `cleaning` and `indexing`, the target's `clean` and `build_index`.
    CPU: `tracking_cpu` of the tracking tasks (their split, `split_cpu`,
    included), `reducing_cpu` of the merging tasks, `absorbing_cpu` of the
    client while appending."""
    tracking: float = 0.0
    reducing: float = 0.0
    absorbing: float = 0.0
    cleaning: float = 0.0
    indexing: float = 0.0
    tracking_cpu: float = 0.0
    split_cpu: float = 0.0
    reducing_cpu: float = 0.0
    absorbing_cpu: float = 0.0

    @property
    def total(self) -> float:
        return self.tracking + self.reducing + self.absorbing + self.cleaning + self.indexing


@dataclass
class CorpusResult:
    files: list[FileReport]
    merged: Mapping[str, int]  # merge_absorb's counts, for all the records the run merged into the target
    index: Mapping[str, object]  # build_index's result on the target
    timings: Timings = field(default_factory=Timings)

    @property
    def tracked(self) -> int:
        return sum(report.tracked for report in self.files)

    @property
    def bad(self) -> int:
        return sum(report.bad for report in self.files)


def sources_by_file(files: Sequence[str], sources: Sources) -> dict[str, list[str]]:
    if isinstance(sources, Mapping):
        missing = [path for path in files if path not in sources]
        if missing:
            raise ValueError(f"no sources given for {missing[0]}")
        return {path: list(sources[path]) for path in files}
    if isinstance(sources, str):
        raise TypeError("sources must be a list of strings or a mapping of file to list, not a str")
    return {path: list(sources) for path in files}


class _Absorber:
    """Appends merged records to the target and counts what it added and skipped."""

    def __init__(self, target: str, timings: Timings) -> None:
        self.target = target
        self.timings = timings
        self.document_added = 0
        self.token_index_added = 0
        self.skipped = 0

    def documents(self, merged: MergedRecords) -> None:
        # Each text holds one shard's records from merge_range: appended as it
        # is where the target has no file of that shard yet.
        counts = self._timed(lambda: _zr_bulk.absorb_document_texts(self.target, merged.texts, merged=True))
        self.document_added += counts["document_added"]
        self.skipped += merged.skipped + counts["skipped"]

    def tokens(self, merged: MergedRecords, tokenizer: str) -> None:
        self.skipped += merged.skipped
        if not merged.texts[0]:
            # No part wrote an entry: a merge of one store of them all would
            # not even create the tokenizer's directory.
            return
        counts = self._timed(lambda: _zr_bulk.absorb_token_text(self.target, tokenizer, merged.texts[0]))
        self.token_index_added += counts["token_index_added"]
        self.skipped += counts["skipped"]

    def log(self) -> dict[str, int]:
        counts = {"authors_added": 0, "sections_added": 0, "document_added": self.document_added,
                  "token_index_added": self.token_index_added, "skipped": self.skipped}
        self._timed(lambda: _zr_bulk.log_merge(self.target, LOG_SOURCE, *counts.values()))
        return counts

    def _timed(self, call: Callable[[], T]) -> T:
        wall, cpu = time.perf_counter(), time.process_time()
        try:
            return call()
        finally:
            self.timings.absorbing += time.perf_counter() - wall
            self.timings.absorbing_cpu += time.process_time() - cpu


def _combine_reports(files: Sequence[str], parts: Sequence[FileReport]) -> list[FileReport]:
    by_file = {path: FileReport(path) for path in files}
    for report in parts:
        by_file[report.file].add(report)
    return list(by_file.values())


def _gather_parts(summaries: list[Future], progress: Progress) -> list[PartRecords]:
    """Every part's summary, in part order, once all are in; the first part
    that could not be read fails the run."""
    progress.start("tracking", len(summaries))
    by_key = {}
    for future in as_completed(summaries):
        by_key[future.key] = future.result()
        progress.advance()
    progress.finish()
    parts = [by_key[future.key] for future in summaries]
    failed = next((part.failure for part in parts if part.failure is not None), None)
    if failed is not None:
        raise FileNotFoundError(failed)
    return parts


def track_corpus(inputs: str | os.PathLike | Sequence[str | os.PathLike], sources: Sources, target: str,
                 *, tokenizer: str | None = None, token_count: TokenCounter | None = None,
                 scheduler: str | None = None, workers: int = 2, part_bytes: int | None = None,
                 retries: int = DEFAULT_RETRIES, progress: Progress | None = None,
                 local_directory: str | None = None, ranges: int | None = None) -> CorpusResult:
    """Tracks every line of JSON Lines files on a Dask cluster into the store of project root `target`.

    `inputs`: a file, a directory (its `.jsonl` files in name order) or a list
    of them. Each line is recorded as seen in its file's path as given or
    listed, and attributed to `sources` (one list for every file, or a
    mapping of that path to a list). With `tokenizer` and `token_count` (a
    function of the line's JSON value returning its number of tokens,
    importable on the workers) each line also gets a token-index entry.

    Every file, or every `part_bytes` range of a larger one (by default a
    size that grows with the corpus), is tracked by a task of its own into a
    fresh store on its worker's local disk, whose records are cut into
    `ranges` shard ranges (by default one per 32 MiB of records, at most
    256). The task merging a range takes that range's records of every part
    in part order and keeps the first of each identity, as `merge_absorb`
    does; the client appends each merged range to the target (created when
    missing) as it arrives, then the token entries, and logs one "merge"
    entry; finally the target is cleaned and indexed (`clean`,
    `build_index`). The target ends up as if every file had been tracked in
    one process, one after another, and that store merged into the target.

    A failing task is retried `retries` times, each time from a fresh store;
    if a tracking task still fails, or a part cannot be read at all (which
    is not retried), the error is raised and the target is left untouched.
    A run stopped while appending leaves the target partly merged, never
    with a record twice: the same run again completes it. Lines that are
    not JSON are counted per file in the result and skipped, as `track`
    refuses them.

    Runs on a new local cluster of `workers` processes unless `scheduler`
    (or Dask's configured scheduler address) names an existing one.
    `progress` reports each phase, and the dashboard's address."""
    files = list_inputs(inputs)
    if not files:
        raise ValueError("no JSON Lines files to track")
    sources_of = sources_by_file(files, sources)
    if (tokenizer is None) != (token_count is None):
        raise ValueError("tokenizer and token_count go together")
    total = total_size(files)
    ranges = ranges or ranges_for(total)
    if not 1 <= ranges <= MAX_RANGES:
        raise ValueError(f"ranges must be 1 to {MAX_RANGES}")
    parts = plan_parts(files, part_bytes or part_bytes_for(total, ranges))
    progress = progress or Progress(False)
    timings = Timings()
    absorber = _Absorber(target, timings)

    with connect(scheduler, workers, local_directory, announce=progress.announce) as client:
        started = time.perf_counter()
        tracked = [client.submit(track_part, part, sources_of[part.file], tokenizer, token_count, ranges,
                                 retries=retries, pure=False) for part in parts]
        summaries = [client.submit(summary_of, records, pure=False) for records in tracked]
        # Merges go before tracking when a worker has the choice, so that
        # pieces are folded (and their memory freed) as soon as they exist.
        merged = [client.submit(merge_range, *[client.submit(piece_of, records, r, pure=False) for records in tracked],
                                retries=retries, pure=False, priority=1) for r in range(ranges)]
        merged_tokens = (client.submit(merge_tokens, *[client.submit(tokens_of, records, pure=False)
                                                       for records in tracked], retries=retries, pure=False,
                                       priority=1) if tokenizer is not None else None)
        # Holding no part's records lets the workers free each one once its
        # pieces have gone to their merges.
        del tracked
        part_records = _gather_parts(summaries, progress)
        del summaries
        timings.tracking = time.perf_counter() - started
        timings.tracking_cpu = sum(part.time.cpu for part in part_records)
        timings.split_cpu = sum(part.split_cpu for part in part_records)
        absorber.skipped += sum(part.skipped for part in part_records)

        if not os.path.isdir(os.path.join(target, STORE)):
            zr.init(target)
        progress.start("merging", ranges + (merged_tokens is not None))
        for future in as_completed(merged):
            merged_range: MergedRecords = future.result()
            future.release()
            timings.reducing_cpu += merged_range.time.cpu
            absorber.documents(merged_range)
            del merged_range
            progress.advance()
        del merged
        if merged_tokens is not None and tokenizer is not None:
            merged_entries: MergedRecords = merged_tokens.result()
            timings.reducing_cpu += merged_entries.time.cpu
            absorber.tokens(merged_entries, tokenizer)
            progress.advance()
        counts = absorber.log()
        progress.finish()
        timings.reducing = time.perf_counter() - started - timings.tracking - timings.absorbing

    clock = time.perf_counter()
    progress.start("clean")
    zr.clean(target, False)
    progress.finish()
    timings.cleaning = time.perf_counter() - clock
    clock = time.perf_counter()
    progress.start("build_index")
    index = zr.build_index(target)
    progress.finish()
    timings.indexing = time.perf_counter() - clock
    return CorpusResult(_combine_reports(files, [part.report for part in part_records]), counts, index, timings)
