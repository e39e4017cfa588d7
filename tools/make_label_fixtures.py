#!/usr/bin/python3
"""Coordinate files whose chains hold more than a plain polymer, and what
gemmi reads from them, for the tests of the labels a write sets
(tests/model/test_mmdb_file.cpp). Made with Debian's python3-gemmi from the
shipped 1DUR and 1RX2 files, and from files other projects ship.

Run from anywhere with /usr/bin/python3:
  tools/make_label_fixtures.py            writes the files listed below
  tools/make_label_fixtures.py --check    makes them elsewhere and reports
                                          whether the committed ones are current
  tools/make_label_fixtures.py --roundtrip DIR
      reads the files the model tests wrote (VANTREL_MODEL_OUTPUT=DIR
      build/tests/model_test_mmdb_file) with gemmi and cctbx, and compares
      each with its source: for the label sources atoms, the polymer of each
      chain (length and kind), its subchains and the entities they form; for
      the models written back whole (variant_cif, wrk_7mm1, some atoms with
      anisotropic U and all) each atom and its anisotropic U

Files written into tests/data (written by gemmi, so the PDB files carry
SEQRES records and a TER record after each chain's polymer):
  label_ends.pdb     1DUR as deposited in mmCIF, changed: residue 1 becomes
                     MSE (with an SE atom), residues 20-22 are removed (a gap
                     of missing residues), residues 40-55 are renumbered 45-60
                     (a jump with no residue missing), residue 55 becomes DAL
                     (side chain cut to CB), an NH2 cap is bonded after it in
                     place of OXT, the two SF4 become 62 and 63; chain B is
                     residues 30-33 renamed to their D-amino acids, moved
                     15 A, with two waters: a polymer without standard residue
  label_ligands.pdb  residues 1-20 of 1RX2 with its MN, FOL, BME, NAP and
                     eight waters in chain A; the same 20 residues, moved, in
                     chain B (one polymer entity for both); chain C holds
                     ligands and waters only: a second NAP and MN, two waters
  label_dna.pdb      a DNA chain built here (no nucleic acid is among the
                     shipped data): 5CM DG DA DT DOC, each bonded O3'-P to the
                     next, the first and last non-standard, then MG and two
                     waters
  label_free.pdb     residues 1-20 of 1RX2 in chain A with its MN, then a free
                     glycine (HETATM, after TER, bonded to nothing), a
                     methanol (MOH), an adenine (ADE) and two waters; chain B
                     one alanine and a water (a one-residue polymer); chain C
                     two alanines (a peptide of one residue name) and a free
                     guanosine (G, after TER)
  label_blank.pdb    residues 1-5 of 1RX2 and a water in a chain with a blank
                     id
  label_ahead.pdb    residues 1-20 of 1RX2 after its ligands and waters
                     (make_ahead), with and without TER, and a chain of
                     ligands only with a TER record among them
  label_inserts.pdb  residues 1-20 of 1RX2 with an ion, a ligand or a free
                     glycine between two residues bonded to each other
                     (INSERTS), with TER at the end, none, or right after
                     what was put in
  label_waters.pdb   residues 1-20 of 1RX2 with a water (HOH, WAT, DOD, H2O)
                     between residues 10 and 11
  label_hand.pdb     peptides of modified residues whose hand only their
                     coordinates give, and of D-amino acids (make_hand)
  label_split.pdb    three residues of 1RX2 bonded to nothing, the first
                     one's atoms in two runs, one TER record at the end
                     (make_split), as cavity finders list them
  label_late.pdb     residues bonded into the polymer but given after TER:
                     a SER in the middle, an acetyl cap; sugars on an ASN
                     after TER that stay ligands (make_late)
  label_breaks.pdb   residues bonded to nothing at chain breaks: a HETATM
                     MSE and the ALA after it, a HETATM modified nucleotide
                     and the last nucleotide after it (make_breaks)
  label_apart.cif    mmCIF: residues 1-5 of 1RX2 and a glycine given as
                     ATOM with a label_asym_id and entity of its own
  label_moved.cif    gemmi's mmCIF of residues whose labels put them
                     elsewhere than their bonds do (make_moved)
  label_clash.pdb    a ligand whose carbon lies 1.9 A from the N of a
                     residue bonded into the chain (make_clash)
  label_isopeptide.pdb  a glycine bonded to the NZ of a methylated lysine
                     (MLZ, and the same under a made-up name), given after
                     TER (make_isopeptide)
  label_glycosylated.pdb  sugars on an asparagine named NLN and clashing
                     with a glycine's N, after TER (make_glycosylated)
  label_glycan.pdb   a glycan without amino acid whose two sialic acids
                     overlap, each one's C near the other's N (make_glycan)
  label_lipid.pdb    MUB, a pyrophosphate of two 2PO and a lipid bonded
                     O-P, all HETATM, as PDB entry 6YFY's chains I and J
                     (make_lipid)
  label_runs.pdb     runs of bonded standard residues after a chain's
                     first TER (one at each break, two DNA strands, a chain
                     id used twice) and DNA after a peptide in one chain
                     (make_runs)
  label_gaps.pdb     a HETATM MSE before a missing residue 2 and a SEP
                     last after a gap, bonded to nothing (make_gaps)
  label_entities.cif  gemmi's mmCIF of two peptides of different sequences
                     given one entity (make_entities)
  label_auth_ids.cif  gemmi's mmCIF whose author chain C holds a peptide
                     given as ATOM while the label_asym_id C is a manganese's,
                     as the library's own mmCIF output names them
                     (make_auth_ids)
  label_shared.cif   gemmi's mmCIF of two entities of two chains each, one
                     chain of each observed over fewer residues at its ends,
                     as PDB entry 5YH2 (make_shared)
  label_shared_one.cif  the same, all four chains given one entity
  label_gapped.pdb   two chains of the same residue names whose gaps fall
                     in other places (make_gapped)
  label_between.pdb  residues bonded into the polymer on both sides given
                     after its end, with and without TER; a selenomethionine
                     given before the stretch whose end it is bonded to; two
                     bonded residues after TER with a metal between them
                     (make_between)
  label_loose.pdb    a valine, TER, a DNA strand and a nucleotide given as
                     HETATM after it, bonded to nothing (make_loose)
  label_reach.pdb    residues bonded to nothing at an end of the polymer or
                     at a gap, in reach of their neighbours or not, and an
                     inhibitor numbered 1 after residue 155 (make_reach)
  label_overlaid.pdb  a tripeptide, two of its atoms of different
                     conformations at one place, then three residues laid
                     over one another, one's C by another's N as a peptide
                     bond's (make_overlaid)
  model_two.cif      gemmi's mmCIF of a lone model numbered 2: 1RX2's
                     residues 1-5 and a water (not a label source)
  label_cases.txt    per source a line "source FILE", then per residue in the
                     order gemmi writes the source's model (each chain's
                     polymer, then its other residues, in file order):
                     chain, number, insertion code (. when none),
                     name ('' for a blank chain id), record (ATOM/HETATM), label_seq_id as gemmi aligns
                     it to the SEQRES sequence (. outside polymers), and the
                     subchain and entity that gemmi's setup_entities gives,
                     each as the index of its first appearance (from 0); then
                     "polymers" and the _entity_poly.type of gemmi's kind of
                     each polymer entity, in that order, a peptide's hand
                     that of its residues (hand); for a source of
                     KEPT_LABELS a second block "source FILE kept", what a
                     model written back through the object it was read into
                     reads as: gemmi's reading of the source KEPT_LABELS names
  label_molecules.txt  per source (the files of REAL_SOURCES, which other
                     projects ship, and label_apart.cif) a line "source
                     FILE", then per chain in order of the chain ids the
                     polymer gemmi reads (its _entity_poly.type and its
                     residues in order), its ligands' names sorted, and its
                     number of waters (molecule_rows); a residue bonded to another's end
                     right after it (in_bond_order)

Copied into tests/data as their projects ship them: the real_* files,
whose repository and path REAL_SOURCES names. gemmi takes every residue
after a chain's first TER record for a ligand: the molecules of the files
of TER_AT_BREAKS, which have TER records inside a chain, are
gemmi's reading of them with the TER records inside a chain dropped
(joined_at_breaks). A polymer gemmi finds no kind for is read as a
ligand.

label_ahead, label_inserts, label_waters, label_hand, label_split,
label_late and label_runs are written by gemmi and then rearranged
(laid_out), label_moved and label_entities relabelled: what label_cases.txt
holds is gemmi's reading of the file as gemmi wrote it before (in PDB form;
for label_runs, whose chain E holds a peptide and a DNA strand, in mmCIF,
each a polymer with a label_asym_id and entity of its own), as each
source's model should be written. The makers of the cases about bonds
check that their geometry bonds what the case is about and nothing else
(expect_contacts).
"""
import os
import sys
import tempfile

import gemmi

import fixture_files
from fixture_files import DATA

D_AMINO = {"ALA": "DAL", "SER": "DSN", "LEU": "DLE", "VAL": "DVA", "ILE": "DIL",
           "THR": "DTH", "GLU": "DGL", "ASP": "DAS", "CYS": "DCY", "GLN": "DGN",
           "LYS": "DLY", "PRO": "DPR", "PHE": "DPN", "TYR": "DTY", "ARG": "DAR",
           "ASN": "DSG", "HIS": "DHI", "MET": "MED", "TRP": "DTR"}
# Files that other projects ship, copied as they are: the repository and
# path of each. label_molecules.txt holds gemmi's reading of them.
REAL_SOURCES = {
    "real_1ema.cif": ("nglviewer/ngl", "data/1ema.cif"),
    "real_4wvp.cif.gz": ("PDB-REDO/libcifpp", "test/4wvp.cif.gz"),
    "real_3lkf_pocket6_atm.pdb": ("Discngine/fpocket",
                                  "tests/reference_output/3LKF_out/pockets/pocket6_atm.pdb"),
    "real_2p0r_pocket18_atm.pdb": ("Discngine/fpocket",
                                   "tests/reference_output/2P0R_out/pockets/pocket18_atm.pdb"),
    "real_4url_pocket7_atm.pdb": ("Discngine/fpocket",
                                  "tests/reference_output/4URL_out/pockets/pocket7_atm.pdb"),
    "real_dna.pdb": ("haddocking/haddock3", "examples/docking-protein-DNA/data/dna.pdb"),
}
# Of those, the files with TER records inside a chain (two DNA strands in
# one chain). gemmi
# takes every residue after a chain's first TER for a ligand; their
# molecules are read with the TER records inside a chain dropped
# (joined_at_breaks).
TER_AT_BREAKS = ["real_dna.pdb"]
SOURCES = ["label_ends.pdb", "label_ligands.pdb", "label_dna.pdb", "label_free.pdb",
           "label_blank.pdb", "label_ahead.pdb", "label_inserts.pdb", "label_waters.pdb",
           "label_hand.pdb", "label_split.pdb", "label_late.pdb", "label_breaks.pdb",
           "label_moved.cif", "label_clash.pdb", "label_isopeptide.pdb",
           "label_glycosylated.pdb", "label_glycan.pdb", "label_lipid.pdb", "label_runs.pdb",
           "label_gaps.pdb", "label_entities.cif", "label_auth_ids.cif", "label_shared.cif",
           "label_shared_one.cif", "label_gapped.pdb", "label_between.pdb", "label_loose.pdb",
           "label_reach.pdb", "label_overlaid.pdb"]
