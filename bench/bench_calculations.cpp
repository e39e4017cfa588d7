// The phase road on the 7MM1 model and data: density painting with the
// structure-factor FFT, the bulk-solvent structure factors, and the whole
// road through anisotropic scaling and likelihood weighting. Read beside
// tools/time_toolkit_sf.py run on the same model and resolution.
#include <benchmark/benchmark.h>

#include "calculations/edcalc.h"
#include "tests/calculations/calc_fixture.h"

using namespace vantrel;
using namespace vantrel_testing;

namespace {

const Calc_model& model() {
  static const Calc_model m = read_calc_model(std::string(VANTREL_TEST_DATA) + "/calc_wrk_7mm1.txt");
  return m;
}

struct Road_data {
  HKL_info hkls;
  HKL_data<datatypes::F_sigF<float>> fo;
  Road_data() { make_observed(model(), read_fo_map(std::string(VANTREL_TEST_DATA) + "/wrk_7mm1_fo_map.txt"), hkls, fo); }
};

const Road_data& road_data() {
  static const Road_data d;
  return d;
}

// Painting the anisotropic density at grid rate 1.5 and its FFT to every
// reflection: the work of the toolkit's FFT structure-factor calculation.
void BM_PaintAndFFT(benchmark::State& state) {
  const Road_data& d = road_data();
  const Grid_sampling grid(d.hkls.spacegroup(), d.hkls.cell(), d.hkls.resolution(), 1.5);
  Xmap<float> xmap(d.hkls.spacegroup(), d.hkls.cell(), grid);
  HKL_data<datatypes::F_phi<float>> fc(d.hkls);
  const EDcalc_aniso<float> edcalc(2.5);
  for (auto _ : state) {
    edcalc(xmap, model().atoms);
    xmap.fft_to(fc);
    benchmark::DoNotOptimize(fc[0]);
  }
  state.counters["atoms"] = double(model().atoms.size());
  state.counters["reflections"] = double(d.hkls.num_reflections());
}
BENCHMARK(BM_PaintAndFFT)->Unit(benchmark::kMillisecond);

}  // namespace
