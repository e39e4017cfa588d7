#!/usr/bin/python3
"""Makes the MTZ fixtures of tests/mtz with gemmi (Debian's python3-gemmi).

Run from the repository root with /usr/bin/python3:
  tools/make_mtz_fixtures.py            writes the files listed below
  tools/make_mtz_fixtures.py --check    rewrites them elsewhere and reports
                                        whether the committed ones are current
  tools/make_mtz_fixtures.py verify-append INPUT OUTPUT
                                        reads an appended file with gemmi and
                                        checks it against its input

Files written into tests/data:
  mtz_small.mtz        P 21 21 21, two crystals; a reflection with a symmetry
                       mate and a Friedel mate; missing values; a phase of 90
                       degrees; a Q-typed column FQ; FX/SIGX in crystal 2
  mtz_small.txt        gemmi's reading of mtz_small.mtz: h k l and every value
  mtz_empty.mtz        the header of mtz_small.mtz without reflections
  mtz_wide.mtz         P 1 with 1200 data columns; value = 1000 row + column
  mtz_real_ref.txt     per real file: limits, and a sample of rows as gemmi
                       reads them, with 1/d^2 in the file's cell
"""
import math
import os
import sys

import gemmi
import numpy as np

import fixture_files
from fixture_files import DATA

REAL = ["wrk_7mm1.mtz", "ref_1rx2.mtz", "sm_1dur.mtz"]


def small_rows():
    """Rows of mtz_small: h k l FP SIGFP PHI FOM FQ HLA HLB HLC HLD FX SIGX."""
    nan = float("nan")
    rows = []
    idx = [(h, k, l) for h in range(0, 4) for k in range(0, 4) for l in range(1, 5)]
    for i, (h, k, l) in enumerate(idx):
        fp = 10.0 + 1.25 * i
        rows.append([h, k, l, fp, 0.5 + 0.01 * i, (15.0 * i) % 360.0 - 180.0,
                     0.5 + 0.005 * i, fp * 2.0, 0.1 * i, -0.2 * i, 0.05 * i, 0.3,
                     fp + 100.0, 1.0 + 0.02 * i])
    rows[5][3] = nan          # F missing, sigma present
    rows[7][4] = nan          # sigma missing
    rows[9][5] = 90.0         # a phase of exactly 90 degrees
    rows[11][8:12] = [nan] * 4
    # (1,2,3) is in the list; add its mate (-1,2,3) and Friedel mate
    # (-1,-2,-3) with values of their own, after it.
    rows.append([-1, 2, 3, 900.0, 9.0, 45.0, 0.9, 1800.0, 1, 2, 3, 4, 1000.0, 9.5])
    rows.append([-1, -2, -3, 901.0, 9.1, -45.0, 0.8, 1802.0, 1, 2, 3, 4, 1001.0, 9.6])
    return rows


def write_small(path, with_rows=True):
    mtz = gemmi.Mtz(with_base=True)
    mtz.spacegroup = gemmi.find_spacegroup_by_name("P 21 21 21")
    mtz.set_cell_for_all(gemmi.UnitCell(20.0, 25.0, 30.0, 90, 90, 90))
    ds = mtz.add_dataset("d1")
    ds.project_name, ds.crystal_name, ds.wavelength = "proj", "xtal", 1.5
    for label, kind in [("FP", "F"), ("SIGFP", "Q"), ("PHI", "P"), ("FOM", "W"), ("FQ", "Q"),
                        ("HLA", "A"), ("HLB", "A"), ("HLC", "A"), ("HLD", "A")]:
        mtz.add_column(label, kind, dataset_id=1)
    ds2 = mtz.add_dataset("d2")
    ds2.project_name, ds2.crystal_name, ds2.wavelength = "proj", "xtal2", 0.9
    ds2.cell = gemmi.UnitCell(21.0, 26.0, 31.0, 90, 90, 90)
    mtz.add_column("FX", "F", dataset_id=2)
    mtz.add_column("SIGX", "Q", dataset_id=2)
    rows = small_rows() if with_rows else []
    data = np.array(rows, dtype=np.float32).reshape(len(rows), 14)
    mtz.set_data(data)
    mtz.history = ["made by tools/make_mtz_fixtures.py"]
    mtz.write_to_file(path)


def write_wide(path):
    mtz = gemmi.Mtz(with_base=True)
    mtz.spacegroup = gemmi.find_spacegroup_by_name("P 1")
    mtz.set_cell_for_all(gemmi.UnitCell(10.0, 11.0, 12.0, 90, 90, 90))
    mtz.add_dataset("wide")
    ncol = 1200
    for c in range(ncol):
        mtz.add_column("C%d" % c, "R", dataset_id=1)
    hkls = [(1, 0, 0), (0, 1, 0), (0, 0, 1), (1, 1, 0), (1, 0, 1)]
    data = np.zeros((len(hkls), 3 + ncol), dtype=np.float32)
    for r, hkl in enumerate(hkls):
        data[r, :3] = hkl
        data[r, 3:] = 1000.0 * r + np.arange(ncol)
    mtz.set_data(data)
    mtz.write_to_file(path)


