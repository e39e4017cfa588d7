#include "maps_testing.h"

#include "maps/fftmap.h"

using namespace vantrel;
using maps_testing::sampling;

namespace {

typedef std::complex<double> zd;

// The sum over grid points y of v[y] exp(sign 2 pi i y.x), y.x = yu xu/nu + ...
zd direct_sum(const Grid& g, const std::vector<zd>& v, const Coord_grid& x, int sign) {
  zd sum = 0.0;
  for (Coord_grid y(0, 0, 0); y.u() < g.nu(); y.next(g)) {
    const double yx = double(y.u()) * x.u() / g.nu() + double(y.v()) * x.v() / g.nv() +
                      double(y.w()) * x.w() / g.nw();
    sum += v[g.index(y)] * std::polar(1.0, sign * Util::twopi() * yx);
  }
  return sum;
}

}  // namespace

// Small grids, odd and even along every axis, against the Fourier convention
// with the 1/V and V/N scales.
TEST(FFTmapP1, TransformsMatchDirectSumsAndInvert) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> val(-1.0f, 1.0f);
  const double volume = 1234.5;
  for (const auto& n :
       {Grid(4, 6, 8), Grid(5, 3, 7), Grid(3, 4, 5), Grid(6, 5, 6), Grid(3, 5, 4), Grid(1, 2, 9)}) {
    const Grid_sampling g = sampling(n.nu(), n.nv(), n.nw());
    // Arbitrary values on the half grid, self-mirror terms included.
    FFTmap_p1 hx(g);
    for (Coord_grid c(0, 0, 0); c.u() < g.nu(); c.next(hx.grid_reci()))
      hx.cplx_data(c) = std::complex<float>(val(rng), val(rng));
    std::vector<zd> coef(g.size());
    for (Coord_grid h(0, 0, 0); h.u() < g.nu(); h.next(g))
      coef[g.index(h)] = zd(hx.get_hkl(HKL(h)));
    hx.fft_h_to_x(1.0 / volume);
    EXPECT_EQ(hx.mode(), 2);
    for (Coord_grid x(0, 0, 0); x.u() < g.nu(); x.next(g))
      EXPECT_NEAR(hx.real_data(x), direct_sum(g, coef, x, -1).real() / volume,
                  2e-5 * g.size() / volume)
          << g.format() << " " << x.format();
    // Every index of the full grid, the upper half through Friedel symmetry.
    FFTmap_p1 xh(g);
    std::vector<zd> rho(g.size());
    for (Coord_grid x(0, 0, 0); x.u() < g.nu(); x.next(g))
      rho[g.index(x)] = xh.real_data(x) = val(rng);
    xh.fft_x_to_h(volume);
    EXPECT_EQ(xh.mode(), 1);
    for (Coord_grid h(0, 0, 0); h.u() < g.nu(); h.next(g)) {
      const zd expect = direct_sum(g, rho, h, +1) * (volume / g.size());
      const std::complex<float> f = xh.get_hkl(HKL(h));
      EXPECT_NEAR(f.real(), expect.real(), 5e-6 * volume) << g.format() << " " << h.format();
      EXPECT_NEAR(f.imag(), expect.imag(), 5e-6 * volume) << g.format() << " " << h.format();
    }
    xh.fft_h_to_x(1.0 / volume);
    for (Coord_grid x(0, 0, 0); x.u() < g.nu(); x.next(g))
      ASSERT_NEAR(xh.real_data(x), rho[g.index(x)].real(), 1e-5) << g.format() << x.format();
  }
}

