#!/usr/bin/python3
"""Fixtures for the end-to-end runs of quelvarn, made with gemmi.

  tests/data/sm_1dur_random_hl.mtz   sm_1dur.mtz with its HL coefficients
      replaced by those of uniformly random phases at figure of merit 0.05
      (X = 0.1002, so A = X cos phi, B = X sin phi, C = D = 0), seed 1.
  tests/data/sm_1dur_no_fp.mtz   sm_1dur.mtz with every FP missing: work
      data from which no phases can be weighted.
  tests/data/run_wrk_7mm1_columns.txt   the columns (label, type) of
      wrk_7mm1.mtz followed by the six columns a run with -mtzout-wrk
      adds; the output file must hold exactly these (the six in the first
      dataset, so after H, K, L).

  tests/data/run_resolutions.txt   per MTZ file, its resolution limit as
      the program uses it (0.9999 times the finest d-spacing) in the
      stream's default 6-digit form.

With --check OUT.mtz, checks instead that OUT.mtz holds those columns, its new
columns present wherever FP is, and phases in degrees.
Run from the repository root: /usr/bin/python3 tools/make_run_fixtures.py
"""
import math
import random
import sys

import gemmi
import numpy

DATA = "tests/data"
SIDEOMIT = [("sideomit.F_phi.F", "F"), ("sideomit.F_phi.phi", "P"),
            ("sideomit.ABCD.A", "A"), ("sideomit.ABCD.B", "A"),
            ("sideomit.ABCD.C", "A"), ("sideomit.ABCD.D", "A")]


def expected_columns():
    mtz = gemmi.read_mtz_file(f"{DATA}/wrk_7mm1.mtz")
    return [(c.label, c.type) for c in mtz.columns] + SIDEOMIT


def make_random_hl():
    mtz = gemmi.read_mtz_file(f"{DATA}/sm_1dur.mtz")
    rng = random.Random(1)
    x = 0.1002  # I1(x)/I0(x) = 0.05
    assert abs(x / 2 * (1 - x * x / 8) - 0.05) < 1e-4
    data = numpy.array(mtz, copy=True)
    labels = [c.label for c in mtz.columns]
    for row in data:
        phi = rng.uniform(0.0, 2.0 * math.pi)
        row[labels.index("HLA")] = x * math.cos(phi)
        row[labels.index("HLB")] = x * math.sin(phi)
        row[labels.index("HLC")] = 0.0
        row[labels.index("HLD")] = 0.0
    mtz.set_data(data)
    mtz.write_to_file(f"{DATA}/sm_1dur_random_hl.mtz")


def make_no_fp():
    mtz = gemmi.read_mtz_file(f"{DATA}/sm_1dur.mtz")
    data = numpy.array(mtz, copy=True)
    data[:, [c.label for c in mtz.columns].index("FP")] = numpy.nan
    mtz.set_data(data)
    mtz.write_to_file(f"{DATA}/sm_1dur_no_fp.mtz")


def check(path):
    mtz = gemmi.read_mtz_file(path)
    got = [(c.label, c.type) for c in mtz.columns]
    # The new columns go to the first dataset the path matches; the input
    # columns keep their order.
    assert [c for c in got if c not in SIDEOMIT] == expected_columns()[:-6], got
    assert [c for c in got if c in SIDEOMIT] == SIDEOMIT, got
    observed = numpy.isfinite(mtz.column_with_label("FP").array)
    for label, _ in SIDEOMIT:
        present = numpy.isfinite(mtz.column_with_label(label).array)
        assert present[observed].all(), label
    phi = mtz.column_with_label("sideomit.F_phi.phi").array
    assert numpy.nanmax(numpy.abs(phi)) <= 360.0 and numpy.nanmax(numpy.abs(phi)) > 3.2
    print(f"{path}: {len(got)} columns as expected, new columns present at all "
          f"{observed.sum()} observed rows, phases in degrees")


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--check":
        check(sys.argv[2])
    else:
        make_random_hl()
        make_no_fp()
        with open(f"{DATA}/run_wrk_7mm1_columns.txt", "w") as f:
            f.write("# Columns of wrk_7mm1.mtz plus the six appended by -mtzout-wrk"
                    " (tools/make_run_fixtures.py, gemmi)\n")
            for label, type_ in expected_columns():
                f.write(f"{label} {type_}\n")
        with open(f"{DATA}/run_resolutions.txt", "w") as f:
            f.write("# file, 0.9999 d_min (tools/make_run_fixtures.py, gemmi)\n")
            for name in ("ref_1rx2.mtz", "wrk_7mm1.mtz", "sm_1dur.mtz"):
                d_min = gemmi.read_mtz_file(f"{DATA}/{name}").resolution_high()
                f.write(f"{name} {0.9999 * d_min:.6g}\n")
