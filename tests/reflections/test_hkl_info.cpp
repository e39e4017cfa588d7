#include "reflections/hkl_info.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "reflist_fixture.h"

using namespace vantrel;

namespace {

std::tuple<int, int, int> hkl_key(const HKL& h) { return std::make_tuple(h.h(), h.k(), h.l()); }

}  // namespace

// Blocks of the toolkit's reciprocal ASU per group: rows "h k l epsilon centric".
TEST(HKL_info, MatchesToolkitAsymmetricUnitsAndFindsEveryMate) {
  const std::vector<Reflist_block> blocks = read_reflist_fixture("reflist_asu.txt", 2);
  ASSERT_GE(blocks.size(), 10u);
  for (const Reflist_block& t : blocks) {
    SCOPED_TRACE(t.hall);
    const Spacegroup sg = t.spacegroup();
    const HKL_info list = t.list(t.dmin);
    const std::vector<Reflist_block::Row>& rows = t.tables.at("asu");
    ASSERT_EQ(list.num_reflections(), int(rows.size()));
    // Each toolkit reflection maps to a distinct stored one: the two lists
    // hold the same symmetry-equivalence classes.
    std::set<int> hit;
    int sym;
    bool friedel;
    for (const Reflist_block::Row& r : rows) {
      const int i = list.index_of(list.find_sym(r.hkl, sym, friedel));
      ASSERT_GE(i, 0) << r.hkl.format();
      hit.insert(i);
      if (r.hkl == HKL(0, 0, 0)) continue;  // the origin is centric by convention here
      EXPECT_EQ(list.hkl_class(i).epsilon(), int(r.v[0])) << r.hkl.format();
      EXPECT_EQ(list.hkl_class(i).centric(), r.v[1] != 0) << r.hkl.format();
    }
    EXPECT_EQ(hit.size(), rows.size());
    // Every symmetry and Friedel mate finds its stored reflection through a
    // primitive operator that maps it back. Stored order: h slowest, l fastest.
    Range<double> range;
    for (int i = 0; i < list.num_reflections(); ++i) {
      const HKL& asu = list.hkl_of(i);
      EXPECT_TRUE(i == 0 || hkl_key(list.hkl_of(i - 1)) < hkl_key(asu)) << asu.format();
      EXPECT_EQ(list.invresolsq(i), double(float(asu.invresolsq(list.cell()))));
      range.include(list.invresolsq(i));
      ASSERT_EQ(list.find_sym(asu, sym, friedel), asu);
      EXPECT_TRUE(sym == 0 && !friedel && list.index_of(asu) == i);
      for (int s = 0; s < sg.op_count(); ++s) {
        const HKL image_s = asu.transform(sg.isymop(s));
        for (const HKL& mate : {image_s, -image_s}) {
          ASSERT_EQ(list.find_sym(mate, sym, friedel), asu) << mate.format();
          ASSERT_LT(sym, sg.primitive_count());
          const HKL image = mate.transform(sg.isymop(sym));
          ASSERT_EQ(friedel ? -image : image, asu) << mate.format();
        }
      }
    }
    EXPECT_EQ(list.invresolsq_range().min(), range.min());
    EXPECT_EQ(list.invresolsq_range().max(), range.max());
    EXPECT_LT(range.max(), 1.0 / (t.dmin * t.dmin));
  }
}

TEST(HKL_info, AddingAndTheResolutionLimit) {
  // In a cubic 8 A cell, 1/d^2 of (4,0,0) is exactly 1/2^2: generation
  // leaves it out, adding takes it; (4,0,1) lies beyond the limit.
  HKL_info p1(Spacegroup(Spacegroup::P1), cubic_cell(8.0), Resolution(2.0), true);
  EXPECT_LT(p1.index_of(HKL(4, 0, 0)), 0);
  EXPECT_GE(p1.index_of(HKL(3, 0, 0)), 0);
  const int n = p1.num_reflections();
  p1.add_hkl_list({HKL(4, 0, 0), HKL(4, 0, 1)});
  EXPECT_EQ(p1.num_reflections(), n + 1);
  EXPECT_EQ(p1.index_of(HKL(4, 0, 0)), n);
  const Spacegroup sg(Spgr_descr("P 2ac 2ab", Spgr_descr::Hall));
  HKL_info list(sg, cubic_cell(20.0), Resolution(2.0), false);
  EXPECT_EQ(list.invresolsq_range().min(), 999999999.0);
  EXPECT_EQ(list.invresolsq_range().max(), -999999999.0);
  // Two equivalents in one call are stored once, in their ASU form; listed
  // indices are not added again.
  list.add_hkl_list({HKL(1, 2, 3), HKL(-1, 2, -3), HKL(2, 1, 1)});
  list.add_hkl_list({HKL(-1, -2, -3), HKL(2, 1, 1)});
  ASSERT_EQ(list.num_reflections(), 2);
  EXPECT_EQ(list.index_of(list.hkl_of(0)), 0);
  EXPECT_TRUE(sg.recip_asu(list.hkl_of(0)));
  // index_of applies no symmetry; indices outside every range give -1.
  for (const HKL& h : {HKL(-1, -2, -3), HKL(50, 0, 0), HKL(1, -50, 0)})
    EXPECT_EQ(list.index_of(h), -1) << h.format();
}

TEST(HKL_info, NullParametersLeaveTheListAlone) {
  HKL_info list(Spacegroup(Spacegroup::P1), cubic_cell(10.0), Resolution(3.0), true);
  const int n = list.num_reflections();
  list.init(Spacegroup(Spacegroup::P1), Cell(), Resolution(2.0), true);
  EXPECT_TRUE(list.is_null());
  EXPECT_EQ(list.num_reflections(), n);
  EXPECT_EQ(list.index_of(list.hkl_of(n - 1)), n - 1);
  HKL_info none;  // no limits to generate within
  none.generate_hkl_list();
  EXPECT_EQ(none.num_reflections(), 0);
}

TEST(HKL_info, SamplingDecidesTheReflections) {
  const Spacegroup sg(Spgr_descr("C 2y", Spgr_descr::Hall));
  const Cell cell(Cell_descr(40, 12, 15, 90, 101.7, 90));
  const HKL_sampling sampling(cell, Resolution(2.5));
  HKL_info from_sampling, again;
  from_sampling.init(sg, cell, sampling, true);
  EXPECT_EQ(from_sampling.hkl_sampling(), sampling);
  EXPECT_NEAR(from_sampling.resolution().limit(), 2.5, 0.01);
  // The sampling alone decides the list, whatever the cell.
  again.init(sg, Cell(Cell_descr(43, 11, 16, 90, 95, 90)), sampling, true);
  ASSERT_EQ(again.num_reflections(), from_sampling.num_reflections());
  for (int i = 0; i < again.num_reflections(); ++i)
    EXPECT_EQ(again.hkl_of(i), from_sampling.hkl_of(i));
  // It holds the reflections of the resolution form at its limit, up to
  // those the truncated integer form moves across the limit.
  const HKL_info by_resolution(sg, cell, from_sampling.resolution(), true);
  for (int i = 0; i < from_sampling.num_reflections(); ++i)
    EXPECT_GE(by_resolution.index_of(from_sampling.hkl_of(i)), 0);
  EXPECT_NEAR(by_resolution.num_reflections(), from_sampling.num_reflections(), 2);
}
