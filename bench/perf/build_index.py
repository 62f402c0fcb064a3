"""build_index: CPU of the new build against the baseline build, and
against reading its inputs plus writing its outputs.

Usage: build_index.py <new_build_dir> <baseline_build_dir> <work_dir>

The store is the one bench/index_build_bench.py creates: 1,600,000 tracked
lines (SIZE=small: 100,000), one or two sections each, one merged token-index
entry per line. Both builds must write the same bytes.
"""
import hashlib
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import module_cpu  # noqa: E402


def files_under(directory):
    found = []
    for parent, _, names in os.walk(directory):
        found.extend(os.path.join(parent, n) for n in sorted(names))
    return sorted(found)


def outputs(root):
    store = os.path.join(root, ".zr")
    return (files_under(os.path.join(store, "index")) + [os.path.join(store, "index.bin")] +
            [os.path.join(store, n) for n in sorted(os.listdir(store)) if n.endswith(".bin") and n != "index.bin"])


def digest(paths):
    h = hashlib.sha256()
    for path in paths:
        h.update(path.encode() + b"\0")
        with open(path, "rb") as f:
            h.update(f.read())
    return h.hexdigest()


def main():
    new_build, base_build, work, small = module_cpu.bench_arguments(sys.argv)
    lines = 100000 if small else 1600000
    rounds = 2 if small else 3
    # The store generator uses the module (for init); the new build's.
    sys.path.insert(0, os.path.join(os.path.abspath(new_build), "python"))
    sys.path.insert(0, os.path.join(HERE, ".."))
    import index_build_bench
    root = os.path.join(work, "build-index-%d" % lines)
    index_build_bench.create_store(root, lines)
    store = os.path.join(root, ".zr")
    inputs = (files_under(os.path.join(store, "document-index")) + files_under(os.path.join(store, "sections")) +
              files_under(os.path.join(store, "token-index.bench")) + [os.path.join(root, "data.jsonl")])

    best = module_cpu.compare_builds("build_index", new_build, base_build, "import _zr_native as zr",
                                     "result = zr.build_index(%r)" % root, rounds, lambda: digest(outputs(root)))
    written = sum(os.path.getsize(p) for p in outputs(root))
    floor_setup = module_cpu.read_write_floor_setup(inputs, written, os.path.join(work, "build-index-floor.out"))
    floor = min(module_cpu.child_cpu(None, floor_setup, "result = floor()", 3)[0] for _ in range(rounds))

    new_cpu, base_cpu = best["new"][0], best["base"][0]
    read_mb = sum(os.path.getsize(p) for p in inputs) / 1e6
    print("build_index, %d lines (%.0f MB read, %.0f MB written), %s" % (lines, read_mb, written / 1e6,
                                                                      best["new"][1]), file=sys.stderr)
    print("  CPU: new %.3f s, baseline %.3f s, read+write floor %.3f s" % (new_cpu, base_cpu, floor),
          file=sys.stderr)
    module_cpu.row("build_index", "%d lines, %.0f MB" % (lines, read_mb),
                   "%.3f s CPU (%.3f us/line)" % (new_cpu, new_cpu / lines * 1e6),
                   "%.3f s CPU (read inputs + write outputs)" % floor, new_cpu / floor, base_cpu / new_cpu)


if __name__ == "__main__":
    main()
