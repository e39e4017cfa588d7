// The whole quelvarn run on 7MM1 (work, phases calculated from the model
// with side chains omitted) against 1RX2 (reference), with the time of each
// stage as a counter (seconds per run; stage 9 scores, aligns and reports
// every chain), and that stage split into density scoring and alignment.
#include <benchmark/benchmark.h>

#include <chrono>
#include <sstream>

#include "app/ca_sequence.h"
#include "app/validation_run.h"

using namespace vantrel;

namespace {

Run_parameters parameters() {
  const std::string data = VANTREL_TEST_DATA;
  Run_parameters p;
  p.mtzin_ref = data + "/ref_1rx2.mtz";
  p.pdbin_ref = data + "/ref_1rx2.pdb";
  p.mtzin_wrk = data + "/wrk_7mm1.mtz";
  p.pdbin_wrk = data + "/wrk_7mm1.pdb";
  p.colin_wrk_fo = "/*/*/[FP,SIGFP]";
  p.side_chain_omit = true;
  return p;
}

class Stopwatch {
 public:
  double lap() {
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - last_).count();
    last_ = now;
    return seconds;
  }

 private:
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

void BM_WholeRun(benchmark::State& state) {
  const char* stages[] = {"1 read inputs", "2 structure factors", "3 scaling",
                          "4 weighting",   "5 simulation",        "6 reference map",
                          "7 training",    "8 work map",          "9 chains"};
  std::vector<double> seconds(9, 0.0);
  for (auto _ : state) {
    std::ostringstream out;
    Validation_run run(parameters(), out);
    Stopwatch clock;
    run.read_inputs();
    seconds[0] += clock.lap();
    run.structure_factors();
    seconds[1] += clock.lap();
    run.scale_work_data();
    seconds[2] += clock.lap();
    run.weight_work_data();
    seconds[3] += clock.lap();
    run.simulate_reference();
    seconds[4] += clock.lap();
    run.reference_map();
    seconds[5] += clock.lap();
    run.train_targets();
    seconds[6] += clock.lap();
    run.work_map();
    seconds[7] += clock.lap();
    run.report_chains();
    seconds[8] += clock.lap();
    benchmark::DoNotOptimize(out.str());
  }
  for (int i = 0; i < 9; ++i)
    state.counters[stages[i]] = benchmark::Counter(seconds[i] / double(state.iterations()));
}
BENCHMARK(BM_WholeRun)->Unit(benchmark::kMillisecond)->Iterations(3);

// The two halves of the chain stage on the work map of one run.
void BM_ChainScoringAndAlignment(benchmark::State& state) {
  std::ostringstream out;
  Validation_run run(parameters(), out);
  run.read_inputs();
  run.structure_factors();
  run.scale_work_data();
  run.weight_work_data();
  run.simulate_reference();
  run.reference_map();
  run.train_targets();
  run.work_map();
  const Chain_amino_acids chain(run.work_model()[0]);
  const MPolymer& residues = chain.residues;
  const MMoleculeSequence& sequences = chain.sequences;
  double scoring = 0.0, alignment = 0.0;
  for (auto _ : state) {
    Stopwatch clock;
    std::vector<std::vector<double> > scores =
        Ca_sequence::score_matrix_raw(residues, run.xmap_work(), run.sampled_targets());
    std::vector<bool> trained;
    for (const auto& t : run.sampled_targets()) trained.push_back(t.trained());
    Ca_sequence::normalise_scores(scores, trained);
    scoring += clock.lap();
    benchmark::DoNotOptimize(Ca_sequence::sequence_match(scores, sequences));
    alignment += clock.lap();
  }
  state.counters["scoring"] = benchmark::Counter(scoring / double(state.iterations()));
  state.counters["alignment"] = benchmark::Counter(alignment / double(state.iterations()));
}
BENCHMARK(BM_ChainScoringAndAlignment)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
