"""Bulk tracking against the per-line loop and against its floor, in one process.

Usage: PYTHONPATH=<build>/python /usr/bin/python3 bench/track_lines_bench.py [lines] [rounds]

On `lines` generated JSON Lines (default 1,000,000; mixed shapes: records of
short and long text, nested objects, arrays, bare scalars, escapes, numbers
of every kind, and a few bad and blank lines), tracked with a token count
and tokenizer into a fresh store each round, per line in microseconds of
CPU time, best of the rounds:

- bulk: `_zr_bulk.track_lines` on the raw lines, 16,384 lines a call (as the
  cluster tasks call it);
- loop: `json.loads` of each line and `track` (the per-line loop the command
  line and the old cluster tasks ran);
- floor: the work no implementation avoids: SHA-256 of each line's
  canonical bytes (computed beforehand, so parsing is not part of it), and
  per batch one open-append-close per shard and for the token file with the
  batch's records. Measured twice: in C++ (track_lines_floor_bench, built
  beside the module in the build directory; the floor the ratio uses), and
  in Python with hashlib and os.write (records made beforehand), whose own
  interpreter overhead per line makes it a generous floor.

The three take turns on the same chunks, so that load on the machine hits
them alike. Then threads: the same lines tracked by two threads into one
store (each calling track_lines on every other batch) against one thread, in
wall-clock time, each run starting with nothing left to write back; this
needs two idle cores to mean anything.
Prints key=value lines.
"""
import hashlib
import json
import os
import random
import shutil
import sys
import tempfile
import threading
import subprocess
import time

import _zr_bulk
import _zr_native as zr

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "python"))
from json_reference import Refused, compact, read  # noqa: E402

BATCH = 16384
FILE = "data/train.jsonl"
TOKENIZER = "tk"
WORDS = ("glacier tide comet lichen sourdough bee measurement sketch report reading list field "
         "café naïve résumé — analysis of the data shows that the results were noisy but usable 🌊").split()


def make_lines(count, seed=11):
    """`count` raw lines of mixed shapes."""
    rng = random.Random(seed)

    def text(lo, hi):
        return " ".join(rng.choice(WORDS) for _ in range(rng.randint(lo, hi)))

    def number():
        return rng.choice([rng.randint(-10**6, 10**6), rng.random() * 1e6, -rng.random(),
                           2**70 + rng.randint(0, 99), round(rng.random(), 3), 0, -1e-7, 1e21])

    lines = []
    for i in range(count):
        shape = rng.randrange(100)
        if shape < 45:
            value = {"id": i, "text": text(20, 120), "lang": rng.choice(["en", "fr", "de"])}
        elif shape < 65:
            meta = {"score": number(), "source": f"crawl-{rng.randint(0, 99)}",
                    "tags": rng.sample(["tides", "comets", "bees", "lichens"], 2)}
            value = {"id": i, "text": text(3, 20), "meta": meta, "quote": 'she said "hi"\n\ttwice'}
        elif shape < 80:
            value = {"messages": [{"role": rng.choice(["user", "assistant"]), "content": text(5, 60)}
                                  for _ in range(rng.randint(1, 4))], "n": number()}
        elif shape < 90:
            value = [number() for _ in range(rng.randint(1, 12))]
        elif shape < 97:
            value = rng.choice([text(1, 8), number(), True, None, {"k": {"k": {"k": [[[]]]}}}])
        elif shape < 99:
            lines.append(rng.choice([b"not json", b'{"cut": ', b"NaN", b"\xef\xbb\xbf{}", b"\xff"]))
            continue
        else:
            lines.append(b"")
            continue
        spaced = rng.random() < 0.3
        line = json.dumps(value, ensure_ascii=rng.random() < 0.2,
                          separators=(", ", ": ") if spaced else (",", ":"))
        lines.append(line.encode())
    return lines


def canonical(line):
    """The store's compact text of a line, or None for a line it refuses."""
    try:
        return compact(read(line.decode())).encode()
    except (UnicodeDecodeError, Refused):
        return None


def cpp_floor_binary():
    """The C++ floor's executable in the build directory, or None when it is not built."""
    binary = os.environ.get("ZR_FLOOR_BENCH") or os.path.join(
        os.path.dirname(os.path.dirname(os.path.abspath(_zr_bulk.__file__))), "track_lines_floor_bench")
    if os.access(binary, os.X_OK):
        return binary
    print(f"no {binary}: the floor is measured in Python only", file=sys.stderr)
    return None


