#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <vector>

#include "foundation/instance.h"
#include "foundation/message.h"
#include "support/testing.h"
#include "symmetry/spacegroup.h"

using namespace vantrel;

namespace {

Spacegroup hall(const char* symbol) { return Spacegroup(Spgr_descr(symbol, Spgr_descr::Hall)); }

std::vector<std::string> formats(const Spacegroup& sg) {
  std::vector<std::string> ops;
  for (int i = 0; i < sg.op_count(); i++) ops.push_back(sg.symop(i).format());
  return ops;
}

void expect_asu_max(const char* symbol, double x, double y, double z) {
  EXPECT_TRUE(hall(symbol).asu_max().equals(Coord_frac(x, y, z), 1e-9)) << symbol;
}

ObjectCache<Spgr_cacheobj>& cache() {
  return VantrelInstantiator::instance().cache<Spgr_cacheobj>();
}

}  // namespace

TEST(Spacegroup, NullP1AndCanonicalOperatorOrder) {
  EXPECT_TRUE(Spacegroup().is_null());
  EXPECT_EQ(Spacegroup().op_count(), 0);
  EXPECT_TRUE(Spacegroup(Spgr_descr()).is_null());  // the null descriptor names no group
  const Spacegroup p1(Spacegroup::P1);
  EXPECT_TRUE(p1.op_count() == 1 && p1.spacegroup_number() == 1);
  EXPECT_TRUE(p1.asu_min().equals(Coord_frac(-0.0001, -0.0001, -0.0001), 1e-12));
  const Spacegroup pbar1 = hall("-P 1");
  EXPECT_EQ(formats(pbar1), (std::vector<std::string>{"x, y, z", "-x, -y, -z"}));
  EXPECT_EQ(pbar1.noninversion_count(), 1);
  EXPECT_EQ(pbar1.inversion_count(), 2);
  EXPECT_EQ(formats(hall("-P 2ybc")), (std::vector<std::string>{"x, y, z", "-x, y+1/2, -z+1/2",
                                                                "-x, -y, -z", "x, -y+1/2, z+1/2"}));
  const Spacegroup c2 = hall("C 2y");
  EXPECT_EQ(formats(c2), (std::vector<std::string>{"x, y, z", "-x, y, -z", "x+1/2, y+1/2, z",
                                                   "-x+1/2, y+1/2, -z"}));
  EXPECT_EQ(c2.primitive_count(), 2);
  const Spacegroup r3 = hall("R 3");
  EXPECT_EQ(formats(r3),
            (std::vector<std::string>{"x, y, z", "-x+y, -x, z", "-y, x-y, z", "x+2/3, y+1/3, z+1/3",
                                      "-x+y+2/3, -x+1/3, z+1/3", "-y+2/3, x-y+1/3, z+1/3",
                                      "x+1/3, y+2/3, z+2/3", "-x+y+1/3, -x+2/3, z+2/3",
                                      "-y+1/3, x-y+2/3, z+2/3"}));
  // the primitive operators come in ascending code order
  for (int i = 1; i < r3.primitive_count(); i++)
    EXPECT_LT(int(Symop_code(r3.symop(i - 1))), int(Symop_code(r3.symop(i))));
  testing::internal::CaptureStdout();
  hall("P 2yb").debug();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "4 2 2 P 2yb\n0: x, y, z\n1: -x, y+1/2, -z\n");
  EXPECT_EQ(hall("-F 4 2 3").op_count(), 192);
  // the integer operators are the same operators on the 24 grid
  const Spacegroup ia3d = hall("-I 4bd 2c 3");
  for (int i = 0; i < ia3d.op_count(); i++)
    EXPECT_TRUE(Symop_code(ia3d.isymop(i)) == Symop_code(ia3d.symop(i)));
}

