"""blame_diff against difflib.SequenceMatcher on the same inputs, in one run.

Usage: PYTHONPATH=<build>/python /usr/bin/python3 bench/tracking_blame_diff_bench.py

Cases: (i) two 20,000-line files differing in 1% of their lines (changed,
inserted and deleted lines spread over the file) and (ii) two 2,000-line files
with no line in common, and for contrast (iii) the same two files sharing one
line, which makes the search run to its quadratic worst case. The heap the diff itself needs, at growing sizes, is
measured by the C++ benchmark tracking_blame_diff_bench.
"""
import difflib
import random
import time

import _zr_native as zr


def record_line(rng, i):
    words = " ".join(rng.choice(["tide", "comet", "bee", "lichen", "glacier", "report", "sketch"])
                     for _ in range(rng.randint(8, 30)))
    return f'{{"id": {i}, "text": "{words}", "score": {rng.random():.3f}}}'


def one_percent_changed(lines, seed=11):
    rng = random.Random(seed)
    new = list(lines)
    for _ in range(len(lines) // 100):
        pos = rng.randrange(len(new))
        kind = rng.random()
        if kind < 0.6:
            new[pos] = new[pos] + " (edited)"
        elif kind < 0.8:
            new.insert(pos, record_line(rng, -pos))
        else:
            del new[pos]
    return new


def make_case(name):
    rng = random.Random(3)
    if name == "one-percent":
        old = [record_line(rng, i) for i in range(20000)]
        return old, one_percent_changed(old)
    if name in ("disjoint", "one-shared"):
        old = [f"old {record_line(rng, i)}" for i in range(2000)]
        new = [f"new {record_line(rng, i)}" for i in range(2000)]
        if name == "one-shared":
            new[1000] = old[1000]
        return old, new
    raise ValueError(name)


def timed(fn):
    start = time.perf_counter()
    result = fn()
    return time.perf_counter() - start, result


def compare(name, rounds):
    """Best of `rounds`, the two sides alternating so that load on the machine hits both alike."""
    old, new = make_case(name)
    native = reference = float("inf")
    for _ in range(rounds):
        t, ops = timed(lambda: zr.blame_diff(old, new))
        native = min(native, t)
        t, ref_ops = timed(lambda: difflib.SequenceMatcher(None, old, new, autojunk=False).get_opcodes())
        reference = min(reference, t)
    # With one side empty the diff itself is trivial: what is left is turning
    # the two Python lists into native strings.
    conversion = min(timed(lambda: zr.blame_diff(old, []))[0] for _ in range(rounds)) + \
        min(timed(lambda: zr.blame_diff([], new))[0] for _ in range(rounds))
    changed = sum(i2 - i1 + j2 - j1 for tag, i1, i2, j1, j2 in ops if tag != "equal")
    ref_changed = sum(i2 - i1 + j2 - j1 for tag, i1, i2, j1, j2 in ref_ops if tag != "equal")
    print(f"  {name:12s} {len(old):6d} vs {len(new):6d} lines: native {native * 1e3:9.2f} ms, "
          f"difflib {reference * 1e3:9.2f} ms, speed-up {reference / native:7.1f}x "
          f"(changed lines: native {changed}, difflib {ref_changed}; "
          f"argument conversion {conversion * 1e3:.2f} ms of the native call)")
    return reference / native


def main():
    print("blame_diff vs difflib.SequenceMatcher(None, a, b, autojunk=False).get_opcodes()")
    speedup = compare("one-percent", 7)
    compare("disjoint", 5)
    compare("one-shared", 5)
    print(f"  target: >= 10x on the 1% case -> {'met' if speedup >= 10 else 'MISSED'}")


if __name__ == "__main__":
    main()
