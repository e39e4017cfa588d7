// Fragment search: the FFT form against the direct form and against numpy's
// sums, and a fragment cut from a map found again at its translation.
#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "calculations/ffts.h"
#include "foundation/rotation.h"
#include "maps/interp.h"
#include "maps/maps_testing.h"
#include "support/testing.h"

using namespace vantrel;
using maps_testing::sampling;

namespace {

// Gaussian blobs (sigma 1.2 A) at random sites and their symmetry images:
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

// A cube of n points 1 A apart, centred on the origin of its frame.
template <class T> NXmap<T> box(int n) {
  const double c = 0.5 * (n - 1);
  return NXmap<T>(Grid(n, n, n), RTop<double>(Mat33<double>::identity(), Vec3<double>(c, c, c)));
}

RTop_orth placement(const Cell& cell, const Coord_frac& centre, double a, double b, double g) {
  return RTop_orth(Rotation(Euler_ccp4(a, b, g)).matrix(), centre.coord_orth(cell));
}

// The largest difference over every point of two P1 maps of one grid.
template <class T> double max_difference(const Xmap<T>& a, const Xmap<T>& b) {
  double d = 0.0;
  int count = 0;
  for (auto ix = a.first(); !ix.last(); ix.next(), ++count)
    d = std::max(d, std::abs(double(a[ix]) - double(b[ix])));
  EXPECT_EQ(count, a.grid_sampling().size());
  return d;
}

struct Case {
  std::string symbol;
  Cell_descr cell;
  Grid_sampling grid;
  int box_points;  // 1 A apart: 15 and 16 are wider than the 10 A a edge
};

const std::vector<Case> cases = {
    {"P 1", {17.0, 19.0, 21.0, 80.0, 95.0, 105.0}, sampling(16, 18, 20), 9},
    {"C 1 2 1", {24.0, 16.0, 18.0, 90.0, 108.0, 90.0}, sampling(24, 16, 18), 9},
    {"P 31 2 1", {18.0, 18.0, 20.0, 90.0, 90.0, 120.0}, sampling(18, 18, 21), 9},
    {"P 21 21 21", {10.0, 14.0, 16.0, 90.0, 90.0, 90.0}, sampling(10, 14, 16), 16},
    {"C 1 2 1", {10.0, 12.0, 14.0, 90.0, 100.0, 90.0}, sampling(10, 12, 14), 15},
};

template <class T> void fft_equals_direct(const Case& c, std::mt19937& rng) {
  SCOPED_TRACE(c.symbol + " box " + std::to_string(c.box_points));
  const Cell cell(c.cell);
  const Xmap<T> map = blob_map<T>(c.symbol, cell, c.grid, rng);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  // The weight also on a wider grid, its points shifted by one: it is
  // sampled at its own grid position of the same point in space.
  NXmap<T> target = box<T>(c.box_points), weight = target, padded = box<T>(c.box_points + 2);
  for (int i = 0; i < target.grid().size(); ++i) {
    target[i] = T(unit(rng));
    weight[i] = T(unit(rng) < 0.2 ? -0.3 * unit(rng) : unit(rng));
    padded.set_data(target.grid().deindex(i) + Coord_grid(1, 1, 1), weight[i]);
  }
  // Points where the target or the weight is missing are passed over, not
  // spread over every score.
  target[7] = Util::nanf();
  weight[11] = Util::nanf();
  padded.set_data(target.grid().deindex(11) + Coord_grid(1, 1, 1), Util::nanf());
  const NX_operator nx_op(map, target, placement(cell, {0.3, 0.6, 0.1}, 0.4, 1.1, -0.7));
  Xmap<T> fast(Spacegroup(Spacegroup::P1), cell, c.grid), slow = fast;
  EXPECT_TRUE(FFFear_fft<T>(map)(fast, target, weight, nx_op));
  EXPECT_TRUE(FFFear_slow<T>(map)(slow, target, weight, nx_op));
  double scale = 0.0;
  for (auto ix = slow.first(); !ix.last(); ix.next()) scale = std::max(scale, double(slow[ix]));
  EXPECT_GT(scale, 1.0);
  EXPECT_LT(max_difference(fast, slow), 1e-5 * scale);
  FFFear_fft<T>(fast, target, padded, map, nx_op);
  EXPECT_LT(max_difference(fast, slow), 1e-5 * scale);
  Xmap<T> asu(map.spacegroup(), cell, c.grid);  // scores of the ASU translations only
  FFFear_fft<T>(asu, target, weight, map, nx_op);
  for (auto ix = asu.first(); !ix.last(); ix.next())
    ASSERT_NEAR(asu[ix], slow.get_data(ix.coord()), 1e-5 * scale);

  weight = T(-1);  // no positive weight: an empty box, every score 0
  FFFear_fft<T>(fast, target, weight, map, nx_op);
  FFFear_slow<T>(slow, target, weight, map, nx_op);
  const Xmap<T> zero(Spacegroup(Spacegroup::P1), cell, c.grid);
  EXPECT_EQ(max_difference(fast, zero) + max_difference(slow, zero), 0.0);
}

// Oblique, centred and trigonal cells; in the last two cases the box is
// wider than the cell, and box points sharing a cell point must all count.
TEST(FragmentSearch, FftEqualsDirectSearch) {
  std::mt19937 rng(11);
  for (const Case& c : cases) {
    fft_equals_direct<float>(c, rng);
    fft_equals_direct<double>(c, rng);
  }
}

// A fragment cut from a map at a known rotation and translation scores
// about 0 there and nowhere else.
TEST(FragmentSearch, FindsACutFragmentAtItsTranslation) {
  std::mt19937 rng(5);
  const Cell cell(Cell_descr(30.0, 34.0, 38.0, 90.0, 90.0, 90.0));
  const Grid_sampling grid = sampling(30, 34, 38);
  const Xmap<float> map = blob_map<float>("P 21 21 21", cell, grid, rng, 40);
  const Coord_grid shift(7, 30, 11);
  const RTop_orth search = placement(cell, {0.2, 0.5, 0.6}, 0.9, 0.5, 2.1);
  RTop_orth truth = search;
  truth.trn() += shift.coord_frac(grid).coord_orth(cell);
  NXmap<float> target = box<float>(14), weight = box<float>(14);
  for (int i = 0; i < target.grid().size(); ++i) {
    const Coord_orth x = target.coord_orth(Coord_map(target.grid().deindex(i)));
    target[i] = map.interp<Interp_cubic>((truth * x).coord_frac(cell));
    weight[i] = x.lengthsq() < 5.0 * 5.0 ? 1.0f : 0.0f;
  }
  Xmap<float> result(Spacegroup(Spacegroup::P1), cell, grid);
  EXPECT_TRUE(FFFear_fft<float>(map)(result, target, weight, NX_operator(map, target, search)));
  auto at = result.first();
  std::vector<float> values;
  for (auto ix = at; !ix.last(); ix.next()) {
    values.push_back(result[ix]);
    if (result[ix] < result[at]) at = ix;
  }
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  EXPECT_EQ(at.coord(), shift);
  EXPECT_LT(result[at] / values[values.size() / 2], 0.04);  // far below the median score
}

// The basic forms against scores summed by numpy on gemmi's symmetric maps
// (tools/make_ffts_fixtures.py); the p3121 fragment is wider than the cell.
class BasicSearch : public ::testing::TestWithParam<std::string> {};

TEST_P(BasicSearch, EqualsDirectSums) {
  std::ifstream in = vantrel_testing::open_fixture("ffts_" + GetParam() + ".txt");
  std::string word, symbol;
  double p[6], score;
  int nu, nv, nw, n, u, v, w, count = 0;
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
  for (in >> word >> n; n > 0 && in >> u >> v >> w >> score; --n, ++count) {
    EXPECT_NEAR(fast.get_data(Coord_grid(u, v, w)), score, 1e-5 * score) << u << v << w;
    EXPECT_NEAR(slow.get_data(Coord_grid(u, v, w)), score, 1e-5 * score) << u << v << w;
  }
  EXPECT_EQ(count, 122);
}

INSTANTIATE_TEST_SUITE_P(Groups, BasicSearch, ::testing::Values("p212121", "c121", "p3121"));

// Each form refuses a null searched map, a result map on another grid, a
// null fragment operator, and a target and weight on different grids.
TEST(FragmentSearch, UnusableInputsAreFatal) {
  const Xmap<float> map(Spacegroup(Spacegroup::P1), Cell(cases[1].cell), cases[1].grid);
  Xmap<float> result = map, coarse(map.spacegroup(), map.cell(), sampling(9, 10, 11));
  const NXmap<float> frag = box<float>(4), other = box<float>(5);
  const NX_operator nx_op(map, frag, RTop_orth::identity());
  const std::string grids =
      ": the result map's grid Nuvw = (   9,  10,  11) is not the searched map's "
      "Nuvw = (  24,  16,  18)";
  const std::string frags =
      ": the target's grid Nuvw = (   4,   4,   4) is not the weight's Nuvw = (   5,   5,   5)";
  const std::vector<std::pair<std::function<void()>, std::string>> cases = {
      {[&] { FFFear_fft<float>{Xmap<float>()}; }, "FFFear_fft: the searched map is null"},
      {[&] { FFFear_fft_basic{Xmap<float>()}; }, "FFFear_fft_basic: the searched map is null"},
      {[&] { FFFear_fft<float>{map}(coarse, frag, frag, nx_op); }, "FFFear_fft" + grids},
      {[&] { FFFear_slow<float>{map}(coarse, frag, frag, nx_op); }, "FFFear_slow" + grids},
      {[&] { FFFear_fft_basic{map}(coarse, frag, frag); }, "FFFear_fft_basic" + grids},
      {[&] { FFFear_slow_basic{map}(coarse, frag, frag); }, "FFFear_slow_basic" + grids},
      {[&] { FFFear_fft<float>{map}(result, frag, frag, NX_operator()); },
       "FFFear_fft: the fragment operator is null"},
      {[&] { FFFear_slow<float>{map}(result, frag, frag, NX_operator()); },
       "FFFear_slow: the fragment operator is null"},
      {[&] { FFFear_fft_basic{map}(result, frag, other); }, "FFFear_fft_basic" + frags},
      {[&] { FFFear_slow_basic{map}(result, frag, other); }, "FFFear_slow_basic" + frags}};
  for (const auto& c : cases) EXPECT_EQ(vantrel_testing::fatal_text(c.first), c.second);
}

}  // namespace
