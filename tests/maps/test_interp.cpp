#include <cstdlib>
#include <limits>
#include <new>

#include "maps/interp.h"
#include "maps/map_stats.h"
#include "maps_testing.h"

using namespace vantrel;
using maps_testing::sampling;

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

// A symmetric P1 grid with gemmi's interpolations (tools/make_interp_fixtures.py).
class InterpFixture : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    std::ifstream in = vantrel_testing::open_fixture("interp_" + GetParam() + ".txt");
    std::string word;
    double p[6], u, v, w;
    int nu, nv, nw, n;
    std::getline(in >> word >> std::ws, symbol);
    in >> word >> p[0] >> p[1] >> p[2] >> p[3] >> p[4] >> p[5] >> word >> nu >> nv >> nw >> word >>
        n;
    cell = Cell(Cell_descr(p[0], p[1], p[2], p[3], p[4], p[5]));
    grid = sampling(nu, nv, nw);
    values.resize(n);
    for (double& x : values) in >> x;
    for (in >> word >> n; n > 0 && in >> u >> v >> w; --n) {
      points.push_back({Coord_frac(u, v, w), 0.0, 0.0});
      in >> points.back().linear >> points.back().cubic;
    }
    ASSERT_GT(points.size(), 40u);
  }

  //! The crystallographic map whose P1 expansion is the fixture grid.
  template <class T> Xmap<T> xmap() const {
    Xmap<T> map(Spacegroup(Spgr_descr(symbol)), cell, grid);
    for (auto ix = map.first(); !ix.last(); ix.next()) map[ix] = T(values[ix.coord().index(grid)]);
    return map;
  }

  struct Point {
    Coord_frac frac;
    double linear, cubic;
  };
  std::string symbol;
  Cell cell;
  Grid_sampling grid;
  std::vector<double> values;  // u slowest, w fastest
  std::vector<Point> points;
};

// The fixture's values are ~2-4; gemmi's results are single precision.
const double tol_double = 2e-6;
const double tol_float = 1e-5;

}  // namespace

// Also periodic across cell edges.
TEST_P(InterpFixture, LinearAndCubicEqualGemmiOnTheP1Grid) {
  const Xmap<float> mapf = xmap<float>();
  const Xmap<double> mapd = xmap<double>();
  for (const auto& p : points)
    for (const Coord_frac& x : {p.frac, p.frac + Coord_frac(1.0, -2.0, 3.0)}) {
      EXPECT_NEAR(mapd.interp<Interp_linear>(x), p.linear, tol_double) << x.format();
      EXPECT_NEAR(mapf.interp<Interp_linear>(x), p.linear, tol_float) << x.format();
      EXPECT_NEAR(mapd.interp<Interp_cubic>(x), p.cubic, tol_double) << x.format();
      EXPECT_NEAR(mapf.interp<Interp_cubic>(x), p.cubic, tol_float) << x.format();
    }
}

TEST_P(InterpFixture, ReadsAllocateNothing) {
  const Xmap<float> map = xmap<float>();
  const NXmap<float> box(cell, grid, Grid_range(Coord_grid(0, 0, 0), Coord_grid(5, 5, 5)));
  const long before = allocations;
  ASSERT_GT(before, 0);  // the counter sees the allocations of the map set-up
  float sum = 0.0f;
  for (const auto& p : points)
    sum += map.interp<Interp_linear>(p.frac) + map.interp<Interp_cubic>(p.frac) +
           box.interp<Interp_linear>(Coord_map(2.5, 1.5, 3.5)) +
           box.interp<Interp_cubic>(Coord_map(2.5, 1.5, 2.5));
  EXPECT_EQ(allocations, before);
  EXPECT_TRUE(std::isfinite(sum));
}

