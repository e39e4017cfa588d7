#!/usr/bin/python3
"""Writes tests/data/cells.txt and tests/data/cells_invresolsq.txt: volumes,
orthogonalisation and fractionalisation matrices, metric tensors, reciprocal
constants and 1/d^2 of a set of cells, computed by gemmi and cross-checked
against cctbx. Run with Debian's /usr/bin/python3 from the repository root."""

import os

import gemmi
from cctbx import uctbx

# name, a, b, c (A), alpha, beta, gamma (degrees)
CELLS = [
    ("cubic", 10.0, 10.0, 10.0, 90.0, 90.0, 90.0),
    ("orthorhombic", 34.321, 45.508, 98.912, 90.0, 90.0, 90.0),
    ("monoclinic", 9.643, 9.609, 19.029, 90.0, 101.224, 90.0),
    ("monoclinic_c", 50.347, 4.777, 14.746, 90.0, 101.73, 90.0),
    ("hexagonal", 89.341, 89.341, 105.74, 90.0, 90.0, 120.0),
    ("rhombohedral", 52.3, 52.3, 52.3, 64.8, 64.8, 64.8),
    ("rhombohedral_obtuse", 41.7, 41.7, 41.7, 107.5, 107.5, 107.5),
    ("triclinic", 10.3, 12.7, 15.1, 70.2, 80.5, 95.3),
    ("triclinic_obtuse", 27.45, 31.08, 44.9, 101.3, 96.7, 112.4),
]

HKLS = [(1, 0, 0), (0, 1, 0), (0, 0, 1), (1, 2, 3), (-3, 1, 2), (5, -4, 7), (-11, -6, 9)]

# Each off-diagonal term of a metric tensor is stored doubled.
DOUBLED = (1.0, 1.0, 1.0, 2.0, 2.0, 2.0)


def check(name, what, ours, theirs):
    scale = max(abs(x) for x in theirs)
    for x, y in zip(ours, theirs):
        assert abs(x - y) <= 1e-11 * scale, (name, what, ours, theirs)


def metric(sym):
    return [f * x for f, x in zip(DOUBLED, (sym.u11, sym.u22, sym.u33, sym.u12, sym.u13, sym.u23))]


def flat(mat):
    return [x for row in mat.tolist() for x in row]


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data")
    with open(os.path.join(out, "cells.txt"), "w") as cells, \
         open(os.path.join(out, "cells_invresolsq.txt"), "w") as d2:
        cells.write("# name a b c alpha beta gamma(deg) volume orth[9] frac[9] "
                    "real_metric[6] reci_metric[6] a* b* c* alpha* beta* gamma*(deg)\n")
        d2.write("# name h k l 1/d^2\n")
        for name, *p in CELLS:
            g = gemmi.UnitCell(*p)
            x = uctbx.unit_cell(p)
            r = g.reciprocal()
            row = [g.volume] + flat(g.orthogonalization_matrix) + flat(g.fractionalization_matrix)
            row += metric(g.metric_tensor()) + metric(g.reciprocal_metric_tensor())
            row += [r.a, r.b, r.c, r.alpha, r.beta, r.gamma]

            check(name, "volume", [g.volume], [x.volume()])
            check(name, "orth", row[1:10], x.orthogonalization_matrix())
            check(name, "frac", row[10:19], x.fractionalization_matrix())
            check(name, "real", row[19:25], [f * v for f, v in zip(DOUBLED, x.metrical_matrix())])
            check(name, "reci", row[25:31],
                  [f * v for f, v in zip(DOUBLED, x.reciprocal_metrical_matrix())])
            check(name, "recip", row[31:], x.reciprocal_parameters())

            cells.write(" ".join([name] + [repr(float(v)) for v in list(p) + row]) + "\n")
            for hkl in HKLS:
                v = g.calculate_1_d2(hkl)
                check(name, "1/d2", [v], [x.d_star_sq(hkl)])
                d2.write("%s %d %d %d %r\n" % (name, *hkl, v))


if __name__ == "__main__":
    main()
