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

With --chains, the builds given are bench/bench_chain_writes instead (chains
of 1,000 to 4,000 glycines, laid out and crowded at one point), and gemmi
writes the same chains; every figure is then processor time.
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


def best_of(fn, clock=time.perf_counter):
    best = float("inf")
    for _ in range(REPEATS):
        t0 = clock()
        fn()
        best = min(best, clock() - t0)
    return best * 1000.0


def bench(binary, env, cases):
    out = subprocess.run([binary, "--benchmark_filter=" + cases, "--benchmark_format=json"],
                         env=env, check=True, capture_output=True, text=True).stdout
    return {b["name"]: (b["real_time"], b["cpu_time"], int(b["atoms"]))
            for b in json.loads(out)["benchmarks"]}


def chains(tmp):
    for model in sorted(glob.glob(os.path.join(tmp, "chain_*.pdb"))):
        st = gemmi.read_structure(model)
        st.setup_entities()
        pdb_out, cif_out = os.path.join(tmp, "gemmi.pdb"), os.path.join(tmp, "gemmi.cif")
        pdb = best_of(lambda: st.write_pdb(pdb_out), time.process_time)
        cif = best_of(lambda: st.make_mmcif_document().write_file(cif_out), time.process_time)
        print(f"gemmi {gemmi.__version__}\t{os.path.basename(model)}\t"
              f"{st[0].count_atom_sites()} atoms\twrite PDB {pdb:.1f} ms cpu\tmmCIF {cif:.1f} ms cpu")


def main():
    binaries = [a for a in sys.argv[1:] if a != "--chains"]
    chain_run = "--chains" in sys.argv[1:]
    variable, cases = (("VANTREL_BENCH_CHAIN_MODEL", "_chain_") if chain_run
                       else ("VANTREL_BENCH_TILED_MODEL", "_tiled"))
    if not binaries:
        sys.exit(__doc__)
    with tempfile.TemporaryDirectory() as tmp:
        env = dict(os.environ, TMPDIR=tmp)
        for n, binary in enumerate(binaries):
            if n == 0:
                env[variable] = os.path.join(tmp, "chain" if chain_run else "tiled")
            else:
                env.pop(variable, None)
            for name, (real, cpu, atoms) in sorted(bench(binary, env, cases).items()):
                print(f"{binary}\t{name}\t{atoms} atoms\t{real:.1f} ms real\t{cpu:.1f} ms cpu")
        if chain_run:
            chains(tmp)
            return
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