# Of those, the mmCIF sources whose labels a model written back through the
# object it was read into keeps, where they differ from those a model
# written afresh gets, and the source whose gemmi reading is what the first
# is written as: label_shared_one.cif, whose chains of two sequences are
# given one entity, as label_shared.cif, which gives them two.
KEPT_LABELS = {"label_shared.cif": "label_shared.cif",
               "label_shared_one.cif": "label_shared.cif"}


def along(start, toward, length):
    """The point length from start in the direction of toward."""
    d = toward - start
    return start + d * (length / d.length())


def new_atom(name, element, pos, b=20.0):
    atom = gemmi.Atom()
    atom.name = name
    atom.element = gemmi.Element(element)
    atom.pos = pos
    atom.occ = 1.0
    atom.b_iso = b
    return atom


def new_residue(name, num, het=True):
    res = gemmi.Residue()
    res.name = name
    res.seqid = gemmi.SeqId(num, " ")
    res.het_flag = "H" if het else "A"
    return res


def moved(res, shift):
    copy = res.clone()
    for atom in copy:
        atom.pos = atom.pos + shift
    return copy


# The folder where finish() writes each source as gemmi orders it (set by
# make_sources).
canonical_dir = None


def canonical(directory, source):
    """Where finish() keeps the source as gemmi orders it: in PDB form, or
    in mmCIF where a chain holds polymers of two kinds."""
    stem = os.path.join(directory, os.path.splitext(source)[0])
    return stem + ".cif" if os.path.exists(stem + ".cif") else stem + ".pdb"


def set_entities(st, in_polymer, seqres=None, by_kind=False):
    """Subchains and entities from the residues (in_polymer says which are in
    their chain's polymer), each polymer's SEQRES its residues unless seqres
    gives it by chain. With by_kind a chain's nucleotides that follow its
    peptide are a polymer of their own."""
    for chain in st[0]:
        for res in chain:
            res.entity_type = (gemmi.EntityType.Polymer if in_polymer(res) else
                               gemmi.EntityType.Water if res.is_water() else
                               gemmi.EntityType.NonPolymer)
            res.subchain = ""
    st.entities.clear()
    st.assign_subchains(True)
    for chain in st[0] if by_kind else []:
        for res in chain:
            info = gemmi.find_tabulated_residue(res.name)
            if res.entity_type == gemmi.EntityType.Polymer and info and info.is_nucleic_acid():
                res.subchain = chain.name + "n"
    st.ensure_entities()
    for entity in list(st.entities) if by_kind else []:  # gemmi puts a chain's polymers in one
        apart = [sub for sub in entity.subchains if sub.endswith("n")]
        if apart and len(apart) < len(entity.subchains):
            entity.subchains = [sub for sub in entity.subchains if sub not in apart]
            split = gemmi.Entity(entity.name + "n")
            split.entity_type, split.subchains = gemmi.EntityType.Polymer, apart
            st.entities.append(split)
    st.deduplicate_entities()
    for entity in st.entities:
        if entity.entity_type == gemmi.EntityType.Polymer:
            chain, span = next((c.name, c.get_subchain(entity.subchains[0])) for c in st[0]
                               if c.get_subchain(entity.subchains[0]))
            entity.full_sequence = (seqres or {}).get(chain) or [r.name for r in span]


def finish(st, path, in_polymer, seqres=None, layout=None, by_kind=False):
    """Entities as set_entities sets them, and the file: as gemmi writes it
    (each chain's polymer, TER, then its other residues), also kept in
    canonical_dir, or with its records rearranged by layout (laid_out). An
    mmCIF source (.cif) its maker writes. With by_kind (set_entities) what
    is kept is gemmi's mmCIF, the one form that gives a chain two
    polymers."""
    set_entities(st, in_polymer, seqres, by_kind)
    kept = canonical(canonical_dir, os.path.basename(path))
    st.write_pdb(kept)
    with open(kept) as f:
        text = f.read()
    if by_kind:
        os.remove(kept)
        # gemmi numbers a chain's first polymer only: the other from 1 on,
        # by its residue numbers.
        st.assign_label_seq_id(False)
        for chain in st[0]:
            for sub in chain.subchains():
                if sub[0].entity_type == gemmi.EntityType.Polymer and sub[0].label_seq is None:
                    for res in sub:
                        res.label_seq = res.seqid.num - sub[0].seqid.num + 1
        # The record kinds: a free nucleotide is HETATM.
        st.make_mmcif_document(with_record_kinds()).write_file(os.path.splitext(kept)[0] + ".cif")
    if not path.endswith(".cif"):
        with open(path, "w") as f:
            f.write(laid_out(text, layout) if layout else text)


def record_blocks(text):
    """A PDB text as the lines before its first atom record, the records
    after them in blocks (the ATOM, HETATM and ANISOU records of a residue,
    keyed (chain, number, name); a TER record, keyed (chain, "TER")), and the
    lines after the last."""
    lines = text.splitlines(True)
    atomic = [i for i, line in enumerate(lines) if line[:6] in ("ATOM  ", "HETATM", "ANISOU", "TER   ")]
    blocks = []
    for line in lines[atomic[0]:atomic[-1] + 1]:
        ter = line.startswith("TER")
        key = (line[21], "TER") if ter else (line[21], int(line[22:26]), line[17:20].strip())
        if blocks and blocks[-1][0] == key and not ter:
            blocks[-1][1].append(line)
        else:
            blocks.append((key, [line]))
    return lines[:atomic[0]], blocks, lines[atomic[-1] + 1:]


def laid_out(text, layout):
    """The PDB text with its record blocks rearranged by layout (a function
    of the list of blocks), the serial numbers renewed in the new order and
    each TER record naming the residue before it."""
    head, blocks, tail = record_blocks(text)
    serial, body = 0, []
    for _, lines in layout(blocks):
        for line in lines:
            serial += not line.startswith("ANISOU")
            if line.startswith("TER"):
                line = line[:17] + body[-1][17:27] + line[27:]
            body.append(line[:6] + "%5d" % serial + line[11:])
    return "".join(head + body + tail)


def moved_before(blocks, which, before):
    """The blocks with those whose key which() accepts moved, in their order,
    to just before the block keyed before."""
    moving = [b for b in blocks if which(b[0])]
    rest = [b for b in blocks if not which(b[0])]
    at = next(i for i, b in enumerate(rest) if b[0] == before)
    return rest[:at] + moving + rest[at:]


def without_ter(blocks, chain):
    return [b for b in blocks if b[0] != (chain, "TER")]


def make_ends(path):
    st = gemmi.read_structure(os.path.join(DATA, "sm_1dur.cif"))
    st.remove_hydrogens()
    model = st[0]
    chain = model["A"]
    seqres = list(st.entities[0].full_sequence)
    first = chain[0]
    first.name, first.het_flag = "MSE", "H"
    cb, ca = first["CB"][0].pos, first["CA"][0].pos
    first.add_atom(new_atom("SE", "Se", along(cb, cb + (cb - ca), 1.95), first["CB"][0].b_iso))
    seqres[0] = "MSE"
    for i in reversed([i for i, r in enumerate(chain) if 20 <= r.seqid.num <= 22]):
        del chain[i]
    last = None
    for res in chain:
        if res.entity_type == gemmi.EntityType.Polymer and res.seqid.num >= 40:
            res.seqid = gemmi.SeqId(res.seqid.num + 5, " ")
        if res.name == "SF4":
            res.seqid = gemmi.SeqId(res.seqid.num + 6, " ")
        if res.entity_type == gemmi.EntityType.Polymer:
            last = res
    last.name, last.het_flag = "DAL", "H"
    seqres[54] = "DAL"
    c_pos, oxt = last["C"][0].pos, last["OXT"][0].pos
    for name in ("CG", "OD1", "OD2", "OXT"):
        last[name][0]  # present in the source
        last.remove_atom(name, "*")
    cap = new_residue("NH2", last.seqid.num + 1)
    cap.add_atom(new_atom("N", "N", along(c_pos, oxt, 1.33), last["C"][0].b_iso))
    chain.add_residue(cap, [r.seqid.num for r in chain].index(last.seqid.num) + 1)
    seqres.append("NH2")
    peptide = gemmi.Chain("B")
    for res in chain:
        if 30 <= res.seqid.num <= 33:
            copy = moved(res, gemmi.Position(0, 0, 15))
            copy.name, copy.het_flag = D_AMINO[res.name], "H"
            peptide.add_residue(copy)
    waters = [r for r in chain if r.name == "HOH"][:2]
    for i, water in enumerate(waters):
        copy = moved(water, gemmi.Position(0, 0, 15))
        copy.seqid = gemmi.SeqId(101 + i, " ")
        peptide.add_residue(copy)
    model.add_chain(peptide)
    finish(st, path, lambda r: r.entity_type == gemmi.EntityType.Polymer or r.name in D_AMINO.values()
           or r.name == "NH2", {"A": seqres})


def from_1rx2():
    """An empty structure in 1RX2's cell and group, its model 1, and 1RX2's
    chain A without hydrogens."""
    src = gemmi.read_structure(os.path.join(DATA, "ref_1rx2.pdb"))
    src.remove_hydrogens()
    st = gemmi.Structure()
    st.cell, st.spacegroup_hm = src.cell, src.spacegroup_hm
    st.name = "1RX2"
    return st, gemmi.Model("1"), src[0]["A"]


def residues_1_to_20_and_ligands():
    """1RX2's residues 1-20, its MN, FOL, BME and NAP and eight waters, and
    a chain A holding all of them in that order."""
    st, model, a = from_1rx2()
    polymer = [r for r in a if r.het_flag == "A" and r.seqid.num <= 20]
    ligands = [r for r in a if r.name in ("MN", "FOL", "BME", "NAP")]
    waters = [r for r in a if r.name == "HOH"][:8]
    chain_a = gemmi.Chain("A")
    for res in polymer + ligands + waters:
        chain_a.add_residue(res.clone())
    return st, model, polymer, ligands, waters, chain_a


def make_ligands(path):
    st, model, polymer, ligands, waters, chain_a = residues_1_to_20_and_ligands()
    chain_b = gemmi.Chain("B")
    for res in polymer:
        chain_b.add_residue(moved(res, gemmi.Position(0, 0, 30)))
    chain_c = gemmi.Chain("C")
    for num, res in ((401, ligands[3]), (402, ligands[0]), (501, waters[0]), (502, waters[1])):
        copy = moved(res, gemmi.Position(0, 0, 60))
        copy.seqid = gemmi.SeqId(num, " ")
        chain_c.add_residue(copy)
    for chain in (chain_a, chain_b, chain_c):
        model.add_chain(chain)
    st.add_model(model)
    finish(st, path, lambda r: r.het_flag == "A")


# The atoms of a DNA residue, placed along x: P at the origin and O3' 1.61 A
# before the next residue's P, 6 A on. Not a real geometry: what matters
# here is which atoms are bonded from one residue to the next.
DNA_ATOMS = [("P", "P", (0.0, 0.0, 0.0)), ("OP1", "O", (0.0, 1.48, 0.0)),
             ("OP2", "O", (0.0, -0.74, 1.28)), ("O5'", "O", (1.0, 0.0, 1.2)),
             ("C5'", "C", (1.6, 1.1, 1.9)), ("C4'", "C", (2.7, 1.2, 1.2)),
             ("O4'", "O", (2.9, 2.5, 0.8)), ("C3'", "C", (3.5, 0.5, 0.3)),
             ("O3'", "O", (4.39, 0.0, 0.0)), ("C2'", "C", (4.0, 1.6, -0.6)),
             ("C1'", "C", (3.9, 2.8, 0.2)), ("N1", "N", (4.5, 4.0, -0.4))]


