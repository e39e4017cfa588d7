#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>

#include "foundation/message.h"
#include "support/testing.h"
#include "symmetry/hkl_class.h"
#include "symmetry/sampling.h"
#include "symmetry/spacegroup.h"

using namespace vantrel;

namespace {

Spacegroup hall(const std::string& symbol) {
  return Spacegroup(Spgr_descr(symbol, Spgr_descr::Hall));
}

Cell cell(double a, double b, double c, double al, double be, double ga) {
  return Cell(Cell_descr(a, b, c, al, be, ga));
}

}  // namespace

// Epsilon, centric phase and absence against the toolkits for every table row
// (tools/make_hkl_class_fixtures.py).
TEST(HKL_class, MatchesToolkitsForEveryTableRow) {
  std::ifstream in = vantrel_testing::open_fixture("hkl_class_groups.txt");
  std::vector<HKL> hkls;
  std::map<std::string, std::string> rows;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    if (line.compare(0, 8, "indices ") != 0) {
      const size_t tab = line.find('\t');
      rows[line.substr(0, tab)] = line.substr(tab + 1);
      continue;
    }
    std::istringstream words(line.substr(8));
    int h, k, l;
    char comma;
    for (std::string w; words >> w; hkls.push_back(HKL(h, k, l)))
      std::istringstream(w) >> h >> comma >> k >> comma >> l;
  }
  ASSERT_GT(hkls.size(), 150u);
  for (int row = 0; row < data::sgdata_size; row++) {
    const std::string symbol = data::sgdata[row].hall;
    ASSERT_EQ(rows.count(symbol), 1u) << symbol;
    const Spacegroup sg = hall(symbol);
    std::istringstream tokens(rows[symbol]);
    for (const HKL& hkl : hkls) {
      std::string token;
      tokens >> token;
      const HKL_class cls = sg.hkl_class(hkl);
      const size_t slash = token.find('/');
      const int eps = std::stoi(token.substr(0, slash));
      ASSERT_EQ(cls.epsilon(), eps) << symbol << " " << hkl.format();
      EXPECT_EQ(cls.is_absent(), eps == 0);
      if (eps == 0) continue;
      ASSERT_EQ(cls.centric(), slash != std::string::npos) << symbol << " " << hkl.format();
      if (!cls.centric()) continue;
      const int allowed = int(std::lrint(cls.allowed_phase() / (Util::pi() / 12))) % 12;
      EXPECT_EQ(allowed, std::stoi(token.substr(slash + 1))) << symbol << " " << hkl.format();
      EXPECT_EQ(cls.epsilon_centric(), 2 * eps);
    }
  }
}

TEST(HKL_class, OriginAndPhaseRestriction) {
  const Spacegroup sg = hall("-I 4bd 2c 3");
  const HKL_class origin = sg.hkl_class(HKL(0, 0, 0));
  EXPECT_EQ(origin.epsilon(), sg.op_count());
  EXPECT_TRUE(origin.centric());
  // an inversion centre at (1/8, 0, 0) restricts the phase of (1 0 0) to 45 deg
  const Spacegroup shifted(Spgr_descr("x,y,z;-x+1/4,-y,-z", Spgr_descr::Symops));
  EXPECT_NEAR(shifted.hkl_class(HKL(1, 0, 0)).allowed_phase(), Util::pi() / 4, 1e-12);
}

// A null or missing resolution (or cell) gives a null sampling; a degenerate
// form has no index limit.
TEST(HKL_sampling, NullnessEqualityAndDegenerateForms) {
  EXPECT_DOUBLE_EQ(Resolution(2.0).invresolsq_limit(), 0.25);
  EXPECT_TRUE(Resolution().is_null() && Resolution(0.0).is_null());
  EXPECT_FALSE(Resolution(Util::nan()).is_null());
  const Cell c = cell(40, 50, 60, 90, 95, 90);
  const HKL_sampling s(c, Resolution(2.5));
  EXPECT_FALSE(s.is_null());
  EXPECT_TRUE(s == HKL_sampling(cell(40 + 1e-12, 50, 60, 90, 95, 90), Resolution(2.5)));
  EXPECT_TRUE(s != HKL_sampling(c, Resolution(2.4)));
  EXPECT_TRUE(HKL_sampling().is_null());
  EXPECT_TRUE(HKL_sampling(c, Resolution()).is_null());
  EXPECT_TRUE(HKL_sampling(c, Resolution(Util::nan())).is_null());
  EXPECT_TRUE(HKL_sampling(Cell(), Resolution(2.0)).is_null());
  EXPECT_THROW(HKL_sampling().hkl_limit(), Message_fatal);
  // too coarse a resolution overflows the integer form; just inside still works
  EXPECT_THROW(HKL_sampling(c, Resolution(2000.0)).hkl_limit(), Message_fatal);
  EXPECT_THROW(HKL_sampling(c, Resolution(60.0)).hkl_limit(), Message_fatal);
  EXPECT_EQ(HKL_sampling(c, Resolution(55.0)).hkl_limit().format(), HKL(0, 0, 1).format());
  // a cell so large that the scaled form rounds to nothing
  EXPECT_THROW(HKL_sampling(cell(3000, 3000, 3000, 90, 90, 90), Resolution(1.0)).hkl_limit(),
               Message_fatal);
}

