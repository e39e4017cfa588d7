#include "reflections/hkl_data.h"

#include <gtest/gtest.h>

#include <memory>

#include "reflist_fixture.h"

using namespace vantrel;
using namespace vantrel::datatypes;

namespace {

typedef HKL_info::HKL_reference_index HRI;

const Spacegroup& p21() {
  static const Spacegroup sg(Spgr_descr("P 2yb", Spgr_descr::Hall));
  return sg;
}

ObjectCache<HKL_data_cacheobj>& list_cache() {
  return VantrelInstantiator::instance().cache<HKL_data_cacheobj>();
}

// References held on the shared list of a key, the probe's own excluded.
int holders(const Spacegroup& sg, const Cell& cell, const HKL_sampling& sampling) {
  return list_cache().lookup(HKL_data_cachekey(sg, cell, sampling)).use_count() - 1;
}

}  // namespace

// Blocks of "h k l F phi" on the toolkit's ASU ("asu") and its P1 expansion ("p1").
TEST(HKL_data, SymmetryMatesMatchToolkitExpansion) {
  const std::vector<Reflist_block> blocks = read_reflist_fixture("reflist_p1_fphi.txt", 2);
  ASSERT_GE(blocks.size(), 8u);
  for (const Reflist_block& t : blocks) {
    SCOPED_TRACE(t.hall);
    const HKL_info list = t.list(t.dmin);
    const std::vector<Reflist_block::Row>& asu = t.tables.at("asu");
    HKL_data<F_phi<double>> fphi(list);
    for (const Reflist_block::Row& r : asu)
      ASSERT_TRUE(fphi.set_data(r.hkl, F_phi<double>(r.v[0], r.v[1])));
    // The toolkit's set leaves out (0,0,0), which the list holds.
    EXPECT_EQ(fphi.num_obs(), int(asu.size()));
    EXPECT_EQ(list.num_reflections(), int(asu.size()) + 1);
    for (const Reflist_block::Row& r : t.tables.at("p1")) {
      double values[2];
      ASSERT_TRUE(fphi.data_export(r.hkl, values)) << r.hkl.format();
      EXPECT_NEAR(values[0], r.v[0], 1e-4) << r.hkl.format();
      EXPECT_NEAR(phase_difference(values[1], r.v[1]), 0.0, 1e-6) << r.hkl.format();
    }
    // Writing through a mate and reading back through it is the identity.
    const HKL& mate = t.tables.at("p1")[t.tables.at("p1").size() / 2].hkl;
    ASSERT_TRUE(fphi.set_data(mate, F_phi<double>(5.0, 0.25)));
    EXPECT_NEAR(fphi[mate].phi(), 0.25, 1e-12);
  }
}

TEST(HKL_data, FriedelMatesAndMissingIndices) {
  const HKL_info p1(Spacegroup(Spacegroup::P1), cubic_cell(10.0), Resolution(3.0), true);
  HKL_data<F_phi<float>> fphi(p1);
  const HKL stored = p1.hkl_of(7), mate(-stored.h(), -stored.k(), -stored.l());
  ASSERT_TRUE(fphi.set_data(mate, F_phi<float>(2.0f, 0.3f)));
  EXPECT_FLOAT_EQ(fphi[7].phi(), -0.3f);
  // Indices the list does not hold: null fields, false, nothing stored.
  const HKL_info list(p21(), cubic_cell(10.0), Resolution(3.0), true);
  HKL_data<F_sigF<double>> f(list);
  HKL_data<Flag> flag(list);
  const HKL far(20, 0, 0), absent(0, 3, 0);  // beyond the limit; screw-axis absence
  double out[2];
  EXPECT_FALSE(f.data_export(far, out));
  EXPECT_TRUE(Util::is_nan(out[0]) && Util::is_nan(out[1]));
  EXPECT_FALSE(flag.data_export(absent, out));
  EXPECT_EQ(out[0], -1.0);
  EXPECT_FALSE(f.data_import(far, out));
  EXPECT_TRUE(f[far].missing());
}

TEST(HKL_data, WalksOverPresentEntriesAndFollowsTheList) {
  HKL_info list(p21(), cubic_cell(12.0), Resolution(3.0), false);
  list.add_hkl_list({HKL(1, 1, 1), HKL(1, 2, 1), HKL(2, 1, 1), HKL(0, 1, 1)});
  HKL_data<F_sigF<float>> f(list);
  EXPECT_TRUE(f.first_data().last());
  EXPECT_EQ(f.invresolsq_range().min(), 999999999.0);
  for (int i : {1, 3}) f[i] = F_sigF<float>(1.0f, 0.1f);
  HRI ih = f.first_data();
  EXPECT_EQ(ih.index(), 1);
  EXPECT_EQ(f.next_data(ih).index(), 3);
  EXPECT_TRUE(f.next_data(ih).last());
  EXPECT_EQ(f.invresolsq_range().min(), std::min(list.invresolsq(1), list.invresolsq(3)));
  // update after the list grew keeps the old values and nulls the new ones.
  list.add_hkl_list({HKL(2, 2, 1), HKL(2, 1, 2)});
  f.update();
  EXPECT_EQ(f.num_obs(), 2);
  EXPECT_EQ(f[3].f(), 1.0f);
}

