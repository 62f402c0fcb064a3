"""Tracking on a local Dask cluster of 1 and 2 worker processes over a generated corpus.

Per worker count: lines per second over the whole run, the wall-clock time
of each phase and its share (tracking, merging by shard range, the client's
appends to the target, clean, build_index), and the CPU each phase used per
record (tracking in the tracking tasks, their split by shard range, the
merging tasks, the client's appends). Then the speed-up of 2 workers over 1
for the whole run, and the per-line cost of tracking in one process without
Dask, the cost every worker pays at least.

Memory: the client's peak resident memory while the cluster works (tracking
and merging: the client receives and appends one merged range at a time) on
two corpus sizes, which should stay flat; and one merging task's peak memory
per record of its range.

Figures are wall-clock and memory: run it on an otherwise idle machine, or
the speed-up measures the neighbours.

    PYTHONPATH=build/python /usr/bin/python3 bench/cluster_bench.py [--lines N] [--memory-lines N,M] [--work DIR]
"""
from __future__ import annotations

import argparse
import json
import os
import random
import shutil
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))

import _zr_native as zr  # noqa: E402
from zr_cluster import track_corpus  # noqa: E402
from zr_cluster.parts import plan_parts, ranges_for, part_bytes_for, total_size  # noqa: E402
from zr_cluster.progress import Progress  # noqa: E402
from zr_cluster.tasks import merge_range, track_part  # noqa: E402

TOKENIZER = "bench"
WORDS = "the of and to in is was for on that with by as at from his her an were are which this be".split()
PAGE = os.sysconf("SC_PAGE_SIZE")


def count_tokens(value) -> int:
    return len(value["text"].split()) + 2


def generate(directory: str, lines: int, files: int) -> list[str]:
    """`files` files sharing `lines` lines of about 100 bytes; one line in
    fifty repeats an earlier one of its file (a merge keeps one of them)."""
    os.makedirs(directory, exist_ok=True)
    rng = random.Random(7)
    paths = []
    per_file = lines // files
    for f in range(files):
        path = os.path.join(directory, f"corpus-{f:03d}.jsonl")
        paths.append(path)
        if os.path.exists(path) and sum(1 for _ in open(path, "rb")) == per_file:
            continue
        with open(path, "w") as out:
            recent: list[str] = []
            for i in range(per_file):
                if recent and i % 50 == 49:
                    out.write(rng.choice(recent))
                    continue
                text = " ".join(rng.choice(WORDS) for _ in range(rng.randint(3, 14)))
                line = json.dumps({"doc": f * per_file + i, "text": text}) + "\n"
                recent = (recent + [line])[-100:]
                out.write(line)
    return paths


def register(root: str, count: int) -> list[str]:
    zr.init(root)
    author = zr.author_add("Ann", "ann@example.org", root)
    return [zr.register_section(f"s{k}", [author], [], "MIT", "2024", root) for k in range(count)]


def sequential_per_line(paths: list[str], work: str, sample: int) -> float:
    """CPU seconds per line of parsing and tracking in this process alone."""
    root = os.path.join(work, "sequential")
    shutil.rmtree(root, ignore_errors=True)
    sources = register(root, 1)
    started = time.process_time()
    done = 0
    with open(paths[0], "rb") as f:
        for raw in f:
            value = json.loads(raw)
            zr.track(value, paths[0], sources, root, count_tokens(value), TOKENIZER)
            done += 1
            if done == sample:
                break
    zr.clean(root, False)
    return (time.process_time() - started) / done


def resident_bytes() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


def peak_resident_bytes() -> int:
    """This process's peak resident memory so far (VmHWM: unlike ru_maxrss,
    it does not carry over the peak of the process that started this one)."""
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    raise RuntimeError("no VmHWM in /proc/self/status")


class PeakWhileWorking(Progress):
    """Records the process's peak resident memory while the cluster tracks and
    merges (the client's part of the run), sampled every 10 ms."""

    def __init__(self) -> None:
        super().__init__(False)
        self.phase = ""
        self.peak = 0
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._sample, daemon=True)
        self._thread.start()

    def start(self, phase: str, total: int | None = None) -> None:
        self.phase = phase

    def _sample(self) -> None:
        while not self._stop.wait(0.01):
            if self.phase in ("tracking", "merging"):
                self.peak = max(self.peak, resident_bytes())

    def stop(self) -> int:
        self._stop.set()
        self._thread.join()
        return self.peak


