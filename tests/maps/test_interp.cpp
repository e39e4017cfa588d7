#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <new>

#include "interp_fixture.h"
#include "maps/interp.h"

using namespace vantrel;
using interp_fixture::Fixture;

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
  Fixture f;
};

// The fixture's values are ~2-4; gemmi's results are single precision.
const double tol_double = 2e-6;
const double tol_float = 1e-5;

}  // namespace

TEST_P(InterpFixture, MapHoldsTheSymmetricGridEverywhere) {
  ASSERT_EQ(int(f.values.size()), f.grid.size());
  const Xmap<float> map = f.xmap<float>();
  for (Coord_grid c(0, 0, 0); c.u() < f.grid.nu(); c.next(f.grid))
    ASSERT_EQ(map.get_data(c), float(f.p1_value(c))) << c.format();
}

TEST_P(InterpFixture, LinearEqualsGemmiOnTheP1Grid) {
  ASSERT_GT(f.points.size(), 40u);
  const Xmap<float> mapf = f.xmap<float>();
  const Xmap<double> mapd = f.xmap<double>();
  for (const auto& p : f.points) {
    EXPECT_NEAR(mapd.interp<Interp_linear>(p.frac), p.linear, tol_double) << p.frac.format();
    EXPECT_NEAR(mapf.interp<Interp_linear>(p.frac), p.linear, tol_float) << p.frac.format();
  }
}

TEST_P(InterpFixture, CubicEqualsGemmiTricubicOnTheP1Grid) {
  const Xmap<float> mapf = f.xmap<float>();
  const Xmap<double> mapd = f.xmap<double>();
  for (const auto& p : f.points) {
    EXPECT_NEAR(mapd.interp<Interp_cubic>(p.frac), p.cubic, tol_double) << p.frac.format();
    EXPECT_NEAR(mapf.interp<Interp_cubic>(p.frac), p.cubic, tol_float) << p.frac.format();
  }
}

TEST_P(InterpFixture, InterpolationIsPeriodicAcrossCellEdges) {
  const Xmap<float> map = f.xmap<float>();
  const Coord_frac shift(1.0, -2.0, 3.0);
  for (const auto& p : f.points) {
    EXPECT_NEAR(map.interp<Interp_linear>(p.frac + shift), map.interp<Interp_linear>(p.frac),
                tol_float);
    EXPECT_NEAR(map.interp<Interp_cubic>(p.frac + shift), map.interp<Interp_cubic>(p.frac),
                tol_float);
  }
}

TEST_P(InterpFixture, GridPointsGiveTheirOwnValue) {
  const Xmap<float> map = f.xmap<float>();
  for (const Coord_grid& c : {Coord_grid(0, 0, 0), Coord_grid(3, 7, 5), Coord_grid(-1, 12, 9)}) {
    float linear, cubic;
    Interp_linear::interp(map, Coord_map(c), linear);
    Interp_cubic::interp(map, Coord_map(c), cubic);
    EXPECT_EQ(linear, map.get_data(c)) << c.format();
    EXPECT_EQ(cubic, map.get_data(c)) << c.format();
  }
}

// A box cut out of the crystal grid interpolates like the crystal map,
// wherever the box holds the interpolation's neighbourhood.
TEST_P(InterpFixture, BoxMapInterpolatesLikeTheCrystalMap) {
  const Xmap<float> xmap = f.xmap<float>();
  const Grid_range range(Coord_grid(-3, -2, 4), Coord_grid(8, 9, 20));
  NXmap<float> box(f.cell, f.sampling(), range);
  for (Coord_grid b(0, 0, 0); b.u() < box.grid().nu(); b.next(box.grid()))
    box.set_data(b, xmap.get_data(b + range.min()));

  for (const Coord_map m : {Coord_map(1.25, 1.5, 1.75), Coord_map(4.9, 1.1, 7.3),
                            Coord_map(8.5, 9.99, 14.0)}) {
    const Coord_frac frac = Coord_map(m + Coord_map(range.min())).coord_frac(f.grid);
    ASSERT_TRUE(Interp_linear::can_interp(box, m));
    EXPECT_NEAR(box.interp<Interp_linear>(m), xmap.interp<Interp_linear>(frac), tol_float);
    EXPECT_NEAR(box.interp<Interp_cubic>(m), xmap.interp<Interp_cubic>(frac), tol_float);
  }
  NXmap<double> boxd(f.cell, f.sampling(), range);
  for (int i = 0; i < boxd.grid().size(); ++i) boxd[i] = box[i];
  const Coord_map m(2.2, 3.3, 4.4);
  EXPECT_NEAR(boxd.interp<Interp_linear>(m), box.interp<Interp_linear>(m), tol_float);
}

