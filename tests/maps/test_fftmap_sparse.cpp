#include "maps/fftmap_sparse.h"
#include "maps/fftmap.h"

#include <gtest/gtest.h>

#include <complex>
#include <random>
#include <vector>

using namespace vantrel;

namespace {

Grid_sampling sampling(int nu, int nv, int nw) {
  Grid_sampling g;
  static_cast<Grid&>(g) = Grid(nu, nv, nw);
  return g;
}

// Exposes the row tables to check what has been allocated.
template <class Base> struct Probe : Base {
  using Base::Base;
  int real_rows_allocated() const {
    int n = 0;
    for (int u = 0; u < this->rows_uv_.rows(); ++u)
      for (int v = 0; v < this->rows_uv_.cols(); ++v) n += this->rows_uv_(u, v) != nullptr;
    return n;
  }
  int reci_rows_allocated() const {
    int n = 0;
    for (int k = 0; k < this->rows_kl_.rows(); ++k)
      for (int l = 0; l < this->rows_kl_.cols(); ++l) n += this->rows_kl_(k, l) != nullptr;
    return n;
  }
};

const int kGrids[][3] = {{8, 6, 10}, {5, 7, 9}, {6, 4, 7}, {3, 5, 2}};

// Random indices over the whole grid, both halves of l.
std::vector<HKL> some_indices(const Grid& g, std::mt19937& rng, int count) {
  std::uniform_int_distribution<int> u(0, g.nu() - 1), v(0, g.nv() - 1), w(0, g.nw() - 1);
  std::vector<HKL> hkls;
  for (int i = 0; i < count; ++i) hkls.push_back(HKL(u(rng), v(rng) - g.nv() / 2, w(rng)));
  return hkls;
}

}  // namespace

TEST(FFTmapSparse, ReciprocalToRealAgreesWithTheFullGrid) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> val(-1.0f, 1.0f);
  std::bernoulli_distribution wanted(0.4);
  for (const auto& n : kGrids) {
    const Grid_sampling g = sampling(n[0], n[1], n[2]);
    FFTmap_p1 full(g);
    Probe<FFTmap_sparse_p1_hx> sparse(g);
    for (const HKL& h : some_indices(g, rng, g.size() / 3)) {
      const std::complex<float> f(val(rng), val(rng));
      full.set_hkl(h, f);
      sparse.set_hkl(h, f);
    }
    std::vector<Coord_grid> rows;
    for (int u = 0; u < g.nu(); ++u)
      for (int v = 0; v < g.nv(); ++v)
        if (wanted(rng)) {
          sparse.map_uv(u, v);
          rows.push_back(Coord_grid(u, v, 0));
        }
    const double scale = 1.0 / 321.0;
    full.fft_h_to_x(scale);
    sparse.fft_h_to_x(scale);
    EXPECT_EQ(sparse.real_rows_allocated(), int(rows.size()));
    for (Coord_grid c : rows)
      for (c.w() = 0; c.w() < g.nw(); ++c.w())
        ASSERT_NEAR(sparse.map_uv(c.u(), c.v())[c.w()], full.real_data(c), 1e-6)
            << g.format() << " " << c.format();
  }
}

TEST(FFTmapSparse, RealToReciprocalAgreesWithTheFullGrid) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<float> val(-1.0f, 1.0f);
  std::bernoulli_distribution filled(0.6);
  for (const auto& n : kGrids) {
    const Grid_sampling g = sampling(n[0], n[1], n[2]);
    FFTmap_p1 full(g);
    FFTmap_sparse_p1_xh sparse(g);
    // Rows never requested count as zeros on both sides.
    for (int u = 0; u < g.nu(); ++u)
      for (int v = 0; v < g.nv(); ++v) {
        if (!filled(rng)) continue;
        float* row = sparse.map_uv(u, v);
        for (int w = 0; w < g.nw(); ++w) row[w] = full.real_data(Coord_grid(u, v, w)) = val(rng);
      }
    const std::vector<HKL> hkls = some_indices(g, rng, g.size() / 4);
    for (const HKL& h : hkls) sparse.require_hkl(h);
    const double scale = 321.0;
    full.fft_x_to_h(scale);
    sparse.fft_x_to_h(scale);
    for (const HKL& h : hkls) {
      const std::complex<float> a = sparse.get_hkl(h), b = full.get_hkl(h);
      EXPECT_NEAR(a.real(), b.real(), 1e-4) << g.format() << " " << h.format();
      EXPECT_NEAR(a.imag(), b.imag(), 1e-4) << g.format() << " " << h.format();
    }
  }
}

TEST(FFTmapSparse, RowsAreAllocatedOnlyWhereNeeded) {
  const Grid_sampling g = sampling(6, 8, 10);
  Probe<FFTmap_sparse_p1_hx> hx(g);
  // l = 0: the index and its Friedel mate, in two rows (k and -k).
  hx.set_hkl(HKL(1, 2, 0), std::complex<float>(1.0f, 2.0f));
  EXPECT_EQ(hx.reci_rows_allocated(), 2);
  EXPECT_EQ(hx.map_kl(2, 0)[1], std::complex<float>(1.0f, 2.0f));
  EXPECT_EQ(hx.map_kl(6, 0)[5], std::complex<float>(1.0f, -2.0f));
  // k = -k modulo nv: one row holds both.
  hx.set_hkl(HKL(1, 4, 0), std::complex<float>(3.0f, 0.0f));
  EXPECT_EQ(hx.reci_rows_allocated(), 3);
  // A requested row on which no coefficient acts holds zeros.
  float* row = hx.map_uv(0, 0);
  hx.set_hkl(HKL(1, 2, 0), std::complex<float>(0.0f, 0.0f));
  hx.set_hkl(HKL(1, 4, 0), std::complex<float>(0.0f, 0.0f));
  hx.fft_h_to_x(1.0);
  for (int w = 0; w < g.nw(); ++w) EXPECT_EQ(row[w], 0.0f);
  EXPECT_EQ(hx.real_rows_allocated(), 1);

  // l above nw/2: the row of the Friedel mate is required.
  Probe<FFTmap_sparse_p1_xh> xh(g);
  xh.require_hkl(HKL(1, 3, 7));
  EXPECT_EQ(xh.reci_rows_allocated(), 1);
  xh.map_kl(5, 3);  // (nv - 3, nw - 7): already there
  EXPECT_EQ(xh.reci_rows_allocated(), 1);

  // No rows at all: nothing is allocated.
  Probe<FFTmap_sparse_p1_xh> empty(g);
  empty.fft_x_to_h(1.0);
  Probe<FFTmap_sparse_p1_hx> empty_hx(g);
  empty_hx.fft_h_to_x(1.0);
  EXPECT_EQ(empty.reci_rows_allocated() + empty.real_rows_allocated() +
                empty_hx.reci_rows_allocated() + empty_hx.real_rows_allocated(),
            0);
}
