#!/usr/bin/python3
"""Make the reflection-list fixtures of tests/reflections from independent toolkits.

Run with Debian's system python (gemmi and cctbx installed):
    /usr/bin/python3 tools/make_reflection_fixtures.py tests/data

Writes
  reflist_asu.txt   for each space group: every reflection of gemmi's reciprocal
                    asymmetric unit with 1/d^2 < 1/dmin^2 that is not systematically
                    absent, with cctbx's epsilon (counted over all operators,
                    centring translations included) and centric flag;
  reflist_p1_fphi.txt for a subset of groups: F, phi set on cctbx's asymmetric unit
                    and cctbx's expansion of the same data to P1 (both Friedel
                    hemispheres).

Block format (whitespace separated, one block per group):
  hall <Hall symbol>
  cell a b c alpha beta gamma      (degrees)
  dmin d
  asu n                             followed by n lines "h k l epsilon centric"
or, in the P1 file,
  asu n                             followed by n lines "h k l F phi"  (phi radians)
  p1 m                              followed by m lines "h k l F phi"
"""
import math
import random
import sys

import gemmi
from cctbx import crystal, miller, sgtbx
from cctbx.array_family import flex

# (Hall symbol, cell, dmin): monoclinic C, hexagonal, rhombohedral on both axes,
# cubic and centred groups, with and without inversion.
GROUPS = [
    ("P 1", (11.0, 13.0, 15.0, 75.0, 85.0, 95.0), 2.33),
    ("-P 1", (11.0, 13.0, 15.0, 75.0, 85.0, 95.0), 2.33),
    ("P 2yb", (12.0, 14.0, 16.0, 90.0, 103.0, 90.0), 2.03),
    ("C 2y", (40.0, 12.0, 15.0, 90.0, 101.7, 90.0), 2.03),
    ("-C 2yc", (40.0, 12.0, 25.0, 90.0, 110.0, 90.0), 2.03),
    ("-P 2ybc", (15.0, 17.0, 19.0, 90.0, 97.0, 90.0), 2.03),
    ("P 2ac 2ab", (20.0, 25.0, 30.0, 90.0, 90.0, 90.0), 2.43),
    ("C 2c 2", (30.0, 35.0, 25.0, 90.0, 90.0, 90.0), 2.23),
    ("F 2 2", (40.0, 45.0, 50.0, 90.0, 90.0, 90.0), 2.63),
    ("I 4bw -1bw", (35.0, 35.0, 45.0, 90.0, 90.0, 90.0), 2.23),
    ('P 31 2"', (30.0, 30.0, 35.0, 90.0, 90.0, 120.0), 2.23),
    ("P 61 2 (0 0 5)", (30.0, 30.0, 50.0, 90.0, 90.0, 120.0), 2.13),
    ("-P 6 2", (25.0, 25.0, 30.0, 90.0, 90.0, 120.0), 1.83),
    ("R 3", (40.0, 40.0, 60.0, 90.0, 90.0, 120.0), 2.53),
    ("P 3*", (30.0, 30.0, 30.0, 70.0, 70.0, 70.0), 2.33),
    ('-R 3 2"', (40.0, 40.0, 80.0, 90.0, 90.0, 120.0), 2.03),
    ("I 2b 2c 3", (40.0, 40.0, 40.0, 90.0, 90.0, 90.0), 2.03),
    ("P 4 2 3", (30.0, 30.0, 30.0, 90.0, 90.0, 90.0), 1.73),
    ("F 4d 2 3 -1d", (60.0, 60.0, 60.0, 90.0, 90.0, 90.0), 2.03),
]

# Groups whose F, phi data are expanded to P1, at a coarser resolution.
P1_GROUPS = [
    ("C 2y", (40.0, 12.0, 15.0, 90.0, 101.7, 90.0), 3.53),
    ("-P 2ybc", (15.0, 17.0, 19.0, 90.0, 97.0, 90.0), 3.53),
    ("P 2ac 2ab", (20.0, 25.0, 30.0, 90.0, 90.0, 90.0), 5.03),
    ("I 4bw -1bw", (35.0, 35.0, 45.0, 90.0, 90.0, 90.0), 6.03),
    ('P 31 2"', (30.0, 30.0, 35.0, 90.0, 90.0, 120.0), 5.53),
    ("P 61 2 (0 0 5)", (30.0, 30.0, 50.0, 90.0, 90.0, 120.0), 6.03),
    ('-R 3 2"', (40.0, 40.0, 80.0, 90.0, 90.0, 120.0), 6.53),
    ("P 3*", (30.0, 30.0, 30.0, 70.0, 70.0, 70.0), 5.03),
    ("I 2b 2c 3", (40.0, 40.0, 40.0, 90.0, 90.0, 90.0), 6.03),
    ("F 4d 2 3 -1d", (60.0, 60.0, 60.0, 90.0, 90.0, 90.0), 7.53),
]

