#!/usr/bin/python3
"""Time coordinate writes and reads of large models in one run: each given
build's bench/bench_model (its BM_write_tiled_* and BM_read_tiled_* cases:
copies of 7MM1 of about 20,000 and 60,000 atoms) and gemmi writing and reading
the same models. Run with Debian's system python, SYMINFO set:
    /usr/bin/python3 tools/time_model_writes.py build/bench/bench_model [other/bench_model ...]

The first build given writes the models it times as PDB and mmCIF files
(VANTREL_BENCH_TILED_MODEL); gemmi reads each (read_structure, with
setup_entities) and writes it as PDB (write_pdb) and as mmCIF
(make_mmcif_document, write_file). Prints milliseconds of real time, the
best of several runs.
"""
import glob
import json
import os
import subprocess
import sys
import tempfile
import time

import gemmi

REPEATS = 3


def best_of(fn):
    best = float("inf")
    for _ in range(REPEATS):
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
    return best * 1000.0


def bench(binary, env):
    out = subprocess.run([binary, "--benchmark_filter=_tiled", "--benchmark_format=json"],
                         env=env, check=True, capture_output=True, text=True).stdout
    return {b["name"]: (b["real_time"], b["cpu_time"], int(b["atoms"]))
            for b in json.loads(out)["benchmarks"]}


def main():
    binaries = sys.argv[1:]
    if not binaries:
        sys.exit(__doc__)
    with tempfile.TemporaryDirectory() as tmp:
        env = dict(os.environ, TMPDIR=tmp)
        for n, binary in enumerate(binaries):
            if n == 0:
                env["VANTREL_BENCH_TILED_MODEL"] = os.path.join(tmp, "tiled")
            else:
                env.pop("VANTREL_BENCH_TILED_MODEL", None)
            for name, (real, cpu, atoms) in sorted(bench(binary, env).items()):
                print(f"{binary}\t{name}\t{atoms} atoms\t{real:.0f} ms real\t{cpu:.0f} ms cpu")
        for model in sorted(glob.glob(os.path.join(tmp, "tiled_*.pdb"))):
            def read(name):
                st = gemmi.read_structure(name)
                st.setup_entities()
                return st
            st = read(model)
            pdb_read = best_of(lambda: read(model))
            cif_read = best_of(lambda: read(model[:-4] + ".cif"))
            atoms = st[0].count_atom_sites()
            pdb_out, cif_out = os.path.join(tmp, "gemmi.pdb"), os.path.join(tmp, "gemmi.cif")
            pdb = best_of(lambda: st.write_pdb(pdb_out))
            cif = best_of(lambda: st.make_mmcif_document().write_file(cif_out))
            print(f"gemmi {gemmi.__version__}\t{os.path.basename(model)}\t{atoms} atoms\t"
                  f"write PDB {pdb:.0f} ms\tmmCIF {cif:.0f} ms\t"
                  f"read PDB {pdb_read:.0f} ms\tmmCIF {cif_read:.0f} ms")


if __name__ == "__main__":
    main()
