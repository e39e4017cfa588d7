#!/usr/bin/python3
"""Write the seed corpora of the fuzz targets (tests/fuzz/corpus/<target>/).

The hand-made seeds are the files seed_NNN; the other files of a corpus are
inputs of longer fuzz runs that reached new code, merged in with libFuzzer's
-merge=1, and are left alone.

Standard library only:
    python3 tools/make_fuzz_seeds.py

Each seed is one input file named by its index; the binary layouts follow
the targets' use of vantrel_fuzz::Input: a number is a mode byte (0 raw
double, 1 special value, 2 int16 / 16, 3 1 + uint16 / 64) and its payload;
a whole number in a range is a uint16 taken modulo the range.
"""
import os
import struct

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = os.path.join(ROOT, "tests", "fuzz", "corpus")


def raw(v):
    return bytes([0]) + struct.pack("<d", v)


def special(i):
    return bytes([1, i])


def ordinary(v):
    return bytes([2]) + struct.pack("<h", int(round(v * 16)))


def u16(n):
    return struct.pack("<H", n)


OPERATORS = [
    "x,y,z", "-y,x-y,z+1/3", "1/2-x,-y,z", "-x-1/4,y,z", "X , Y , Z", "2*x,y,z",
    "x+x,y,z", "x+0.5,y,z", "x,y,z+1/16", "x/,y,z", "1/0x,y,z",
    "x,y,12345678901234567890z", "x,y,z+1/", "x,y,z+1/0", "x,y,z+0/0",
    "2147483647x,y,z", "x,,y,z", "x,y",
    "x,y,z;-x,y+1/2,-z", "x,y,z;-y,x-y,z+1/3;-x+y,-x,z+2/3",
    "x,y,z;-x,-y,z;x+1/2,y+1/2,z", "x+y,y,z;x,y+z,z;x,y,z+x",
    "x,y,z;-y,x-y,z+1/", "x,y,z;x,y,z+1/16",
]

SPACEGROUP_TEXTS = [
    (4, "P 21 21 21"), (4, "P 2ac 2ab"), (4, "-P 2ac 2ab (0 0 1)"), (4, "19"),
    (4, "x,y,z;-x,y+1/2,-z"), (4, "P21"), (4, "P212121"), (4, "C2"), (4, "R3"),
    (4, "P43212"), (4, "C2221"), (4, "I23"), (4, "C121"), (4, "P 21/c"),
    (4, "Fd-3m"), (4, "H 3"), (4, "p 21 21 21"), (4, "R 3 :R"), (4, "P 3 2"),
    (4, "F 4d 2 3 -1d"), (4, "P 2 (x,y+1/4,z)"), (4, "P 2 )"), (4, ""),
    (0, "P 2 x"), (0, "P 1 2"), (0, "-I 4bd 2c 3"), (0, "P 61 2 (0 0 -1)"),
    (1, "P 1 21 1"), (1, "F d -3 m :2"), (2, "x,y,z;-x,-y,-z"), (3, "230"), (3, "231"),
]

STRINGS = [
    (raw(0.5), 24, 1, "12abc"), (raw(float("nan")), 24, 0, " 3.5x"),
    (special(7), 24, 1, "1/2"), (raw(2.0 ** 63), 24, 0, "-1/3"),
    (ordinary(-0.25), 48, 1, "a/b/c"), (raw(3 / 48), 48, 0, "  trim me  "),
    (ordinary(1.5), 0, 1, "1e400"), (raw(-1e300), 7, 0, "/head/tail/"),
]


def cell_seed(row, cell, res, rate, radius):
    return u16(row) + b"".join(cell) + res + rate + radius


