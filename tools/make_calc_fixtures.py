#!/usr/bin/python3
"""Make the fixtures of tests/calculations from independent toolkits.

Run with Debian's system python (gemmi and cctbx installed):
    /usr/bin/python3 tools/make_calc_fixtures.py           # write into tests/data
    /usr/bin/python3 tools/make_calc_fixtures.py --check   # compare only

For each model (sm_1dur, wrk_7mm1), read with its data from tests/data/<name>.pdb
and <name>.mtz, it writes calc_<name>.txt:
  cell a b c alpha beta gamma        (degrees)
  hm <Hermann-Mauguin symbol>
  dmin <resolution of the MTZ file>
  r_toolkit <R>                      cctbx (mmtbx.f_model): Fo against Fcalc with
                                     flat bulk solvent and anisotropic scaling
  atoms n                            then n lines
      element x y z occ u_iso u11 u22 u33 u12 u13 u23
                                     (U in A^2; u11.. are nan without ANISOU)
  fcalc m                            then m lines "h k l F phi" (phi radians):
                                     cctbx's direct summation over all atoms and
                                     symmetry images with the Waasmaier-Kirfel
                                     "wk1995" form factors, for every 7th
                                     reflection of the data set (no solvent)
For wrk_7mm1 it also writes wrk_7mm1_fo_map.txt:
  n k                                then n lines "h k l F sigF FWT PHWT" over the
                                     observed reflections: the MTZ's FP, SIGFP and
                                     cctbx's sigmaA-weighted 2mFo-DFc coefficients
                                     (PHWT radians)
(The observed amplitudes of sm_1dur are in sm_1dur_fsigf.txt already.)
"""
import math
import os

import gemmi
import iotbx.pdb
import mmtbx.f_model
from cctbx import crystal, miller
from cctbx.array_family import flex

import fixture_files
from fixture_files import DATA

SUBSAMPLE = 7


def read_fobs(mtz_path):
    mtz = gemmi.read_mtz_file(mtz_path)
    hkl = mtz.make_miller_array()
    fp = mtz.column_with_label("FP").array
    sig = mtz.column_with_label("SIGFP").array
    keep = [i for i in range(len(fp)) if not math.isnan(fp[i]) and not math.isnan(sig[i])]
    return mtz, hkl, fp, sig, keep


def write_model(name, outdir):
    pdb_path = os.path.join(DATA, name + ".pdb")
    mtz, hkl, fp, sig, keep = read_fobs(os.path.join(DATA, name + ".mtz"))
    st = gemmi.read_structure(pdb_path)
    st.setup_entities()
    cell = st.cell
    dmin = mtz.resolution_high()

    pdb_inp = iotbx.pdb.input(file_name=pdb_path)
    xrs = pdb_inp.xray_structure_simple()
    xrs.scattering_type_registry(table="wk1995")
    symm = xrs.crystal_symmetry()

    indices = flex.miller_index([tuple(int(x) for x in hkl[i]) for i in keep])
    fobs = miller.array(
        miller.set(symm, indices, anomalous_flag=False),
        data=flex.double([float(fp[i]) for i in keep]),
        sigmas=flex.double([float(sig[i]) for i in keep]))
    fobs.set_observation_type_xray_amplitude()
    fobs = fobs.map_to_asu().merge_equivalents().array()

    fmodel = mmtbx.f_model.manager(f_obs=fobs, xray_structure=xrs)
    fmodel.update_all_scales()
    r_toolkit = fmodel.r_work()

    subset = fobs.select(flex.size_t(range(0, fobs.size(), SUBSAMPLE)))
    fcalc = subset.structure_factors_from_scatterers(xrs, algorithm="direct").f_calc()

    out = os.path.join(outdir, "calc_%s.txt" % name)
    with open(out, "w") as f:
        f.write("cell %.4f %.4f %.4f %.3f %.3f %.3f\n" % tuple(cell.parameters))
        f.write("hm %s\n" % st.spacegroup_hm)
        f.write("dmin %.5f\n" % dmin)
        f.write("r_toolkit %.4f\n" % r_toolkit)
        atoms = [(cra.atom, cra) for cra in st[0].all()]
        f.write("atoms %d\n" % len(atoms))
        for atom, _ in atoms:
            u = [math.nan] * 6
            if atom.aniso.nonzero():
                a = atom.aniso
                u = [a.u11, a.u22, a.u33, a.u12, a.u13, a.u23]
            f.write("%s %.3f %.3f %.3f %.2f %.5f %s\n" % (
                atom.element.name, atom.pos.x, atom.pos.y, atom.pos.z, atom.occ,
                atom.b_iso / (8 * math.pi ** 2), " ".join("%.5f" % x for x in u)))
        f.write("fcalc %d\n" % fcalc.size())
        for h, fc in zip(fcalc.indices(), fcalc.data()):
            f.write("%d %d %d %.4f %.6f\n" % (h + (abs(fc), math.atan2(fc.imag, fc.real))))
    print(out, "R", round(r_toolkit, 4), "atoms", len(atoms), "fcalc", fcalc.size())

    if name == "wrk_7mm1":
        mc = fmodel.electron_density_map().map_coefficients(
            map_type="2mFo-DFc", isotropize=False, fill_missing=False)
        coeffs = dict(zip(mc.indices(), mc.data()))
        out = os.path.join(outdir, name + "_fo_map.txt")
        with open(out, "w") as f:
            f.write("n %d\n" % fobs.size())
            for h, fo, s in zip(fobs.indices(), fobs.data(), fobs.sigmas()):
                c = coeffs.get(h, complex(0.0, 0.0))
                f.write("%d %d %d %.2f %.2f %.2f %.4f\n" % (
                    h + (fo, s, abs(c), math.atan2(c.imag, c.real))))
        print(out, fobs.size())


def make_all(outdir):
    for name in ("sm_1dur", "wrk_7mm1"):
        write_model(name, outdir)


if __name__ == "__main__":
    fixture_files.main(make_all)
