#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "interp_fixture.h"
#include "maps/map_stats.h"

using namespace vantrel;

namespace {

Xmap<float> p1_map(const Grid& g, const float value) {
  Xmap<float> map(Spacegroup(Spacegroup::P1), Cell(Cell_descr(20, 30, 40, 90, 90, 90)),
                  interp_fixture::sampling_of(g));
  map = value;
  return map;
}

}  // namespace

// Weighting each stored point by 1/multiplicity gives the statistics of all
// grid points of the cell, special positions included.
TEST(Map_stats, EqualsMeanAndDeviationOverTheFullCell) {
  for (const std::string& name : interp_fixture::names()) {
    const interp_fixture::Fixture f = interp_fixture::read(name);
    double s = 0.0, s2 = 0.0, lo = 1e30, hi = -1e30;
    for (const double x : f.values) {
      const double xf = double(float(x));
      s += xf;
      s2 += xf * xf;
      lo = std::min(lo, xf);
      hi = std::max(hi, xf);
    }
    const double n = double(f.values.size());
    const double mean = s / n, sd = std::sqrt(s2 / n - mean * mean);

    const Map_stats stats(f.xmap<float>());
    EXPECT_NEAR(stats.mean(), mean, 1e-12) << name;
    EXPECT_NEAR(stats.std_dev(), sd, 1e-9) << name;
    EXPECT_EQ(stats.range().min(), lo) << name;
    EXPECT_EQ(stats.range().max(), hi) << name;
  }
}

// 1440 values of 0.1f: the sums round so that E[x^2] - E[x]^2 < 0.
TEST(Map_stats, SlightlyNegativeVarianceFromRoundingIsClampedToZero) {
  const Grid g(12, 10, 12);
  const double x = double(0.1f);
  double sw = 0.0, swx = 0.0, swx2 = 0.0;
  for (int i = 0; i < g.size(); ++i) {
    sw += 1.0;
    swx += x;
    swx2 += x * x;
  }
  ASSERT_LT(swx2 / sw - (swx / sw) * (swx / sw), 0.0);

  const Map_stats stats(p1_map(g, 0.1f));
  EXPECT_EQ(stats.std_dev(), 0.0);
  EXPECT_NEAR(stats.mean(), x, 1e-15);
}

// A constant map with a NaN and an infinity: the missing values change
// neither the sums nor the range.
TEST(Map_stats, ConstantMapSkippingMissingValues) {
  Xmap<float> map = p1_map(Grid(4, 4, 4), 3.0f);
  map.set_data(Coord_grid(1, 2, 3), Util::nanf());
  map.set_data(Coord_grid(2, 2, 2), std::numeric_limits<float>::infinity());
  const Map_stats stats(map);
  EXPECT_EQ(stats.mean(), 3.0);
  EXPECT_EQ(stats.std_dev(), 0.0);
  EXPECT_EQ(stats.range().min(), 3.0);
  EXPECT_EQ(stats.range().max(), 3.0);

  map = Util::nanf();
  const Map_stats none(map);
  EXPECT_TRUE(Util::is_nan(none.mean()));
  EXPECT_TRUE(Util::is_nan(none.std_dev()));
  EXPECT_EQ(none.range().min(), 1e12);
  EXPECT_EQ(none.range().max(), -1e12);
}
