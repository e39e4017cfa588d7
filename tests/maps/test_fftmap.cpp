#include "maps/fftmap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <string>
#include <vector>

using namespace vantrel;

namespace {

typedef std::complex<double> zd;

const double kTwoPi = Util::twopi();

Grid_sampling sampling(int nu, int nv, int nw) {
  Grid_sampling g;
  static_cast<Grid&>(g) = Grid(nu, nv, nw);
  return g;
}

// exp(sign 2 pi i h.x) on the grid, h.x = hu/nu + kv/nv + lw/nw.
zd phase_factor(const Grid& g, const Coord_grid& h, const Coord_grid& x, int sign) {
  const double hx = double(h.u()) * x.u() / g.nu() + double(h.v()) * x.v() / g.nv() +
                    double(h.w()) * x.w() / g.nw();
  return std::polar(1.0, sign * kTwoPi * hx);
}

// Small grids, odd and even along every axis.
const int kGrids[][3] = {{4, 6, 8}, {5, 3, 7}, {3, 4, 5}, {6, 5, 6}, {3, 5, 4}, {1, 2, 9}};

}  // namespace

// ---------------------------------------------------------------------------
// P1 transforms against a direct summation of the Fourier convention

TEST(FFTmapP1, ReciprocalToRealMatchesDirectSum) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> val(-1.0f, 1.0f);
  const double scale = 1.0 / 1234.5;  // 1/V
  for (const auto& n : kGrids) {
    const Grid_sampling g = sampling(n[0], n[1], n[2]);
    FFTmap_p1 map(g);
    // Arbitrary values on the half grid, self-mirror terms included.
    for (Coord_grid c(0, 0, 0); c.u() < g.nu(); c.next(map.grid_reci()))
      map.cplx_data(c) = std::complex<float>(val(rng), val(rng));
    std::vector<zd> coef(g.size());
    for (Coord_grid h(0, 0, 0); h.u() < g.nu(); h.next(g))
      coef[g.index(h)] = zd(map.get_hkl(HKL(h)));

    map.fft_h_to_x(scale);
    EXPECT_EQ(map.mode(), 2);
    for (Coord_grid x(0, 0, 0); x.u() < g.nu(); x.next(g)) {
      zd sum = 0.0;
      for (Coord_grid h(0, 0, 0); h.u() < g.nu(); h.next(g))
        sum += coef[g.index(h)] * phase_factor(g, h, x, -1);
      EXPECT_NEAR(map.real_data(x), scale * sum.real(), 2e-5 * scale * g.size())
          << g.format() << " " << x.format();
    }
  }
}

TEST(FFTmapP1, RealToReciprocalMatchesDirectSumAndTransformsBack) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> val(-1.0f, 1.0f);
  const double scale = 1234.5;  // V
  for (const auto& n : kGrids) {
    const Grid_sampling g = sampling(n[0], n[1], n[2]);
    FFTmap_p1 map(g);
    std::vector<double> rho(g.size());
    for (Coord_grid x(0, 0, 0); x.u() < g.nu(); x.next(g))
      map.real_data(x) = rho[g.index(x)] = val(rng);

    map.fft_x_to_h(scale);
    EXPECT_EQ(map.mode(), 1);
    // Every index of the full grid, the upper half through Friedel symmetry.
    for (Coord_grid h(0, 0, 0); h.u() < g.nu(); h.next(g)) {
      zd sum = 0.0;
      for (Coord_grid x(0, 0, 0); x.u() < g.nu(); x.next(g))
        sum += rho[g.index(x)] * phase_factor(g, h, x, +1);
      sum *= scale / g.size();
      const std::complex<float> f = map.get_hkl(HKL(h));
      EXPECT_NEAR(f.real(), sum.real(), 5e-6 * scale) << g.format() << " " << h.format();
      EXPECT_NEAR(f.imag(), sum.imag(), 5e-6 * scale) << g.format() << " " << h.format();
    }

    map.fft_h_to_x(1.0 / scale);
    for (Coord_grid x(0, 0, 0); x.u() < g.nu(); x.next(g))
      ASSERT_NEAR(map.real_data(x), rho[g.index(x)], 1e-5) << g.format() << " " << x.format();
  }
}

// ---------------------------------------------------------------------------
// Index access, modes and re-initialisation

