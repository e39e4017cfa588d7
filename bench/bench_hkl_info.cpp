// Building reflection lists and reading data through symmetry.
#include <benchmark/benchmark.h>

#include "reflections/hkl_data.h"

using namespace vantrel;

namespace {

// A protein-sized P 21 21 21 cell; about 48,000 unique reflections at 1.2 A.
const Cell& protein_cell() {
  static const Cell cell(Cell_descr(34.321, 45.508, 98.912, 90, 90, 90));
  return cell;
}

const Spacegroup& p212121() {
  static const Spacegroup sg(Spgr_descr("P 2ac 2ab", Spgr_descr::Hall));
  return sg;
}

void BM_generate_hkl_list(benchmark::State& state) {
  for (auto _ : state) {
    const HKL_info list(p212121(), protein_cell(), Resolution(1.2), true);
    benchmark::DoNotOptimize(list.num_reflections());
    state.counters["reflections"] = list.num_reflections();
  }
}
BENCHMARK(BM_generate_hkl_list)->Unit(benchmark::kMillisecond);

// Every stored reflection read back through one of its symmetry mates.
void BM_get_data_through_symmetry(benchmark::State& state) {
  const HKL_info list(p212121(), protein_cell(), Resolution(1.2), true);
  HKL_data<datatypes::F_phi<float>> fphi(list);
  std::vector<HKL> mates;
  for (int i = 0; i < list.num_reflections(); ++i) {
    fphi[i] = datatypes::F_phi<float>(1.0f, 0.5f);
    mates.push_back(list.hkl_of(i).transform(p212121().isymop(i % p212121().op_count())));
  }
  for (auto _ : state) {
    float sum = 0.0f;
    for (const HKL& h : mates) sum += fphi[h].phi();
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * int64_t(mates.size()));
}
BENCHMARK(BM_get_data_through_symmetry)->Unit(benchmark::kMillisecond);

}  // namespace