def make_dna(path):
    st = gemmi.Structure()
    st.cell = gemmi.UnitCell(40, 40, 40, 90, 90, 90)
    st.spacegroup_hm = "P 1"
    st.name = "DNA"
    model = gemmi.Model("1")
    chain = gemmi.Chain("A")
    for i, name in enumerate(["5CM", "DG", "DA", "DT", "DOC"]):
        res = new_residue(name, i + 1, het=name in ("5CM", "DOC"))
        for atom, element, (x, y, z) in DNA_ATOMS:
            if (name == "5CM" and atom in ("P", "OP1", "OP2")) or (name == "DOC" and atom == "O3'"):
                continue
            res.add_atom(new_atom(atom, element, gemmi.Position(6.0 * i + x + 5, y + 10, z + 10)))
        if name == "5CM":
            res.add_atom(new_atom("C5A", "C", gemmi.Position(9.5, 15.5, 9.6)))
        chain.add_residue(res)
    mg = new_residue("MG", 201)
    mg.add_atom(new_atom("MG", "Mg", gemmi.Position(20, 20, 20)))
    chain.add_residue(mg)
    for i in range(2):
        water = new_residue("HOH", 301 + i)
        water.add_atom(new_atom("O", "O", gemmi.Position(25 + 3 * i, 22, 18)))
        chain.add_residue(water)
    model.add_chain(chain)
    st.add_model(model)
    finish(st, path, lambda r: r.name not in ("MG", "HOH"))


def make_free(path):
    st, model, a = from_1rx2()
    polymer = [r for r in a if r.het_flag == "A" and r.seqid.num <= 20]
    waters = [r for r in a if r.name == "HOH"]
    chain_a = gemmi.Chain("A")
    for res in polymer + [r for r in a if r.name == "MN"]:
        chain_a.add_residue(res.clone())
    glycine = moved(polymer[14], gemmi.Position(0, 0, -25))
    glycine.seqid, glycine.het_flag = gemmi.SeqId(401, " "), "H"
    methanol = new_residue("MOH", 402)
    for name, element, x in (("C", "C", 0.0), ("O", "O", 1.43)):
        methanol.add_atom(new_atom(name, element, gemmi.Position(30 + x, 20, 5)))
    adenine = new_residue("ADE", 403)  # the ring atoms, 1.4 A apart along a zigzag
    for i, name in enumerate(["N9", "C8", "N7", "C5", "C6", "N6", "N1", "C2", "N3", "C4"]):
        adenine.add_atom(new_atom(name, name[0], gemmi.Position(20 + 1.2 * i, 5 + 0.7 * (i % 2), 30)))
    for res in (glycine, methanol, adenine, waters[0].clone(), waters[1].clone()):
        chain_a.add_residue(res)
    chain_b = gemmi.Chain("B")
    chain_b.add_residue(moved(polymer[5], gemmi.Position(0, 0, 30)))
    chain_b.add_residue(moved(waters[2], gemmi.Position(0, 0, 30)))
    chain_c = gemmi.Chain("C")
    for res in polymer[5:7]:
        chain_c.add_residue(moved(res, gemmi.Position(0, 0, 60)))
    guanosine = new_residue("G", 501)
    for atom, element, (x, y, z) in DNA_ATOMS + [("O2'", "O", (4.6, 2.0, -1.8))]:
        guanosine.add_atom(new_atom(atom, element, gemmi.Position(x + 10, y + 10, z + 75)))
    chain_c.add_residue(guanosine)
    for chain in (chain_a, chain_b, chain_c):
        model.add_chain(chain)
    st.add_model(model)
    finish(st, path, lambda r: r.het_flag == "A")


def make_blank(path):
    st, model, a = from_1rx2()
    chain = gemmi.Chain("")
    for res in [r for r in a if r.het_flag == "A" and r.seqid.num <= 5] + [
            next(r for r in a if r.name == "HOH")]:
        chain.add_residue(res.clone())
    model.add_chain(chain)
    st.add_model(model)
    finish(st, path, lambda r: r.het_flag == "A")


def residue_rows(path):
    """What gemmi reads of a source: per residue its ids, record, label_seq_id
    aligned to SEQRES, and its subchain and entity as first-appearance indices."""
    st = gemmi.read_structure(path)
    st.setup_entities()
    st.assign_label_seq_id(True)
    subchains, entities, rows = {}, {}, []
    entity_of = {sub: e.name for e in st.entities for sub in e.subchains}
    for chain in st[0]:
        for res in chain:
            sub = subchains.setdefault(res.subchain, len(subchains))
            ent = entities.setdefault(entity_of.get(res.subchain, res.subchain), len(entities))
            seq = res.label_seq if res.entity_type == gemmi.EntityType.Polymer else None
            rows.append("%s %d %s %s %s %s %d %d" % (
                chain.name or "''", res.seqid.num, res.seqid.icode.strip() or ".", res.name,
                "HETATM" if res.het_flag == "H" else "ATOM",
                "." if seq is None else seq, sub, ent))
    return rows


def dihedral_sign(res):
    """The sign of the dihedral N-CA-C-CB of a residue, 0 without those atoms."""
    atoms = {atom.name: atom.pos for atom in res}
    if not all(name in atoms for name in ("N", "CA", "C", "CB")):
        return 0
    return 1 if gemmi.calculate_dihedral(atoms["N"], atoms["CA"], atoms["C"], atoms["CB"]) > 0 else -1


def l_sign():
    """The sign dihedral_sign gives the L-amino acids of 1RX2 (gemmi's table
    has its standard residues L), the same for all of them."""
    st = gemmi.read_structure(os.path.join(DATA, "ref_1rx2.pdb"))
    signs = {dihedral_sign(r) for r in st[0]["A"] if gemmi.find_tabulated_residue(r.name).is_standard()}
    signs.discard(0)
    assert len(signs) == 1
    return signs.pop()


def hand(res, l):
    """L or D for an amino acid whose name fixes its hand (a standard one,
    L; one gemmi tabulates as D-amino acid), else the hand of its
    coordinates (l being the sign of an L-amino acid's); None without one."""
    info = gemmi.find_tabulated_residue(res.name)
    if info and info.is_standard() and info.is_amino_acid():
        return "L"
    if info and info.kind == gemmi.ResidueInfoKind.AAD:
        return "D"
    sign = dihedral_sign(res)
    return None if sign == 0 else "L" if sign == l else "D"


MMCIF_POLYMER_TYPES = {"PeptideL": "polypeptide(L)", "PeptideD": "polypeptide(D)",
                       "Dna": "polydeoxyribonucleotide", "Rna": "polyribonucleotide",
                       "DnaRnaHybrid": "polydeoxyribonucleotide/polyribonucleotide hybrid"}


def polymer_types(path):
    """The mmCIF name of the kind gemmi finds for each polymer entity, in the
    order of their first appearance; a peptide's hand is that of most of its
    residues with one (hand). gemmi itself takes the hand from the names
    alone (a mirrored MSE peptide is L to it)."""
    st = gemmi.read_structure(path)
    st.setup_entities()
    entity_of = {sub: e.name for e in st.entities for sub in e.subchains}
    types, l = {}, l_sign()
    for chain in st[0]:
        for sub in chain.subchains():
            if sub[0].entity_type == gemmi.EntityType.Polymer:
                kind = str(sub.check_polymer_type()).split(".")[-1]
                if kind in ("PeptideL", "PeptideD"):
                    hands = [hand(r, l) for r in sub]
                    kind = "PeptideL" if hands.count("L") >= hands.count("D") else "PeptideD"
                types.setdefault(entity_of.get(sub.subchain_id(), sub.subchain_id()),
                                 MMCIF_POLYMER_TYPES[kind])
    return list(types.values())


def with_ter_after(blocks, key):
    """The blocks with a TER record after the one keyed key (laid_out names
    the residue)."""
    at = next(i for i, b in enumerate(blocks) if b[0] == key) + 1
    return blocks[:at] + [((key[0], "TER"), ["TER".ljust(80) + "\n"])] + blocks[at:]


def make_ahead(path):
    """Chain A: 1RX2's residues 1-20 after its MN, FOL, BME, NAP and eight
    waters, TER at the end; chain B: the residues, moved, after an MN and
    two waters, without TER; chain C: no polymer, a NAP and an MN followed
    by a TER record, then a water."""
    st, model, polymer, ligands, waters, chain_a = residues_1_to_20_and_ligands()
    chain_b = gemmi.Chain("B")
    for res in polymer + ligands[:1] + waters[:2]:
        chain_b.add_residue(moved(res, gemmi.Position(0, 0, 40)))
    chain_c = gemmi.Chain("C")
    for res in (ligands[3], ligands[0], waters[0]):
        chain_c.add_residue(moved(res, gemmi.Position(0, 0, 80)))
    for chain in (chain_a, chain_b, chain_c):
        model.add_chain(chain)
    st.add_model(model)

    def layout(blocks):
        for chain in "AB":
            blocks = moved_before(blocks, lambda k: k[0] == chain and k[1] != "TER" and k[1] > 20,
                                  (chain, 1, "MET"))
        return with_ter_after(without_ter(blocks, "B"), ("C", 300, "MN"))
    finish(st, path, lambda r: r.het_flag == "A", layout=layout)


def small_molecule(name, num, atoms, at):
    """A residue of the named atoms (element their first letter), placed
    from at along a zigzag of 1.45 A steps."""
    res = new_residue(name, num)
    for i, atom in enumerate(atoms):
        res.add_atom(new_atom(atom, atom[0], at + gemmi.Position(1.2 * i, 0.8 * (i % 2), 0)))
    return res


# The chains of label_inserts.pdb: what is put after which of residues
# 1-20 (bonded to the next), and where the chain's TER record is ("end",
# "none", or "insert": right after what was put in).
INSERTS = [("A", "MN", 19, "end"), ("B", "FOL", 19, "none"), ("C", "NAP", 19, "insert"),
           ("D", "BME", 1, "end"), ("E", "MOH", 10, "end"), ("F", "EOH", 10, "none"),
           ("G", "GLY", 10, "end")]


def make_inserts(path):
    """Per chain (INSERTS) 1RX2's residues 1-20, moved 40 A on from the
    chain before, with an ion, ligand or free glycine (HETATM, 25 A from the
    chain), at its own place, put between two residues bonded to each
    other."""
    st, model, a = from_1rx2()
    polymer = [r for r in a if r.het_flag == "A" and r.seqid.num <= 20]
    glycine = moved(polymer[14], gemmi.Position(0, 0, -25))
    glycine.seqid, glycine.het_flag = gemmi.SeqId(401, " "), "H"
    others = {r.name: r for r in a if r.name in ("MN", "FOL", "BME", "NAP")}
    others["GLY"] = glycine
    others["MOH"] = small_molecule("MOH", 402, ["C", "O"], gemmi.Position(30, 20, 5))
    others["EOH"] = small_molecule("EOH", 403, ["C1", "C2", "O"], gemmi.Position(30, 24, 5))
    for k, (name, insert, _, _) in enumerate(INSERTS):
        chain = gemmi.Chain(name)
        for res in polymer + [others[insert]]:
            chain.add_residue(moved(res, gemmi.Position(0, 0, 40 * k)))
        model.add_chain(chain)
    st.add_model(model)

    def layout(blocks):
        for chain, insert, after, ter in INSERTS:
            put = (chain, others[insert].seqid.num, insert)
            before = (chain, polymer[after].seqid.num, polymer[after].name)
            blocks = moved_before(blocks, lambda k: k == put, before)
            if ter == "none":
                blocks = without_ter(blocks, chain)
            elif ter == "insert":
                blocks = moved_before(blocks, lambda k: k == (chain, "TER"), before)
        return blocks
    finish(st, path, lambda r: r.het_flag == "A", layout=layout)


