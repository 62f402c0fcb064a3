"""Cost of one call through the module's binding, for two builds in one run.

Usage: /usr/bin/python3 bench/module_call_bench.py <baseline python dir> <candidate python dir> [rounds]

Each directory holds a built _zr_native (e.g. a copy of build/python taken
before a change, and build/python after it). Both builds run the same calls in
alternating child interpreters, so load on the machine hits them alike; the
figures are the best round's processor time per call (time spent waiting for
a processor is not counted) and the candidate/baseline ratio.
The calls are chosen so that argument binding and result conversion are a
large share of the work: shard_path_str does no file work at all,
compute_hash converts one small json argument, revoke_section binds a default
and finds no shard, and track / jsonl_append do one small append each.
"""
import os
import subprocess
import sys

CHILD = r"""
import os, sys, tempfile, time
import _zr_native as zr
calls = int(sys.argv[1])
root = tempfile.mkdtemp()
zr.init(root)
data = {"id": 7, "text": "a small record", "tags": ["x", "y"]}
path = os.path.join(root, "out.jsonl")
cases = {
    "shard_path_str": lambda: zr.shard_path_str(root, "document-index", "ab" * 32),
    "shard_path_str by keyword": lambda: zr.shard_path_str(zr_dir=root, layer="document-index", hash_hex="ab" * 32),
    "compute_hash": lambda: zr.compute_hash(data),
    "revoke_section (no shard)": lambda: zr.revoke_section(root, "cd" * 32),
    "track": lambda: zr.track(data, "f.jsonl", ["s1", "s2"], root, 12, "tk"),
    "jsonl_append": lambda: zr.jsonl_append(path, data),
}
for name, call in cases.items():
    start = time.process_time()
    for _ in range(calls):
        call()
    print(name + "\t" + repr((time.process_time() - start) / calls * 1e9))
"""


def run(directory, calls):
    env = dict(os.environ, PYTHONPATH=directory, PYTHONDONTWRITEBYTECODE="1")
    out = subprocess.run([sys.executable, "-c", CHILD, str(calls)], env=env, check=True, capture_output=True,
                         text=True).stdout
    return {name: float(ns) for name, ns in (line.split("\t") for line in out.splitlines())}


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    baseline, candidate = sys.argv[1], sys.argv[2]
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    best = ({}, {})
    for _ in range(rounds):
        for side, directory in enumerate((baseline, candidate)):
            for name, ns in run(directory, 20000).items():
                best[side][name] = min(ns, best[side].get(name, float("inf")))
    print(f"{'call':28} {'baseline ns':>12} {'candidate ns':>13} {'ratio':>7}")
    for name, base in best[0].items():
        cand = best[1][name]
        print(f"{name:28} {base:12.0f} {cand:13.0f} {cand / base:7.3f}")


if __name__ == "__main__":
    main()
