#!/usr/bin/python3
"""Generates model/ramachandran_tables.cpp: counts of observed main-chain
torsion pairs (phi, psi) on a 36 x 36 grid of 10-degree bins for glycine,
proline and all other residues.

Run from the repository root:
    /usr/bin/python3 tools/gen_ramachandran_tables.py          # write the file
    /usr/bin/python3 tools/gen_ramachandran_tables.py --check  # compare only

How the counts are made. Row 30 (phi = -60 degrees), each table's total,
its number of non-zero cells, its largest cell and its all-zero rows are
fixed data (FIXED below). Every other cell comes from a smooth model: a sum
of periodic peaks (products of von Mises functions in phi and psi) at the
places where main-chain torsions cluster -- right-handed helix, extended
strand, polyproline II, the bridge region, the left-handed helix, and for
glycine its mirror-image and extended regions -- plus a faint floor. The
model is evaluated at the grid points; the cells allowed to be non-zero are
each required row's highest cell and then the highest cells overall until
the non-zero count is reached; those cells get one count each and the rest
of the total is shared in proportion to the model, rounded by largest
remainders so that the total is exact. The script then checks every fixed
feature and stops with an error if one fails. It needs only Python's
standard library.
"""
import math
import os
import sys

N = 36
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUTPUT = os.path.join(ROOT, "model", "ramachandran_tables.cpp")

# Fixed data: total, non-zero cells, largest cell (row, column), rows that
# must be all zero, and row 30.
FIXED = {
    "rama_ngp": dict(
        total=889557, nonzero=712, largest=(30, 32), zero_rows=[],
        row30=[188, 23, 3, 0, 5, 3, 0, 2, 15, 23, 40, 295, 1803, 5781, 7356, 4257,
               1641, 351, 28, 4, 0, 0, 0, 0, 6, 5, 2, 3, 14, 74, 2655, 49493,
               86255, 29323, 10531, 2193]),
    "rama_pro": dict(
        total=60629, nonzero=205, largest=(30, 33), zero_rows=list(range(24)) + [35],
        row30=[62, 9, 2, 5, 4, 3, 8, 0, 0, 9, 36, 37, 404, 1893, 3871, 3571, 1491,
               290, 38, 11, 0, 0, 0, 0, 0, 0, 0, 4, 2, 14, 48, 615, 2889, 4269,
               2608, 601]),
    "rama_gly": dict(
        total=107034, nonzero=858, largest=(30, 32), zero_rows=[35],
        row30=[36, 3, 7, 1, 0, 1, 0, 0, 0, 0, 1, 5, 48, 158, 339, 299, 137, 111,
               57, 29, 2, 1, 0, 0, 0, 0, 0, 0, 0, 11, 179, 2348, 4535, 1658, 748,
               240]),
}

# Peaks: (phi, psi) centre in degrees, (phi, psi) spread in degrees, weight.
PEAKS = {
    "rama_ngp": [
        ((-64, -41), (9, 9), 1.00),     # right-handed helix
        ((-120, 130), (20, 18), 0.42),  # extended strand
        ((-68, 145), (9, 12), 0.22),    # polyproline II
        ((-90, 0), (15, 14), 0.04),     # bridge
        ((58, 40), (9, 12), 0.035),     # left-handed helix
        ((-150, 160), (15, 15), 0.05),  # strand edge
        ((60, -140), (12, 12), 0.002),  # epsilon region
    ],
    "rama_pro": [
        ((-60, -35), (13, 11), 0.45),   # helix
        ((-62, 145), (14, 12), 0.55),   # polyproline II
        ((-85, 75), (10, 15), 0.03),    # gamma turn
    ],
    "rama_gly": [
        ((-64, -40), (10, 11), 0.50),   # right-handed helix
        ((70, 30), (14, 16), 0.33),     # left-handed helix and its bridge
        ((85, 0), (12, 14), 0.12),      # left-handed bridge
        ((80, -170), (18, 16), 0.25),   # extended, positive phi
        ((-80, 170), (18, 16), 0.25),   # extended, negative phi
        ((-90, 0), (15, 14), 0.05),     # bridge
        ((-120, 140), (25, 25), 0.06),  # strand
    ],
}
FLOOR = {"rama_ngp": 1e-7, "rama_pro": 1e-7, "rama_gly": 2e-5}