// Coefficients in a small box leave most lines zero, which the reverse
// transform skips; the transforms limited to the rows or coefficients read
// give those bit for bit as the whole transforms do.
TEST(FFTmapP1, SparseCoefficientsAndLimitedForwardTransform) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<float> val(-1.0f, 1.0f);
  const Grid_sampling g = sampling(10, 8, 12);
  const HKL limit(2, 1, 3);
  FFTmap_p1 hx(g);
  std::vector<zd> coef(g.size());
  int set = 0;
  for (int h = -limit.h(); h <= limit.h(); ++h)
    for (int k = -limit.k(); k <= limit.k(); ++k)
      for (int l = 0; l <= limit.l(); ++l, ++set)
        hx.set_hkl(HKL(h, k, l), std::complex<float>(val(rng), l == 0 ? 0.0f : val(rng)));
  for (Coord_grid h(0, 0, 0); h.u() < g.nu(); h.next(g)) coef[g.index(h)] = zd(hx.get_hkl(HKL(h)));
  FFTmap_p1 box = hx;
  hx.fft_h_to_x(1.0);
  for (Coord_grid x(0, 0, 0); x.u() < g.nu(); x.next(g))
    ASSERT_NEAR(hx.real_data(x), direct_sum(g, coef, x, -1).real(), 1e-5) << x.format();
  // Rows (u, v) in a box, v starting and ending mid-pair.
  const Grid_range wanted(Coord_grid(3, 1, 0), Coord_grid(6, 4, g.nw() - 1));
  box.fft_h_to_x(1.0, wanted);
  for (Coord_grid x = wanted.min(); x.u() <= wanted.max().u(); x.next(wanted))
    ASSERT_EQ(box.real_data(x), hx.real_data(x)) << x.format();

  FFTmap_p1 all(g), part(g);
  for (Coord_grid x(0, 0, 0); x.u() < g.nu(); x.next(g))
    all.real_data(x) = part.real_data(x) = val(rng);
  all.fft_x_to_h(1.0);
  part.fft_x_to_h(1.0, limit);
  int compared = 0;
  for (int h = -limit.h(); h <= limit.h(); ++h)
    for (int k = -limit.k(); k <= limit.k(); ++k)
      for (int l = -limit.l(); l <= limit.l(); ++l, ++compared)
        ASSERT_EQ(part.get_hkl(HKL(h, k, l)), all.get_hkl(HKL(h, k, l)))
            << h << " " << k << " " << l;
  EXPECT_EQ(set, 60);
  EXPECT_EQ(compared, 105);
}

// On l = 0 both h and -h are stored, and a later Friedel mate replaces both.
TEST(FFTmapP1, FriedelMatesOnTheHalfGrid) {
  FFTmap_p1 map(sampling(4, 6, 8));
  const std::complex<float> f(1.5f, -0.25f);
  map.set_hkl(HKL(1, 2, 0), std::complex<float>(-0.5f, 2.0f));
  map.set_hkl(HKL(-1, -2, 0), f);
  EXPECT_EQ(map.cplx_data(Coord_grid(3, 4, 0)), f);
  EXPECT_EQ(map.cplx_data(Coord_grid(1, 2, 0)), std::conj(f));
  map.set_hkl(HKL(1, -1, 3), f);
  EXPECT_EQ(map.cplx_data(Coord_grid(1, 5, 3)), f);
  EXPECT_EQ(map.get_hkl(HKL(3, 1, 5)), std::conj(f));  // -h reduced
}

TEST(FFTmapP1, TransformInItsOwnSpaceChangesNothing) {
  const Grid_sampling g = sampling(4, 4, 6);
  FFTmap_p1 map(g);
  map.fft_h_to_x(1.0);  // mode 0 to real space: transforms the zeros
  EXPECT_EQ(map.mode(), 2);
  map.real_data(Coord_grid(1, 2, 3)) = 5.0f;
  map.fft_h_to_x(1.0);
  EXPECT_EQ(map.real_data(Coord_grid(1, 2, 3)), 5.0f);
  map.fft_x_to_h(1.0);
  const std::complex<float> f000 = map.get_hkl(HKL(0, 0, 0));
  EXPECT_NEAR(f000.real(), 5.0f / g.size(), 1e-7);
  map.fft_x_to_h(1.0);
  EXPECT_EQ(map.get_hkl(HKL(0, 0, 0)), f000);
  map.reset();
  EXPECT_EQ(map.mode(), 0);
  EXPECT_EQ(map.get_hkl(HKL(0, 0, 0)), std::complex<float>(0.0f, 0.0f));
}

TEST(FFTmapP1, InitStartsFromZerosAndCopiesOwnTheirBuffer) {
  FFTmap_p1 map(sampling(6, 6, 6));
  for (Coord_grid x(0, 0, 0); x.u() < 6; x.next(map.grid_sampling())) map.real_data(x) = x.u();
  map.fft_x_to_h(1.0);
  for (const Grid& n : {Grid(4, 5, 6), Grid(4, 5, 6), Grid(8, 8, 10)}) {
    map.init(sampling(n.nu(), n.nv(), n.nw()));
    EXPECT_EQ(map.mode(), 0);
    EXPECT_EQ(map.grid_real().nw(), 2 * (n.nw() / 2 + 1));
    for (Coord_grid x(0, 0, 0); x.u() < n.nu(); x.next(n))
      ASSERT_EQ(map.real_data(x), 0.0f) << x.format();
    map.real_data(Coord_grid(1, 1, 1)) = 3.0f;
  }
  const FFTmap_p1 copy(map);
  map.real_data(Coord_grid(1, 1, 1)) = 4.0f;
  EXPECT_EQ(copy.real_data(Coord_grid(1, 1, 1)), 3.0f);
}