TEST(HKL_sampling, CubicExampleAndLimitsAgreeWithBruteForce) {
  const Cell cube = cell(10, 10, 10, 90, 90, 90);
  const HKL_sampling cubic(cube, Resolution(2.0));
  EXPECT_EQ(cubic.hkl_limit().format(), HKL(5, 5, 5).format());
  EXPECT_EQ(cubic.quadratic_form(HKL(5, 0, 0)), (std::int64_t(1) << 40) - 1);  // just inside
  EXPECT_EQ(cubic.quadratic_form(HKL(0, -3, 4)), cubic.quadratic_form(HKL(5, 0, 0)));
  EXPECT_NEAR(cubic.resolution(cube).limit(), 1.999998, 1e-9);
  // brute force over 1/d^2: the index box covers every reflection inside the limit,
  // at most one step larger; the resolution is the outermost one's
  const Cell cells[] = {cell(40, 50, 60, 90, 90, 90), cell(31.2, 47.9, 55.3, 77, 102, 96),
                        cell(60, 60, 90, 90, 90, 120), cell(25, 80, 33, 90, 118, 90),
                        cell(50, 50, 50, 60, 60, 60)};
  for (const Cell& c : cells)
    for (double d : {1.8, 2.7, 4.1}) {
      const HKL_sampling s(c, Resolution(d));
      const HKL lim = s.hkl_limit();
      int most[3] = {0, 0, 0};
      double best = 0.0;
      const int box = int(std::max(c.a(), std::max(c.b(), c.c())) / d) + 8;
      for (int h = -box; h <= box; h++)
        for (int k = -box; k <= box; k++)
          for (int l = -box; l <= box; l++) {
            const double s2 = HKL(h, k, l).invresolsq(c);
            if (s2 > 1.0 / (d * d)) continue;
            for (int i = 0; i < 3; i++) most[i] = std::max(most[i], std::abs(HKL(h, k, l)[i]));
            best = std::max(best, s2);
          }
      for (int i = 0; i < 3; i++)
        EXPECT_TRUE(lim[i] >= most[i] && lim[i] <= most[i] + 1) << lim.format() << " " << i;
      EXPECT_NEAR(s.resolution(c).limit(), 0.999999 / std::sqrt(best), 1e-6 * d);
    }
}

TEST(Grid_sampling, WorkedExamplesAndLargeGrids) {
  const Cell c = cell(50, 60, 70, 90, 90, 90);
  const Spacegroup p1sg(Spacegroup::P1);
  const Grid_sampling p1(p1sg, c, Resolution(2.0), 1.5);
  EXPECT_EQ(p1.format(), Grid(80, 90, 108).format());
  const Grid_sampling p212121(hall("P 2ac 2ab"), c, Resolution(2.0), 1.5);
  EXPECT_EQ(p212121.format(), Grid(80, 96, 108).format());
  EXPECT_EQ(Grid_sampling(p1sg, cell(100, 100, 100, 90, 90, 90), Resolution(2.0), 1.5).nu(), 150);
  // a fourfold couples a and b: both take the larger choice (80 and 96 in P1)
  const Grid_sampling p4(hall("P 4"), cell(50, 61, 70, 90, 90, 90), Resolution(2.0), 1.5);
  EXPECT_EQ(p4.format(), Grid(96, 96, 108).format());
  EXPECT_TRUE((p1.matrix_frac_grid() * p1.matrix_grid_frac()).equals(Mat33<>::identity(), 1e-12));
  // large grids are chosen, not left null; a null resolution or cell gives a null grid
  EXPECT_EQ(Grid_sampling(p1sg, cell(1700, 20, 20, 90, 90, 90), Resolution(1.0), 1.0).nu(), 3402);
  const Grid_sampling g3500(p1sg, cell(1750, 20, 20, 90, 90, 90), Resolution(1.0), 1.0);
  EXPECT_TRUE(g3500.nu() >= 3500 && g3500.nu() % 2 == 0);
  EXPECT_TRUE(Grid_sampling(p1sg, c, Resolution(), 1.5).is_null());
  EXPECT_TRUE(Grid_sampling(p1sg, Cell(), Resolution(2.0), 1.5).is_null());
  EXPECT_TRUE(Grid_sampling().is_null());
}

