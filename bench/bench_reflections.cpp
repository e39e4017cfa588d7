// Converting data over a trigonal reflection list of about 50,000
// reflections: phase probabilities to phase and figure of merit (72
// exponentials per acentric reflection) and amplitudes to E. Building lists
// is measured in bench_hkl_info.
#include <benchmark/benchmark.h>

#include <random>

#include "reflections/conversions.h"
#include "reflections/hkl_data.h"

using namespace vantrel;
using namespace vantrel::datatypes;

namespace {

const Spacegroup& p3121() {
  static const Spacegroup sg(Spgr_descr("P 31 2\"", Spgr_descr::Hall));
  return sg;
}

// About 50,000 unique reflections at 1.75 A.
const HKL_info& bench_list() {
  static const HKL_info list(p3121(), Cell(Cell_descr(89.341, 89.341, 105.74, 90, 90, 120)),
                             Resolution(1.75), true);
  return list;
}

void BM_phifom_from_abcd(benchmark::State& state) {
  const HKL_info& list = bench_list();
  HKL_data<ABCD<float> > abcd(list);
  std::mt19937 random(1);
  std::uniform_real_distribution<float> coeff(-20.0f, 20.0f);
  for (int i = 0; i < list.num_reflections(); ++i)
    abcd[i] = ABCD<float>(coeff(random), coeff(random), 0.1f * coeff(random), 0.1f * coeff(random));
  HKL_data<Phi_fom<float> > phifom(list);
  const Compute_phifom_from_abcd<float> op;
  for (auto _ : state) {
    phifom.compute(abcd, op);
    benchmark::DoNotOptimize(phifom[0].fom());
  }
  state.SetItemsProcessed(state.iterations() * int64_t(list.num_reflections()));
}
BENCHMARK(BM_phifom_from_abcd)->Unit(benchmark::kMillisecond);

void BM_esige_from_fsigf(benchmark::State& state) {
  const HKL_info& list = bench_list();
  HKL_data<F_sigF<float> > fsigf(list);
  for (int i = 0; i < list.num_reflections(); ++i) fsigf[i] = F_sigF<float>(100.0f + i % 97, 5.0f);
  HKL_data<E_sigE<float> > esige(list);
  for (auto _ : state) {
    esige.compute(fsigf, Compute_EsigE_from_FsigF<float>());
    benchmark::DoNotOptimize(esige[0].E());
  }
  state.SetItemsProcessed(state.iterations() * int64_t(list.num_reflections()));
}
BENCHMARK(BM_esige_from_fsigf)->Unit(benchmark::kMillisecond);

}  // namespace
