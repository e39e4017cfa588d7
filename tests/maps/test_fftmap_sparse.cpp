#include "maps_testing.h"

#include "maps/fftmap.h"
#include "maps/fftmap_sparse.h"

using namespace vantrel;
using maps_testing::sampling;

namespace {

// Exposes the row tables to count what has been allocated.
template <class Base> struct Probe : Base {
  using Base::Base;
  template <class Rows> static int allocated(const Rows& rows) {
    int n = 0;
    for (int i = 0; i < rows.rows(); ++i)
      for (int j = 0; j < rows.cols(); ++j) n += rows(i, j) != nullptr;
    return n;
  }
  int real_rows_allocated() const { return allocated(this->rows_uv_); }
  int reci_rows_allocated() const { return allocated(this->rows_kl_); }
};

// Random indices over the whole grid, both halves of l.
std::vector<HKL> some_indices(const Grid& g, std::mt19937& rng, int count) {
  std::uniform_int_distribution<int> u(0, g.nu() - 1), v(0, g.nv() - 1), w(0, g.nw() - 1);
  std::vector<HKL> hkls;
  for (int i = 0; i < count; ++i) hkls.push_back(HKL(u(rng), v(rng) - g.nv() / 2, w(rng)));
  return hkls;
}

}  // namespace

// Rows never requested count as zeros on both sides.
TEST(FFTmapSparse, BothDirectionsAgreeWithTheFullGrid) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> val(-1.0f, 1.0f);
  std::bernoulli_distribution pick(0.5);
  for (const Grid& n : {Grid(8, 6, 10), Grid(5, 7, 9), Grid(6, 4, 7), Grid(3, 5, 2)}) {
    const Grid_sampling g = sampling(n.nu(), n.nv(), n.nw());
    FFTmap_p1 full_hx(g), full_xh(g);
    Probe<FFTmap_sparse_p1_hx> hx(g);
    FFTmap_sparse_p1_xh xh(g);
    for (const HKL& h : some_indices(g, rng, g.size() / 3)) {
      const std::complex<float> f(val(rng), val(rng));
      full_hx.set_hkl(h, f);
      hx.set_hkl(h, f);
    }
    std::vector<Coord_grid> rows;
    for (int u = 0; u < g.nu(); ++u)
      for (int v = 0; v < g.nv(); ++v) {
        if (pick(rng)) {
          hx.map_uv(u, v);
          rows.push_back(Coord_grid(u, v, 0));
        }
        if (!pick(rng)) continue;
        float* row = xh.map_uv(u, v);
        for (int w = 0; w < g.nw(); ++w) row[w] = full_xh.real_data(Coord_grid(u, v, w)) = val(rng);
      }
    const std::vector<HKL> wanted = some_indices(g, rng, g.size() / 4);
    for (const HKL& h : wanted) xh.require_hkl(h);
    full_hx.fft_h_to_x(1.0 / 321.0);
    hx.fft_h_to_x(1.0 / 321.0);
    EXPECT_EQ(hx.real_rows_allocated(), int(rows.size()));
    for (Coord_grid c : rows)
      for (c.w() = 0; c.w() < g.nw(); ++c.w())
        ASSERT_NEAR(hx.map_uv(c.u(), c.v())[c.w()], full_hx.real_data(c), 1e-6)
            << g.format() << " " << c.format();
    full_xh.fft_x_to_h(321.0);
    xh.fft_x_to_h(321.0);
    for (const HKL& h : wanted) {
      const std::complex<float> a = xh.get_hkl(h), b = full_xh.get_hkl(h);
      EXPECT_NEAR(a.real(), b.real(), 1e-4) << g.format() << " " << h.format();
      EXPECT_NEAR(a.imag(), b.imag(), 1e-4) << g.format() << " " << h.format();
    }
  }
}

TEST(FFTmapSparse, RowsAreAllocatedOnlyWhereNeeded) {
  const Grid_sampling g = sampling(6, 8, 10);
  Probe<FFTmap_sparse_p1_hx> hx(g);
  // l = 0: the index and its Friedel mate in rows k and -k; one row when k = -k.
  hx.set_hkl(HKL(1, 2, 0), std::complex<float>(0.0f, 0.0f));
  EXPECT_EQ(hx.reci_rows_allocated(), 2);
  hx.set_hkl(HKL(1, 4, 0), std::complex<float>(0.0f, 0.0f));
  EXPECT_EQ(hx.reci_rows_allocated(), 3);
  // A requested row on which no coefficient acts holds zeros.
  float* row = hx.map_uv(0, 0);
  hx.fft_h_to_x(1.0);
  for (int w = 0; w < g.nw(); ++w) EXPECT_EQ(row[w], 0.0f);
  EXPECT_EQ(hx.real_rows_allocated(), 1);
  // l above nw/2: the row (nv - 3, nw - 7) of the Friedel mate is required.
  Probe<FFTmap_sparse_p1_xh> xh(g);
  xh.require_hkl(HKL(1, 3, 7));
  xh.map_kl(5, 3);
  EXPECT_EQ(xh.reci_rows_allocated(), 1);
  // No rows at all: nothing is allocated.
  Probe<FFTmap_sparse_p1_xh> empty_xh(g);
  empty_xh.fft_x_to_h(1.0);
  Probe<FFTmap_sparse_p1_hx> empty_hx(g);
  empty_hx.fft_h_to_x(1.0);
  EXPECT_EQ(empty_xh.reci_rows_allocated() + empty_xh.real_rows_allocated() +
                empty_hx.reci_rows_allocated() + empty_hx.real_rows_allocated(),
            0);
}
