"""blame_diff of one build against another, run by bench/perf/blame_diff.sh.

  time <case> <rounds>      best CPU time of one call, in seconds, and of the
                            argument conversion alone (one side empty)
  digest <count> <seed>     one line per random input: its number and a digest
                            of the opcodes, for comparing two builds' outputs

The random inputs mix the shapes that steer the search differently: small
alphabets (many equal lines, long snakes), mostly separate alphabets (ranges
without common lines), edits of one version into the next, and empty sides.
"""
import hashlib
import random
import sys
import time

import _zr_native as zr
from tracking_blame_diff_bench import make_case


def best_cpu(fn, rounds):
    best = float("inf")
    for _ in range(rounds):
        start = time.process_time()
        fn()
        best = min(best, time.process_time() - start)
    return best


def random_case(rng):
    shape = rng.randrange(4)
    n, m = rng.randrange(0, 80), rng.randrange(0, 80)
    if shape == 0:  # small alphabet
        letters = "abcd"[: rng.randrange(1, 5)]
        return [rng.choice(letters) for _ in range(n)], [rng.choice(letters) for _ in range(m)]
    if shape == 1:  # mostly separate alphabets with a few shared lines
        shared = rng.randrange(0, 20)
        old = [f"s{rng.randrange(3)}" if rng.randrange(100) < shared else f"o{rng.randrange(50)}" for _ in range(n)]
        new = [f"s{rng.randrange(3)}" if rng.randrange(100) < shared else f"n{rng.randrange(50)}" for _ in range(m)]
        return old, new
    if shape == 2:  # an edited version of the old lines
        old = [f"line {rng.randrange(30)}" for _ in range(n)]
        new = list(old)
        for _ in range(rng.randrange(0, 8)):
            at = rng.randrange(len(new) + 1)
            if new and at < len(new) and rng.random() < 0.5:
                del new[at]
            else:
                new.insert(at, f"line {rng.randrange(40)}")
        return old, new
    # one side empty or both tiny
    return [str(rng.randrange(3)) for _ in range(rng.randrange(0, 3))], [str(rng.randrange(3)) for _ in range(m)]


def main():
    if sys.argv[1] == "time":
        old, new = make_case(sys.argv[2])
        rounds = int(sys.argv[3])
        call = best_cpu(lambda: zr.blame_diff(old, new), rounds)
        conversion = best_cpu(lambda: zr.blame_diff(old, []), rounds) + best_cpu(lambda: zr.blame_diff([], new), rounds)
        print(f"{call:.6f} {conversion:.6f}")
    else:
        count, seed = int(sys.argv[2]), int(sys.argv[3])
        rng = random.Random(seed)
        out = sys.stdout
        for i in range(count):
            old, new = random_case(rng)
            digest = hashlib.blake2b(repr(zr.blame_diff(old, new)).encode(), digest_size=8).hexdigest()
            out.write(f"{i} {digest}\n")


if __name__ == "__main__":
    main()
