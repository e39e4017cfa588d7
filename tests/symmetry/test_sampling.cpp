#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

#include "foundation/message.h"
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

TEST(Resolution, LimitsAndNullness) {
  EXPECT_DOUBLE_EQ(Resolution(2.0).invresolsq_limit(), 0.25);
  EXPECT_TRUE(Resolution().is_null());
  EXPECT_TRUE(Resolution(0.0).is_null());
  EXPECT_TRUE(Resolution(-1.0).is_null());
  EXPECT_FALSE(Resolution(Util::nan()).is_null());
  Resolution r;
  r.init(3.5);
  EXPECT_EQ(r.limit(), 3.5);
}

// Epsilon, centric phase and absence against two independent toolkits, for
// every setting of the table (fixture made by tools/make_hkl_class_fixtures.py).
TEST(HKL_class, MatchesToolkitsForEveryTableRow) {
  std::ifstream in(VANTREL_TEST_DATA "/hkl_class_groups.txt");
  ASSERT_TRUE(in.good());
  std::string line;
  std::vector<HKL> hkls;
  std::map<std::string, std::string> rows;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line.compare(0, 8, "indices ") == 0) {
      std::istringstream words(line.substr(8));
      std::string w;
      int h, k, l;
      char comma;
      while (words >> w) {
        std::istringstream(w) >> h >> comma >> k >> comma >> l;
        hkls.push_back(HKL(h, k, l));
      }
    } else {
      const size_t tab = line.find('\t');
      rows[line.substr(0, tab)] = line.substr(tab + 1);
    }
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
  EXPECT_EQ(origin.allowed_phase(), 0.0);
  // an inversion centre at (1/8, 0, 0) restricts the phase of (1 0 0) to 45 deg
  const Spacegroup shifted(Spgr_descr("x,y,z;-x+1/4,-y,-z", Spgr_descr::Symops));
  EXPECT_NEAR(shifted.hkl_class(HKL(1, 0, 0)).allowed_phase(), Util::pi() / 4, 1e-12);
  // screw axis 21 along b: (0 k 0) absent for odd k, acentric with epsilon 2 for even k
  const Spacegroup p21 = hall("P 2yb");
  EXPECT_TRUE(p21.hkl_class(HKL(0, 3, 0)).is_absent());
  EXPECT_EQ(p21.hkl_class(HKL(0, 4, 0)).epsilon(), 2);
  EXPECT_FALSE(p21.hkl_class(HKL(0, 4, 0)).centric());
  EXPECT_EQ(p21.hkl_class(HKL(0, 4, 0)).epsilon_centric(), 2);
}

// Equal inputs give equal samplings; a null or missing resolution (or a null
// cell) gives a null sampling, and a degenerate form has no index limit.
TEST(HKL_sampling, NullnessEqualityAndDegenerateForms) {
  const Cell c = cell(40, 50, 60, 90, 95, 90);
  const HKL_sampling s(c, Resolution(2.5));
  EXPECT_FALSE(s.is_null());
  EXPECT_TRUE(s == HKL_sampling(c, Resolution(2.5)));
  EXPECT_TRUE(s == HKL_sampling(cell(40 + 1e-12, 50, 60, 90, 95, 90), Resolution(2.5)));
  EXPECT_TRUE(s != HKL_sampling(c, Resolution(2.4)));
  EXPECT_EQ(s.format(), "CANNOT FORMAT HKL_sampling");

  EXPECT_TRUE(HKL_sampling().is_null());
  EXPECT_TRUE(HKL_sampling(c, Resolution()).is_null());
  EXPECT_TRUE(HKL_sampling(c, Resolution(-2.0)).is_null());
  EXPECT_TRUE(HKL_sampling(c, Resolution(Util::nan())).is_null());
  EXPECT_TRUE(HKL_sampling(Cell(), Resolution(2.0)).is_null());
  EXPECT_THROW(HKL_sampling().hkl_limit(), Message_fatal);
  EXPECT_THROW(HKL_sampling().resolution(c), Message_fatal);
  // a resolution far coarser than the cell would overflow the integer form;
  // one just inside the range still works
  EXPECT_THROW(HKL_sampling(c, Resolution(2000.0)).hkl_limit(), Message_fatal);
  EXPECT_THROW(HKL_sampling(c, Resolution(60.0)).hkl_limit(), Message_fatal);
  EXPECT_EQ(HKL_sampling(c, Resolution(55.0)).hkl_limit().format(), HKL(0, 0, 1).format());
  // a cell so large that the scaled form rounds to nothing
  EXPECT_THROW(HKL_sampling(cell(3000, 3000, 3000, 90, 90, 90), Resolution(1.0)).hkl_limit(),
               Message_fatal);
}

