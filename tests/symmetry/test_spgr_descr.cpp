// Space-group descriptor: Hall parsing against an independent toolkit's
// operator sets, table lookups, hashes, generators and the error paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <map>
#include <sstream>

#include "foundation/message.h"
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
    Op12 o;
    for (int i = 0; i < 9; ++i) o[i] = op.rot()(i / 3, i % 3);
    for (int i = 0; i < 3; ++i) o[9 + i] = op.trn()[i];
    ops.push_back(o);
  }
  std::sort(ops.begin(), ops.end());
  return ops;
}

std::vector<Op12> parse_ops(const std::string& text) {
  std::vector<Op12> ops;
  for (const String& op : String(text).split(";")) {
    std::istringstream in(op);
    Op12 o;
    for (int& v : o) in >> v;
    ops.push_back(o);
  }
  return ops;
}

std::vector<std::vector<std::string>> read_fixture(const std::string& name) {
  std::ifstream in(std::string(VANTREL_TEST_DATA) + "/" + name);
  EXPECT_TRUE(in.good()) << name;
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> cols;
    std::istringstream ls(line);
    for (std::string col; std::getline(ls, col, '\t');) cols.push_back(col);
    rows.push_back(cols);
  }
  return rows;
}

Codes hall_codes(const String& hall) {
  Codes c;
  c.init_hall(hall);
  return c;
}

Symop_code code_of(const String& op) { return Symop_code(Symop(RTop_frac(op))); }

// The fatal message text that a call raises, or "" when it raises none.
template <class F> std::string fatal_text(F f) {
  std::ostringstream sink;
  Message::set_stream(sink);
  std::string text;
  try {
    f();
  } catch (const Message_fatal& m) {
    text = m.text();
  }
  Message::set_stream(std::cerr);
  return text;
}

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
  // Any mark keeps the default axis x away, but only ', " and * select a
  // rotation: a twofold marked '#' lies along z and acts as the identity.
  EXPECT_EQ(hall_codes("P 2 2#")[2], Symop_code(0));
  // The list holds one code per word, not the expansion.
  EXPECT_EQ(hall_codes("P 2").size(), 2u);
  EXPECT_EQ(hall_codes("-P 1").size(), 3u);
  EXPECT_EQ(hall_codes("-P 1").expand().size(), 2u);
  EXPECT_EQ(hall_codes("F 1").size(), 4u);
  EXPECT_EQ(hall_codes("F 1").expand().size(), 4u);
  EXPECT_EQ(hall_codes("P 61")[1], code_of("x-y,x,z+1/6"));
  // The change of basis "(0 0 1)" shifts the origin by c/12.
  EXPECT_EQ(hall_codes("P 65 2 (0 0 1)")[2], code_of("-y,-x,-z+1/6"));
  EXPECT_EQ(hall_codes("P 2 (x,y,z+1/12)").hash(), hall_codes("P 2 (0 0 1)").hash());
}

TEST(HallParser, MalformedSymbolsAreFatal) {
  EXPECT_EQ(fatal_text([] { hall_codes("P 1 2"); }),
            "Spacegroup: Missing x/y/z in Hall symb:2");
  EXPECT_EQ(fatal_text([] { hall_codes("P 2 2 2 2"); }),
            "Spacegroup: Missing x/y/z in Hall symb:2");
  EXPECT_EQ(fatal_text([] { hall_codes("P 2 x"); }),
            "Spacegroup: Missing order in Hall symb:x");
  // No lattice word at all: an empty or blank text is an error, not P 1.
  EXPECT_EQ(fatal_text([] { hall_codes(""); }), "Spacegroup: Empty Hall symbol");
  EXPECT_EQ(fatal_text([] { Spgr_descr(" \t", Spgr_descr::Hall); }),
            "Spacegroup: Empty Hall symbol");
}

TEST(SymopCodes, CorruptOperatorListsAreFatal) {
  Codes c;
  EXPECT_EQ(fatal_text([&] { c.init_symops("x,y,z;2*x,y,z"); }),
            "Spgr_descr: invalid symmetry operator:2*x,y,z");
  EXPECT_EQ(fatal_text([&] { c.init_symops("x,y,0"); }),
            "Spgr_descr: invalid symmetry operator:x,y,0");
  // Operators that each look valid can still generate far more than any
  // space group: shears (folded modulo 3 by the codes) or a 1/24 lattice
  // of translations. The expansion stops past the largest group size.
  c.init_symops("x+y,y,z;x,y+z,z;x,y,z+x");
  EXPECT_EQ(fatal_text([&] { c.expand(); }),
            "Spgr_descr: operators generate more than 192 operators");
  EXPECT_EQ(fatal_text([] { Spgr_descr("x+1/24,y,z;x,y+1/24,z;x,y,z+1/24"); }),
            "Spgr_descr: operators generate more than 192 operators");
  // The largest group still expands.
  EXPECT_EQ(hall_codes("-F 4 2 3").expand().size(), 192u);
}

