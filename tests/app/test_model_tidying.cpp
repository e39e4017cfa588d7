// Model tidying: symmetry gathering of a real model, residue types copied
// across symmetry, chains placed in and numbered from their sequences, and
// chains split at breaks and renamed.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "app/protein_tools.h"
#include "calculated_density.h"
#include "support/testing.h"

using quelvarn_testing::read_model;
using vantrel::Cell;
using vantrel::Cell_descr;
using vantrel::Coord_frac;
using vantrel::Coord_orth;
using vantrel::MAtom;
using vantrel::MiniMol;
using vantrel::MM;
using vantrel::MMoleculeSequence;
using vantrel::MMonomer;
using vantrel::MPolymer;
using vantrel::Spacegroup;
using vantrel::String;

namespace {

MAtom atom(const char* name, const Coord_orth& x) {
  vantrel::Atom a;
  a.set_element(String(name).substr(1, 1));
  a.set_coord_orth(x);
  a.set_occupancy(1.0);
  a.set_u_iso(0.2);
  MAtom m(a);
  m.set_id(name);
  return m;
}

// A residue at x0 along x: N, CA and C 1.2 A apart, so that the next
// residue's N (3.8 A on) lies 1.4 A from this C. Without c, no C atom.
MMonomer residue(const char* type, double x0, bool c = true) {
  MMonomer m;
  m.set_type(type);
  m.insert(atom(" N  ", Coord_orth(x0, 0.0, 0.0)), -1);
  m.insert(atom(" CA ", Coord_orth(x0 + 1.2, 0.0, 0.0)), -1);
  if (c) m.insert(atom(" C  ", Coord_orth(x0 + 2.4, 0.0, 0.0)), -1);
  return m;
}

// A chain of n residues; residue `broken` (0-based, -1 for none) lacks C.
MPolymer chain(int n, int broken, const char* id = "Q") {
  MPolymer p;
  p.set_id(id);
  for (int r = 0; r < n; ++r) p.insert(residue("ALA", 3.8 * r, r != broken), -1);
  return p;
}

struct Fragment {
  int polymer, first, last;
};

// The fragments of a model, from its peptide bonds.
std::vector<Fragment> fragments(const MiniMol& mol) {
  std::vector<Fragment> out;
  for (int p = 0; p < mol.size(); ++p)
    for (int r = 0, first = 0; r < mol[p].size(); ++r)
      if (r + 1 == mol[p].size() ||
          !MMonomer::protein_peptide_bond(mol[p][r], mol[p][r + 1], 1.5)) {
        out.push_back(Fragment{p, first, r + 1});
        first = r + 1;
      }
  return out;
}

Coord_orth mean_position(const vantrel::Atom_list& atoms) {
  Coord_orth sum(0.0, 0.0, 0.0);
  for (const vantrel::Atom& a : atoms) sum = Coord_orth(sum + a.coord_orth());
  return Coord_orth((1.0 / atoms.size()) * sum);
}

Coord_orth centroid(const MiniMol& mol, const Fragment& f) {
  vantrel::Atom_list atoms;
  for (int r = f.first; r < f.last; ++r) {
    const vantrel::Atom_list more = mol[f.polymer][r].atom_list();
    atoms.insert(atoms.end(), more.begin(), more.end());
  }
  return mean_position(atoms);
}

}  // namespace