TEST_P(InterpFixture, ReadsAllocateNothing) {
  const Xmap<float> map = f.xmap<float>();
  const NXmap<float> box(f.cell, f.sampling(), Grid_range(Coord_grid(0, 0, 0), Coord_grid(5, 5, 5)));
  const long before = allocations;
  ASSERT_GT(before, 0);  // the counter sees the allocations of the map set-up
  float sum = 0.0f;
  for (const auto& p : f.points) {
    sum += map.interp<Interp_linear>(p.frac) + map.interp<Interp_cubic>(p.frac);
    sum += box.interp<Interp_linear>(Coord_map(2.5, 1.5, 3.5)) +
           box.interp<Interp_cubic>(Coord_map(2.5, 1.5, 2.5));
  }
  EXPECT_EQ(allocations, before);
  EXPECT_TRUE(std::isfinite(sum));
}

INSTANTIATE_TEST_SUITE_P(Groups, InterpFixture, ::testing::ValuesIn(interp_fixture::names()));

TEST(Interp_cubic, WeightsAtPartsOfAStep) {
  double w[4];
  Interp_cubic::weights(0.0, w);
  EXPECT_EQ(w[0], 0.0);
  EXPECT_EQ(w[1], 1.0);
  EXPECT_EQ(w[2], 0.0);
  EXPECT_EQ(w[3], 0.0);
  Interp_cubic::weights(0.5, w);
  EXPECT_EQ(w[0], -0.0625);
  EXPECT_EQ(w[1], 0.5625);
  EXPECT_EQ(w[2], 0.5625);
  EXPECT_EQ(w[3], -0.0625);
  for (const float t : {0.1f, 0.3f, 0.77f, 0.999f}) {
    float wf[4];
    Interp_cubic::weights(t, wf);
    EXPECT_NEAR(wf[0] + wf[1] + wf[2] + wf[3], 1.0f, 1e-6f);
    // The kernel is symmetric: t and 1 - t swap the weights end for end.
    Interp_cubic::weights(1.0 - double(t), w);
    EXPECT_NEAR(wf[0], w[3], 1e-6);
    EXPECT_NEAR(wf[1], w[2], 1e-6);
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

// Cubic convolution reproduces quadratic functions exactly.
TEST(Interp_cubic, ReproducesAQuadraticOnABoxMap) {
  NXmap<double> box(Grid(6, 7, 8), RTop<double>(Mat33<double>::identity(), Vec3<double>::zero()));
  const auto q = [](const Vec3<double>& x) {
    return 0.3 * x[0] * x[0] - 0.2 * x[1] * x[2] + x[2] * x[2] + 2.0 * x[0] - 1.0;
  };
  for (Coord_grid c(0, 0, 0); c.u() < 6; c.next(box.grid())) box.set_data(c, q(Coord_map(c)));
  for (const Coord_map m : {Coord_map(1.0, 1.0, 1.0), Coord_map(2.7, 3.1, 4.45), Coord_map(3.99, 4.5, 5.0)})
    EXPECT_NEAR(box.interp<Interp_cubic>(m), q(m), 1e-10) << m.format();
}
