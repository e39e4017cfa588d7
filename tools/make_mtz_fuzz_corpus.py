#!/usr/bin/env python3
"""Writes the seed corpus of the MTZ reader's fuzz target.

Each seed is tests/data/mtz_small.mtz (three crystals, 14 columns) cut to a
few rows, with header records edited: sound files of several shapes and
files the reader must refuse (damaged, unmerged, impossible cells,
symmetry that does not fit, a data dataset named HKL_base, sort indices
beyond the columns, names too long or with a blank, an index label given
twice, a missing-value mark that is an index, a finest limit of 0, numbers
the library reads otherwise than written (hexadecimal, a denormal), cells
no crystal has) and a stale finest limit that the rows pass. Standard
library only; run from anywhere:  tools/make_mtz_fuzz_corpus.py
"""
import hashlib
import os
import struct
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCE = os.path.join(ROOT, "tests", "data", "mtz_small.mtz")
OUT = os.path.join(ROOT, "tests", "fuzz", "corpus", "mtz_file")


def split(data):
    """Rows (list of row bytes) and header records (list of 80-byte records)."""
    ncol, nref = None, None
    start = (struct.unpack("<i", data[4:8])[0] - 1) * 4
    records = [data[i:i + 80] for i in range(start, len(data), 80)]
    for r in records:
        if r.startswith(b"NCOL"):
            ncol, nref = int(r.split()[1]), int(r.split()[2])
    rows = [data[80 + 4 * ncol * i:80 + 4 * ncol * (i + 1)] for i in range(nref)]
    return rows, records


def join(rows, records):
    """An MTZ file: stamp, rows, then the header records."""
    body = b"".join(rows)
    lead = b"MTZ " + struct.pack("<i", 21 + len(body) // 4) + b"\x44\x41\x00\x00"
    return lead + b"\x00" * (80 - len(lead)) + body + b"".join(records)


def record(text):
    return text.encode("latin-1").ljust(80)[:80]


def edited(records, nref, edits):
    """The records with nref rows and the edits (old record, new record)
    made; an edit of "NCOL" gives the number of batch headers."""
    batches = dict(edits).get("NCOL", "0")
    out = []
    for r in records:
        if r.startswith(b"NCOL"):
            f = r.split()
            r = record("NCOL %8d %12d %8s" % (int(f[1]), nref, batches))
        for old, new in edits:
            if r.rstrip() == record(old).rstrip():
                r = record(new)
        out.append(r)
    return out


def main():
    rows, records = split(open(SOURCE, "rb").read())
    sigx = next(r for r in records if r.startswith(b"COLUMN SIGX")).decode("latin-1").rstrip()
    dcell2 = "DCELL         2    21.0000   26.0000   31.0000   90.0000   90.0000   90.0000"
    fx = next(r for r in records if r.startswith(b"COLUMN FX")).decode("latin-1").rstrip()
    variants = {
        "sound": [],
        "unmerged": [("NCOL", "2")],
        "hkl_base_dataset": [("DATASET       2 d2", "DATASET       2 HKL_base")],
        "big_edge": [(dcell2, dcell2.replace("   21.0000", "100000.000"))],
        "flat_angle": [(dcell2, dcell2[:-9] + " 180.0000")],
        "gamma_120": [(dcell2, dcell2[:-9] + " 120.0000")],
        "not_a_group": [("SYMM X+1/2,-Y+1/2,-Z", "SYMM X+1/2,-Y+1/2,Z")],
        "screw_c": [("SYMM -X,Y+1/2,-Z+1/2", "SYMM -X,-Y,Z+1/2")],
        "no_end": [("END", "ENDX")],
        "bad_column": [("COLUMN FX                             F     110.000000000    1001.000000000    2",
                        "COLUMN FX                             F     110.000000000    1001.000000000    7")],
        "sort_beyond": [("SORT    0   0   0   0   0", "SORT    11944 0 0 0 0")],
        "long_name": [("DATASET       1 d1", "DATASET 1 " + "d" * 65)],
        "blank_name": [("DATASET       1 d1", "DATASET       1 d 1")],
        "repeated_index": [(sigx, sigx.replace("COLUMN SIGX", "COLUMN H   "))],
        "valm_index": [("VALM NAN", "VALM 0")],
        "reso_zero": [("RESO 0.001040582726       0.054677777778", "RESO 0.001040582726       0")],
        "reso_stale": [("RESO 0.001040582726       0.054677777778", "RESO 0.001040582726       0.02")],
        "reso_hex": [("RESO 0.001040582726       0.054677777778", "RESO 0.001040582726       0x1p-2")],
        "valm_hex": [("VALM NAN", "VALM 0x7fff")],
        "range_hex": [(fx, fx.replace("110.000000000", "0x6e"))],
        "dwavel_hex": [("DWAVEL        1    1.50000", "DWAVEL        1    0x1.8p0")],
        "dcell_denormal": [(dcell2, dcell2.replace("   26.0000", "     1e-45"))],
        "dcell_small_edge": [(dcell2, dcell2.replace("   26.0000", "    0.5000"))],
    }
    os.makedirs(OUT, exist_ok=True)
    # Seeds of earlier findings ("found_*") stay.
    for old in os.listdir(OUT):
        if old.split("_")[0] != "found":
            os.remove(os.path.join(OUT, old))
    written = 0
    for name, edits in sorted(variants.items()):
        for n in (0, 1, 5, 20):
            data = join(rows[:n], edited(records, n, edits))
            digest = hashlib.sha1(data).hexdigest()[:16]
            with open(os.path.join(OUT, "%s_%d_%s" % (name, n, digest)), "wb") as f:
                f.write(data)
            written += 1
    print("%d seeds in %s" % (written, OUT), file=sys.stderr)


if __name__ == "__main__":
    main()
