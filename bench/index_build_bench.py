"""build_index: the native build against a pure-Python build of the same
index, at three store sizes, in one run.

Usage: PYTHONPATH=<build>/python /usr/bin/python3 bench/index_build_bench.py
           [work_dir=/tmp/zr-index-build-bench] [sizes=100000,400000,1600000] [repetitions=3]

Each store holds the given number of tracked lines (one or two sections
each), one section per 100 lines with one to three of 2,000 authors, and one
merged token-index entry per line. Stores are created on the first run and
reused. The Python build does what the native one does except rebuilding the
token binary index (the native build does that extra work too, so the ratio
is conservative); its `index` layer and index.bin are checked to be
byte-identical to the native ones.
"""
import hashlib
import json
import os
import random
import struct
import sys
import time

import _zr_native as zr

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "python"))
from json_reference import lines  # noqa: E402  (the store's reading of a JSON Lines file)


def compact(value):
    return json.dumps(value, separators=(",", ":"), ensure_ascii=False)


# --- store generation ------------------------------------------------------

def create_store(root, lines, seed=11):
    marker = os.path.join(root, ".zr", "bench-lines")
    if os.path.exists(marker) and open(marker).read() == str(lines):
        return
    if os.path.exists(root):
        import shutil
        shutil.rmtree(root)
    zr.init(root)
    rng = random.Random(seed)
    authors = ["%064x" % rng.getrandbits(256) for _ in range(2000)]
    sections, section_shards = [], {}
    for i in range(max(1, lines // 100)):
        chosen = rng.sample(authors, rng.randint(1, 3))
        text = compact({"authors": chosen, "contributors": [], "license": "MIT", "path": "s%d" % i,
                        "year": "2024"})
        h = hashlib.sha256(text.encode()).hexdigest()
        sections.append(h)
        section_shards.setdefault(h[:2], []).append(
            '{"section_hash":"%s","path":"s%d","authors":%s,"contributors":[],"license":"MIT","year":"2024"}\n'
            % (h, i, compact(chosen)))
    for shard, text in section_shards.items():
        with open(os.path.join(root, ".zr", "sections", shard), "w") as f:
            f.write("".join(text))
    doc_shards, chunk = {}, []
    merged = os.path.join(root, ".zr", "token-index.bench")
    os.makedirs(merged, exist_ok=True)
    for i in range(lines):
        lh = "%064x" % rng.getrandbits(256)
        srcs = rng.sample(sections, 1 if rng.random() < 0.7 else 2)
        doc_shards.setdefault(lh[:2], []).append(
            '{"file":"data/part-%d.jsonl","line_hash":"%s","revoked":false,"source_type":"track","sources":%s}\n'
            % (i % 16, lh, compact(srcs)))
        chunk.append('{"revoked":false,"sources":%s,"token_count":%d,"tokenizer":"bench"}\n'
                     % (compact(srcs), rng.randint(10, 4000)))
        if len(chunk) == 100000 or i == lines - 1:
            with open(os.path.join(merged, "%03d" % (i // 100000 + 1)), "w") as f:
                f.write("".join(chunk))
            chunk = []
    for shard, text in doc_shards.items():
        with open(os.path.join(root, ".zr", "document-index", shard), "w") as f:
            f.write("".join(text))
    with open(os.path.join(root, "data.jsonl"), "w") as f:
        f.write("".join('{"n":%d}\n' % i for i in range(lines)))
    with open(marker, "w") as f:
        f.write(str(lines))


# --- the pure-Python build ---------------------------------------------------

def read_records(path):
    with open(path, "rb") as f:
        data = f.read()
    for raw in lines(data):
        try:
            yield json.loads(raw)
        except ValueError:
            continue


def chunk_records(merged):
    """(chunk number, line offset, line, value) of every JSON line of a tokenizer's chunk files, in chunk order."""
    for number, n in sorted((int(n), n) for n in os.listdir(merged) if n.lstrip("+").isdigit()):
        with open(os.path.join(merged, n), "rb") as f:
            data = f.read()
        offset = 0
        for raw in data.split(b"\n"):
            line_offset, offset = offset, offset + len(raw) + 1
            if not raw:
                continue
            try:
                yield number, line_offset, raw, json.loads(raw)
            except ValueError:
                continue


def regular_files(d):
    if not os.path.isdir(d):
        return []
    return [os.path.join(d, n) for n in os.listdir(d) if os.path.isfile(os.path.join(d, n))]


def safe(key):
    """Whether a key's first two bytes name a shard file safely."""
    b = key.encode()
    return (len(b) >= 2 and (len(b) == 2 or b[2] & 0xC0 != 0x80) and b[:2] != b".."
            and b"/" not in b[:2] and b"\0" not in b[:2])


def write_durably(target, data):
    """Temporary file, flushed to disk, renamed over the target: what the native writers do."""
    tmp = os.path.join(os.path.dirname(target), ".tmp-python-bench")
    with open(tmp, "wb") as f:
        f.write(data)
        f.flush()
        os.fsync(f.fileno())
    os.replace(tmp, target)


def python_token_bin(root, tokenizer):
    """The token binary index of one tokenizer (entries, source table, fanout)."""
    merged = os.path.join(root, ".zr", "token-index." + tokenizer)
    if not os.path.isdir(merged):
        return
    records, keyed = [], {}
    for number, start, piece, v in chunk_records(merged):
        if not (isinstance(v, dict) and type(v.get("token_count")) is int and isinstance(v.get("sources"), list)
                and isinstance(v.get("tokenizer"), str) and type(v.get("revoked")) is bool
                and all(isinstance(x, str) for x in v["sources"])):
            continue
        for src in v["sources"]:
            try:
                key = bytes.fromhex(src) if len(src) == 64 else None
            except ValueError:
                key = None
            if key is not None:
                keyed.setdefault(key, []).append(len(records))
        records.append(struct.pack("<HIIB5x", number % 65536, start, len(piece), 1 if v["revoked"] else 0))
    n, keys = len(records), sorted(keyed)
    source_off = 64 + 16 * n
    table, fanout, at = [], [0] * 256, source_off
    for key in keys:
        if fanout[key[0]] == 0:
            fanout[key[0]] = at
        numbers = keyed[key]
        record = key + struct.pack("<H%dI" % len(numbers), len(numbers), *numbers)
        table.append(record)
        at += len(record)
    header = b"ZRIDXTI01" + struct.pack("<IIIIII", 1, n, len(keys), 64, source_off, at) + bytes(31)
    write_durably(os.path.join(root, ".zr", "token-index.%s.bin" % tokenizer),
                  header + b"".join(records) + b"".join(table) + struct.pack("<256Q", *fanout))


def python_build(root, with_token_bins=False):
    s = os.path.join(root, ".zr")
    source_table = {}
    for path in regular_files(os.path.join(s, "document-index")):
        for rec in read_records(path):
            if not isinstance(rec, dict):
                continue
            lh, srcs = rec.get("line_hash"), rec.get("sources")
            if isinstance(lh, str) and isinstance(srcs, list) and safe(lh):
                for src in srcs:
                    if isinstance(src, str):
                        source_table.setdefault(src, set()).add(lh.encode()[:2].decode())
    section_table, author_table = {}, {}
    for path in regular_files(os.path.join(s, "sections")):
        for rec in read_records(path):
            if not isinstance(rec, dict):
                continue
            h = rec.get("section_hash")
            if not isinstance(h, str) or not safe(h):
                continue
            if h not in section_table:
                section_table[h] = sorted(source_table.get(h, ()))
            if isinstance(rec.get("authors"), list):
                for a in rec["authors"]:
                    if isinstance(a, str) and safe(a):
                        author_table.setdefault(a, set()).add(h[:2])
    groups = {}
    for a, refs in author_table.items():
        groups.setdefault(a[:2], [[], []])[0].append(compact({"id": a, "refs": sorted(refs)}) + "\n")
    for h, refs in section_table.items():
        groups.setdefault(h[:2], [[], []])[1].append(compact({"id": h, "refs": refs}) + "\n")
    index_dir = os.path.join(s, "index")
    for path in regular_files(index_dir):
        os.remove(path)
    os.makedirs(index_dir, exist_ok=True)
    for name in sorted(groups):
        with open(os.path.join(index_dir, name), "w") as f:
            f.write("".join(groups[name][0]) + "".join(groups[name][1]))

    entries, positions = [], {}
    for name in os.listdir(index_dir):
        path = os.path.join(index_dir, name)
        if not os.path.isfile(path) or name.rfind(".") > 0:
            continue
        for rec in read_records(path):
            try:
                key = bytes.fromhex(rec["id"]) if len(rec["id"]) == 64 else None
            except (ValueError, TypeError, KeyError):
                key = None
            if key is None:
                continue
            positions.setdefault(key, len(entries))
            refs = [bytes([0, int(r.lstrip("+"), 16)]) for r in rec.get("refs", []) if isinstance(r, str)]
            entries.append([key, refs, 65535 - 2 * len(refs), False])
    token_lines = 0
    for tokenizer in zr.token_index_list_tokenizers(root):
        merged = os.path.join(s, "token-index." + tokenizer)
        if not os.path.isdir(merged):
            continue
        name = tokenizer.encode()
        for number, line_offset, raw, rec in chunk_records(merged):
            if not isinstance(rec, dict) or not isinstance(rec.get("sources"), list):
                continue
            token_lines += 1
            ref = b"\x01" + bytes([len(name)]) + name + struct.pack("<HII", number % 65536, line_offset, len(raw))
            for src in rec["sources"]:
                try:
                    key = bytes.fromhex(src) if isinstance(src, str) and len(src) == 64 else None
                except ValueError:
                    key = None
                if key is None:
                    continue
                if key not in positions:
                    positions[key] = len(entries)
                    entries.append([key, [], 65535, False])
                entry = entries[positions[key]]
                if entry[3] or len(ref) > entry[2]:
                    entry[3] = True
                    continue
                entry[2] -= len(ref)
                entry[1].append(ref)
    entries.sort(key=lambda e: e[0])
    body, fanout, offset = [], [0] * 256, 24
    previous = None
    for key, refs, _, _ in entries:
        if key[0] != previous:
            fanout[key[0]] = offset
            previous = key[0]
        payload = b"".join(refs)
        record = key + struct.pack("<H", len(payload)) + payload
        body.append(record)
        offset += len(record)
    out = [b"ZRIDXF02", struct.pack("<IIQ", len(entries), 0, offset)] + body + [struct.pack("<256Q", *fanout)]
    data_files = [n for n in os.listdir(root) if n.rfind(".") > 0 and n[n.rfind(".") + 1:] == "jsonl"]
    if data_files:
        with open(os.path.join(root, data_files[0]), "rb") as f:
            data = f.read()
        if data:
            starts = [0] + [i + 1 for i, c in enumerate(data) if c == 10 and i + 1 < len(data)]
            out.append(struct.pack("<I%dI" % len(starts), len(starts), *starts))
    write_durably(os.path.join(s, "index.bin"), b"".join(out))
    if with_token_bins:
        for tokenizer in zr.token_index_list_tokenizers(root):
            python_token_bin(root, tokenizer)
    return {"authors": len(author_table), "sections": len(section_table),
            "total": len(author_table) + len(section_table), "token_index_entries": token_lines}


# --- timing ------------------------------------------------------------------

def snapshot(root):
    index_dir = os.path.join(root, ".zr", "index")
    layer = {n: open(os.path.join(index_dir, n), "rb").read() for n in os.listdir(index_dir)}
    token_bin = os.path.join(root, ".zr", "token-index.bench.bin")
    return (layer, open(os.path.join(root, ".zr", "index.bin"), "rb").read(),
            open(token_bin, "rb").read() if os.path.exists(token_bin) else None)


def timed(fn, repetitions):
    """(result, wall ms, cpu ms): minimums over the repetitions. Both builds run on
    one thread, so their CPU times compare them even on a busy machine."""
    walls, cpus, result = [], [], None
    for _ in range(repetitions):
        wall, cpu = time.perf_counter(), time.process_time()
        result = fn()
        cpus.append((time.process_time() - cpu) * 1e3)
        walls.append((time.perf_counter() - wall) * 1e3)
    return result, min(walls), min(cpus)


def main():
    work = sys.argv[1] if len(sys.argv) > 1 else "/tmp/zr-index-build-bench"
    sizes = [int(x) for x in (sys.argv[2] if len(sys.argv) > 2 else "100000,400000,1600000").split(",")]
    repetitions = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    print("best of %d runs, wall ms / cpu ms; 'attribution' = build_index minus its token binary index" % repetitions)
    print("rebuild (timed alone); 'py index' builds the index layer and index.bin, 'py all' also the token")
    print("binary index, as build_index does")
    print("%9s %15s %15s %15s %15s %15s %9s %9s" % (
        "lines", "build_index", "token bin", "attribution", "py index", "py all", "all", "index"))
    rows = []
    for lines in sizes:
        root = os.path.join(work, "store-%d" % lines)
        create_store(root, lines)
        native, n_wall, n_cpu = timed(lambda: zr.build_index(root), repetitions)
        native_files = snapshot(root)
        _, t_wall, t_cpu = timed(lambda: zr.token_index_build_binary_index(root, "bench"), repetitions)
        python, p_wall, p_cpu = timed(lambda: python_build(root), repetitions)
        assert python == native, (python, native)
        assert snapshot(root)[:2] == native_files[:2], "the Python build wrote other bytes"
        _, pa_wall, pa_cpu = timed(lambda: python_build(root, with_token_bins=True), repetitions)
        assert snapshot(root) == native_files, "the Python token binary index differs"
        a_wall, a_cpu = n_wall - t_wall, n_cpu - t_cpu
        rows.append((lines, n_cpu, a_cpu))
        print("%9d %7.0f /%6.0f %7.0f /%6.0f %7.0f /%6.0f %7.0f /%6.0f %7.0f /%6.0f %8.1fx %8.1fx" % (
            lines, n_wall, n_cpu, t_wall, t_cpu, a_wall, a_cpu, p_wall, p_cpu, pa_wall, pa_cpu,
            pa_cpu / n_cpu, p_cpu / a_cpu))
    for (l0, t0, a0), (l1, t1, a1) in zip(rows, rows[1:]):
        print("growth %d -> %d lines (x%.1f): build_index cpu x%.2f, attribution part cpu x%.2f" % (
            l0, l1, l1 / l0, t1 / t0, a1 / a0))
    print("ratios on cpu time: all = py all / build_index (the same work); index = py index / attribution")
    print("target: at least 5x; time linear in the store size")


if __name__ == "__main__":
    main()
