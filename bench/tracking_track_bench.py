"""track: native call against the same work in pure Python, in one run.

Usage: PYTHONPATH=<build>/python /usr/bin/python3 bench/tracking_track_bench.py [calls]

Both sides track the same realistic JSON Lines records into stores of their
own: hash the record's compact sorted-key text, append the document-index
line to its shard and the token-index line to the per-process file. The
script also times json.dumps alone (the native call runs it once to convert
`data`), so its share of a call is visible.
"""
import hashlib
import json
import os
import random
import sys
import tempfile
import time

import _zr_native as zr

WORDS = ("glacier tide comet lichen sourdough bee measurement sketch report reading list field "
         "café naïve résumé — analysis of the data shows that the results were noisy but usable").split()


def make_records(count, seed=7):
    rng = random.Random(seed)
    records = []
    for i in range(count):
        text = " ".join(rng.choice(WORDS) for _ in range(rng.randint(30, 120)))
        records.append({
            "id": i,
            "text": text,
            "meta": {"lang": rng.choice(["en", "fr", "de"]), "score": round(rng.random(), 3),
                     "source": f"crawl-{rng.randint(0, 99):02d}"},
            "tags": rng.sample(["tides", "comets", "bees", "lichens", "glaciers"], 2),
        })
    return records


def python_track(data, file, sources, zr_dir, token_count, tokenizer):
    text = json.dumps(data, sort_keys=True, separators=(",", ":"), ensure_ascii=False)
    line_hash = hashlib.sha256(text.encode("utf-8")).hexdigest()
    doc = json.dumps({"file": file, "line_hash": line_hash, "revoked": False, "source_type": "track",
                      "sources": sources}, separators=(",", ":"), ensure_ascii=False)
    with open(os.path.join(zr_dir, ".zr", "document-index", line_hash[:2]), "a", encoding="utf-8") as f:
        f.write(doc + "\n")
    entry = json.dumps({"token_count": token_count, "sources": sources, "tokenizer": tokenizer, "revoked": False},
                       separators=(",", ":"), ensure_ascii=False)
    with open(os.path.join(zr_dir, ".zr", f"token-index.{tokenizer}.{os.getpid()}"), "a", encoding="utf-8") as f:
        f.write(entry + "\n")
    return line_hash


def interleaved_us(sides, records, sources, chunks=10):
    """Per-call time of each side; the calls run in alternating chunks so that
    load on the machine hits every side alike."""
    size = -(-len(records) // chunks)
    totals = {name: 0.0 for name in sides}
    for c in range(chunks):
        chunk = records[c * size:(c + 1) * size]
        for name, (fn, root) in sides.items():
            start = time.perf_counter()
            for i, record in enumerate(chunk):
                fn(record, "data/train.jsonl", sources, root, 50 + i % 400, "tk")
            totals[name] += time.perf_counter() - start
    return {name: total / len(records) * 1e6 for name, total in totals.items()}


def store_contents(root):
    out = {}
    for dirpath, _, filenames in os.walk(os.path.join(root, ".zr")):
        for name in filenames:
            path = os.path.join(dirpath, name)
            with open(path, "rb") as f:
                out[os.path.relpath(path, root)] = f.read()
    return out


def dumps_only(record, *_):
    json.dumps(record)


def main():
    calls = int(sys.argv[1]) if len(sys.argv) > 1 else 20000
    records = make_records(calls)
    sources = [hashlib.sha256(b"section-a").hexdigest(), hashlib.sha256(b"section-b").hexdigest()]
    mean_len = sum(len(json.dumps(r)) for r in records) / len(records)
    with tempfile.TemporaryDirectory() as tmp:
        roots = {}
        for name in ("native", "python", "check-native", "check-python"):
            roots[name] = os.path.join(tmp, name)
            zr.init(roots[name])
        # Both sides must store the same bytes, or the comparison means nothing.
        for i, record in enumerate(records[:500]):
            assert zr.track(record, "f", sources, roots["check-native"], i, "tk") == \
                python_track(record, "f", sources, roots["check-python"], i, "tk")
        assert store_contents(roots["check-native"]) == store_contents(roots["check-python"])
        times = interleaved_us({"native": (zr.track, roots["native"]), "python": (python_track, roots["python"]),
                                "dumps": (dumps_only, None)}, records, sources)
        native, python, dumps = times["native"], times["python"], times["dumps"]
        native_files = sorted(os.listdir(os.path.join(roots["native"], ".zr", "document-index")))
        python_files = sorted(os.listdir(os.path.join(roots["python"], ".zr", "document-index")))
        assert native_files == python_files
    print(f"track, {calls} calls, mean record {mean_len:.0f} bytes of JSON")
    print(f"  native track         {native:8.2f} us/call")
    print(f"  pure Python          {python:8.2f} us/call")
    print(f"  speed-up             {python / native:8.2f}x   (target >= 1.5x)")
    print(f"  json.dumps(data)     {dumps:8.2f} us/call = {dumps / native * 100:.0f}% of a native call")


if __name__ == "__main__":
    main()