TEST(Globularise, ScatteredFragmentsOf7MM1ComeBackToTheirNearestImages) {
  const MiniMol original = read_model("wrk_7mm1.pdb");
  const Spacegroup& sg = original.spacegroup();
  const Cell& cell = original.cell();
  ASSERT_EQ(sg.op_count(), 6);
  const Coord_frac centre = mean_position(original.atom_list()).coord_frac(cell);

  // Every fragment (chain pieces and waters) by its own operator and shift.
  const std::vector<Fragment> frags = fragments(original);
  ASSERT_GT(frags.size(), 150u);
  MiniMol scattered = original;
  for (std::size_t k = 0; k < frags.size(); ++k) {
    const vantrel::RTop_frac op = sg.symop(int(k % 6));
    const Coord_frac shift(double(k % 3) - 1.0, double((k / 3) % 3) - 1.0, double(k % 5) - 2.0);
    for (int r = frags[k].first; r < frags[k].last; ++r) {
      MMonomer& m = scattered[frags[k].polymer][r];
      for (int a = 0; a < m.size(); ++a)
        m[a].set_coord_orth(
            Coord_frac(op * m[a].coord_orth().coord_frac(cell) + shift).coord_orth(cell));
    }
  }
  MiniMol gathered = scattered, direct = original;
  EXPECT_TRUE(ProteinTools::globularise(gathered, centre));
  EXPECT_TRUE(ProteinTools::globularise(direct, centre));

  // Each centroid is its nearest image (all operators, shifts -2 to 2), and
  // the scattered and the original model gather to the same place.
  for (const Fragment& f : frags) {
    const Coord_frac c = centroid(gathered, f).coord_frac(cell);
    double nearest = 1e30;
    for (int k = 0; k < sg.op_count(); ++k)
      for (int i = -2; i <= 2; ++i)
        for (int j = -2; j <= 2; ++j)
          for (int l = -2; l <= 2; ++l) {
            const Coord_frac image(sg.symop(k) * c + Coord_frac(i, j, l));
            nearest = std::min(nearest, Coord_frac(image - centre).lengthsq(cell));
          }
    EXPECT_LE(Coord_frac(c - centre).lengthsq(cell), nearest + 1e-6);
  }
  const vantrel::Atom_list moved = gathered.atom_list(), expected = direct.atom_list();
  ASSERT_EQ(moved.size(), original.atom_list().size());
  for (std::size_t a = 0; a < moved.size(); ++a)
    EXPECT_LT(Coord_orth::length(moved[a].coord_orth(), expected[a].coord_orth()), 1e-6);

  // Three passes about the model's own centroid gather the scattered model
  // about as tightly as the deposited one (widest fragment centroid).
  MiniMol self = scattered;
  EXPECT_TRUE(ProteinTools::globularise(self));
  auto spread = [&](const MiniMol& m) {
    const Coord_orth mean = mean_position(m.atom_list());
    double widest = 0.0;
    for (const Fragment& f : frags)
      widest = std::max(widest, Coord_orth::length(centroid(m, f), mean));
    return widest;
  };
  EXPECT_LT(spread(self), spread(direct) + 10.0);
  EXPECT_GT(spread(scattered), spread(direct) + 50.0);
}

TEST(Globularise, HandMadeFragmentsAndGroupsWithoutOperators) {
  const Cell cell(Cell_descr(10.0, 10.0, 10.0, 90.0, 90.0, 90.0));
  // A null spacegroup acts as P1: lattice shifts only. Two fragments of one
  // chain (residue 1 lacks C) move apart by different shifts.
  MiniMol mol(Spacegroup(), cell);
  MPolymer p = chain(4, 1);
  mol.insert(p, -1);
  EXPECT_TRUE(ProteinTools::globularise(mol, Coord_frac(0.05, 0.05, 0.05)));
  // Fragment 0-1 (centroid x 2.48) stays, fragment 2-3 (x 10.7) goes back 10.
  EXPECT_NEAR(mol[0][0][0].coord_orth().x(), 0.0, 1e-9);
  EXPECT_NEAR(mol[0][2][0].coord_orth().x(), 7.6 - 10.0, 1e-9);
  EXPECT_NEAR(mol[0][3][2].coord_orth().x(), 11.4 + 2.4 - 10.0, 1e-9);

  // A model without atoms stays as it is; atoms without a cell are refused.
  MiniMol empty(Spacegroup(Spacegroup::P1), cell);
  empty.insert(MPolymer(), -1);
  EXPECT_TRUE(ProteinTools::globularise(empty));
  EXPECT_EQ(empty.size(), 1);
  MiniMol no_cell;
  no_cell.insert(p, -1);
  EXPECT_NE(vantrel_testing::fatal_text([&] { ProteinTools::globularise(no_cell); }), "no error");
}

