#!/usr/bin/python3
"""The line hash in pure Python: (c) of the line-hash benchmark.

Usage: line_hash_baseline.py CORPUS [--hashes FILE] [--runs N]

Times json.loads, json.dumps(sort_keys=True, separators=(",", ":"),
ensure_ascii=False) and hashlib.sha256 over every non-empty line of CORPUS,
one core, and prints c_mbps (corpus bytes over CPU seconds, best of --runs).

With --hashes (the native benchmark's hashes of the first lines, one per
line), it also checks them, untimed: against Python's own text wherever
Python writes every float of the line the way the native writer does, and
against all lines with the store's own rules (tests/python/json_reference.py). A
mismatch makes the exit status 1.
"""

import argparse
import hashlib
import json
import math
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "python"))
from json_reference import Refused, content_hash, float_form, lines, read  # noqa: E402


def python_line_hash(line):
    value = json.loads(line)
    text = json.dumps(value, sort_keys=True, separators=(",", ":"), ensure_ascii=False)
    return hashlib.sha256(text.encode()).hexdigest()


def floats_agree(value):
    """True when Python's json.dumps writes this value's numbers as the native writer does."""
    if isinstance(value, float):
        return math.isfinite(value) and repr(value) == float_form(value)
    if isinstance(value, bool):
        return True
    if isinstance(value, int):
        return -(2**63) <= value < 2**64
    if isinstance(value, list):
        return all(floats_agree(v) for v in value)
    if isinstance(value, dict):
        return all(floats_agree(v) for v in value.values())
    return True


def check(data, hashes_path):
    with open(hashes_path) as f:
        native = [line.strip() for line in f]
    same_rule = mismatches = 0
    for native_hash, line in zip(native, lines(data)):
        value = json.loads(line)
        try:
            expected = content_hash(read(line))
        except Refused:
            expected = None
        if native_hash != expected:
            mismatches += 1
            print(f"mismatch (native float form): {line[:80]!r}", file=sys.stderr)
        if floats_agree(value):
            same_rule += 1
            if native_hash != python_line_hash(line):
                mismatches += 1
                print(f"mismatch (Python's own rule): {line[:80]!r}", file=sys.stderr)
    print(f"checked_lines={len(native)}")
    print(f"checked_with_python_rule={same_rule}")
    print(f"mismatches={mismatches}")
    return mismatches == 0 and len(native) > 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("corpus")
    parser.add_argument("--hashes")
    parser.add_argument("--runs", type=int, default=1)
    args = parser.parse_args()

    with open(args.corpus, "rb") as f:
        data = f.read()
    ok = True
    if args.hashes:
        ok = check(data, args.hashes)

    best = math.inf
    for _ in range(max(1, args.runs)):
        start = time.thread_time()
        checksum = 0
        for line in lines(data):
            checksum ^= ord(python_line_hash(line)[0])
        best = min(best, time.thread_time() - start)
    print(f"c_mbps={len(data) / 1e6 / best:.1f}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