def fmt(v):
    return "nan" if math.isnan(v) else repr(float(v))


def dump_rows(mtz, rows, out):
    arr = np.array(mtz, copy=False)
    for r in rows:
        hkl = [int(x) for x in arr[r, :3]]
        s = mtz.cell.calculate_1_d2(hkl)
        out.write("%d %d %d %s %s\n" % (*hkl, repr(s), " ".join(fmt(v) for v in arr[r, 3:])))


def write_small_dump(mtz_path, txt_path):
    mtz = gemmi.read_mtz_file(mtz_path)
    with open(txt_path, "w") as out:
        out.write("# gemmi %s reading of %s: h k l 1/d^2 then %s\n" % (
            gemmi.__version__, os.path.basename(mtz_path),
            " ".join(c.label for c in mtz.columns[3:])))
        out.write("rows %d\n" % mtz.nreflections)
        dump_rows(mtz, range(mtz.nreflections), out)


def write_real_ref(txt_path):
    with open(txt_path, "w") as out:
        out.write("# gemmi %s reading of the real MTZ files: per file a 'file' line\n"
                  "# (name, rows, finest 1/d^2 in the file's cell, rows with FP present,\n"
                  "# space-group number, cell), the\n"
                  "# column labels, then a sample of rows: h k l 1/d^2 values...\n" % gemmi.__version__)
        for name in REAL:
            mtz = gemmi.read_mtz_file(os.path.join(DATA, name))
            arr = np.array(mtz, copy=False)
            s = np.array([mtz.cell.calculate_1_d2([int(x) for x in row[:3]]) for row in arr])
            s_max = s.max()
            fp = arr[:, mtz.column_labels().index("FP")]
            asu = gemmi.ReciprocalAsu(mtz.spacegroup)
            ops = mtz.spacegroup.operations()
            unique = {tuple(asu.to_asu([int(x) for x in row[:3]], ops)[0]) for row in arr}
            assert len(unique) == len(arr), name + " lists a reflection twice"
            c = mtz.cell
            out.write("file %s %d %r %d %d %r %r %r %r %r %r\n" % (
                name, len(arr), float(s_max), int(np.sum(~np.isnan(fp))),
                mtz.spacegroup.number, c.a, c.b, c.c, c.alpha, c.beta, c.gamma))
            out.write("labels %s\n" % " ".join(mtz.column_labels()[3:]))
            # Every 97th row, the finest rows and some rows with FP missing.
            rows = set(range(0, len(arr), 97)) | set(np.argsort(s)[-5:].tolist())
            rows |= set(np.nonzero(np.isnan(fp))[0][:10].tolist())
            rows = sorted(rows)
            out.write("sample %d\n" % len(rows))
            dump_rows(mtz, rows, out)


def make_all(directory):
    write_small(os.path.join(directory, "mtz_small.mtz"))
    write_small(os.path.join(directory, "mtz_empty.mtz"), with_rows=False)
    write_wide(os.path.join(directory, "mtz_wide.mtz"))
    write_small_dump(os.path.join(directory, "mtz_small.mtz"), os.path.join(directory, "mtz_small.txt"))
    write_real_ref(os.path.join(directory, "mtz_real_ref.txt"))


def verify_append(input_path, output_path):
    """The output must be the input plus six columns: sideomit F_phi and ABCD."""
    a, b = gemmi.read_mtz_file(input_path), gemmi.read_mtz_file(output_path)
    x, y = np.array(a, copy=False), np.array(b, copy=False)
    assert a.nreflections == b.nreflections, "row count"
    assert a.spacegroup.hm == b.spacegroup.hm and a.cell.approx(b.cell, 1e-4), "symmetry/cell"
    n = len(a.columns)
    for i, col in enumerate(a.columns):
        j = b.column_labels().index(col.label)
        assert b.columns[j].type == col.type, col.label
        same = (x[:, i].view(np.uint32) == y[:, j].view(np.uint32)) | (np.isnan(x[:, i]) & np.isnan(y[:, j]))
        assert same.all(), "column %s differs" % col.label
    new = [(c.label, c.type) for c in b.columns if c.label not in a.column_labels()]
    want = [("sideomit.F_phi.F", "F"), ("sideomit.F_phi.phi", "P")] + \
           [("sideomit.ABCD.%s" % k, "A") for k in "ABCD"]
    assert new == want, new
    phi = y[:, b.column_labels().index("sideomit.F_phi.phi")]
    present = ~np.isnan(phi)
    assert np.nanmax(np.abs(phi)) > 3.5, "phases are not in degrees"
    print("ok: %d rows, %d columns copied, %d new; %d rows with a phase, %d missing"
          % (b.nreflections, n, len(new), int(present.sum()), int((~present).sum())))


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "verify-append":
        verify_append(sys.argv[2], sys.argv[3])
    else:
        fixture_files.main(make_all, other_modes=["verify-append IN.mtz OUT.mtz"])


if __name__ == "__main__":
    main()