TEST(CopyResidueTypes, SameSiteUnderSymmetry) {
  // P 21 21 21: operator 1 takes (x, y, z) to (-x + 1/2, -y, z + 1/2).
  const Cell cell(Cell_descr(20.0, 30.0, 40.0, 90.0, 90.0, 90.0));
  const Spacegroup sg(vantrel::Spgr_descr("P 21 21 21"));
  auto single = [](const char* type, const Coord_orth& ca, bool has_ca = true) {
    MMonomer m;
    m.set_type(type);
    m.insert(atom(has_ca ? " CA " : " CB ", ca), -1);
    return m;
  };
  const Coord_orth site(3.0, 4.0, 5.0);
  const Coord_orth mate(10.0 - 3.0, -4.0 + 30.0, 5.0 + 20.0 - 40.0);  // with a lattice shift
  MiniMol ref(sg, cell);
  MPolymer refp;
  refp.insert(single("UNK", site), -1);         // never a source
  refp.insert(single("TRP", site, false), -1);  // no CA: never a source
  refp.insert(single("SER", site), -1);         // the first source
  refp.insert(single("GLY", site), -1);         // later: never used
  refp.insert(single("LYS", Coord_orth(15.0, 15.0, 15.0)), -1);
  ref.insert(refp, -1);

  MiniMol mol(sg, cell);
  MPolymer p;
  p.insert(single("UNK", Coord_orth(mate.x() + 0.3, mate.y() + 0.4, mate.z())), -1);  // 0.5 A
  p.insert(single("UNK", Coord_orth(mate.x() + 1.0, mate.y(), mate.z())), -1);        // 1.0 A
  p.insert(single("unk", mate), -1);
  p.insert(single("UNK", mate, false), -1);
  p.insert(single("ALA", mate), -1);
  p.insert(single("UNK", site), -1);
  mol.insert(p, -1);
  EXPECT_TRUE(ProteinTools::copy_residue_types(mol, ref));
  const char* expected[] = {"SER", "UNK", "unk", "UNK", "ALA", "SER"};
  for (int r = 0; r < 6; ++r) EXPECT_EQ(mol[0][r].type(), expected[r]) << r;
  MiniMol no_cell;
  no_cell.insert(p, -1);
  EXPECT_NE(vantrel_testing::fatal_text([&] { ProteinTools::copy_residue_types(no_cell, ref); }),
            "no error");
}

TEST(ChainSequence, MatchAndRenumber) {
  auto seqs = [](std::vector<const char*> texts) {
    MMoleculeSequence s;
    for (const char* t : texts) {
      vantrel::MPolymerSequence r;
      r.set_sequence(t);
      s.insert(r, -1);
    }
    return s;
  };
  using Match = std::pair<int, int>;
  // 12 upper-case letters need 9 identities (threshold 8).
  const String twelve = "ACDEFGHIKLMN";
  EXPECT_EQ(ProteinTools::chain_sequence_match(twelve, seqs({"WWACDEFGHIWWWW"})), Match(-1, -1));
  EXPECT_EQ(ProteinTools::chain_sequence_match(twelve, seqs({"WWACDEFGHIKWWW"})), Match(0, 2));
  // Cleaning drops lower case, blanks, digits, "X", "*"; the offset counts
  // cleaned letters. The best placement wins; earlier records win ties.
  EXPECT_EQ(ProteinTools::chain_sequence_match(
                twelve, seqs({"PPACDEFGHIKLPP", "w x1*ACDEFGHIKLMN", "ACDEFGHIKLMN"})),
            Match(1, 0));
  // "?" never matches but keeps its place; a chain that starts before the
  // sequence gets a negative offset.
  EXPECT_EQ(ProteinTools::chain_sequence_match("WW?DEFGHIKLMNP", seqs({"CDEFGHIKLMNPQ"})),
            Match(0, -2));
  EXPECT_EQ(ProteinTools::chain_sequence_match("ACDEFG", seqs({"ACDEFG"})), Match(-1, -1));
  EXPECT_EQ(ProteinTools::chain_sequence_match(twelve, MMoleculeSequence()), Match(-1, -1));

  MPolymer p;
  const char* types[] = {"TRP", "TRP", "UNK", "ASP", "GLU", "PHE", "GLY",
                         "HIS", "ILE", "LYS", "LEU", "MET", "ASN", "PRO"};
  for (const char* t : types) p.insert(residue(t, 0.0), -1);
  MPolymer unmatched = p;
  EXPECT_TRUE(ProteinTools::chain_renumber(p, seqs({"CDEFGHIKLMNPQ"})));
  for (int r = 0; r < p.size(); ++r) EXPECT_EQ(p[r].id(), MMonomer::id_tidy(String(r - 1))) << r;
  EXPECT_EQ(p[0].id(), "  -1");
  for (int r = 0; r < unmatched.size(); ++r) unmatched[r].set_id("7:B");
  EXPECT_FALSE(ProteinTools::chain_renumber(unmatched, seqs({"YYYYYYYYYYYY"})));
  EXPECT_EQ(unmatched[5].id(), "   7:B");
}

