// Crystallographic map FFTs on protein-sized cells: fft_from (coefficients
// to map) and fft_to (map to coefficients), full and sparse P1 grids, in P1
// and in groups with many operators, at 2.0 and 1.5 A (grids about 100^3
// to 160^3).
#include <benchmark/benchmark.h>

#include <memory>
#include <random>

#include "maps/xmap.h"
#include "reflections/hkl_data.h"

using namespace vantrel;

namespace {

struct Bench_case {
  const char* symbol;
  Cell_descr cell;
};

const Bench_case bench_cases[] = {
    {"P 1", Cell_descr(68, 72, 78, 85, 95, 100)},
    {"P 61 2 2", Cell_descr(72, 72, 96, 90, 90, 120)},
    {"I 41 3 2", Cell_descr(76, 76, 76, 90, 90, 90)},
};

// A reflection list with random coefficients and a map on its grid.
struct Bench_data {
  Spacegroup sg;
  Cell cell;
  HKL_info list;
  HKL_data<datatypes::F_phi<float>> fphi;
  Xmap<float> map;

  Bench_data(const Bench_case& c, double resolution)
      : sg(Spgr_descr(c.symbol, Spgr_descr::HM)),
        cell(c.cell),
        list(sg, cell, Resolution(resolution), true),
        fphi(list),
        map(sg, cell, Grid_sampling(sg, cell, Resolution(resolution))) {
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> f(1.0f, 100.0f), phi(-3.14159f, 3.14159f);
    for (HKL_info::HKL_reference_index ih = list.first(); !ih.last(); ih.next())
      fphi[ih] = datatypes::F_phi<float>(f(rng), phi(rng));
    map.fft_from(fphi, 2);
  }
};

// Built once per case and resolution; the tables stay cached meanwhile.
Bench_data& data_for(int case_index, int resolution_tenths) {
  VantrelInstantiator::instance();  // built first, so that it outlives the data
  static std::unique_ptr<Bench_data> cache[3][2];
  std::unique_ptr<Bench_data>& slot = cache[case_index][resolution_tenths == 15];
  if (!slot) slot.reset(new Bench_data(bench_cases[case_index], resolution_tenths / 10.0));
  return *slot;
}

void label(benchmark::State& state, const Bench_data& d) {
  const Grid_sampling& g = d.map.grid_sampling();
  state.SetLabel(std::string(bench_cases[state.range(0)].symbol) + " grid " +
                 std::to_string(g.nu()) + "x" + std::to_string(g.nv()) + "x" +
                 std::to_string(g.nw()) + (state.range(2) == 2 ? " sparse" : " full"));
}

void BM_fft_from(benchmark::State& state) {
  Bench_data& d = data_for(int(state.range(0)), int(state.range(1)));
  for (auto _ : state) {
    d.map.fft_from(d.fphi, Xmap_base::FFTtype(state.range(2)));
    benchmark::ClobberMemory();
  }
  label(state, d);
}

void BM_fft_to(benchmark::State& state) {
  Bench_data& d = data_for(int(state.range(0)), int(state.range(1)));
  HKL_data<datatypes::F_phi<float>> out(d.list);
  for (auto _ : state) {
    d.map.fft_to(out, Xmap_base::FFTtype(state.range(2)));
    benchmark::ClobberMemory();
  }
  label(state, d);
}

// Arguments: case, resolution in tenths of an Angstrom, FFT type.
void bench_args(benchmark::internal::Benchmark* b) {
  for (int c = 0; c < 3; c++)
    for (int res : {20, 15})
      for (int type : {2, 1}) b->Args({c, res, type});
  b->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_fft_from)->Apply(bench_args);
BENCHMARK(BM_fft_to)->Apply(bench_args);
