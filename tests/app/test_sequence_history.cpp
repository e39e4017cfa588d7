// Chain scoring and the sequencing step with its history: hand-made lists
// and chains, and 1DUR in its own calculated density, targets from 1RX2.
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "app/ca_sequence.h"
#include "app/chain_report.h"
#include "app/protein_tools.h"
#include "app/sequence_history.h"
#include "calculated_density.h"
#include "foundation/property.h"
#include "model/seqfile.h"
#include "support/testing.h"

using namespace vantrel;
using quelvarn_testing::targets_1rx2;
using vantrel_testing::fatal_text;

namespace {

MPolymer typed_chain(const std::vector<String>& types) {
  MPolymer p;
  for (const String& t : types) {
    MMonomer m;
    m.set_type(t);
    p.insert(m, -1);
  }
  return p;
}

std::vector<String> types_of(const MPolymer& p) {
  std::vector<String> t;
  for (int r = 0; r < p.size(); ++r) t.push_back(p[r].type());
  return t;
}

Score_list<String> list_of(const std::vector<std::pair<double, const char*>>& entries) {
  Score_list<String> list(50);
  for (const auto& e : entries) list.add(e.first, e.second);
  return list;
}

int residue_tag(const MMonomer& m) {
  return dynamic_cast<const Property<int>&>(m.get_property("TAG")).value();
}

const MiniMol& model_1dur() {
  static const MiniMol mol = quelvarn_testing::read_model("sm_1dur.pdb");
  return mol;
}
const Xmap<float>& map_1dur() {
  static const Xmap<float> map = quelvarn_testing::calculated_map(model_1dur());
  return map;
}

struct Chain_result {
  String assigned;
  Score_list<String> result{50};
  std::string report;
};

// The first chain's amino acids, types moved shift places, scored.
Chain_result score_chain(const MiniMol& mol, int shift) {
  std::vector<String> types;
  MPolymer chain;
  for (int r = 0; r < mol[0].size(); ++r)
    if (ProteinTools::residue_index(mol[0][r].type(), true) >= 0) {
      types.push_back(mol[0][r].type());
      chain.insert(mol[0][r], -1);
    }
  for (int r = 0; r < chain.size(); ++r) chain[r].set_type(types[(r + shift) % types.size()]);
  Chain_result out;
  out.assigned = ProteinTools::chain_sequence(chain);
  MPolymerSequence record;
  record.set_id("TEST");
  record.set_sequence(out.assigned);
  MMoleculeSequence seqs;
  seqs.insert(record, -1);
  std::vector<LLK_map_target::Sampled> fine;
  for (const LLK_map_target& t : targets_1rx2()) fine.push_back(t.fine());
  out.result = Ca_sequence::sequence_chain(chain, map_1dur(), fine, seqs);
  std::ostringstream text;
  chain_report(text, mol[0].id(), chain, out.result);
  out.report = text.str();
  return out;
}

double confidence(const Score_list<String>& r) {
  return r.size() < 2 ? 0.0 : Ca_sequence::phi_approx(r.score(1) - r.score(0));
}

std::vector<std::string> lines(const String& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

}  // namespace

TEST(SequenceChain, CorrectShiftedAndScrambledSequencesOf1DUR) {
  int trained = 0;
  for (const auto& t : targets_1rx2()) trained += t.fine().trained() ? 1 : 0;
  EXPECT_EQ(trained, 20);

  const Chain_result correct = score_chain(model_1dur(), 0);
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
  const Chain_result shifted = score_chain(model_1dur(), 3);
  EXPECT_GE(confidence(shifted.result), 0.95);
  EXPECT_NE(shifted.report.find("WARNING: The supplied data suggests a"), std::string::npos)
      << shifted.report;
  EXPECT_NE(shifted.report.find("register error."), std::string::npos) << shifted.report;

  // The deposited names permuted at random, atoms unchanged.
  const Chain_result wrong = score_chain(quelvarn_testing::read_model("sm_1dur_scrambled.pdb"), 0);
  ASSERT_EQ(wrong.assigned.size(), 55u);
  EXPECT_NE(wrong.assigned, correct.assigned);
  EXPECT_EQ(wrong.report.find("supports the assigned sequence"), std::string::npos) << wrong.report;
}

TEST(SequenceApply, WritesTypesAndClearsContradictedRuns) {
  const std::vector<String> old = {"ALA", "GLY", "UNK", "UNK", "SER"};
  const std::vector<std::pair<const char*, std::vector<String>>> cases = {
      // Runs touching the new assignment on either side are cleared.
      {"??AC?", {"UNK", "UNK", "ALA", "CYS", "UNK"}},
      {"AG???", {"ALA", "GLY", "UNK", "UNK", "SER"}},
      // A contradiction clears the whole run; "+", "-" and "?" as markers.
      {"W????", {"TRP", "UNK", "UNK", "UNK", "SER"}},
      {"??+-?", {"UNK", "UNK", "+++", "---", "UNK"}},
      {"?x*?S", {"ALA", "GLY", "UNK", "UNK", "SER"}},
  };
  for (const auto& c : cases) {
    MPolymer p = typed_chain(old);
    Ca_sequence::sequence_apply(p, c.first);
    EXPECT_EQ(types_of(p), c.second) << c.first;
  }
  MPolymer p = typed_chain(old);
  EXPECT_EQ(fatal_text([&] { Ca_sequence::sequence_apply(p, "AGAC"); }),
            "Sequence: internal error - length mismatch");
  EXPECT_EQ(types_of(p), old);
}

TEST(SequenceCombine, ConfidentSeparateFragmentsCombine) {
  EXPECT_DOUBLE_EQ(Ca_sequence::sequence_overlap("AB??", "A?C?"), 0.5);
  EXPECT_DOUBLE_EQ(Ca_sequence::sequence_overlap("AB", "ABCD"), 1.0);
  EXPECT_DOUBLE_EQ(Ca_sequence::sequence_overlap("Ax", "?x"), 0.5);
  EXPECT_DOUBLE_EQ(Ca_sequence::sequence_overlap("?+-?", "ABCD"), 0.0);  // no letter in a

  const Ca_sequence step(0.9);  // accept when phi_approx(gap) < 0.1
  // Entry 0 has no letter; 1 and 2 beat their competitors (4, 5) by far; 3
  // lies within 3 residues of 1.
  const Score_list<String> list = list_of({{-60.0, "??????+-????????????"},
                                           {-50.0, "AAAAA???????????????"},
                                           {-40.0, "???????????CCCCC????"},
                                           {-30.0, "???????DDD??????????"},
                                           {-10.0, "?EEEE???????????????"},
                                           {-5.0, "????????????FFFF????"}});
  const Score_list<String> combined = step.sequence_combine(list, 0.9);
  ASSERT_EQ(combined.size(), 7);
  EXPECT_EQ(combined[0], "AAAAA??????CCCCC????");
  EXPECT_DOUBLE_EQ(combined.score(0), -999.0);
  for (int i = 0; i < list.size(); ++i) EXPECT_EQ(combined[i + 1], list[i]);

  // Nothing added: less confident; one entry; none; no competitor.
  EXPECT_EQ(step.sequence_combine(list, 1.0).size(), list.size());
  EXPECT_EQ(step.sequence_combine(list_of({{-5.0, "AAAAAA"}}), 0.9).size(), 1);
  EXPECT_EQ(step.sequence_combine(Score_list<String>(50), 0.9).size(), 0);
  EXPECT_EQ(step.sequence_combine(list_of({{-50.0, "AAAA?????"}, {-1.0, "?????CCCC"}}), 0.9).size(),
            2);
  EXPECT_NE(fatal_text([&] {
              step.sequence_combine(list_of({{-5.0, "AAAA"}, {-1.0, "AA"}}), 0.9);
            }),
            "no error");
  EXPECT_NE(fatal_text([] { Ca_sequence bad(95.0); }), "no error");
}

// 1DUR shifted by 3, correct, and in an empty map.
TEST(SequencingStep, ShiftedCorrectAndUninformativeChainsOf1DUR) {
  const MiniMol& truth = model_1dur();
  const Xmap<float>& map = map_1dur();
  const Xmap<float> empty_map(truth.spacegroup(), truth.cell(), map.grid_sampling());
  MMoleculeSequence seqs;
  SEQfile file;
  file.read_file(vantrel_testing::fixture_path("sm_1dur.fasta"));
  file.import_molecule_sequence(seqs);
  ASSERT_EQ(seqs.size(), 1);

  // The true types of the 55 amino acids, and the model with them shifted.
  ASSERT_EQ(truth.size(), 1);
  std::vector<String> true_types;
  for (int r = 0; r < truth[0].size(); ++r)
    if (ProteinTools::residue_index(truth[0][r].type(), true) >= 0)
      true_types.push_back(truth[0][r].type());
  ASSERT_EQ(true_types.size(), 55u);
  MiniMol shifted = truth;
  for (int r = 0; r < 55; ++r) shifted[0][r].set_type(true_types[(r + 3) % 55]);

  // Each step on a model, a map and sequences; tags count from past 9999.
  Ca_sequence::tag = 12345;
  const auto sequence = [&](const MiniMol& mol, const Xmap<float>& m, const MMoleculeSequence& s,
                            MiniMol& result) {
    Ca_sequence step(0.95);
    EXPECT_TRUE(step(result, mol, m, targets_1rx2(), s));
    return step;
  };
  // Accepted: true types or none, mostly true, all tagged.
  MiniMol fixed, kept, unchanged, fixed_dirty, untouched;
  const Ca_sequence fix = sequence(shifted, map, seqs, fixed);
  ASSERT_GE(fixed.size(), 1);
  ASSERT_EQ(fixed[0].size(), 55);
  EXPECT_EQ(fixed[0].id(), "A");
  int right = 0;
  for (int r = 0; r < 55; ++r) {
    const String& t = fixed[0][r].type();
    right += t == true_types[r];
    EXPECT_TRUE(t == true_types[r] || t == "UNK") << r << " " << t;
    EXPECT_EQ(residue_tag(fixed[0][r]), 12345);
  }
  EXPECT_GE(right, 45);
  EXPECT_EQ(fix.num_sequenced(), right);
  EXPECT_EQ(Ca_sequence::tag, 12346);

  // The correct chain is left as it is.
  const Ca_sequence keep = sequence(truth, map, seqs, kept);
  EXPECT_EQ(types_of(kept[0]), true_types);
  EXPECT_EQ(keep.num_sequenced(), 55);
  EXPECT_EQ(residue_tag(kept[0][0]), 12346);

  // A map without density carries no information: rejected, types kept.
  const Ca_sequence blind = sequence(shifted, empty_map, seqs, unchanged);
  ASSERT_EQ(unchanged[0].size(), 55);
  for (int r = 0; r < 55; ++r) EXPECT_EQ(unchanged[0][r].type(), shifted[0][r].type()) << r;
  EXPECT_EQ(residue_tag(unchanged[0][0]), 12347 + 10000);
  EXPECT_EQ(blind.num_sequenced(), 55);

  // Letters without a residue type in the sequences change nothing.
  MMoleculeSequence dirty = seqs;
  String text;
  for (std::size_t i = 0; i < seqs[0].sequence().size(); ++i)
    text += String(i % 10 == 0 ? " 1x*" : "") + seqs[0].sequence()[i];
  dirty[0].set_sequence(text);
  const Ca_sequence fix_dirty = sequence(shifted, map, dirty, fixed_dirty);
  EXPECT_EQ(types_of(fixed_dirty[0]), types_of(fixed[0]));
  EXPECT_EQ(fix_dirty.format(), fix.format());

  // The object's history: a header line, then every candidate.
  const std::vector<std::string> own = lines(fix.format());
  ASSERT_GE(own.size(), 3u);
  EXPECT_EQ(own[0], "Chain number:    0    length:   55");
  for (std::size_t i = 1; i < own.size(); ++i) {
    ASSERT_EQ(own[i].size(), 55u + 2 + 10) << own[i];
    EXPECT_EQ(own[i].substr(55, 2), " \t");
  }
  // All three against the fixed model: its own result, accepted, <= 5 lines.
  Ca_sequence::History history;
  history.append(keep);
  history.append(fix);
  history.append(blind);
  const std::vector<std::string> report = lines(history.format(fixed));
  ASSERT_EQ(report.size(), 1 + std::min<std::size_t>(5, own.size() - 1));
  EXPECT_EQ(report[0], "Sequencing fragment of length:   55  Final chain ID(s): A ");
  EXPECT_EQ(report[1], " Accepted: " + own[1]);
  for (std::size_t i = 2; i < report.size(); ++i)
    EXPECT_EQ(report[i], std::string(11, ' ') + own[i]);
  // Against the model sequenced blind, its result reads as rejected.
  const std::vector<std::string> rejected = lines(history.format(unchanged));
  ASSERT_GE(rejected.size(), 2u);
  EXPECT_EQ(rejected[1].substr(0, 11), " Rejected: ");
  // Without sequences: no candidate, rejected, an empty history entry.
  const Ca_sequence none = sequence(shifted, map, MMoleculeSequence(), untouched);
  EXPECT_EQ(none.format(), "Chain number:    0    length:    0\n");
  Ca_sequence::History alone;
  alone.append(none);
  EXPECT_EQ(alone.format(untouched),
            "Sequencing fragment of length:    0  Final chain ID(s): A \n");
}
