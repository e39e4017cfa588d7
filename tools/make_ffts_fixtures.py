#!/usr/bin/python3
"""Make the fragment-search fixtures of tests/calculations with gemmi and numpy.

Run with Debian's system python (gemmi installed):
    /usr/bin/python3 tools/make_ffts_fixtures.py tests/data

For each space group a random grid is made symmetric with gemmi
(symmetrize_sum), so that it is the P1 expansion of a crystallographic map.
A random target and weight (some weights 0 or negative) are laid on the same
grid spacing with box point (nu/2, nv/2, nw/2) on the grid origin, and the
score of translation s,
    sum over box points g of w(g) (rho(g - half + s) - t(g))^2,
is summed directly in double precision with numpy, the map wrapped
periodically. One fragment is wider than the cell along w.

Writes ffts_<name>.txt, whitespace separated:
  spacegroup <Hermann-Mauguin symbol>
  cell a b c alpha beta gamma      (degrees)
  grid nu nv nw
  values n                          then the n map values, u slowest
  fragment nu nv nw                 then nu*nv*nw lines "target weight",
                                    u slowest
  scores m                          then m lines "u v w score"
"""
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_interp_fixtures  # noqa: E402  (its random symmetric maps)

# (file name, space group, cell, map grid, fragment grid)
CASES = [
    ("p212121", "P 21 21 21", (20.0, 24.0, 28.0, 90.0, 90.0, 90.0), (10, 12, 14), (5, 4, 3)),
    ("c121", "C 1 2 1", (30.0, 20.0, 25.0, 90.0, 110.0, 90.0), (12, 10, 12), (7, 6, 5)),
    ("p3121", "P 31 2 1", (22.0, 22.0, 30.0, 90.0, 90.0, 120.0), (12, 12, 18), (6, 5, 21)),
]
RANDOM_SCORES = 120


def make_grid(rng, symbol, cell, size):
    """The symmetrised random map of make_interp_fixtures, as a numpy array."""
    grid = make_interp_fixtures.make_grid(rng, symbol, cell, size)
    return np.array([[[grid.get_value(u, v, w) for w in range(size[2])]
                      for v in range(size[1])] for u in range(size[0])], dtype=np.float64)


def score(rho, target, weight, s):
    half = np.array(target.shape) // 2
    total = 0.0
    for g in np.ndindex(target.shape):
        x = tuple((np.array(g) - half + s) % np.array(rho.shape))
        total += weight[g] * (rho[x] - target[g]) ** 2
    return total


def write_fixture(path, rng, symbol, cell, size, fsize):
    rho = make_grid(rng, symbol, cell, size)
    target = rng.random(fsize, dtype=np.float32).astype(np.float64) * 2.0
    weight = rng.random(fsize, dtype=np.float32).astype(np.float64)
    weight[rng.random(fsize) < 0.15] = 0.0
    weight[rng.random(fsize) < 0.05] *= -0.5
    shifts = [(0, 0, 0), (1, 2, 3)] + [
        tuple(int(rng.integers(0, n)) for n in size) for _ in range(RANDOM_SCORES)]
    with open(path, "w") as f:
        f.write("spacegroup %s\n" % symbol)
        f.write("cell %s\n" % " ".join("%.4f" % x for x in cell))
        f.write("grid %d %d %d\n" % size)
        f.write("values %d\n" % rho.size)
        for x in rho.ravel():
            f.write("%.9g\n" % x)
        f.write("fragment %d %d %d\n" % fsize)
        for t, w in zip(target.ravel(), weight.ravel()):
            f.write("%.9g %.9g\n" % (t, w))
        f.write("scores %d\n" % len(shifts))
        for s in shifts:
            f.write("%d %d %d %.12g\n" % (s + (score(rho, target, weight, np.array(s)),)))


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else "tests/data"
    rng = np.random.default_rng(20261207)
    for name, symbol, cell, size, fsize in CASES:
        write_fixture(os.path.join(out_dir, "ffts_%s.txt" % name), rng, symbol, cell, size, fsize)


if __name__ == "__main__":
    main()
