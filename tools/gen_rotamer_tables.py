#!/usr/bin/python3
"""Generates model/rotamer_tables.cpp: the built-in side-chain rotamers of
nineteen amino-acid types and selenomethionine, one record per atom.

Run from the repository root:
    /usr/bin/python3 tools/gen_rotamer_tables.py          # write the file
    /usr/bin/python3 tools/gen_rotamer_tables.py --check  # compare only

Positions are in the residue frame with origin CA: a = unit(unit(C - CA) +
unit(N - CA)), b = unit((C - CA) x (N - CA)), c = a x b, and a record
(x, y, z) stands for CA + x a + y b + z c.

How the side chains are built. The main chain is ideal (N-CA 1.458, CA-C
1.525 Angstroms, N-CA-C 111.2 degrees). CB is placed with CA-CB 1.530, N-CA-CB
110.5 degrees and the torsion C-N-CA-CB of an L-amino acid; arginine's
rotamers with chi1 near 180 use a second CB with N-CA-CB 109.0 degrees, as
the angle widens and narrows with chi1, and proline's ring pinches it to 103.0. Every further atom is placed from
the three atoms before it by its bond length, bond angle and torsion: a chi
angle of the rotamer, a fixed offset from one (the second branch atom of VAL,
ILE, THR and LEU, measured on real structures at about 120 degrees), or 0 or
180 degrees in planar groups. Bond lengths and angles are the usual ideal
values for protein side chains (Engh and Huber). Proline's chi2 is chosen to
close the ring (CD-N nearest 1.473 Angstroms).

Chi angles and frequencies follow, approximately, the commonly published
penultimate rotamer statistics of high-resolution structures (Lovell, Word,
Richardson and Richardson, Proteins 40, 389-408, 2000), as recalled from the
literature rather than read from a data file; rotamer 0's frequency of each
type is fixed data, and where a type lists other rotamers than that library,
the extra ones are staggered chi combinations with small frequencies. The
CB positions of ALA, SER and VAL and the atoms of SER and VAL rotamer 0 are
fixed data (averages over real structures) and replace the built values.
MSE repeats MET with "SE  " for " SD ". Coordinates are rounded to 0.001
Angstrom. The script checks the stated features (counts, order, frequencies)
and stops with an error if one fails.
"""
import math
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUTPUT = os.path.join(ROOT, "model", "rotamer_tables.cpp")

# --- vectors ------------------------------------------------------------------


def add(u, v): return tuple(a + b for a, b in zip(u, v))
def sub(u, v): return tuple(a - b for a, b in zip(u, v))
def mul(s, u): return tuple(s * a for a in u)
def dot(u, v): return sum(a * b for a, b in zip(u, v))
def norm(u): return math.sqrt(dot(u, u))
def unit(u): return mul(1.0 / norm(u), u)


def cross(u, v):
    return (u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0])


def torsion(a, b, c, d):
    b1, b2, b3 = sub(b, a), sub(c, b), sub(d, c)
    return math.degrees(math.atan2(norm(b2) * dot(b1, cross(b2, b3)),
                                   dot(cross(b1, b2), cross(b2, b3))))


def place(a, b, c, length, angle, tors):
    """The atom d with |cd| = length, angle b-c-d and torsion a-b-c-d (degrees)."""
    bc = unit(sub(c, b))
    n = unit(cross(sub(b, a), bc))
    m = cross(n, bc)
    th, ph = math.radians(angle), math.radians(tors)
    d = (-length * math.cos(th), length * math.sin(th) * math.cos(ph),
         length * math.sin(th) * math.sin(ph))
    return add(c, add(mul(d[0], bc), add(mul(d[1], m), mul(d[2], n))))


# Ideal main chain in the residue frame (a, b, c) = (x, y, z): N and C lie in
# the a-c plane on either side of a, C at positive c.
HALF = math.radians(111.2 / 2)
CA = (0.0, 0.0, 0.0)
N = (1.458 * math.cos(HALF), 0.0, -1.458 * math.sin(HALF))
C = (1.525 * math.cos(HALF), 0.0, 1.525 * math.sin(HALF))
# C-N-CA-CB torsion of an L-amino acid in this frame (CB at negative b).
CB_TORSION = -122.6


