#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <new>
#include <random>

#include "interp_fixture.h"
#include "maps/interp.h"

using namespace vantrel;

// Counts every allocation of the program, to show that reads allocate nothing.
namespace {
long allocations = 0;
}
void* operator new(std::size_t n) {
  ++allocations;
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
// GCC cannot see that the replaced operator new is malloc underneath.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

class InterpFixture : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { f = interp_fixture::read(GetParam()); }
  interp_fixture::Fixture f;
};

// The fixture's values are ~2-4; gemmi's results are single precision.
const double tol_double = 2e-6;
const double tol_float = 1e-5;

}  // namespace

TEST_P(InterpFixture, LinearAndCubicEqualGemmiOnTheP1Grid) {
  ASSERT_GT(f.points.size(), 40u);
  const Xmap<float> mapf = f.xmap<float>();
  const Xmap<double> mapd = f.xmap<double>();
  for (const auto& p : f.points) {
    EXPECT_NEAR(mapd.interp<Interp_linear>(p.frac), p.linear, tol_double) << p.frac.format();
    EXPECT_NEAR(mapf.interp<Interp_linear>(p.frac), p.linear, tol_float) << p.frac.format();
    EXPECT_NEAR(mapd.interp<Interp_cubic>(p.frac), p.cubic, tol_double) << p.frac.format();
    EXPECT_NEAR(mapf.interp<Interp_cubic>(p.frac), p.cubic, tol_float) << p.frac.format();
  }
}

TEST_P(InterpFixture, PeriodicAcrossCellEdgesAndExactAtGridPoints) {
  const Xmap<float> map = f.xmap<float>();
  const Coord_frac shift(1.0, -2.0, 3.0);
  for (const auto& p : f.points) {
    EXPECT_NEAR(map.interp<Interp_linear>(p.frac + shift), map.interp<Interp_linear>(p.frac),
                tol_float);
    EXPECT_NEAR(map.interp<Interp_cubic>(p.frac + shift), map.interp<Interp_cubic>(p.frac),
                tol_float);
  }
  for (const Coord_grid& c : {Coord_grid(0, 0, 0), Coord_grid(3, 7, 5), Coord_grid(-1, 12, 9)}) {
    float linear, cubic;
    Interp_linear::interp(map, Coord_map(c), linear);
    Interp_cubic::interp(map, Coord_map(c), cubic);
    EXPECT_EQ(linear, map.get_data(c)) << c.format();
    EXPECT_EQ(cubic, map.get_data(c)) << c.format();
  }
}

TEST_P(InterpFixture, ReadsAllocateNothing) {
  const Xmap<float> map = f.xmap<float>();
  const NXmap<float> box(f.cell, f.sampling(), Grid_range(Coord_grid(0, 0, 0), Coord_grid(5, 5, 5)));
  const long before = allocations;
  ASSERT_GT(before, 0);  // the counter sees the allocations of the map set-up
  float sum = 0.0f;
  for (const auto& p : f.points)
    sum += map.interp<Interp_linear>(p.frac) + map.interp<Interp_cubic>(p.frac) +
           box.interp<Interp_linear>(Coord_map(2.5, 1.5, 3.5)) +
           box.interp<Interp_cubic>(Coord_map(2.5, 1.5, 2.5));
  EXPECT_EQ(allocations, before);
  EXPECT_TRUE(std::isfinite(sum));
}

INSTANTIATE_TEST_SUITE_P(Groups, InterpFixture, ::testing::ValuesIn(interp_fixture::names()));

