// Reading the 42,188-row 7MM1 work file: the rows alone, and as a run does
// (header, generated reflection list, amplitudes and HL coefficients); and
// appending map and HL coefficients to a copy of it.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "mtz/mtz_file.h"
#include "reflections/datatypes.h"

using namespace vantrel;
using namespace vantrel::datatypes;

namespace {

const String& work_file() {
  static const String name = String(VANTREL_TEST_DATA) + "/wrk_7mm1.mtz";
  return name;
}

// The header and a pass over every row, nothing registered: the cost of
// the library's row streaming alone.
void BM_mtz_rows_7mm1(benchmark::State& state) {
  for (auto _ : state) {
    CCP4MTZfile file;
    file.open_read(work_file());
    file.close_read();
    benchmark::DoNotOptimize(file.resolution().limit());
  }
}
BENCHMARK(BM_mtz_rows_7mm1)->Unit(benchmark::kMillisecond);

void BM_mtz_read_7mm1(benchmark::State& state) {
  int observed = 0;
  for (auto _ : state) {
    CCP4MTZfile file;
    file.open_read(work_file());
    HKL_info list(file.spacegroup(), file.cell(), file.resolution(), true);
    HKL_data<F_sigF<float>> fo(list);
    HKL_data<ABCD<float>> hl(list);
    file.import_hkl_data(fo, "/*/*/[FP,SIGFP]");
    file.import_hkl_data(hl, "/*/*/[HLA,HLB,HLC,HLD]");
    file.close_read();
    observed = fo.num_obs();
  }
  state.counters["observed"] = observed;
}
BENCHMARK(BM_mtz_read_7mm1)->Unit(benchmark::kMillisecond);

void BM_mtz_append_7mm1(benchmark::State& state) {
  CCP4MTZfile file;
  file.open_read(work_file());
  HKL_info list(file.spacegroup(), file.cell(), file.resolution(), true);
  HKL_data<F_phi<float>> fphi(list);
  HKL_data<ABCD<float>> hl(list);
  file.import_hkl_data(fphi, "/*/*/[FP,PHIB]");
  file.import_hkl_data(hl, "/*/*/[HLA,HLB,HLC,HLD]");
  file.close_read();
  const std::string out = "/tmp/bench_mtz_" + std::to_string(getpid()) + ".mtz";
  for (auto _ : state) {
    file.open_append(work_file(), out);
    file.export_hkl_data(fphi, "/*/*/sideomit");
    file.export_hkl_data(hl, "/*/*/sideomit");
    file.close_append();
  }
  std::remove(out.c_str());
}
BENCHMARK(BM_mtz_append_7mm1)->Unit(benchmark::kMillisecond);

}  // namespace
