#!/usr/bin/python3
"""How often quelvarn flags a misassigned stretch of sequence: a trial on the
shipped work models that anyone can rerun. Standard library only; run from the
repository root after building:
    /usr/bin/python3 tools/segment_trial.py [--jobs N] [--modes M,...] [--resolution R]

Protocol. For each shipped work model (tests/data/wrk_7mm1.pdb with
wrk_7mm1.mtz, and tests/data/sm_1dur.pdb with sm_1dur.mtz), take the
amino-acid residues of its first chain in file order, n of them, and make:
  - shifted segments: residues s .. s+L-1 each given the name of the residue
    k positions further on (s+k .. s+L-1+k, so the segment's last k names are
    those of the k residues after it), coordinates and all other records
    unchanged, for segment lengths L = 10, 20, 40, shifts k = 1, 2, 4 and 12
    start positions s = round(j (n - L - 4) / 11), j = 0 .. 11 (0-based,
    spread evenly over the chain, the same for every shift);
  - the whole chain scrambled: the names of its n residues permuted by
    random.Random(1).shuffle;
  - the model unchanged.
Each model is run with build/app/quelvarn against the 1RX2 reference as in the
README's quick start (-mtzin-ref tests/data/ref_1rx2.mtz -pdbin-ref
tests/data/ref_1rx2.pdb -colin-ref-fo '/*/*/[FP,SIGFP]' -colin-ref-hl
'/*/*/[HLA,HLB,HLC,HLD]', the work model's own MTZ file with -colin-wrk-fo
'/*/*/[FP,SIGFP]'), in each phase mode asked (--modes, by default
given,omit): given, the MTZ file's HL phases (-colin-wrk-hl
'/*/*/[HLA,HLB,HLC,HLD]', made from the deposited model, so from the true
sequence); calculated, phases calculated from the model under test; omit,
calculated with -side-chain-omit. --resolution R adds -resolution R to every
run. The models go to a temporary folder, removed at the end.

Printed, a table with a row per segment length and shift (and for the
scrambled and the unchanged model) and a column per model and phase mode,
each cell four figures (then the start positions used):
  flagged       runs whose verdict for the first chain starts "WARNING:";
  strongly      runs with "The supplied data strongly supports ...";
  insufficient  runs with "The data is insufficient ...";
  true          at the positions whose name was changed, the share of the
                letters of "Modified" that are the residue's true (deposited)
                type, pooled over the row's runs.
The other runs got "weakly supports" or "Manual analysis is required".
A run takes about a second of processor time (1DUR less); the default trial
(440 runs), about 4 minutes. --jobs N runs N at a time (the processor time
is the same).
"""
import argparse
import concurrent.futures
import os
import random
import subprocess
import sys
import tempfile

DATA = "tests/data"
EXE = "build/app/quelvarn"
MODELS = ["wrk_7mm1", "sm_1dur"]
LENGTHS = [10, 20, 40]
SHIFTS = [1, 2, 4]
STARTS = 12
SEED = 1
HL = "/*/*/[HLA,HLB,HLC,HLD]"
REFERENCE = ["-mtzin-ref", DATA + "/ref_1rx2.mtz", "-pdbin-ref", DATA + "/ref_1rx2.pdb",
             "-colin-ref-fo", "/*/*/[FP,SIGFP]", "-colin-ref-hl", HL]
MODES = {"given": ("given HL", ["-colin-wrk-hl", HL]),
         "calculated": ("calculated", []),
         "omit": ("-side-chain-omit", ["-side-chain-omit"])}
LETTER = {"ALA": "A", "ARG": "R", "ASN": "N", "ASP": "D", "CYS": "C", "GLN": "Q", "GLU": "E",
          "GLY": "G", "HIS": "H", "ILE": "I", "LEU": "L", "LYS": "K", "MET": "M", "MSE": "M",
          "PHE": "F", "PRO": "P", "SER": "S", "THR": "T", "TRP": "W", "TYR": "Y", "VAL": "V"}
RENAMED = ("ATOM  ", "HETATM", "ANISOU", "SIGATM", "SIGUIJ", "TER   ")
VERDICT_COLUMNS = [("flagged", "WARNING:"),
                   ("strongly", "The supplied data strongly supports"),
                   ("insufficient", "The data is insufficient")]


def first_chain(lines):
    """The first chain's id and its amino-acid residues in file order, as
    (key, name) with key the residue number and insertion code columns."""
    chain, residues, seen = None, [], set()
    for line in lines:
        if not line.startswith(("ATOM  ", "HETATM")) or line[17:20] not in LETTER:
            continue
        if chain is None:
            chain = line[21]
        if line[21] == chain and line[22:27] not in seen:
            seen.add(line[22:27])
            residues.append((line[22:27], line[17:20]))
    return chain, residues


def shifted(names, start, length, k):
    out = list(names)
    out[start:start + length] = names[start + k:start + length + k]
    return out


def scrambled(names):
    out = list(names)
    random.Random(SEED).shuffle(out)
    return out


def write_model(lines, chain, residues, names, path):
    new = {key: name for (key, _), name in zip(residues, names)}
    with open(path, "w") as f:
        for line in lines:
            if line.startswith(RENAMED) and len(line) > 27 and line[21] == chain \
                    and line[22:27] in new:
                line = line[:17] + new[line[22:27]] + line[20:]
            f.write(line)


