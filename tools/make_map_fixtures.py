#!/usr/bin/python3
"""Fixtures for the crystallographic map FFT tests (tests/data/map_*.txt).

For each case: a space group, cell, grid and a set of unique map
coefficients (F, phi), and the map computed from them by gemmi
(Mtz.transform_f_phi_to_map) at every point of gemmi's own real-space
asymmetric unit. One case uses the real FWT/PHWT coefficients of
tests/data/tiny_5wkd_phases.mtz; the others use structure factors of a few random
atoms, computed here by direct summation over every symmetry operator, so
that they are consistent with the symmetry. For the synthetic cases the
gemmi map is also checked against a direct Fourier sum at a few points.

File format (angles in degrees):
  spacegroup <operators as "x,y,z;...">
  cell a b c alpha beta gamma
  grid nu nv nw
  resolution dmin          (every reflection has d > dmin)
  reflections N            then N lines "h k l F phi"
  points M                 then M lines "u v w rho"

Run with /usr/bin/python3 (gemmi, numpy):
  /usr/bin/python3 tools/make_map_fixtures.py           # write into tests/data
  /usr/bin/python3 tools/make_map_fixtures.py --check   # compare only
"""
import math
import os
import sys

import gemmi
import numpy as np

import fixture_files
from fixture_files import DATA

MTZ_5WKD = os.path.join(DATA, "tiny_5wkd_phases.mtz")

# name, space group, cell, dmin, number of random atoms
SYNTHETIC = [
    ("p1", "P 1", (12.0, 14.0, 16.0, 80.0, 95.0, 105.0), 3.0, 5),
    ("p21c", "P 1 21/c 1", (10.0, 12.0, 14.0, 90.0, 105.0, 90.0), 2.2, 3),
    ("p212121", "P 21 21 21", (10.0, 13.0, 15.0, 90.0, 90.0, 90.0), 2.0, 3),
    ("i41a", "I 41/a", (16.0, 16.0, 20.0, 90.0, 90.0, 90.0), 2.6, 2),
    ("p6122", "P 61 2 2", (12.0, 12.0, 30.0, 90.0, 90.0, 120.0), 2.5, 2),
    ("r3h", "R 3", (15.0, 15.0, 18.0, 90.0, 90.0, 120.0), 2.4, 3),
    ("p213", "P 21 3", (14.0, 14.0, 14.0, 90.0, 90.0, 90.0), 2.0, 2),
    ("ia3", "I a -3", (20.0, 20.0, 20.0, 90.0, 90.0, 90.0), 2.2, 1),
    ("f23", "F 2 3", (24.0, 24.0, 24.0, 90.0, 90.0, 90.0), 2.2, 2),
]


def index_limits(sg, hkls):
    """Largest |h|, |k|, |l| over the reflections and all their images."""
    lim = [0, 0, 0]
    for hkl in hkls:
        for op in sg.operations():
            hr = op.apply_to_hkl(list(hkl))
            lim = [max(lim[i], abs(hr[i])) for i in range(3)]
    return lim