def make_waters(path):
    """Per chain 1RX2's residues 1-20 with a water between residues 10 and
    11 (bonded), named HOH, WAT, DOD and H2O in chains A to D; chain D has
    no TER record."""
    st, model, a = from_1rx2()
    polymer = [r for r in a if r.het_flag == "A" and r.seqid.num <= 20]
    waters = [r for r in a if r.name == "HOH"]
    names = "HOH", "WAT", "DOD", "H2O"
    for k, name in enumerate(names):
        chain = gemmi.Chain("ABCD"[k])
        water = waters[k].clone()
        water.name = name
        for res in polymer + [water]:
            chain.add_residue(moved(res, gemmi.Position(0, 0, 40 * k)))
        model.add_chain(chain)
    st.add_model(model)

    def layout(blocks):
        for chain, name in zip("ABCD", names):
            blocks = moved_before(blocks, lambda k: k[0] == chain and k[-1] == name, (chain, 11, "ASP"))
        return without_ter(blocks, "D")
    finish(st, path, lambda r: r.het_flag == "A", layout=layout)


def make_hand(path):
    """Peptides of residues 1-8 of 1RX2 cut to CB, renamed: chain A to L
    modified residues (MSE MLY SEP TPO twice) on their own L coordinates;
    chain B mirrored (x to -x, D coordinates) with D names (MED DLY DSN DTH
    twice); chain C mirrored as MSE only, a D peptide of residues whose
    names do not say so."""
    st, model, a = from_1rx2()
    polymer = [r for r in a if r.het_flag == "A" and r.seqid.num <= 8]
    names = {"A": ["MSE", "MLY", "SEP", "TPO"] * 2, "B": ["MED", "DLY", "DSN", "DTH"] * 2,
             "C": ["MSE"] * 8}
    for k, chain_name in enumerate("ABC"):
        chain = gemmi.Chain(chain_name)
        for res, name in zip(polymer, names[chain_name]):
            copy = new_residue(name, res.seqid.num)
            for atom in res:
                if atom.name in ("N", "CA", "C", "O", "CB"):
                    atom = atom.clone()
                    if chain_name != "A":
                        atom.pos = gemmi.Position(-atom.pos.x, atom.pos.y, atom.pos.z + 30 * k)
                    copy.add_atom(atom)
            chain.add_residue(copy)
        model.add_chain(chain)
    st.add_model(model)
    finish(st, path, lambda r: True)


def moved_after(blocks, which, after):
    """The blocks with those whose key which() accepts moved, in their order,
    to just after the block keyed after."""
    moving = [b for b in blocks if which(b[0])]
    rest = [b for b in blocks if not which(b[0])]
    at = next(i for i, b in enumerate(rest) if b[0] == after) + 1
    return rest[:at] + moving + rest[at:]


def make_split(path):
    """1RX2's VAL 10, ASP 11 and LEU 4 as a cavity finder lists them: one or
    two side-chain atoms each, bonded to nothing, the first residue's atoms
    in two runs (the second after LEU 4), then TER. Its SEQRES has a
    residue between ASP 11 and LEU 4, so that their label_seq_ids step by
    2 as the written ones do."""
    st, model, a = from_1rx2()
    chain = gemmi.Chain("A")
    for num, names in ((10, ("N", "CB")), (11, ("CG",)), (4, ("CD1",))):
        res = next(r for r in a if r.seqid.num == num).clone()
        for name in [atom.name for atom in res if atom.name not in names]:
            res.remove_atom(name, "*")
        chain.add_residue(res)
    model.add_chain(chain)
    st.add_model(model)

    def layout(blocks):
        key, lines = blocks[0]
        at = next(i for i, b in enumerate(blocks) if b[0] == ("A", "TER"))
        return [(key, lines[:1])] + blocks[1:at] + [(key, lines[1:])] + blocks[at:]
    # Numbers that fall step by 2 (a residue missing, unknown, between).
    finish(st, path, lambda r: True, {"A": ["VAL", "ASP", "UNK", "LEU"]}, layout)


def make_late(path):
    """Chain A: 1RX2's residues 1-6 and a water, SER 3 (bonded to ILE 2 and
    LEU 4) given after TER and the water; chain B: the residues moved, with
    an acetyl cap (ACE 0, its C 1.33 A from MET 1's N) given after TER;
    chain C: residues 16-20 moved, with two sugars after TER, the first's C1
    bonded to ASN 18's ND2, the second's C1 to the first's O4."""
    st, model, a = from_1rx2()
    polymer = [r for r in a if r.het_flag == "A" and r.seqid.num <= 6]
    chain_a = gemmi.Chain("A")
    for res in polymer + [next(r for r in a if r.name == "HOH")]:
        chain_a.add_residue(res.clone())
    chain_b = gemmi.Chain("B")
    n, ca = polymer[0]["N"][0].pos, polymer[0]["CA"][0].pos
    c = along(n, n + (n - ca), 1.33)
    cap = new_residue("ACE", 0)
    cap.add_atom(new_atom("C", "C", c))
    cap.add_atom(new_atom("O", "O", c + gemmi.Position(0, 1.23, 0)))
    cap.add_atom(new_atom("CH3", "C", along(c, c + (c - n), 1.5)))
    for res in [cap] + polymer:
        chain_b.add_residue(moved(res, gemmi.Position(0, 0, 40)))
    chain_c = gemmi.Chain("C")
    for res in [r for r in a if 16 <= r.seqid.num <= 20]:
        chain_c.add_residue(moved(res, gemmi.Position(0, 0, 80)))
    nd2, cg = chain_c[2]["ND2"][0].pos, chain_c[2]["CG"][0].pos
    side = (nd2 - cg).cross(gemmi.Position(0, 0, 1))
    side = gemmi.Position(side.x, side.y, side.z) * (0.8 / side.length())

    def sugar(num, names, start, turn):
        """A zigzag of 1.44 A steps on from ND2, away from CG."""
        res = new_residue("NAG", num)
        for i, name in enumerate(names):
            res.add_atom(new_atom(name, name[0], along(nd2, nd2 + (nd2 - cg), start + 1.2 * i) +
                                  side * ((i + turn) % 2)))
        return res
    chain_c.add_residue(sugar(501, ["C1", "C2", "N2", "C3", "O4"], 1.45, 0))
    chain_c.add_residue(sugar(502, ["C1", "C2", "N2", "C3", "O5"], 7.45, 1))
    for chain in (chain_a, chain_b, chain_c):
        model.add_chain(chain)
    st.add_model(model)

    def layout(blocks):
        water = next(b[0] for b in blocks if b[0][0] == "A" and b[0][-1] == "HOH")
        blocks = moved_after(blocks, lambda k: k == ("A", 3, "SER"), water)
        return moved_after(blocks, lambda k: k == ("B", 0, "ACE"), ("B", "TER"))
    finish(st, path, lambda r: r.name not in ("HOH", "NAG"), layout=layout)


def make_breaks(path):
    """Chain A: 1RX2's residues 1-10, residue 5 as a HETATM MSE cut to CB and
    moved 3 A along z, ALA 6 moved -2 A along y: both bonded to nothing (C
    to N 2.7 A and more), each CA within 4 A of its neighbours', 7-10
    bonded. Chain
    B: a DNA strand DG DA 5CM DT, the modified nucleotide (HETATM) moved
    3 A, so that its O3'-P bonds on both sides are broken."""
    st, model, a = from_1rx2()
    chain_a = gemmi.Chain("A")
    for res in [r for r in a if r.het_flag == "A" and r.seqid.num <= 10]:
        if res.seqid.num == 5:
            copy = new_residue("MSE", 5)
            for atom in res:
                if atom.name in ("N", "CA", "C", "O", "CB"):
                    copy.add_atom(atom.clone())
            res = moved(copy, gemmi.Position(0, 0, 3))
        elif res.seqid.num == 6:
            res = moved(res, gemmi.Position(0, -2, 0))
        chain_a.add_residue(res.clone())
    chain_b = gemmi.Chain("B")
    for i, name in enumerate(["DG", "DA", "5CM", "DT"]):
        res = new_residue(name, i + 1, het=name == "5CM")
        for atom, element, (x, y, z) in DNA_ATOMS:
            if i == 0 and atom in ("P", "OP1", "OP2"):
                continue
            shift = 3.0 if name == "5CM" else 0.0
            res.add_atom(new_atom(atom, element, gemmi.Position(6.0 * i + x, y + shift, z + 60)))
        chain_b.add_residue(res)
    for chain in (chain_a, chain_b):
        model.add_chain(chain)
    st.add_model(model)
    expect_links(st, "A", [(1, 2), (2, 3), (3, 4), (7, 8), (8, 9), (9, 10)])
    expect_links(st, "B", [(1, 2)])
    finish(st, path, lambda r: True)


def unit(v):
    """v (a Position or Vec3) scaled to length 1, as a Position."""
    return gemmi.Position(v.x, v.y, v.z) * (1.0 / v.length())


def across(u):
    """A unit vector at right angles to u."""
    side = u.cross(gemmi.Position(0, 0, 1))
    return unit(side if side.length() > 0.1 else u.cross(gemmi.Position(1, 0, 0)))


def zigzag(name, num, atoms, start, away, het=True):
    """A residue of the named atoms (element their first letter) from start
    along away (a unit vector), each 1.44 A from the one before: 1.2 A on
    and 0.8 A to the side every other atom."""
    side = across(away)
    res = new_residue(name, num, het)
    for i, atom in enumerate(atoms):
        res.add_atom(new_atom(atom, atom[0], start + away * (1.2 * i) + side * (0.8 * (i % 2))))
    return res


def odd_contacts(model):
    """The pairs of atoms of two residues of one chain that are as near as a
    link between residues (a carbon and a nitrogen within 1.5 x 1.33 A, an
    oxygen and a phosphorus within 1.5 x 1.61 A), other than the backbone
    bonds C-N and O3'-P: "chain number atom-number atom", the carbon or
    oxygen first."""
    found = set()
    for chain in model:
        atoms = [(res, atom) for res in chain for atom in res]
        for res, atom in atoms:
            for other, to in atoms:
                pair = (atom.element.name, to.element.name)
                longest = 1.5 * 1.33 if pair == ("C", "N") else 1.5 * 1.61 if pair == ("O", "P") else 0
                if other is res or atom.pos.dist(to.pos) > longest or \
                        (atom.name, to.name) in (("C", "N"), ("O3'", "P")):
                    continue
                found.add("%s %d %s-%d %s" % (chain.name, res.seqid.num, atom.name,
                                              other.seqid.num, to.name))
    return found


def expect_contacts(st, wanted):
    """Stops the script unless the model's odd contacts (odd_contacts) are
    those wanted: each case's geometry makes the links it is about and no
    other."""
    found = odd_contacts(st[0])
    if found != set(wanted):
        sys.exit("%s: contacts %s, wanted %s" % (st.name, sorted(found), sorted(wanted)))


