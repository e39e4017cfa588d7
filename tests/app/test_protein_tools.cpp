// Residue-type index, names and one-letter chain sequences.
#include <gtest/gtest.h>

#include "app/protein_tools.h"

using vantrel::String;

TEST(ProteinTools, EveryTypeHasItsIndexAndCodes) {
  const char* names[] = {"ALA", "ARG", "ASN", "ASP", "CYS", "GLN", "GLU", "GLY", "HIS", "ILE",
                         "LEU", "LYS", "MET", "PHE", "PRO", "SER", "THR", "TRP", "TYR", "VAL"};
  const String codes = "ARNDCQEGHILKMFPSTWYV";
  for (int t = 0; t < 20; ++t) {
    const String code(1, codes[t]);
    EXPECT_EQ(ProteinTools::residue_index(names[t], true), t);
    EXPECT_EQ(ProteinTools::residue_index(names[t], false), t);
    EXPECT_EQ(ProteinTools::residue_index(code, false), t);
    EXPECT_EQ(ProteinTools::residue_code_1(t), code);
    EXPECT_EQ(ProteinTools::residue_code_3(t), names[t]);
    EXPECT_EQ(ProteinTools::residue_code(names[t], true), code);
    EXPECT_EQ(ProteinTools::residue_code(code, true), names[t]);
  }
}

TEST(ProteinTools, SelenomethionineAndUnknownNames) {
  EXPECT_EQ(ProteinTools::residue_index("MSE", false), 20);
  EXPECT_EQ(ProteinTools::residue_index("MSE", true), 12);
  EXPECT_EQ(ProteinTools::residue_index("M", false), 12);
  EXPECT_EQ(ProteinTools::residue_code_1(20), "M");
  EXPECT_EQ(ProteinTools::residue_code_3(20), "MSE");
  EXPECT_EQ(ProteinTools::residue_code("MSE", false), "M");
  EXPECT_EQ(ProteinTools::residue_code("M", true), "MET");
  for (const char* name : {"ala", "X", "UNK", "HOH", "ALAA", "", " ALA", "AL", "?", "+", "-"}) {
    EXPECT_EQ(ProteinTools::residue_index(name, true), -1) << name;
    EXPECT_EQ(ProteinTools::residue_code(name, true), "") << name;
  }
  for (const int index : {-1, 21, -100}) {
    EXPECT_EQ(ProteinTools::residue_code_1(index), "");
    EXPECT_EQ(ProteinTools::residue_code_3(index), "");
  }
}

TEST(ProteinTools, ChainSequenceHasOneCharacterPerMonomer) {
  vantrel::MPolymer chain;
  EXPECT_EQ(ProteinTools::chain_sequence(chain), "");
  for (const char* type : {"ALA", "MSE", "HOH", "+++", "---", "GLY", "W"}) {
    vantrel::MMonomer m;
    m.set_type(type);
    chain.insert(m, -1);
  }
  EXPECT_EQ(ProteinTools::chain_sequence(chain), "AM?+-GW");
}
