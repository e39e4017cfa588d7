// Bad numbers, sizes and texts reaching the symmetry layer: each gives a
// null value or a message naming what was wrong, never a crash, a hang or a
// silently wrong group.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "foundation/message.h"
#include "support/testing.h"
#include "symmetry/sampling.h"
#include "symmetry/spacegroup.h"

using namespace vantrel;
using vantrel_testing::fatal_text;

namespace {

const double inf = std::numeric_limits<double>::infinity();

Cell cell(double a, double b, double c, double al = 90, double be = 90, double ga = 90) {
  return Cell(Cell_descr(a, b, c, al, be, ga));
}

Spacegroup group(const char* text) { return Spacegroup(Spgr_descr(text)); }

Grid_sampling grid(int nu, int nv, int nw) {
  Grid_sampling g;
  static_cast<Grid&>(g) = Grid(nu, nv, nw);
  return g;
}

}  // namespace

// A damaged cell record is a null cell, even where the volume comes out
// positive, and so gives no sampling.
TEST(BadCell, IsNull) {
  const std::vector<Cell> bad = {cell(-10, -20, 30),
                                 cell(10, -20, -30),
                                 cell(inf, 20, 30),
                                 cell(10, 20, Util::nan()),
                                 cell(10, 20, 30, Util::nan(), 90, 90),
                                 cell(10, 20, 30, 90, inf, 90),
                                 cell(1e300, 1e300, 1e300)};  // volume overflows
  for (const Cell& c : bad) {
    SCOPED_TRACE(c.format());
    EXPECT_TRUE(c.is_null());
    EXPECT_TRUE(Grid_sampling(group("P 1"), c, Resolution(2.0)).is_null());
    EXPECT_TRUE(HKL_sampling(c, Resolution(2.0)).is_null());
  }
  EXPECT_FALSE(cell(10, 20, 30).is_null());
}

// Operator texts cut short, divided by zero or out of range are refused,
// alone and in a list; so are codes of operators no code holds.
TEST(BadOperator, TextsAndCodesAreFatal) {
  for (const char* text : {"x/,y,z", "1/0x,y,z", "x,y,12345678901234567890z", "x,y,z+1/",
                           "x,y,z+1/0", "x,y,z+0/0", "2147483647x,y,z", "x,y/0,z"}) {
    EXPECT_EQ(fatal_text([&] { RTop_frac{String(text)}; }),
              std::string("RTop_frac: invalid string:") + text);
    // a cut line was read as z+1/3 and gave a 6-operator group
    EXPECT_EQ(fatal_text([&] { Spgr_descr(String("x,y,z;-y,x-y,") + text); }),
              std::string("RTop_frac: invalid string:-y,x-y,") + text);
  }
  EXPECT_EQ(fatal_text([] { Symop_code(Symop(RTop_frac(String("2x,y,z")))); }),
            "Symop_code: rotation element outside -1..1 in operator (2 0 0; 0 1 0; 0 0 1)");
  // a list operator must be a whole number of 24ths, which its code holds
  EXPECT_EQ(fatal_text([] { Spgr_descr("x,y,z;x,y,z+1/16"); }),
            "Spgr_descr: invalid symmetry operator:x,y,z+1/16");
  const double nan_row[4][4] = {{1, 0, 0, Util::nan()}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
  EXPECT_EQ(fatal_text([&] { Symop{nan_row}; }),
            "Symop: operator element not finite or out of range");
}

// Names in the spellings people write resolve to the group gemmi finds for
// them (tools/make_spacegroup_name_fixtures.py).
TEST(SpacegroupName, SpellingsMatchIndependentToolkit) {
  std::ifstream in = vantrel_testing::open_fixture("spacegroup_names.txt");
  int count = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    const size_t tab = line.find('\t');
    const String name = line.substr(0, tab), hall = line.substr(tab + 1);
    SCOPED_TRACE(name);
    EXPECT_EQ(Spgr_descr(name).hash(), Spgr_descr(hall, Spgr_descr::Hall).hash());
    ++count;
  }
  EXPECT_GT(count, 1500);
}