def ideal_cb(tau):
    return place(C, N, CA, 1.530, tau, CB_TORSION)


# --- side-chain recipes -----------------------------------------------------------
# Each atom: (name, (three earlier atoms), bond length, bond angle, torsion),
# the torsion either a number or ("chi", k, offset).

def chi(k, offset=0.0): return ("chi", k, offset)


RING6 = [  # PHE and TYR ring after CG
    (" CD1", ("CA", " CB ", " CG "), 1.389, 120.7, chi(2)),
    (" CD2", ("CA", " CB ", " CG "), 1.389, 120.7, chi(2, 180)),
    (" CE1", (" CB ", " CG ", " CD1"), 1.382, 120.7, 180),
    (" CE2", (" CB ", " CG ", " CD2"), 1.382, 120.7, 180),
    (" CZ ", (" CG ", " CD1", " CE1"), 1.382, 120.0, 0),
]
RECIPES = {
    "ALA": [],
    "ARG": [(" CG ", ("N", "CA", " CB "), 1.520, 114.1, chi(1)),
            (" CD ", ("CA", " CB ", " CG "), 1.520, 111.3, chi(2)),
            (" NE ", (" CB ", " CG ", " CD "), 1.460, 112.0, chi(3)),
            (" CZ ", (" CG ", " CD ", " NE "), 1.329, 124.2, chi(4)),
            (" NH1", (" CD ", " NE ", " CZ "), 1.326, 120.0, 0),
            (" NH2", (" CD ", " NE ", " CZ "), 1.326, 120.0, 180)],
    "ASN": [(" CG ", ("N", "CA", " CB "), 1.516, 112.6, chi(1)),
            (" OD1", ("CA", " CB ", " CG "), 1.231, 120.8, chi(2)),
            (" ND2", ("CA", " CB ", " CG "), 1.328, 116.4, chi(2, 180))],
    "ASP": [(" CG ", ("N", "CA", " CB "), 1.516, 112.6, chi(1)),
            (" OD1", ("CA", " CB ", " CG "), 1.249, 118.4, chi(2)),
            (" OD2", ("CA", " CB ", " CG "), 1.249, 118.4, chi(2, 180))],
    "CYS": [(" SG ", ("N", "CA", " CB "), 1.808, 114.0, chi(1))],
    "GLN": [(" CG ", ("N", "CA", " CB "), 1.520, 114.1, chi(1)),
            (" CD ", ("CA", " CB ", " CG "), 1.516, 112.6, chi(2)),
            (" OE1", (" CB ", " CG ", " CD "), 1.231, 120.8, chi(3)),
            (" NE2", (" CB ", " CG ", " CD "), 1.328, 116.4, chi(3, 180))],
    "GLU": [(" CG ", ("N", "CA", " CB "), 1.520, 114.1, chi(1)),
            (" CD ", ("CA", " CB ", " CG "), 1.516, 112.6, chi(2)),
            (" OE1", (" CB ", " CG ", " CD "), 1.249, 118.4, chi(3)),
            (" OE2", (" CB ", " CG ", " CD "), 1.249, 118.4, chi(3, 180))],
    "HIS": [(" CG ", ("N", "CA", " CB "), 1.497, 113.8, chi(1)),
            (" ND1", ("CA", " CB ", " CG "), 1.378, 122.7, chi(2)),
            (" CD2", ("CA", " CB ", " CG "), 1.354, 131.0, chi(2, 180)),
            (" CE1", (" CB ", " CG ", " ND1"), 1.321, 109.0, 180),
            (" NE2", (" CB ", " CG ", " CD2"), 1.374, 107.0, 180)],
    "ILE": [(" CG1", ("N", "CA", " CB "), 1.527, 110.4, chi(1)),
            (" CG2", ("N", "CA", " CB "), 1.527, 110.5, chi(1, -122)),
            (" CD1", ("CA", " CB ", " CG1"), 1.520, 113.8, chi(2))],
    "LEU": [(" CG ", ("N", "CA", " CB "), 1.530, 116.3, chi(1)),
            (" CD1", ("CA", " CB ", " CG "), 1.521, 110.7, chi(2)),
            (" CD2", ("CA", " CB ", " CG "), 1.521, 110.7, chi(2, 121))],
    "LYS": [(" CG ", ("N", "CA", " CB "), 1.520, 114.1, chi(1)),
            (" CD ", ("CA", " CB ", " CG "), 1.520, 111.3, chi(2)),
            (" CE ", (" CB ", " CG ", " CD "), 1.520, 111.3, chi(3)),
            (" NZ ", (" CG ", " CD ", " CE "), 1.489, 111.9, chi(4))],
    "MET": [(" CG ", ("N", "CA", " CB "), 1.520, 114.1, chi(1)),
            (" SD ", ("CA", " CB ", " CG "), 1.807, 112.7, chi(2)),
            (" CE ", (" CB ", " CG ", " SD "), 1.789, 100.9, chi(3))],
    "PHE": [(" CG ", ("N", "CA", " CB "), 1.502, 113.8, chi(1))] + RING6,
    "PRO": [(" CG ", ("N", "CA", " CB "), 1.495, 104.5, chi(1)),
            (" CD ", ("CA", " CB ", " CG "), 1.502, 105.5, None)],  # ring closure
    "SER": [(" OG ", ("N", "CA", " CB "), 1.417, 111.1, chi(1))],
    "THR": [(" OG1", ("N", "CA", " CB "), 1.433, 109.6, chi(1)),
            (" CG2", ("N", "CA", " CB "), 1.521, 110.5, chi(1, -121))],
    "TRP": [(" CG ", ("N", "CA", " CB "), 1.498, 113.6, chi(1)),
            (" CD1", ("CA", " CB ", " CG "), 1.365, 126.9, chi(2)),
            (" CD2", ("CA", " CB ", " CG "), 1.433, 126.6, chi(2, 180)),
            (" NE1", (" CB ", " CG ", " CD1"), 1.374, 110.2, 180),
            (" CE2", (" CB ", " CG ", " CD2"), 1.409, 107.2, 180),
            (" CE3", (" CB ", " CG ", " CD2"), 1.398, 133.9, 0),
            (" CZ2", (" CG ", " CD2", " CE2"), 1.394, 122.4, 180),
            (" CZ3", (" CG ", " CD2", " CE3"), 1.382, 118.7, 180),
            (" CH2", (" CD2", " CE2", " CZ2"), 1.368, 117.5, 0)],
    "TYR": [(" CG ", ("N", "CA", " CB "), 1.512, 113.8, chi(1))] + RING6
           + [(" OH ", (" CD1", " CE1", " CZ "), 1.376, 119.8, 180)],
    "VAL": [(" CG1", ("N", "CA", " CB "), 1.521, 110.5, chi(1)),
            (" CG2", ("N", "CA", " CB "), 1.521, 110.5, chi(1, 122))],
}

