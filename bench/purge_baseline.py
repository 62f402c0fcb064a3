"""Pure-Python purge of a data file, the baseline for purge_bench: the same
store, the same line rule, the same outputs (the data file rewritten through
a temporary file, the archive, the two log lines), timed side by side with
the native purge_revoked called from Python.

Usage: purge_baseline.py <dir> [repetitions]
<dir> is what `purge_bench generate` made. Prints "key=value" lines for
bench/run_purge.sh.
"""

import hashlib
import json
import os
import shutil
import sys
import time

import _zr_native as zr

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "python"))
from json_reference import lines  # noqa: E402
from reference_purge import purge_lines  # noqa: E402  (the pass the tests check the native one against)


def line_set(zr_dir):
    hashes = set()
    with open(os.path.join(zr_dir, ".zr", "document-index", "revoked", "all"), "rb") as f:
        for line in lines(f.read()):
            try:
                record = json.loads(line)
            except ValueError:
                continue
            if isinstance(record, dict) and isinstance(record.get("line_hash"), str):
                hashes.add(record["line_hash"])
    return hashes


def python_line_hash(value):
    text = json.dumps(value, sort_keys=True, separators=(",", ":"), ensure_ascii=False)
    return hashlib.sha256(text.encode()).hexdigest()


def python_purge(zr_dir, data_file):
    listed = line_set(zr_dir)
    with open(data_file, "rb") as f:
        data = f.read()
    kept, removed = purge_lines(data, listed, python_line_hash)
    now = time.gmtime()
    stamp = time.strftime("%Y%m%dT%H%M%S", now)
    archive_dir = os.path.join(zr_dir, ".zr", "archive")
    os.makedirs(archive_dir, exist_ok=True)
    archive = os.path.join(archive_dir, "purge." + stamp)
    with open(archive, "a", encoding="utf-8") as f:
        for value in removed:
            f.write(json.dumps({"archived_at": stamp, "line": value}, sort_keys=True, separators=(",", ":"),
                               ensure_ascii=False) + "\n")
    temp = data_file + ".py-tmp"
    with open(temp, "wb", buffering=8192) as f:
        for piece in kept:
            f.write(piece)
            f.write(b"\n")
        f.flush()
        os.fsync(f.fileno())
    os.replace(temp, data_file)
    seconds = int(time.time())
    stamp_log = "%d-%s" % (seconds // 86400, time.strftime("%H:%M:%S", now))
    with open(os.path.join(zr_dir, ".zr", "log"), "a") as f:
        f.write("%s purge_archive archived %d lines to %s\n" % (stamp_log, len(removed), archive))
        f.write("%s purge purged %d lines from %s\n" % (stamp_log, len(removed), data_file))
    return len(removed), len(kept)


def fresh_copy(zr_dir):
    shutil.copyfile(os.path.join(zr_dir, "pristine.jsonl"), os.path.join(zr_dir, "data.jsonl"))
    shutil.rmtree(os.path.join(zr_dir, ".zr", "archive"), ignore_errors=True)


def timed(fn):
    start = time.perf_counter()
    result = fn()
    return time.perf_counter() - start, result


def main():
    zr_dir = sys.argv[1]
    repetitions = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    data = os.path.join(zr_dir, "data.jsonl")
    python_times, native_times = [], []
    for _ in range(repetitions):
        fresh_copy(zr_dir)
        t, (purged, kept) = timed(lambda: python_purge(zr_dir, data))
        python_times.append(t)
        with open(data, "rb") as f:
            python_bytes = hashlib.sha256(f.read()).hexdigest()
        fresh_copy(zr_dir)
        t, counts = timed(lambda: zr.purge_revoked(zr_dir, data, False))
        native_times.append(t)
        with open(data, "rb") as f:
            native_bytes = hashlib.sha256(f.read()).hexdigest()
    print("python_s=%.3f" % min(python_times))
    print("native_from_python_s=%.3f" % min(native_times))
    print("python_purged=%d" % purged)
    print("native_purged=%d" % counts["purged"])
    print("same_output=%s" % (python_bytes == native_bytes and (purged, kept) == (counts["purged"], counts["kept"])))


if __name__ == "__main__":
    main()
