#!/usr/bin/python3
"""Writes tests/data/protein_1rx2.txt: the amino-acid residues of chain A of
1RX2 with all their atoms, and each residue's phi and psi computed
independently with gemmi from its neighbours in chain order.

Reads tests/data/ref_1rx2.pdb. Run with Debian's /usr/bin/python3:
    /usr/bin/python3 tools/make_protein_fixtures.py           # write into tests/data
    /usr/bin/python3 tools/make_protein_fixtures.py --check   # compare only

Format:
    residue <seqnum> <name> <phi> <psi>     radians; nan without a neighbour
    atom <4-character name with _ for blanks> <altloc or -> <x> <y> <z>
phi uses C of the residue before in the list, psi N of the residue after,
whether or not they are bonded.
"""
import os

import gemmi

import fixture_files
from fixture_files import DATA


def make_all(outdir):
    st = gemmi.read_structure(os.path.join(DATA, "ref_1rx2.pdb"))
    chain = st[0]["A"]
    residues = [r for r in chain if gemmi.find_tabulated_residue(r.name) is not None
                and gemmi.find_tabulated_residue(r.name).is_amino_acid()]

    def pos(res, name):
        atom = res.find_atom(name, "*")
        return atom.pos

    lines = []
    for i, res in enumerate(residues):
        phi = psi = float("nan")
        if i > 0:
            phi = gemmi.calculate_dihedral(pos(residues[i - 1], "C"), pos(res, "N"),
                                           pos(res, "CA"), pos(res, "C"))
        if i + 1 < len(residues):
            psi = gemmi.calculate_dihedral(pos(res, "N"), pos(res, "CA"), pos(res, "C"),
                                           pos(residues[i + 1], "N"))
        lines.append(f"residue {res.seqid.num} {res.name} {phi!r} {psi!r}")
        for atom in res:
            # PDB column layout of the name: padded to 4, one-letter elements
            # shifted one place right.
            name = atom.padded_name().ljust(4)
            lines.append(f"atom {name.replace(' ', '_')} {atom.altloc if atom.altloc != chr(0) else '-'} "
                         f"{atom.pos.x!r} {atom.pos.y!r} {atom.pos.z!r}")
    with open(os.path.join(outdir, "protein_1rx2.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    fixture_files.main(make_all)
