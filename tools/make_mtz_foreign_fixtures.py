#!/usr/bin/python3
"""Makes MTZ fixtures laid out as other programs write them, with gemmi
(Debian's python3-gemmi) and cctbx (python3-cctbx).

Run from anywhere with /usr/bin/python3:
  tools/make_mtz_foreign_fixtures.py            writes the files listed below
  tools/make_mtz_foreign_fixtures.py --check    rewrites them elsewhere and
                                                reports whether the committed
                                                ones are current

Files written into tests/data:
  mtz_one_dataset.mtz  every column in dataset 0, whose project, crystal and
                       dataset are all named "reciprocalspaceship"
  mtz_odd_names.mtz    names and labels holding quotes and ending in "-" or
                       "&" (Ron's, x"y, peak-, edge&, F', F"), and a title
                       ending in a lone "-" (the header text is patched:
                       gemmi writes the title as given)
  mtz_unmerged.mtz     unmerged rows, BATCH (type B) and M/ISYM (type Y),
                       without batch headers
  mtz_cctbx_setting.mtz  written by cctbx in the setting P 21 21 21 (2*a,b,c),
                       whose centring has no lattice letter: its symmetry
                       record gives "?" (the column sources' dates are fixed)
  mtz_long_history.mtz  a history of 1,001 lines (gemmi writes every line
                       given), F and SIGF in a dataset of its own
  mtz_foreign.txt      gemmi's reading of all but the third (the
                       space group 0 when gemmi names none): per file a line
                       "file NAME SPACEGROUP a b c alpha beta gamma", per
                       column "column PROJECT CRYSTAL DATASET LABEL TYPE",
                       then every row: h k l and the data values (nan when
                       missing)
"""
import math
import os
import re

import gemmi
import numpy as np

import fixture_files
from fixture_files import DATA
HKLS = [(1, 2, 3), (2, 0, 1), (0, 1, 4), (3, 3, 1), (1, 1, 1), (0, 2, 2)]


def new_mtz():
    mtz = gemmi.Mtz(with_base=False)
    mtz.spacegroup = gemmi.find_spacegroup_by_name("P 21 21 21")
    mtz.cell = gemmi.UnitCell(20.0, 25.0, 30.0, 90, 90, 90)
    return mtz


def add_dataset(mtz, project, crystal, dataset, wavelength):
    ds = mtz.add_dataset(dataset)
    ds.project_name, ds.crystal_name, ds.wavelength = project, crystal, wavelength
    ds.cell = mtz.cell
    return len(mtz.datasets) - 1


def write_one_dataset(path):
    mtz = new_mtz()
    add_dataset(mtz, "reciprocalspaceship", "reciprocalspaceship", "reciprocalspaceship", 1.0)
    for label, kind in [("H", "H"), ("K", "H"), ("L", "H"), ("FP", "F"), ("SIGFP", "Q")]:
        mtz.add_column(label, kind, dataset_id=0)
    rows = [list(hkl) + [10.0 + 1.5 * i, 0.25 + 0.125 * i] for i, hkl in enumerate(HKLS)]
    rows[2][3] = float("nan")  # an amplitude missing, its sigma present
    mtz.set_data(np.array(rows, dtype=np.float32))
    mtz.write_to_file(path)


def write_odd_names(path):
    mtz = new_mtz()
    add_dataset(mtz, "HKL_base", "HKL_base", "HKL_base", 0.0)
    for label in "HKL":
        mtz.add_column(label, "H", dataset_id=0)
    peak = add_dataset(mtz, "Ron's", 'x"y', "peak-", 0.98)
    mtz.add_column("F'", "F", dataset_id=peak)
    mtz.add_column("SIGF'", "Q", dataset_id=peak)
    edge = add_dataset(mtz, "Ron's", 'x"y', "edge&", 0.92)
    mtz.add_column('F"', "F", dataset_id=edge)
    mtz.add_column('SIGF"', "Q", dataset_id=edge)
    rows = [list(hkl) + [20.0 + i, 1.0 + 0.5 * i, 30.0 - i, 2.0 + 0.25 * i]
            for i, hkl in enumerate(HKLS)]
    mtz.set_data(np.array(rows, dtype=np.float32))
    mtz.title = "lysozyme soak X"
    mtz.write_to_file(path)
    # The title's last word becomes a lone continuation mark.
    with open(path, "rb") as f:
        data = f.read()
    old = b"TITLE lysozyme soak X"
    assert data.count(old) == 1
    with open(path, "wb") as f:
        f.write(data.replace(old, b"TITLE lysozyme soak -"))


