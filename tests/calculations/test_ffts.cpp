#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "calculations/ffts.h"
#include "maps/interp.h"
#include "foundation/rotation.h"
#include "support/testing.h"

using namespace vantrel;

namespace {

Grid_sampling sampling(int nu, int nv, int nw) {
  Grid_sampling s;
  static_cast<Grid&>(s) = Grid(nu, nv, nw);
  return s;
}

// Gaussian blobs (sigma 1.2 A) at random sites and at their symmetry images:
// smooth on a grid of about 1 A, and symmetric by construction.
template <class T>
Xmap<T> blob_map(const std::string& symbol, const Cell& cell, const Grid_sampling& grid,
                 std::mt19937& rng, int sites_per_asu = 6) {
  const Spacegroup sg{Spgr_descr(symbol)};
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<Coord_frac> sites;
  for (int i = 0; i < sites_per_asu; ++i)
    for (int k = 0; k < sg.op_count(); ++k)
      sites.push_back(Coord_frac(sg.symop(k) * Coord_frac(unit(rng), unit(rng), unit(rng))));
  Xmap<T> map(sg, cell, grid);
  for (auto ix = map.first(); !ix.last(); ix.next()) {
    double rho = 0.0;
    for (const Coord_frac& s : sites) {
      Coord_frac d = ix.coord().coord_frac(grid) - s;
      for (int a = 0; a < 3; ++a) d[a] -= std::rint(d[a]);
      rho += std::exp(-d.coord_orth(cell).lengthsq() / (2.0 * 1.2 * 1.2));
    }
    map[ix] = T(rho);
  }
  return map;
}

// A cubic box of n points spaced 1 A, its centre at the origin of its frame.
template <class T>
NXmap<T> box(int n) {
  const double c = 0.5 * (n - 1);
  return NXmap<T>(Grid(n, n, n), RTop<double>(Mat33<double>::identity(), Vec3<double>(c, c, c)));
}

RTop_orth placement(const Cell& cell, const Coord_frac& centre, double a, double b, double g) {
  return RTop_orth(Rotation(Euler_ccp4(a, b, g)).matrix(), centre.coord_orth(cell));
}

template <class T>
double max_abs_difference(const Xmap<T>& a, const Xmap<T>& b, int& count) {
  double d = 0.0;
  count = 0;
  for (auto ix = a.first(); !ix.last(); ix.next(), ++count)
    d = std::max(d, std::abs(double(a[ix]) - double(b[ix])));
  return d;
}

struct Case {
  std::string symbol;
  Cell_descr cell;
  Grid_sampling grid;
  int box_points;  // 1 A apart: 16 is wider than a 10 A cell edge
};

const std::vector<Case> cases = {
    {"P 1", {17.0, 19.0, 21.0, 80.0, 95.0, 105.0}, sampling(16, 18, 20), 9},
    {"P 21 21 21", {20.0, 22.0, 24.0, 90.0, 90.0, 90.0}, sampling(18, 20, 22), 10},
    {"C 1 2 1", {24.0, 16.0, 18.0, 90.0, 108.0, 90.0}, sampling(24, 16, 18), 9},
    {"P 31 2 1", {18.0, 18.0, 20.0, 90.0, 90.0, 120.0}, sampling(18, 18, 21), 9},
    {"P 21 21 21", {10.0, 14.0, 16.0, 90.0, 90.0, 90.0}, sampling(10, 14, 16), 16},
    {"C 1 2 1", {10.0, 12.0, 14.0, 90.0, 100.0, 90.0}, sampling(10, 12, 14), 15},
};

// The FFT and direct forms of the template search on random fragments.
template <class T>
void fft_equals_direct(const Case& c, std::mt19937& rng) {
  SCOPED_TRACE(c.symbol + " box " + std::to_string(c.box_points));
  const Cell cell(c.cell);
  const Xmap<T> map = blob_map<T>(c.symbol, cell, c.grid, rng);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  NXmap<T> target = box<T>(c.box_points), weight = box<T>(c.box_points);
  for (int i = 0; i < target.grid().size(); ++i) {
    target[i] = T(unit(rng));
    weight[i] = T(unit(rng) < 0.2 ? -0.3 * unit(rng) : unit(rng));  // some negative
  }
  target[7] = Util::nanf();  // a missing value is passed over, not spread
  const RTop_orth op = placement(cell, Coord_frac(0.3, 0.6, 0.1), 0.4, 1.1, -0.7);
  const NX_operator nx_op(map, target, op);

  Xmap<T> fast(Spacegroup(Spacegroup::P1), cell, c.grid), slow = fast;
  EXPECT_TRUE(FFFear_fft<T>(map)(fast, target, weight, nx_op));
  EXPECT_TRUE(FFFear_slow<T>(map)(slow, target, weight, nx_op));
  double scale = 0.0;
  for (auto ix = slow.first(); !ix.last(); ix.next()) scale = std::max(scale, double(slow[ix]));
  int count;
  EXPECT_LT(max_abs_difference(fast, slow, count), 1e-5 * scale);
  EXPECT_EQ(count, c.grid.size());
  EXPECT_GT(scale, 1.0);

  // No positive weight: an empty box and scores of 0.
  weight = T(-1);
  FFFear_fft<T>(fast, target, weight, map, nx_op);
  FFFear_slow<T>(slow, target, weight, map, nx_op);
  for (auto ix = slow.first(); !ix.last(); ix.next()) {
    ASSERT_EQ(fast[ix], T(0));
    ASSERT_EQ(slow[ix], T(0));
  }
}

}  // namespace

