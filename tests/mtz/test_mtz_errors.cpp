// Bad input to the MTZ reader: missing, empty, garbage, cut and mangled
// files, absent columns and calls out of order all end in a fatal message
// that names the file or path, never in a crash or a hang.
#include <random>

#include "mtz/mtz_file.h"
#include "mtz_testing.h"
#include "reflections/datatypes.h"

using namespace vantrel;
using namespace vantrel::datatypes;
using mtz_testing::read_all;
using mtz_testing::read_bytes;
using mtz_testing::scratch;
using vantrel_testing::fatal_text;
using vantrel_testing::fixture_path;

namespace {

const std::size_t kHeader = 14192;  // where the header records of tiny_5e5z.mtz start

std::string write_scratch(const std::string& name, const std::string& bytes) {
  return mtz_testing::write_bytes(scratch(name), bytes);
}

}  // namespace

TEST(MtzErrors, UnreadableFilesNameTheFile) {
  const std::string real = read_bytes(fixture_path("tiny_5e5z.mtz"));
  std::string no_end = real, bad_ncol = real, version = real, after_end = real, comment = real,
              end_of_headers = real, quote = real, indented = real, joined = real, continued = real,
              major = real, history_past_end = real, history_negative = real, history_to_end = real;
  no_end.replace(no_end.find("END "), 4, "XND ");
  bad_ncol.replace(bad_ncol.find("NCOL        8"), 13, "NCOL        9");
  // Records the library leaks on: more than the version, a stranger after END,
  // a continuation mark closing a record other than the title.
  version.replace(version.find("VERS MTZ:V1.1  "), 15, "VERS MTZ:V1.1 -");
  after_end.replace(after_end.find("MTZHIST   1"), 11, "MTZHISX   1");
  comment.replace(comment.find("COLUMN K  "), 10, "COLUMN K! ");  // the parser's comment
  end_of_headers.replace(end_of_headers.find("MTZENDOFHEADERS "), 17, "MTZENDOFHEADERS -");
  quote.replace(quote.find("'P 1 21 1'"), 10, "'P 1 21 1*");
  joined.replace(joined.find("'P 1 21 1'   PG2"), 16, "'P 1 21 1'/  PG2");
  continued.replace(continued.find("DWAVEL        1    0.00000  "), 28,
                    "DWAVEL        1    0.00000 &");
  major.replace(major.find("VERS MTZ:V1.1"), 13, "VERS MTZ:V2.1");
  // History counts the library aborts on (a negative one) or reads past the
  // end of the file by; one that takes in MTZENDOFHEADERS. The file holds a
  // line and MTZENDOFHEADERS after the count.
  history_past_end.replace(history_past_end.find("MTZHIST   1"), 20, "MTZHIST 99999999999 ");
  history_negative.replace(history_negative.find("MTZHIST   1"), 11, "MTZHIST  -1");
  history_to_end.replace(history_to_end.find("MTZHIST   1"), 11, "MTZHIST   2");
  // An indented dataset record: the library loses the dataset and crashes.
  indented.replace(indented.find("DATASET       1 1     "), 22, "  DATASET       1 1   ");
  // Each file and what the refusal says was found ("" for none: the file
  // is missing).
  const std::pair<std::string, std::string> files[] = {
      {scratch("absent.mtz"), ""},
      {write_scratch("empty.mtz", ""), "shorter than an MTZ header"},
      {write_scratch("text.mtz", "MTZ is not what this is\n"), "shorter than an MTZ header"},
      {write_scratch("garbage.mtz", std::string(5000, '\x5a')), "no MTZ stamp"},
      {write_scratch("cut_header.mtz", real.substr(0, kHeader + 1617)), "no END record"},
      {write_scratch("cut_rows.mtz", real.substr(0, kHeader / 2)),
       "a header position outside the file"},
      {write_scratch("cut_stamp.mtz", real.substr(0, 10)), "shorter than an MTZ header"},
      {write_scratch("no_end.mtz", no_end), "an unknown header record \"XND\""},
      {write_scratch("bad_ncol.mtz", bad_ncol), "the NCOL record gives 9 columns, the header 8"},
      {write_scratch("version.mtz", version), "VERS record: a continuation mark \"-\" at its end"},
      {write_scratch("after_end.mtz", after_end),
       "a record other than history between END and MTZENDOFHEADERS"},
      {write_scratch("comment.mtz", comment), "COLUMN record: a comment mark (! or #)"},
      {write_scratch("end_of_headers.mtz", end_of_headers), "text after MTZENDOFHEADERS"},
      {write_scratch("quote.mtz", quote),
       "SYMINF record: a space-group name not quoted between blanks"},
      {write_scratch("indented.mtz", indented), "an indented header record \"DATASET\""},
      {write_scratch("joined.mtz", joined),
       "SYMINF record: a space-group name not quoted between blanks"},
      {write_scratch("continued.mtz", continued),
       "DWAVEL record: a continuation mark \"&\" at its end"},
      {write_scratch("major.mtz", major), "VERS record: other than one version MTZ:V1.n"},
      {write_scratch("history_past_end.mtz", history_past_end),
       "an MTZHIST record whose line count (99999999999) exceeds the 2 records left in the file"},
      {write_scratch("history_cut.mtz", real.substr(0, real.size() - 81)),
       "an MTZHIST record whose line count (1) exceeds the 0 records left in the file"},
      {write_scratch("history_negative.mtz", history_negative),
       "an MTZHIST record without a line count"},
      {write_scratch("history_to_end.mtz", history_to_end), "no MTZENDOFHEADERS record"}};
  for (const auto& [f, found] : files) {
    const std::string what =
        "File missing or corrupted: " + (found.empty() ? "" : found + ": ") + f;
    EXPECT_EQ(read_all(f), "CCP4MTZfile: open_read - " + what);
    EXPECT_EQ(fatal_text([&] { CCP4MTZfile().open_append(f, scratch("out.mtz")); }),
              "CCP4MTZfile: open_append - " + what);
  }
  const std::string empty = fixture_path("mtz_empty.mtz");
  EXPECT_EQ(read_all(empty), "CCP4MTZfile: open_read - File has no reflections: " + empty);
  EXPECT_EQ(read_all(fixture_path("tiny_5e5z.mtz")), "no error");
}