# --- rotamers: (chi angles in degrees, frequency), most frequent first --------
ROTAMERS = {
    "ALA": [((), 1.0)],
    "ARG": [((-67, 180, 180, 180), 0.1099), ((-67, 180, 65, 85), 0.0830),
            ((-67, 180, 180, 85), 0.0700), ((-67, 180, 180, -85), 0.0650),
            ((62, 180, 65, 175), 0.0520), ((-177, 180, 65, 85), 0.0480),
            ((-177, 180, 180, 180), 0.0440), ((-67, 180, -65, -85), 0.0400),
            ((-62, -68, 180, 180), 0.0380), ((-177, 180, 180, 85), 0.0340),
            ((-67, 180, 65, -105), 0.0300), ((-177, 65, 65, 180), 0.0280),
            ((62, 180, 180, 180), 0.0250), ((-177, 180, -65, -85), 0.0220),
            ((-62, -68, -65, -85), 0.0211), ((-177, 180, 180, -85), 0.0210)],
    "ASN": [((-65, -20), 0.2820), ((-177, 30), 0.1480), ((-65, -75), 0.0960),
            ((-65, 120), 0.0870), ((62, -10), 0.0830), ((62, 30), 0.0720),
            ((-174, -20), 0.0550), ((-177, -90), 0.0420), ((-65, 60), 0.0330),
            ((62, 120), 0.0240), ((-177, 120), 0.0160), ((62, -90), 0.0110)],
    "ASP": [((-70, -15), 0.3087), ((-177, 0), 0.2100), ((62, -10), 0.1500),
            ((62, 30), 0.0900), ((-177, 65), 0.0800), ((-65, 30), 0.0600),
            ((-177, -60), 0.0400), ((62, 60), 0.0300)],
    "CYS": [((-65,), 0.5664), ((-177,), 0.2621), ((62,), 0.1715)],
    "GLN": [((-67, 180, -25), 0.1853), ((-65, -65, -40), 0.1600), ((-177, 180, 0), 0.1200),
            ((-177, 65, -100), 0.0800), ((-177, 65, 60), 0.0700), ((-65, -65, 100), 0.0600),
            ((62, 180, 20), 0.0500), ((-65, 85, 0), 0.0420), ((-177, 180, 60), 0.0380),
            ((-67, 180, -100), 0.0340), ((62, -75, 0), 0.0300), ((-177, -80, -30), 0.0250),
            ((-67, 180, 90), 0.0200)],
    "GLU": [((-67, 180, -10), 0.1884), ((-65, -65, -40), 0.1550), ((-177, 180, 0), 0.1400),
            ((-177, 65, 10), 0.0900), ((62, 180, -20), 0.0600), ((-65, 85, 0), 0.0500),
            ((-177, -80, -20), 0.0400), ((-177, 180, 60), 0.0350), ((-67, 180, -60), 0.0300),
            ((62, -75, 20), 0.0250), ((62, 65, 20), 0.0200), ((-177, 65, -60), 0.0150),
            ((-65, 85, 60), 0.0100)],
    "HIS": [((-65, -70), 0.2964), ((-177, 80), 0.1600), ((-65, 165), 0.1224),
            ((-177, -165), 0.1180), ((62, -75), 0.0890), ((-65, 80), 0.0700),
            ((62, 80), 0.0441), ((-177, -80), 0.0400)],
    "ILE": [((-65, 170), 0.6158), ((-57, -60), 0.1497), ((62, 170), 0.1302),
            ((-177, 170), 0.0810), ((-177, 66), 0.0150)],
    "LEU": [((-65, 175), 0.6252), ((-177, 65), 0.2930), ((-172, 145), 0.0246),
            ((-85, 65), 0.0198)],
    "LYS": [((-67, 180, 180, 180), 0.2279), ((-177, 180, 180, 180), 0.1302),
            ((-67, 180, 180, -65), 0.0750), ((-67, 180, -65, 180), 0.0680),
            ((62, 180, 65, 180), 0.0610), ((-67, 180, 180, 65), 0.0540),
            ((-62, -68, 180, 180), 0.0480), ((-177, 180, 180, -65), 0.0420),
            ((-177, 180, 68, 180), 0.0360), ((-177, 68, 180, 180), 0.0300),
            ((-67, 180, 68, 180), 0.0250), ((62, 180, 180, 180), 0.0200),
            ((-62, -68, -65, 180), 0.0160), ((-177, 180, 180, 65), 0.0120)],
    "MET": [((-65, -65, -70), 0.1853), ((-68, 180, -75), 0.1700), ((-68, 180, 72), 0.1100),
            ((-177, 180, -75), 0.0800), ((-177, 65, 75), 0.0750), ((-68, 180, 180), 0.0650),
            ((-177, 180, 72), 0.0550), ((-65, -65, 180), 0.0450), ((62, 180, -75), 0.0350),
            ((-65, -65, 103), 0.0300), ((62, 180, 72), 0.0250), ((-177, 180, 180), 0.0200)],
    "PHE": [((-65, -85), 0.4708), ((-177, 80), 0.3320), ((62, 90), 0.1288),
            ((-65, -30), 0.0636)],
    "PRO": [((30,), 0.5072), ((-30,), 0.4928)],  # chi2 closes the ring
    "SER": [((64,), 0.4707), ((-65,), 0.2946), ((178,), 0.2347)],
    "THR": [((62,), 0.4886), ((-65,), 0.4378), ((-175,), 0.0736)],
    "TRP": [((-65, 95), 0.3081), ((-65, -5), 0.1838), ((-177, -105), 0.1624),
            ((-177, 90), 0.1350), ((62, -90), 0.0940), ((62, 90), 0.0470),
            ((-65, -90), 0.0330), ((62, 0), 0.0150)],
    "TYR": [((-65, -85), 0.4735), ((-177, 80), 0.3330), ((62, 90), 0.1291),
            ((-65, -30), 0.0591)],
    "VAL": [((175,), 0.7390), ((-60,), 0.1995), ((63,), 0.0615)],
}

