"""Tracking on a local Dask cluster of 1 and 2 worker processes over a generated corpus.

Per worker count: lines per second over the whole run, the wall-clock time
of each phase and its share (tracking, merging in the tree, the final merge
into the target, clean, build_index), and the CPU seconds the tracking and
merging tasks used per line. Then the speed-up of 2 workers over 1, for the
tracking phase and for the whole run, and the per-line cost of tracking in
one process without Dask, the cost every worker pays at least.

The run is phased (merging starts once every part is tracked) so that the
tracking phase is measured alone. Figures are wall-clock: run it on an
otherwise idle machine, or the speed-up measures the neighbours.

    PYTHONPATH=build/python /usr/bin/python3 bench/cluster_bench.py [--lines N] [--work DIR]
"""
from __future__ import annotations

import argparse
import json
import os
import random
import shutil
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))

import _zr_native as zr  # noqa: E402
from zr_cluster import track_corpus  # noqa: E402

TOKENIZER = "bench"
WORDS = "the of and to in is was for on that with by as at from his her an were are which this be".split()


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
            recent = []
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


def run(paths: list[str], work: str, workers: int, part_bytes: int) -> dict:
    target = os.path.join(work, f"target-{workers}")
    shutil.rmtree(target, ignore_errors=True)
    sections = register(target, 4)
    sources = {path: [sections[k % len(sections)]] for k, path in enumerate(paths)}
    started = time.perf_counter()
    result = track_corpus(paths, sources, target, tokenizer=TOKENIZER, token_count=count_tokens,
                          workers=workers, part_bytes=part_bytes, phased=True,
                          local_directory=os.path.join(work, f"workers-{workers}"))
    wall = time.perf_counter() - started
    t = result.timings
    shutil.rmtree(target, ignore_errors=True)
    return {"workers": workers, "lines": result.tracked, "wall": wall, "tracking": t.tracking,
            "merging": t.merging, "final merge": t.absorbing, "clean": t.cleaning, "build_index": t.indexing,
            "tracking_cpu": t.tracking_cpu, "merging_cpu": t.merging_cpu, "phases": t.total}


def main() -> None:
    small = os.environ.get("SIZE") == "small"
    p = argparse.ArgumentParser()
    p.add_argument("--lines", type=int, default=200_000 if small else 2_000_000)
    p.add_argument("--files", type=int, default=8)
    p.add_argument("--part-mb", type=float, default=8.0)
    p.add_argument("--work", default="/tmp/zr-cluster-bench")
    args = p.parse_args()

    paths = generate(os.path.join(args.work, "corpus"), args.lines, args.files)
    per_line = sequential_per_line(paths, args.work, min(100_000, args.lines // args.files))
    runs = [run(paths, args.work, workers, int(args.part_mb * (1 << 20))) for workers in (1, 2)]

    print(f"corpus: {args.lines} lines in {args.files} files, parts of {args.part_mb:g} MiB")
    print(f"tracking in one process without Dask: {per_line * 1e6:.2f} us CPU per line")
    for r in runs:
        print(f"\n{r['workers']} worker(s): {r['lines'] / r['wall']:,.0f} lines/s over {r['wall']:.2f} s "
              f"(cluster start and stop included)")
        for phase in ("tracking", "merging", "final merge", "clean", "build_index"):
            print(f"  {phase:<12} {r[phase]:8.2f} s  {100 * r[phase] / r['phases']:5.1f} %")
        print(f"  CPU per line: tracking tasks {r['tracking_cpu'] / r['lines'] * 1e6:.2f} us, "
              f"merging tasks {r['merging_cpu'] / r['lines'] * 1e6:.2f} us")
    one, two = runs
    print(f"\nspeed-up of 2 workers over 1: tracking {one['tracking'] / two['tracking']:.2f}x (target 1.7x), "
          f"whole run {one['wall'] / two['wall']:.2f}x")


if __name__ == "__main__":
    main()
