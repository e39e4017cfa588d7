#!/usr/bin/python3
"""Make the space-group name fixture of the symmetry tests with gemmi.

Run with Debian's system python (which sees gemmi):
    /usr/bin/python3 tools/make_spacegroup_name_fixtures.py

tests/data/spacegroup_names.txt
    name <TAB> Hall symbol of the group gemmi finds for that name
    The names are the spellings people write for each setting of gemmi's
    table: the Hermann-Mauguin symbol with blanks, without blanks and in
    lower case, the short symbol ("P21/c", "C2") and the symbol with its
    setting ("R 3:R", "F d -3 m:2"). Only names of settings whose
    Hermann-Mauguin symbol and group are a row of tools/data/spacegroups.tsv
    are kept (gemmi knows more settings and older symbols).
"""
import os

import gemmi

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def group_key(hall):
    return tuple(sorted(op.triplet() for op in gemmi.symops_from_hall(hall)))


def main():
    ours = set()
    with open(os.path.join(ROOT, "tools", "data", "spacegroups.tsv")) as f:
        for line in f:
            if line.startswith("#"):
                continue
            cols = line.rstrip("\n").split("\t")
            ours.add((cols[3], group_key(cols[2])))
    rows = {}
    for sg in gemmi.spacegroup_table():
        names = {sg.hm, sg.hm.replace(" ", ""), sg.hm.lower(), sg.short_name(), sg.xhm(),
                 sg.xhm().replace(" ", "")}
        for name in sorted(names):
            found = gemmi.find_spacegroup_by_name(name)
            if found is not None and (found.hm, group_key(found.hall)) in ours:
                rows.setdefault(name, found.hall)
    path = os.path.join(ROOT, "tests", "data", "spacegroup_names.txt")
    with open(path, "w") as out:
        out.write("# name <TAB> Hall symbol gemmi finds; made by "
                  "tools/make_spacegroup_name_fixtures.py\n")
        for name, hall in rows.items():
            out.write(f"{name}\t{hall}\n")
    print(f"{len(rows)} names written to {path}")


if __name__ == "__main__":
    main()
