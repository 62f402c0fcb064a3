"""Store and timing helper of bench/perf/merge_absorb.sh.

  make <root> <lines>     the source store of bench/clean_merge_bench.py (kept when already there)
  time <root> <runs>      best CPU seconds of merge_absorb(<root>, <empty store>), and the counts
  probe <root> <runs>     best CPU seconds of reading every file of the source's layers and writing
                          the same bytes to fresh files (the copy's unavoidable input and output)

The module comes from PYTHONPATH: the caller picks the build.
"""

import os
import random
import resource
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import clean_merge_bench  # noqa: E402  (the one home of the store's shape)


def cpu():
    r = resource.getrusage(resource.RUSAGE_SELF)
    return r.ru_utime + r.ru_stime


def make(root, lines):
    marker = os.path.join(root, ".zr", "bench-size")
    if os.path.exists(marker) and open(marker).read() == str(lines):
        return
    shutil.rmtree(root, ignore_errors=True)
    clean_merge_bench.source_store(root, lines, random.Random(2))
    with open(marker, "w") as f:
        f.write(str(lines))


def timed(root, runs):
    import _zr_native as zr
    best = float("inf")
    for _ in range(runs):
        dst = root + f"-target-{os.getpid()}"
        shutil.rmtree(dst, ignore_errors=True)
        zr.init(dst)
        c = cpu()
        counts = zr.merge_absorb(root, dst)
        best = min(best, cpu() - c)
        shutil.rmtree(dst)
    print(best, sum(v for k, v in counts.items() if k != "skipped"))


def probe(root, runs):
    st = os.path.join(root, ".zr")
    files = [os.path.join(d, n) for d in (os.path.join(st, x) for x in os.listdir(st)) if os.path.isdir(d)
             for n in os.listdir(d)]
    best = float("inf")
    for _ in range(runs):
        out = root + f"-probe-{os.getpid()}"
        shutil.rmtree(out, ignore_errors=True)
        os.mkdir(out)
        t = cpu()
        for i, path in enumerate(files):
            with open(path, "rb", buffering=0) as f:
                data = f.read()
            with open(os.path.join(out, str(i)), "wb", buffering=0) as f:
                f.write(data)
        best = min(best, cpu() - t)
        shutil.rmtree(out)
    print(best)


if __name__ == "__main__":
    command, root = sys.argv[1], sys.argv[2]
    {"make": lambda: make(root, int(sys.argv[3])), "time": lambda: timed(root, int(sys.argv[3])),
     "probe": lambda: probe(root, int(sys.argv[3]))}[command]()
