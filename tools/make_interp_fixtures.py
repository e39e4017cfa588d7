#!/usr/bin/python3
"""Make the map-interpolation fixtures of tests/maps with gemmi.

Run with Debian's system python (gemmi installed):
    /usr/bin/python3 tools/make_interp_fixtures.py tests/data

For each space group a random grid is made symmetric with gemmi
(symmetrize_sum), so that it is the P1 expansion of a crystallographic map,
and gemmi interpolates it at fractional positions inside and outside the
cell: trilinearly (interpolate_value) and tricubically (tricubic_interpolation,
the cubic convolution kernel with a = -0.5).

Writes interp_<name>.txt, whitespace separated:
  spacegroup <Hermann-Mauguin symbol>
  cell a b c alpha beta gamma      (degrees)
  grid nu nv nw
  values n                          followed by the n = nu*nv*nw grid values,
                                    u slowest, w fastest, one per line
  points m                          followed by m lines "u v w linear cubic"
"""
import os
import sys

import gemmi
import numpy as np

# (file name, space group, cell, grid): orthorhombic screw axes, a centred
# monoclinic group with an oblique cell, and a tetragonal screw group.
GROUPS = [
    ("p212121", "P 21 21 21", (20.0, 24.0, 28.0, 90.0, 90.0, 90.0), (10, 12, 14)),
    ("c121", "C 1 2 1", (30.0, 20.0, 25.0, 90.0, 110.0, 90.0), (12, 10, 12)),
    ("p43212", "P 43 21 2", (22.0, 22.0, 30.0, 90.0, 90.0, 90.0), (12, 12, 16)),
]

# Positions at grid points and on the cell faces, before the random ones.
FIXED_POINTS = [
    (0.0, 0.0, 0.0),
    (0.5, 0.25, 0.75),
    (1.0, 1.0, 1.0),
    (0.999, 0.0005, -0.0005),
    (-0.5, 0.5, 2.0),
]
RANDOM_POINTS = 40


def make_grid(rng, symbol, cell, size):
    grid = gemmi.FloatGrid(*size)
    grid.set_unit_cell(gemmi.UnitCell(*cell))
    grid.spacegroup = gemmi.SpaceGroup(symbol)
    values = rng.random(size, dtype=np.float32)
    for u in range(size[0]):
        for v in range(size[1]):
            for w in range(size[2]):
                grid.set_value(u, v, w, float(values[u, v, w]))
    grid.symmetrize_sum()
    return grid


def write_fixture(path, rng, symbol, cell, size):
    grid = make_grid(rng, symbol, cell, size)
    points = FIXED_POINTS + [tuple(rng.uniform(-1.5, 2.5, 3)) for _ in range(RANDOM_POINTS)]
    with open(path, "w") as f:
        f.write("spacegroup %s\n" % symbol)
        f.write("cell %s\n" % " ".join("%.4f" % x for x in cell))
        f.write("grid %d %d %d\n" % size)
        f.write("values %d\n" % (size[0] * size[1] * size[2]))
        for u in range(size[0]):
            for v in range(size[1]):
                for w in range(size[2]):
                    f.write("%.9g\n" % grid.get_value(u, v, w))
        f.write("points %d\n" % len(points))
        for p in points:
            frac = gemmi.Fractional(*p)
            f.write("%.12f %.12f %.12f %.9g %.9g\n" % (
                p[0], p[1], p[2], grid.interpolate_value(frac),
                grid.tricubic_interpolation(frac)))


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else "tests/data"
    rng = np.random.default_rng(20261206)
    for name, symbol, cell, size in GROUPS:
        write_fixture(os.path.join(out_dir, "interp_%s.txt" % name), rng, symbol, cell, size)


if __name__ == "__main__":
    main()
