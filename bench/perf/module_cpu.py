"""CPU time of module calls and of the read-plus-write floor, measured in
child processes pinned to one core, for the bench/perf scripts.

A child imports the module of one build (PYTHONPATH=<build>/python), runs
the call `repetitions` times and reports its best CPU time. The new and the
baseline builds are measured alternately in the same run, so a busy machine
hurts both alike; ratios are what the scripts report. The Python scripts
of bench/perf also take their command line and compare the builds' outputs
here (bench/harness.sh does the same for the shell scripts).
"""
import json
import os
import subprocess
import sys

PYTHON = "/usr/bin/python3"

_CHILD = r"""
import json, os, sys, time
setup, call, repetitions = sys.argv[1], sys.argv[2], int(sys.argv[3])
namespace = {}
exec(setup, namespace)
best = None
for _ in range(repetitions):
    start = time.process_time()
    exec(call, namespace)
    spent = time.process_time() - start
    best = spent if best is None else min(best, spent)
print(json.dumps({"cpu": best, "result": repr(namespace.get("result"))}))
"""


def one_core():
    """The first core this process may run on, for taskset."""
    return str(min(os.sched_getaffinity(0)))


def child_cpu(build_dir, setup, call, repetitions):
    """(best CPU seconds, repr of `result`) of `call` run in a child process
    that imports the module from build_dir."""
    env = dict(os.environ)
    if build_dir:
        env["PYTHONPATH"] = os.path.join(build_dir, "python")
    command = ["taskset", "-c", one_core(), PYTHON, "-c", _CHILD, setup, call, str(repetitions)]
    out = subprocess.run(command, env=env, check=True, capture_output=True, text=True).stdout
    report = json.loads(out.strip().splitlines()[-1])
    return report["cpu"], report["result"]


def best_alternating(runs, rounds):
    """Runs every (name, fn) of `runs` `rounds` times, alternating, and
    returns {name: (best CPU seconds, result of the last call)}. The order
    turns round every round, so that no run always follows the same one (the
    first of a round can pay for what the last one left behind)."""
    best = {}
    for round_number in range(rounds):
        for name, fn in (runs if round_number % 2 == 0 else runs[::-1]):
            cpu, result = fn()
            if name not in best or cpu < best[name][0]:
                best[name] = (cpu, result)
    return best


def bench_arguments(argv):
    """(new build, baseline build, work dir, whether SIZE=small) of a bench/perf script's command line."""
    new_build, base_build, work = argv[1:4]
    return new_build, base_build, work, os.environ.get("SIZE") == "small"


def compare_builds(name, new_build, base_build, setup, call, rounds, output_digest):
    """best_alternating over the new and the baseline build running `call` (twice per child); stops the
    script when the two builds' results or outputs (`output_digest()` after each run) differ."""
    digests = {}

    def timed(side, build_dir):
        def run():
            cpu, result = child_cpu(build_dir, setup, call, 2)
            digests[side] = (result, output_digest())
            return cpu, result
        return run

    best = best_alternating([("base", timed("base", base_build)), ("new", timed("new", new_build))], rounds)
    if digests["new"] != digests["base"]:
        sys.exit("%s: the builds differ: %r vs %r" % (name, digests["new"], digests["base"]))
    return best


def read_write_floor_setup(inputs, output_size, scratch):
    """Setup text for a child that reads every byte of `inputs` and writes
    `output_size` bytes to `scratch`: the work no build can avoid."""
    return (
        "import os\n"
        "inputs = %r\n"
        "size = %d\n"
        "scratch = %r\n"
        "def floor():\n"
        "    buf = bytearray(1 << 20)\n"
        "    total = 0\n"
        "    for path in inputs:\n"
        "        fd = os.open(path, os.O_RDONLY)\n"
        "        view = memoryview(buf)\n"
        "        while True:\n"
        "            n = os.readv(fd, [view])\n"
        "            if n == 0: break\n"
        "            total += n\n"
        "        os.close(fd)\n"
        "    out = bytes(size)\n"
        "    fd = os.open(scratch, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)\n"
        "    view, done = memoryview(out), 0\n"
        "    while done < size:\n"
        "        done += os.write(fd, view[done:done + (1 << 24)])\n"
        "    os.close(fd)\n"
        "    return total\n" % (list(inputs), output_size, scratch))


def row(path, work, time_text, limit_text, ratio, speedup):
    """One result row of the run_all.sh contract, on stdout."""
    print("ROW\t%s\t%s\t%s\t%s\t%.2f\t%.2fx" % (path, work, time_text, limit_text, ratio, speedup))
    sys.stdout.flush()
