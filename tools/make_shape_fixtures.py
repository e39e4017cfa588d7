#!/usr/bin/python3
"""Small coordinate files in the shapes that writers of models have got
wrong, sources of the check of written models
(tests/model/test_written_invariants.cpp), which edits them and checks
what every written model holds. Made with Debian's python3-gemmi from the
shipped 1RX2 file and a docking example's DNA (real_dna.pdb).

Run from anywhere with /usr/bin/python3:
  tools/make_shape_fixtures.py            writes the files below into tests/data
  tools/make_shape_fixtures.py --check    makes them elsewhere and reports
                                          whether the committed ones are current

  shape_pairs.cif    as gemmi writes mmCIF (with group_PDB): chain A holds
                     1RX2's residues 1-12 and its MN, chain B residues 13-22
                     and two waters; chain C residues 3-12 (two fewer at the
                     start) and chain D residues 13-20 (two fewer at the end),
                     moved 30 A along x, and B and D 40 A along y (no chain
                     bonded to another). A and C are entity 1, B and D entity
                     2, as PDB entry 5YH2's chains A and C, and B and D, are:
                     each entity's sequence is its longer chain's, and a
                     residue's label_seq_id its place in it, so that the two
                     chains of an entity agree at every label_seq_id they
                     share. label_asym_ids A to D for the polymers, E for MN,
                     F for the waters.
  shape_joined.pdb   1RX2's residues 1-6 in chain A as 1-3, TER, 5-6, then 4
                     as HETATM, bonded C3-N4 and C4-N5 where the file puts it
                     last; chain B the same, moved 30 A along x, without the TER
  shape_free_dna.pdb chain A: 1RX2's VAL 10, TER, then real_dna.pdb's DA 1
                     and DG 2 (bonded O3'-P), and its DT 3 moved 10 A away
                     from them (bonded to nothing) as HETATM
  shape_gaps.pdb     chain A 1RX2's residues 1-5; chain B its MN alone; chain
                     C its residues 20 21 22 25 28 29 30 (PRO 25 between two
                     gaps, bonded to nothing)
  shape_far.pdb      chain A 1RX2's residues 55-64, then before the TER a
                     HETATM residue 1 ZPI (a made-up name): the N, CA, C, O
                     and CB of 1RX2's residue 100 moved so that its nearest
                     atom lies 28 A from the chain, bonded to nothing, its
                     N-CA and CA-C bonded, as a peptide-like inhibitor given
                     with a domain's model
"""
import os

import gemmi

import fixture_files
from fixture_files import DATA


def source_chain(name):
    """1RX2's chain A without hydrogens, and its structure."""
    st = gemmi.read_structure(os.path.join(DATA, name))
    st.remove_hydrogens()
    return st, st[0][0]


def moved(res, shift, number=None, name=None):
    copy = res.clone()
    for atom in copy:
        atom.pos = atom.pos + shift
    if number is not None:
        copy.seqid = gemmi.SeqId(number, " ")
    if name:
        copy.name = name
    return copy


def pdb_text(st, records):
    """A PDB text in 1RX2's cell: records are (chain, residue, "ATOM" or
    "HETATM") or "TER" (naming the residue before it), serial numbers in
    order."""
    c = st.cell
    lines = ["CRYST1%9.3f%9.3f%9.3f%7.2f%7.2f%7.2f %-11s\n" %
             (c.a, c.b, c.c, c.alpha, c.beta, c.gamma, st.spacegroup_hm)]
    serial, last = 0, None
    for record in records:
        serial += 1
        if record == "TER":
            chain, res = last
            lines.append("TER   %5d      %3s %1s%4d\n" % (serial, res.name, chain, res.seqid.num))
            continue
        chain, res, kind = record
        for atom in res:
            element = atom.element.name.upper()
            name = atom.name if len(atom.name) == 4 or len(element) == 2 else " " + atom.name
            lines.append("%-6s%5d %-4s%1s%3s %1s%4d    %8.3f%8.3f%8.3f%6.2f%6.2f          %2s\n" %
                         (kind, serial, name, atom.altloc.strip("\0 "), res.name, chain, res.seqid.num,
                          atom.pos.x, atom.pos.y, atom.pos.z, atom.occ, atom.b_iso, element))
            serial += 1
        serial -= 1
        last = (chain, res)
    return "".join(lines) + "END\n"


def residues(chain, numbers):
    return [r for r in chain if r.het_flag == "A" and r.seqid.num in numbers]


