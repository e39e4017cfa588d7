#!/usr/bin/python3
"""Write tests/data/symops_all.tsv: every distinct symmetry operator of the
space-group settings known to gemmi, with its integer form and code.

Columns (tab-separated):
  triplet   operator text as gemmi writes it ("-y,x-y,z+1/3")
  decimal   the same operator as cctbx writes it with decimal translations
  rot       nine rotation elements, row-major, comma-separated
  trn       translation in 24ths, reduced into 0..23, comma-separated
  code      the 32-bit operator code: rotation digits (r+1) mod 3 in base 3,
            row-major, XOR 0x4064, shifted left 16, plus tx + 24 ty + 576 tz

Run with Debian's system python (which sees gemmi and cctbx):
  /usr/bin/python3 tools/make_symop_fixtures.py > tests/data/symops_all.tsv
"""
import gemmi
from cctbx import sgtbx


def op_code(rot, trn):
    digits = 0
    weight = 1
    for r in rot:
        digits += ((r + 1) % 3) * weight
        weight *= 3
    return ((digits ^ 0x4064) << 16) + trn[0] + 24 * trn[1] + 576 * trn[2]


def main():
    seen = set()
    print("#triplet\tdecimal\trot\ttrn\tcode")
    for sg in gemmi.spacegroup_table():
        for op in sg.operations():
            triplet = op.triplet()
            if triplet in seen:
                continue
            seen.add(triplet)
            rot = [v // gemmi.Op.DEN for row in op.rot for v in row]
            trn = [(v * 24 // gemmi.Op.DEN) % 24 for v in op.tran]
            decimal = sgtbx.rt_mx(triplet).as_xyz(decimal=True)
            print("%s\t%s\t%s\t%s\t%d" % (
                triplet, decimal, ",".join(map(str, rot)),
                ",".join(map(str, trn)), op_code(rot, trn)))


if __name__ == "__main__":
    main()
