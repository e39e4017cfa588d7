#!/usr/bin/python3
"""Writes tests/data/rama_phi_psi.txt: main-chain torsions (phi, psi) of every
amino-acid residue with a bonded neighbour on both sides in three real models
of tests/data, computed independently with gemmi.

Run with Debian's /usr/bin/python3:
    /usr/bin/python3 tools/make_ramachandran_fixtures.py           # write into tests/data
    /usr/bin/python3 tools/make_ramachandran_fixtures.py --check   # compare only

Format: one line per residue: file, chain, sequence number, residue name,
phi and psi in radians. First conformers only.
"""
import math
import os

import gemmi

import fixture_files
from fixture_files import DATA

MODELS = ["ref_1rx2.pdb", "wrk_7mm1.pdb", "sm_1dur.pdb"]


def bonded(a, b):
    return a["C"][0].pos.dist(b["N"][0].pos) < 1.5


def make_all(outdir):
    lines = []
    for name in MODELS:
        st = gemmi.read_structure(os.path.join(DATA, name))
        st.setup_entities()
        for chain in st[0]:
            residues = [r for r in chain.get_polymer().first_conformer()]
            for prev, res, nxt in zip(residues, residues[1:], residues[2:]):
                phi, psi = gemmi.calculate_phi_psi(prev, res, nxt)
                if math.isnan(phi) or math.isnan(psi):
                    continue
                # Only residues joined by peptide bonds on both sides.
                if not (bonded(prev, res) and bonded(res, nxt)):
                    continue
                lines.append(f"{name} {chain.name} {res.seqid.num} {res.name} {phi!r} {psi!r}")
    with open(os.path.join(outdir, "rama_phi_psi.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    fixture_files.main(make_all)
