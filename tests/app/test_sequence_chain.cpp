// Sequencing real chains in calculated density: twenty targets trained on
// the density of 1RX2 (all twenty residue types), then chains of 1DUR scored
// in their own density with the correct, a register-shifted and a scrambled
// sequence.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>

#include "app/ca_sequence.h"
#include "app/chain_report.h"
#include "app/main_chain.h"
#include "app/protein_tools.h"
#include "maps/atomsf.h"
#include "model/mmdb_file.h"
#include "support/testing.h"

using vantrel::Coord_grid;
using vantrel::Coord_map;
using vantrel::Coord_orth;
using vantrel::MiniMol;
using vantrel::MM;
using vantrel::MMonomer;
using vantrel::MPolymer;
using vantrel::String;
using vantrel::Xmap;

namespace {

MiniMol read_model(const std::string& name) {
  vantrel::MMDBfile file;
  file.SetFlag(mmdb::MMDBF_IgnoreNonCoorPDBErrors | mmdb::MMDBF_IgnoreBlankLines);
  file.read_file(vantrel_testing::fixture_path(name));
  MiniMol mol;
  file.import_minimol(mol, -1);
  return mol;
}

// Density of every atom of the model at 0.67 A spacing, each atom blurred by
// an extra B of 20 A^2 as data near 2 A resolution would be.
Xmap<float> calculated_map(const MiniMol& mol) {
  const vantrel::Grid_sampling grid(mol.spacegroup(), mol.cell(), vantrel::Resolution(2.0), 1.5);
  Xmap<float> map(mol.spacegroup(), mol.cell(), grid);
  const double cutoff = 3.0, extra_u = 20.0 / vantrel::Util::eightpi2();
  const vantrel::Grid_range box(mol.cell(), grid, cutoff);
  for (const vantrel::Atom& atom : mol.atom_list()) {
    const double u = std::isnan(atom.u_iso()) ? 0.25 : atom.u_iso();
    const double occ = std::isnan(atom.occupancy()) ? 1.0 : atom.occupancy();
    const vantrel::AtomShapeFn shape(atom.coord_orth(), atom.element(), u + extra_u, occ);
    const Coord_grid centre = atom.coord_orth().coord_frac(mol.cell()).coord_map(grid).coord_grid();
    for (int du = box.min().u(); du <= box.max().u(); ++du)
      for (int dv = box.min().v(); dv <= box.max().v(); ++dv)
        for (int dw = box.min().w(); dw <= box.max().w(); ++dw) {
          const Coord_grid c(centre.u() + du, centre.v() + dv, centre.w() + dw);
          const Coord_orth x = Coord_map(c).coord_frac(grid).coord_orth(mol.cell());
          const double rsq = Coord_orth(x - atom.coord_orth()).lengthsq();
          if (rsq < cutoff * cutoff) map.set_data(c, map.get_data(c) + float(shape.rho(rsq)));
        }
  }
  return map;
}

const vantrel::MAtom* find_atom(const MMonomer& m, const char* name) {
  const int i = m.lookup(name, MM::BASE_ID);
  return i < 0 ? nullptr : &m[i];
}

bool peptide_bond(const MMonomer& a, const MMonomer& b) {
  const vantrel::MAtom* c = find_atom(a, " C  ");
  const vantrel::MAtom* n = find_atom(b, " N  ");
  return c && n && Coord_orth(c->coord_orth() - n->coord_orth()).lengthsq() < 1.5 * 1.5;
}

// Twenty targets trained on every inner residue with N, CA, C and peptide
// bonds to both neighbours; their fine lists.
std::vector<LLK_map_target::Sampled> trained_targets(const MiniMol& mol, int& residues) {
  const Xmap<float> map = calculated_map(mol);
  std::vector<LLK_map_target> targets(20);
  for (LLK_map_target& t : targets) t.init(5.5, 0.5, LLK_map_target::LLK);
  residues = 0;
  for (int p = 0; p < mol.size(); ++p)
    for (int r = 1; r + 1 < mol[p].size(); ++r) {
      const MMonomer& m = mol[p][r];
      const vantrel::MAtom *n = find_atom(m, " N  "), *ca = find_atom(m, " CA "),
                           *c = find_atom(m, " C  ");
      const int t = ProteinTools::residue_index(m.type(), true);
      if (!n || !ca || !c || t < 0 || !peptide_bond(mol[p][r - 1], m) ||
          !peptide_bond(m, mol[p][r + 1]))
        continue;
      targets[t].accumulate(map, Ca_group(n->coord_orth(), ca->coord_orth(), c->coord_orth())
                                     .rtop_beta_carbon());
      ++residues;
    }
  std::vector<LLK_map_target::Sampled> fine;
  for (LLK_map_target& t : targets) {
    t.prep_llk();
    fine.push_back(t.fine());
  }
  return fine;
}

const std::vector<LLK_map_target::Sampled>& targets_1rx2() {
  static int residues = 0;
  static const std::vector<LLK_map_target::Sampled> fine =
      trained_targets(read_model("ref_1rx2.pdb"), residues);
  EXPECT_GT(residues, 150);
  return fine;
}

struct Chain_result {
  String assigned;
  Score_list<String> result{50};
  std::string report;
};

// The amino-acid residues of the first chain, with their types replaced by
// rename (when given), scored with their own sequence.
Chain_result score_chain(const MiniMol& mol, const Xmap<float>& map,
                         const std::function<String(int, const std::vector<String>&)>& rename) {
  std::vector<const MMonomer*> residues;
  for (int r = 0; r < mol[0].size(); ++r) {
    const String& type = mol[0][r].type();
    if (type.size() == 3 && ProteinTools::residue_index(type, true) >= 0)
      residues.push_back(&mol[0][r]);
  }
  std::vector<String> types;
  for (const MMonomer* m : residues) types.push_back(m->type());
  MPolymer chain;
  for (int r = 0; r < int(residues.size()); ++r) {
    MMonomer m = *residues[r];
    if (rename) m.set_type(rename(r, types));
    chain.insert(m, -1);
  }
  Chain_result out;
  out.assigned = ProteinTools::chain_sequence(chain);
  vantrel::MPolymerSequence record;
  record.set_id("TEST");
  record.set_sequence(out.assigned);
  vantrel::MMoleculeSequence seqs;
  seqs.insert(record, -1);
  out.result = Ca_sequence::sequence_chain(chain, map, targets_1rx2(), seqs);
  std::ostringstream text;
  chain_report(text, mol[0].id(), chain, out.result);
  out.report = text.str();
  return out;
}

double confidence(const Score_list<String>& r) {
  return r.size() < 2 ? 0.0 : Ca_sequence::phi_approx(r.score(1) - r.score(0));
}

}  // namespace