TEST(Spacegroup, AsuBoxesAxesAndProducts) {
  expect_asu_max("P 1", 0.9999, 0.9999, 0.9999);
  expect_asu_max("-P 1", 0.9999, 0.5001, 0.9999);
  expect_asu_max("C 2y", 0.5001, 0.4999, 0.9999);
  expect_asu_max("R 3", 1.0 / 3 + 0.0001, 1.0 / 3 + 0.0001, 0.9999);
  expect_asu_max("P 3*", 0.9999, 0.9999, 0.9999);
  expect_asu_max("P 2y", 0.5001, 0.9999, 0.9999);
  expect_asu_max("P 2", 0.9999, 0.5001, 0.9999);
  expect_asu_max("P 6 2", 2.0 / 3 + 0.0001, 1.0 / 3 + 0.0001, 0.5001);
  expect_asu_max("-I 4bd 2c 3", 0.4999, 0.1251, 0.2501);
  EXPECT_EQ(hall("P 4").order_of_symmetry_about_axis(Spacegroup::C), 4);
  EXPECT_EQ(hall("P 4").order_of_symmetry_about_axis(Spacegroup::A), 1);
  EXPECT_EQ(hall("P 2y").order_of_symmetry_about_axis(Spacegroup::B), 2);
  EXPECT_EQ(hall("P 2yb").inverse_op(1), 1);
  const Spacegroup p61 = hall("P 61");
  for (int i = 0; i < p61.op_count(); i++)
    EXPECT_EQ(p61.symop(p61.product_op(i, i)).format(),
              Symop(p61.symop(i) * p61.symop(i)).format());
}

// Every row builds, finds its Laue row with no ASU warning (made fatal here),
// and has closed product and inverse tables.
TEST(Spacegroup, AllTableRows) {
  const std::pair<int, const char*> laue_by_number[] = {
      {2, "-1"},    {15, "2/m"},  {74, "mmm"},    {88, "4/m"},  {142, "4/mmm"}, {148, "-3"},
      {167, "-3m"}, {176, "6/m"}, {194, "6/mmm"}, {206, "m-3"}, {230, "m-3m"}};
  cache().purge();  // entries must be built under the raised fatal level
  const int fatal_level = Message::fatal_level();
  Message::set_fatal_level(Message_warn::level);
  for (int row = 0; row < data::sgdata_size; row++) {
    const data::Sgdata_row& r = data::sgdata[row];
    Spacegroup sg;
    ASSERT_NO_THROW(sg = hall(r.hall)) << r.hall;
    int bin = 0;
    while (r.number > laue_by_number[bin].first) bin++;
    EXPECT_EQ(sg.symbol_laue(), laue_by_number[bin].second) << r.hall;
    EXPECT_EQ(sg.op_count() % sg.primitive_count(), 0);
    for (int i = 0; i < sg.op_count(); i++) {
      const int inv = sg.inverse_op(i);
      EXPECT_EQ(sg.product_op(i, inv), 0) << r.hall;
      EXPECT_EQ(sg.product_op(inv, i), 0) << r.hall;
      std::set<int> row_products;
      for (int j = 0; j < sg.op_count(); j++) row_products.insert(sg.product_op(i, j));
      EXPECT_EQ(int(row_products.size()), sg.op_count()) << r.hall;  // a permutation
    }
  }
  Message::set_fatal_level(fatal_level);
}

// A twofold along a+2b (hexagonal) has no Laue row: a warning names its hash,
// then it fails and the group keeps its old value.
TEST(Spacegroup, LaueGroupOutsideTheTableIsFatal) {
  vantrel_testing::Quiet_messages quiet;
  Spacegroup sg = hall("P 2");
  EXPECT_THROW(sg.init(Spgr_descr("-x,-x+y,-z", Spgr_descr::Symops)), Message_fatal);
  EXPECT_EQ(quiet.text(),
            "Spacegroup_registry: ASU warning, LGhash=0xae2632a3\nSpacegroup_registry: ASU fail\n");
  EXPECT_EQ(sg.symbol_hall(), "P 2");
}