TEST(HKL_sampling, CubicCellExample) {
  const Cell c = cell(10, 10, 10, 90, 90, 90);
  const HKL_sampling s(c, Resolution(2.0));
  const HKL lim = s.hkl_limit();
  EXPECT_EQ(lim.h(), 5);
  EXPECT_EQ(lim.k(), 5);
  EXPECT_EQ(lim.l(), 5);
  EXPECT_EQ(s.quadratic_form(HKL(5, 0, 0)), (std::int64_t(1) << 40) - 1);  // just inside
  EXPECT_EQ(s.quadratic_form(HKL(0, -3, 4)), s.quadratic_form(HKL(5, 0, 0)));
  EXPECT_NEAR(s.resolution(c).limit(), 1.999998, 1e-9);
}

// The index box covers every reflection inside the limit, found by brute
// force over 1/d^2, and is at most one step larger; the resolution found
// is that of the outermost reflection inside the limit.
TEST(HKL_sampling, LimitsAgreeWithBruteForce) {
  const Cell cells[] = {cell(40, 50, 60, 90, 90, 90), cell(31.2, 47.9, 55.3, 77, 102, 96),
                        cell(60, 60, 90, 90, 90, 120), cell(25, 80, 33, 90, 118, 90),
                        cell(50, 50, 50, 60, 60, 60)};
  for (const Cell& c : cells)
    for (double d : {1.8, 2.7, 4.1}) {
      const HKL_sampling s(c, Resolution(d));
      const HKL lim = s.hkl_limit();
      int hmax = 0, kmax = 0, lmax = 0;
      double best = 0.0;
      const int box = int(std::max(c.a(), std::max(c.b(), c.c())) / d) + 8;
      for (int h = -box; h <= box; h++)
        for (int k = -box; k <= box; k++)
          for (int l = -box; l <= box; l++) {
            const double s2 = HKL(h, k, l).invresolsq(c);
            if (s2 > 1.0 / (d * d)) continue;
            hmax = std::max(hmax, std::abs(h));
            kmax = std::max(kmax, std::abs(k));
            lmax = std::max(lmax, std::abs(l));
            best = std::max(best, s2);
          }
      EXPECT_TRUE(lim.h() >= hmax && lim.h() <= hmax + 1) << lim.format() << " " << hmax;
      EXPECT_TRUE(lim.k() >= kmax && lim.k() <= kmax + 1) << lim.format() << " " << kmax;
      EXPECT_TRUE(lim.l() >= lmax && lim.l() <= lmax + 1) << lim.format() << " " << lmax;
      EXPECT_NEAR(s.resolution(c).limit(), 0.999999 / std::sqrt(best), 1e-6 * d);
    }
}

TEST(Grid_sampling, WorkedExamples) {
  const Cell c = cell(50, 60, 70, 90, 90, 90);
  const Grid_sampling p1(Spacegroup(Spacegroup::P1), c, Resolution(2.0), 1.5);
  EXPECT_EQ(p1.format(), Grid(80, 90, 108).format());
  const Grid_sampling p212121(hall("P 2ac 2ab"), c, Resolution(2.0), 1.5);
  EXPECT_EQ(p212121.format(), Grid(80, 96, 108).format());
  const Grid_sampling edge100(Spacegroup(Spacegroup::P1), cell(100, 100, 100, 90, 90, 90),
                              Resolution(2.0), 1.5);
  EXPECT_EQ(edge100.nu(), 150);
  // a fourfold couples a and b: both take the larger choice (80 and 96 in P1)
  const Grid_sampling p4(hall("P 4"), cell(50, 61, 70, 90, 90, 90), Resolution(2.0), 1.5);
  EXPECT_EQ(p4.format(), Grid(96, 96, 108).format());
  EXPECT_TRUE(Grid_sampling().is_null());
  EXPECT_FALSE(p1.is_null());

  const Mat33<double> product = p1.matrix_frac_grid() * p1.matrix_grid_frac();
  EXPECT_TRUE(product.equals(Mat33<double>::identity(), 1e-12));
  EXPECT_DOUBLE_EQ(p1.matrix_grid_frac()(1, 1), 1.0 / 90);
}