TEST(SequenceChain, EveryResidueTypeIsTrainedOn1RX2) {
  int trained = 0;
  for (const auto& t : targets_1rx2()) trained += t.trained() ? 1 : 0;
  EXPECT_EQ(trained, 20);
}

TEST(SequenceChain, CorrectShiftedAndScrambledSequencesOf1DUR) {
  const MiniMol mol = read_model("sm_1dur.pdb");
  const Xmap<float> map = calculated_map(mol);

  const Chain_result correct = score_chain(mol, map, nullptr);
  ASSERT_EQ(correct.assigned.size(), 55u);
  ASSERT_GE(correct.result.size(), 2);
  EXPECT_GE(confidence(correct.result), 0.999);
  int agree = 0;
  for (std::size_t k = 0; k < 55; ++k) agree += correct.result[0][k] == correct.assigned[k];
  EXPECT_GE(agree, 50) << correct.result[0];
  EXPECT_NE(correct.report.find("The supplied data strongly supports the assigned sequence."),
            std::string::npos)
      << correct.report;

  // Residue names moved 3 places along the chain (wrapping at the end).
  const Chain_result shifted = score_chain(
      mol, map, [](int r, const std::vector<String>& t) { return t[(r + 3) % t.size()]; });
  EXPECT_GE(confidence(shifted.result), 0.95);
  EXPECT_NE(shifted.report.find("WARNING: The supplied data suggests a"), std::string::npos)
      << shifted.report;
  EXPECT_NE(shifted.report.find("register error."), std::string::npos) << shifted.report;

  // The deposited names permuted at random, atoms unchanged.
  const MiniMol scrambled = read_model("sm_1dur_scrambled.pdb");
  const Chain_result wrong = score_chain(scrambled, map, nullptr);
  ASSERT_EQ(wrong.assigned.size(), 55u);
  EXPECT_NE(wrong.assigned, correct.assigned);
  EXPECT_EQ(wrong.report.find("supports the assigned sequence"), std::string::npos) << wrong.report;
}

TEST(SequenceChain, CorrectSequenceOf7MM1RanksFirst) {
  // A long chain: the best candidate is the assigned sequence nearly
  // everywhere, and the assigned sequence itself follows within a fraction
  // of a score unit; every other candidate is far behind. (Around H173-W179
  // the best takes a local shift: the aromatic side chains there fit the few
  // examples of their types in 1RX2 poorly, so the two nearly tie and the
  // report would call the data insufficient.)
  const MiniMol mol = read_model("wrk_7mm1.pdb");
  const Chain_result correct = score_chain(mol, calculated_map(mol), nullptr);
  ASSERT_EQ(correct.assigned.size(), 298u);
  ASSERT_GE(correct.result.size(), 3);
  int agree = 0, other = 0;
  for (std::size_t k = 0; k < 298; ++k) {
    const char c = correct.result[0][k];
    agree += c == correct.assigned[k];
    other += c != '?' && c != correct.assigned[k];
  }
  EXPECT_GE(agree, 260) << correct.result[0];
  EXPECT_LE(other, 10) << correct.result[0];
  EXPECT_EQ(correct.result[1], correct.assigned);
  EXPECT_LT(correct.result.score(1) - correct.result.score(0), 0.5);
  EXPECT_GT(correct.result.score(2) - correct.result.score(1), 20.0);
}

TEST(SequenceChain, BetaCarbonFramesSitOnTheDepositedBetaCarbons) {
  // The ideal beta carbon of every amino acid of 1RX2 lies within 0.5 A of
  // its CB atom (a mirrored frame would put it 2.5 A away).
  const MiniMol mol = read_model("ref_1rx2.pdb");
  int checked = 0, near = 0;
  for (int p = 0; p < mol.size(); ++p)
    for (int r = 0; r < mol[p].size(); ++r) {
      const MMonomer& m = mol[p][r];
      const vantrel::MAtom *n = find_atom(m, " N  "), *ca = find_atom(m, " CA "),
                           *c = find_atom(m, " C  "), *cb = find_atom(m, " CB ");
      if (!n || !ca || !c || !cb || ProteinTools::residue_index(m.type(), true) < 0) continue;
      const Coord_orth ideal = Ca_group(n->coord_orth(), ca->coord_orth(), c->coord_orth())
                                   .rtop_beta_carbon() * Coord_orth(0.0, 0.0, 0.0);
      ++checked;
      near += Coord_orth::length(ideal, cb->coord_orth()) < 0.5;
    }
  EXPECT_GT(checked, 140);
  EXPECT_EQ(near, checked);
}
