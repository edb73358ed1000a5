"""The output plan of one lint check under stress, shared by the fakes,
which act on it, and the stress test, which predicts the report from it."""

import random

MIB = 1 << 20


def plan(seed, tool):
    rng = random.Random(seed + "/" + tool)
    texts = {1: rng.randbytes(MIB), 2: rng.randbytes(MIB)}
    code = rng.choice([0, 0, 1, 2, 3, 77, 255])
    sleep_budget = rng.uniform(0.0, 0.3)
    steps = []
    offsets = {1: 0, 2: 0}
    while offsets[1] < MIB or offsets[2] < MIB:
        fd = rng.choice([f for f in (1, 2) if offsets[f] < MIB])
        size = rng.choice([1, rng.randint(2, 4096), rng.randint(4096, 65536), rng.randint(65536, 262144)])
        size = min(size, MIB - offsets[fd])
        pause = 0.0
        if sleep_budget > 0 and rng.random() < 0.1:
            pause = min(sleep_budget, rng.uniform(0.0, 0.03))
            sleep_budget -= pause
        steps.append((fd, offsets[fd], offsets[fd] + size, pause))
        offsets[fd] += size
    return texts, code, steps
