// Sequence files of any content: every record read holds a sequence of
// upper-case letters, and the polymer form takes the first record.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "fuzz_input.h"
#include "model/seqfile.h"

using namespace vantrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = "/tmp/vantrel_fuzz_sequence_" + std::to_string(getpid());
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, f);  // data may be null when empty
    std::fclose(f);
  }
  vantrel_fuzz::run([&] {
    SEQfile file;
    file.read_file(path);
    MMoleculeSequence seqs;
    file.import_molecule_sequence(seqs);
    for (int i = 0; i < seqs.size(); ++i) {
      const String& seq = seqs[i].sequence();
      vantrel_fuzz::require(!seq.empty() &&
                            seq.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") == String::npos);
      vantrel_fuzz::require(seqs[i].id().find_first_of("\r\n") == String::npos);
    }
    MPolymerSequence first;
    file.import_polymer_sequence(first);
    if (seqs.size() > 0)
      vantrel_fuzz::require(first.id() == seqs[0].id() && first.sequence() == seqs[0].sequence());
  });
  std::remove(path.c_str());
  return 0;
}
