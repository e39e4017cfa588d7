#!/usr/bin/python3
"""Make the space-group fixture files of the symmetry tests with gemmi.

Run with Debian's system python (which sees gemmi):
    /usr/bin/python3 tools/make_spacegroup_fixtures.py

Each operator is written as twelve integers: the rotation row by row, then
the translation in 24ths reduced into 0..23. The operators of a group are
sorted and separated by ';'.

tests/data/spacegroups_hall_ops.txt
    one line per row of tools/data/spacegroups.tsv, in order:
    Hall symbol <TAB> operator count <TAB> operators
tests/data/spacegroups_lookup.txt
    kind ('number' or 'hm') <TAB> number or Hermann-Mauguin symbol <TAB>
    Hall symbol of gemmi's default setting (origin choice 1, hexagonal axes)
    <TAB> Hall symbol of the alternative setting (origin choice 2,
    rhombohedral axes; the default when there is none).
"""
import os

import gemmi

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEN = gemmi.Op.DEN  # 24


def op_ints(op):
    rot = [v // DEN for row in op.rot for v in row]
    tran = [(t * 24 // DEN) % 24 for t in op.tran]
    return rot + tran


def ops_text(group):
    ops = sorted(op_ints(op) for op in group)
    return ';'.join(' '.join(str(v) for v in op) for op in ops)


def table_rows():
    with open(os.path.join(ROOT, 'tools', 'data', 'spacegroups.tsv')) as f:
        for line in f:
            if line.startswith('#'):
                continue
            number, setting, hall, hm = line.rstrip('\n').split('\t')
            yield int(number), setting, hall, hm


def alternative(sg):
    """The origin-choice-2 or rhombohedral-axes entry of the same symbol."""
    for ext in ('2', 'R'):
        alt = gemmi.find_spacegroup_by_name(sg.hm + ':' + ext)
        if alt is not None and alt.number == sg.number and alt.ext == ext:
            return alt
    return sg


def main():
    rows = list(table_rows())
    with open(os.path.join(ROOT, 'tests', 'data', 'spacegroups_hall_ops.txt'), 'w') as f:
        for _, _, hall, _ in rows:
            group = gemmi.symops_from_hall(hall)
            f.write('%s\t%d\t%s\n' % (hall, len(group), ops_text(group)))
    with open(os.path.join(ROOT, 'tests', 'data', 'spacegroups_lookup.txt'), 'w') as f:
        for n in range(1, 231):
            sg = gemmi.find_spacegroup_by_number(n)
            f.write('number\t%d\t%s\t%s\n' % (n, sg.hall, alternative(sg).hall))
        seen = set()
        for _, _, _, hm in rows:
            if hm in seen:
                continue
            seen.add(hm)
            sg = gemmi.find_spacegroup_by_name(hm)
            f.write('hm\t%s\t%s\t%s\n' % (hm, sg.hall, alternative(sg).hall))


if __name__ == '__main__':
    main()