# Fixed data: CB of every rotamer of a type, and all atoms of rotamer 0.
FIXED_CB = {"ALA": (-0.94, -1.196, 0.0), "SER": (-0.941, -1.207, 0.008),
            "VAL": (-0.945, -1.215, 0.038)}
FIXED_ROTAMER0 = {
    "SER": {" OG ": (-0.212, -2.419, 0.096)},
    "VAL": {" CG1": (-1.718, -1.247, 1.347), " CG2": (-1.895, -1.189, -1.149)},
}

# Stated features: (rotamer count, atom names in order).
STATED = {
    "ALA": (1, [" CB "]),
    "ARG": (16, [" CB ", " CG ", " CD ", " NE ", " CZ ", " NH1", " NH2"]),
    "ASN": (12, [" CB ", " CG ", " OD1", " ND2"]),
    "ASP": (8, [" CB ", " CG ", " OD1", " OD2"]),
    "CYS": (3, [" CB ", " SG "]),
    "GLN": (13, [" CB ", " CG ", " CD ", " OE1", " NE2"]),
    "GLU": (13, [" CB ", " CG ", " CD ", " OE1", " OE2"]),
    "HIS": (8, [" CB ", " CG ", " ND1", " CD2", " CE1", " NE2"]),
    "ILE": (5, [" CB ", " CG1", " CG2", " CD1"]),
    "LEU": (4, [" CB ", " CG ", " CD1", " CD2"]),
    "LYS": (14, [" CB ", " CG ", " CD ", " CE ", " NZ "]),
    "MET": (12, [" CB ", " CG ", " SD ", " CE "]),
    "MSE": (12, [" CB ", " CG ", "SE  ", " CE "]),
    "PHE": (4, [" CB ", " CG ", " CD1", " CD2", " CE1", " CE2", " CZ "]),
    "PRO": (2, [" CB ", " CG ", " CD "]),
    "SER": (3, [" CB ", " OG "]),
    "THR": (3, [" CB ", " OG1", " CG2"]),
    "TRP": (8, [" CB ", " CG ", " CD1", " CD2", " NE1", " CE2", " CE3", " CZ2", " CZ3", " CH2"]),
    "TYR": (4, [" CB ", " CG ", " CD1", " CD2", " CE1", " CE2", " CZ ", " OH "]),
    "VAL": (3, [" CB ", " CG1", " CG2"]),
}
RECORDS = 749


