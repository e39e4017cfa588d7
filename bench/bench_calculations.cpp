// The phase road on the 7MM1 model and data: density painting with the
// structure-factor FFT, the bulk-solvent structure factors, and the whole
// road through anisotropic scaling and likelihood weighting. Read beside
// tools/time_toolkit_sf.py run on the same model and resolution.
#include <benchmark/benchmark.h>

#include "calculations/edcalc.h"
#include "calculations/sfcalc_obs.h"
#include "calculations/sfscale.h"
#include "calculations/sfweight.h"
#include "tests/calculations/calc_fixture.h"

using namespace vantrel;
using namespace vantrel_testing;

namespace {

const Calc_model& model() {
  static const Calc_model m =
      read_calc_model(std::string(VANTREL_TEST_DATA) + "/calc_wrk_7mm1.txt");
  return m;
}

struct Road_data {
  HKL_info hkls;
  HKL_data<datatypes::F_sigF<float>> fo;
  Road_data() {
    make_observed(model(), read_fo_map(std::string(VANTREL_TEST_DATA) + "/wrk_7mm1_fo_map.txt"),
                  hkls, fo);
  }
};

const Road_data& road_data() {
  static const Road_data d;
  return d;
}

// Painting the anisotropic density at grid rate 1.5 and its FFT to every
// reflection: the work of the toolkit's FFT structure-factor calculation.
// With argument 0 the painting alone.
void BM_PaintAndFFT(benchmark::State& state) {
  const Road_data& d = road_data();
  const Grid_sampling grid(d.hkls.spacegroup(), d.hkls.cell(), d.hkls.resolution(), 1.5);
  Xmap<float> xmap(d.hkls.spacegroup(), d.hkls.cell(), grid);
  HKL_data<datatypes::F_phi<float>> fc(d.hkls);
  const EDcalc_aniso<float> edcalc(2.5);
  for (auto _ : state) {
    edcalc(xmap, model().atoms);
    if (state.range(0)) xmap.fft_to(fc);
    benchmark::DoNotOptimize(fc[0]);
  }
  state.counters["atoms"] = double(model().atoms.size());
  state.counters["reflections"] = double(d.hkls.num_reflections());
}
BENCHMARK(BM_PaintAndFFT)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// Structure factors with the bulk-solvent search (density, mask, two FFTs
// and 17 scale fits).
void BM_SFcalcObsBulk(benchmark::State& state) {
  const Road_data& d = road_data();
  HKL_data<datatypes::F_phi<float>> fc(d.hkls);
  SFcalc_obs_bulk<float> calc(12);
  for (auto _ : state) {
    calc(fc, d.fo, model().atoms);
    benchmark::DoNotOptimize(fc[0]);
  }
}
BENCHMARK(BM_SFcalcObsBulk)->Unit(benchmark::kMillisecond);

// The whole phase road of a run: bulk-solvent structure factors,
// anisotropic scaling of the observations, likelihood weighting.
void BM_PhaseRoad(benchmark::State& state) {
  const Road_data& d = road_data();
  HKL_data<datatypes::F_phi<float>> fc(d.hkls), fb(d.hkls), fd(d.hkls);
  HKL_data<datatypes::Phi_fom<float>> phiw(d.hkls);
  HKL_data<datatypes::Flag> usage(d.hkls);
  for (int i = 0; i < d.hkls.num_reflections(); ++i)
    usage[i] = datatypes::Flag(d.fo[i].missing() ? 0 : 3);
  for (auto _ : state) {
    HKL_data<datatypes::F_sigF<float>> fo(d.fo);
    SFcalc_obs_bulk<float>(12)(fc, fo, model().atoms);
    SFscale_aniso<float>(0.0)(fo, fc);
    SFweight_spline<float> weight(1000, 20, 24);
    weight(fb, fd, phiw, fo, fc, usage);
    benchmark::DoNotOptimize(fb[0]);
  }
}
BENCHMARK(BM_PhaseRoad)->Unit(benchmark::kMillisecond);

}  // namespace
