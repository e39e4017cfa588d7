#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <sstream>

#include "foundation/message.h"
#include "support/testing.h"
#include "symmetry/spacegroup_tables.h"
#include "symmetry/spgr_descr.h"

using namespace vantrel;
typedef Spgr_descr::Symop_codes Codes;

namespace {

// An operator as rotation (row by row) and translation in 24ths, 0..23.
typedef std::array<int, 12> Op12;

std::vector<Op12> decoded(const Codes& codes) {
  std::vector<Op12> ops;
  for (const Symop_code& c : codes) {
    const Isymop op = c.isymop();
    ops.emplace_back();
    for (int i = 0; i < 12; ++i) ops.back()[i] = i < 9 ? op.rot()(i / 3, i % 3) : op.trn()[i - 9];
  }
  std::sort(ops.begin(), ops.end());
  return ops;
}

std::vector<Op12> parse_ops(const std::string& text) {
  std::vector<Op12> ops;
  for (const String& op : String(text).split(";")) {
    std::istringstream in(op);
    ops.emplace_back();
    for (int& v : ops.back()) in >> v;
  }
  return ops;
}

std::vector<std::vector<std::string>> read_fixture(const std::string& name) {
  std::ifstream in = vantrel_testing::open_fixture(name);
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(in, line);) {
    std::istringstream ls(line);
    rows.emplace_back();
    for (std::string col; std::getline(ls, col, '\t');) rows.back().push_back(col);
  }
  return rows;
}

Codes hall_codes(const String& hall) {
  Codes c;
  return c.init_hall(hall), c;
}

Symop_code code_of(const String& op) { return Symop_code(Symop(RTop_frac(op))); }

// Restores the default preferred settings when a test ends.
struct PreferredSettings : ::testing::Test {
  ~PreferredSettings() override {
    Spgr_descr::set_preferred('1');
    Spgr_descr::set_preferred('H');
  }
};

}  // namespace

TEST(HallParser, EveryTableRowExpandsToTheToolkitsOperators) {
  const auto rows = read_fixture("spacegroups_hall_ops.txt");
  ASSERT_EQ(int(rows.size()), data::sgdata_size);
  for (int r = 0; r < data::sgdata_size; ++r) {
    ASSERT_EQ(rows[r][0], data::sgdata[r].hall) << "row " << r;
    const std::vector<Op12> ops = decoded(hall_codes(rows[r][0]).expand());
    EXPECT_EQ(int(ops.size()), std::stoi(rows[r][1])) << rows[r][0];
    EXPECT_EQ(ops, parse_ops(rows[r][2])) << rows[r][0];
  }
}

TEST(HallParser, ImplicitAxesAndOperatorLists) {
  // A twofold after a threefold lies along a-b; after a fourfold along x.
  EXPECT_EQ(hall_codes("P 3 2").hash(), Spgr_descr("P 3 1 2", Spgr_descr::HM).hash());
  EXPECT_EQ(hall_codes("P 3 2")[2], code_of("-y,-x,-z"));
  EXPECT_EQ(hall_codes("P 4 2").hash(), Spgr_descr("P 4 2 2", Spgr_descr::HM).hash());
  EXPECT_EQ(hall_codes("P 4 2")[2], code_of("x,-y,-z"));
  EXPECT_EQ(hall_codes("P 2 2 3")[3], code_of("z,x,y"));
  // Only ', " and * select a rotation: a twofold marked '#' acts as the identity.
  EXPECT_EQ(hall_codes("P 2 2#")[2], Symop_code(0));
  // The list holds one code per word, not the expansion.
  EXPECT_EQ(hall_codes("P 2").size(), 2u);
  EXPECT_EQ(hall_codes("-P 1").size(), 3u);
  EXPECT_EQ(hall_codes("F 1").size(), 4u);
  EXPECT_EQ(hall_codes("P 61")[1], code_of("x-y,x,z+1/6"));
  // The change of basis "(0 0 1)" shifts the origin by c/12.
  EXPECT_EQ(hall_codes("P 65 2 (0 0 1)")[2], code_of("-y,-x,-z+1/6"));
  EXPECT_EQ(hall_codes("P 2 (x,y,z+1/12)").hash(), hall_codes("P 2 (0 0 1)").hash());
}

