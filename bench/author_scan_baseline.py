"""Pure-Python scan of an author registry by name, the baseline for
author_scan_bench: the same files, the same reading rules, the same result
(each matching record written anew as compact JSON text, in directory-listing
order).

Usage: author_scan_baseline.py <zr_dir> <name> [repetitions]
Prints "key=value" lines for bench/run_author_scan.sh:
- python_plain_ms_*: every line parsed with json.loads, as a straightforward
  reader would do;
- python_prefiltered_ms_*: lines that contain neither the name's JSON text
  nor a backslash are skipped unparsed first, the same trick the native scan
  uses.
"""

import json
import os
import statistics
import sys
import time


def record_text(record):
    revoked = record.get("revoked", False)
    return '{"id":%s,"name":%s,"email":%s,"revoked":%s}' % (
        json.dumps(record["id"], ensure_ascii=False), json.dumps(record["name"], ensure_ascii=False),
        json.dumps(record["email"], ensure_ascii=False), "true" if revoked else "false")


def valid(record):
    return (isinstance(record, dict) and isinstance(record.get("id"), str)
            and isinstance(record.get("name"), str) and isinstance(record.get("email"), str)
            and isinstance(record.get("revoked", False), bool))


def scan(zr_dir, name, prefilter):
    needle = json.dumps(name, ensure_ascii=False).encode("utf-8")
    found = []
    for entry in os.scandir(os.path.join(zr_dir, ".zr", "authors")):
        if not entry.is_file():
            continue
        try:
            with open(entry.path, "rb") as f:
                data = f.read()
        except OSError:
            continue
        for line in data.split(b"\n"):
            if line.endswith(b"\r"):
                line = line[:-1]
            if not line:
                continue
            if prefilter and needle not in line and b"\\" not in line:
                continue
            try:
                record = json.loads(line)
            except ValueError:
                continue
            if valid(record) and record["name"] == name:
                found.append(record_text(record))
    return found


def main():
    zr_dir, name = sys.argv[1], sys.argv[2]
    repetitions = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    for label, prefilter in (("plain", False), ("prefiltered", True)):
        times = []
        for _ in range(repetitions):
            start = time.perf_counter()
            found = scan(zr_dir, name, prefilter)
            times.append((time.perf_counter() - start) * 1000)
        print("python_%s_matches=%d" % (label, len(found)))
        print("python_%s_ms_min=%.2f" % (label, min(times)))
        print("python_%s_ms_median=%.2f" % (label, statistics.median(times)))


if __name__ == "__main__":
    main()