// Weighting each stored point by 1/multiplicity gives the statistics of the
// full cell, special positions included.
TEST_P(InterpFixture, MapStatsEqualMeanAndDeviationOverTheFullCell) {
  double s = 0.0, s2 = 0.0, lo = 1e30, hi = -1e30;
  for (const double x : values) {
    const double xf = double(float(x));
    s += xf;
    s2 += xf * xf;
    lo = std::min(lo, xf);
    hi = std::max(hi, xf);
  }
  const double mean = s / values.size(), sd = std::sqrt(s2 / values.size() - mean * mean);
  const Map_stats stats(xmap<float>());
  EXPECT_NEAR(stats.mean(), mean, 1e-12);
  EXPECT_NEAR(stats.std_dev(), sd, 1e-9);
  EXPECT_EQ(stats.range().min(), lo);
  EXPECT_EQ(stats.range().max(), hi);
}

INSTANTIATE_TEST_SUITE_P(Groups, InterpFixture, ::testing::Values("p212121", "c121", "p43212"));

// Constant maps: no deviation even where rounding makes E[x^2] - E[x]^2 < 0;
// missing values change neither the sums nor the range.
TEST(Map_stats, ConstantMapsAndMissingValues) {
  const Grid_sampling g = sampling(12, 10, 12);
  const double x = double(0.1f);
  double s = 0.0, s2 = 0.0;
  for (int i = 0; i < g.size(); ++i) s += x, s2 += x * x;
  ASSERT_LT(s2 / g.size() - (s / g.size()) * (s / g.size()), 0.0);
  Xmap<float> map(Spacegroup(Spacegroup::P1), Cell(Cell_descr(20, 30, 40, 90, 90, 90)), g);
  map = 0.1f;
  EXPECT_EQ(Map_stats(map).std_dev(), 0.0);
  EXPECT_NEAR(Map_stats(map).mean(), x, 1e-15);
  map = 3.0f;
  map.set_data(Coord_grid(1, 2, 3), Util::nanf());
  map.set_data(Coord_grid(2, 2, 2), std::numeric_limits<float>::infinity());
  const Map_stats stats(map);
  EXPECT_EQ(stats.mean(), 3.0);
  EXPECT_EQ(stats.std_dev(), 0.0);
  EXPECT_EQ(stats.range().min(), 3.0);
  EXPECT_EQ(stats.range().max(), 3.0);
  map = Util::nanf();
  const Map_stats none(map);
  EXPECT_TRUE(Util::is_nan(none.mean()) && Util::is_nan(none.std_dev()));
  EXPECT_EQ(none.range().min(), 1e12);
  EXPECT_EQ(none.range().max(), -1e12);
}

// A box copied point by point from a crystal map interpolates exactly as the
// crystal map, whose blocks are read from storage or stepped through symmetry.
// Positions are whole 64ths, so both see the same fractions.
TEST(Interp, CrystalMapBlocksMatchABoxCopyInManyGroups) {
  const std::vector<std::pair<const char*, Cell_descr>> groups = {
      {"P 21 21 21", Cell_descr(20, 24, 28, 90, 90, 90)},
      {"P 61 2 2", Cell_descr(18, 18, 30, 90, 90, 120)},
      {"P 21 3", Cell_descr(22, 22, 22, 90, 90, 90)},
      {"I 41/a", Cell_descr(16, 16, 20, 90, 90, 90)},
      {"P 31 2 1", Cell_descr(24, 24, 30, 90, 90, 120)},
      {"P 1", Cell_descr(14, 16, 18, 80, 85, 95)},
      {"R 3", Cell_descr(20, 20, 24, 90, 90, 120)},
      {"F 2 3", Cell_descr(30, 30, 30, 90, 90, 90)}};
  std::mt19937 rng(11);
  int direct = 0, stepped = 0;  // blocks read straight from storage, or not
  for (const auto& [symbol, descr] : groups) {
    const Spacegroup sg{Spgr_descr(symbol)};
    const Cell cell(descr);
    const Grid_sampling g(sg, cell, Resolution(2.0));
    Xmap<float> xmap(sg, cell, g);
    for (auto ix = xmap.first(); !ix.last(); ix.next()) xmap[ix] = (ix.index() % 101) * 0.01f;
    const Grid_range range(Coord_grid(-3, -3, -3), Coord_grid(g) + Coord_grid(3, 3, 3));
    NXmap<float> box(cell, g, range);
    for (Coord_grid b(0, 0, 0); b.u() < box.grid().nu(); b.next(box.grid()))
      box.set_data(b, xmap.get_data(b + range.min()));
    // from 1 to n - 3 steps: the cubic block stays inside the box
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
      int index, sym;
      xmap.find_image(x.floor(), index, sym);
      ++(xmap.block_in_asu(index, sym, 4) ? direct : stepped);
    }
  }
  EXPECT_GT(direct, 500);
  EXPECT_GT(stepped, 100);
}