def sources_for(paths: list[str], sections: list[str]) -> dict[str, list[str]]:
    return {path: [sections[k % len(sections)]] for k, path in enumerate(paths)}


def run(paths: list[str], work: str, workers: int, part_bytes: int | None) -> dict:
    target = os.path.join(work, f"target-{workers}")
    shutil.rmtree(target, ignore_errors=True)
    sources = sources_for(paths, register(target, 4))
    started = time.perf_counter()
    result = track_corpus(paths, sources, target, tokenizer=TOKENIZER, token_count=count_tokens,
                          workers=workers, part_bytes=part_bytes,
                          local_directory=os.path.join(work, f"workers-{workers}"))
    wall = time.perf_counter() - started
    t = result.timings
    index_dir = os.path.join(target, ".zr", "document-index")
    record_bytes = sum(os.path.getsize(os.path.join(index_dir, name)) for name in os.listdir(index_dir))
    shutil.rmtree(target, ignore_errors=True)
    return {"record_bytes": record_bytes, "workers": workers, "lines": result.tracked, "wall": wall, "tracking": t.tracking,
            "reducing": t.reducing, "appending": t.absorbing, "clean": t.cleaning, "build_index": t.indexing,
            "map_cpu": t.tracking_cpu - t.split_cpu, "split_cpu": t.split_cpu, "reduce_cpu": t.reducing_cpu,
            "client_cpu": t.absorbing_cpu, "phases": t.total}


