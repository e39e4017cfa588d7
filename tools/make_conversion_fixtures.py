#!/usr/bin/python3
"""Make the fixtures of tests/reflections/test_conversions.cpp and
test_resolution_fn.cpp from independent toolkits.

Run with Debian's system python (gemmi and cctbx installed):
    /usr/bin/python3 tools/make_conversion_fixtures.py           # write into tests/data
    /usr/bin/python3 tools/make_conversion_fixtures.py --check   # compare only

Writes
  phase_integrals.txt  for a few space groups: random Hendrickson-Lattman
                       coefficients on cctbx's asymmetric unit and cctbx's
                       centroid phase and figure of merit of each (phase
                       integration over 72 steps of 5 degrees; centric
                       reflections over their two allowed phases);
  sm_1dur_fsigf.txt    h k l F sigF of the real data set tests/data/sm_1dur.mtz, read
                       with gemmi (zero amplitudes kept, missing ones dropped).

Block format of phase_integrals.txt (whitespace separated, one block per group):
  hall <Hall symbol>
  cell a b c alpha beta gamma      (degrees)
  dmin d
  n m                               followed by m lines "h k l A B C D phi fom"
                                    (phi in radians)
Header of sm_1dur_fsigf.txt:
  cell a b c alpha beta gamma
  hm <Hermann-Mauguin symbol>
  n m                               followed by m lines "h k l F sigF"
"""
import math
import os
import random

import gemmi
from cctbx import crystal, miller
from cctbx.array_family import flex

import fixture_files
from fixture_files import DATA

# Groups with centric zones whose allowed phases are 0, 30, 60 ... degrees.
GROUPS = [
    ('P 31 2"', (30.0, 30.0, 35.0, 90.0, 90.0, 120.0), 3.5),
    ("P 61 2 (0 0 5)", (30.0, 30.0, 50.0, 90.0, 90.0, 120.0), 4.0),
    ("C 2y", (40.0, 12.0, 15.0, 90.0, 101.7, 90.0), 3.0),
    ("P 2ac 2ab", (20.0, 25.0, 30.0, 90.0, 90.0, 90.0), 3.5),
    ("-P 1", (11.0, 13.0, 15.0, 75.0, 85.0, 95.0), 3.5),
]

MTZ = os.path.join(DATA, "sm_1dur.mtz")


def random_hl(rng):
    # |A cos + B sin + C cos2 + D sin2| stays well below the clamp at 50. The
    # coefficients are rounded to the precision written, so that the file
    # holds exactly what was integrated.
    return tuple(round(rng.uniform(-s, s), 6) for s in (9, 9, 4, 4))


def write_phase_integrals(path):
    rng = random.Random(4104)
    integrator = miller.phase_integrator(n_steps=72)
    with open(path, "w") as out:
        for hall, cell, dmin in GROUPS:
            cs = crystal.symmetry(unit_cell=cell, space_group_symbol="Hall: " + hall)
            ms = miller.build_set(cs, anomalous_flag=False, d_min=dmin)
            hl = [random_hl(rng) for _ in range(ms.size())]
            z = integrator(ms.space_group(), ms.indices(), flex.hendrickson_lattman(hl))
            out.write("hall %s\n" % hall)
            out.write("cell %g %g %g %g %g %g\n" % cell)
            out.write("dmin %g\n" % dmin)
            out.write("n %d\n" % ms.size())
            for h, c, zi in zip(ms.indices(), hl, z):
                out.write("%d %d %d %.6f %.6f %.6f %.6f %.12g %.12g\n"
                          % (h + c + (math.atan2(zi.imag, zi.real), abs(zi))))


def write_fsigf(path):
    mtz = gemmi.read_mtz_file(MTZ)
    data = mtz.array
    col = {c.label: i for i, c in enumerate(mtz.columns)}
    rows = [r for r in data if not math.isnan(r[col["FP"]]) and not math.isnan(r[col["SIGFP"]])]
    c = mtz.cell
    with open(path, "w") as out:
        out.write("cell %g %g %g %g %g %g\n" % (c.a, c.b, c.c, c.alpha, c.beta, c.gamma))
        out.write("hm %s\n" % mtz.spacegroup.hm)
        out.write("n %d\n" % len(rows))
        for r in rows:
            out.write("%d %d %d %.6g %.6g\n" % (r[col["H"]], r[col["K"]], r[col["L"]],
                                                r[col["FP"]], r[col["SIGFP"]]))


def make_all(outdir):
    write_phase_integrals(os.path.join(outdir, "phase_integrals.txt"))
    write_fsigf(os.path.join(outdir, "sm_1dur_fsigf.txt"))


if __name__ == "__main__":
    fixture_files.main(make_all)
