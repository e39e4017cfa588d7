#!/usr/bin/python3
"""Time the independent toolkits' FFT structure-factor calculation on a model,
to read beside bench/bench_calculations.cpp (same model, resolution and grid
rate). Writes no fixture; run with Debian's system python:
    /usr/bin/python3 tools/time_toolkit_sf.py [MODEL [DMIN]]
MODEL defaults to tests/data/wrk_7mm1.pdb and DMIN to 1.85 A, about the resolution
of its data, which the benchmark uses.

Prints, per toolkit, the best of several runs in milliseconds:
  gemmi: density painted on a grid of rate 1.5 (DensityCalculatorX, all atoms,
         anisotropic U), FFT and the asymmetric-unit structure factors;
  cctbx: xray.structure.structure_factors(algorithm="fft") with the wk1995 table.
"""
import os
import sys
import time

import gemmi
import iotbx.pdb

from fixture_files import DATA

REPEATS = 5
USAGE = "usage: /usr/bin/python3 tools/time_toolkit_sf.py [MODEL [DMIN]]"


def best_of(fn):
    best = float("inf")
    for _ in range(REPEATS):
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
    return best * 1000.0


def arguments(argv):
    """The model's path and the resolution, or a usage message on bad input."""
    if len(argv) > 2:
        sys.exit(USAGE)
    path = argv[0] if argv else os.path.join(DATA, "wrk_7mm1.pdb")
    try:
        dmin = float(argv[1]) if len(argv) > 1 else 1.85
    except ValueError:
        dmin = float("nan")
    if not 0 < dmin < float("inf"):
        sys.exit("%s\nDMIN must be a positive number of angstroms, not %s" % (USAGE, argv[1]))
    if not os.path.isfile(path):
        sys.exit("%s\nno model file %s" % (USAGE, path))
    return path, dmin


def main():
    path, dmin = arguments(sys.argv[1:])
    st = gemmi.read_structure(path)
    st.setup_entities()

    def gemmi_sf():
        dc = gemmi.DensityCalculatorX()
        dc.d_min = dmin
        dc.rate = 1.5
        dc.set_grid_cell_and_spacegroup(st)
        dc.put_model_density_on_grid(st[0])
        grid = gemmi.transform_map_to_f_phi(dc.grid)
        return grid.prepare_asu_data(dmin=dmin)

    xrs = iotbx.pdb.input(file_name=path).xray_structure_simple()
    xrs.scattering_type_registry(table="wk1995")

    def cctbx_sf():
        return xrs.structure_factors(d_min=dmin, algorithm="fft").f_calc()

    print("atoms %d  reflections (gemmi) %d" % (st[0].count_atom_sites(), len(gemmi_sf())))
    print("gemmi FFT structure factors: %.1f ms" % best_of(gemmi_sf))
    print("cctbx FFT structure factors: %.1f ms" % best_of(cctbx_sf))


if __name__ == "__main__":
    main()
