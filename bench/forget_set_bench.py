"""Forget sets and token totals by author: token binary index against chunk-file scan.

Builds a store whose merged token index holds --entries entries (written straight
into chunk files), then times, in one run:
  - generate_forget_set with a current index, and with the index moved aside;
  - show_by_author_token for one author holding about 1% of the entries, both ways.
Both ways must give the same answer; the script stops if they do not.

Run with the module on the path, for example:
  PYTHONPATH=build-forget/python /usr/bin/python3 bench/forget_set_bench.py
"""

import argparse
import os
import random
import shutil
import statistics
import tempfile
import time

import _zr_native as zr

TK = "bench-tk"


def make_store(root, entries, chunks, authors, sections_per_author, revoked_share, seed, layout):
    zr.init(root)
    rng = random.Random(seed)
    sections = []
    for a in range(authors):
        author_id = zr.author_add(f"author-{a}", f"a{a}@example.org", root)
        for s in range(sections_per_author):
            sections.append(zr.register_section(f"data/{a}/{s}.jsonl", [author_id], [], "MIT", "2024", root))
    merged = os.path.join(root, ".zr", f"token-index.{TK}")
    os.mkdir(merged)
    per_chunk = -(-entries // chunks)
    written = 0
    for c in range(1, chunks + 1):
        lines = []
        for i in range(written, min(entries, written + per_chunk)):
            # Every author holds 1 / authors of the entries: spread evenly
            # over all chunk files (the index's worst case, one line here and
            # there), or in runs of 100 lines as tracking a file gives.
            slot = i if layout == "spread" else i // 100
            source = sections[slot % len(sections)]
            revoked = "true" if rng.random() < revoked_share else "false"
            lines.append(f'{{"revoked":{revoked},"sources":["{source}"],'
                         f'"token_count":{rng.randint(1, 4096)},"tokenizer":"{TK}"}}\n')
        written += len(lines)
        with open(os.path.join(merged, f"{c:03d}"), "w") as f:
            f.write("".join(lines))
    return merged


def timed(fn, repeat):
    times, result = [], None
    for _ in range(repeat):
        result = None  # freeing the previous result is no part of the call
        start = time.perf_counter()
        result = fn()
        times.append(time.perf_counter() - start)
    return statistics.median(times), min(times), result


def report(label, indexed, scanned):
    (i_med, i_min, _), (s_med, s_min, _) = indexed, scanned
    print(f"{label}: index median {i_med * 1e3:.2f} ms (min {i_min * 1e3:.2f}), "
          f"scan median {s_med * 1e3:.2f} ms (min {s_min * 1e3:.2f}), speed-up x{s_med / i_med:.1f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--entries", type=int, default=1_000_000)
    parser.add_argument("--chunks", type=int, default=100)
    parser.add_argument("--authors", type=int, default=100)
    parser.add_argument("--sections-per-author", type=int, default=2)
    parser.add_argument("--revoked-share", type=float, default=0.1)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--layout", choices=["spread", "runs"], default="spread",
                        help="how each author's entries lie in the chunk files")
    parser.add_argument("--dir", help="work directory (default: a fresh temporary one, removed afterwards)")
    args = parser.parse_args()

    root = args.dir or tempfile.mkdtemp(prefix="forget-set-bench-")
    try:
        start = time.perf_counter()
        make_store(root, args.entries, args.chunks, args.authors, args.sections_per_author,
                   args.revoked_share, args.seed, args.layout)
        print(f"store: {args.entries} entries in {args.chunks} chunk files, {args.authors} authors, "
              f"layout {args.layout} "
              f"({time.perf_counter() - start:.1f} s to write)")
        start = time.perf_counter()
        print(f"build: {zr.token_index_build_binary_index(root, TK)} "
              f"({time.perf_counter() - start:.2f} s)")

        index = os.path.join(root, ".zr", f"token-index.{TK}.bin")
        aside = os.path.join(root, f"token-index.{TK}.bin.aside")
        author = "author-0"

        def forget():
            return zr.generate_forget_set(root, TK)

        def totals():
            return zr.show_by_author_token(root, author, TK)

        forget_indexed = timed(forget, args.repeat)
        totals_indexed = timed(totals, args.repeat)
        os.rename(index, aside)
        forget_scanned = timed(forget, args.repeat)
        totals_scanned = timed(totals, args.repeat)
        os.rename(aside, index)

        if forget_indexed[2] != forget_scanned[2]:
            raise SystemExit("forget sets differ between index and scan")
        if totals_indexed[2] != totals_scanned[2]:
            raise SystemExit("author totals differ between index and scan")
        revoked = sum(bin(b).count("1") for b in forget_indexed[2])
        result = totals_indexed[2]
        print(f"forget set: {len(forget_indexed[2])} bytes, {revoked} revoked")
        print(f"{author}: {result['document_count']} active entries, {result['total_tokens']} tokens "
              f"({result['document_count'] / args.entries:.2%} of all entries)")
        report("generate_forget_set", forget_indexed, forget_scanned)
        report("show_by_author_token", totals_indexed, totals_scanned)
    finally:
        if not args.dir:
            shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
