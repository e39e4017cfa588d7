#include <gtest/gtest.h>

#include <array>
#include <map>
#include <set>
#include <string>

#include "symmetry/spacegroup_tables.h"
#include "symmetry/spgr_descr.h"

using namespace vantrel;
using namespace vantrel::data;
typedef Spgr_descr::Symop_codes Codes;

namespace {

Codes laue_group(const Lgdata_row& row) {
  Codes gens;
  gens.init_symops(row.generators);
  gens.push_back(Symop_code(Symop(RTop_frac(String("-x,-y,-z")))));
  return gens.expand();
}

}  // namespace

TEST(LaueTable, GroupsHaveTheOrderOfTheirSymbolAndDistinctHashes) {
  const std::map<std::string, size_t> order = {
      {"-1", 2},     {"2/m", 4},  {"mmm", 8},    {"-3", 6},   {"-3m", 12}, {"4/m", 8},
      {"4/mmm", 16}, {"6/m", 12}, {"6/mmm", 24}, {"m-3", 24}, {"m-3m", 48}};
  std::set<std::uint32_t> hashes;
  for (const Lgdata_row& row : lgdata) {
    ASSERT_EQ(order.count(row.symbol), 1u) << row.symbol;
    EXPECT_EQ(laue_group(row).size(), order.at(row.symbol)) << row.generators;
    hashes.insert(row.hash());
  }
  EXPECT_EQ(int(hashes.size()), lgdata_size);
  EXPECT_EQ(lgdata[0].hash(), 0x2df60a45u);
  EXPECT_EQ(lgdata[0].hash(), sgdata[1].hash());
}

// Each test takes exactly one member of every Laue-group orbit (Friedel mates included).
TEST(LaueTable, AsuTestsTakeOneReflectionOfEveryOrbit) {
  const int n = 7;
  for (const Lgdata_row& row : lgdata) {
    const Codes group = laue_group(row);
    int failures = 0;
    for (int h = -n; h <= n; ++h)
      for (int k = -n; k <= n; ++k)
        for (int l = -n; l <= n; ++l) {
          std::set<std::array<int, 3>> orbit;  // distinct equivalents
          for (const Symop_code& c : group) {
            const HKL e = HKL(h, k, l).transform(c.isymop());
            orbit.insert({e[0], e[1], e[2]});
          }
          int taken = 0;
          for (const auto& e : orbit) taken += row.asu(e[0], e[1], e[2]) ? 1 : 0;
          if (taken != 1 && failures++ < 3)
            ADD_FAILURE() << row.symbol << " " << row.generators << ": " << taken
                          << " of the equivalents of " << h << "," << k << "," << l;
        }
  }
  // worked examples
  for (const Lgdata_row& row : lgdata) EXPECT_TRUE(row.asu(0, 0, 0)) << row.symbol;
  const struct {
    bool (*asu)(const int&, const int&, const int&);
    int h, k, l;
    bool in;
  } cases[] = {{ASU_111, 0, 0, -1, false},   {ASU_111, 0, 0, 1, true},   {ASU_111, -1, 5, 0, false},
               {ASU_111, 1, -5, 0, true},    {ASU_111, 0, -1, 0, false}, {ASU_111, 0, 1, 0, true},
               {ASU_114, 0, 1, 0, true},     {ASU_114, 1, 0, 0, false},  {ASU_M3B, 0, 1, 0, true},
               {ASU_M3B, 0, 0, 1, false},    {ASU_M3B, 1, 1, 1, true},   {ASU_31A, 1, 1, 1, true},
               {ASU_31A, -1, -1, -1, false}, {ASU_31A, 1, 0, 0, false},  {ASU_31A, 0, 1, 1, true}};
  for (const auto& c : cases) EXPECT_EQ(c.asu(c.h, c.k, c.l), c.in) << c.h << c.k << c.l;
}

TEST(SpacegroupTable, RowsInNumberOrderWithTheirSettings) {
  std::map<char, int> settings;
  int previous = 0;
  for (const Sgdata_row& row : sgdata) {
    EXPECT_TRUE(row.number == previous || row.number == previous + 1) << row.hall;
    previous = row.number;
    ++settings[row.setting];
  }
  EXPECT_EQ(previous, 230);
  EXPECT_EQ(settings, (std::map<char, int>{{' ', 450}, {'1', 33}, {'2', 33}, {'H', 7}, {'R', 7}}));
  // The double-prime mark is an ASCII double quote.
  EXPECT_EQ(Spgr_descr(150).symbol_hall(), "P 3 2\"");
  EXPECT_EQ(Spgr_descr(155).symbol_hall(), "R 3 2\"");
}
