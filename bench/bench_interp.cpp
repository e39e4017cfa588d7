// Interpolation throughput on a crystallographic map: the innermost loop of
// residue-density training and scoring.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "maps/interp.h"

using namespace vantrel;

namespace {

// A protein-sized P 21 21 21 map at 2 A, sampled at rate 1.5.
const Xmap<float>& protein_map() {
  static const Xmap<float> map = [] {
    const Spacegroup sg(Spgr_descr("P 21 21 21"));
    const Cell cell(Cell_descr(34.321, 45.508, 98.912, 90, 90, 90));
    Xmap<float> m(sg, cell, Grid_sampling(sg, cell, Resolution(2.0)));
    for (auto ix = m.first(); !ix.last(); ix.next()) m[ix] = float(ix.index() % 101) * 0.01f;
    return m;
  }();
  return map;
}

// Random positions anywhere in and around the cell.
std::vector<Coord_frac> scattered_positions(const int n) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> uniform(-1.0, 2.0);
  std::vector<Coord_frac> p(n);
  for (Coord_frac& f : p) f = Coord_frac(uniform(rng), uniform(rng), uniform(rng));
  return p;
}

// A 27^3 box of positions 0.5 A apart around one point: the sampling pattern
// of one residue's density target.
std::vector<Coord_frac> residue_positions(const Cell& cell) {
  std::vector<Coord_frac> p;
  for (int u = -13; u <= 13; ++u)
    for (int v = -13; v <= 13; ++v)
      for (int w = -13; w <= 13; ++w)
        p.push_back(Coord_orth(10.0 + 0.5 * u, 20.0 + 0.5 * v, 45.0 + 0.5 * w).coord_frac(cell));
  return p;
}

template <class I> void run(benchmark::State& state, const std::vector<Coord_frac>& positions) {
  const Xmap<float>& map = protein_map();
  for (auto _ : state) {
    float sum = 0.0f;
    for (const Coord_frac& f : positions) sum += map.interp<I>(f);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * int64_t(positions.size()));
}

void BM_cubic_scattered(benchmark::State& state) {
  run<Interp_cubic>(state, scattered_positions(100000));
}
BENCHMARK(BM_cubic_scattered)->Unit(benchmark::kMillisecond);

void BM_cubic_residue_box(benchmark::State& state) {
  run<Interp_cubic>(state, residue_positions(protein_map().cell()));
}
BENCHMARK(BM_cubic_residue_box)->Unit(benchmark::kMillisecond);

void BM_linear_scattered(benchmark::State& state) {
  run<Interp_linear>(state, scattered_positions(100000));
}
BENCHMARK(BM_linear_scattered)->Unit(benchmark::kMillisecond);

}  // namespace
