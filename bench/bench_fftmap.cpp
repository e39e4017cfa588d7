// Full and sparse P1 transforms on protein-sized grids.
#include <benchmark/benchmark.h>

#include <complex>
#include <random>

#include "maps/fftmap.h"
#include "maps/fftmap_sparse.h"

using namespace vantrel;

namespace {

Grid_sampling cubic_grid(int n) {
  Grid_sampling g;
  static_cast<Grid&>(g) = Grid(n, n, n);
  return g;
}

void BM_FullRealToReciprocal(benchmark::State& state) {
  const Grid_sampling g = cubic_grid(int(state.range(0)));
  FFTmap_p1 map(g);
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> val(-1.0f, 1.0f);
  for (auto _ : state) {
    state.PauseTiming();
    map.reset();
    for (Coord_grid c(0, 0, 0); c.u() < g.nu(); c.next(g)) map.real_data(c) = val(rng);
    state.ResumeTiming();
    map.fft_x_to_h(1.0);
    benchmark::DoNotOptimize(map.get_hkl(HKL(1, 2, 3)));
  }
}

void BM_FullReciprocalToReal(benchmark::State& state) {
  const Grid_sampling g = cubic_grid(int(state.range(0)));
  FFTmap_p1 map(g);
  for (auto _ : state) {
    state.PauseTiming();
    map.reset();
    map.set_hkl(HKL(1, 2, 3), std::complex<float>(1.0f, 0.5f));
    state.ResumeTiming();
    map.fft_h_to_x(1.0);
    benchmark::DoNotOptimize(map.real_data(Coord_grid(1, 2, 3)));
  }
}

// Coefficients over a resolution sphere of radius n/3, output on an eighth
// of the real rows: the shape of a map FFT in a group with eight operators.
void BM_SparseReciprocalToReal(benchmark::State& state) {
  const int n = int(state.range(0));
  const Grid_sampling g = cubic_grid(n);
  const int r = n / 3;
  for (auto _ : state) {
    FFTmap_sparse_p1_hx map(g);
    for (int h = -r; h <= r; ++h)
      for (int k = -r; k <= r; ++k)
        for (int l = 0; l <= r; ++l)
          if (h * h + k * k + l * l <= r * r) map.set_hkl(HKL(h, k, l), {1.0f, 0.5f});
    for (int u = 0; u <= n / 2; ++u)
      for (int v = 0; v <= n / 4; ++v) map.map_uv(u, v);
    map.fft_h_to_x(1.0);
    benchmark::DoNotOptimize(map.map_uv(0, 0)[0]);
  }
}

void BM_SparseRealToReciprocal(benchmark::State& state) {
  const int n = int(state.range(0));
  const Grid_sampling g = cubic_grid(n);
  const int r = n / 3;
  for (auto _ : state) {
    FFTmap_sparse_p1_xh map(g);
    for (int u = 0; u < n; ++u)
      for (int v = 0; v < n; ++v) {
        float* row = map.map_uv(u, v);
        for (int w = 0; w < n; ++w) row[w] = float((u + 2 * v + 3 * w) % 7);
      }
    for (int h = 0; h <= r; ++h)
      for (int k = -r; k <= r; ++k)
        for (int l = -r; l <= r; ++l)
          if (h * h + k * k + l * l <= r * r) map.require_hkl(HKL(h, k, l));
    map.fft_x_to_h(1.0);
    benchmark::DoNotOptimize(map.get_hkl(HKL(1, 2, 3)));
  }
}

}  // namespace

BENCHMARK(BM_FullRealToReciprocal)->Arg(100)->Arg(160)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FullReciprocalToReal)->Arg(100)->Arg(160)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SparseReciprocalToReal)->Arg(100)->Arg(160)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SparseRealToReciprocal)->Arg(100)->Arg(160)->Unit(benchmark::kMillisecond);