def build(rtype, chis):
    atoms = {"N": N, "CA": CA, "C": C}
    if rtype in FIXED_CB:
        atoms[" CB "] = FIXED_CB[rtype]
    elif rtype == "PRO":
        atoms[" CB "] = ideal_cb(103.0)  # the ring pinches N-CA-CB
    elif rtype == "ARG" and abs(chis[0]) > 120:
        atoms[" CB "] = ideal_cb(109.0)
    else:
        atoms[" CB "] = ideal_cb(110.5)
    names = [" CB "]
    for name, (a, b, c), length, angle, tors in RECIPES[rtype]:
        if tors is None:
            tors = proline_chi2(atoms, chis[0])
        elif isinstance(tors, tuple):
            tors = chis[tors[1] - 1] + tors[2]
        atoms[name] = place(atoms[a], atoms[b], atoms[c], length, angle, tors)
        names.append(name)
    return [(n, atoms[n]) for n in names]


def proline_chi2(atoms, chi1):
    # CD closes the ring on N; chi2 has the opposite sign of chi1 and is the
    # puckered solution (a second, nearly flat one lies below 15 degrees).
    best = None
    for k in range(150, 600):
        t = -math.copysign(k * 0.1, chi1)
        cd = place(atoms["CA"], atoms[" CB "], atoms[" CG "], 1.502, 105.5, t)
        err = abs(norm(sub(cd, atoms["N"])) - 1.473)
        if best is None or err < best[0]:
            best = (err, t)
    if best[0] > 0.02:
        sys.exit(f"proline ring does not close: CD-N off by {best[0]:.3f}")
    return best[1]


