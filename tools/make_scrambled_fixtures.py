#!/usr/bin/python3
"""A model with a wrong sequence, for the end-to-end runs and the sequence
scoring tests: the 1DUR model with its residue names shuffled. Made with
Debian's python3-numpy from the shipped tests/data/sm_1dur.pdb.

Run from anywhere with /usr/bin/python3:
  tools/make_scrambled_fixtures.py            writes the file below
  tools/make_scrambled_fixtures.py --check    makes it elsewhere and reports
                                              whether the committed one is current

File written into tests/data:
  sm_1dur_scrambled.pdb  sm_1dur.pdb with the names of its 55 amino acids
                         (the residues its ATOM records give, in file order)
                         permuted by numpy.random.default_rng(7).permutation,
                         so that only ILE 9 keeps its own; each ATOM and TER
                         record of a residue takes its new name, every other
                         column as it was. Of the other records only CRYST1,
                         SCALE1-3, HETATM (the two SF4 and the waters) and END
                         are kept.
"""
import os

import numpy

from fixture_files import DATA, main

SOURCE = os.path.join(DATA, "sm_1dur.pdb")
SEED = 7
KEPT = ("CRYST1", "SCALE1", "SCALE2", "SCALE3", "ATOM  ", "HETATM", "TER   ", "END   ")


def residue_key(line):
    """Chain, number and insertion code of an ATOM or TER record."""
    return line[21:27]


def make_scrambled(path):
    with open(SOURCE) as f:
        lines = [line for line in f if line.startswith(KEPT)]
    keys, names = [], []
    for line in lines:
        if line.startswith("ATOM  ") and residue_key(line) not in keys:
            keys.append(residue_key(line))
            names.append(line[17:20])
    assert len(keys) == 55, len(keys)
    shuffled = [names[i] for i in numpy.random.default_rng(SEED).permutation(len(names))]
    kept_own = [key[1:].strip() for key, old, new in zip(keys, names, shuffled) if old == new]
    assert kept_own == ["9"], kept_own
    new_name = dict(zip(keys, shuffled))
    with open(path, "w") as f:
        for line in lines:
            if line.startswith(("ATOM  ", "TER   ")):
                line = line[:17] + new_name[residue_key(line)] + line[20:]
            f.write(line)


def make_all(directory):
    make_scrambled(os.path.join(directory, "sm_1dur_scrambled.pdb"))


if __name__ == "__main__":
    main(make_all)