TEST(HKL_data, SharedListFromSampling) {
  const Spacegroup sg(Spgr_descr("C 2y", Spgr_descr::Hall));
  const Cell cell(Cell_descr(40, 12, 15, 90, 101.7, 90));
  const HKL_sampling sampling(cell, Resolution(2.5));
  list_cache().purge();
  const int entries = list_cache().size();
  {
    HKL_data<F_sigF<float>> a(sg, cell, sampling);
    HKL_data<Flag> b(sg, cell, sampling);
    const HKL_info& list = a.base_hkl_info();
    EXPECT_EQ(list_cache().size(), entries + 1);
    EXPECT_EQ(&b.base_hkl_info(), &list);
    EXPECT_EQ(holders(sg, cell, sampling), 2);
    EXPECT_EQ(list_cache().lookup(HKL_data_cachekey(sg, cell, sampling))->format(),
              "C 2y CANNOT FORMAT HKL_sampling");
    {  // A copy holds its own reference; another group gets another list.
      const HKL_data<Flag> c = b;
      EXPECT_EQ(holders(sg, cell, sampling), 3);
      const HKL_data<Flag> other(p21(), cell, sampling);
      EXPECT_NE(&other.base_hkl_info(), &list);
      EXPECT_EQ(list_cache().size(), entries + 2);
    }
    EXPECT_EQ(holders(sg, cell, sampling), 2);

    // Any cell shares the list. Within tolerance 1/d^2 is the list's own;
    // far off it is in the array's cell, also in a copy that outlives it.
    const int i = list.num_reflections() / 2;
    const Cell near_cell(Cell_descr(40.01, 12, 15, 90, 101.7, 90));
    const Cell far_cell(Cell_descr(44, 12, 15, 90, 101.7, 90));
    EXPECT_EQ(HKL_data<Flag>(sg, near_cell, sampling).invresolsq(i), list.invresolsq(i));
    auto far = std::make_unique<HKL_data<Flag>>(sg, far_cell, sampling);
    const HKL_data<Flag> copy = *far;
    far.reset();
    EXPECT_EQ(&copy.base_hkl_info(), &list);
    EXPECT_DOUBLE_EQ(copy.invresolsq(i), list.hkl_of(i).invresolsq(far_cell));
    EXPECT_EQ(copy.base_cell().a(), 44.0);
  }
  // Released with the last array; the free entry goes at the next purge.
  EXPECT_EQ(holders(sg, cell, sampling), 0);
  list_cache().purge();
  EXPECT_EQ(list_cache().size(), entries);
  // A null argument leaves an array unbound, and a bound one in its own cell.
  HKL_data<F_sigF<float>> unbound;
  unbound.init(Spacegroup(), cell, sampling);
  EXPECT_TRUE(unbound.is_null());
  HKL_data<Flag> bound(sg, cell, sampling);
  bound.init(sg, Cell(), sampling);
  EXPECT_FALSE(bound.is_null());
  EXPECT_EQ(bound.base_cell().a(), 40.0);
}

TEST(HKL_data, MaskComputeAndAssignWithinOneList) {
  const HKL_info list(p21(), cubic_cell(15.0), Resolution(2.5), true);
  HKL_data<F_sigF<float>> f(list);
  HKL_data<Phi_fom<float>> pw(list);
  for (int i = 0; i < list.num_reflections(); ++i) {
    if (i % 3 != 0) f[i] = F_sigF<float>(float(i), 1.0f);
    if (i % 2 == 0) pw[i] = Phi_fom<float>(0.5f, 0.8f);
  }
  HKL_data<F_phi<float>> fphi(list);
  fphi.compute(f, pw, [](const HRI& ih, const F_sigF<float>& a, const Phi_fom<float>& b) {
    return F_phi<float>(a.f() * b.fom(), float(b.phi() + ih.index()));
  });
  // A source may be the target itself.
  fphi.compute(fphi,
               [](const HRI&, const F_phi<float>& v) { return F_phi<float>(2 * v.f(), v.phi()); });
  // mask nulls where the other is missing and never fills.
  HKL_data<F_sigF<float>> g = f;
  g.mask(pw);
  for (int i = 0; i < list.num_reflections(); ++i) {
    const bool missing = f.missing(i) || pw.missing(i);
    ASSERT_EQ(fphi.missing(i), missing);
    EXPECT_TRUE(missing || (fphi[i].phi() == 0.5f + i && fphi[i].f() == 2 * i * 0.8f));
    EXPECT_EQ(g.missing(i), missing);
  }
  // Arrays over another list, even an identical one, are refused.
  const HKL_info twin(p21(), cubic_cell(15.0), Resolution(2.5), true);
  HKL_data<F_sigF<float>> other(twin), unbound;
  const auto copy = [](const HRI&, const F_sigF<float>& v) { return v; };
  EXPECT_THROW(g.mask(other), Message_fatal);
  EXPECT_THROW(g.compute(other, copy), Message_fatal);
  EXPECT_THROW(
      g.compute(f, other,
                [](const HRI&, const F_sigF<float>& v, const F_sigF<float>&) { return v; }),
      Message_fatal);
  try {
    g = other;
    ADD_FAILURE() << "assignment across lists";
  } catch (const Message_fatal& m) {
    EXPECT_EQ(m.text(), "HKL_data<T>: mismatched parent HKL_info is assignment");
  }
  // Within the list values are copied; an unbound array adopts list and values.
  g = f;
  EXPECT_EQ(g.num_obs(), f.num_obs());
  unbound = f;
  EXPECT_EQ(&unbound.base_hkl_info(), &list);
  EXPECT_EQ(unbound[1].f(), 1.0f);
}