// Compact names were read as Hall symbols whose lattice is their last
// character (silently P 1); names and symbols that are neither are fatal.
TEST(SpacegroupName, CompactNamesAndUnknownTexts) {
  const std::vector<std::pair<const char*, int>> named = {
      {"P21", 4},    {"P212121", 19},    {"C2", 5},           {"R3", 146},      {"P43212", 96},
      {"C2221", 20}, {"I23", 197},       {"C121", 5},         {"P 21/c", 14},   {"Fd-3m", 227},
      {"H 3", 146},  {"p 21 21 21", 19}, {"P 21 21 21 ", 19}, {"r 3 2 :r", 155}};
  for (const auto& n : named) {
    SCOPED_TRACE(n.first);
    const Spgr_descr d(n.first);
    EXPECT_EQ(d.spacegroup_number(), n.second);
    EXPECT_EQ(Spgr_descr(n.first, Spgr_descr::HM).hash(), d.hash());
    EXPECT_TRUE(Spgr_descr::is_hm_name(n.first));
  }
  EXPECT_EQ(Spgr_descr("P21").hash(), Spgr_descr("P 1 21 1").hash());  // b unique
  EXPECT_EQ(Spgr_descr("H 3").hash(), Spgr_descr("R 3", Spgr_descr::Hall).hash());
  EXPECT_EQ(Spgr_descr("R 3 :R").hash(), Spgr_descr("P 3*", Spgr_descr::Hall).hash());
  // Hall symbols still read as such
  EXPECT_EQ(Spgr_descr("P 3 2").symbol_hm(), "P 3 1 2");
  EXPECT_EQ(Spgr_descr("p 2ac 2ab").spacegroup_number(), 19);
  for (const char* bad : {"P21x", "P 5", "X 2 2", "P 2 3 4 5 6 7", "P 21/q", "P 2 (1 2 3 4)",
                          "P 22", "-", "R 3 :3", "H 3 :R", "P 2)"})
    EXPECT_EQ(fatal_text([&] { Spgr_descr{String(bad)}; }),
              std::string("Spgr_descr: No such space-group name or Hall symbol: \"") + bad + "\"");
  EXPECT_EQ(fatal_text([] { Spgr_descr("P21x", Spgr_descr::HM); }),
            "Spgr_descr: No such HM symbol");
  // The test that spares a caller that fatal message: names that are no
  // name, and Hall symbols, which are no Hermann-Mauguin names.
  for (const char* text : {"P21x", "P4(3)2(1)2", "P 1-", "UNK", "", "p 2ac 2ab", "R 3 :3"})
    EXPECT_FALSE(Spgr_descr::is_hm_name(text)) << text;
}

// A rate that is not a positive finite number, or a grid past any map, is
// fatal before the search; a grid with any size 0 or less is null.
TEST(BadGridSampling, RatesSizesAndNullness) {
  const Spacegroup p1 = group("P 1");
  const Cell c = cell(50, 60, 70);
  for (const double rate : {Util::nan(), 0.0, -1.5, inf})
    EXPECT_EQ(fatal_text([&] { Grid_sampling(p1, c, Resolution(2.0), rate); }),
              "Grid_sampling: invalid sampling rate " + std::string(String(rate, 0, 6)));
  for (const double edge : {1e7, 1e9}) {
    const std::string text =
        fatal_text([&] { Grid_sampling(p1, cell(edge, 60, 70), Resolution(2.0)); });
    EXPECT_EQ(text.rfind("Grid_sampling: grid too large: ", 0), 0u) << text;
  }
  EXPECT_EQ(Grid_sampling(p1, cell(40000, 60, 70), Resolution(2.0)).nu(), 60000);
  for (const Grid_sampling& g : {grid(0, 10, 10), grid(-4, -4, 10), grid(10, 10, -1)})
    EXPECT_TRUE(g.is_null());
  EXPECT_FALSE(grid(1, 1, 1).is_null());
}

// A grid carries a group's symmetry when every translation is whole grid
// steps and axes that rotations join have equal sizes.
TEST(BadGridSampling, SuitsTheGroup) {
  EXPECT_FALSE(grid(9, 8, 8).suits(group("C 1 2 1")));  // C centring needs even u
  EXPECT_TRUE(grid(10, 8, 8).suits(group("C 1 2 1")));
  EXPECT_FALSE(grid(6, 7, 8).suits(group("P 4")));  // a fourfold joins a and b
  EXPECT_TRUE(grid(6, 6, 7).suits(group("P 4")));
  EXPECT_FALSE(grid(6, 6, 8).suits(group("P 31")));  // 1/3 along c
  EXPECT_TRUE(grid(6, 6, 9).suits(group("P 31")));
  const Spacegroup i23 = group("I 2 3");
  EXPECT_TRUE(Grid_sampling(i23, cell(80, 80, 80), Resolution(2.0)).suits(i23));
}

// Resolutions and cells that take the sampling coefficients out of 64 bits
// are fatal; a missing resolution gives a null sampling.
TEST(BadHKLSampling, OutOfRangeIsFatal) {
  for (const double d : {Util::nan(), inf})
    EXPECT_TRUE(HKL_sampling(cell(10, 10, 10), Resolution(d)).is_null());
  const std::string text = fatal_text([&] { HKL_sampling(cell(10, 10, 10), Resolution(1e10)); });
  EXPECT_EQ(text.rfind("HKL_sampling: resolution 1e+10 A out of range for Cell (", 0), 0u) << text;
  const Cell denormal = cell(1e-310, 10, 10);
  if (!denormal.is_null()) {
    EXPECT_NE(fatal_text([&] { HKL_sampling(denormal, Resolution(2.0)); }), "no error");
  }
  // the index limits of a valid sampling
  const HKL lim = HKL_sampling(cell(10, 10, 10), Resolution(2.0)).hkl_limit();
  EXPECT_EQ(lim.h() + lim.k() + lim.l(), 15);
}

// Box corners past the int range converted with undefined results.
TEST(BadGridRange, CornersOutOfRangeAreFatal) {
  const Grid g(10, 10, 10);
  EXPECT_EQ(fatal_text([&] { Grid_range(cell(10, 10, 10), g, Util::nan()); }),
            "Grid_range: box corner nan out of range");
  EXPECT_EQ(fatal_text([&] { Grid_range(g, Coord_frac(0, 0, 0), Coord_frac(1e20, 1, 1)); }),
            "Grid_range: box corner 1e+21 out of range");
  EXPECT_EQ(Grid_range(cell(10, 10, 10), g, 2.0).nu(), 5);
}