TEST(FFTmap, SymmetryExpansionInBothSpaces) {
  // P 1 21 1, C 1 2 1, P 21 21 21, P 31, R 3 (hexagonal), P 21 3; one grid point per A
  // fits each group's symmetry
  const std::pair<int, Cell_descr> settings[] = {
      {4, Cell_descr(10, 12, 14, 90, 103, 90)},   {5, Cell_descr(20, 12, 14, 90, 110, 90)},
      {19, Cell_descr(10, 12, 14, 90, 90, 90)},   {144, Cell_descr(12, 12, 18, 90, 90, 120)},
      {146, Cell_descr(12, 12, 18, 90, 90, 120)}, {198, Cell_descr(12, 12, 12, 90, 90, 90)}};
  for (const auto& [number, descr] : settings) {
    const Spacegroup spgr{Spgr_descr(number)};
    const Grid_sampling g = sampling(int(descr.a()), int(descr.b()), int(descr.c()));
    FFTmap map(spgr, Cell(descr), g);
    // Allowed in every group here; only the images under the primitive
    // operators and their Friedel mates are set.
    const HKL h(3, 1, 2);
    const datatypes::F_phi<float> in(3.0f, 1.1f);
    map.set_recip_data(h, in);
    int nonzero = 0;
    for (Coord_grid c(0, 0, 0); c.u() < g.nu(); c.next(g))
      nonzero += std::abs(map.get_hkl(HKL(c))) > 0;
    EXPECT_EQ(nonzero, 2 * spgr.primitive_count()) << number;
    map.fft_h_to_x();
    for (int k = 0; k < spgr.op_count(); ++k) {
      const Isymop op(spgr.symop(k), g);
      for (Coord_grid x(0, 0, 0); x.u() < g.nu(); x.next(g)) {
        float a, b;
        map.get_real_data(x, a);
        map.get_real_data(x.transform(op), b);
        ASSERT_NEAR(a, b, 1e-6) << number << " op " << k << " " << x.format();
      }
    }
    map.fft_x_to_h();
    datatypes::F_phi<double> out;
    map.get_recip_data(h, out);
    EXPECT_NEAR(out.f(), in.f(), 1e-4) << number;
    EXPECT_NEAR(out.phi(), in.phi(), 1e-4) << number;
    // A real value at a general position fills each of its images.
    map.reset();
    map.set_real_data(Coord_grid(1, 2, 3), 2.0);
    int set = 0;
    for (Coord_grid c(0, 0, 0); c.u() < g.nu(); c.next(g)) set += map.real_data(c) == 2.0f;
    EXPECT_EQ(set, spgr.op_count()) << number;
  }
}

TEST(FFTmap, ModeRules) {
  using maps_testing::fatal_text;
  const Grid_sampling g = sampling(4, 4, 4);
  const Cell cell(Cell_descr(10, 10, 10, 90, 90, 90));
  FFTmap map(Spacegroup(Spacegroup::P1), cell, g);
  float x;
  datatypes::F_phi<float> fphi;
  EXPECT_EQ(fatal_text([&] { map.get_real_data(Coord_grid(0, 0, 0), x); }),
            "FFTmap: get_real_data in reciprocal space");
  EXPECT_EQ(fatal_text([&] { map.get_recip_data(HKL(0, 0, 0), fphi); }),
            "FFTmap: get_recip_data in real space");
  // In mode 0 the scaled transforms do nothing.
  map.fft_h_to_x();
  map.fft_x_to_h();
  EXPECT_EQ(map.mode(), 0);
  map.set_real_data(Coord_grid(1, 1, 1), 1.0f);
  EXPECT_EQ(map.mode(), 2);
  EXPECT_EQ(fatal_text([&] { map.set_recip_data(HKL(1, 0, 0), fphi); }),
            "FFTmap: set_recip_data in real space");
  map.fft_x_to_h();
  EXPECT_EQ(map.mode(), 1);
  EXPECT_EQ(fatal_text([&] { map.set_real_data(Coord_grid(1, 1, 1), 1.0f); }),
            "FFTmap: set_real_data in reciprocal space");
  map.get_recip_data(HKL(0, 0, 0), fphi);
  EXPECT_NEAR(fphi.f(), cell.volume() / g.size(), 1e-3);
}
