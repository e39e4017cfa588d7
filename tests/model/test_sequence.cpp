#include <gtest/gtest.h>

#include "model/sequence.h"
#include "support/testing.h"

using namespace vantrel;

namespace {

MPolymerSequence record(const String& id, const String& seq) {
  MPolymerSequence s;
  s.set_id(id);
  s.set_sequence(seq);
  return s;
}

}  // namespace

TEST(MoleculeSequence, InsertLookupFind) {
  MMoleculeSequence mol;
  mol.insert(record("A", "MKV"), -1);
  mol.insert(record("B", ""), -1);
  mol.insert(record("A ", "GG"), 0);
  mol.insert(record("a", "W"), -1);
  mol.insert(record("A", "PP"), 2);
  ASSERT_EQ(mol.size(), 5);
  const std::vector<std::pair<String, String>> order = {
      {"A ", "GG"}, {"A", "MKV"}, {"A", "PP"}, {"B", ""}, {"a", "W"}};
  for (int i = 0; i < mol.size(); ++i) {
    EXPECT_EQ(mol[i].id(), order[i].first);
    EXPECT_EQ(mol[i].sequence(), order[i].second);
  }
  // Whole-string ids in either mode; the first of two equal ids wins.
  for (const MM::MODE mode : {MM::WHOLE_ID, MM::BASE_ID}) {
    EXPECT_EQ(mol.lookup("A", mode), 1);
    EXPECT_EQ(mol.lookup("a", mode), 4);
    EXPECT_EQ(mol.lookup(" A", mode), -1);
    EXPECT_EQ(mol.find("B", mode).sequence(), "");
  }
  mol.find("A", MM::WHOLE_ID).set_sequence("MKVL");
  EXPECT_EQ(mol[1].sequence(), "MKVL");

  const MMoleculeSequence copy = mol;
  mol[0].set_sequence("X");
  EXPECT_EQ(copy[0].sequence(), "GG");
  EXPECT_EQ(vantrel_testing::fatal_text([&] { copy.find("C", MM::WHOLE_ID); }),
            "MMolecule: no such monomer");
}