// With the box wider than the cell in the last two cases, where box points
// that share a cell point must all be counted.
TEST(FragmentSearch, FftEqualsDirectSearch) {
  std::mt19937 rng(11);
  for (const Case& c : cases) {
    fft_equals_direct<float>(c, rng);
    fft_equals_direct<double>(c, rng);
  }
}

// A fragment cut from a map at a known rotation and translation scores
// about 0 there, and nowhere else so well; the wrong rotation fits nowhere.
TEST(FragmentSearch, FindsACutFragmentAtItsTranslation) {
  std::mt19937 rng(5);
  const Case c{"P 21 21 21", {30.0, 34.0, 38.0, 90.0, 90.0, 90.0}, sampling(30, 34, 38), 14};
  const Cell cell(c.cell);
  const Xmap<float> map = blob_map<float>(c.symbol, cell, c.grid, rng, 40);
  const Coord_grid shift(7, 30, 11);
  const RTop_orth search = placement(cell, Coord_frac(0.2, 0.5, 0.6), 0.9, 0.5, 2.1);
  RTop_orth truth = search;
  truth.trn() += shift.coord_frac(c.grid).coord_orth(cell);

  NXmap<float> target = box<float>(c.box_points), weight = box<float>(c.box_points);
  for (int i = 0; i < target.grid().size(); ++i) {
    const Coord_orth x = target.coord_orth(Coord_map(target.grid().deindex(i)));
    target[i] = map.interp<Interp_cubic>((truth * x).coord_frac(cell));
    weight[i] = x.lengthsq() < 5.0 * 5.0 ? 1.0f : 0.0f;
  }
  const FFFear_fft<float> search_fft(map);
  Xmap<float> result(Spacegroup(Spacegroup::P1), cell, c.grid);
  float best[2];
  for (int r = 0; r < 2; ++r) {
    const RTop_orth op = r == 0 ? search : RTop_orth(Mat33<double>::identity(), search.trn());
    search_fft(result, target, weight, NX_operator(map, target, op));
    auto at = result.first(), ix = at;
    std::vector<float> values;
    for (; !ix.last(); ix.next()) {
      values.push_back(result[ix]);
      if (result[ix] < result[at]) at = ix;
    }
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    best[r] = result[at] / values[values.size() / 2];  // relative to the median score
    if (r == 0) {
      EXPECT_EQ(at.coord(), shift);
    }
  }
  EXPECT_LT(best[0], 0.04);
  EXPECT_GT(best[1], 8.0 * best[0]);
}

// A weight given on another grid (here shifted by a grid point and padded)
// is sampled at its own grid position of the same point in space.
TEST(FragmentSearch, WeightOnItsOwnGrid) {
  std::mt19937 rng(3);
  const Case& c = cases[1];
  const Cell cell(c.cell);
  const Xmap<float> map = blob_map<float>(c.symbol, cell, c.grid, rng);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  const int n = c.box_points;
  NXmap<float> target = box<float>(n), weight = box<float>(n);
  const double centre = 0.5 * (n - 1) + 1.0;
  NXmap<float> padded(Grid(n + 2, n + 3, n + 2),
                      RTop<double>(Mat33<double>::identity(), Vec3<double>(centre, centre, centre)));
  for (int i = 0; i < target.grid().size(); ++i) {
    target[i] = unit(rng);
    weight[i] = unit(rng);
    padded.set_data(target.grid().deindex(i) + Coord_grid(1, 1, 1), weight[i]);
  }
  const NX_operator nx_op(map, target, placement(cell, Coord_frac(0.5, 0.2, 0.7), 1.0, 2.0, 0.5));
  Xmap<float> own(Spacegroup(Spacegroup::P1), cell, c.grid), other = own;
  FFFear_fft<float>(own, target, weight, map, nx_op);
  FFFear_fft<float>(other, target, padded, map, nx_op);
  int count;
  EXPECT_LT(max_abs_difference(own, other, count), 1e-3);
  EXPECT_EQ(count, c.grid.size());
}