def make_pairs(path, rx2, a):
    first, second = residues(a, range(1, 13)), residues(a, range(13, 23))
    manganese = [r for r in a if r.name == "MN"]
    waters = [r for r in a if r.is_water()][:2]
    st = gemmi.Structure()
    st.cell, st.spacegroup_hm, st.name = rx2.cell, rx2.spacegroup_hm, "PAIRS"
    model = gemmi.Model("1")
    P = gemmi.Position
    for name, parts, shift in (("A", first + manganese, P(0, 0, 0)),
                               ("B", second + waters, P(0, 40, 0)),
                               ("C", first[2:], P(30, 0, 0)), ("D", second[:8], P(30, 40, 0))):
        chain = gemmi.Chain(name)
        for res in parts:
            chain.add_residue(moved(res, shift))
        model.add_chain(chain)
    st.add_model(model)
    # Label ids as the PDB gives them: each chain's polymer, then the
    # ligand, then the waters.
    subchains = {"A": "A", "B": "B", "C": "C", "D": "D", "MN": "E", "HOH": "F"}
    E = gemmi.EntityType
    for chain in st[0]:
        for res in chain:
            polymer = res.het_flag == "A"
            res.subchain = subchains[chain.name if polymer else res.name]
            res.entity_type = E.Polymer if polymer else E.Water if res.is_water() else E.NonPolymer
    for name, kind, parts, longer in (("1", E.Polymer, ["A", "C"], "A"),
                                      ("2", E.Polymer, ["B", "D"], "B"),
                                      ("3", E.NonPolymer, ["E"], None),
                                      ("4", E.Water, ["F"], None)):
        entity = gemmi.Entity(name)
        entity.entity_type, entity.subchains = kind, parts
        if longer:
            entity.polymer_type = gemmi.PolymerType.PeptideL
            entity.full_sequence = [r.name for r in st[0][longer] if r.het_flag == "A"]
        st.entities.append(entity)
    for chain, first_place in (("A", 1), ("B", 1), ("C", 3), ("D", 1)):
        polymer = [r for r in st[0][chain] if r.het_flag == "A"]
        for place, res in enumerate(polymer, first_place):
            res.label_seq = place
    groups = gemmi.MmcifOutputGroups(True)
    groups.group_pdb = True  # the record kinds, which the check's edits turn
    st.make_mmcif_document(groups).write_file(path)


def make_joined(path, rx2, a):
    r = {res.seqid.num: res for res in residues(a, range(1, 7))}
    far = gemmi.Position(30, 0, 0)
    b = {n: moved(res, far) for n, res in r.items()}
    records = ([("A", r[n], "ATOM") for n in (1, 2, 3)] + ["TER"] +
               [("A", r[n], "ATOM") for n in (5, 6)] + [("A", r[4], "HETATM")] +
               [("B", b[n], "ATOM") for n in (1, 2, 3, 5, 6)] + [("B", b[4], "HETATM")])
    with open(path, "w") as f:
        f.write(pdb_text(rx2, records))


def make_free_dna(path, rx2, a):
    dna = source_chain("real_dna.pdb")[1]
    first, second, third = (next(r for r in dna if r.seqid.num == n) for n in (1, 2, 3))
    records = [("A", residues(a, [10])[0], "ATOM"), "TER", ("A", first, "ATOM"),
               ("A", second, "ATOM"), ("A", moved(third, gemmi.Position(10, 0, 0)), "HETATM")]
    with open(path, "w") as f:
        f.write(pdb_text(rx2, records))


def make_gaps(path, rx2, a):
    manganese = next(r for r in a if r.name == "MN")
    records = ([("A", res, "ATOM") for res in residues(a, range(1, 6))] + ["TER"] +
               [("B", manganese, "HETATM")] +
               [("C", res, "ATOM") for res in residues(a, (20, 21, 22, 25, 28, 29, 30))] + ["TER"])
    with open(path, "w") as f:
        f.write(pdb_text(rx2, records))


def make_far(path, rx2, a):
    domain = residues(a, range(55, 65))
    source = residues(a, [100])[0]
    inhibitor = gemmi.Residue()
    inhibitor.name, inhibitor.seqid = "ZPI", gemmi.SeqId(1, " ")
    for atom in source:
        if atom.name in ("N", "CA", "C", "O", "CB"):
            inhibitor.add_atom(atom)
    # Away from the last residue's CA, along the line from the domain's
    # first CA, until the nearest atoms are 27 A apart.
    start, end = domain[0]["CA"][0].pos, domain[-1]["CA"][0].pos
    away = (end - start) * (1.0 / (end - start).length())
    place = end + away * 30.0 - inhibitor["CA"][0].pos
    inhibitor = moved(inhibitor, place)
    records = [("A", res, "ATOM") for res in domain] + [("A", inhibitor, "HETATM"), "TER"]
    with open(path, "w") as f:
        f.write(pdb_text(rx2, records))


def make_all(directory):
    rx2, a = source_chain("ref_1rx2.pdb")
    for name, make in (("shape_pairs.cif", make_pairs), ("shape_joined.pdb", make_joined),
                       ("shape_free_dna.pdb", make_free_dna), ("shape_gaps.pdb", make_gaps),
                       ("shape_far.pdb", make_far)):
        make(os.path.join(directory, name), rx2, a)


if __name__ == "__main__":
    fixture_files.main(make_all)