def make_records():
    records = []
    for rtype in sorted(STATED):
        source = "MET" if rtype == "MSE" else rtype
        rotamers = ROTAMERS[source]
        for number, (chis, freq) in enumerate(rotamers):
            atoms = build(source, chis)
            if number == 0 and source in FIXED_ROTAMER0:
                atoms = [(n, FIXED_ROTAMER0[source].get(n, p)) for n, p in atoms]
            for name, pos in atoms:
                if rtype == "MSE" and name == " SD ":
                    name = "SE  "
                records.append((rtype, len(rotamers), number, freq, len(atoms), name,
                                tuple(round(v, 3) for v in pos)))
    check(records)
    return records


def check(records):
    problems = []
    if len(records) != RECORDS:
        problems.append(f"{len(records)} records")
    for rtype, (count, names) in STATED.items():
        rows = [r for r in records if r[0] == rtype]
        freqs = [r[3] for r in rows[::len(names)]]
        if len(rows) != count * len(names) or any(r[1] != count for r in rows):
            problems.append(f"{rtype} count")
        if [r[5] for r in rows] != names * count:
            problems.append(f"{rtype} atom order")
        if any(a < b for a, b in zip(freqs, freqs[1:])) or sum(freqs) > 1.0 + 1e-9:
            problems.append(f"{rtype} frequencies")
        cbs = {r[6] for r in rows if r[5] == " CB "}
        if len(cbs) != (2 if rtype == "ARG" else 1):
            problems.append(f"{rtype} CB positions")
    for rtype in ("ALA", "CYS", "PRO", "SER", "THR", "VAL"):
        if round(sum(f for _, f in ROTAMERS[rtype]), 3) != 1.0:
            problems.append(f"{rtype} frequencies do not sum to 1")
    if round(sum(f for _, f in ROTAMERS["ARG"]), 3) != 0.731:
        problems.append("ARG frequencies do not sum to 0.731")
    if records != sorted(records, key=lambda r: (r[0], r[2])):
        problems.append("order")
    if problems:
        sys.exit("rotamer table: " + ", ".join(problems))


def number(v):
    text = repr(float(v))
    return text + "f"


def render():
    records = make_records()
    out = ["// Generated by tools/gen_rotamer_tables.py; do not edit.",
           "// One record per side-chain atom of each rotamer, sorted by residue type",
           "// and rotamer number; positions in the CA-origin residue frame.",
           "#include \"model/rotamer_tables.h\"",
           "",
           "namespace vantrel {",
           "namespace data {",
           "",
           f"const int rotamer_data_size = {len(records)};",
           "",
           f"const Rotamer_record rotamer_data[{len(records)}] = {{"]
    for rtype, count, num, freq, atoms, name, (x, y, z) in records:
        out.append(f'    {{"{rtype}", {count}, {num}, {number(freq)}, {atoms}, "{name}", '
                   f"{number(x)}, {number(y)}, {number(z)}}},")
    out += ["};", "", "}  // namespace data", "}  // namespace vantrel", ""]
    return "\n".join(out)


def main():
    text = render()
    if "--check" in sys.argv[1:]:
        with open(OUTPUT) as f:
            if f.read() != text:
                sys.exit("model/rotamer_tables.cpp is out of date: run tools/gen_rotamer_tables.py")
        return
    with open(OUTPUT, "w") as f:
        f.write(text)


if __name__ == "__main__":
    main()
