#!/usr/bin/python3
"""Fixtures for the model selection tests (tests/data/select_cases.txt).

Selections, unions and intersections are worked out here with plain loops
over the models as gemmi reads them, independently of the library, and each
result is described by a one-line summary that the tests recompute.

Path rules: up to three fields split at "/" (runs of "/" count as one,
empty fields vanish), padded with "*" to the level's depth; a field is "*"
or a comma list; items are taken as written, blanks included (a padded
4-character atom name tells calcium "CA  " from the alpha carbon " CA "), atom items
padded to the 4-character PDB form, residue items reduced to their leading
integer (plus any ":" suffix); every child matching an item is taken, once
per item. Ids match whole, or on their first 4 characters in base mode
(chain ids always whole).

Also writes tests/data/sel_two_chains.pdb from tiny_5e5z_variant.pdb (made by
tools/make_model_fixtures.py): chain A as it is, and chain B, a copy of
residues 1B to 6 moved 10 A along x, with residue 5 renamed DSN and without
its O atom, so that chains share residue ids but not all atoms.

Fixture rows (tab-separated), one per case:
  kind file mode arg1 arg2 | chains monomers atoms monomer_sum atom_sum coord_sum
kind is model, polymer, monomer (select at that level; arg1 is the path at
model level, the chain or chain/residue otherwise, arg2 the path) or union,
inter (model level: select arg1 and arg2, then | or &), union_chain,
inter_chain (the whole chains arg1 and arg2), union_residue, inter_residue
(the residues chain/residue arg1 and arg2). Results of lower levels are
wrapped in a model (a monomer in a chain with id "-"). chains is the
comma-joined chain ids of the result ("-" for none); monomer_sum is
sum_j (j+1) h(id "|" type) over its monomers in order and atom_sum
sum_k (k+1) h(id) over its atoms in order, with h(s) = sum_i (i+1) ord(s[i]);
coord_sum is sum_k (k+1) (x + 2y + 3z).

Run with /usr/bin/python3 from the repository root:
  /usr/bin/python3 tools/make_select_fixtures.py
"""
import os
import re

import gemmi

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
DATA = os.path.join(ROOT, "tests", "data")
WHITE = " \t\n\v\f\r"


# --- the model as plain lists --------------------------------------------

class Node:
    def __init__(self, id_, type_="", xyz=None):
        self.id, self.type, self.xyz, self.children = id_, type_, xyz, []

    def shell(self):
        return Node(self.id, self.type, self.xyz)


def atom_id(atom):
    name = atom.padded_name().ljust(4)
    return name + (":" + atom.altloc if atom.altloc != "\0" else "")


def residue_id(res):
    icode = res.seqid.icode.strip()
    return "%4d" % res.seqid.num + (":" + icode if icode else "")


def load(name):
    model = gemmi.read_structure(os.path.join(DATA, name))[0]
    top = Node("")
    for chain in model:
        c = Node(chain.name)
        for res in chain:
            r = Node(residue_id(res), res.name)
            for a in res:
                r.children.append(Node(atom_id(a), xyz=(a.pos.x, a.pos.y, a.pos.z)))
            c.children.append(r)
        top.children.append(c)
    return top


# --- paths ---------------------------------------------------------------

def split(text, sep):
    return [w for w in re.split("[" + re.escape(sep) + "]+", text) if w]


def tidy_atom(item):
    name, colon, suffix = item.partition(":")
    if len(name) < 4:
        name += "   "
        if "a" <= name[1] <= "z":
            name = name[0] + name[1].upper() + name[2:]
        else:
            name = " " + name
    return name[:4] + colon + suffix


def tidy_residue(item):
    m = re.match(r"[ \t\n\v\f\r]*([+-]?\d+)", item)
    number = int(m.group(1)) if m else 0
    colon = item.find(":")
    return "%4d" % number + (item[colon:] if colon >= 0 else "")


def matches(id1, id2, mode, whole):
    return id1 == id2 if whole or mode == 0 else id1[:4] == id2[:4]


def chosen(children, field, mode, level):
    """Children selected by one field, in item order, once per item."""
    if field.strip(WHITE) == "*":
        return list(children)
    out = []
    for item in split(field, ","):
        target = {"atom": tidy_atom, "residue": tidy_residue, "chain": str}[level](item)
        out += [c for c in children if matches(c.id, target, mode, level == "chain")]
    return out


