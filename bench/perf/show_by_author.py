"""Store and timing helper of bench/perf/show_by_author.sh.

  make <root> <lines>              builds the store (kept when it is already there) and its index.bin
  time <root> <name> <runs>        best wall and CPU seconds of show_by_author(<root>, <name>), and its
                                   result's digest and length
  read <root> <name>               best wall seconds of reading the bytes of the document shards holding
                                   the author's lines (the index path's unavoidable input)

The module comes from PYTHONPATH: the caller picks the build.
"""

import hashlib
import json
import os
import random
import resource
import sys
import time

SPREAD = "Spread Author"    # lines in (nearly) every document shard
NARROW = "Narrow Author"    # lines in 7 document shards


def sha(text):
    return hashlib.sha256(text.encode()).hexdigest()


def compact(value):
    return json.dumps(value, separators=(",", ":"), sort_keys=True)


def make(root, lines):
    import _zr_native as zr
    marker = os.path.join(root, ".zr", "bench-size")
    if os.path.exists(marker) and open(marker).read() == str(lines):
        return
    rng = random.Random(14)
    zr.init(root)
    st = os.path.join(root, ".zr")
    shards = {}

    def add(layer, key, record):
        shards.setdefault((layer, key[:2]), []).append(compact(record))

    authors = []
    for i in range(5000):
        name, email = f"Author {i}", f"a{i}@example.org"
        aid = sha(name + email)
        authors.append(aid)
        add("authors", aid, {"email": email, "id": aid, "name": name, "revoked": False})
    sought = {}
    for name in (SPREAD, NARROW):
        ids = []
        for email in ("one@example.org", "two@example.org"):
            aid = sha(name + email)
            ids.append(aid)
            add("authors", aid, {"email": email, "id": aid, "name": name, "revoked": False})
        sought[name] = ids

    def section(path, ids):
        h = sha(path + "".join(ids))
        add("sections", h, {"authors": ids, "contributors": [], "license": "MIT", "path": path, "revoked": False,
                            "section_hash": h, "year": "2024"})
        return h

    sections = [section(f"docs/{i}.md", rng.sample(authors, rng.randrange(1, 4))) for i in range(10000)]
    spread = [section(f"spread/{i}.md", [sought[SPREAD][i % 2]]) for i in range(20)]
    narrow = [section(f"narrow/{i}.md", [sought[NARROW][i % 2]]) for i in range(2)]
    narrow_shards = set()
    for i in range(lines):
        sources = [sections[rng.randrange(len(sections))]]
        if rng.random() < 0.3:
            sources.append(sections[rng.randrange(len(sections))])
        h = sha(f"line {i}")
        if i % 250 == 0:
            sources = [spread[rng.randrange(len(spread))]] + sources[:1]
        elif len(narrow_shards) < 7 and h[:2] not in narrow_shards:
            narrow_shards.add(h[:2])
            sources = [narrow[len(narrow_shards) % 2]]
        add("document-index", h, {"file": f"data/part-{i % 16}.jsonl", "line_hash": h, "revoked": False,
                                  "source_type": "track", "sources": sources})
    for (layer, name), records in shards.items():
        with open(os.path.join(st, layer, name), "w") as f:
            f.write("\n".join(records) + "\n")
    zr.build_index(root)
    with open(marker, "w") as f:
        f.write(str(lines))


def cpu():
    r = resource.getrusage(resource.RUSAGE_SELF)
    return r.ru_utime + r.ru_stime


def timed(root, name, runs):
    import _zr_native as zr
    zr.show_by_author(root, name)  # the worker pool starts here, and the page cache is warm
    best_wall = best_cpu = float("inf")
    for _ in range(runs):
        c, t = cpu(), time.perf_counter()
        records = zr.show_by_author(root, name)
        best_wall = min(best_wall, time.perf_counter() - t)
        best_cpu = min(best_cpu, cpu() - c)
    digest = hashlib.sha256("\n".join(sorted(compact(r) for r in records)).encode()).hexdigest()[:16]
    print(best_wall, best_cpu, digest, len(records))


def read_named_shards(root, name):
    """Reads the document shards that hold the author's lines, as the index path must."""
    import _zr_native as zr
    names = sorted({r["line_hash"][:2] for r in zr.show_by_author(root, name)})
    paths = [os.path.join(root, ".zr", "document-index", n) for n in names]
    best = float("inf")
    for _ in range(5):
        t = time.perf_counter()
        total = 0
        for p in paths:
            with open(p, "rb", buffering=0) as f:
                total += len(f.read())
        best = min(best, time.perf_counter() - t)
    print(best, len(names), total)


if __name__ == "__main__":
    command, root = sys.argv[1], sys.argv[2]
    if command == "make":
        make(root, int(sys.argv[3]))
    elif command == "time":
        timed(root, sys.argv[3], int(sys.argv[4]))
    elif command == "read":
        read_named_shards(root, sys.argv[3])
