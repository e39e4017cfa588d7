// The MTZ column-type registry: the standard rows, exact lookups, cut names
// and a full table.
#include "mtz/mtz_types.h"
#include "support/testing.h"

using vantrel::CCP4MTZ_type_registry;
using vantrel_testing::fatal_text;

TEST(MtzTypes, StandardRowsAndLookups) {
  const struct {
    const char *name, *type;
  } rows[] = {{"I", "J"},  {"sigI", "Q"}, {"I+", "K"},   {"covI+-", "C"}, {"F", "F"},
              {"sigF", "Q"}, {"F-", "G"},  {"sigF-", "L"}, {"E", "F"},     {"sigE+", "L"},
              {"A", "A"},  {"C", "A"},    {"D", "A"},    {"phi", "P"},    {"fom", "W"},
              {"flag", "I"}};
  for (const auto& r : rows) {
    EXPECT_EQ(CCP4MTZ_type_registry::type(r.name), r.type) << r.name;
    EXPECT_EQ(CCP4MTZ_type_registry::scale(r.name), std::string(r.name) == "phi" ? 57.29578f : 1.0f);
  }
  EXPECT_EQ(double(CCP4MTZ_type_registry::scale("phi")), 57.295780181884766);
  for (const char* name : {"PHI", "Phi", "f", "", "sigF "})
    EXPECT_EQ(fatal_text([&] { CCP4MTZ_type_registry::type(name); }),
              "CCP4MTZ_type_registry: name not found.")
        << name;
}

// The only test that changes the table.
TEST(MtzTypes, AddedRowsAreCutAndTheTableFills) {
  CCP4MTZ_type_registry::add_type("fourteen_chars", "ABCD", 2.5f);
  EXPECT_EQ(CCP4MTZ_type_registry::type("fourteen_ch"), "ABC");
  EXPECT_EQ(CCP4MTZ_type_registry::scale("fourteen_ch"), 2.5f);
  EXPECT_EQ(fatal_text([] { CCP4MTZ_type_registry::type("fourteen_chars"); }),
            "CCP4MTZ_type_registry: name not found.");
  CCP4MTZ_type_registry::add_type("phi", "X", 1.0f);  // a duplicate is never found
  EXPECT_EQ(CCP4MTZ_type_registry::type("phi"), "P");
  // 28 standard rows and the two above: 170 more fit in 200 slots.
  for (int i = 0; i < 170; ++i) CCP4MTZ_type_registry::add_type("n" + std::to_string(i), "R", 1.0f);
  EXPECT_EQ(CCP4MTZ_type_registry::type("n169"), "R");
  EXPECT_EQ(fatal_text([] { CCP4MTZ_type_registry::add_type("more", "R", 1.0f); }),
            "CCP4MTZ_type_registry: registry full.");
}