def fields(path, depth):
    f = split(path, "/")
    return f + ["*"] * (depth - len(f))


def select_residue(res, path, mode):
    out = res.shell()
    out.children = list(chosen(res.children, fields(path, 1)[0], mode, "atom"))
    return out


def select_chain(chain, path, mode):
    f = fields(path, 2)
    out = chain.shell()
    out.children = [select_residue(r, f[1], mode) for r in chosen(chain.children, f[0], mode, "residue")]
    return out


def select_model(model, path, mode):
    f = fields(path, 3)
    out = model.shell()
    out.children = [select_chain(c, f[1] + "/" + f[2], mode)
                    for c in chosen(model.children, f[0], mode, "chain")]
    return out


# --- union and intersection, children matched by whole id -----------------

def union(a, b, depth):
    out = a.shell()
    for c in a.children + b.children:
        kept = next((k for k in range(len(out.children)) if out.children[k].id == c.id), None)
        if kept is None:
            out.children.append(c)
        elif depth > 1:
            out.children[kept] = union(out.children[kept], c, depth - 1)
    return out


def inter(a, b, depth):
    out = a.shell()
    for c in a.children:
        other = next((o for o in b.children if o.id == c.id), None)
        if other is not None:
            out.children.append(c if depth == 1 else inter(c, other, depth - 1))
    return out


# --- summaries -------------------------------------------------------------

def h(text):
    return sum((i + 1) * ord(ch) for i, ch in enumerate(text))


def summary(model):
    residues = [r for c in model.children for r in c.children]
    atoms = [a for r in residues for a in r.children]
    return [",".join(c.id for c in model.children) or "-",
            str(len(residues)), str(len(atoms)),
            str(sum((j + 1) * h(r.id + "|" + r.type) for j, r in enumerate(residues))),
            str(sum((k + 1) * h(a.id) for k, a in enumerate(atoms))),
            "%.6f" % sum((k + 1) * (a.xyz[0] + 2 * a.xyz[1] + 3 * a.xyz[2])
                         for k, a in enumerate(atoms))]


def in_model(chain):
    top = Node("")
    top.children = [chain]
    return top


def in_chain(residue):
    chain = Node("-")
    chain.children = [residue]
    return chain


def find(model, where):
    chain_id, _, residue = where.partition("/")
    chain = next(c for c in model.children if c.id == chain_id)
    if not residue:
        return chain
    return next(r for r in chain.children if r.id == tidy_residue(residue))


def run(kind, model, mode, arg1, arg2):
    if kind == "model":
        return select_model(model, arg1, mode)
    if kind == "polymer":
        return in_model(select_chain(find(model, arg1), arg2, mode))
    if kind == "monomer":
        return in_model(in_chain(select_residue(find(model, arg1), arg2, mode)))
    if kind in ("union", "inter"):
        op = union if kind == "union" else inter
        return op(select_model(model, arg1, mode), select_model(model, arg2, mode), 3)
    if kind in ("union_chain", "inter_chain"):
        op = union if kind == "union_chain" else inter
        return in_model(op(find(model, arg1), find(model, arg2), 2))
    if kind in ("union_residue", "inter_residue"):
        op = union if kind == "union_residue" else inter
        return in_model(in_chain(op(find(model, arg1), find(model, arg2), 1)))
    raise ValueError(kind)


# --- the cases -------------------------------------------------------------

def first_altloc_residue(model):
    for c in model.children:
        for r in c.children:
            if any(":" in a.id for a in r.children) and any(a.id == " CA :A" for a in r.children):
                return c.id + "/" + r.id.strip()
    raise ValueError("no residue with alternate main-chain atoms")


