"""A walk through the _zr_native module on the bundled sample corpus.

Creates a throw-away project in a temporary directory, copies the sample
data into it and runs the module's operations step by step, printing what
each one did. Run it through scripts/walkthrough.sh, which builds the module
first.
"""

import json
import os
import shutil
import sys
import tempfile

import _zr_native as zr

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE = os.path.join(HERE, "sample", "corpus.jsonl")


def step(title):
    print()
    print(f"== {title}")


def show_file(path, limit=3):
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines()
    for line in lines[:limit]:
        print(f"   | {line}")
    if len(lines) > limit:
        print(f"   | ... ({len(lines)} lines)")


def relative(project, path):
    return os.path.relpath(path, project)


def main():
    project = tempfile.mkdtemp(prefix="zr-walkthrough-")
    try:
        data_file = os.path.join(project, "corpus.jsonl")
        shutil.copy(SAMPLE, data_file)
        with open(data_file, encoding="utf-8") as f:
            lines = f.read().splitlines()
        print(f"project root: {project}")
        print(f"sample data:  corpus.jsonl, {len(lines)} lines")

        step("init: create the store")
        zr.init(project)
        for name in sorted(os.listdir(os.path.join(project, ".zr"))):
            print(f"   .zr/{name}")

        step("compute_hash: content hashes do not depend on spelling")
        first = json.loads(lines[0])
        print(f"   line 0 as written      -> {zr.compute_hash(first)}")
        reordered = dict(reversed(list(first.items())))
        print(f"   same keys, other order -> {zr.compute_hash(reordered)}")
        print(f"   1 vs 1.0               -> {zr.compute_hash(1)[:16]}... vs {zr.compute_hash(1.0)[:16]}...")

        step("jsonl_append / jsonl_read: compact, sorted, exact")
        notes = os.path.join(project, "notes.jsonl")
        zr.jsonl_append(notes, {"z": 1, "a": "café", "list": [1.0, 1e21, -0.0]})
        zr.jsonl_append(notes, {"tab": "\t", "quote": '"'})
        show_file(notes)
        print(f"   read back: {zr.jsonl_read(notes)}")

        step("shards: records spread by the first two characters of their hash")
        line_hash = zr.compute_hash(first)
        shard = zr.shard_path_str(project, "document-index", line_hash)
        print(f"   shard of {line_hash[:8]}... is {relative(project, shard)}")
        zr.jsonl_append(shard, {"line_hash": line_hash, "note": "hand-written record"})
        print(f"   shard_read -> {zr.shard_read(project, 'document-index', line_hash)}")
        print(f"   shard_iterate_all over the layer -> {len(zr.shard_iterate_all(project, 'document-index'))} record(s)")

        step("oplog_append: the operation log")
        zr.oplog_append(project, "walkthrough", "started")
        zr.oplog_append(project, "walkthrough", "hashed the sample")
        show_file(os.path.join(project, ".zr", "log"))
    finally:
        shutil.rmtree(project, ignore_errors=True)
    print()
    print("walkthrough finished")
    return 0


if __name__ == "__main__":
    sys.exit(main())
