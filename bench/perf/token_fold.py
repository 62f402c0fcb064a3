"""Folding per-process token files, new build against a baseline build.

Driven by bench/perf/token_merge.sh and bench/perf/clean.sh:

  token_fold.py bench <merge|clean> <new_build> <baseline_build> <work_dir>

prints one ROW line on stdout (path, work, time, limit probe, ratio to the
limit, speed-up over the baseline, tab-separated) and the details on stderr.
Each build runs in a process of its own (both load a module of the same
name) on a fresh copy of the same store: N per-process files of 10,000
entries each (N = 100, or 10 with SIZE=small). Figures are wall-clock
seconds, the best of several alternating runs; CPU seconds are shown on
stderr. The two builds must leave byte-identical stores.

The limit probe does what the store's format cannot avoid on the same files:
read each per-process file, write its bytes to a temporary file, flush it,
rename it into place and delete the per-process file (write-back of one file
overlapping the writing of the next, as the merge does). For clean it also
reads the written chunk bytes back and writes and flushes a file as large as
the token binary index.
"""

import ctypes
import hashlib
import json
import os
import random
import resource
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import module_cpu  # noqa: E402

ENTRIES_PER_FILE = 10_000
TOKENIZER = "tk"
SYNC_FILE_RANGE_WRITE = 2

_libc = ctypes.CDLL(None, use_errno=True)


def start_write_back(fd):
    _libc.sync_file_range(fd, ctypes.c_longlong(0), ctypes.c_longlong(0), SYNC_FILE_RANGE_WRITE)


# ---------------------------------------------------------------- the store

def generate(root, files):
    rng = random.Random(1)
    sections = [hashlib.sha256(f"section {i}".encode()).hexdigest() for i in range(1000)]
    store = os.path.join(root, ".zr")
    os.makedirs(store, exist_ok=True)
    for pid in range(files):
        lines = [json.dumps({"token_count": rng.randrange(1, 4000),
                             "sources": rng.sample(sections, rng.randrange(1, 4)),
                             "tokenizer": TOKENIZER, "revoked": False}, separators=(",", ":"))
                 for _ in range(ENTRIES_PER_FILE)]
        with open(os.path.join(store, f"token-index.{TOKENIZER}.{100000 + pid}"), "w") as f:
            f.write("\n".join(lines) + "\n")


def pid_files(store):
    prefix = f"token-index.{TOKENIZER}."
    return [name for name in os.listdir(store) if name.startswith(prefix) and name[len(prefix):].isdigit()]


def fresh_copy(pristine, root):
    shutil.rmtree(root, ignore_errors=True)
    shutil.copytree(pristine, root)
    os.sync()  # the copy's own write-back must not land inside a timed run


def store_digest(root):
    """Names and bytes of everything in the store but the log (it holds times)."""
    digest = hashlib.sha256()
    store = os.path.join(root, ".zr")
    for dirpath, dirnames, filenames in os.walk(store):
        dirnames.sort()
        for name in sorted(filenames):
            path = os.path.join(dirpath, name)
            if os.path.relpath(path, store) in ("log", "log.1"):
                continue
            digest.update(os.path.relpath(path, store).encode() + b"\0")
            with open(path, "rb") as f:
                digest.update(f.read())
    return digest.hexdigest()


# ------------------------------------------------------------ timed phases

def cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def run_operation(op, root):
    import _zr_native as zr
    wall, cpu = time.perf_counter(), cpu_seconds()
    if op == "merge":
        result = list(zr.token_index_merge_pid_files(root, TOKENIZER))
    else:
        result = zr.clean(root, False)
    wall, cpu = time.perf_counter() - wall, cpu_seconds() - cpu
    print(json.dumps({"wall": wall, "cpu": cpu, "result": result}))