TEST(MtzErrors, MissingColumnsAndShortPaths) {
  const char* const cases[][2] = {{"/*/*/[FP,NOPE]", "/*/*/NOPE"},
                                  {"/*/nope/[FP,SIGFP]", "/*/nope/FP"},
                                  {"/*/*/FP", "/*/*/FP.F_sigF.F"},
                                  {"/FP", "/FP.F_sigF.F"},
                                  {"[FP,SIGFP]", "FP"},
                                  {"/*/[FP,SIGFP]", "/*/FP"}};
  CCP4MTZfile file;
  file.open_read(fixture_path("tiny_5e5z.mtz"));
  for (const auto& c : cases) {
    HKL_data<F_sigF<float>> data;
    EXPECT_EQ(
        fatal_text([&] { file.import_hkl_data(data, c[0]); }),
        std::string("CCP4MTZfile: import_hkl_data - Missing column, crystal or dataset: ") + c[1]);
    EXPECT_TRUE(data.is_null());
    EXPECT_TRUE(file.assigned_paths().empty());
  }
}

// Calls out of order, and a file changed and then removed before its rows
// are read: the rows are those of the file as it was read at open.
TEST(MtzErrors, CallsOutOfOrderAndAFileChangedAfterItsOpen) {
  const std::string original = read_bytes(fixture_path("tiny_5e5z.mtz"));
  const std::string name = write_scratch("x.mtz", original);
  CCP4MTZfile file;
  HKL_data<F_sigF<float>> data, expected;
  EXPECT_EQ(fatal_text([&] { file.import_hkl_data(data, "/*/*/[FP,SIGFP]"); }),
            "CCP4MTZfile: import_hkl_data - no file open for read");
  file.open_read(name);
  EXPECT_EQ(fatal_text([&] { file.open_append(name, name + ".out"); }),
            "CCP4MTZfile: open_append - File already open");
  file.import_hkl_data(data, "/*/*/[FP,SIGFP]");
  write_scratch("x.mtz", std::string(original.size(), '\x5a'));
  std::remove(name.c_str());
  EXPECT_EQ(fatal_text([&] { file.close_read(); }), "no error");
  CCP4MTZfile again;
  again.open_read(fixture_path("tiny_5e5z.mtz"));
  again.import_hkl_data(expected, "/*/*/[FP,SIGFP]");
  again.close_read();
  int observed = 0;
  for (HKL_info::HKL_reference_index ih = expected.first(); !ih.last(); ih.next()) {
    observed += !expected[ih].missing();
    EXPECT_TRUE(mtz_testing::same_bits(data[ih].f(), expected[ih].f())) << ih.hkl().format();
  }
  EXPECT_GT(observed, 300);
}

// Mangled copies of a real file: cut anywhere, bytes changed anywhere or in
// the header, header records replaced. Each either reads or fails with the
// open message; none may crash or hang. (A changed byte of an index mostly
// leaves it no whole number: such rows are refused.)
TEST(MtzErrors, FuzzedFilesNeverCrash) {
  const std::string real = read_bytes(fixture_path("tiny_5e5z.mtz"));
  const std::size_t records = (real.size() - kHeader) / 80;
  const char* const keywords[] = {"NCOL ",  "CELL ",    "SYMINF ",  "SYMM ", "RESO ", "COLUMN ",
                                  "DCELL ", "DATASET ", "CRYSTAL ", "VALM ", "NDIF ", "END"};
  std::mt19937 random(20261207);
  auto below = [&](std::size_t n) { return std::size_t(random() % n); };
  int read = 0, failed = 0;
  for (int i = 0; i < 320; ++i) {
    std::string bytes = real;
    if (i % 4 == 0) {  // cut
      bytes.resize(below(real.size()));
    } else if (i % 4 == 1) {  // bytes changed anywhere
      for (int n = 1 + int(below(8)); n > 0; --n) bytes[below(bytes.size())] = char(random());
    } else if (i % 4 == 2) {  // bytes changed in the header (and the lead words)
      for (int n = 1 + int(below(4)); n > 0; --n) {
        const std::size_t at = below(2) ? below(12) : kHeader + below(real.size() - kHeader);
        bytes[at] = char(random());
      }
    } else {  // a header record replaced by a keyword with garbage fields
      std::string record = keywords[below(12)];
      while (record.size() < 80) record += " -0123456789.e+nanx/,'P"[below(23)];
      bytes.replace(kHeader + 80 * below(records), 80, record);
    }
    const std::string path = write_scratch("fuzz.mtz", bytes);
    const std::string outcome = read_all(path);
    if (outcome == "no error")
      ++read;
    else if (outcome.find(path) != std::string::npos)
      ++failed;
    else
      ADD_FAILURE() << "case " << i << ": " << outcome;
    std::remove(path.c_str());
  }
  EXPECT_EQ(read + failed, 320);
  EXPECT_GT(read, 10);
  EXPECT_GT(failed, 80);
}
