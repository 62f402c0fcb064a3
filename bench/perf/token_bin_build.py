"""Token binary index build: CPU per entry of the new build against the
baseline build, and against reading the chunk files plus writing the index.

Usage: token_bin_build.py <new_build_dir> <baseline_build_dir> <work_dir>

The store holds 1,000,000 merged entries (SIZE=small: 100,000), 10,000 per
chunk file, each naming 1 to 3 of 50,000 section hashes, 1 % revoked, in the
member order the merge writes. Both builds must write the same bytes.
"""
import hashlib
import os
import random
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import module_cpu  # noqa: E402

TOKENIZER = "bench"
PER_CHUNK = 10000


def create_store(root, entries):
    marker = os.path.join(root, ".zr", "bench-entries")
    if os.path.exists(marker) and open(marker).read() == str(entries):
        return
    merged = os.path.join(root, ".zr", "token-index." + TOKENIZER)
    os.makedirs(merged, exist_ok=True)
    for name in os.listdir(merged):
        os.remove(os.path.join(merged, name))
    rng = random.Random(entries)
    sections = [hashlib.sha256(b"section %d" % i).hexdigest() for i in range(50000)]
    for chunk in range(1, entries // PER_CHUNK + 1):
        lines = []
        for _ in range(PER_CHUNK):
            sources = ",".join('"%s"' % rng.choice(sections) for _ in range(rng.randint(1, 3)))
            lines.append('{"revoked":%s,"sources":[%s],"token_count":%d,"tokenizer":"%s"}\n' % (
                "true" if rng.random() < 0.01 else "false", sources, rng.randint(20, 2019), TOKENIZER))
        with open(os.path.join(merged, "%03d" % chunk), "w") as f:
            f.write("".join(lines))
    with open(marker, "w") as f:
        f.write(str(entries))


def sha256_of(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def main():
    new_build, base_build, work, small = module_cpu.bench_arguments(sys.argv)
    entries = 100000 if small else 1000000
    rounds = 2 if small else 3
    root = os.path.join(work, "token-bin-%d" % entries)
    create_store(root, entries)
    merged = os.path.join(root, ".zr", "token-index." + TOKENIZER)
    chunks = [os.path.join(merged, n) for n in sorted(os.listdir(merged))]
    index = os.path.join(root, ".zr", "token-index.%s.bin" % TOKENIZER)

    best = module_cpu.compare_builds(
        "token_bin_build", new_build, base_build, "import _zr_native as zr",
        "result = zr.token_index_build_binary_index(%r, %r)" % (root, TOKENIZER), rounds, lambda: sha256_of(index))
    floor_setup = module_cpu.read_write_floor_setup(chunks, os.path.getsize(index),
                                                    os.path.join(work, "token-bin-floor.out"))
    floor = min(module_cpu.child_cpu(None, floor_setup, "result = floor()", 3)[0] for _ in range(rounds))

    new_cpu, base_cpu = best["new"][0], best["base"][0]
    chunk_mb = sum(os.path.getsize(c) for c in chunks) / 1e6
    print("token binary index build, %d entries (%.0f MB of chunks, index %.1f MB), %s" % (
        entries, chunk_mb, os.path.getsize(index) / 1e6, best["new"][1]), file=sys.stderr)
    print("  CPU per entry: new %.3f us, baseline %.3f us, read+write floor %.3f us" % (
        new_cpu / entries * 1e6, base_cpu / entries * 1e6, floor / entries * 1e6), file=sys.stderr)
    module_cpu.row("token binary index build", "%d entries, %.0f MB" % (entries, chunk_mb),
                   "%.3f us/entry CPU" % (new_cpu / entries * 1e6),
                   "%.3f us/entry CPU (read chunks + write index)" % (floor / entries * 1e6),
                   new_cpu / floor, base_cpu / new_cpu)


if __name__ == "__main__":
    main()