def probe(op, root, bin_size):
    store = os.path.join(root, ".zr")
    merged = os.path.join(store, f"token-index.{TOKENIZER}")
    wall, cpu = time.perf_counter(), cpu_seconds()
    os.makedirs(merged, exist_ok=True)
    pending = None

    def complete(item):
        fd, temp, target, source = item
        os.fsync(fd)
        os.close(fd)
        os.rename(temp, target)
        os.unlink(source)

    chunks = []
    for number, name in enumerate(pid_files(store), start=1):
        source = os.path.join(store, name)
        with open(source, "rb") as f:
            data = f.read()
        temp = os.path.join(merged, f".tmp-{number}")
        fd = os.open(temp, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
        os.write(fd, data)
        start_write_back(fd)
        if pending:
            complete(pending)
        pending = (fd, temp, os.path.join(merged, f"{number:03d}"), source)
        chunks.append(pending[2])
    if pending:
        complete(pending)
    if op == "clean":
        for chunk in chunks:
            with open(chunk, "rb") as f:
                f.read()
        temp = os.path.join(store, ".tmp-bin")
        fd = os.open(temp, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
        os.write(fd, b"\0" * bin_size)
        os.fsync(fd)
        os.close(fd)
        os.rename(temp, os.path.join(store, f"token-index.{TOKENIZER}.bin"))
    wall, cpu = time.perf_counter() - wall, cpu_seconds() - cpu
    print(json.dumps({"wall": wall, "cpu": cpu}))


# ------------------------------------------------------------ orchestration

def child(args, pythonpath=None):
    env = dict(os.environ)
    if pythonpath:
        env["PYTHONPATH"] = pythonpath
    out = subprocess.run([sys.executable, os.path.abspath(__file__)] + args, env=env, check=True,
                         stdout=subprocess.PIPE, text=True).stdout
    return json.loads(out.strip().splitlines()[-1])


def bench(op, new_build, base_build, work, small):
    files = 10 if small else 100
    rounds = 2 if small else 3
    pristine = os.path.join(work, f"token-fold-{files}")
    if not os.path.isdir(pristine):
        generate(pristine + ".partial", files)
        os.rename(pristine + ".partial", pristine)
    pristine_store = os.path.join(pristine, ".zr")
    input_bytes = sum(os.path.getsize(os.path.join(pristine_store, n)) for n in pid_files(pristine_store))
    root = os.path.join(work, "token-fold-run")

    digests = {}
    bin_size = 0

    def side(name, build):
        def run():
            nonlocal bin_size
            fresh_copy(pristine, root)
            report = child(["run", op, root], os.path.join(build, "python"))
            digests.setdefault(name, store_digest(root))
            if name == "new":
                bin_path = os.path.join(root, ".zr", f"token-index.{TOKENIZER}.bin")
                bin_size = os.path.getsize(bin_path) if os.path.exists(bin_path) else 0
            return report["wall"], report
        return run

    def limit_probe():
        # The new build has run before it in the first round: the index it wrote gives bin_size.
        fresh_copy(pristine, root)
        report = child(["probe", op, root, str(bin_size)])
        return report["wall"], report

    best = module_cpu.best_alternating(
        [("base", side("base", base_build)), ("new", side("new", new_build)), ("probe", limit_probe)], rounds)
    shutil.rmtree(root, ignore_errors=True)

    same = digests["new"] == digests["base"]
    new, base, limit = best["new"][1], best["base"][1], best["probe"][1]
    name = "token_index_merge_pid_files" if op == "merge" else "clean"
    for label, report in (("new", new), ("base", base), ("probe", limit)):
        print(f"{name}: {label:5} {report['wall']:.3f} s wall, {report['cpu']:.3f} s CPU", file=sys.stderr)
    print(f"{name}: CPU speed-up {base['cpu'] / new['cpu']:.2f}x; stores identical: {same}", file=sys.stderr)
    if not same:
        print(f"{name}: the new build's store differs from the baseline's", file=sys.stderr)
        return 1
    work_text = f"{files} files x {ENTRIES_PER_FILE:,} entries ({input_bytes / 1e6:.0f} MB)"
    module_cpu.row(name, work_text, f"{new['wall']:.3f} s wall", f"{limit['wall']:.3f} s wall",
                   new["wall"] / limit["wall"], base["wall"] / new["wall"])
    return 0


def main(argv):
    if argv[0] == "run":
        run_operation(argv[1], argv[2])
    elif argv[0] == "probe":
        probe(argv[1], argv[2], int(argv[3]))
    elif argv[0] == "bench":
        # bench_arguments reads the builds and the work dir after the script's name; the operation stands there.
        new_build, base_build, work, small = module_cpu.bench_arguments(argv[1:])
        return bench(argv[1], new_build, base_build, work, small)
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