def expect_links(st, chain_name, wanted):
    """Stops the script unless the backbone bonds of the chain (a C within
    1.5 x 1.33 A of another residue's N, an O3' within 1.5 x 1.61 A of
    another's P) are those wanted, as pairs of residue numbers."""
    chain = st[0][chain_name]
    found = set()
    for res in chain:
        for other in chain:
            for end, start, longest in (("C", "N", 1.5 * 1.33), ("O3'", "P", 1.5 * 1.61)):
                if other.seqid != res.seqid and any(
                        x.pos.dist(y.pos) <= longest for x in res if x.name == end
                        for y in other if y.name == start):
                    found.add((res.seqid.num, other.seqid.num))
    if found != set(wanted):
        sys.exit("%s chain %s: links %s, wanted %s" % (st.name, chain_name, sorted(found),
                                                       sorted(wanted)))


def tripeptide(a, shift=gemmi.Position(0, 0, 0)):
    """1RX2's GLN 108, LYS 109 and LEU 110, moved by shift, as ALA 1 (the
    glutamine cut to CB), LYS 2 and LEU 3."""
    residues = []
    for num, res in enumerate([r for r in a if 108 <= r.seqid.num <= 110], 1):
        copy = moved(res, shift)
        copy.seqid = gemmi.SeqId(num, " ")
        if num == 1:
            copy.name = "ALA"
            for name in [atom.name for atom in copy if atom.name not in ("N", "CA", "C", "O", "CB")]:
                copy.remove_atom(name, "*")
        residues.append(copy)
    return residues


def make_clash(path):
    """Chain A: ALA 1, LYS 2 and LEU 3 (tripeptide), bonded, TER, then a
    ligand ZLG 501 (a made-up name) whose C1 lies 1.9 A from LYS 2's N, away
    from the atoms bonded to that N: a clash with a nitrogen the chain
    already bonds."""
    st, model, a = from_1rx2()
    chain = gemmi.Chain("A")
    residues = tripeptide(a)
    n, ca, c = residues[1]["N"][0].pos, residues[1]["CA"][0].pos, residues[0]["C"][0].pos
    away = unit(n * 2 - ca - c)
    for res in residues + [zigzag("ZLG", 501, ["C1", "C2", "O3", "C4"], n + away * 1.9, away)]:
        chain.add_residue(res)
    model.add_chain(chain)
    st.add_model(model)
    expect_contacts(st, ["A 501 C1-2 N"])
    finish(st, path, lambda r: r.name != "ZLG")


def make_isopeptide(path):
    """Chain A: ALA 1, MLZ 2 and LEU 3 (tripeptide; the lysine a HETATM
    MLZ, N-methyl-lysine, its CM on NZ), TER, then a glycine (GLY 401,
    HETATM as a free amino acid is written) whose C is bonded 1.33 A to
    MLZ 2's NZ (an isopeptide bond, its CA and N going on away from the
    chain); chain B the same moved 30 A with the MLZ named ZKM (a made-up
    name)."""
    st, model, a = from_1rx2()
    for k, name in enumerate(["MLZ", "ZKM"]):
        chain = gemmi.Chain("AB"[k])
        residues = tripeptide(a, gemmi.Position(0, 0, 30 * k))
        lysine = residues[1]
        lysine.name, lysine.het_flag = name, "H"
        nz, ce = lysine["NZ"][0].pos, lysine["CE"][0].pos
        out = unit(nz - ce)
        side = across(out)
        lysine.add_atom(new_atom("CM", "C", nz + unit(out * 0.5 + side * 0.87) * 1.47))
        toward = unit(out * 0.5 - side * 0.87)
        glycine = zigzag("GLY", 401, ["C", "CA", "N"], nz + toward * 1.33, toward)
        c = glycine["C"][0].pos
        glycine.add_atom(new_atom("O", "O", c - across(toward) * 1.23))
        for res in residues + [glycine]:
            chain.add_residue(res)
        model.add_chain(chain)
    st.add_model(model)
    expect_contacts(st, ["A 401 C-2 NZ", "B 401 C-2 NZ"])
    finish(st, path, lambda r: r.seqid.num != 401)


def make_glycosylated(path):
    """Chain A: 1RX2's residues 13-20, ASN 18 a HETATM named NLN (as glycan
    builders name an asparagine that carries a glycan), TER, then two
    sugars: NAG 501, its C1 bonded 1.53 A to NLN's ND2, and BMA 502, its C1
    0.75 A from GLY 15's N (a clash with a nitrogen the chain bonds)."""
    st, model, a = from_1rx2()
    chain = gemmi.Chain("A")
    residues = [r.clone() for r in a if r.het_flag == "A" and 13 <= r.seqid.num <= 20]
    residues[5].name, residues[5].het_flag = "NLN", "H"
    nd2, cg = residues[5]["ND2"][0].pos, residues[5]["CG"][0].pos
    out = unit(nd2 - cg)
    nag = zigzag("NAG", 501, ["C1", "C2", "N2", "C7", "O7"], nd2 + out * 1.53, out)
    n, ca, c = residues[2]["N"][0].pos, residues[2]["CA"][0].pos, residues[1]["C"][0].pos
    away = unit(n * 2 - ca - c)
    bma = zigzag("BMA", 502, ["C1", "C2", "C3", "C4", "O4"], n + away * 0.75, away)
    for res in residues + [nag, bma]:
        chain.add_residue(res)
    model.add_chain(chain)
    st.add_model(model)
    expect_contacts(st, ["A 501 C1-18 ND2", "A 502 C1-15 N"])
    finish(st, path, lambda r: r.seqid.num < 500)


def on_zigzag(parts, at):
    """Residues (name, atom names; elements their first letter) numbered
    from 1, all atoms along one zigzag from at (1.44 A steps: 1.2 A along x,
    0.8 A along y every other atom), each residue's first atom bonded to
    the last one before it."""
    residues = []
    for num, (name, atoms) in enumerate(parts, 1):
        res, first = new_residue(name, num), sum(len(p[1]) for p in parts[:num - 1])
        for i, atom in enumerate(atoms, first):
            res.add_atom(new_atom(atom, atom[0], at + gemmi.Position(1.2 * i, 0.8 * (i % 2), 0)))
        residues.append(res)
    return residues


def make_glycan(path):
    """Chain A: a glycan and no amino acid, all HETATM, no TER: NAG 1, NAG 2,
    BMA 3 and SIA 4 along one zigzag (on_zigzag), and SIA 5, SIA 4 moved
    0.805 A at right angles to the zigzag: the two overlap, and each one's
    C10 (and C5) lies 1.65 A from the other's N5."""
    st, model, _ = from_1rx2()
    chain = gemmi.Chain("A")
    sugar = ["C1", "C2", "N2", "C3", "O4"]
    for res in on_zigzag([("NAG", sugar), ("NAG", sugar), ("BMA", ["C1", "C2", "C3", "C4", "O4"]),
                          ("SIA", ["C1", "C2", "C3", "C4", "C5", "N5", "C10", "C11"])],
                         gemmi.Position(10, 10, 10)):
        chain.add_residue(res)
    overlap = moved(chain[3], gemmi.Position(0, 0, 0.805))
    overlap.seqid = gemmi.SeqId(5, " ")
    chain.add_residue(overlap)
    model.add_chain(chain)
    st.add_model(model)
    expect_contacts(st, ["A 4 C10-5 N5", "A 5 C10-4 N5", "A 4 C5-5 N5", "A 5 C5-4 N5"])
    finish(st, path, lambda r: False)


def make_lipid(path):
    """Chains I and J as PDB entry 6YFY has them, all HETATM, no standard
    residue, along one zigzag (on_zigzag): MUB 1 (N-acetylmuramic acid:
    C7, N2, C2, C1, O1), its O1 bonded 1.44 A to the P of a pyrophosphate's
    first half 2PO 2 (P, O3P, and O1P and O2P at right angles), whose O3P is
    bonded to the P of 2PO 3, whose O3P carries a lipid (ZLP 4, a made-up
    name: six carbons); chain J the same moved 20 A."""
    st, model, _ = from_1rx2()
    parts = [("MUB", ["C7", "N2", "C2", "C1", "O1"]), ("2PO", ["P", "O3P"]), ("2PO", ["P", "O3P"]),
             ("ZLP", ["C1", "C2", "C3", "C4", "C5", "C6"])]
    for k, name in enumerate("IJ"):
        chain = gemmi.Chain(name)
        for res in on_zigzag(parts, gemmi.Position(10, 10, 10 + 20 * k)):
            if res.name == "2PO":
                p = res["P"][0].pos
                for atom, z in (("O1P", 1.48), ("O2P", -1.48)):
                    res.add_atom(new_atom(atom, "O", p + gemmi.Position(0, 0, z)))
            chain.add_residue(res)
        model.add_chain(chain)
    st.add_model(model)
    expect_contacts(st, [c + s for c in "IJ" for s in (" 1 O1-2 P", " 2 O3P-3 P")])
    finish(st, path, lambda r: False)


def dna_strand(names, first, at):
    """DNA residues numbered from first, along x from at (DNA_ATOMS), each
    bonded O3'-P to the next; the first without its phosphate."""
    strand = []
    for i, name in enumerate(names):
        res = new_residue(name, first + i, het=False)
        for atom, element, (x, y, z) in DNA_ATOMS:
            if i > 0 or atom not in ("P", "OP1", "OP2"):
                res.add_atom(new_atom(atom, element, at + gemmi.Position(6.0 * i + x, y, z)))
        strand.append(res)
    return strand


# The 1RX2 residues (numbers) of the protein chains of label_runs.pdb.
RUNS = {"A": list(range(1, 8)) + list(range(11, 15)) + list(range(16, 21)), "C": [1, 2, 11, 12],
        "D": [1, 2], "E": list(range(3, 9))}


def make_runs(path):
    """Runs of bonded standard residues (ATOM) after a chain's first TER, or
    beside a polymer of the other kind. Chain A: 1RX2's residues 1-7, 11-14
    and 16-20, TER at each break and at the end; chain B: two DNA strands
    (DG DA DT DC 1-4; DG DC DA DT 5-8, 10 A away), TER after each; chain C
    residues 1-2, TER, chain D residues 1-2 (moved), TER, then chain C again
    with residues 11-12, TER; chain E residues 3-8 (moved) and a DNA strand
    DA DC DG DT 9-12, no TER. As it should be written each chain holds one
    polymer, and chain E a peptide and a DNA strand: gemmi cannot write that
    in PDB form, so what label_cases.txt holds is read from gemmi's mmCIF
    (the two as subchains and entities of their own)."""
    st, model, a = from_1rx2()
    seqres = {}
    for name, numbers in RUNS.items():
        chain = gemmi.Chain(name)
        shift = gemmi.Position(0, 0, 40 * "ACDE".index(name))
        span = [r for r in a if r.het_flag == "A" and min(numbers) <= r.seqid.num <= max(numbers)]
        seqres[name] = [r.name for r in span] if name in "AC" else None
        for res in span:
            if res.seqid.num in numbers:
                chain.add_residue(moved(res, shift))
        if name == "E":
            for res in dna_strand(["DA", "DC", "DG", "DT"], 9, gemmi.Position(0, 40, 160)):
                chain.add_residue(res)
        model.add_chain(chain)
        if name == "A":
            chain = gemmi.Chain("B")
            for res in (dna_strand(["DG", "DA", "DT", "DC"], 1, gemmi.Position(0, 0, 60)) +
                        dna_strand(["DG", "DC", "DA", "DT"], 5, gemmi.Position(0, 10, 60))):
                chain.add_residue(res)
            model.add_chain(chain)
    st.add_model(model)
    expect_contacts(st, [])

    def layout(blocks):
        for key in (("A", 7, "ALA"), ("A", 14, "ILE"), ("B", 4, "DC")):
            blocks = with_ter_after(blocks, key)
        blocks = moved_after(blocks, lambda k: k[0] == "C" and k[1] in (11, 12), ("D", "TER"))
        blocks = with_ter_after(blocks, ("C", 12, "ARG"))
        return without_ter(blocks, "E")
    finish(st, path, lambda r: True, seqres, layout, by_kind=True)