// For every setting of the table: each size is at least its minimum, even,
// carries every operator's translation onto the grid, and axes that the
// rotations mix have equal sizes.
TEST(Grid_sampling, SizesSuitEverySpaceGroup) {
  const Cell c = cell(41.3, 52.7, 63.1, 90, 90, 90);
  const double rate = 1.5, dmin = 2.2;
  const int nmin[3] = {int(std::ceil(2 * rate * c.a() / dmin)),
                       int(std::ceil(2 * rate * c.b() / dmin)),
                       int(std::ceil(2 * rate * c.c() / dmin))};
  for (int row = 0; row < data::sgdata_size; row++) {
    const Spacegroup sg = hall(data::sgdata[row].hall);
    const Grid_sampling g(sg, c, Resolution(dmin), rate);
    for (int i = 0; i < 3; i++) {
      EXPECT_GE(g[i], nmin[i]) << data::sgdata[row].hall;
      EXPECT_EQ(g[i] % 2, 0) << data::sgdata[row].hall;
    }
    for (int s = 0; s < sg.op_count(); s++)
      for (int i = 0; i < 3; i++) {
        const double steps = sg.symop(s).trn()[i] * g[i];
        EXPECT_NEAR(steps, std::round(steps), 1e-9) << data::sgdata[row].hall;
        for (int j = 0; j < 3; j++)
          if (i != j && sg.symop(s).rot()(i, j) != 0.0) {
            EXPECT_EQ(g[i], g[j]) << data::sgdata[row].hall;
          }
      }
  }
}

// Very large grids are chosen, not silently left null; a null resolution
// gives a null grid.
TEST(Grid_sampling, LargeGrids) {
  const Spacegroup p1(Spacegroup::P1);
  const Grid_sampling g3400(p1, cell(1700, 20, 20, 90, 90, 90), Resolution(1.0), 1.0);
  EXPECT_EQ(g3400.nu(), 3402);
  const Grid_sampling g3500(p1, cell(1750, 20, 20, 90, 90, 90), Resolution(1.0), 1.0);
  EXPECT_GE(g3500.nu(), 3500);
  EXPECT_EQ(g3500.nu() % 2, 0);
  EXPECT_FALSE(g3500.is_null());
  EXPECT_TRUE(Grid_sampling(p1, cell(50, 50, 50, 90, 90, 90), Resolution(), 1.5).is_null());
  EXPECT_TRUE(Grid_sampling(p1, Cell(), Resolution(2.0), 1.5).is_null());
}

TEST(Grid_range, BoxesIndicesAndBorders) {
  Grid_range box(Coord_grid(-1, -1, -1), Coord_grid(1, 1, 1));
  EXPECT_EQ(box.format(), Grid(3, 3, 3).format());
  EXPECT_EQ(box.index(box.min()), 0);
  EXPECT_EQ(box.index(box.max()), 26);
  EXPECT_TRUE(box.in_grid(box.min()));
  EXPECT_TRUE(box.in_grid(box.max()));
  EXPECT_FALSE(box.in_grid(Coord_grid(2, 0, 0)));
  EXPECT_FALSE(box.in_grid(Coord_grid(0, -2, 0)));
  box.add_border(2);
  EXPECT_EQ(box.min().format(), Coord_grid(-3, -3, -3).format());
  EXPECT_EQ(box.max().format(), Coord_grid(3, 3, 3).format());
  EXPECT_EQ(box.size(), 7 * 7 * 7);

  const Grid_range frac(Grid(10, 10, 10), Coord_frac(0.05, 0, 0), Coord_frac(0.95, 1, 1));
  EXPECT_EQ(frac.min().format(), Coord_grid(1, 0, 0).format());
  EXPECT_EQ(frac.max().format(), Coord_grid(9, 10, 10).format());
  EXPECT_EQ(frac.format(), Grid(9, 11, 11).format());
  EXPECT_EQ(Grid_range().size(), 0);
}

TEST(Grid_range, WalkVisitsEveryPointInIndexOrder) {
  const Grid_range box(Coord_grid(-2, 3, -1), Coord_grid(1, 5, 2));
  int count = 0;
  Coord_grid c = box.min();
  for (; c.u() <= box.max().u(); c.next(box)) {
    ASSERT_TRUE(box.in_grid(c));
    ASSERT_EQ(box.index(c), count);
    count++;
  }
  EXPECT_EQ(count, box.size());
  EXPECT_EQ(c.format(), Coord_grid(2, 3, -1).format());
  EXPECT_EQ(Coord_grid(-1, 10, 23).unit(Grid(10, 10, 10)).format(), Coord_grid(9, 0, 3).format());
}

// The sphere box holds every grid point within the radius of the origin.
TEST(Grid_range, SphereBoxHoldsTheSphere) {
  const Cell c = cell(31, 42, 37, 80, 105, 95);
  const Grid g(40, 56, 48);
  const double radius = 4.5;
  const Grid_range box(c, g, radius);
  for (int u = -g.nu() / 2; u < g.nu() / 2; u++)
    for (int v = -g.nv() / 2; v < g.nv() / 2; v++)
      for (int w = -g.nw() / 2; w < g.nw() / 2; w++) {
        const Coord_frac f = Coord_grid(u, v, w).coord_frac(g);
        if (f.lengthsq(c) <= radius * radius) {
          ASSERT_TRUE(box.in_grid(Coord_grid(u, v, w)));
        }
      }
  EXPECT_EQ(box.nu(), 2 * box.max().u() + 1);
}