TEST(FFTmapP1, FriedelMatesOnTheHalfGrid) {
  const Grid_sampling g = sampling(4, 6, 8);
  FFTmap_p1 map(g);
  const std::complex<float> f(1.5f, -0.25f);
  // l = 0: both h and -h are stored.
  map.set_hkl(HKL(1, 2, 0), f);
  EXPECT_EQ(map.cplx_data(Coord_grid(1, 2, 0)), f);
  EXPECT_EQ(map.cplx_data(Coord_grid(3, 4, 0)), std::conj(f));
  // A later Friedel mate replaces both.
  const std::complex<float> f2(-0.5f, 2.0f);
  map.set_hkl(HKL(-1, -2, 0), f2);
  EXPECT_EQ(map.get_hkl(HKL(1, 2, 0)), std::conj(f2));
  EXPECT_EQ(map.get_hkl(HKL(-1, -2, 0)), f2);
  // l above nw/2 reads the conjugate at -h.
  map.set_hkl(HKL(1, -1, 3), f);
  EXPECT_EQ(map.get_hkl(HKL(1, -1, 3)), f);
  EXPECT_EQ(map.get_hkl(HKL(-1, 1, -3)), std::conj(f));
  EXPECT_EQ(map.get_hkl(HKL(3, 1, 5)), std::conj(f));  // -h reduced: (3, 1, 5)
  EXPECT_EQ(map.cplx_data(Coord_grid(1, 5, 3)), f);
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
  for (Coord_grid x(0, 0, 0); x.u() < 6; x.next(map.grid_sampling()))
    map.real_data(x) = 1.0f + x.u();
  map.fft_x_to_h(1.0);
  for (const auto& n : {std::vector<int>{4, 5, 6}, std::vector<int>{4, 5, 6},
                        std::vector<int>{8, 8, 10}}) {
    map.init(sampling(n[0], n[1], n[2]));
    EXPECT_EQ(map.mode(), 0);
    EXPECT_EQ(map.grid_real().nw(), 2 * (n[2] / 2 + 1));
    for (Coord_grid x(0, 0, 0); x.u() < n[0]; x.next(map.grid_sampling()))
      ASSERT_EQ(map.real_data(x), 0.0f) << x.format();
    map.real_data(Coord_grid(1, 1, 1)) = 3.0f;
  }
  const FFTmap_p1 copy(map);
  map.real_data(Coord_grid(1, 1, 1)) = 4.0f;
  EXPECT_EQ(copy.real_data(Coord_grid(1, 1, 1)), 3.0f);
  EXPECT_EQ(copy.grid_sampling().nw(), 10);
}

// ---------------------------------------------------------------------------
// Space-group-aware map

namespace {

struct Setting {
  int number;
  Cell_descr cell;
  int nu, nv, nw;
};

// Grids chosen to fit each group's symmetry.
const Setting kSettings[] = {
    {1, Cell_descr(10, 11, 12, 80, 85, 95), 10, 12, 12},
    {4, Cell_descr(10, 12, 14, 90, 103, 90), 10, 12, 14},     // P 1 21 1
    {5, Cell_descr(20, 12, 14, 90, 110, 90), 20, 12, 14},     // C 1 2 1
    {19, Cell_descr(10, 12, 14, 90, 90, 90), 10, 12, 14},     // P 21 21 21
    {144, Cell_descr(12, 12, 15, 90, 90, 120), 12, 12, 18},   // P 31
    {146, Cell_descr(12, 12, 15, 90, 90, 120), 12, 12, 18},   // R 3 (hexagonal)
    {198, Cell_descr(12, 12, 12, 90, 90, 90), 12, 12, 12},    // P 21 3
};

}  // namespace

TEST(FFTmap, SymmetryExpansionInBothSpaces) {
  for (const Setting& s : kSettings) {
    const Spacegroup spgr{Spgr_descr(s.number)};
    const Cell cell(s.cell);
    const Grid_sampling g = sampling(s.nu, s.nv, s.nw);
    FFTmap map(spgr, cell, g);
    // A reflection allowed in every group tested (h + k even, -h + k + l = 3n, h, k, l
    // nonzero and distinct in magnitude).
    const HKL h(3, 1, 2);
    const datatypes::F_phi<float> in(3.0f, 1.1f);
    map.set_recip_data(h, in);
    // Only the images under the primitive operators and their mates are set.
    int nonzero = 0;
    for (Coord_grid c(0, 0, 0); c.u() < g.nu(); c.next(g))
      if (std::abs(map.get_hkl(HKL(c))) > 0.0f) ++nonzero;
    EXPECT_EQ(nonzero, 2 * spgr.primitive_count()) << s.number;

    map.fft_h_to_x();
    for (int k = 0; k < spgr.op_count(); ++k) {
      const Isymop op(spgr.symop(k), g);
      for (Coord_grid x(0, 0, 0); x.u() < g.nu(); x.next(g)) {
        float a, b;
        map.get_real_data(x, a);
        map.get_real_data(x.transform(op), b);
        ASSERT_NEAR(a, b, 1e-6) << s.number << " op " << k << " " << x.format();
      }
    }
    map.fft_x_to_h();
    datatypes::F_phi<double> out;
    map.get_recip_data(h, out);
    EXPECT_NEAR(out.f(), in.f(), 1e-4) << s.number;
    EXPECT_NEAR(out.phi(), in.phi(), 1e-4) << s.number;

    // A real value at a general position fills each of its images.
    map.reset();
    map.set_real_data(Coord_grid(1, 2, 3), 2.0);
    int set = 0;
    for (Coord_grid c(0, 0, 0); c.u() < g.nu(); c.next(g)) set += map.real_data(c) == 2.0f;
    EXPECT_EQ(set, spgr.op_count()) << s.number;
  }
}

TEST(FFTmap, ModeRules) {
  const Grid_sampling g = sampling(4, 4, 4);
  const Cell cell(Cell_descr(10, 10, 10, 90, 90, 90));
  FFTmap map(Spacegroup(Spacegroup::P1), cell, g);
  float x;
  datatypes::F_phi<float> fphi;
  auto fatal_text = [](auto&& operation) {
    try {
      operation();
    } catch (const Message_fatal& m) {
      return m.text();
    }
    return std::string("no error");
  };
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