# Reflections this close (relative) to the limit are avoided: float rounding
# could put them on either side.
LIMIT_MARGIN = 1e-7


def cctbx_symmetry(hall, cell):
    return crystal.symmetry(unit_cell=cell, space_group_info=sgtbx.space_group_info("Hall: " + hall))


def check_margin(hall, s, s_lim):
    if abs(s - s_lim) < LIMIT_MARGIN * s_lim:
        raise SystemExit("%s: a reflection lies on the resolution limit; choose another dmin" % hall)


def asu_block(hall, cell, dmin):
    ops = gemmi.symops_from_hall(hall)
    sg = gemmi.find_spacegroup_by_ops(ops)
    gcell = gemmi.UnitCell(*cell)
    s_lim = 1.0 / (dmin * dmin)
    asu = gemmi.ReciprocalAsu(sg)
    csg = sgtbx.space_group_info("Hall: " + hall).group()
    hmax = [int(cell[0] / dmin) + 1, int(cell[1] / dmin) + 1, int(cell[2] / dmin) + 1]
    lines = []
    for h in range(-hmax[0], hmax[0] + 1):
        for k in range(-hmax[1], hmax[1] + 1):
            for l in range(-hmax[2], hmax[2] + 1):
                hkl = [h, k, l]
                if not asu.is_in(hkl) or ops.is_systematically_absent(hkl):
                    continue
                s = 1.0 / gcell.calculate_d(hkl) ** 2 if hkl != [0, 0, 0] else 0.0
                check_margin(hall, s, s_lim)
                if s >= s_lim:
                    continue
                eps = csg.epsilon((h, k, l)) * csg.n_ltr()  # over all operators, centring included
                cen = 1 if csg.is_centric((h, k, l)) else 0
                lines.append("%d %d %d %d %d" % (h, k, l, eps, cen))
    return lines


def p1_block(hall, cell, dmin, rng):
    sym = cctbx_symmetry(hall, cell)
    sg = sym.space_group()
    ms = miller.build_set(sym, anomalous_flag=False, d_min=dmin * 0.999)
    ms = ms.remove_systematic_absences()
    s_lim = 1.0 / (dmin * dmin)
    keep = flex.bool()
    for h, d in zip(ms.indices(), ms.d_spacings().data()):
        check_margin(hall, 1.0 / (d * d), s_lim)
        keep.append(1.0 / (d * d) < s_lim)
    ms = ms.select(keep)
    data = flex.complex_double()
    asu_lines = []
    for h in ms.indices():
        f = rng.uniform(1.0, 100.0)
        pr = sg.phase_restriction(h)
        if pr.is_centric():
            phi = pr.ht_angle(False) + (math.pi if rng.random() < 0.5 else 0.0)
        else:
            phi = rng.uniform(-math.pi, math.pi)
        data.append(f * complex(math.cos(phi), math.sin(phi)))
        asu_lines.append("%d %d %d %.4f %.7f" % (h[0], h[1], h[2], f, phi))
    arr = ms.array(data=data)
    p1 = arr.expand_to_p1().generate_bijvoet_mates()
    p1_lines = []
    for h, z in zip(p1.indices(), p1.data()):
        if h == (0, 0, 0):
            continue
        p1_lines.append("%d %d %d %.4f %.7f" % (h[0], h[1], h[2], abs(z), math.atan2(z.imag, z.real)))
    return asu_lines, p1_lines


def header(hall, cell, dmin):
    return ["hall " + hall, "cell " + " ".join("%g" % x for x in cell), "dmin %g" % dmin]


def main():
    outdir = sys.argv[1] if len(sys.argv) > 1 else "tests/data"
    with open(outdir + "/reflist_asu.txt", "w") as out:
        for hall, cell, dmin in GROUPS:
            lines = asu_block(hall, cell, dmin)
            out.write("\n".join(header(hall, cell, dmin) + ["asu %d" % len(lines)] + lines) + "\n")
    rng = random.Random(20261206)
    with open(outdir + "/reflist_p1_fphi.txt", "w") as out:
        for hall, cell, dmin in P1_GROUPS:
            asu_lines, p1_lines = p1_block(hall, cell, dmin, rng)
            out.write("\n".join(header(hall, cell, dmin) + ["asu %d" % len(asu_lines)] + asu_lines
                                + ["p1 %d" % len(p1_lines)] + p1_lines) + "\n")


if __name__ == "__main__":
    main()
