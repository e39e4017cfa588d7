#include <gtest/gtest.h>

#include "model/sequence.h"
#include "support/testing.h"

using namespace vantrel;

TEST(MoleculeSequence, InsertLookupFind) {
  MMoleculeSequence mol;
  const std::vector<std::tuple<String, String, int>> inserts = {
      {"A", "MKV", -1}, {"B", "", -1}, {"A ", "GG", 0}, {"a", "W", -1}, {"A", "PP", 2}};
  for (const auto& [id, seq, pos] : inserts) {
    MPolymerSequence s;
    s.set_id(id);
    s.set_sequence(seq);
    mol.insert(s, pos);
  }
  ASSERT_EQ(mol.size(), 5);
  const std::vector<String> order = {"GG", "MKV", "PP", "", "W"};
  for (int i = 0; i < mol.size(); ++i) EXPECT_EQ(mol[i].sequence(), order[i]);
  // Whole-string ids in either mode; the first of two equal ids wins.
  for (const MM::MODE mode : {MM::WHOLE_ID, MM::BASE_ID}) {
    EXPECT_EQ(mol.lookup("A", mode), 1);
    EXPECT_EQ(mol.lookup("a", mode), 4);
    EXPECT_EQ(mol.lookup(" A", mode), -1);
  }
  mol.find("A", MM::WHOLE_ID).set_sequence("MKVL");
  EXPECT_EQ(mol[1].sequence(), "MKVL");
  EXPECT_EQ(vantrel_testing::fatal_text([&] { mol.find("C", MM::WHOLE_ID); }),
            "MMolecule: no such monomer");
}