def make_gaps(path):
    """Residues that continue no backbone at an end of the run or at a gap:
    chain A 1RX2's MET 1 as a HETATM MSE (SD named SE, a selenium), residue
    2 missing, residues 3-8, TER; chain B residues 40-47 and, after residue
    48 missing, SER 49 as a HETATM SEP (a phosphate on OG), TER, moved
    40 A."""
    st, model, a = from_1rx2()
    seqres = {}
    for name, first, last, missing in (("A", 1, 8, 2), ("B", 40, 49, 48)):
        chain = gemmi.Chain(name)
        seqres[name] = []
        for res in [r for r in a if r.het_flag == "A" and first <= r.seqid.num <= last]:
            res = moved(res, gemmi.Position(0, 0, 40 * (name == "B")))
            if res.seqid.num == 1:
                res.name, res.het_flag = "MSE", "H"
                sd = res["SD"][0]
                sd.name, sd.element = "SE", gemmi.Element("Se")
            elif res.seqid.num == 49:
                res.name, res.het_flag = "SEP", "H"
                og, cb = res["OG"][0].pos, res["CB"][0].pos
                out = unit(og - cb)
                p = og + out * 1.61
                res.add_atom(new_atom("P", "P", p))
                for atom, d in (("O1P", out), ("O2P", across(out)), ("O3P", across(out) * -1)):
                    res.add_atom(new_atom(atom, "O", p + d * 1.5))
            seqres[name].append(res.name)
            if res.seqid.num != missing:
                chain.add_residue(res)
        model.add_chain(chain)
    st.add_model(model)
    expect_contacts(st, [])
    finish(st, path, lambda r: True, seqres)


def make_entities(path):
    """gemmi's mmCIF of two peptides of different sequences given one
    entity: chain A 1RX2's LYS 106 and ALA 107, chain B its LYS 32 and ARG
    33, both of entity 1 (whose sequence is chain A's)."""
    st, model, a = from_1rx2()
    for name, numbers in (("A", (106, 107)), ("B", (32, 33))):
        chain = gemmi.Chain(name)
        for res in [r for r in a if r.het_flag == "A" and r.seqid.num in numbers]:
            chain.add_residue(res.clone())
        model.add_chain(chain)
    st.add_model(model)
    finish(st, path, lambda r: True)
    first, second = st.entities[0], st.entities[1]
    first.subchains = list(first.subchains) + list(second.subchains)
    del st.entities[1]
    for i, entity in enumerate(st.entities):
        entity.name = str(i + 1)
    for chain in st[0]:
        for number, res in enumerate(chain, 1):
            res.label_seq = number
    st.make_mmcif_document().write_file(path)


def with_record_kinds():
    """gemmi's mmCIF output with each atom's record kind (group_PDB), which
    it leaves out by default."""
    groups = gemmi.MmcifOutputGroups(True)
    groups.group_pdb = True
    return groups


def make_auth_ids(path):
    """gemmi's mmCIF of an author chain id that is another molecule's
    label_asym_id, as the library's own mmCIF output gives one: chain A
    1RX2's residues 1-5; chain B its MN alone; chain C residues 20, 21, 22,
    25, 28, 29 and 30, PRO 25 bonded to neither neighbour (residues 23, 24,
    26 and 27 missing). The polymers are given as ATOM, the MN as HETATM;
    chain C's polymer is labelled B, the MN C."""
    st, model, a = from_1rx2()
    seqres = {"A": [r.name for r in a if r.het_flag == "A" and r.seqid.num <= 5],
              "C": [r.name for r in a if r.het_flag == "A" and 20 <= r.seqid.num <= 30]}
    for name, numbers in (("A", range(1, 6)), ("B", ()), ("C", (20, 21, 22, 25, 28, 29, 30))):
        chain = gemmi.Chain(name)
        for res in [r for r in a if r.het_flag == "A" and r.seqid.num in numbers]:
            chain.add_residue(res.clone())
        if name == "B":
            chain.add_residue(next(r for r in a if r.name == "MN").clone())
        model.add_chain(chain)
    st.add_model(model)
    expect_contacts(st, [])
    finish(st, path, lambda r: r.name != "MN", seqres)
    names = {st[0][chain][0].subchain: label for chain, label in (("A", "A"), ("C", "B"), ("B", "C"))}
    for chain in st[0]:
        for res in chain:
            res.subchain = names[res.subchain]
    for i, entity in enumerate(st.entities):
        entity.name = str(i + 1)
        entity.subchains = [names[sub] for sub in entity.subchains]
    st.assign_label_seq_id(True)
    st.make_mmcif_document(with_record_kinds()).write_file(path)


# Each chain of make_shared: its entity's residues of 1RX2 (first, last),
# the residues it holds and how far it is moved along z.
SHARED = {"A": ((1, 10), (1, 10), 0), "B": ((20, 27), (20, 27), 0),
          "C": ((1, 10), (3, 9), 30), "D": ((20, 27), (21, 27), 30)}


def make_shared(path, entities=("AC", "BD")):
    """gemmi's mmCIF of two entities of two chains each, one chain of each
    observed over fewer residues at its ends, as PDB entry 5YH2 gives them
    (SHARED): chains A and C 1RX2's residues 1-10 and 3-9, entity 1; chains
    B and D residues 20-27 and 21-27, entity 2; each label_seq_id that of
    its residue in its entity's sequence (from residue 1 or 20). entities
    gives the chains of each entity: all four in one for
    label_shared_one.cif. What a model written afresh reads as has each
    chain's observed residues for its sequence: an entity of its own for
    each chain."""
    st, model, a = from_1rx2()
    for name, (_, (low, high), z) in SHARED.items():
        chain = gemmi.Chain(name)
        for res in [r for r in a if r.het_flag == "A" and low <= r.seqid.num <= high]:
            chain.add_residue(moved(res, gemmi.Position(0, 0, z)))
        model.add_chain(chain)
    st.add_model(model)
    expect_contacts(st, [])
    finish(st, path, lambda r: True)
    for chain in st[0]:
        for res in chain:
            res.subchain = chain.name
            res.label_seq = res.seqid.num - SHARED[chain.name][0][0] + 1
    st.entities.clear()
    for number, chains in enumerate(entities, 1):
        first, last = SHARED[chains[0]][0]
        entity = gemmi.Entity(str(number))
        entity.entity_type = gemmi.EntityType.Polymer
        entity.polymer_type = gemmi.PolymerType.PeptideL
        entity.subchains = list(chains)
        entity.full_sequence = [r.name for r in a if r.het_flag == "A" and first <= r.seqid.num <= last]
        st.entities.append(entity)
    st.make_mmcif_document(with_record_kinds()).write_file(path)


def make_gapped(path):
    """Two chains of the same residue names whose gaps fall in other places:
    chain A 1RX2's ALA 6, ALA 7 and LEU 8, bonded; chain B, moved 30 A, its
    ALA 6 moved 6 A back along x (residue 7 missing), then its ALA 7 and LEU 8
    as residues 8 and 9."""
    st, model, a = from_1rx2()
    res = {r.seqid.num: r for r in a if r.het_flag == "A"}
    chain_a, chain_b = gemmi.Chain("A"), gemmi.Chain("B")
    for number in (6, 7, 8):
        chain_a.add_residue(res[number].clone())
    chain_b.add_residue(moved(res[6], gemmi.Position(-6, 0, 30)))
    for number in (7, 8):
        copy = moved(res[number], gemmi.Position(0, 0, 30))
        copy.seqid = gemmi.SeqId(number + 1, " ")
        chain_b.add_residue(copy)
    model.add_chain(chain_a)
    model.add_chain(chain_b)
    st.add_model(model)
    expect_contacts(st, [])
    names = [res[number].name for number in (6, 7, 8)]
    finish(st, path, lambda r: True, {"A": names, "B": names[:1] + names})
def as_hetatm(blocks, key):
    """The blocks with the residue keyed key given as HETATM records."""
    return [(k, ["HETATM" + line[6:] if k == key and line.startswith("ATOM  ") else line
                 for line in lines]) for k, lines in blocks]


def as_mse(res):
    """A methionine as a HETATM selenomethionine (SD named SE, a selenium)."""
    res.name, res.het_flag = "MSE", "H"
    sd = res["SD"][0]
    sd.name, sd.element = "SE", gemmi.Element("Se")
    return res


def make_between(path):
    """Residues bonded into the polymer on both sides, given elsewhere.
    Chain A: 1RX2's residues 1-6, TER after 3, LEU 4 (bonded C3-N4 and
    C4-N5) given last as HETATM; chain B the same, moved 40 A, without TER;
    chain C residues 9-11, TER, then MET 16 as a HETATM MSE, then 14-15
    (12, 13 and so the bond 11-14 missing): the MSE is bonded to the end of
    the stretch after it in the file; chain D residues 1-3, TER, then ALA 7,
    1RX2's MN and ALA 6 (4, 5 missing): two residues bonded to each other
    with a ligand between them in the file."""
    st, model, a = from_1rx2()
    seqres = {}
    mn = next(r for r in a if r.name == "MN")
    for k, numbers in enumerate((range(1, 7), range(1, 7), (9, 10, 11, 14, 15, 16),
                                 (1, 2, 3, 6, 7))):
        chain = gemmi.Chain("ABCD"[k])
        span = [moved(r, gemmi.Position(0, 0, 40 * k)) for r in a
                if r.het_flag == "A" and min(numbers) <= r.seqid.num <= max(numbers)]
        for res in span:
            if res.seqid.num == 16:
                as_mse(res)
        seqres[chain.name] = [r.name for r in span]
        for res in span:
            if res.seqid.num in numbers:
                chain.add_residue(res)
        if chain.name == "D":
            chain.add_residue(moved(mn, gemmi.Position(0, 0, 40 * k)))
        model.add_chain(chain)
    st.add_model(model)
    expect_contacts(st, [])
    for chain in "AB":
        expect_links(st, chain, [(1, 2), (2, 3), (3, 4), (4, 5), (5, 6)])
    expect_links(st, "C", [(9, 10), (10, 11), (14, 15), (15, 16)])
    expect_links(st, "D", [(1, 2), (2, 3), (6, 7)])

    def layout(blocks):
        for chain in "AB":
            blocks = moved_after(blocks, lambda k: k == (chain, 4, "LEU"), (chain, 6, "ALA"))
            blocks = as_hetatm(without_ter(blocks, chain), (chain, 4, "LEU"))
        blocks = with_ter_after(blocks, ("A", 3, "SER"))
        blocks = with_ter_after(without_ter(blocks, "C"), ("C", 11, "ASP"))
        blocks = moved_before(blocks, lambda k: k == ("C", 16, "MSE"), ("C", 14, "ILE"))
        blocks = with_ter_after(without_ter(blocks, "D"), ("D", 3, "SER"))
        return moved_after(blocks, lambda k: k == ("D", 6, "ALA"), ("D", mn.seqid.num, "MN"))
    finish(st, path, lambda r: r.name != "MN", seqres, layout)