def run(model, pdb, mode_args):
    """The first chain's (Original, Modified, verdict) of one run."""
    args = [EXE] + REFERENCE + ["-mtzin-wrk", f"{DATA}/{model}.mtz", "-pdbin-wrk", pdb,
                                "-colin-wrk-fo", "/*/*/[FP,SIGFP]"] + mode_args
    p = subprocess.run(args, capture_output=True, text=True)
    if p.returncode != 0:
        sys.exit(f"segment_trial: {' '.join(args)} exited {p.returncode}:\n{p.stderr}")
    lines = p.stdout.split("\n")
    try:
        at = lines.index(next(l for l in lines if l.startswith("CHAIN: ")))
        original = lines[at + 1].removeprefix("Original: ")
        modified = lines[at + 2].removeprefix("Modified: ")
        verdict = next(l for l in lines[at + 4:] if l.strip())
    except StopIteration:
        sys.exit(f"segment_trial: no chain block in the run on {pdb}:\n{p.stdout}")
    return original, modified, verdict


def starts(n, length):
    """The 0-based first residues of the segments of a length in n residues."""
    return sorted({round(j * (n - length - max(SHIFTS)) / (STARTS - 1)) for j in range(STARTS)})


def cases(n):
    """(row label, names transform) for every model of the trial."""
    out = []
    for length in LENGTHS:
        for k in SHIFTS:
            for s in starts(n, length):
                out.append(((f"{length} residues", f"{k}"),
                            lambda names, s=s, length=length, k=k: shifted(names, s, length, k)))
    out.append((("whole chain scrambled", ""), scrambled))
    out.append((("unchanged", ""), list))
    return out


def trial(model, modes, more, jobs, folder):
    with open(f"{DATA}/{model}.pdb") as f:
        lines = f.readlines()
    chain, residues = first_chain(lines)
    true = [name for _, name in residues]
    work = []
    for i, (row, transform) in enumerate(cases(len(true))):
        names = transform(true)
        pdb = os.path.join(folder, f"{model}_{i}.pdb")
        write_model(lines, chain, residues, names, pdb)
        for mode in modes:
            work.append((row, mode, names, pdb, MODES[mode][1] + more))
    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        results = list(pool.map(lambda w: run(model, w[3], w[4]), work))
    tally = {}
    for (row, mode, names, pdb, _), (original, modified, verdict) in zip(work, results):
        assigned = "".join(LETTER[name] for name in names)
        if original != assigned:
            sys.exit(f"segment_trial: {pdb}: the program read {original}, not {assigned}")
        t = tally.setdefault((row, mode), {"runs": 0, "hits": 0, "changed": 0, "verdicts": []})
        t["runs"] += 1
        t["verdicts"].append(verdict)
        for i, name in enumerate(names):
            if name != true[i]:
                t["changed"] += 1
                t["hits"] += i < len(modified) and modified[i] == LETTER[true[i]]
    return chain, len(true), tally


def cell(t):
    figures = [str(sum(v.startswith(prefix) for v in t["verdicts"]))
               for _, prefix in VERDICT_COLUMNS]
    figures.append(f"{100 * t['hits'] / t['changed']:.0f}%" if t["changed"] else "–")
    return " / ".join(figures)


def main():
    parser = argparse.ArgumentParser(description="Rerunnable trial of misassigned segments.")
    parser.add_argument("--jobs", type=int, default=1, help="runs at a time (default 1)")
    parser.add_argument("--modes", default="given,omit",
                        help="phase modes, of " + ",".join(MODES) + " (default given,omit)")
    parser.add_argument("--resolution", help="passed to every run as -resolution")
    options = parser.parse_args()
    modes = options.modes.split(",")
    if options.jobs < 1 or not modes or any(m not in MODES for m in modes):
        parser.error("--jobs takes a positive number, --modes names from " + ",".join(MODES))
    more = ["-resolution", options.resolution] if options.resolution else []
    if not os.access(EXE, os.X_OK):
        sys.exit(f"segment_trial: no {EXE}; build first (see the README)")
    columns, tallies, placed = [], {}, []
    with tempfile.TemporaryDirectory() as folder:
        for model in MODELS:
            chain, n, tallies[model] = trial(model, modes, more, options.jobs, folder)
            columns += [(model, m, f"{model[-4:].upper()} {chain} ({n}), {MODES[m][0]}")
                        for m in modes]
            placed += [f"{model[-4:].upper()}, {length} residues: " +
                       " ".join(map(str, starts(n, length))) for length in LENGTHS]
    print("per cell: " + " / ".join(name for name, _ in VERDICT_COLUMNS) + " / true\n")
    print("| segment | k | runs | " + " | ".join(title for _, _, title in columns) + " |")
    print("|---|---|---|" + "---|" * len(columns))
    first = tallies[MODELS[0]]
    for row in dict.fromkeys(row for row, _ in first):
        print(f"| {row[0]} | {row[1]} | {first[(row, modes[0])]['runs']} | " +
              " | ".join(cell(tallies[model][(row, m)]) for model, m, _ in columns) + " |")
    print("\nsegment starts (0-based residue index in the chain):\n  " + "\n  ".join(placed))


if __name__ == "__main__":
    main()
