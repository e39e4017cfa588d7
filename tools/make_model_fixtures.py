#!/usr/bin/python3
"""Fixtures for the coordinate-file and model tests (tests/data/model_*.txt).

Each coordinate file below (in tests/data) is read with gemmi and described
atom by atom in the order of the file (chains, residues, atoms), TER records
left out:

  cell a b c alpha beta gamma          (degrees)
  spacegroup <number> <Hermann-Mauguin symbol>
  chain <id> <residues> <one-letter sequence of its amino acids, or ->
  atom chain seqnum icode resname name altloc element x y z occ b u11 u22 u33 u12 u13 u23

name is the 4-character PDB form of the atom name; icode and altloc are "."
when absent; element is upper case; the six anisotropic terms (A^2) are "."
when the atom has none; chain, name and resname fields are separated by tabs
so blanks inside them survive.

Two further inputs are made here from tiny_5e5z.pdb and written as PDB and
mmCIF (tests/data/tiny_5e5z_variant.pdb/.cif): residues 2 and 3 become 1A
and 1B (insertion codes), OG of residue 4 is split into alternate locations
A and B, and every third atom loses its anisotropic U, so that the mmCIF
anisotropic loop covers only some atoms.

Run with /usr/bin/python3:
  /usr/bin/python3 tools/make_model_fixtures.py           # write into tests/data
  /usr/bin/python3 tools/make_model_fixtures.py --check   # compare only
Check files that the library wrote back (the model tests write them into the
directory named by VANTREL_MODEL_OUTPUT) against the fixtures:
  VANTREL_MODEL_OUTPUT=/tmp/out build/tests/model_test_mmdb_file
  /usr/bin/python3 tools/make_model_fixtures.py --roundtrip /tmp/out
Time gemmi's read of wrk_7mm1.pdb, the independent figure beside bench/bench_model:
  /usr/bin/python3 tools/make_model_fixtures.py --time
"""
import os
import sys

import gemmi

import fixture_files
from fixture_files import DATA

# fixture name -> coordinate file in tests/data
SOURCES = {
    "sm_1dur_pdb": "sm_1dur.pdb",
    "sm_1dur_cif": "sm_1dur.cif",
    "tiny_5e5z": "tiny_5e5z.pdb",
    "wrk_7mm1": "wrk_7mm1.pdb",
    "variant_pdb": "tiny_5e5z_variant.pdb",
    "variant_cif": "tiny_5e5z_variant.cif",
}
VARIANTS = ["tiny_5e5z_variant.pdb", "tiny_5e5z_variant.cif"]


def make_variant(outdir):
    st = gemmi.read_structure(os.path.join(DATA, "tiny_5e5z.pdb"))
    st.setup_entities()
    chain = st[0]["A"]
    for i, code in ((1, "A"), (2, "B")):
        chain[i].seqid = gemmi.SeqId(1, code)
    ser = chain[3]
    og = ser["OG"][0]
    og.altloc = "A"
    og.occ = 0.6
    alt = og.clone()
    alt.altloc = "B"
    alt.occ = 0.4
    alt.pos = gemmi.Position(og.pos.x + 0.5, og.pos.y, og.pos.z)
    alt.b_iso = og.b_iso + 2.0
    ser.add_atom(alt)
    n = 0
    for res in st[0]["A"]:
        for atom in res:
            n += 1
            if n % 3 == 0:
                atom.aniso = gemmi.SMat33f(0, 0, 0, 0, 0, 0)
    st.write_pdb(os.path.join(outdir, VARIANTS[0]))
    st.make_mmcif_document().write_file(os.path.join(outdir, VARIANTS[1]))


