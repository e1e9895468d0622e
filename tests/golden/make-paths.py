#!/usr/bin/env python3
"""Writes the mouse paths of the golden traces (tests/golden/*.path).

The paths are committed; this script only documents how they were made and
regenerates them byte for byte. The expected outputs (*.expected) come from
chain-replay and are checked by hand before they are committed.
"""
import math
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))


def write(name, lines):
    with open(os.path.join(HERE, name + ".path"), "w") as out:
        out.write("".join(line + "\n" for line in lines))


def sweep():
    # A pointer circling the window smoothly, integer pixels as a window reports them.
    for i in range(4000):
        t = i * 0.011
        yield "%d %d" % (round(278 + 250 * math.sin(t * 1.3)), round(212 + 190 * math.cos(t * 0.7)))


def drag_outside(rng):
    # Fractional positions that wander out of the window on every side.
    x, y = 100.0, 100.0
    for _ in range(3000):
        x = min(max(x + rng.uniform(-9, 9), -300), 900)
        y = min(max(y + rng.uniform(-9, 9), -300), 800)
        yield "%.4f %.4f" % (x, y)


def still_then_jumps(rng):
    # Never moved for a while, then far jumps, including the largest accepted.
    for _ in range(1500):
        yield "0 0"
    for i in range(2500):
        if i % 250 == 0:
            yield "%g %g" % (rng.choice([-1e9, 1e9, rng.uniform(-1e9, 1e9)]), rng.uniform(-1e9, 1e9))
        else:
            yield "%.2f %.2f" % (rng.uniform(-50, 600), rng.uniform(-50, 480))


def main():
    rng = random.Random(20261207)
    write("sweep", sweep())
    write("drag-outside", drag_outside(rng))
    write("still-then-jumps", still_then_jumps(rng))


if __name__ == "__main__":
    main()
