// Residue types and chain sequences; the chain report: layout, confidence
// and the verdict rules at their boundaries.
#include <gtest/gtest.h>

#include <sstream>

#include "app/ca_sequence.h"
#include "app/chain_report.h"
#include "app/protein_tools.h"

using vantrel::String;

namespace {

vantrel::MPolymer chain_of(const String& seq) {
  vantrel::MPolymer chain;
  for (const char c : seq) {
    vantrel::MMonomer m;
    m.set_type(ProteinTools::residue_code(String(1, c), true));
    chain.insert(m, -1);
  }
  return chain;
}

std::string report(const String& assigned, const Score_list<String>& result) {
  std::ostringstream out;
  chain_report(out, "A", chain_of(assigned), result);
  return out.str();
}

// The verdict line for a best candidate whose runner-up is gap worse.
std::string verdict(const String& assigned, const String& modified, double gap) {
  Score_list<String> result(50);
  result.add(-10.0, modified);
  result.add(-10.0 + gap, String(assigned.size(), '?'));
  const std::string text = report(assigned, result);
  const std::size_t end = text.size() - 1, start = text.rfind('\n', end - 1) + 1;
  return text.substr(start, end - start);
}

// A modified sequence of n letters against n "A": m matches, s
// substitutions ("G"), g gap marks, the rest "?".
String modified(int n, int m, int s, int g) {
  return String(m, 'A') + String(s, 'G') + String(g, '+') + String(n - m - s - g, '?');
}

const std::string insufficient =
    "The data is insufficient to either confirm or deny the sequence for this chain.";
const std::string manual = "Manual analysis is required.";
const std::string partial =
    "WARNING: The supplied data suggests a partial sequence register error.";
const std::string tracing =
    "WARNING: The supplied data suggests a tracing error or major sequence register error.";
const std::string strongly = "The supplied data strongly supports the assigned sequence.";
const std::string weakly = "The supplied data weakly supports the assigned sequence.";

}  // namespace

TEST(ChainReport, LayoutAndShortLists) {
  Score_list<String> result(50);
  result.add(-30.0, "MKVL");
  result.add(-28.33273, "????");
  EXPECT_EQ(report("MKVL", result), "\n" + std::string(72, '-') +
                                        "\n\nCHAIN: A\nOriginal: MKVL\nModified: MKVL\n"
                                        "Confidence: 0.950001\n\n" +
                                        weakly + "\n");
  // Fewer than two entries are not shown; equal scores are insufficient.
  Score_list<String> short_list(50);
  const std::string empty = report("MKVL", short_list);
  EXPECT_NE(empty.find("Modified: \nConfidence: 0\n\n" + insufficient + "\n"), std::string::npos);
  short_list.add(-5.0, "MKVL");
  EXPECT_EQ(report("MKVL", short_list), empty);
  short_list.add(-5.0, "MKVA");
  EXPECT_NE(report("MKVL", short_list).find("Confidence: 0.5\n\n" + insufficient),
            std::string::npos);
}

TEST(ChainReport, VerdictRulesAtTheirBoundaries) {
  const String a8(8, 'A'), a40(40, 'A');
  struct Case {
    String assigned, modified;
    double gap;
    std::string want;
  };
  const Case cases[] = {
      {a8, a8, 1.66726, insufficient},  // confidence prints 0.95 but is below
      {a8, a8, 1.66727, weakly},
      {a8, a8, 3.09761, weakly},  // confidence 0.99899998
      {a8, a8, 3.09762, strongly},
      {a8, String(7, 'A'), 5.0, manual},        // length differs: before every count
      {a8, modified(8, 7, 0, 0), 2.0, weakly},  // 7 > 6 matches, "?" counted nowhere
      {a8, modified(8, 6, 0, 0), 2.0, manual},  // 6 is not above 6; rule 4, no substitutions
      {a8, modified(8, 7, 1, 0), 5.0, manual},  // a substitution blocks rule 3
      {a40, modified(40, 12, 7, 1), 5.0, partial},
      {a40, modified(40, 12, 6, 3), 5.0, manual},
      {a40, modified(40, 12, 20, 0), 5.0, manual},
      {a40, modified(40, 11, 7, 1), 5.0, partial},
      {a40, modified(40, 10, 7, 1), 5.0, manual},  // 10 is not above the quarter
      {a40, modified(40, 9, 11, 0), 5.0, tracing},
      {a40, modified(40, 9, 10, 5), 5.0, manual},   // 10 substitutions are not above 10
      {a40, modified(40, 10, 30, 0), 5.0, manual},  // 10 is not below 10
      {"AAA", "AG?", 5.0, manual},                  // quarter 0: one match makes rule 4
      {"AAA", "GGG", 5.0, manual},                  // 0 matches = quarter 0
  };
  for (const Case& c : cases)
    EXPECT_EQ(verdict(c.assigned, c.modified, c.gap), c.want) << c.modified << " gap " << c.gap;
}

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
