#include "reflections/hkl_info.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "reflist_fixture.h"

using namespace vantrel;

namespace {

// Blocks of a space group, cell and limit with every reflection of the
// toolkit's reciprocal ASU: rows "h k l epsilon centric".
const std::vector<Reflist_block>& toolkit_lists() {
  static const std::vector<Reflist_block> lists = read_reflist_fixture("reflist_asu.txt");
  return lists;
}

HKL negated(const HKL& h) { return HKL(-h.h(), -h.k(), -h.l()); }

Cell cubic_cell(double a) { return Cell(Cell_descr(a, a, a, 90, 90, 90)); }

}  // namespace

TEST(HKL_info, ListsEqualToolkitAsymmetricUnits) {
  ASSERT_GE(toolkit_lists().size(), 10u);
  for (const Reflist_block& t : toolkit_lists()) {
    SCOPED_TRACE(t.hall);
    const HKL_info list = t.generated_list();
    const std::vector<Reflist_block::Row>& rows = t.tables.at("asu");
    ASSERT_EQ(list.num_reflections(), int(rows.size()));
    // Each toolkit reflection maps to a distinct stored one: the two lists
    // hold the same symmetry-equivalence classes.
    std::set<int> hit;
    for (const Reflist_block::Row& r : rows) {
      int sym;
      bool friedel;
      const int i = list.index_of(list.find_sym(r.hkl, sym, friedel));
      ASSERT_GE(i, 0) << r.hkl.format();
      hit.insert(i);
      if (r.hkl == HKL(0, 0, 0)) continue;  // the origin is centric by convention here
      EXPECT_EQ(list.hkl_class(i).epsilon(), int(r.x)) << r.hkl.format();
      EXPECT_EQ(list.hkl_class(i).centric(), r.y != 0) << r.hkl.format();
    }
    EXPECT_EQ(hit.size(), rows.size());
  }
}

TEST(HKL_info, FindSymReachesEveryMateWithItsOperator) {
  for (const Reflist_block& t : toolkit_lists()) {
    SCOPED_TRACE(t.hall);
    const Spacegroup sg = t.spacegroup();
    const HKL_info list = t.generated_list();
    for (int i = 0; i < list.num_reflections(); ++i) {
      const HKL& asu = list.hkl_of(i);
      int sym;
      bool friedel;
      ASSERT_EQ(list.find_sym(asu, sym, friedel), asu);
      EXPECT_EQ(sym, 0);
      EXPECT_FALSE(friedel);
      for (int s = 0; s < sg.op_count(); ++s)
        for (const HKL& mate : {asu.transform(sg.isymop(s)), negated(asu.transform(sg.isymop(s)))}) {
          const HKL found = list.find_sym(mate, sym, friedel);
          ASSERT_EQ(found, asu) << mate.format();
          ASSERT_LT(sym, sg.primitive_count());
          const HKL image = mate.transform(sg.isymop(sym));
          ASSERT_EQ(friedel ? negated(image) : image, asu) << mate.format();
        }
    }
  }
}

TEST(HKL_info, GenerationOrderAndCachedValues) {
  const Cell cell(Cell_descr(20, 25, 30, 90, 100, 90));
  const HKL_info list(Spacegroup(Spgr_descr("-P 2ybc", Spgr_descr::Hall)), cell, Resolution(3.0),
                      true);
  ASSERT_GT(list.num_reflections(), 100);
  Range<double> range;
  for (HKL_info::HKL_reference_index ih = list.first(); !ih.last(); ih.next()) {
    const HKL& h = ih.hkl();
    if (ih.index() > 0) {  // h slowest, l fastest, not sorted by resolution
      const HKL& p = list.hkl_of(ih.index() - 1);
      EXPECT_LT(std::make_tuple(p.h(), p.k(), p.l()), std::make_tuple(h.h(), h.k(), h.l()));
    }
    EXPECT_EQ(ih.invresolsq(), double(float(h.invresolsq(cell))));
    EXPECT_EQ(list.index_of(h), ih.index());
    range.include(ih.invresolsq());
  }
  EXPECT_EQ(list.invresolsq_range().min(), range.min());
  EXPECT_EQ(list.invresolsq_range().max(), range.max());
  EXPECT_LT(range.max(), 1.0 / 9.0);
}