TEST(SymopCodes, HashesOfTheIdentityAndInversion) {
  EXPECT_EQ(hall_codes("P 1").hash(), 0xc704dd7bu);
  EXPECT_EQ(hall_codes("-P 1").hash(), 0x2df60a45u);
  EXPECT_EQ(data::sgdata[0].hash(), 0xc704dd7bu);
  EXPECT_EQ(data::sgdata[1].hash(), 0x2df60a45u);
  // The order of the operators does not matter.
  Codes a, b;
  a.init_symops("x,y,z;-x,y+1/2,-z");
  b.init_symops("-x,y+1/2,-z");
  EXPECT_EQ(a.hash(), b.hash());
}

TEST(SymopCodes, SubsetsOfACentredCentricGroup) {
  // C 1 2/c 1: 2 centring translations x (2/m with a c glide).
  const Codes all = hall_codes("-C 2yc").expand();
  ASSERT_EQ(all.size(), 8u);
  const Codes inv = all.inversion_ops();
  ASSERT_EQ(inv.size(), 2u);
  EXPECT_EQ(inv[1].code_rot(), code_of("-x,-y,-z"));
  EXPECT_EQ(all.centering_ops().size(), 2u);
  EXPECT_EQ(all.primitive_ops().size(), 4u);
  const Codes pn = all.primitive_noninversion_ops();
  ASSERT_EQ(pn.size(), 2u);
  for (const Symop_code& c : pn) EXPECT_GT(c.isymop().rot().det(), 0);
  EXPECT_EQ(all.laue_ops().hash(), data::lgdata[2].hash());  // 2/m, b unique
  EXPECT_EQ(all.pgrp_ops().size(), 4u);
  for (const Symop_code& c : all.pgrp_ops()) EXPECT_EQ(int(c.code_trn()), 0);
  EXPECT_EQ(all.patterson_ops().size(), 8u);  // 2/m with C centring
  // Primitive part times inversion times centring rebuilds the group.
  const Codes rebuilt = pn.product(inv).product(all.centering_ops());
  EXPECT_EQ(rebuilt.size(), 8u);
  EXPECT_EQ(decoded(rebuilt), decoded(all));
}

TEST(SymopCodes, GeneratorsOfTheWorkedExamples) {
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
}

TEST(SymopCodes, GeneratorsReproduceEveryTableGroup) {
  for (int r = 0; r < data::sgdata_size; ++r) {
    const Codes all = hall_codes(data::sgdata[r].hall).expand();
    const Codes gens = all.generator_ops();
    EXPECT_EQ(decoded(gens.expand()), decoded(all)) << data::sgdata[r].hall;
    EXPECT_LE(gens.size(), 6u) << data::sgdata[r].hall;
  }
}

TEST(SpacegroupTable, HashesAreUniqueExceptTheThreeAliasesOf68) {
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
    // Every lookup by hash gives the first of the two rows.
    EXPECT_EQ(Spgr_descr(a.hall, Spgr_descr::Hall).symbol_hm(), a.hm);
  }
  std::sort(shared.begin(), shared.end());
  EXPECT_EQ(shared, (std::vector<std::string>{"A b a a/A c a a", "B b c b/B b a b",
                                              "C c c a/C c c b"}));
}

TEST_F(PreferredSettings, NumberAndSymbolLookupsFollowTheToolkit) {
  const auto rows = read_fixture("spacegroups_lookup.txt");
  ASSERT_GT(rows.size(), 230u);
  const auto lookup = [](const std::vector<std::string>& row) {
    return row[0] == "number" ? Spgr_descr(std::stoi(row[1]))
                              : Spgr_descr(row[1], Spgr_descr::HM);
  };
  for (const auto& row : rows) {
    EXPECT_EQ(lookup(row).hash(), Spgr_descr(row[2], Spgr_descr::Hall).hash())
        << row[0] << " " << row[1];
  }
  Spgr_descr::set_preferred('2');
  Spgr_descr::set_preferred('R');
  for (const auto& row : rows) {
    EXPECT_EQ(lookup(row).hash(), Spgr_descr(row[3], Spgr_descr::Hall).hash())
        << row[0] << " " << row[1];
  }
}