def grid_size(cell, sg, hkl_max):
    """Smallest even sizes above 2|h|max that suit the group's translations."""
    factors = sg.operations().find_grid_factors()
    size = []
    for hmax, f in zip(hkl_max, factors):
        step = f * 2 // math.gcd(f, 2)
        n = step * ((2 * hmax + 2 + step - 1) // step)
        size.append(n)
    # axes related by a threefold or sixfold need equal sizes
    if sg.crystal_system_str() in ("trigonal", "hexagonal"):
        size[0] = size[1] = max(size[0], size[1])
    if sg.crystal_system_str() == "cubic":
        size = [max(size)] * 3
    if sg.crystal_system_str() == "tetragonal":
        size[0] = size[1] = max(size[0], size[1])
    return size


def unique_reflections(cell, sg, dmin):
    """Reflections of gemmi's reciprocal ASU with d > dmin, no absences."""
    asu = gemmi.ReciprocalAsu(sg)
    ops = sg.operations()
    lim = [int(cell.a / dmin) + 1, int(cell.b / dmin) + 1, int(cell.c / dmin) + 1]
    out = []
    for h in range(-lim[0], lim[0] + 1):
        for k in range(-lim[1], lim[1] + 1):
            for l in range(-lim[2], lim[2] + 1):
                if (h, k, l) == (0, 0, 0):
                    continue
                if cell.calculate_d([h, k, l]) <= dmin:
                    continue
                if not asu.is_in([h, k, l]) or ops.is_systematically_absent([h, k, l]):
                    continue
                out.append((h, k, l))
    return out


def expanded_sites(sg, sites):
    """Every symmetry image of the sites (fractional)."""
    out = []
    for op in sg.operations():
        for s in sites:
            out.append(op.apply_to_xyz(s))
    return np.array(out)


def structure_factors(cell, sites, hkls, b_iso=12.0):
    """F(h) = sum f(s) exp(2 pi i h.x) over all images, f Gaussian in s."""
    hkl = np.array(hkls, dtype=float)
    phases = 2.0 * np.pi * hkl @ sites.T
    f = np.exp(phases * 1j).sum(axis=1)
    stol2 = np.array([0.25 / cell.calculate_d(h) ** 2 for h in hkls])
    return 6.0 * np.exp(-b_iso * stol2) * f


def gemmi_map(cell, sg, rows, size):
    mtz = gemmi.Mtz(with_base=True)
    mtz.spacegroup = sg
    mtz.set_cell_for_all(cell)
    mtz.add_dataset("synthetic")
    mtz.add_column("F", "F")
    mtz.add_column("PHI", "P")
    mtz.set_data(np.array(rows, dtype=np.float32))
    return mtz.transform_f_phi_to_map("F", "PHI", exact_size=size)


def rounded_rows(hkls, amp, phi_deg):
    """The rows as written, so that gemmi sees exactly the fixture values."""
    return [(h[0], h[1], h[2], float("%.6g" % a), float("%.3f" % p))
            for h, a, p in zip(hkls, amp, phi_deg)]


def direct_sum(cell, sg, rows, frac):
    """rho(x) = (1/V) sum over the whole sphere of F(h) exp(-2 pi i h.x)."""
    total = 0.0
    for h, k, l, f, phi in rows:
        seen = set()
        for op in sg.operations():
            hr = op.apply_to_hkl([h, k, l])
            shift = op.phase_shift([h, k, l])
            for sign in (1, -1):
                key = tuple(sign * x for x in hr)
                if key in seen:
                    continue
                seen.add(key)
                ph = sign * (math.radians(phi) + shift)
                total += f * math.cos(ph - 2 * math.pi * np.dot(key, frac))
    return total / cell.volume


def write_case(outdir, name, sg, cell, size, dmin, rows, grid):
    path = os.path.join(outdir, "map_%s.txt" % name)
    ops = ";".join(op.triplet() for op in sg.operations())
    with open(path, "w") as out:
        out.write("# %s (%s): gemmi %s transform_f_phi_to_map over its ASU\n"
                  % (name, sg.xhm(), gemmi.__version__))
        out.write("spacegroup %s\n" % ops)
        out.write("cell %g %g %g %g %g %g\n" % cell)
        out.write("grid %d %d %d\n" % tuple(size))
        out.write("resolution %.4f\n" % dmin)
        out.write("reflections %d\n" % len(rows))
        for h, k, l, f, phi in rows:
            out.write("%d %d %d %.6g %.3f\n" % (h, k, l, f, phi))
        points = [(p.u, p.v, p.w, p.value) for p in grid.masked_asu()]
        out.write("points %d\n" % len(points))
        for u, v, w, rho in points:
            out.write("%d %d %d %.7g\n" % (u, v, w, rho))
    print("%-8s %-12s grid %s reflections %d points %d" % (name, sg.xhm(), size, len(rows), len(points)))


def synthetic_case(outdir, rng, name, symbol, cellpar, dmin, natoms):
    sg = gemmi.SpaceGroup(symbol)
    cell = gemmi.UnitCell(*cellpar)
    hkls = unique_reflections(cell, sg, dmin)
    sites = expanded_sites(sg, rng.random((natoms, 3)).tolist())
    fc = structure_factors(cell, sites, hkls)
    rows = rounded_rows(hkls, np.abs(fc), np.degrees(np.angle(fc)))
    size = grid_size(cell, sg, index_limits(sg, hkls))
    grid = gemmi_map(cell, sg, rows, size)
    for _ in range(4):
        p = [int(rng.integers(0, n)) for n in size]
        expect = direct_sum(cell, sg, rows, [p[i] / size[i] for i in range(3)])
        got = grid.get_value(*p)
        if abs(got - expect) > 1e-4 * (1.0 + abs(expect)):
            sys.exit("gemmi map disagrees with the direct sum in %s at %s: %g %g"
                     % (name, p, got, expect))
    write_case(outdir, name, sg, cellpar, size, dmin, rows, grid)


def real_case(outdir):
    mtz = gemmi.read_mtz_file(MTZ_5WKD)
    data = np.array(mtz, copy=False)
    labels = mtz.column_labels()
    cols = [labels.index(c) for c in ("H", "K", "L", "FWT", "PHWT")]
    present = data[~np.isnan(data[:, cols[3]]) & ~np.isnan(data[:, cols[4]])][:, cols]
    hkls = [tuple(int(x) for x in r[:3]) for r in present]
    rows = rounded_rows(hkls, present[:, 3], present[:, 4])
    cell = mtz.cell
    dmin = 0.999 * min(cell.calculate_d(h) for h in hkls)
    size = grid_size(cell, mtz.spacegroup, index_limits(mtz.spacegroup, hkls))
    grid = gemmi_map(cell, mtz.spacegroup, rows, size)
    cellpar = (cell.a, cell.b, cell.c, cell.alpha, cell.beta, cell.gamma)
    write_case(outdir, "c2_5wkd", mtz.spacegroup, cellpar, size, dmin, rows, grid)


def make_all(outdir):
    rng = np.random.default_rng(20261206)
    real_case(outdir)
    for case in SYNTHETIC:
        synthetic_case(outdir, rng, *case)


if __name__ == "__main__":
    fixture_files.main(make_all)