TEST(HKL_info, AddingAndTheResolutionLimit) {
  // In a cubic 8 A cell, 1/d^2 of (4,0,0) is exactly 1/2^2: generation
  // leaves it out, adding takes it.
  HKL_info p1(Spacegroup(Spacegroup::P1), cubic_cell(8.0), Resolution(2.0), true);
  EXPECT_LT(p1.index_of(HKL(4, 0, 0)), 0);
  EXPECT_GE(p1.index_of(HKL(3, 0, 0)), 0);
  const int n = p1.num_reflections();
  p1.add_hkl_list({HKL(4, 0, 0), HKL(4, 0, 1)});  // (4,0,1) lies beyond the limit
  EXPECT_EQ(p1.num_reflections(), n + 1);
  EXPECT_EQ(p1.index_of(HKL(4, 0, 0)), n);

  const Spacegroup sg(Spgr_descr("P 2ac 2ab", Spgr_descr::Hall));
  HKL_info list(sg, cubic_cell(20.0), Resolution(2.0), false);
  EXPECT_EQ(list.invresolsq_range().min(), 999999999.0);
  EXPECT_EQ(list.invresolsq_range().max(), -999999999.0);
  // Two equivalents in one call are both appended in their ASU form; the
  // lookup gives the later position. Listed indices are not added again.
  list.add_hkl_list({HKL(1, 2, 3), HKL(-1, 2, -3), HKL(2, 1, 1)});
  list.add_hkl_list({HKL(-1, -2, -3), HKL(2, 1, 1)});
  ASSERT_EQ(list.num_reflections(), 3);
  EXPECT_EQ(list.hkl_of(0), list.hkl_of(1));
  EXPECT_EQ(list.index_of(list.hkl_of(0)), 1);
  EXPECT_TRUE(sg.recip_asu(list.hkl_of(0)));
  // index_of applies no symmetry; indices outside every range give -1.
  EXPECT_EQ(list.index_of(HKL(-1, -2, -3)), -1);
  EXPECT_EQ(list.index_of(HKL(50, 0, 0)), -1);
  EXPECT_EQ(list.index_of(HKL(1, -50, 0)), -1);
}

TEST(HKL_info, NullParametersLeaveTheListAlone) {
  HKL_info list(Spacegroup(Spacegroup::P1), cubic_cell(10.0), Resolution(3.0), true);
  const int n = list.num_reflections();
  list.init(Spacegroup(Spacegroup::P1), Cell(), Resolution(2.0), true);
  EXPECT_TRUE(list.is_null());
  EXPECT_EQ(list.num_reflections(), n);
  EXPECT_EQ(list.index_of(list.hkl_of(n - 1)), n - 1);
  // A null list has no limits to generate within.
  HKL_info none;
  none.generate_hkl_list();
  EXPECT_EQ(none.num_reflections(), 0);
}

TEST(HKL_info, SamplingDecidesTheReflections) {
  const Spacegroup sg(Spgr_descr("C 2y", Spgr_descr::Hall));
  const Cell cell(Cell_descr(40, 12, 15, 90, 101.7, 90));
  const HKL_sampling sampling(cell, Resolution(2.5));
  HKL_info from_sampling;
  from_sampling.init(sg, cell, sampling, true);
  EXPECT_EQ(from_sampling.hkl_sampling(), sampling);
  EXPECT_NEAR(from_sampling.resolution().limit(), 2.5, 0.01);

  // The sampling alone decides the list, whatever the cell.
  HKL_info again;
  again.init(sg, Cell(Cell_descr(43, 11, 16, 90, 95, 90)), sampling, true);
  ASSERT_EQ(again.num_reflections(), from_sampling.num_reflections());
  for (int i = 0; i < again.num_reflections(); ++i)
    EXPECT_EQ(again.hkl_of(i), from_sampling.hkl_of(i));

  // It holds exactly the reflections of the resolution form at its limit,
  // up to those the truncated integer form moves across the limit.
  const HKL_info by_resolution(sg, cell, from_sampling.resolution(), true);
  for (int i = 0; i < from_sampling.num_reflections(); ++i)
    EXPECT_GE(by_resolution.index_of(from_sampling.hkl_of(i)), 0);
  EXPECT_NEAR(by_resolution.num_reflections(), from_sampling.num_reflections(), 2);
}
