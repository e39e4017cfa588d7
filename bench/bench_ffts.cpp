// Fragment search by FFT against the direct sums, for a residue-sized
// fragment (a 5.5 A sphere sampled at 0.5 A) on protein-sized maps: the
// 1DUR cell (P 21 21 21, 30.5 x 37.8 x 39.4 A) at 2 A, and for the FFT alone
// the 7MM1 cell (P 31 2 1, 89.3 x 89.3 x 105.7 A) at 1.85 A. Scores go to a
// P1 map, every translation of the cell.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "calculations/ffts.h"

using namespace vantrel;

namespace {

struct Setup {
  Setup(const std::string& symbol, const Cell_descr& descr, double resolution)
      : cell(descr),
        grid(Spacegroup(Spgr_descr(symbol)), cell, Resolution(resolution)),
        map(Spacegroup(Spgr_descr(symbol)), cell, grid),
        result(Spacegroup(Spacegroup::P1), cell, grid),
        target(Grid(23, 23, 23),
               RTop<double>(Mat33<double>(2, 0, 0, 0, 2, 0, 0, 0, 2), Vec3<double>(11, 11, 11))),
        weight(target) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    for (auto ix = map.first(); !ix.last(); ix.next()) map[ix] = value(rng);
    for (int i = 0; i < target.grid().size(); ++i) {
      const Coord_orth x = target.coord_orth(Coord_map(target.grid().deindex(i)));
      target[i] = value(rng);
      weight[i] = x.lengthsq() < 5.5 * 5.5 ? 1.0f : 0.0f;
    }
    nx_op = NX_operator(
        map, target,
        RTop_orth(Mat33<double>(0, 0, 1, 1, 0, 0, 0, 1, 0), Vec3<double>(10.0, 12.0, 14.0)));
  }
  Cell cell;
  Grid_sampling grid;
  Xmap<float> map, result;
  NXmap<float> target, weight;
  NX_operator nx_op;
};

// Made on first use, after the library's static objects.
const Setup& small() {
  static const Setup s("P 21 21 21", Cell_descr(30.52, 37.75, 39.37, 90, 90, 90), 2.0);
  return s;
}
const Setup& large() {
  static const Setup s("P 31 2 1", Cell_descr(89.341, 89.341, 105.74, 90, 90, 120), 1.85);
  return s;
}

void report_grid(benchmark::State& state, const Setup& s) {
  state.counters["grid_points"] = s.grid.size();
}

// One search, the map's transforms made beforehand.
void BM_FftSearch(benchmark::State& state, const Setup& (*setup)()) {
  const Setup& s = setup();
  const FFFear_fft<float> search(s.map);
  Xmap<float> result = s.result;
  for (auto _ : state) search(result, s.target, s.weight, s.nx_op);
  report_grid(state, s);
}

// The transforms of the map and its square, made once per map.
void BM_FftPrepare(benchmark::State& state, const Setup& (*setup)()) {
  const Setup& s = setup();
  for (auto _ : state) benchmark::DoNotOptimize(FFFear_fft<float>(s.map));
  report_grid(state, s);
}

void BM_DirectSearch(benchmark::State& state, const Setup& (*setup)()) {
  const Setup& s = setup();
  const FFFear_slow<float> search(s.map);
  Xmap<float> result = s.result;
  for (auto _ : state) search(result, s.target, s.weight, s.nx_op);
  report_grid(state, s);
}

BENCHMARK_CAPTURE(BM_FftSearch, 1dur_2A, small)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FftPrepare, 1dur_2A, small)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DirectSearch, 1dur_2A, small)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FftSearch, 7mm1_1_85A, large)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FftPrepare, 7mm1_1_85A, large)->Unit(benchmark::kMillisecond);

}  // namespace