def make_loose(path):
    """Chain A: 1RX2's VAL 10, TER, then a DNA strand DA 1, DG 2 (bonded
    O3'-P) and DT 3 given as HETATM, moved 3 A so that it is bonded to
    nothing, though as near the strand's end as a nucleotide after a break
    is: it follows the strand in the file and has its kind."""
    st, model, a = from_1rx2()
    chain = gemmi.Chain("A")
    chain.add_residue(next(r for r in a if r.seqid.num == 10).clone())
    strand = dna_strand(["DA", "DG", "DT"], 1, gemmi.Position(0, 0, 30))
    strand[2] = moved(strand[2], gemmi.Position(0, 3, 0))
    strand[2].het_flag = "H"
    for res in strand:
        chain.add_residue(res)
    model.add_chain(chain)
    st.add_model(model)
    expect_contacts(st, [])
    expect_links(st, "A", [(1, 2)])

    def layout(blocks):
        return with_ter_after(without_ter(blocks, "A"), ("A", 10, "VAL"))
    finish(st, path, lambda r: r.name != "DT", layout=layout, by_kind=True)


def make_reach(path):
    """Residues of the chain's kind, given as HETATM and bonded to nothing,
    at an end of the polymer or at a gap: in the chain only where their
    numbers continue it and their CA is within reach of their neighbours'
    (3.8 A a residue, and 1 A). Chain A, as a model of an SH2 domain with
    its inhibitor: 1RX2's residues 1-10 numbered 146-155, then a
    peptide-like inhibitor given as HETATM residue 1 (TYR 100 named ZPT, a
    made-up name, its nearest atom 27.6 A from residue 155), TER. Chain B
    residues 11-14 and MET 16 as an MSE (15 missing) in place; chain C
    residues 38-41 and MET 42 as an MSE moved 10 A away; chain D residues
    17-23 with MET 20 as an MSE moved 6 A (its CA 6.4 and 8.1 A from those
    of 19 and 21). Each chain moved 40 A from the
    one before."""
    st, model, a = from_1rx2()
    seqres = {}
    spans = {"A": range(1, 11), "B": (11, 12, 13, 14, 16), "C": range(38, 43), "D": range(17, 24)}
    away = {42: gemmi.Position(0, 10, 0), 20: gemmi.Position(0, 0, -6)}
    for k, (name, numbers) in enumerate(spans.items()):
        chain = gemmi.Chain(name)
        span = [moved(r, gemmi.Position(0, 0, 40 * k)) for r in a
                if r.het_flag == "A" and min(numbers) <= r.seqid.num <= max(numbers)]
        for i, res in enumerate(span):
            if res.name == "MET" and name != "A":
                span[i] = res = moved(as_mse(res), away.get(res.seqid.num, gemmi.Position(0, 0, 0)))
            if name == "A":
                res.seqid = gemmi.SeqId(res.seqid.num + 145, " ")
        # The ligands last, as written; the layout puts them back in place.
        for res in sorted(span, key=lambda r: r.seqid.num in away):
            if name == "A" or res.seqid.num in numbers:
                chain.add_residue(res)
        seqres[name] = [r.name for r in span]
        model.add_chain(chain)
    inhibitor = next(r for r in a if r.seqid.num == 100).clone()
    inhibitor.name, inhibitor.het_flag, inhibitor.seqid = "ZPT", "H", gemmi.SeqId(1, " ")
    model["A"].add_residue(moved(inhibitor, gemmi.Position(-17.5, 0, 0)))  # 27.6 A from 155
    st.add_model(model)
    expect_contacts(st, [])
    for chain, numbers in (("A", range(146, 155)), ("B", (11, 12, 13)), ("C", (38, 39, 40)),
                           ("D", (17, 18, 21, 22))):
        expect_links(st, chain, [(n, n + 1) for n in numbers])

    def layout(blocks):
        for chain, last in (("A", (1, "ZPT")), ("C", (42, "MSE"))):
            blocks = with_ter_after(without_ter(blocks, chain), (chain,) + last)
        return moved_before(blocks, lambda k: k == ("D", 20, "MSE"), ("D", 21, "PRO"))
    finish(st, path, lambda r: r.name != "ZPT" and not (r.name == "MSE" and r.seqid.num in away),
           seqres, layout)


def make_overlaid(path):
    """Chain A, all ATOM, no TER before its end: ALA 1, LYS 2 and LEU 3
    (tripeptide), LEU numbered 5, with LYS's NZ and LEU's CD1 in two
    conformations, NZ's second where CD1's first is (atoms never present
    together); then 1RX2's MET 1, SER 3 and VAL 10 as residues 6, 7 and 8,
    SER and VAL moved to put their CA on MET's, as templates of residues
    laid over one another are given: VAL 8's C lies 1.29 A from SER 7's N,
    and no other C by an N (all standard residues, which bond by those
    alone). Residues laid over one another are bonded neither way: the
    polymer is written in the file's order, LYS 2 bonded to LEU 5."""
    st, model, a = from_1rx2()
    chain = gemmi.Chain("A")
    residues = tripeptide(a)
    lys, leu = residues[1], residues[2]
    leu.seqid = gemmi.SeqId(5, " ")
    cg, cd1 = leu["CG"][0].pos, leu["CD1"][0].pos
    for res, name, second in ((lys, "NZ", cd1), (leu, "CD1", cg * 2 - cd1)):
        atom = res[name][0]
        atom.altloc, atom.occ = "A", 0.5
        other = atom.clone()
        other.altloc, other.pos = "B", second
        res.add_atom(other)
    for res in residues:
        chain.add_residue(res)
    templates = [next(r for r in a if r.seqid.num == num and r.het_flag == "A") for num in (1, 3, 10)]
    at = templates[0]["CA"][0].pos
    for num, res in enumerate(templates, 6):
        copy = moved(res, at - res["CA"][0].pos)
        copy.seqid = gemmi.SeqId(num, " ")
        chain.add_residue(copy)
    model.add_chain(chain)
    st.add_model(model)
    expect_links(st, "A", [(1, 2), (2, 5), (8, 7)])
    finish(st, path, lambda r: True)


def make_apart(path):
    """mmCIF: 1RX2's residues 1-5, and a glycine (a copy of GLY 15 moved
    25 A, given as ATOM) with a label_asym_id and non-polymer entity of its
    own, as gemmi writes them."""
    st, model, a = from_1rx2()
    chain = gemmi.Chain("A")
    for res in [r for r in a if r.het_flag == "A" and r.seqid.num <= 5]:
        chain.add_residue(res.clone())
    glycine = moved(next(r for r in a if r.seqid.num == 15), gemmi.Position(0, 0, -25))
    glycine.seqid = gemmi.SeqId(401, " ")
    chain.add_residue(glycine)
    model.add_chain(chain)
    st.add_model(model)
    set_entities(st, lambda r: r.seqid.num != 401)
    for i, entity in enumerate(st.entities):
        entity.name = str(i + 1)
    st.make_mmcif_document(with_record_kinds()).write_file(path)  # all ATOM


def make_moved(path):
    """gemmi's mmCIF of residues whose labels put them elsewhere than their
    bonds do: chain A 1RX2's residues 1-6 with its BME between ILE 2 and
    SER 3 (bonded to each other) in the polymer's label_asym_id; chain B
    residues 7-12, moved 30 A, with residue 9 (bonded to both neighbours)
    in a label_asym_id of its own as a non-polymer. Entities are numbered,
    and the residues of each polymer's label_asym_id have label_seq_ids 1,
    2 ... in file order."""
    st, model, a = from_1rx2()
    polymer = [r for r in a if r.het_flag == "A" and r.seqid.num <= 12]
    chain_a, chain_b = gemmi.Chain("A"), gemmi.Chain("B")
    for res in polymer[:6] + [next(r for r in a if r.name == "BME")]:
        chain_a.add_residue(res.clone())
    for res in polymer[6:]:
        chain_b.add_residue(moved(res, gemmi.Position(0, 0, 30)))
    model.add_chain(chain_a)
    model.add_chain(chain_b)
    st.add_model(model)
    finish(st, path, lambda r: r.het_flag == "A")
    chain_a, chain_b = st[0]["A"], st[0]["B"]
    bme = chain_a[6].clone()
    del chain_a[6]
    chain_a.add_residue(bme, 2)
    moved_in = chain_b[2]
    for res, into in ((chain_a[2], chain_a[0]), (moved_in, None)):
        for entity in st.entities:  # only the residue's subchain is moved, or a polymer's kept
            if entity.entity_type != gemmi.EntityType.Polymer:
                entity.subchains = [sub for sub in entity.subchains if sub != res.subchain]
        if into:
            res.subchain, res.entity_type = into.subchain, into.entity_type
        else:
            res.subchain, res.entity_type = "B9", gemmi.EntityType.NonPolymer
            alone = gemmi.Entity("B9")
            alone.entity_type, alone.subchains = gemmi.EntityType.NonPolymer, ["B9"]
            st.entities.append(alone)
    for i in reversed([i for i, e in enumerate(st.entities) if not e.subchains]):
        del st.entities[i]
    for i, entity in enumerate(st.entities):
        entity.name = str(i + 1)
    for chain in st[0]:
        number = 0
        for res in chain:
            number += res.entity_type == gemmi.EntityType.Polymer
            res.label_seq = number if res.entity_type == gemmi.EntityType.Polymer else None
    st.make_mmcif_document().write_file(path)


def make_model_two(path):
    """gemmi's mmCIF of a lone model numbered 2."""
    st, _, a = from_1rx2()
    model, chain = gemmi.Model("2"), gemmi.Chain("A")
    for res in [r for r in a if r.het_flag == "A" and r.seqid.num <= 5] + [
            next(r for r in a if r.name == "HOH")]:
        chain.add_residue(res.clone())
    model.add_chain(chain)
    st.add_model(model)
    st.setup_entities()
    st.make_mmcif_document().write_file(path)


def make_sources(directory, ordered):
    """Writes the sources into directory, each also as gemmi orders it into
    ordered."""
    global canonical_dir
    canonical_dir = ordered
    make_ends(os.path.join(directory, "label_ends.pdb"))
    make_ligands(os.path.join(directory, "label_ligands.pdb"))
    make_dna(os.path.join(directory, "label_dna.pdb"))
    make_free(os.path.join(directory, "label_free.pdb"))
    make_blank(os.path.join(directory, "label_blank.pdb"))
    make_ahead(os.path.join(directory, "label_ahead.pdb"))
    make_inserts(os.path.join(directory, "label_inserts.pdb"))
    make_waters(os.path.join(directory, "label_waters.pdb"))
    make_hand(os.path.join(directory, "label_hand.pdb"))
    make_split(os.path.join(directory, "label_split.pdb"))
    make_late(os.path.join(directory, "label_late.pdb"))
    make_breaks(os.path.join(directory, "label_breaks.pdb"))
    make_apart(os.path.join(directory, "label_apart.cif"))
    make_moved(os.path.join(directory, "label_moved.cif"))
    make_clash(os.path.join(directory, "label_clash.pdb"))
    make_isopeptide(os.path.join(directory, "label_isopeptide.pdb"))
    make_glycosylated(os.path.join(directory, "label_glycosylated.pdb"))
    make_glycan(os.path.join(directory, "label_glycan.pdb"))
    make_lipid(os.path.join(directory, "label_lipid.pdb"))
    make_runs(os.path.join(directory, "label_runs.pdb"))
    make_gaps(os.path.join(directory, "label_gaps.pdb"))
    make_entities(os.path.join(directory, "label_entities.cif"))
    make_auth_ids(os.path.join(directory, "label_auth_ids.cif"))
    make_shared(os.path.join(directory, "label_shared.cif"))
    make_shared(os.path.join(directory, "label_shared_one.cif"), ("ABCD",))
    make_gapped(os.path.join(directory, "label_gapped.pdb"))
    make_between(os.path.join(directory, "label_between.pdb"))
    make_loose(os.path.join(directory, "label_loose.pdb"))
    make_reach(os.path.join(directory, "label_reach.pdb"))
    make_overlaid(os.path.join(directory, "label_overlaid.pdb"))