// Every table row: sizes at least the minimum, even, holding every translation
// on the grid, and equal on axes that the rotations mix.
TEST(Grid_sampling, SizesSuitEverySpaceGroup) {
  const Cell c = cell(41.3, 52.7, 63.1, 90, 90, 90);
  const double rate = 1.5, dmin = 2.2;
  const double edge[3] = {c.a(), c.b(), c.c()};
  for (int row = 0; row < data::sgdata_size; row++) {
    const Spacegroup sg = hall(data::sgdata[row].hall);
    const Grid_sampling g(sg, c, Resolution(dmin), rate);
    for (int i = 0; i < 3; i++)
      EXPECT_TRUE(g[i] >= std::ceil(2 * rate * edge[i] / dmin) && g[i] % 2 == 0)
          << data::sgdata[row].hall;
    for (int s = 0; s < sg.op_count(); s++)
      for (int i = 0; i < 3; i++) {
        const double steps = sg.symop(s).trn()[i] * g[i];
        EXPECT_NEAR(steps, std::round(steps), 1e-9) << data::sgdata[row].hall;
        for (int j = 0; j < 3; j++)
          EXPECT_TRUE(sg.symop(s).rot()(i, j) == 0.0 || g[i] == g[j]) << data::sgdata[row].hall;
      }
  }
}

TEST(Grid_range, BoxesWalksAndSpheres) {
  Grid_range box(Coord_grid(-1, -1, -1), Coord_grid(1, 1, 1));
  EXPECT_EQ(box.format(), Grid(3, 3, 3).format());
  EXPECT_FALSE(box.in_grid(Coord_grid(2, 0, 0)));
  EXPECT_FALSE(box.in_grid(Coord_grid(0, -2, 0)));
  box.add_border(2);
  EXPECT_EQ(box.min().format(), Coord_grid(-3, -3, -3).format());
  EXPECT_EQ(box.size(), 7 * 7 * 7);
  const Grid_range frac(Grid(10, 10, 10), Coord_frac(0.05, 0, 0), Coord_frac(0.95, 1, 1));
  EXPECT_EQ(frac.min().format(), Coord_grid(1, 0, 0).format());
  EXPECT_EQ(frac.max().format(), Coord_grid(9, 10, 10).format());
  EXPECT_EQ(Grid_range().size(), 0);
  // a walk visits every point in index order
  const Grid_range walk(Coord_grid(-2, 3, -1), Coord_grid(1, 5, 2));
  int count = 0;
  Coord_grid c = walk.min();
  for (; c.u() <= walk.max().u(); c.next(walk), count++) {
    ASSERT_TRUE(walk.in_grid(c));
    ASSERT_EQ(walk.index(c), count);
  }
  EXPECT_EQ(count, walk.size());
  EXPECT_EQ(c.format(), Coord_grid(2, 3, -1).format());
  // the sphere box holds every grid point within the radius of the origin
  const Cell tri = cell(31, 42, 37, 80, 105, 95);
  const Grid g(40, 56, 48);
  const double radius = 4.5;
  const Grid_range sphere(tri, g, radius);
  for (int u = -g.nu() / 2; u < g.nu() / 2; u++)
    for (int v = -g.nv() / 2; v < g.nv() / 2; v++)
      for (int w = -g.nw() / 2; w < g.nw() / 2; w++)
        ASSERT_TRUE(Coord_grid(u, v, w).coord_frac(g).lengthsq(tri) > radius * radius ||
                    sphere.in_grid(Coord_grid(u, v, w)));
  EXPECT_EQ(sphere.nu(), 2 * sphere.max().u() + 1);
}
