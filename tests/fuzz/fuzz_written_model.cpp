// Written models against their invariants (tests/model/written_invariants.h):
// the input chooses a coordinate file of tests/data and one edit of it; the
// edited file is written in both forms on both paths and each output written
// again. A read or write refused with a fatal message is an answer; a
// broken invariant is printed with the source and edit and stops the run,
// as a crash would.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "../model/written_invariants.h"
#include "fuzz_input.h"

namespace wi = written_invariants;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto sources = wi::read_sources(VANTREL_TEST_DATA);
  vantrel_fuzz::Input in(data, size);
  const auto& chosen = sources[std::size_t(in.in_range(0, int(sources.size()) - 1))];
  const std::string& name = chosen.first;
  const wi::Coordinates& source = chosen.second;
  const wi::Pick pick = [&](const int n) { return in.in_range(0, n - 1); };
  // One scratch name per process; each input's files are removed after it.
  const std::string stem = "/tmp/vantrel_fuzz_written_" + std::to_string(getpid());
  wi::Outcome outcome;
  vantrel_fuzz::run([&] { outcome = wi::check_edit(source, pick, stem); });
  if (!outcome.problems.empty()) {
    std::fprintf(stderr, "%s, %s:\n", name.c_str(), outcome.edit.c_str());
    for (const std::string& p : outcome.problems) std::fprintf(stderr, "  %s\n", p.c_str());
  }
  vantrel_fuzz::require(outcome.problems.empty());
  return 0;
}