CELLS = [
    cell_seed(0, [ordinary(50), ordinary(60), ordinary(70)] + [ordinary(90)] * 3,
              ordinary(2), ordinary(1.5), ordinary(5)),
    cell_seed(80, [ordinary(-10), ordinary(-20), ordinary(30)] + [ordinary(90)] * 3,
              ordinary(2), ordinary(1.5), ordinary(5)),
    cell_seed(3, [special(1), ordinary(20), ordinary(30)] + [ordinary(90)] * 3,
              ordinary(2), ordinary(1.5), ordinary(5)),
    cell_seed(0, [ordinary(50)] * 3 + [ordinary(90)] * 3,
              ordinary(2), special(0), ordinary(5)),
    cell_seed(0, [raw(1e9), ordinary(60), ordinary(70)] + [ordinary(90)] * 3,
              ordinary(2), ordinary(1.5), ordinary(5)),
    cell_seed(0, [ordinary(10)] * 3 + [ordinary(90)] * 3,
              special(0), ordinary(1.5), special(0)),
    cell_seed(0, [ordinary(10)] * 3 + [ordinary(90)] * 3,
              raw(1e-9), ordinary(1.5), ordinary(5)),
    cell_seed(0, [ordinary(10)] * 3 + [ordinary(90)] * 3,
              raw(1e10), ordinary(1.5), ordinary(5)),
    cell_seed(0, [special(5), ordinary(10), ordinary(10)] + [ordinary(90)] * 3,
              ordinary(2), ordinary(1.5), ordinary(5)),
    cell_seed(300, [ordinary(40), ordinary(40), ordinary(90)] + [ordinary(90), ordinary(90),
                                                                 ordinary(120)],
              ordinary(3), ordinary(1.5), ordinary(5)),
    cell_seed(0, [ordinary(10)] * 3 + [ordinary(60), ordinary(60), ordinary(60.5)],
              ordinary(9), ordinary(1.5), ordinary(5)),
]


def map_seed(row, grid, chosen, a, d, positions):
    return (u16(row) + b"".join(u16(n + 2) for n in grid) + bytes([chosen]) + u16(a) + u16(d) +
            b"".join(positions))


POS = [ordinary(1.25), ordinary(2.5), ordinary(-3.75)]
MAPS = [
    map_seed(0, (12, 16, 20), 0, 120, 16, POS * 4),
    map_seed(18, (12, 16, 20), 1, 120, 16, POS * 4),
    map_seed(5, (9, 8, 8), 0, 120, 16, POS * 4),
    map_seed(100, (6, 7, 8), 0, 120, 16, POS * 4),
    map_seed(0, (0, 8, 8), 0, 120, 16, POS * 4),
    map_seed(0, (-2, -2, 8), 0, 120, 16, POS * 4),
    map_seed(60, (8, 8, 8), 1, 40, 8, [special(0), raw(1e300), special(1)] * 4),
    map_seed(400, (24, 24, 24), 1, 200, 30, [raw(2.0 ** 40 * 24 + 0.25), ordinary(1), ordinary(2)] * 4),
]


# written_model: a coordinate file of tests/data by its place among the PDB
# and mmCIF files there, sorted by name; the kind of edit (the order of
# tests/model/written_invariants.h's edit_once, 0 to 10) and the choices it
# takes. Small files, so that the replay stays short.
WRITTEN_SOURCES = ["shape_joined.pdb", "shape_free_dna.pdb", "shape_gaps.pdb", "shape_far.pdb",
                   "shape_pairs.cif", "label_runs.pdb", "label_breaks.pdb", "label_free.pdb",
                   "tiny_5e5z.pdb", "label_apart.cif", "real_4url_pocket7_atm.pdb",
                   "label_dna.pdb"]


def written_seeds():
    data = os.path.join(ROOT, "tests", "data")
    names = sorted(n for n in os.listdir(data) if n.endswith((".pdb", ".cif")))
    choices = lambda i: [3 * i + 1, i + 2, 7, 5 * i, i + 11, 3]
    return [u16(names.index(name)) + u16(i % 11) + b"".join(u16(c) for c in choices(i))
            for i, name in enumerate(WRITTEN_SOURCES)]


def write(target, seeds):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):  # inputs kept from fuzz runs stay
        if name.startswith("seed_"):
            os.remove(os.path.join(folder, name))
    for i, seed in enumerate(seeds):
        with open(os.path.join(folder, f"seed_{i:03d}"), "wb") as f:
            f.write(seed if isinstance(seed, bytes) else seed.encode())
    return len(seeds)


def main():
    n = write("operator_text", OPERATORS)
    n += write("spacegroup_text", [bytes([kind]) + text.encode() for kind, text in SPACEGROUP_TEXTS])
    n += write("string_numbers", [f + u16(b) + bytes([s]) + u16(10) + u16(6) + text.encode()
                                  for f, b, s, text in STRINGS])
    n += write("cell_sampling", CELLS)
    n += write("small_map", MAPS)
    n += write("written_model", written_seeds())
    print(f"{n} seeds written under {CORPUS}")


if __name__ == "__main__":
    main()