def cpp_floor(binary, canonical_path, root):
    """CPU seconds of one run of the C++ floor over the canonical texts."""
    out = subprocess.run([binary, canonical_path, root, "1"], check=True, capture_output=True, text=True).stdout
    return float(dict(line.split("=", 1) for line in out.split())["floor_cpu_s"])


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 2
    lines = make_lines(count)
    counts = [50 + i % 400 for i in range(count)]
    sources = [hashlib.sha256(b"section-a").hexdigest(), hashlib.sha256(b"section-b").hexdigest()]
    batches = [(lo, min(count, lo + BATCH)) for lo in range(0, count, BATCH)]

    # The floor's inputs, made before any timing: canonical bytes and each line's two records.
    canon = [canonical(line) for line in lines]
    token_line = (json.dumps({"token_count": 123, "sources": sources, "tokenizer": TOKENIZER, "revoked": False},
                             separators=(",", ":")) + "\n").encode()
    records = [None if c is None else (json.dumps(
        {"file": FILE, "line_hash": hashlib.sha256(c).hexdigest(), "revoked": False, "source_type": "track",
         "sources": sources}, separators=(",", ":")) + "\n").encode() for c in canon]
    flags = os.O_WRONLY | os.O_APPEND | os.O_CREAT | os.O_CLOEXEC

    with tempfile.TemporaryDirectory() as tmp:
        def fresh(name):
            root = os.path.join(tmp, name)
            shutil.rmtree(root, ignore_errors=True)
            zr.init(root)
            return root

        def bulk(root, lo, hi):
            _zr_bulk.track_lines(lines[lo:hi], FILE, sources, root, counts[lo:hi], TOKENIZER)

        def loop(root, lo, hi):
            for i in range(lo, hi):
                try:
                    value = json.loads(lines[i])
                    zr.track(value, FILE, sources, root, counts[i], TOKENIZER)
                except (ValueError, RuntimeError):
                    pass

        def floor(root, lo, hi):
            shards = {}
            entries = []
            sha256 = hashlib.sha256
            for i in range(lo, hi):
                c = canon[i]
                if c is None:
                    continue
                shards.setdefault(sha256(c).hexdigest()[:2], []).append(records[i])
                entries.append(token_line)
            layer = os.path.join(root, ".zr", "document-index")
            for shard, shard_records in sorted(shards.items()):
                fd = os.open(os.path.join(layer, shard), flags, 0o666)
                os.write(fd, b"".join(shard_records))
                os.close(fd)
            fd = os.open(os.path.join(root, ".zr", f"token-index.{TOKENIZER}.{os.getpid()}"), flags, 0o666)
            os.write(fd, b"".join(entries))
            os.close(fd)

        sides = (("bulk", bulk), ("loop", loop), ("floor_py", floor))
        best = {name: float("inf") for name, _ in sides}
        binary = cpp_floor_binary()
        canonical_path = os.path.join(tmp, "canonical.jsonl")
        with open(canonical_path, "wb") as f:
            f.write(b"".join(c + b"\n" for c in canon if c is not None))
        for _ in range(rounds):
            if binary:  # in every round too, so that load on the machine hits it as the others
                best["floor_cpp"] = min(best.get("floor_cpp", float("inf")),
                                        cpp_floor(binary, canonical_path, fresh("floor_cpp")) / count * 1e6)
            roots = {name: fresh(name) for name, _ in sides}
            totals = {name: 0.0 for name, _ in sides}
            for lo, hi in batches:
                for name, fn in sides:
                    start = time.process_time()
                    fn(roots[name], lo, hi)
                    totals[name] += time.process_time() - start
            for name in totals:
                best[name] = min(best[name], totals[name] / count * 1e6)

        def threaded(threads):
            # The stores written so far are flushed first: the kernel writing
            # them back meanwhile would take a core from the threads.
            for name in os.listdir(tmp):
                if name != "canonical.jsonl":
                    shutil.rmtree(os.path.join(tmp, name))
            os.sync()
            root = fresh(f"threads{threads}")
            mine = [batches[t::threads] for t in range(threads)]
            workers = [threading.Thread(target=lambda own=own: [bulk(root, lo, hi) for lo, hi in own])
                       for own in mine]
            start = time.perf_counter()
            for w in workers:
                w.start()
            for w in workers:
                w.join()
            return time.perf_counter() - start

        # At least three rounds: a run of about a second is what a neighbour
        # on the machine disturbs most. The sides take turns leading.
        wall = {1: float("inf"), 2: float("inf")}
        for round_number in range(max(rounds, 3)):
            for threads in ((1, 2) if round_number % 2 == 0 else (2, 1)):
                wall[threads] = min(wall[threads], threaded(threads))

    print(f"lines={count}")
    for name in best:
        print(f"{name}_us={best[name]:.3f}")
    print(f"loop_over_bulk={best['loop'] / best['bulk']:.2f}")
    floor_name = "floor_cpp" if "floor_cpp" in best else "floor_py"
    print(f"bulk_over_floor={best['bulk'] / best[floor_name]:.2f} floor={floor_name}")
    print(f"one_thread_s={wall[1]:.3f}")
    print(f"two_threads_s={wall[2]:.3f}")
    print(f"two_threads_speedup={wall[1] / wall[2]:.2f}")
    print(f"cores_free_to_this_process={len(os.sched_getaffinity(0))} load_average={os.getloadavg()[0]:.1f}")


if __name__ == "__main__":
    main()