// The basic forms against scores summed by numpy on gemmi's symmetric maps
// (tools/make_ffts_fixtures.py); the p3121 fragment is wider than the cell.
class BasicSearch : public ::testing::TestWithParam<std::string> {};

TEST_P(BasicSearch, EqualsDirectSums) {
  std::ifstream in = vantrel_testing::open_fixture("ffts_" + GetParam() + ".txt");
  std::string word, symbol;
  double p[6];
  int nu, nv, nw, n;
  std::getline(in >> word >> std::ws, symbol);
  in >> word >> p[0] >> p[1] >> p[2] >> p[3] >> p[4] >> p[5] >> word >> nu >> nv >> nw >> word >> n;
  const Cell cell(Cell_descr(p[0], p[1], p[2], p[3], p[4], p[5]));
  const Grid_sampling grid = sampling(nu, nv, nw);
  std::vector<float> values(n);
  for (float& x : values) in >> x;
  Xmap<float> map(Spacegroup(Spgr_descr(symbol)), cell, grid);
  for (auto ix = map.first(); !ix.last(); ix.next()) map[ix] = values[ix.coord().index(grid)];
  in >> word >> nu >> nv >> nw;
  NXmap<float> target(Grid(nu, nv, nw), RTop<double>::identity()), weight = target;
  for (int i = 0; i < target.grid().size(); ++i) in >> target[i] >> weight[i];

  Xmap<float> fast(Spacegroup(Spacegroup::P1), cell, grid), slow = fast;
  EXPECT_TRUE(FFFear_fft_basic(map)(fast, target, weight));
  EXPECT_TRUE(FFFear_slow_basic(map)(slow, target, weight));
  int u, v, w, count = 0;
  double score;
  for (in >> word >> n; n > 0 && in >> u >> v >> w >> score; --n, ++count) {
    EXPECT_NEAR(fast.get_data(Coord_grid(u, v, w)), score, 1e-5 * score) << u << " " << v << " " << w;
    EXPECT_NEAR(slow.get_data(Coord_grid(u, v, w)), score, 1e-5 * score) << u << " " << v << " " << w;
  }
  EXPECT_EQ(count, 122);
}

INSTANTIATE_TEST_SUITE_P(Groups, BasicSearch, ::testing::Values("p212121", "c121", "p3121"));

TEST(FragmentSearch, UnusableInputsAreFatal) {
  const Cell cell(cases[1].cell);
  const Grid_sampling& grid = cases[1].grid;
  const Xmap<float> map(Spacegroup(Spacegroup::P1), cell, grid);
  Xmap<float> coarse(Spacegroup(Spacegroup::P1), cell, sampling(9, 10, 11));
  Xmap<float> result = map;
  const NXmap<float> frag = box<float>(4), other = box<float>(5);
  const NX_operator nx_op(map, frag, RTop_orth::identity());
  using vantrel_testing::fatal_text;
  const std::string grids = " is not the searched map's Nuvw = (  18,  20,  22)";
  EXPECT_EQ(fatal_text([&] { FFFear_fft<float>{Xmap<float>()}; }),
            "FFFear_fft: the searched map is null");
  EXPECT_EQ(fatal_text([&] { FFFear_fft<float>{map}(coarse, frag, frag, nx_op); }),
            "FFFear_fft: the result map's grid Nuvw = (   9,  10,  11)" + grids);
  EXPECT_EQ(fatal_text([&] { FFFear_slow<float>{map}(coarse, frag, frag, nx_op); }),
            "FFFear_slow: the result map's grid Nuvw = (   9,  10,  11)" + grids);
  EXPECT_EQ(fatal_text([&] { FFFear_slow<float>{map}(result, frag, frag, NX_operator()); }),
            "FFFear_slow: the fragment operator is null");
  EXPECT_EQ(fatal_text([&] { FFFear_fft_basic{map}(result, frag, other); }),
            "FFFear_fft_basic: the target's grid Nuvw = (   4,   4,   4) is not the weight's "
            "Nuvw = (   5,   5,   5)");
  EXPECT_EQ(fatal_text([&] { FFFear_slow_basic{map}(coarse, frag, frag); }),
            "FFFear_slow_basic: the result map's grid Nuvw = (   9,  10,  11)" + grids);
}