def cases(models):
    big = "wrk_7mm1.pdb"
    two = "sel_two_chains.pdb"
    alt = first_altloc_residue(models[big])
    rows = []
    for mode in (0, 1):
        rows += [("model", big, mode, p, "-") for p in (
            "", "A", "A,A", "B", "*/*/CA", "*/*/CA:A", "/A/ 10, 20 ,30/", "A/12-20/*",
            "*/5,7,9/CA, N", "*/5,7,9/CA,N", "*/*/CA,CA", "A/100,50,100/N,CA,C,O",
            "*/*/*/extra", "*/*/OG", "  *  /  *  /CB", "A/200/ CA ,CB ,  C ",
            "A/200/CA,  CB")]
        rows += [("model", two, mode, p, "-") for p in (
            "*/*/CA  ", "*/*/ CA ", "*/*/CA", "*/*/ZN  ", "*/*/Zn", "*/*/CA  ,ZN  ")]
        rows += [("polymer", big, mode, "A", p) for p in ("10,20/CA", "", "*/N,CA", "290,298/*/junk")]
        rows += [("monomer", big, mode, alt, p) for p in ("CA", "*", "CA:A,CA:B", "N, CA, C", "CA:B")]
        rows += [("union", big, mode, "*/*/CA,CB", "*/10,20,30,40/CB,N"),
                 ("inter", big, mode, "*/*/CA,CB", "*/10,20,30,40/CB,N"),
                 ("union", big, mode, "A/1,2,3", "A/3,4"),
                 ("inter", big, mode, "A/3,4,3", "A/4,3/CA,N"),
                 ("union", big, mode, "A,A", "A/1"),
                 ("inter", big, mode, "A", "B"),
                 ("union", big, mode, "B", "A/5,6")]
        rows += [("model", "sm_1dur.pdb", mode, p, "-") for p in (
            "*/56/FE1 ", "*/56/Fe1", "*/56/FE1", "*/56/S1,FE1 ,FE2 ", "*/*/FE1 ", "*/*/SG")]
        two = "sel_two_chains.pdb"
        rows += [("model", two, mode, p, "-") for p in (
            "A, B", "B,A", "*/1/*", "*/1:A", "*/1:B,1", "B/4/OG", "*/4/OG:B", "*/5")]
        rows += [("union", two, mode, "A/4,5", "B/5,6"),
                 ("inter", two, mode, "*/4,5,6", "B/*/N,CA")]
    two = "sel_two_chains.pdb"
    rows += [("union_chain", two, 0, "A", "B"), ("union_chain", two, 0, "B", "A"),
             ("inter_chain", two, 0, "A", "B"), ("inter_chain", two, 0, "B", "A"),
             ("union_residue", two, 0, "A/5", "B/5"), ("union_residue", two, 0, "B/5", "A/5"),
             ("inter_residue", two, 0, "A/5", "B/5"), ("inter_residue", two, 0, "B/4", "A/4")]
    return rows


def make_two_chains():
    st = gemmi.read_structure(os.path.join(DATA, "tiny_5e5z_variant.pdb"))
    model = st[0]
    b = model["A"].clone()
    b.name = "B"
    while b[0].seqid.icode != "B":
        del b[0]
    while b[len(b) - 1].name == "HOH":
        del b[len(b) - 1]
    for res in b:
        for a in res:
            a.pos = gemmi.Position(a.pos.x + 10.0, a.pos.y, a.pos.z)
        if res.seqid.num == 5:
            res.name = "DSN"
            res.remove_atom("O", "*")
    # Calcium and zinc ions, whose PDB names "CA  " and "ZN  " differ from
    # the alpha carbon " CA " only by where the blanks are.
    for number, name in ((101, "CA"), (102, "ZN")):
        ion = gemmi.Residue()
        ion.name, ion.het_flag, ion.seqid = name, "H", gemmi.SeqId(number, " ")
        atom = gemmi.Atom()
        atom.name, atom.element = name, gemmi.Element(name)
        atom.pos, atom.occ, atom.b_iso = gemmi.Position(1.0, 2.0, number / 10.0), 1.0, 20.0
        ion.add_atom(atom)
        b.add_residue(ion)
    model.add_chain(b)
    st.setup_entities()
    st.write_pdb(os.path.join(DATA, "sel_two_chains.pdb"))


def main():
    make_two_chains()
    models = {name: load(name) for name in ("wrk_7mm1.pdb", "sm_1dur.pdb", "sel_two_chains.pdb")}
    assert [c.id for c in models["sel_two_chains.pdb"].children] == ["A", "B"]
    lines = []
    for kind, name, mode, arg1, arg2 in cases(models):
        result = summary(run(kind, models[name], mode, arg1, arg2))
        lines.append("\t".join([kind, name, str(mode), arg1, arg2] + result))
    with open(os.path.join(DATA, "select_cases.txt"), "w") as f:
        f.write("# Generated by tools/make_select_fixtures.py (gemmi %s); do not edit.\n"
                % gemmi.__version__)
        f.write("\n".join(lines) + "\n")
    print("select_cases.txt: %d cases" % len(lines))


if __name__ == "__main__":
    main()
