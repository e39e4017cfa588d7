// Maps and FFT grids on grids that cannot hold them, and interpolation at
// positions that are not numbers: a message or a missing value, never a
// write past a buffer or an undefined conversion.
#include <limits>

#include "maps/fftmap.h"
#include "maps/fftmap_sparse.h"
#include "maps/interp.h"
#include "maps_testing.h"

using namespace vantrel;
using maps_testing::fatal_text;
using maps_testing::sampling;

namespace {

Cell cubic(double a) { return Cell(Cell_descr(a, a, a, 90, 90, 90)); }

bool starts_with(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}

}  // namespace

// A size of 0 or less wrote before the buffer or threw a bare
// std::length_error; more than 2^31 points overflowed int indices.
TEST(BadMapGrid, NullAndOversizedGridsAreFatal) {
  const Spacegroup p1(Spgr_descr("P 1"));
  for (const Grid_sampling& g : {sampling(0, 8, 8), sampling(-4, -4, 8), sampling(8, 8, -2)}) {
    const std::string grid = g.format();
    EXPECT_EQ(fatal_text([&] { Xmap<float>(p1, cubic(20), g); }), "Xmap: null grid " + grid);
    EXPECT_EQ(fatal_text([&] { FFTmap_p1 map(g); }), "FFTmap_p1: null grid " + grid);
    EXPECT_EQ(fatal_text([&] { FFTmap_sparse_p1_hx map(g); }), "FFTmap_sparse: null grid " + grid);
  }
  // an 860 A and a 700 A cell at 1.5 A
  for (const double a : {860.0, 700.0}) {
    const Grid_sampling g(p1, cubic(a), Resolution(1.5));
    ASSERT_FALSE(g.is_null());
    EXPECT_GT(g.size64(), std::int64_t(1) << 31);
    for (const std::string& text :
         {fatal_text([&] { Xmap<float>(p1, cubic(a), g); }), fatal_text([&] { FFTmap_p1 map(g); })})
      EXPECT_NE(text.find(": map grid too large: " + g.format()), std::string::npos) << text;
  }
  EXPECT_EQ(fatal_text([] { NXmap<float>(Grid(4, -1, 4), RTop<double>::identity()); }),
            "NXmap: invalid grid " + Grid(4, -1, 4).format());
}

// A grid without the group's symmetry read past the operator tables, or
// gave a map whose symmetry was silently wrong.
TEST(BadMapGrid, GridMustSuitTheGroup) {
  const std::vector<std::pair<const char*, Grid_sampling>> cases = {{"C 2y", sampling(9, 8, 8)},
                                                                    {"P 4", sampling(6, 7, 8)}};
  for (const auto& c : cases) {
    const Spacegroup sg(Spgr_descr(c.first, Spgr_descr::Hall));
    const std::string text = fatal_text([&] { Xmap<float>(sg, cubic(20), c.second); });
    EXPECT_TRUE(starts_with(
        text, "Xmap: grid " + c.second.format() + " does not suit space group " + c.first))
        << text;
    EXPECT_TRUE(starts_with(fatal_text([&] { FFTmap(sg, cubic(20), c.second); }), "FFTmap: grid "));
  }
  const Spacegroup c2(Spgr_descr("C 2y", Spgr_descr::Hall));
  EXPECT_EQ(fatal_text([&] { Xmap<float>(c2, cubic(20), sampling(10, 8, 8)); }), "no error");
}

// A non-finite position gives a missing value; a far one, the value at the
// same place in the cell (shifts of 2^40 cells keep these positions exact).
TEST(BadInterpolation, NonFiniteAndFarPositions) {
  const Spacegroup sg(Spgr_descr("P 21 21 21"));
  const Grid_sampling g = sampling(12, 16, 20);
  Xmap<float> map(sg, cubic(24), g);
  int n = 0;
  for (auto ix = map.first(); !ix.last(); ix.next(), ++n) map[ix] = float(std::sin(0.37 * n));
  ASSERT_GT(n, 100);
  const NXmap<float> box(Grid(6, 6, 6), RTop<double>::identity());
  const double nan = Util::nan(), inf = std::numeric_limits<double>::infinity();
  for (const Coord_map& bad : {Coord_map(nan, 1, 1), Coord_map(1, inf, 1), Coord_map(1, 1, -inf)}) {
    float v = 0;
    Interp_linear::interp(map, bad, v);
    EXPECT_TRUE(std::isnan(v));
    Interp_cubic::interp(map, bad, v);
    EXPECT_TRUE(std::isnan(v));
    Interp_linear::interp(box, bad, v);
    EXPECT_TRUE(std::isnan(v));
  }
  float v = 0;
  Interp_cubic::interp(box, Coord_map(1e300, 2, 2), v);
  EXPECT_TRUE(std::isnan(v));
  const double cells = 0x1p40;
  const Coord_map near(0.25, 1.5, 2.375),
      far(0.25 + cells * 12, 1.5 - cells * 16, 2.375 + cells * 20);
  float a = 0, b = 1;
  Interp_linear::interp(map, near, a);
  Interp_linear::interp(map, far, b);
  EXPECT_EQ(a, b);
  Interp_cubic::interp(map, near, a);
  Interp_cubic::interp(map, far, b);
  EXPECT_EQ(a, b);
  EXPECT_FALSE(std::isnan(a));
}
