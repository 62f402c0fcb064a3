"""Timing of housekeeping's token-file folding and of a whole-store merge.

Run:  PYTHONPATH=<build>/python /usr/bin/python3 bench/clean_merge_bench.py [--quick]

clean:  N per-process token files of 10,000 entries each (N = 25, 50, 100) are
        folded into chunk files and the token binary index is built; the
        fold and the index build are also timed on their own.
merge:  a store of 400,000 tracked lines (with their 400,000 merged token
        entries, 2,000 sections and 200 authors) is absorbed into an empty
        store; the attribution index build that the merge ends with is timed
        on its own afterwards.
"""

import argparse
import hashlib
import json
import os
import random
import shutil
import statistics
import tempfile
import time

import _zr_native as zr

ENTRIES_PER_FILE = 10_000


def sha(text):
    return hashlib.sha256(text.encode()).hexdigest()


def compact(value):
    return json.dumps(value, separators=(",", ":"), sort_keys=True)


def entry_line(count, sources):
    return json.dumps({"token_count": count, "sources": sources, "tokenizer": "tk", "revoked": False},
                      separators=(",", ":"))


def token_files(zr_dir, files, sections, rng):
    st = os.path.join(zr_dir, ".zr")
    for pid in range(files):
        lines = [entry_line(rng.randrange(1, 4000), rng.sample(sections, rng.randrange(1, 4)))
                 for _ in range(ENTRIES_PER_FILE)]
        with open(os.path.join(st, f"token-index.tk.{100000 + pid}"), "w") as f:
            f.write("\n".join(lines) + "\n")


def timed(fn):
    start = time.perf_counter()
    result = fn()
    return time.perf_counter() - start, result


def bench_clean(workdir, sizes, repeats):
    rng = random.Random(1)
    sections = [sha(f"section {i}") for i in range(1000)]
    print("clean: folding per-process token files of 10,000 entries each")
    print(f"{'files':>6} {'entries':>9} {'clean s':>9} {'fold s':>8} {'bin s':>8} {'us/entry':>9}")
    for files in sizes:
        totals, folds, builds = [], [], []
        for _ in range(repeats):
            root = os.path.join(workdir, f"clean{files}")
            shutil.rmtree(root, ignore_errors=True)
            zr.init(root)
            token_files(root, files, sections, rng)
            t, counts = timed(lambda: zr.clean(root, False))
            assert counts["token_index_merged"] == files * ENTRIES_PER_FILE, counts
            assert counts["token_index_pid_deleted"] == files, counts
            totals.append(t)

            shutil.rmtree(root)
            zr.init(root)
            token_files(root, files, sections, rng)
            folds.append(timed(lambda: zr.token_index_merge_pid_files(root, "tk"))[0])
            builds.append(timed(lambda: zr.token_index_build_binary_index(root, "tk"))[0])
            shutil.rmtree(root)
        total = statistics.median(totals)
        print(f"{files:>6} {files * ENTRIES_PER_FILE:>9} {total:>9.3f} {statistics.median(folds):>8.3f} "
              f"{statistics.median(builds):>8.3f} {total / (files * ENTRIES_PER_FILE) * 1e6:>9.2f}")


def source_store(root, lines, rng):
    zr.init(root)
    st = os.path.join(root, ".zr")
    authors = []
    for i in range(200):
        record = {"id": sha(f"author {i}"), "name": f"Author {i}", "email": f"a{i}@example.org", "revoked": False}
        authors.append(record["id"])
        with open(os.path.join(st, "authors", record["id"][:2]), "a") as f:
            f.write(compact(record) + "\n")
    sections = []
    for i in range(2000):
        record = {"section_hash": sha(f"section {i}"), "path": f"src/{i}", "authors": rng.sample(authors, 2),
                  "contributors": [], "license": "MIT", "year": "2024", "revoked": False}
        sections.append(record["section_hash"])
        with open(os.path.join(st, "sections", record["section_hash"][:2]), "a") as f:
            f.write(compact(record) + "\n")
    shards = {}
    entries = []
    for i in range(lines):
        sources = rng.sample(sections, rng.randrange(1, 3))
        h = sha(f"line {i}")
        shards.setdefault(h[:2], []).append(compact(
            {"file": f"data{i % 8}.jsonl", "line_hash": h, "revoked": False, "source_type": "track",
             "sources": sources}))
        entries.append(entry_line(i + 1, sources))  # distinct identities
    for name, shard_lines in shards.items():
        with open(os.path.join(st, "document-index", name), "w") as f:
            f.write("\n".join(shard_lines) + "\n")
    merged = os.path.join(st, "token-index.tk")
    os.mkdir(merged)
    for n in range(0, lines, 50_000):
        with open(os.path.join(merged, f"{n // 50_000 + 1:03d}"), "w") as f:
            f.write("\n".join(entries[n:n + 50_000]) + "\n")


def bench_merge(workdir, lines, repeats):
    rng = random.Random(2)
    src = os.path.join(workdir, "merge-src")
    source_store(src, lines, rng)
    print(f"\nmerge_absorb: {lines:,} document lines + {lines:,} token entries + 2,000 sections + 200 authors"
          " into an empty store")
    merges, builds = [], []
    for _ in range(repeats):
        dst = os.path.join(workdir, "merge-dst")
        shutil.rmtree(dst, ignore_errors=True)
        zr.init(dst)
        t, counts = timed(lambda: zr.merge_absorb(src, dst))
        assert counts == {"authors_added": 200, "sections_added": 2000, "document_added": lines,
                          "token_index_added": lines, "skipped": 0}, counts
        merges.append(t)
        builds.append(timed(lambda: zr.build_index(dst))[0])
        again, counts = timed(lambda: zr.merge_absorb(src, dst))
        assert counts["skipped"] == 2 * lines + 2200, counts
    merge, build = statistics.median(merges), statistics.median(builds)
    print(f"  merge_absorb total      {merge:8.3f} s")
    print(f"  of which index build   ~{build:8.3f} s (build_index on the merged target)")
    print(f"  copying alone          ~{merge - build:8.3f} s ({(merge - build) / (2 * lines) * 1e6:.2f} us per record)")
    print(f"  repeated merge (all skipped) {again:8.3f} s")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="small sizes, one run each")
    args = parser.parse_args()
    workdir = tempfile.mkdtemp(prefix="zr-clean-merge-")
    try:
        if args.quick:
            bench_clean(workdir, [2, 4], 1)
            bench_merge(workdir, 20_000, 1)
        else:
            bench_clean(workdir, [25, 50, 100], 3)
            bench_merge(workdir, 400_000, 3)
    finally:
        shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    main()