TEST(Spacegroup, EqualGroupsShareOneCacheEntry) {
  cache().purge();
  const int entries = cache().size();
  {
    const Spacegroup a(Spgr_descr("P 21 21 21", Spgr_descr::HM));
    const Spacegroup b(Spgr_descr(19));
    EXPECT_EQ(cache().size(), entries + 1);
    EXPECT_EQ(cache().lookup(b).use_count(), 3);  // a, b and the probe
    const Spacegroup c = a;
    EXPECT_EQ(cache().lookup(a).use_count(), 4);
    EXPECT_EQ(&c.symop(0), &b.symop(0));  // one shared table
  }
  EXPECT_EQ(cache().lookup(Spgr_descr(19)).use_count(), 1);  // only the probe
  cache().purge();
  EXPECT_EQ(cache().size(), entries);  // the released entry is freed
  Spacegroup moved = hall("P 2yb");
  moved.init(Spgr_descr("P 2ac 2ab", Spgr_descr::Hall));  // init moves the reference
  EXPECT_EQ(cache().lookup(Spgr_descr(4)).use_count(), 1);
  EXPECT_EQ(moved.spacegroup_number(), 19);
}

// Invariant when every operator with negated translation is in the group:
// centred rhombohedral groups are, enantiomorphic screw groups are not.
TEST(Spacegroup, InvariantUnderChangeOfHand) {
  for (int row = 0; row < data::sgdata_size; row++)  // inversion at the origin
    EXPECT_TRUE(data::sgdata[row].hall[0] != '-' ||
                hall(data::sgdata[row].hall).invariant_under_change_of_hand())
        << data::sgdata[row].hall;
  for (const char* s :
       {"P 1", "R 3", "R 3 2\"", "R 3 -2\"c", "P 3*", "P 2ac 2ab", "I 2b 2c", "C 2y", "P 4n 2 3"})
    EXPECT_TRUE(hall(s).invariant_under_change_of_hand()) << s;
  for (int number : {76,  78,  91,  95,  92,  96,  144, 145, 151, 153, 152,
                     154, 169, 170, 171, 172, 178, 179, 180, 181, 212, 213})
    EXPECT_FALSE(Spacegroup(Spgr_descr(number)).invariant_under_change_of_hand()) << number;
  for (const char* s : {"I 4bw", "F 4d 2 3"})  // the origin lies off the screw axes
    EXPECT_FALSE(hall(s).invariant_under_change_of_hand()) << s;
}

TEST(Spacegroup, SymmetryCopyNear) {
  const Cell cell(Cell_descr(30, 40, 50, 90, 100, 90));
  const Coord_frac f(0.9, 0.1, 0.5), ref(0.05, 0.05, 0.5);
  const Coord_frac p1 = f.symmetry_copy_near(Spacegroup(Spacegroup::P1), cell, ref);
  EXPECT_TRUE(p1.equals(Coord_frac(-0.1, 0.1, 0.5), 1e-12));
  EXPECT_NEAR(f.symmetry_copy_near(Spacegroup(), cell, ref).u(), 0.9, 1e-12);
  // P 1 21/c 1: the closest of all copies and lattice translates
  const Spacegroup sg = hall("-P 2ybc");
  const Coord_frac g(0.31, 0.77, 0.12), to(0.6, 0.1, 0.9);
  const Coord_frac near = g.symmetry_copy_near(sg, cell, to);
  double best = 1e9;
  for (int k = 0; k < sg.op_count(); k++) {
    const Coord_frac c(sg.symop(k) * g);
    for (int du = -2; du <= 2; du++)
      for (int dv = -2; dv <= 2; dv++)
        for (int dw = -2; dw <= 2; dw++)
          best = std::min(best, (c + Coord_frac(du, dv, dw) - to).lengthsq(cell));
  }
  EXPECT_NEAR((near - to).lengthsq(cell), best, 1e-9);
  // An exact tie of the identity and the inversion copies: the distance of
  // the stored copy (ref + offset) - ref decides, here for the inversion.
  const Coord_frac tie =
      Coord_frac(0.1125, 5.0 / 6.0, 0.5)
          .symmetry_copy_near(hall("-P 1"), Cell(Cell_descr(40, 50, 60, 90, 90, 90)),
                              Coord_frac(0.5, 1.5, 10.0 / 3.0));
  EXPECT_TRUE(tie.equals(Coord_frac(0.8875, 7.0 / 6.0, 3.5), 1e-12));
}