// Malformed symbols, corrupt operator lists and failed lookups are fatal.
TEST(Descriptor, FaultyInputsAreFatal) {
  const std::vector<std::pair<void (*)(), std::string>> cases = {
      {[] { hall_codes("P 1 2"); }, "Spacegroup: Missing x/y/z in Hall symb:2"},
      {[] { hall_codes("P 2 2 2 2"); }, "Spacegroup: Missing x/y/z in Hall symb:2"},
      {[] { hall_codes("P 2 x"); }, "Spacegroup: Missing order in Hall symb:x"},
      {[] { hall_codes(""); }, "Spacegroup: Empty Hall symbol"},  // not P 1
      {[] { Spgr_descr(" \t", Spgr_descr::Hall); }, "Spacegroup: Empty Hall symbol"},
      {[] { Codes().init_symops("x,y,z;2*x,y,z"); },
       "Spgr_descr: invalid symmetry operator:2*x,y,z"},
      {[] { Codes().init_symops("x,y,0"); }, "Spgr_descr: invalid symmetry operator:x,y,0"},
      // valid-looking shears multiply to elements no code holds; a 1/24
      // lattice of translations stops past 192 operators
      {[] { Spgr_descr("x+y,y,z;x,y+z,z;x,y,z+x"); },
       "Symop_code: rotation element outside -1..1 in operator (1 2 0; 0 1 0; 0 0 1)"},
      {[] { Spgr_descr("x+1/24,y,z;x,y+1/24,z;x,y,z+1/24"); },
       "Spgr_descr: operators generate more than 192 operators"},
      {[] { Spgr_descr("P 21 21 22", Spgr_descr::HM); }, "Spgr_descr: No such HM symbol"},
      {[] { Spgr_descr(231); }, "Spgr_descr: No such SG number"},
      {[] { Spgr_descr("0"); }, "Spgr_descr: No such SG number"},
      {[] { Spgr_descr("P 1", Spgr_descr::TYPE(7)); }, "Spgr_descr: Unknown space-group text type"},
      {[] { Spgr_descr("P 1", Spgr_descr::Hall); }, "no error"}};
  for (const auto& c : cases) EXPECT_EQ(vantrel_testing::fatal_text(c.first), c.second);
  EXPECT_EQ(hall_codes("-F 4 2 3").expand().size(), 192u);  // the largest group still expands
}

TEST(SymopCodes, SubsetsOfACentredCentricGroup) {
  const Codes all = hall_codes("-C 2yc").expand();
  const Codes inv = all.inversion_ops(), pn = all.primitive_noninversion_ops();
  ASSERT_TRUE(all.size() == 8u && inv.size() == 2u && pn.size() == 2u);
  EXPECT_EQ(inv[1].code_rot(), code_of("-x,-y,-z"));
  EXPECT_EQ(all.centering_ops().size(), 2u);
  EXPECT_EQ(all.primitive_ops().size(), 4u);
  for (const Symop_code& c : pn) EXPECT_GT(c.isymop().rot().det(), 0);
  EXPECT_EQ(all.laue_ops().hash(), data::lgdata[2].hash());  // 2/m, b unique
  EXPECT_EQ(all.pgrp_ops().size(), 4u);
  for (const Symop_code& c : all.pgrp_ops()) EXPECT_EQ(int(c.code_trn()), 0);
  EXPECT_EQ(all.patterson_ops().size(), 8u);  // 2/m with C centring
  EXPECT_EQ(decoded(pn.product(inv).product(all.centering_ops())), decoded(all));
}

TEST(SymopCodes, GeneratorsOfWorkedExamplesAndEveryTableGroup) {
  const std::map<std::string, std::vector<std::string>> cases = {
      {"P 1", {}},
      {"-P 1", {"-x,-y,-z"}},
      {"C 2y", {"x+1/2,y+1/2,z", "-x,y,-z"}},
      {"P 2ac 2ab", {"x+1/2,-y+1/2,-z", "-x,y+1/2,-z+1/2"}},
      {"-P 2ybc", {"-x,-y,-z", "-x,y+1/2,-z+1/2"}},
      {"R 3", {"x+2/3,y+1/3,z+1/3", "-x+y,-x,z"}},
  };
  for (const auto& c : cases) {
    Codes expected;
    for (const std::string& op : c.second) expected.push_back(code_of(op));
    EXPECT_EQ(hall_codes(c.first).generator_ops(), expected) << c.first;
  }
  for (int r = 0; r < data::sgdata_size; ++r) {
    const Codes all = hall_codes(data::sgdata[r].hall).expand();
    const Codes gens = all.generator_ops();
    EXPECT_EQ(decoded(gens.expand()), decoded(all)) << data::sgdata[r].hall;
    EXPECT_LE(gens.size(), 6u) << data::sgdata[r].hall;
  }
}

