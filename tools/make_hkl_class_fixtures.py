#!/usr/bin/python3
"""Writes tests/data/hkl_class_groups.txt: the reflection class (epsilon,
centric phase restriction, systematic absence) of a fixed set of Miller
indices in every space-group setting of the library's table.

The classes come from two independent toolkits: gemmi gives the epsilon
factor (centring included) and the absence test, cctbx the centric test and
the restricted phase; the script checks that both agree on centricity and
absence.

Usage: /usr/bin/python3 tools/make_hkl_class_fixtures.py
(run from the repository root; the Hall symbols are read from the table
data tools/data/spacegroups.tsv).
"""
import math
import sys

import gemmi
from cctbx import sgtbx

TABLE_DATA = "tools/data/spacegroups.tsv"
OUTPUT = "tests/data/hkl_class_groups.txt"


def hall_symbols(path):
    """The Hall symbols of the table rows, in table order (third column)."""
    return [line.rstrip("\n").split("\t")[2] for line in open(path)
            if line.strip() and not line.startswith("#")]


def miller_indices():
    """Low indices in full, plus axial, diagonal and zonal indices far enough
    out to show screw axes, glide planes and diamond glides."""
    hkls = [(h, k, l) for h in range(-2, 3) for k in range(-2, 3)
            for l in range(-2, 3) if (h, k, l) != (0, 0, 0)]
    for n in range(3, 9):
        hkls += [(n, 0, 0), (0, n, 0), (0, 0, n)]
    for n in range(3, 7):
        hkls += [(n, n, 0), (n, -n, 0), (n, 0, n), (n, 0, -n),
                 (0, n, n), (0, n, -n), (n, n, n), (n, n, -n)]
    hkls += [(3, 1, 0), (1, 3, 0), (3, 0, 1), (1, 0, 3), (0, 3, 1), (0, 1, 3),
             (3, 4, 0), (4, 0, 3), (0, 3, 4), (2, 1, 3), (1, 2, 3), (2, 4, 1),
             (3, 1, 4), (5, 2, 7), (1, 6, 3), (4, 3, 2), (7, 5, 1), (2, 5, 6)]
    return hkls


def class_token(gops, sg, hkl):
    """'0' for an absent reflection, 'eps' for an acentric one and
    'eps/allowed' for a centric one, allowed in units of 15 degrees."""
    absent = gops.is_systematically_absent(hkl)
    if absent != sg.is_sys_absent(hkl):
        raise RuntimeError("toolkits disagree on absence of %s" % (hkl,))
    if absent:
        return "0"
    eps = gops.epsilon_factor(hkl)
    centric = sg.is_centric(hkl)
    if centric != gops.is_reflection_centric(hkl):
        raise RuntimeError("toolkits disagree on centricity of %s" % (hkl,))
    if not centric:
        return str(eps)
    allowed = round(sg.phase_restriction(hkl).ht_angle() / (math.pi / 12)) % 12
    return "%d/%d" % (eps, allowed)


def main():
    halls = hall_symbols(sys.argv[1] if len(sys.argv) > 1 else TABLE_DATA)
    if len(halls) != 530:
        raise RuntimeError("expected 530 table rows, found %d" % len(halls))
    hkls = miller_indices()
    with open(OUTPUT, "w") as out:
        out.write("# Reflection classes per Hall symbol (gemmi %s, cctbx)\n" % gemmi.__version__)
        out.write("# token: 0 absent, eps acentric, eps/allowed centric (allowed phase x 15 deg)\n")
        out.write("indices " + " ".join("%d,%d,%d" % h for h in hkls) + "\n")
        for hall in halls:
            gops = gemmi.symops_from_hall(hall)
            sg = sgtbx.space_group(hall)
            if sg.order_z() != len(gops):
                raise RuntimeError("toolkits disagree on the order of " + hall)
            tokens = [class_token(gops, sg, hkl) for hkl in hkls]
            out.write(hall + "\t" + " ".join(tokens) + "\n")


if __name__ == "__main__":
    main()
