// Sequencing real chains in calculated density: twenty targets trained on
// the density of 1RX2 (all twenty residue types), then chains of 1DUR and
// 7MM1 scored in their own density with the correct, a register-shifted and
// a scrambled sequence.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>

#include "app/ca_sequence.h"
#include "app/chain_report.h"
#include "calculated_density.h"

using quelvarn_testing::calculated_map;
using quelvarn_testing::read_model;
using vantrel::Coord_orth;
using vantrel::MiniMol;
using vantrel::MMonomer;
using vantrel::String;

namespace {

struct Chain_result {
  String assigned;
  Score_list<String> result{50};
  std::string report;
};

// The amino-acid residues of the first chain, with their types replaced by
// rename (when given), scored with their own sequence.
Chain_result score_chain(const MiniMol& mol, const vantrel::Xmap<float>& map,
                         const std::function<String(int, const std::vector<String>&)>& rename) {
  std::vector<String> types;
  vantrel::MPolymer chain;
  for (int r = 0; r < mol[0].size(); ++r)
    if (mol[0][r].type().size() == 3 && ProteinTools::residue_index(mol[0][r].type(), true) >= 0) {
      types.push_back(mol[0][r].type());
      chain.insert(mol[0][r], -1);
    }
  if (rename)
    for (int r = 0; r < chain.size(); ++r) chain[r].set_type(rename(r, types));
  Chain_result out;
  out.assigned = ProteinTools::chain_sequence(chain);
  vantrel::MPolymerSequence record;
  record.set_id("TEST");
  record.set_sequence(out.assigned);
  vantrel::MMoleculeSequence seqs;
  seqs.insert(record, -1);
  std::vector<LLK_map_target::Sampled> fine;
  for (const LLK_map_target& t : quelvarn_testing::targets_1rx2()) fine.push_back(t.fine());
  out.result = Ca_sequence::sequence_chain(chain, map, fine, seqs);
  std::ostringstream text;
  chain_report(text, mol[0].id(), chain, out.result);
  out.report = text.str();
  return out;
}

double confidence(const Score_list<String>& r) {
  return r.size() < 2 ? 0.0 : Ca_sequence::phi_approx(r.score(1) - r.score(0));
}

}  // namespace

TEST(SequenceChain, CorrectShiftedAndScrambledSequencesOf1DUR) {
  int trained = 0;
  for (const auto& t : quelvarn_testing::targets_1rx2()) trained += t.fine().trained() ? 1 : 0;
  EXPECT_EQ(trained, 20);

  const MiniMol mol = read_model("sm_1dur.pdb");
  const vantrel::Xmap<float> map = calculated_map(mol);
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
  const Chain_result wrong = score_chain(read_model("sm_1dur_scrambled.pdb"), map, nullptr);
  ASSERT_EQ(wrong.assigned.size(), 55u);
  EXPECT_NE(wrong.assigned, correct.assigned);
  EXPECT_EQ(wrong.report.find("supports the assigned sequence"), std::string::npos) << wrong.report;
}

TEST(SequenceChain, CorrectSequenceOf7MM1RanksFirst) {
  // The best candidate is the assigned sequence nearly everywhere (around
  // H173-W179 it takes a local shift: few examples of those aromatic types
  // in 1RX2), the assigned sequence itself follows within a fraction of a
  // score unit, and every other candidate is far behind.
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
      int at[4];
      const char* names[] = {" N  ", " CA ", " C  ", " CB "};
      for (int k = 0; k < 4; ++k) at[k] = m.lookup(names[k], vantrel::MM::BASE_ID);
      if (std::min({at[0], at[1], at[2], at[3]}) < 0 ||
          ProteinTools::residue_index(m.type(), true) < 0)
        continue;
      const Ca_group g(m[at[0]].coord_orth(), m[at[1]].coord_orth(), m[at[2]].coord_orth());
      ++checked;
      near += Coord_orth::length(g.rtop_beta_carbon() * Coord_orth(0, 0, 0),
                                 m[at[3]].coord_orth()) < 0.5;
    }
  EXPECT_GT(checked, 140);
  EXPECT_EQ(near, checked);
}