TEST(SymopCodes, HashesAreKnownAndUniqueExceptTheThreeAliasesOf68) {
  EXPECT_EQ(hall_codes("P 1").hash(), 0xc704dd7bu);
  EXPECT_EQ(hall_codes("-P 1").hash(), 0x2df60a45u);
  Codes with, without;  // neither the order nor the identity's presence matters
  with.init_symops("x,y,z;-x,y+1/2,-z");
  without.init_symops("-x,y+1/2,-z");
  EXPECT_EQ(with.hash(), without.hash());
  std::map<std::uint32_t, std::vector<int>> rows;
  for (int r = 0; r < data::sgdata_size; ++r) rows[data::sgdata[r].hash()].push_back(r);
  std::vector<std::string> shared;
  for (const auto& h : rows) {
    if (h.second.size() == 1) continue;
    ASSERT_EQ(h.second.size(), 2u);
    const data::Sgdata_row& a = data::sgdata[h.second[0]];
    const data::Sgdata_row& b = data::sgdata[h.second[1]];
    EXPECT_EQ(a.number, 68);
    EXPECT_EQ(std::string(a.hall), b.hall);
    shared.push_back(std::string(a.hm) + "/" + b.hm);
    // lookup by hash gives the first row
    EXPECT_EQ(Spgr_descr(a.hall, Spgr_descr::Hall).symbol_hm(), a.hm);
  }
  std::sort(shared.begin(), shared.end());
  EXPECT_EQ(shared,
            (std::vector<std::string>{"A b a a/A c a a", "B b c b/B b a b", "C c c a/C c c b"}));
}

TEST_F(PreferredSettings, LookupsFollowTheToolkitAndPreferences) {
  const auto rows = read_fixture("spacegroups_lookup.txt");
  ASSERT_GT(rows.size(), 230u);
  const auto lookup = [](const std::vector<std::string>& row) {
    return row[0] == "number" ? Spgr_descr(std::stoi(row[1])) : Spgr_descr(row[1], Spgr_descr::HM);
  };
  for (int column : {2, 3}) {  // default preferences, then settings 2 and R
    if (column == 3) Spgr_descr::set_preferred('2'), Spgr_descr::set_preferred('R');
    for (const auto& row : rows)
      EXPECT_EQ(lookup(row).hash(), Spgr_descr(row[column], Spgr_descr::Hall).hash())
          << row[0] << " " << row[1];
  }
  Spgr_descr::set_preferred('1'), Spgr_descr::set_preferred('H');
  EXPECT_EQ(Spgr_descr(68).symbol_hm(), "C c c a");
  EXPECT_EQ(Spgr_descr("C c c b", Spgr_descr::HM).symbol_hm(), "C c c a");
  Spgr_descr::set_preferred('3');  // ignored
  Spgr_descr::set_preferred('h');  // ignored
  EXPECT_EQ(Spgr_descr(146).symbol_hall(), "R 3");
  Spgr_descr::set_preferred('R');
  Spgr_descr::set_preferred('2');
  EXPECT_EQ(Spgr_descr(146).symbol_hall(), "P 3*");
  // lookups by hash ignore the preferences
  EXPECT_EQ(Spgr_descr("R 3", Spgr_descr::Hall).symbol_hm(), "R 3");
}

TEST(Descriptor, TextKindsAndGroupsOutsideTheTable) {
  const std::uint32_t p212121 = Spgr_descr(19).hash();
  EXPECT_EQ(Spgr_descr("19").hash(), p212121);
  EXPECT_EQ(Spgr_descr(" P 21 21 21 ").hash(), p212121);
  EXPECT_EQ(Spgr_descr("P 2ac 2ab").hash(), p212121);  // Hall, no H-M row
  EXPECT_EQ(Spgr_descr("19", Spgr_descr::Number).hash(), p212121);
  const char* shifted = "-P 2ac 2ab (0 0 1)";  // Hall, outside the table
  EXPECT_EQ(Spgr_descr(shifted).hash(), Spgr_descr(shifted, Spgr_descr::Hall).hash());
  EXPECT_EQ(Spgr_descr("x,y,z;-x,y+1/2,-z").hash(), Spgr_descr(4).hash());
  EXPECT_EQ(Spgr_descr("P 1 21 1").spacegroup_number(), 4);
  // an operator list names the group it generates
  const Spgr_descr d("-x,y+1/2,-z; -x,-y,-z", Spgr_descr::Symops);
  EXPECT_EQ(d.symbol_hm(), "P 1 21/m 1");
  EXPECT_EQ(d.generator_ops().expand().hash(), d.hash());
  for (const char* hall : {"P 2 (1 0 0)", "F 1"}) {
    const Spgr_descr d(hall, Spgr_descr::Hall);
    EXPECT_TRUE(d.symbol_hm() == "Unknown" && d.symbol_hall() == "Unknown") << hall;
    EXPECT_EQ(d.spacegroup_number(), 0);
  }
  EXPECT_EQ(Spgr_descr().hash(), 0u);
}
