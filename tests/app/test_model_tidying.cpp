// Model tidying: symmetry gathering, residue types copied across symmetry,
// chains matched to and numbered from sequences, split and renamed.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "app/protein_tools.h"
#include "calculated_density.h"
#include "support/testing.h"

using namespace vantrel;
using quelvarn_testing::read_model;

namespace {

MAtom atom(const char* name, const Coord_orth& x) {
  Atom a;
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

// A chain of n alanines; residue `broken` (0-based, -1 for none) lacks C.
MPolymer chain(int n, int broken) {
  MPolymer p;
  for (int r = 0; r < n; ++r) p.insert(residue("ALA", 3.8 * r, r != broken), -1);
  return p;
}

struct Fragment {
  int polymer, first, last;  // residues first to last - 1 of a polymer
};

Coord_orth mean_position(const Atom_list& atoms) {
  Coord_orth sum(0.0, 0.0, 0.0);
  for (const Atom& a : atoms) sum = Coord_orth(sum + a.coord_orth());
  return Coord_orth((1.0 / atoms.size()) * sum);
}

Coord_orth centroid(const MiniMol& mol, const Fragment& f) {
  Atom_list atoms;
  for (int r = f.first; r < f.last; ++r) {
    const Atom_list more = mol[f.polymer][r].atom_list();
    atoms.insert(atoms.end(), more.begin(), more.end());
  }
  return mean_position(atoms);
}

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

}  // namespace

TEST(Globularise, ScatteredFragmentsOf7MM1ComeBackToTheirNearestImages) {
  const MiniMol original = read_model("wrk_7mm1.pdb");
  const Spacegroup& sg = original.spacegroup();
  const Cell& cell = original.cell();
  ASSERT_EQ(sg.op_count(), 6);
  const Coord_frac centre = mean_position(original.atom_list()).coord_frac(cell);
  const std::vector<Fragment> frags = fragments(original);
  ASSERT_GT(frags.size(), 150u);

  // Every fragment (chain pieces and waters) by its own operator and shift.
  MiniMol scattered = original;
  for (std::size_t k = 0; k < frags.size(); ++k) {
    const RTop_frac op = sg.symop(int(k % 6));
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

  // Each centroid is its nearest image; scattered and original gather alike.
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
  const Atom_list moved = gathered.atom_list(), expected = direct.atom_list();
  ASSERT_EQ(moved.size(), original.atom_list().size());
  for (std::size_t a = 0; a < moved.size(); ++a)
    EXPECT_LT(Coord_orth::length(moved[a].coord_orth(), expected[a].coord_orth()), 1e-6);
}

TEST(Globularise, HandMadeFragmentsAndGroupsWithoutOperators) {
  const Cell cell(Cell_descr(10.0, 10.0, 10.0, 90.0, 90.0, 90.0));
  // A null spacegroup acts as P1. Fragment 0-1 (centroid x 2.48) stays, 2-3
  // (x 10.7) goes back 10 A.
  MiniMol mol(Spacegroup(), cell);
  const MPolymer p = chain(4, 1);
  mol.insert(p, -1);
  EXPECT_TRUE(ProteinTools::globularise(mol, Coord_frac(0.05, 0.05, 0.05)));
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
  const Spacegroup sg(Spgr_descr("P 21 21 21"));
  auto single = [](const char* type, const Coord_orth& ca, bool has_ca = true) {
    MMonomer m;
    m.set_type(type);
    m.insert(atom(has_ca ? " CA " : " CB ", ca), -1);
    return m;
  };
  const Coord_orth site(3.0, 4.0, 5.0);
  const Coord_orth mate(10.0 - 3.0, -4.0 + 30.0, 5.0 + 20.0 - 40.0);  // with a lattice shift
  MiniMol ref(sg, cell), mol(sg, cell);
  MPolymer refp, p;
  refp.insert(single("UNK", site), -1);         // never a source
  refp.insert(single("TRP", site, false), -1);  // no CA: never a source
  refp.insert(single("SER", site), -1);         // the first source
  refp.insert(single("GLY", site), -1);         // later: never used
  refp.insert(single("LYS", Coord_orth(15.0, 15.0, 15.0)), -1);
  ref.insert(refp, -1);
  // Within 0.5 A of the site's image only an UNK with a CA takes the type.
  const std::vector<std::pair<MMonomer, const char*>> cases = {
      {single("UNK", Coord_orth(mate.x() + 0.3, mate.y() + 0.4, mate.z())), "SER"},
      {single("UNK", Coord_orth(mate.x() + 1.0, mate.y(), mate.z())), "UNK"},
      {single("unk", mate), "unk"},
      {single("UNK", mate, false), "UNK"},
      {single("ALA", mate), "ALA"},
      {single("UNK", site), "SER"}};
  for (const auto& c : cases) p.insert(c.first, -1);
  mol.insert(p, -1);
  EXPECT_TRUE(ProteinTools::copy_residue_types(mol, ref));
  for (int r = 0; r < 6; ++r) EXPECT_EQ(mol[0][r].type(), cases[r].second) << r;
  MiniMol no_cell;
  no_cell.insert(p, -1);
  EXPECT_NE(vantrel_testing::fatal_text([&] { ProteinTools::copy_residue_types(no_cell, ref); }),
            "no error");
}

TEST(ChainSequence, MatchAndRenumber) {
  auto seqs = [](std::vector<const char*> texts) {
    MMoleculeSequence s;
    for (const char* t : texts) {
      MPolymerSequence r;
      r.set_sequence(t);
      s.insert(r, -1);
    }
    return s;
  };
  // Chain, sequences, match (record, offset; -1, -1 for none). Twelve letters
  // need 9 identities; sequences are cleaned; earlier records win ties; "?"
  // never matches; a chain starting before its sequence has offset < 0.
  const String twelve = "ACDEFGHIKLMN";
  const std::vector<std::tuple<String, MMoleculeSequence, std::pair<int, int>>> cases = {
      {twelve, seqs({"WWACDEFGHIWWWW"}), {-1, -1}},
      {twelve, seqs({"WWACDEFGHIKWWW"}), {0, 2}},
      {twelve, seqs({"PPACDEFGHIKLPP", "w x1*ACDEFGHIKLMN", "ACDEFGHIKLMN"}), {1, 0}},
      {"WW?DEFGHIKLMNP", seqs({"CDEFGHIKLMNPQ"}), {0, -2}},
      {"ACDEFG", seqs({"ACDEFG"}), {-1, -1}},
      {twelve, MMoleculeSequence(), {-1, -1}}};
  for (const auto& c : cases)
    EXPECT_EQ(ProteinTools::chain_sequence_match(std::get<0>(c), std::get<1>(c)), std::get<2>(c))
        << std::get<0>(c);

  MPolymer p;
  for (const char* t : {"TRP", "TRP", "UNK", "ASP", "GLU", "PHE", "GLY", "HIS", "ILE", "LYS", "LEU",
                        "MET", "ASN", "PRO"})
    p.insert(residue(t, 0.0), -1);
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
  const Spacegroup sg(Spgr_descr("P 21 21 21"));
  MiniMol src(sg, cell), out;
  src.insert(chain(30, 9), -1);  // broken after its 10th residue
  EXPECT_TRUE(ProteinTools::chain_tidy(out, src));
  ASSERT_EQ(out.size(), 2);
  ASSERT_EQ(out[0].size(), 20);
  ASSERT_EQ(out[1].size(), 10);
  EXPECT_DOUBLE_EQ(out[0][0][0].coord_orth().x(), 3.8 * 10);  // source residue 11
  EXPECT_EQ(out.spacegroup().symbol_hall(), sg.symbol_hall());
  EXPECT_EQ(out[0].id() + out[1].id(), "AB");
  EXPECT_EQ(out[0][0].id() + out[0][19].id() + out[1][9].id(), "   1  20  10");

  // 58 fragments (3 residues, 37 GLY, 20 SER; the empty polymer gives none):
  // ids A-Z, a-z, then a-z again numbered from 1001.
  MiniMol many(sg, cell);
  MPolymer first = chain(3, -1), singles;
  for (int r = 0; r < 37; ++r) first.insert(residue("GLY", 100.0 + 10.0 * r), -1);
  for (int r = 0; r < 20; ++r) singles.insert(residue("SER", 10.0 * r, false), -1);
  many.insert(first, -1);
  many.insert(MPolymer(), -1);
  many.insert(singles, -1);
  ProteinTools::chain_tidy(out, many);
  ASSERT_EQ(out.size(), 1 + 37 + 20);
  EXPECT_EQ(out[0].size(), 3);
  const std::vector<std::tuple<int, const char*, const char*, const char*>> tidy = {
      {0, "A", "   1", "ALA"},  {25, "Z", "   1", "GLY"}, {26, "a", "   1", "GLY"},
      {37, "l", "   1", "GLY"}, {38, "m", "   1", "SER"}, {51, "z", "   1", "SER"},
      {52, "a", "1001", "SER"}, {57, "f", "1001", "SER"}};
  for (const auto& t : tidy) {
    const MPolymer& c = out[std::get<0>(t)];
    EXPECT_EQ(c.id() + " " + c[0].id() + " " + c[0].type(),
              String(std::get<1>(t)) + " " + std::get<2>(t) + " " + std::get<3>(t))
        << std::get<0>(t);
  }

  // No polymers: an empty model on its crystal. In place works too.
  ProteinTools::chain_tidy(out, MiniMol(sg, cell));
  EXPECT_EQ(out.size(), 0);
  EXPECT_FALSE(out.is_null());
  ProteinTools::chain_tidy(src, src);
  ASSERT_EQ(src.size(), 2);
  EXPECT_EQ(src[0].size(), 20);
}