// A box copied point by point from a crystal map (one symmetry lookup per
// point) interpolates exactly as the crystal map, whose blocks are read
// straight from storage or stepped through symmetry where they leave the
// asymmetric unit. Positions are whole 64ths, so both see the same fractions.
TEST(Interp, CrystalMapBlocksMatchABoxCopyInManyGroups) {
  const std::vector<std::pair<const char*, Cell_descr>> groups = {
      {"P 21 21 21", Cell_descr(20, 24, 28, 90, 90, 90)},
      {"P 61 2 2", Cell_descr(18, 18, 30, 90, 90, 120)},
      {"P 21 3", Cell_descr(22, 22, 22, 90, 90, 90)},
      {"I 41/a", Cell_descr(16, 16, 20, 90, 90, 90)}};
  std::mt19937 rng(11);
  for (const auto& [symbol, descr] : groups) {
    const Spacegroup sg{Spgr_descr(symbol)};
    const Cell cell(descr);
    const Grid_sampling sampling(sg, cell, Resolution(2.0));
    Xmap<float> xmap(sg, cell, sampling);
    for (auto ix = xmap.first(); !ix.last(); ix.next()) xmap[ix] = float(ix.index() % 101) * 0.01f;
    const Grid_range range(Coord_grid(-3, -3, -3),
                           Coord_grid(sampling.nu() + 3, sampling.nv() + 3, sampling.nw() + 3));
    NXmap<float> box(cell, sampling, range);
    for (Coord_grid b(0, 0, 0); b.u() < box.grid().nu(); b.next(box.grid()))
      box.set_data(b, xmap.get_data(b + range.min()));

    // Whole 64ths from 1 to n - 3: the cubic block stays inside the box.
    const auto inside = [&](const int n) {
      return std::uniform_int_distribution<int>(64, 64 * (n - 3) - 1)(rng) / 64.0;
    };
    for (int i = 0; i < 500; ++i) {
      const Coord_map m(inside(box.grid().nu()), inside(box.grid().nv()), inside(box.grid().nw()));
      const Coord_map x(m + Coord_map(range.min()));
      float box_linear, box_cubic, xmap_linear, xmap_cubic;
      Interp_linear::interp(box, m, box_linear);
      Interp_cubic::interp(box, m, box_cubic);
      Interp_linear::interp(xmap, x, xmap_linear);
      Interp_cubic::interp(xmap, x, xmap_cubic);
      ASSERT_EQ(xmap_linear, box_linear) << symbol << " " << x.format();
      ASSERT_EQ(xmap_cubic, box_cubic) << symbol << " " << x.format();
    }
  }
}

TEST(Interp_cubic, WeightsAtPartsOfAStep) {
  double w[4];
  Interp_cubic::weights(0.0, w);
  EXPECT_EQ(std::vector<double>(w, w + 4), std::vector<double>({0.0, 1.0, 0.0, 0.0}));
  Interp_cubic::weights(0.5, w);
  EXPECT_EQ(std::vector<double>(w, w + 4), std::vector<double>({-0.0625, 0.5625, 0.5625, -0.0625}));
  for (const float t : {0.1f, 0.3f, 0.77f, 0.999f}) {
    float wf[4];
    Interp_cubic::weights(t, wf);
    EXPECT_NEAR(wf[0] + wf[1] + wf[2] + wf[3], 1.0f, 1e-6f);
  }
}

TEST(Interp_linear, CanInterpOnlyWithBothNeighboursInsideTheBox) {
  const NXmap<float> box(Grid(5, 4, 3), RTop<double>(Mat33<double>::identity(), Vec3<double>::zero()));
  EXPECT_TRUE(Interp_linear::can_interp(box, Coord_map(0.0, 0.0, 0.0)));
  EXPECT_TRUE(Interp_linear::can_interp(box, Coord_map(5 - 1.5, 0.0, 0.0)));
  EXPECT_TRUE(Interp_linear::can_interp(box, Coord_map(3.99, 2.5, 1.99)));
  EXPECT_FALSE(Interp_linear::can_interp(box, Coord_map(5 - 1.0, 0.0, 0.0)));
  EXPECT_FALSE(Interp_linear::can_interp(box, Coord_map(-0.5, 0.0, 0.0)));
  EXPECT_FALSE(Interp_linear::can_interp(box, Coord_map(0.0, 3.0, 0.0)));
  EXPECT_FALSE(Interp_linear::can_interp(box, Coord_map(0.0, 0.0, 2.0)));
  EXPECT_FALSE(Interp_linear::can_interp(box, Coord_map(0.0, Util::nan(), 0.0)));
}

// Linear interpolation of a double box map reproduces a linear function.
TEST(Interp_linear, ReproducesAPlaneOnABoxMap) {
  NXmap<double> box(Grid(6, 7, 8), RTop<double>(Mat33<double>::identity(), Vec3<double>::zero()));
  const auto plane = [](const Vec3<double>& x) { return 0.3 * x[0] - 0.2 * x[1] + 1.5 * x[2] + 4.0; };
  for (Coord_grid c(0, 0, 0); c.u() < 6; c.next(box.grid())) box.set_data(c, plane(Coord_map(c)));
  for (const Coord_map m : {Coord_map(0.0, 0.0, 0.0), Coord_map(2.7, 3.1, 4.45), Coord_map(4.99, 5.5, 6.0)})
    EXPECT_NEAR(box.interp<Interp_linear>(m), plane(m), 1e-12) << m.format();
}