def density(name, i, j):
    phi, psi = math.radians(10 * i), math.radians(10 * j)
    total = FLOOR[name]
    for (cphi, cpsi), (sphi, spsi), weight in PEAKS[name]:
        kphi, kpsi = 1 / math.radians(sphi) ** 2, 1 / math.radians(spsi) ** 2
        total += weight * math.exp(kphi * (math.cos(phi - math.radians(cphi)) - 1)
                                   + kpsi * (math.cos(psi - math.radians(cpsi)) - 1))
    # Ten significant digits: last-bit differences between platforms' exp
    # and cos must not change the counts.
    return float(f"{total:.10g}")


def make_table(name):
    f = FIXED[name]
    table = [[0] * N for _ in range(N)]
    table[30] = list(f["row30"])
    free_rows = [i for i in range(N) if i != 30 and i not in f["zero_rows"]]
    d = {(i, j): density(name, i, j) for i in free_rows for j in range(N)}
    wanted = f["nonzero"] - sum(1 for v in f["row30"] if v)
    support = {max(((i, j) for j in range(N)), key=lambda c: d[c]) for i in free_rows}
    for cell in sorted(d, key=lambda c: (-d[c], c)):
        if len(support) >= wanted:
            break
        support.add(cell)
    # One count per supported cell, the rest in proportion to the model.
    rest = f["total"] - sum(f["row30"]) - len(support)
    weight = sum(d[c] for c in support)
    shares = {c: rest * d[c] / weight for c in support}
    counts = {c: int(math.floor(s)) for c, s in shares.items()}
    left = rest - sum(counts.values())
    for c in sorted(support, key=lambda c: (-(shares[c] - counts[c]), c))[:left]:
        counts[c] += 1
    for (i, j), v in counts.items():
        table[i][j] = v + 1
    check(name, table)
    return table


def check(name, table):
    f = FIXED[name]
    flat = [v for row in table for v in row]
    li, lj = f["largest"]
    others = [v for k, v in enumerate(flat) if k != li * N + lj]
    problems = []
    if sum(flat) != f["total"]:
        problems.append(f"total {sum(flat)}")
    if sum(1 for v in flat if v) != f["nonzero"]:
        problems.append(f"non-zero cells {sum(1 for v in flat if v)}")
    if max(others) >= table[li][lj]:
        problems.append(f"largest cell {max(others)} elsewhere")
    if table[30] != f["row30"]:
        problems.append("row 30")
    for i in range(N):
        if (i in f["zero_rows"]) != (not any(table[i])):
            problems.append(f"row {i} zero or not")
    if problems:
        sys.exit(f"{name}: " + ", ".join(problems))


def render():
    out = ["// Generated by tools/gen_ramachandran_tables.py; do not edit.",
           "// Counts of observed (phi, psi) pairs in 10-degree bins: row i is",
           "// phi = 10 i degrees, column j is psi = 10 j degrees.",
           "#include \"model/ramachandran_tables.h\"",
           "",
           "namespace vantrel {",
           "namespace data {",
           "",
           f"const int rama_data_size = {N};"]
    for name in ("rama_gly", "rama_pro", "rama_ngp"):
        table = make_table(name)
        out += ["", f"const float {name}[{N * N}] = {{"]
        for i, row in enumerate(table):
            out.append(f"    // phi {10 * i}")
            for half in (row[:18], row[18:]):
                out.append("    " + " ".join(f"{v}," for v in half))
        out[-1] = out[-1][:-1]
        out.append("};")
    out += ["", "}  // namespace data", "}  // namespace vantrel", ""]
    return "\n".join(out)


def main():
    text = render()
    if "--check" in sys.argv[1:]:
        with open(OUTPUT) as f:
            if f.read() != text:
                sys.exit("model/ramachandran_tables.cpp is out of date: run tools/gen_ramachandran_tables.py")
        return
    with open(OUTPUT, "w") as f:
        f.write(text)


if __name__ == "__main__":
    main()