TEST_F(PreferredSettings, PreferredRowsAndSymbolsOfHashes) {
  EXPECT_EQ(Spgr_descr(146).symbol_hall(), "R 3");
  EXPECT_EQ(Spgr_descr(48).symbol_hall(), "P 2 2 -1n");
  EXPECT_EQ(Spgr_descr(68).symbol_hm(), "C c c a");
  EXPECT_EQ(Spgr_descr("C c c b", Spgr_descr::HM).symbol_hm(), "C c c a");
  Spgr_descr::set_preferred('3');  // ignored
  Spgr_descr::set_preferred('h');  // ignored
  EXPECT_EQ(Spgr_descr(146).symbol_hall(), "R 3");
  EXPECT_EQ(Spgr_descr(48).symbol_hall(), "P 2 2 -1n");
  Spgr_descr::set_preferred('R');
  Spgr_descr::set_preferred('2');
  EXPECT_EQ(Spgr_descr(146).symbol_hall(), "P 3*");
  EXPECT_EQ(Spgr_descr(146).spacegroup_number(), 146);
  EXPECT_EQ(Spgr_descr(48).symbol_hall(), "-P 2ab 2bc");
  EXPECT_EQ(Spgr_descr("R 3", Spgr_descr::HM).symbol_hall(), "P 3*");
  // Lookups by hash ignore the preferences.
  EXPECT_EQ(Spgr_descr("R 3", Spgr_descr::Hall).symbol_hm(), "R 3");
}

TEST(Descriptor, TextKindsAreDetected) {
  const std::uint32_t p212121 = Spgr_descr(19).hash();
  EXPECT_EQ(Spgr_descr("19").hash(), p212121);
  EXPECT_EQ(Spgr_descr(" P 21 21 21 ").hash(), p212121);
  EXPECT_EQ(Spgr_descr("P 2ac 2ab").hash(), p212121);  // Hall, no H-M row
  EXPECT_EQ(Spgr_descr("19", Spgr_descr::Number).hash(), p212121);
  EXPECT_EQ(Spgr_descr("P 2ac 2ab", Spgr_descr::Hall).symbol_hm(), "P 21 21 21");
  EXPECT_EQ(Spgr_descr("-P 2ac 2ab (0 0 1)").hash(),
            Spgr_descr("-P 2ac 2ab (0 0 1)", Spgr_descr::Hall).hash());
  EXPECT_EQ(Spgr_descr("x,y,z;-x,y+1/2,-z").hash(), Spgr_descr(4).hash());
  EXPECT_EQ(Spgr_descr("P 1 21 1", Spgr_descr::HM).hash(), Spgr_descr(4).hash());
  EXPECT_EQ(Spgr_descr("P 2yb", Spgr_descr::Hall).hash(), Spgr_descr(4).hash());
  EXPECT_EQ(Spgr_descr("P 1 21 1").spacegroup_number(), 4);
  // From an operator list: the group, not only the listed operators.
  Codes ops;
  ops.init_symops("-x,y+1/2,-z; -x,-y,-z");
  const Spgr_descr d(ops);
  EXPECT_EQ(d.symbol_hm(), "P 1 21/m 1");
  EXPECT_EQ(d.generator_ops().expand().hash(), d.hash());
}

TEST(Descriptor, GroupsOutsideTheTable) {
  for (const char* hall : {"P 2 (1 0 0)", "F 1"}) {
    const Spgr_descr d(hall, Spgr_descr::Hall);
    EXPECT_EQ(d.symbol_hm(), "Unknown");
    EXPECT_EQ(d.symbol_hall(), "Unknown");
    EXPECT_EQ(d.spacegroup_number(), 0);
  }
  const Spgr_descr null;
  EXPECT_EQ(null.hash(), 0u);
  EXPECT_TRUE(null.generator_ops().empty());
}

TEST(Descriptor, LookupFailuresAreFatal) {
  EXPECT_EQ(fatal_text([] { Spgr_descr("P 21 21 22", Spgr_descr::HM); }),
            "Spgr_descr: No such HM symbol");
  EXPECT_EQ(fatal_text([] { Spgr_descr(231); }), "Spgr_descr: No such SG number");
  EXPECT_EQ(fatal_text([] { Spgr_descr("0"); }), "Spgr_descr: No such SG number");
  EXPECT_EQ(fatal_text([] { Spgr_descr("P 1", Spgr_descr::TYPE(7)); }),
            "Spgr_descr: Unknown space-group text type");
  EXPECT_EQ(fatal_text([] { Spgr_descr("P 1", Spgr_descr::Hall); }), "");
}
