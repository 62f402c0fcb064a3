"""The client side: plan the parts, track them on the cluster, reduce the
stores in a tree, then fold the result into the target and index it."""
from __future__ import annotations

import os
import shutil
import tempfile
import time
from contextlib import contextmanager
from dataclasses import dataclass, field
from typing import Iterator, Mapping, Sequence

import _zr_native as zr
from distributed import Client, Future, LocalCluster, progress as show_progress, wait

from .parts import list_inputs, plan_parts
from .store_files import STORE, unpack_store
from .tasks import FileReport, PartStore, TokenCounter, merge_pair, report_of, time_of, track_part

DEFAULT_PART_BYTES = 32 << 20
DEFAULT_RETRIES = 2

Sources = Sequence[str] | Mapping[str, Sequence[str]]


@dataclass
class Timings:
    """Wall-clock seconds of each phase and CPU seconds spent in the tasks.

    `tracking` runs from the first submission to the end of the last
    tracking task, `merging` from there to the end of the tree's root (the
    two overlap unless the run was phased), then the client's own steps."""
    tracking: float = 0.0
    merging: float = 0.0
    absorbing: float = 0.0
    cleaning: float = 0.0
    indexing: float = 0.0
    tracking_cpu: float = 0.0
    merging_cpu: float = 0.0

    @property
    def total(self) -> float:
        return self.tracking + self.merging + self.absorbing + self.cleaning + self.indexing


@dataclass
class CorpusResult:
    files: list[FileReport]
    merged: Mapping[str, object]  # merge_absorb's counts for the final merge into the target
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


@contextmanager
def connect(scheduler: str | None, workers: int, local_directory: str | None) -> Iterator[Client]:
    """A client of the cluster at `scheduler`, or of a new local cluster of
    `workers` single-threaded worker processes, closed on exit."""
    if scheduler is not None:
        with Client(scheduler) as client:
            yield client
        return
    with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=":0",
                      local_directory=local_directory) as cluster, Client(cluster) as client:
        yield client


def reduce_in_tree(client: Client, stores: list[Future], retries: int) -> tuple[Future, list[Future]]:
    """Merges neighbours pairwise, level after level, until one store is left;
    an odd store at the end of a level waits for the next. Returns the root
    and every merge, in submission order.

    Merges go before tracking when a worker has the choice, so that stores
    are folded (and their memory freed) as soon as both halves exist."""
    merges = []
    level = 0
    while len(stores) > 1:
        level += 1
        merged = [client.submit(merge_pair, stores[i], stores[i + 1], retries=retries, pure=False,
                                priority=level)
                  for i in range(0, len(stores) - 1, 2)]
        merges += merged
        stores = merged + stores[len(stores) - len(stores) % 2:]
    return stores[0], merges


def _absorb_into(target: str, payload: bytes, scratch_dir: str | None) -> Mapping[str, object]:
    if scratch_dir is not None:
        os.makedirs(scratch_dir, exist_ok=True)
    scratch = tempfile.mkdtemp(prefix="zr-root-", dir=scratch_dir)
    try:
        unpack_store(payload, scratch)
        return zr.merge_absorb(scratch, target)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def _combine_reports(files: Sequence[str], parts: Sequence[FileReport]) -> list[FileReport]:
    by_file = {path: FileReport(path) for path in files}
    for report in parts:
        by_file[report.file].add(report)
    return list(by_file.values())


def track_corpus(inputs: str | os.PathLike | Sequence[str | os.PathLike], sources: Sources, target: str,
                 *, tokenizer: str | None = None, token_count: TokenCounter | None = None,
                 scheduler: str | None = None, workers: int = 2, part_bytes: int = DEFAULT_PART_BYTES,
                 retries: int = DEFAULT_RETRIES, progress: bool = False, phased: bool = False,
                 local_directory: str | None = None) -> CorpusResult:
    """Tracks every line of JSON Lines files on a Dask cluster into the store of project root `target`.

    `inputs`: a file, a directory (its `.jsonl` files in name order) or a list
    of them. Each line is recorded as seen in its file's path as listed, and
    attributed to `sources` (one list for every file, or a mapping of that
    path to a list). With `tokenizer` and `token_count` (a function of the
    line's JSON value returning its number of tokens, importable on the
    workers) each line also gets a token-index entry.

    Every file, or every `part_bytes` range of a larger one, is tracked by a
    task of its own into a fresh store on its worker's local disk; the stores
    are merged with `merge_absorb` in pairs, then pairs of pairs, travelling
    between workers as tar bytes; the last one is merged into the target
    (created when missing), which is then cleaned and indexed (`clean`,
    `build_index`). A failing task is retried `retries` times, each time
    from a fresh store; if it still fails, the error is raised and the
    target is left untouched. Lines that are not JSON are counted per file
    in the result and skipped, as `track` refuses them.

    Runs on a new local cluster of `workers` processes unless `scheduler`
    names an existing one. `progress` shows Dask's progress bar; `phased`
    starts merging only once every part is tracked (for clean timings)."""
    files = list_inputs(inputs)
    if not files:
        raise ValueError("no JSON Lines files to track")
    sources_of = sources_by_file(files, sources)
    parts = plan_parts(files, part_bytes)
    if (tokenizer is None) != (token_count is None):
        raise ValueError("tokenizer and token_count go together")
    timings = Timings()

    with connect(scheduler, workers, local_directory) as client:
        started = time.time()
        tracked = [client.submit(track_part, part, sources_of[part.path], tokenizer, token_count,
                                 retries=retries, pure=False) for part in parts]
        reports = [client.submit(report_of, store, pure=False) for store in tracked]
        track_times = [client.submit(time_of, store, pure=False) for store in tracked]
        if phased:
            wait(tracked)
        root, merges = reduce_in_tree(client, tracked, retries)
        merge_times = [client.submit(time_of, store, pure=False) for store in merges]
        # Only the root's payload is needed here: holding no other store lets
        # the workers free each one once it is merged.
        del tracked, merges
        if progress:
            show_progress(root, *reports)
        root_store: PartStore = root.result()
        part_reports = client.gather(reports)
        track_time_list = client.gather(track_times)
        merge_time_list = client.gather(merge_times)
        del root

    tracking_end = max(t.ended for t in track_time_list)
    timings.tracking = tracking_end - started
    timings.merging = max(root_store.time.ended - tracking_end, 0.0) if merge_time_list else 0.0
    timings.tracking_cpu = sum(t.cpu for t in track_time_list)
    timings.merging_cpu = sum(t.cpu for t in merge_time_list)

    clock = time.perf_counter()
    if not os.path.isdir(os.path.join(target, STORE)):
        zr.init(target)
    merged = _absorb_into(target, root_store.payload, local_directory)
    timings.absorbing = time.perf_counter() - clock
    clock = time.perf_counter()
    zr.clean(target, False)
    timings.cleaning = time.perf_counter() - clock
    clock = time.perf_counter()
    index = zr.build_index(target)
    timings.indexing = time.perf_counter() - clock
    return CorpusResult(_combine_reports(files, part_reports), merged, index, timings)