def write_unmerged(path):
    mtz = new_mtz()
    add_dataset(mtz, "reciprocalspaceship", "reciprocalspaceship", "reciprocalspaceship", 1.0)
    for label, kind in [("H", "H"), ("K", "H"), ("L", "H"), ("BATCH", "B"), ("M/ISYM", "Y"),
                        ("I", "J"), ("SIGI", "Q")]:
        mtz.add_column(label, kind, dataset_id=0)
    # (1,2,3) observed three times, once as its Friedel mate.
    rows = [[1, 2, 3, 1, 1, 100.0, 5.0], [1, 2, 3, 2, 1, 104.0, 5.5],
            [1, 2, 3, 3, 2, 98.0, 6.0], [2, 0, 1, 1, 1, 50.0, 3.0]]
    mtz.set_data(np.array(rows, dtype=np.float32))
    assert len(mtz.batches) == 0
    mtz.write_to_file(path)


def write_cctbx_setting(path):
    from cctbx import crystal, miller, sgtbx, uctbx
    from cctbx.array_family import flex
    symmetry = crystal.symmetry(unit_cell=uctbx.unit_cell((40.0, 25.0, 30.0, 90, 90, 90)),
                                space_group_info=sgtbx.space_group_info("P 21 21 21 (2*a,b,c)"))
    indices = miller.build_set(symmetry, anomalous_flag=False, d_min=6.0)
    n = indices.size()
    data = indices.array(data=flex.double([10.0 + 0.5 * i for i in range(n)]),
                         sigmas=flex.double([0.25 + 0.125 * (i % 5) for i in range(n)]))
    data.as_mtz_dataset(column_root_label="FP").mtz_object().write(path)
    with open(path, "rb") as f:
        written = f.read()
    assert b"SYMINF   8  4 ?    19" in written
    with open(path, "wb") as f:
        f.write(re.sub(rb"CREATED_\d\d/\d\d/\d{4}_\d\d:\d\d:\d\d", b"CREATED_01/01/2020_00:00:00",
                       written))


def write_long_history(path):
    mtz = new_mtz()
    add_dataset(mtz, "HKL_base", "HKL_base", "HKL_base", 0.0)
    for label in "HKL":
        mtz.add_column(label, "H", dataset_id=0)
    data = add_dataset(mtz, "project", "crystal", "native", 1.2)
    mtz.add_column("F", "F", dataset_id=data)
    mtz.add_column("SIGF", "Q", dataset_id=data)
    rows = [list(hkl) + [40.0 - 2.5 * i, 0.5 + 0.25 * i] for i, hkl in enumerate(HKLS)]
    mtz.set_data(np.array(rows, dtype=np.float32))
    mtz.history = ["step %d of a long processing history" % i for i in range(1001)]
    mtz.write_to_file(path)
    with open(path, "rb") as f:
        assert f.read().count(b"MTZHIST 1001 ") == 1


def fmt(v):
    return "nan" if math.isnan(v) else repr(float(v))


def dump(names, txt_path):
    with open(txt_path, "w") as out:
        out.write("# gemmi %s reading of the files made by tools/make_mtz_foreign_fixtures.py\n"
                  % gemmi.__version__)
        for name in names:
            mtz = gemmi.read_mtz_file(os.path.join(os.path.dirname(txt_path), name))
            c = mtz.cell
            out.write("file %s %d %r %r %r %r %r %r\n" % (
                name, mtz.spacegroup.number if mtz.spacegroup else 0, c.a, c.b, c.c, c.alpha,
                c.beta, c.gamma))
            for col in mtz.columns:
                ds = mtz.dataset(col.dataset_id)
                out.write("column %s %s %s %s %s\n" % (
                    ds.project_name, ds.crystal_name, ds.dataset_name, col.label, col.type))
            for row in np.array(mtz, copy=False):
                out.write("%d %d %d %s\n" % (int(row[0]), int(row[1]), int(row[2]),
                                             " ".join(fmt(v) for v in row[3:])))


def make_all(directory):
    write_one_dataset(os.path.join(directory, "mtz_one_dataset.mtz"))
    write_odd_names(os.path.join(directory, "mtz_odd_names.mtz"))
    write_unmerged(os.path.join(directory, "mtz_unmerged.mtz"))
    write_cctbx_setting(os.path.join(directory, "mtz_cctbx_setting.mtz"))
    write_long_history(os.path.join(directory, "mtz_long_history.mtz"))
    dump(["mtz_one_dataset.mtz", "mtz_odd_names.mtz", "mtz_cctbx_setting.mtz",
          "mtz_long_history.mtz"],
         os.path.join(directory, "mtz_foreign.txt"))


if __name__ == "__main__":
    fixture_files.main(make_all)