def in_bond_order(residues):
    """The residues with each that another's end is bonded to (C to N, O3'
    to P, as expect_links) moved to right after it, as a written polymer
    has them wherever the file gives them (gemmi reads the file's order)."""
    order = list(residues)
    for i in range(len(order)):
        for j in range(i + 2, len(order)):
            if any(x.pos.dist(y.pos) <= longest
                   for end, start, longest in (("C", "N", 1.5 * 1.33), ("O3'", "P", 1.5 * 1.61))
                   for x in order[i] if x.name == end for y in order[j] if y.name == start):
                order.insert(i + 1, order.pop(j))
                break
    return order


def molecule_rows(path):
    """gemmi's reading of a file as compare-able lines, one group to a chain
    in order of the chain ids: its polymer's residues in order (name,
    number, insertion code) with the _entity_poly.type the file gives (the
    kind gemmi finds where it gives none), its ligands' names sorted, and
    its number of waters."""
    st = gemmi.read_structure(path)
    st.setup_entities()
    types = {}
    for entity in st.entities:
        if entity.entity_type == gemmi.EntityType.Polymer:
            for sub in entity.subchains:
                types[sub] = MMCIF_POLYMER_TYPES.get(str(entity.polymer_type).split(".")[-1])
    rows = []
    for chain in sorted(st[0], key=lambda c: c.name):
        name = chain.name or "''"
        polymer = in_bond_order(r for r in chain if r.entity_type == gemmi.EntityType.Polymer)
        kind = polymer and (types.get(polymer[0].subchain) or MMCIF_POLYMER_TYPES.get(
            str(chain.get_polymer().check_polymer_type()).split(".")[-1]))
        if not kind:  # gemmi knows no kind for it (a lone unknown residue): no polymer
            for res in polymer:
                res.entity_type = gemmi.EntityType.NonPolymer
        elif polymer:
            rows.append("%s polymer %s %s" % (name, kind, " ".join(
                "%s%d%s" % (r.name, r.seqid.num, r.seqid.icode.strip()) for r in polymer)))
        ligands = sorted(r.name for r in chain if r.entity_type not in (
            gemmi.EntityType.Polymer, gemmi.EntityType.Water))
        if ligands:
            rows.append("%s ligands %s" % (name, " ".join(ligands)))
        waters = sum(1 for r in chain if r.entity_type == gemmi.EntityType.Water)
        if waters:
            rows.append("%s waters %d" % (name, waters))
    return rows


def joined_at_breaks(path, out):
    """Writes to out the PDB file at path without the TER records that are
    followed by more atoms of their chain; returns out."""
    with open(path) as f:
        lines = f.readlines()
    atoms = [i for i, line in enumerate(lines) if line.startswith(("ATOM  ", "HETATM"))]
    with open(out, "w") as f:
        f.writelines(line for i, line in enumerate(lines) if not (line.startswith("TER") and any(
            j > i and lines[j][21] == lines[i - 1][21] for j in atoms)))
    return out


def make_all(directory):
    """The sources, and label_cases.txt from gemmi's reading of each as gemmi
    orders it: what a written file of its model should read as."""
    make_model_two(os.path.join(directory, "model_two.cif"))
    with tempfile.TemporaryDirectory() as ordered:
        make_sources(directory, ordered)
        with open(os.path.join(directory, "label_cases.txt"), "w") as f:
            f.write("# Generated by tools/make_label_fixtures.py (gemmi %s)\n" % gemmi.__version__)
            for source in SOURCES:
                blocks = [("source %s" % source, canonical(ordered, source))]
                if source in KEPT_LABELS:
                    blocks.append(("source %s kept" % source,
                                   os.path.join(directory, KEPT_LABELS[source])))
                for line, path in blocks:
                    f.write(line + "\n")
                    f.write("\n".join(residue_rows(path)) + "\n")
                    f.write("polymers %s\n" % " ".join(polymer_types(path)))
    with open(os.path.join(directory, "label_molecules.txt"), "w") as f:
        f.write("# Generated by tools/make_label_fixtures.py (gemmi %s)\n" % gemmi.__version__)
        for source in sorted(REAL_SOURCES) + ["label_apart.cif"]:
            f.write("source %s\n" % source)
            path = os.path.join(DATA if source in REAL_SOURCES else directory, source)
            with tempfile.TemporaryDirectory() as scratch:
                if source in TER_AT_BREAKS:
                    path = joined_at_breaks(path, os.path.join(scratch, source))
                f.write("\n".join(molecule_rows(path)) + "\n")


def molecules(path, entities):
    """gemmi's reading: atoms; per chain its polymer (length, kind); per
    subchain its kind and residues, and with entities its entity as the
    index of its first appearance: the file's own entity id where it gives
    one (label_entity_id), else gemmi's (from SEQRES in PDB files)."""
    st = gemmi.read_structure(path)
    st.setup_entities()
    out = ["atoms %d" % st[0].count_atom_sites()]
    for chain in st[0]:
        poly = chain.get_polymer()
        kind = str(poly.check_polymer_type()).split(".")[-1] if len(poly) else "-"
        out.append("chain %s polymer %d %s" % (chain.name, len(poly), kind))
    index = {}
    for chain in st[0]:
        for sub in chain.subchains():
            # gemmi gives the polymer of a blank chain id no entity
            found = st.get_entity_of(sub)
            entity = sub[0].entity_id or (found.name if found else sub.subchain_id())
            out.append("subchain %s %s %s%s" % (
                chain.name, str(sub[0].entity_type).split(".")[-1], ",".join(r.name for r in sub),
                " entity %d" % index.setdefault(entity, len(index)) if entities else ""))
    return out


def cctbx_atoms(path):
    import iotbx.pdb
    return iotbx.pdb.input(file_name=path).construct_hierarchy().atoms_size()


# The models the read-back test writes whole (<stem>.pdb, <stem>.cif), and
# their sources.
TENSOR_SOURCES = {"variant_cif": "tiny_5e5z_variant.cif", "wrk_7mm1": "wrk_7mm1.pdb"}


def tensors(path):
    """cctbx's and gemmi's reading of each atom: its name and anisotropic U
    (None without one); a reader that refuses the file gives its reason."""
    import iotbx.pdb
    try:
        atoms = iotbx.pdb.input(file_name=path).construct_hierarchy().atoms()
        by_cctbx = [(a.name.strip(), tuple(round(u, 4) for u in a.uij) if a.uij_is_defined() else None)
                    for a in atoms]
    except Exception as e:  # cctbx raises many kinds
        by_cctbx = "refused (%s)" % e
    by_gemmi = [(c.atom.name, tuple(round(u, 4) for u in c.atom.aniso.elements_pdb())
                 if c.atom.aniso.nonzero() else None)
                for c in gemmi.read_structure(path)[0].all()]
    return by_cctbx, by_gemmi


def tensor_problems(path, source):
    got, want = tensors(path), tensors(os.path.join(DATA, source))
    problems = []
    for reader, g, w in zip(("cctbx", "gemmi"), got, want):
        if isinstance(g, str) or len(g) != len(w):
            problems.append("%s: %s / source %d atoms" % (reader, g if isinstance(g, str) else len(g), len(w)))
        else:
            problems += ["%s: atom %d %s / source %s" % (reader, i + 1, a, b)
                         for i, (a, b) in enumerate(zip(g, w)) if a != b][:3]
    return problems, "as its source (%d atoms, %d with anisotropic U)" % (
        len(want[1]), sum(1 for atom in want[1] if atom[1]))


def written_polymer_types(path):
    """The _entity_poly.type an mmCIF file gives each polymer entity, in the
    order of their first appearance, as gemmi reads them."""
    st = gemmi.read_structure(path)
    entity_of = {sub: e for e in st.entities for sub in e.subchains}
    types = {}
    for chain in st[0]:
        for sub in chain.subchains():
            entity = entity_of.get(sub.subchain_id())
            if entity and entity.entity_type == gemmi.EntityType.Polymer:
                types.setdefault(entity.name, MMCIF_POLYMER_TYPES.get(
                    str(entity.polymer_type).split(".")[-1], str(entity.polymer_type)))
    return list(types.values())


def roundtrip(directory):
    """Compares each file the tests wrote (<source stem>_<route>.pdb/.cif,
    and the models of TENSOR_SOURCES) with its source: gemmi's reading
    (molecules) and cctbx's atoms of the source as gemmi orders it, and for
    mmCIF the polymer types (polymer_types); or each atom's anisotropic U."""
    failures = checked = 0
    made = tempfile.TemporaryDirectory()
    ordered = os.path.join(made.name, "canonical")
    os.mkdir(ordered)
    make_sources(made.name, ordered)
    for name in sorted(os.listdir(directory)):
        stem, ext = os.path.splitext(name)
        if stem in TENSOR_SOURCES and ext in (".pdb", ".cif"):
            problems, same = tensor_problems(os.path.join(directory, name), TENSOR_SOURCES[stem])
            checked += 1
            failures += bool(problems)
            print("%-28s %s" % (name, "; ".join(problems) or same))
            continue
        source = next((s for s in SOURCES if name.startswith(s[:-4] + "_")), None)
        if not source:
            continue
        cif = name.endswith(".cif")  # the PDB form holds no entity ids
        want = molecules(canonical(ordered, source), cif)
        got = molecules(os.path.join(directory, name), cif)
        atoms = cctbx_atoms(os.path.join(directory, name))
        want_atoms = cctbx_atoms(canonical(ordered, source))
        problems = [("gemmi: %s / source %s" % (g, w)) for g, w in zip(got, want) if g != w]
        if len(got) != len(want):
            problems.append("gemmi: %d lines / source %d" % (len(got), len(want)))
        if atoms != want_atoms:
            problems.append("cctbx: %d atoms / source %d" % (atoms, want_atoms))
        if cif:
            types, want_types = written_polymer_types(os.path.join(directory, name)), \
                polymer_types(canonical(ordered, source))
            if types != want_types:
                problems.append("polymer types %s / source %s" % (types, want_types))
        checked += 1
        failures += bool(problems)
        print("%-28s %s" % (name, "; ".join(problems) or
                            "as its source (gemmi: %s; cctbx: %d atoms)" % (", ".join(want[1:]), atoms)))
    made.cleanup()
    if checked == 0:
        sys.exit("no written files found in " + directory)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--roundtrip":
        roundtrip(sys.argv[2])
    fixture_files.main(make_all, other_modes=["--roundtrip DIR"])