// The tables behind the direct reads: every block the clearance admits lies
// on ASU points, and the image found through the coarse operator table is
// the one the symmetry search finds. Checked at every point of small grids.
TEST(Interp, BlockTestsAndOperatorTableAgreeWithTheAsuMarks) {
  const std::vector<std::pair<const char*, Cell_descr>> groups = {
      {"P 31 2 1", Cell_descr(24, 24, 30, 90, 90, 120)},
      {"P 1", Cell_descr(14, 16, 18, 80, 85, 95)},
      {"C 1 2 1", Cell_descr(30, 20, 16, 90, 105, 90)},
      {"P 21 3", Cell_descr(22, 22, 22, 90, 90, 90)}};
  for (const auto& [symbol, descr] : groups) {
    const Spacegroup sg{Spgr_descr(symbol)};
    const Cell cell(descr);
    Xmap<float> map(sg, cell, Grid_sampling(sg, cell, Resolution(2.0)));
    for (auto ix = map.first(); !ix.last(); ix.next()) map[ix] = float(ix.index());
    const Grid& g = map.grid_sampling();
    int admitted[5] = {0, 0, 0, 0, 0};
    for (int u = -2; u < g.nu() + 2; ++u)
      for (int v = -2; v < g.nv() + 2; ++v)
        for (int w = -2; w < g.nw() + 2; ++w) {
          const Coord_grid c(u, v, w);
          int index, sym, index0, sym0;
          map.find_sym(c, index0, sym0);
          map.find_image(c, index, sym);  // at special positions sym may differ
          ASSERT_EQ(index, index0) << symbol << " " << c.format();
          for (const int n : {2, 4}) {
            if (!map.block_in_asu(index, sym, n)) continue;
            ++admitted[n];
            const int lo = -(n - 1) / 2;
            for (int i = lo; i < lo + n; ++i)
              for (int j = lo; j < lo + n; ++j)
                for (int k = lo; k < lo + n; ++k) {
                  const int x = index + i * map.storage_step_u(sym) + j * map.storage_step_v(sym) +
                                k * map.storage_step_w(sym);
                  ASSERT_TRUE(map.is_asu_index(x)) << symbol << " " << c.format();
                  ASSERT_EQ(map.get_data(x), map.get_data(c + Coord_grid(i, j, k)));
                }
          }
        }
    EXPECT_GT(admitted[2], g.size() / 2) << symbol;
    EXPECT_GT(admitted[4], g.size() / 8) << symbol;
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

// A float map takes its fractions in float: at u = 10.3 the fraction is
// float(10.3) - 10, not 0.3 rounded to float.
TEST(Interp_linear, CanInterpOnlyWithBothNeighboursInsideTheBoxAndFractionsAreFloat) {
  const RTop<double> unit(Mat33<double>::identity(), Vec3<double>::zero());
  const NXmap<float> box(Grid(5, 4, 3), unit);
  for (const Coord_map& m : {Coord_map(0, 0, 0), Coord_map(3.5, 0, 0), Coord_map(3.99, 2.5, 1.99)})
    EXPECT_TRUE(Interp_linear::can_interp(box, m)) << m.format();
  for (const Coord_map& m : {Coord_map(4, 0, 0), Coord_map(-0.5, 0, 0), Coord_map(0, 3, 0),
                             Coord_map(0, 0, 2), Coord_map(0, Util::nan(), 0)})
    EXPECT_FALSE(Interp_linear::can_interp(box, m)) << m.format();
  NXmap<float> step(Grid(12, 2, 2), unit);
  for (int i = 44; i < 48; ++i) step[i] = 1.0f;  // 1 at u = 11, 0 elsewhere
  EXPECT_EQ(step.interp<Interp_linear>(Coord_map(10.3, 0.0, 0.0)), float(10.3) - 10.0f);
}
