// End-to-end runs of the built executable with targets that score by
// correlation: the verdict and confidence of each chain report, beside the
// likelihood targets' report on the same data.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "app/run_testing.h"

using namespace run_testing;

namespace {

// The one chain report of a run: its three lines and the closing verdict.
struct Report {
  std::string original, modified, sentence;
  double confidence = -1.0;
};

Report report_of(const Result& run) {
  Report r;
  std::istringstream in(run.out);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Original: ", 0) == 0) r.original = line.substr(10);
    if (line.rfind("Modified: ", 0) == 0) r.modified = line.substr(10);
    if (line.rfind("Confidence: ", 0) == 0) r.confidence = std::stod(line.substr(12));
    if (line.rfind("The ", 0) == 0 || line.rfind("WARNING: The supplied", 0) == 0)
      r.sentence = line;
  }
  return r;
}

const std::string weakly = "The supplied data weakly supports the assigned sequence.";
const std::string insufficient =
    "The data is insufficient to either confirm or deny the sequence for this chain.";

}  // namespace

// Each row: the work data and model, the phase road, and the verdict with
// the confidence band it requires (strongly above 0.999, weakly from 0.95,
// insufficient below 0.95). Given phases, correlation targets strongly
// support 1DUR where the likelihood targets only weakly do; on calculated
// phases they cannot decide; the scrambled sequence is never supported.
TEST(RunCorrelation, VerdictsAndConfidenceOnTheShippedData) {
  const struct {
    const char *mtz, *pdb;
    const Args& road;
    bool correlation;
    const std::string& verdict;
    double low, high;  // confidence band [low, high)
  } runs[] = {
      {"wrk_7mm1.mtz", "wrk_7mm1.pdb", given, true, supports, 0.999, 1.01},
      {"sm_1dur.mtz", "sm_1dur.pdb", given, true, supports, 0.999, 1.01},
      {"sm_1dur.mtz", "sm_1dur.pdb", given, false, weakly, 0.95, 0.999},
      {"sm_1dur.mtz", "sm_1dur.pdb", calculated, true, insufficient, 0.0, 0.95},
      {"sm_1dur.mtz", "sm_1dur_scrambled.pdb", given, true, insufficient, 0.0, 0.95},
  };
  for (const auto& r : runs) {
    SCOPED_TRACE(std::string(r.pdb) + (r.correlation ? " correlation" : " likelihood") +
                 (&r.road == &given ? ", given phases" : ", calculated phases"));
    const Result run = quelvarn_exe(
        against_1rx2(r.mtz, r.pdb, r.road, r.correlation ? Args{"-correlation-mode"} : Args{}));
    EXPECT_EQ(run.status, 0) << run.out;
    const Report report = report_of(run);
    EXPECT_EQ(report.sentence, r.verdict) << run.out;
    EXPECT_GE(report.confidence, r.low) << run.out;
    EXPECT_LT(report.confidence, r.high) << run.out;
    ASSERT_EQ(report.modified.size(), report.original.size()) << run.out;
    if (r.verdict != supports) continue;
    // A supported sequence: the best candidate agrees with the assigned one
    // wherever it names a residue, nearly everywhere.
    int named = 0, agree = 0;
    for (std::size_t k = 0; k < report.original.size(); ++k) {
      named += report.modified[k] != '?';
      agree += report.modified[k] == report.original[k];
    }
    EXPECT_GT(named, int(0.9 * report.original.size())) << report.modified;
    EXPECT_EQ(agree, named) << report.modified;
  }
}
