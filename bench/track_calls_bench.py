"""track calls against their floor, in one process.

Usage: PYTHONPATH=<build>/python /usr/bin/python3 bench/track_calls_bench.py [calls] [rounds]

Per call, in microseconds of CPU time, best of the rounds: the native
`track` with a token count and tokenizer, and the floor of that work made of
what no implementation avoids: `json.dumps` of the record (the argument rule
runs it) and two open-append-close calls that write lines of the same
lengths to the same kind of paths. The two take turns in chunks, so that
load on the machine hits both alike. Prints key=value lines.
"""
import hashlib
import os
import random
import sys
import tempfile
import time
import json

import _zr_native as zr

WORDS = ("glacier tide comet lichen sourdough bee measurement sketch report reading list field "
         "café naïve résumé — analysis of the data shows that the results were noisy but usable").split()


def make_records(count, seed=7):
    rng = random.Random(seed)
    return [{
        "id": i,
        "text": " ".join(rng.choice(WORDS) for _ in range(rng.randint(30, 120))),
        "meta": {"lang": rng.choice(["en", "fr", "de"]), "score": round(rng.random(), 3),
                 "source": f"crawl-{rng.randint(0, 99):02d}"},
        "tags": rng.sample(["tides", "comets", "bees", "lichens", "glaciers"], 2),
    } for i in range(count)]


def main():
    calls = int(sys.argv[1]) if len(sys.argv) > 1 else 20000
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    records = make_records(calls)
    sources = [hashlib.sha256(b"section-a").hexdigest(), hashlib.sha256(b"section-b").hexdigest()]
    with tempfile.TemporaryDirectory() as tmp:
        native_root = os.path.join(tmp, "native")
        floor_root = os.path.join(tmp, "floor")
        zr.init(native_root)
        zr.init(floor_root)
        # The floor writes what track writes, to where it writes it.
        hashes = [zr.compute_hash(r) for r in records]
        doc_lines = [(json.dumps({"file": "data/train.jsonl", "line_hash": h, "revoked": False,
                                  "source_type": "track", "sources": sources},
                                 separators=(",", ":")) + "\n").encode() for h in hashes]
        doc_paths = [os.path.join(floor_root, ".zr", "document-index", h[:2]) for h in hashes]
        token_path = os.path.join(floor_root, ".zr", f"token-index.tk.{os.getpid()}")
        token_line = (json.dumps({"token_count": 123, "sources": sources, "tokenizer": "tk", "revoked": False},
                                 separators=(",", ":")) + "\n").encode()
        flags = os.O_WRONLY | os.O_APPEND | os.O_CREAT | os.O_CLOEXEC

        def native(lo, hi):
            for i in range(lo, hi):
                zr.track(records[i], "data/train.jsonl", sources, native_root, 50 + i % 400, "tk")

        def floor(lo, hi):
            for i in range(lo, hi):
                json.dumps(records[i])
                fd = os.open(doc_paths[i], flags, 0o666)
                os.write(fd, doc_lines[i])
                os.close(fd)
                fd = os.open(token_path, flags, 0o666)
                os.write(fd, token_line)
                os.close(fd)

        chunk = 1000
        best = {"native": float("inf"), "floor": float("inf")}
        for _ in range(rounds):
            totals = {"native": 0.0, "floor": 0.0}
            for lo in range(0, calls, chunk):
                hi = min(calls, lo + chunk)
                for name, fn in (("native", native), ("floor", floor)):
                    start = time.process_time()
                    fn(lo, hi)
                    totals[name] += time.process_time() - start
            for name in best:
                best[name] = min(best[name], totals[name] / calls * 1e6)
    print(f"calls={calls}")
    print(f"native_us={best['native']:.3f}")
    print(f"floor_us={best['floor']:.3f}")


if __name__ == "__main__":
    main()