def write_probe_bytes(paths: list[str], work: str, total: int) -> tuple[float, int]:
    """CPU seconds this machine takes to write as many bytes as the target's
    document index gets, in pieces of one merged shard's size, to new files:
    the least the client's appending can cost."""
    ranges = ranges_for(total_size(paths))
    piece = b"x" * max(1, total // (ranges * 12))
    directory = os.path.join(work, "write-probe")
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(directory)
    started = time.process_time()
    written = 0
    k = 0
    while written < total:
        with open(os.path.join(directory, str(k)), "ab") as f:
            f.write(piece)
        written += len(piece)
        k += 1
    seconds = time.process_time() - started
    shutil.rmtree(directory, ignore_errors=True)
    return seconds, written


def client_memory(paths: list[str], work: str) -> dict:
    """In this (fresh) process: the client's peak memory while 2 workers track and merge `paths`."""
    target = os.path.join(work, "target-memory")
    shutil.rmtree(target, ignore_errors=True)
    sources = sources_for(paths, register(target, 4))
    baseline = resident_bytes()
    watch = PeakWhileWorking()
    result = track_corpus(paths, sources, target, tokenizer=TOKENIZER, token_count=count_tokens, workers=2,
                          progress=watch, local_directory=os.path.join(work, "workers-memory"))
    peak = watch.stop()
    shutil.rmtree(target, ignore_errors=True)
    return {"lines": result.tracked, "baseline": baseline, "peak": peak,
            "ranges": ranges_for(total_size(paths))}


def split_pieces(paths: list[str], work: str) -> dict:
    """Tracks and splits every part of `paths` here, and keeps each part's
    piece of the first shard range in a file of `work`/pieces."""
    total = total_size(paths)
    ranges = ranges_for(total)
    directory = os.path.join(work, "pieces")
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(directory)
    for k, part in enumerate(plan_parts(paths, part_bytes_for(total, ranges))):
        records = track_part(part, ["s"], TOKENIZER, count_tokens, ranges, scratch_dir=os.path.join(work, "scratch"))
        with open(os.path.join(directory, f"{k:06d}"), "wb") as f:
            f.write(records.documents[0])
    return {"ranges": ranges}


def merge_memory(paths: list[str], work: str) -> dict:
    """In this (fresh) process: one merging task's peak memory per record of
    its range, its pieces included (as a worker holds them)."""
    directory = os.path.join(work, "pieces")
    baseline = peak_resident_bytes()
    pieces = [open(os.path.join(directory, name), "rb").read() for name in sorted(os.listdir(directory))]
    merged = merge_range(*pieces)
    peak = peak_resident_bytes()
    return {"records": sum(piece.count(b"\n") for piece in pieces), "input_bytes": sum(map(len, pieces)),
            "output_bytes": sum(map(len, merged.texts)), "growth": peak - baseline, "cpu": merged.time.cpu}


def in_child(kind: str, lines: int, work: str, files: int) -> dict:
    out = subprocess.run([sys.executable, __file__, "--child", kind, "--lines", str(lines), "--work", work,
                          "--files", str(files)], check=True, capture_output=True, text=True)
    return json.loads(out.stdout.strip().splitlines()[-1])


CHILDREN = {"client-memory": client_memory, "split-pieces": split_pieces, "merge-memory": merge_memory}


def main() -> None:
    small = os.environ.get("SIZE") == "small"
    p = argparse.ArgumentParser()
    p.add_argument("--lines", type=int, default=200_000 if small else 2_000_000)
    p.add_argument("--memory-lines", default="100000,400000" if small else "1000000,4000000")
    p.add_argument("--files", type=int, default=8)
    p.add_argument("--part-mb", type=float, default=None, help="default: the pipeline's own")
    p.add_argument("--rounds", type=int, default=3)
    p.add_argument("--work", default="/tmp/zr-cluster-bench")
    p.add_argument("--child", choices=list(CHILDREN), help=argparse.SUPPRESS)
    args = p.parse_args()

    if args.child:
        paths = generate(os.path.join(args.work, f"corpus-{args.lines}"), args.lines, args.files)
        print(json.dumps(CHILDREN[args.child](paths, args.work)))
        return

    paths = generate(os.path.join(args.work, f"corpus-{args.lines}"), args.lines, args.files)
    per_line = sequential_per_line(paths, args.work, min(100_000, args.lines // args.files))
    part_bytes = int(args.part_mb * (1 << 20)) if args.part_mb else None
    # Best of `rounds` runs per worker count, the counts taking turns, so
    # that a neighbour's burst does not decide the ratio.
    rounds = [run(paths, args.work, workers, part_bytes) for _ in range(args.rounds) for workers in (1, 2)]
    runs = [min((r for r in rounds if r["workers"] == workers), key=lambda r: r["wall"]) for workers in (1, 2)]
    record_bytes = write_probe_bytes(paths, args.work, runs[0]["record_bytes"])

    print(f"corpus: {args.lines} lines in {args.files} files ({total_size(paths) / 1e6:.0f} MB), "
          f"{ranges_for(total_size(paths))} shard ranges")
    print(f"tracking in one process without Dask: {per_line * 1e6:.2f} us CPU per line")
    for r in runs:
        print(f"\n{r['workers']} worker(s): {r['lines'] / r['wall']:,.0f} lines/s over {r['wall']:.2f} s "
              f"(cluster start and stop included)")
        for phase in ("tracking", "reducing", "appending", "clean", "build_index"):
            print(f"  {phase:<12} {r[phase]:8.2f} s  {100 * r[phase] / r['phases']:5.1f} %")
        print("  CPU per record: " + ", ".join(f"{name} {r[name + '_cpu'] / r['lines'] * 1e6:.2f} us"
                                               for name in ("map", "split", "reduce", "client")))
    one, two = runs
    print(f"\nspeed-up of 2 workers over 1 (best of {args.rounds} each): whole run "
          f"{one['wall'] / two['wall']:.2f}x (target 1.7x), tracking {one['tracking'] / two['tracking']:.2f}x")
    seconds, written = record_bytes
    print(f"limit probe: writing the target's {written / 1e6:.0f} MB of records to new files takes {seconds:.2f} s "
          f"of CPU here (the client's appending: {one['appending']:.2f} s and {two['appending']:.2f} s wall)")

    sizes = [int(n) for n in args.memory_lines.split(",")]
    memory = [in_child("client-memory", n, args.work, args.files) for n in sizes]
    for m in memory:
        print(f"\nclient, {m['lines']} lines ({m['ranges']} ranges): peak {m['peak'] / 2**20:.0f} MiB "
              f"while tracking and merging (at start {m['baseline'] / 2**20:.0f} MiB)")
    print(f"client peak growth from {sizes[0]} to {sizes[-1]} lines: {memory[-1]['peak'] / memory[0]['peak']:.2f}x "
          f"(target at most 1.2x)")
    ranges = in_child("split-pieces", sizes[-1], args.work, args.files)["ranges"]
    merge = in_child("merge-memory", sizes[-1], args.work, args.files)
    print(f"\none merging task, {merge['records']} records of 1 of {ranges} ranges "
          f"({merge['input_bytes'] / 2**20:.1f} MiB in, {merge['output_bytes'] / 2**20:.1f} MiB out): "
          f"peak growth {merge['growth'] / merge['records']:.0f} bytes per record, "
          f"CPU {merge['cpu'] / merge['records'] * 1e6:.2f} us per record")


if __name__ == "__main__":
    main()