def describe(path):
    """Fixture lines of a coordinate file as gemmi reads it."""
    st = gemmi.read_structure(path)
    c = st.cell
    lines = ["cell %.6f %.6f %.6f %.6f %.6f %.6f" % (c.a, c.b, c.c, c.alpha, c.beta, c.gamma)]
    sg = st.find_spacegroup()
    lines.append("spacegroup %d %s" % (sg.number, sg.hm))
    model = st[0]
    for chain in model:
        names = [r.name for r in chain]
        codes = "".join(gemmi.find_tabulated_residue(n).one_letter_code.upper()
                        for n in names
                        if gemmi.find_tabulated_residue(n) and
                        gemmi.find_tabulated_residue(n).is_amino_acid())
        lines.append("chain\t%s\t%d\t%s" % (chain.name, len(names), codes or "-"))
    for chain in model:
        for res in chain:
            for a in res:
                u = a.aniso
                aniso = ("%.6g %.6g %.6g %.6g %.6g %.6g" % (u.u11, u.u22, u.u33, u.u12, u.u13, u.u23)
                         if u.nonzero() else ". . . . . .")
                lines.append("atom\t%s\t%d\t%s\t%s\t%s\t%s\t%s\t%.3f %.3f %.3f %.6g %.6g %s" % (
                    chain.name, res.seqid.num, res.seqid.icode.strip() or ".", res.name,
                    a.padded_name(), a.altloc if a.altloc != "\0" else ".", a.element.name.upper(),
                    a.pos.x, a.pos.y, a.pos.z, a.occ, a.b_iso, aniso))
    return lines


def atoms_of(lines):
    return [l.split("\t") for l in lines if l.startswith("atom\t")]


def same_atoms(ref, got):
    """Atom records equal in ids, within print precision in numbers."""
    if len(ref) != len(got):
        return "%d atoms, expected %d" % (len(got), len(ref))
    for r, g in zip(ref, got):
        if r[1:7] != g[1:7] or r[7].split()[:3] != g[7].split()[:3]:
            return "atom differs: %s / %s" % (r, g)
        nr, ng = r[7].split()[3:], g[7].split()[3:]
        for x, y in zip(nr, ng):
            if (x == ".") != (y == ".") or (x != "." and abs(float(x) - float(y)) > 1e-3):
                return "numbers differ: %s / %s" % (r, g)
    return None


def roundtrip(directory):
    """Compares every file the tests wrote (<fixture>.pdb/.cif) with its fixture."""
    failures = 0
    checked = 0
    for name in sorted(os.listdir(directory)):
        stem = name.rsplit(".", 1)[0]
        fixture = os.path.join(DATA, "model_%s.txt" % stem)
        if not os.path.exists(fixture):
            continue
        with open(fixture) as f:
            ref = atoms_of(f.read().splitlines())
        problem = same_atoms(ref, atoms_of(describe(os.path.join(directory, name))))
        checked += 1
        print("%-28s %s" % (name, problem or "same as fixture (%d atoms)" % len(ref)))
        failures += problem is not None
    if checked == 0:
        sys.exit("no written files found in " + directory)
    sys.exit(1 if failures else 0)


def time_gemmi():
    import timeit
    path = os.path.join(DATA, "wrk_7mm1.pdb")
    n = 50
    read = timeit.timeit(lambda: gemmi.read_structure(path), number=n) / n
    print("gemmi %s: read_structure(wrk_7mm1.pdb) %.2f ms" % (gemmi.__version__, read * 1e3))


def make_all(outdir):
    make_variant(outdir)
    for fixture, source in SOURCES.items():
        lines = describe(os.path.join(outdir if source in VARIANTS else DATA, source))
        with open(os.path.join(outdir, "model_%s.txt" % fixture), "w") as f:
            f.write("# Generated by tools/make_model_fixtures.py from %s (gemmi %s)\n"
                    % (source, gemmi.__version__))
            f.write("\n".join(lines) + "\n")
        print("model_%s.txt: %d atoms" % (fixture, len(atoms_of(lines))))


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--roundtrip":
        roundtrip(sys.argv[2])
    if len(sys.argv) == 2 and sys.argv[1] == "--time":
        return time_gemmi()
    fixture_files.main(make_all, other_modes=["--roundtrip DIR", "--time"])


if __name__ == "__main__":
    main()