TEST(ChainTidy, SplitsSortsAndNames) {
  const Cell cell(Cell_descr(50.0, 60.0, 70.0, 90.0, 90.0, 90.0));
  const Spacegroup sg(vantrel::Spgr_descr("P 21 21 21"));
  MiniMol src(sg, cell);
  src.insert(chain(30, 9), -1);  // broken after its 10th residue
  MiniMol out;
  EXPECT_TRUE(ProteinTools::chain_tidy(out, src));
  ASSERT_EQ(out.size(), 2);
  EXPECT_EQ(out[0].id(), "A");
  EXPECT_EQ(out[1].id(), "B");
  ASSERT_EQ(out[0].size(), 20);
  ASSERT_EQ(out[1].size(), 10);
  EXPECT_DOUBLE_EQ(out[0][0][0].coord_orth().x(), 3.8 * 10);  // source residue 11
  EXPECT_EQ(out[0][0].id(), "   1");
  EXPECT_EQ(out[0][19].id(), "  20");
  EXPECT_EQ(out[1][9].id(), "  10");
  EXPECT_EQ(out.spacegroup().symbol_hall(), sg.symbol_hall());

  // 58 fragments: one of 3 residues, then 57 single ones in source order
  // (37 GLY, then 20 SER); the empty polymer between them gives none.
  MiniMol many(sg, cell);
  MPolymer first = chain(3, -1);
  for (int r = 0; r < 37; ++r) first.insert(residue("GLY", 100.0 + 10.0 * r), -1);
  many.insert(first, -1);
  many.insert(MPolymer(), -1);
  MPolymer singles;
  for (int r = 0; r < 20; ++r) singles.insert(residue("SER", 10.0 * r, false), -1);
  many.insert(singles, -1);
  ProteinTools::chain_tidy(out, many);
  ASSERT_EQ(out.size(), 1 + 37 + 20);
  EXPECT_EQ(out[0].size(), 3);
  EXPECT_EQ(out[0].id(), "A");
  EXPECT_EQ(out[25].id(), "Z");
  EXPECT_EQ(out[26].id(), "a");
  EXPECT_EQ(out[26][0].id(), "   1");
  EXPECT_EQ(out[51].id(), "z");
  EXPECT_EQ(out[52].id(), "a");
  EXPECT_EQ(out[52][0].id(), "1001");
  EXPECT_EQ(out[57].id(), "f");
  EXPECT_EQ(out[57][0].type(), "SER");
  EXPECT_EQ(out[37][0].type(), "GLY");
  EXPECT_EQ(out[38][0].type(), "SER");

  // A source without polymers gives an empty model on its crystal; the
  // result may also be the source itself.
  ProteinTools::chain_tidy(out, MiniMol(sg, cell));
  EXPECT_EQ(out.size(), 0);
  EXPECT_FALSE(out.is_null());
  ProteinTools::chain_tidy(src, src);
  ASSERT_EQ(src.size(), 2);
  EXPECT_EQ(src[0].size(), 20);
}
