// The sequencing step and its history: candidates combined and applied on
// hand-made lists and chains, and a real model (1DUR) sequenced in its own
// calculated density with targets trained on 1RX2.
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "app/ca_sequence.h"
#include "app/protein_tools.h"
#include "app/sequence_history.h"
#include "calculated_density.h"
#include "foundation/property.h"
#include "model/seqfile.h"
#include "support/testing.h"

using quelvarn_testing::calculated_map;
using quelvarn_testing::read_model;
using quelvarn_testing::targets_1rx2;
using vantrel::MiniMol;
using vantrel::MMoleculeSequence;
using vantrel::MMonomer;
using vantrel::MPolymer;
using vantrel::String;

namespace {

MPolymer typed_chain(const std::vector<const char*>& types) {
  MPolymer p;
  for (const char* t : types) {
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
  return dynamic_cast<const vantrel::Property<int>&>(m.get_property("TAG")).value();
}

std::vector<std::string> lines(const String& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

}  // namespace

TEST(SequenceApply, WritesTypesAndClearsContradictedRuns) {
  const std::vector<const char*> old = {"ALA", "GLY", "UNK", "UNK", "SER"};
  const std::vector<std::pair<const char*, std::vector<String>>> cases = {
      // The run ALA GLY ends right before the new assignment, SER starts
      // right after it: both are cleared.
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
  EXPECT_EQ(vantrel_testing::fatal_text([&] { Ca_sequence::sequence_apply(p, "AGAC"); }),
            "Sequence: internal error - length mismatch");
  EXPECT_EQ(types_of(p), types_of(typed_chain(old)));
}

TEST(SequenceCombine, ConfidentSeparateFragmentsCombine) {
  EXPECT_DOUBLE_EQ(Ca_sequence::sequence_overlap("AB??", "A?C?"), 0.5);
  EXPECT_DOUBLE_EQ(Ca_sequence::sequence_overlap("AB", "ABCD"), 1.0);
  EXPECT_DOUBLE_EQ(Ca_sequence::sequence_overlap("Ax", "?x"), 0.5);
  EXPECT_DOUBLE_EQ(Ca_sequence::sequence_overlap("?+-?", "ABCD"), 0.0);  // no letter in a

  const Ca_sequence step(0.9);  // accept when phi_approx(gap) < 0.1
  // Entry 0 has no letter and is passed over; entries 1 and 2 each beat
  // their competitors (4 and 5) by far; entry 3 lies within 3 residues of
  // entry 1 and is examined no further.
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

  // A less confident step accepts nothing and adds nothing.
  EXPECT_EQ(step.sequence_combine(list, 1.0).size(), list.size());
  // One entry: nothing examined. No entry at all: returned as it is.
  EXPECT_EQ(step.sequence_combine(list_of({{-5.0, "AAAAAA"}}), 0.9).size(), 1);
  EXPECT_EQ(step.sequence_combine(Score_list<String>(50), 0.9).size(), 0);
  // Without a later entry sharing its letters a candidate has no competitor
  // and is not accepted.
  EXPECT_EQ(step.sequence_combine(list_of({{-50.0, "AAAA?????"}, {-1.0, "?????CCCC"}}), 0.9).size(),
            2);
  EXPECT_NE(vantrel_testing::fatal_text([&] {
              step.sequence_combine(list_of({{-5.0, "AAAA"}, {-1.0, "AA"}}), 0.9);
            }),
            "no error");
  EXPECT_NE(vantrel_testing::fatal_text([] { Ca_sequence bad(95.0); }), "no error");
}

// 1DUR in its own calculated density: chain A with its residue names moved
// 3 places along the chain, with its true names, and in an empty map.
TEST(SequencingStep, ShiftedCorrectAndUninformativeChainsOf1DUR) {
  const MiniMol truth = read_model("sm_1dur.pdb");
  const vantrel::Xmap<float> map = calculated_map(truth);
  vantrel::Xmap<float> empty_map(truth.spacegroup(), truth.cell(), map.grid_sampling());
  MMoleculeSequence seqs;
  vantrel::SEQfile file;
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

  // Accepted: every residue ends with its true type or none, most with the
  // true one. The tag is past 9999 and still reads as accepted.
  Ca_sequence::tag = 12345;
  Ca_sequence fix(0.95);
  MiniMol fixed;
  EXPECT_TRUE(fix(fixed, shifted, map, targets_1rx2(), seqs));
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
  Ca_sequence keep(0.95);
  MiniMol kept;
  keep(kept, truth, map, targets_1rx2(), seqs);
  EXPECT_EQ(types_of(kept[0]), true_types);
  EXPECT_EQ(keep.num_sequenced(), 55);
  EXPECT_EQ(residue_tag(kept[0][0]), 12346);

  // A map without density carries no information: rejected, types kept.
  Ca_sequence blind(0.95);
  MiniMol unchanged;
  blind(unchanged, shifted, empty_map, targets_1rx2(), seqs);
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
  Ca_sequence fix_dirty(0.95);
  MiniMol fixed_dirty;
  fix_dirty(fixed_dirty, shifted, map, targets_1rx2(), dirty);
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

  // The history of all three against the fixed model: only the result
  // whose tag its residues carry, marked accepted, at most 5 candidates.
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
  // Without sequences a chain has no candidate: rejected, its history entry
  // of length 0 with no candidate lines.
  Ca_sequence none(0.95);
  MiniMol untouched;
  none(untouched, shifted, map, targets_1rx2(), MMoleculeSequence());
  EXPECT_EQ(none.format(), "Chain number:    0    length:    0\n");
  Ca_sequence::History alone;
  alone.append(none);
  EXPECT_EQ(alone.format(untouched),
            "Sequencing fragment of length:    0  Final chain ID(s): A \n");
  // Against the model sequenced blind, its result reads as rejected.
  const std::vector<std::string> rejected = lines(history.format(unchanged));
  ASSERT_GE(rejected.size(), 2u);
  EXPECT_EQ(rejected[1].substr(0, 11), " Rejected: ");
}
