#!/usr/bin/python3
"""Writes tests/data/loop_sites.txt: runs of five consecutive residues cut
from the first chain of three real models, with their main-chain positions
and gemmi's phi, psi and N-CA-C angle of every residue.

Run with Debian's /usr/bin/python3 from the repository root:
    /usr/bin/python3 tools/make_loop_fixtures.py

A run qualifies when all five residues are amino acids with N, CA and C,
each peptide bond inside it is shorter than 1.5 A and trans (|omega| > 150
degrees), consecutive CA atoms lie 3.72 to 3.88 A apart, and every N-CA-C
angle is within 0.07 rad of the ideal 1.92 (the rebuilding assumes ideal
geometry, so a strained residue cannot be followed closely). Four runs,
spread along the chain, are kept per model.

Format:
    site <model> <chain> <seqnum of the first residue>
    res <name> <N x y z> <CA x y z> <C x y z> <phi> <psi> <N-CA-C>
five res lines per site; angles in radians, nan without a neighbour.
"""
import math
import gemmi

MODELS = ["ref_1rx2.pdb", "wrk_7mm1.pdb", "sm_1dur.pdb"]
PER_MODEL = 4


def atom(res, name):
    a = res.find_atom(name, "*")
    return None if a is None else a.pos


def main():
    lines = []
    for model in MODELS:
        st = gemmi.read_structure("tests/data/" + model)
        chain = st[0][0]
        res = [r for r in chain if gemmi.find_tabulated_residue(r.name) is not None
               and gemmi.find_tabulated_residue(r.name).is_amino_acid()
               and all(atom(r, n) is not None for n in ("N", "CA", "C"))]

        def linked(a, b):
            c, n = atom(a, "C"), atom(b, "N")
            omega = gemmi.calculate_dihedral(atom(a, "CA"), c, n, atom(b, "CA"))
            ca_ca = atom(a, "CA").dist(atom(b, "CA"))
            return c.dist(n) < 1.5 and abs(omega) > math.radians(150) and 3.72 < ca_ca < 3.88

        def ideal(r):
            return abs(gemmi.calculate_angle(atom(r, "N"), atom(r, "CA"), atom(r, "C")) - 1.92) < 0.07

        starts = [i for i in range(1, len(res) - 5)
                  if all(linked(res[j], res[j + 1]) for j in range(i - 1, i + 5))
                  and all(ideal(res[j]) for j in range(i, i + 5))]
        picks = sorted(set(starts[k * len(starts) // PER_MODEL] for k in range(PER_MODEL)))
        print(model, len(res), "residues,", len(starts), "runs, kept", picks)
        for i in picks:
            lines.append("site %s %s %d" % (model, chain.name, res[i].seqid.num))
            for j in range(i, i + 5):
                r = res[j]
                phi = gemmi.calculate_dihedral(atom(res[j - 1], "C"), atom(r, "N"),
                                               atom(r, "CA"), atom(r, "C"))
                psi = gemmi.calculate_dihedral(atom(r, "N"), atom(r, "CA"), atom(r, "C"),
                                               atom(res[j + 1], "N"))
                ang = gemmi.calculate_angle(atom(r, "N"), atom(r, "CA"), atom(r, "C"))
                xyz = " ".join("%.3f %.3f %.3f" % (p.x, p.y, p.z)
                               for p in (atom(r, "N"), atom(r, "CA"), atom(r, "C")))
                lines.append("res %s %s %.10f %.10f %.10f" % (r.name, xyz, phi, psi, ang))
    with open("tests/data/loop_sites.txt", "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
