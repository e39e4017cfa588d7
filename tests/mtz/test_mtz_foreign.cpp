// Files laid out as other programs write them: every column in a dataset 0
// of their own names, names and labels with quotes and trailing marks, a
// setting whose symmetry record has no lattice letter, a long history.
// Each is read with the values gemmi reads, and copied by an append.
#include <fstream>
#include <map>

#include "mtz/mtz_file.h"
#include "mtz_testing.h"
#include "reflections/datatypes.h"

using namespace vantrel;
using namespace vantrel::datatypes;
using vantrel_testing::fatal_text;
using vantrel_testing::fixture_path;

namespace {

// gemmi's reading of one file of mtz_foreign.txt.
struct Foreign {
  int spacegroup = 0;
  double cell[6] = {};
  std::vector<std::vector<std::string>> columns;  // project crystal dataset label type
  std::vector<mtz_testing::Row> rows;             // h k l, then the data values
};

std::map<std::string, Foreign> read_foreign() {
  std::ifstream in = vantrel_testing::open_fixture("mtz_foreign.txt");
  std::map<std::string, Foreign> files;
  Foreign* f = nullptr;
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string key, name;
    words >> key;
    if (key == "file") {
      words >> name;
      f = &files[name];
      words >> f->spacegroup;
      for (double& c : f->cell) words >> c;
    } else if (key == "column") {
      f->columns.emplace_back(5);
      for (std::string& w : f->columns.back()) words >> w;
    } else if (mtz_testing::is_row(line)) {
      // The rows carry no 1/d^2: put a zero in its place.
      std::istringstream hkl(line);
      std::string h, k, l;
      hkl >> h >> k >> l;
      f->rows.push_back(mtz_testing::parse_row(h + " " + k + " " + l + " 0" +
                                               line.substr(std::size_t(hkl.tellg()))));
    }
  }
  return files;
}

// Reads every (F, sigF) pair of data columns, in file order, and checks the
// header and each value against gemmi's reading.
void expect_as_gemmi_reads(const std::string& path, const Foreign& want) {
  CCP4MTZfile file;
  file.open_read(path);
  // The library files the index columns under the base crystal and dataset.
  std::vector<String> paths;
  for (const auto& c : want.columns)
    paths.push_back(c[4] == "H" ? "/HKL_base/HKL_base/" + c[3] + " H"
                                : "/" + c[1] + "/" + c[2] + "/" + c[3] + " " + c[4]);
  EXPECT_EQ(file.column_paths(), paths);
  EXPECT_EQ(file.spacegroup().spacegroup_number(), want.spacegroup);
  const double cell[6] = {file.cell().a(),         file.cell().b(),        file.cell().c(),
                          file.cell().alpha_deg(), file.cell().beta_deg(), file.cell().gamma_deg()};
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(cell[i], want.cell[i], 1e-4) << i;
  HKL_info list;
  file.import_hkl_info(list, false);
  std::vector<std::unique_ptr<HKL_data<F_sigF<float>>>> data;
  for (std::size_t c = 3; c + 1 < want.columns.size(); c += 2) {
    data.push_back(std::make_unique<HKL_data<F_sigF<float>>>(list));
    file.import_hkl_data(*data.back(),
                         "/*/*/[" + want.columns[c][3] + "," + want.columns[c + 1][3] + "]");
  }
  file.close_read();
  ASSERT_EQ(list.num_reflections(), int(want.rows.size()));
  ASSERT_EQ(data.size() * 2, want.rows[0].values.size());
  for (const mtz_testing::Row& row : want.rows)
    for (std::size_t j = 0; j < data.size(); ++j) {
      const F_sigF<float>& got = (*data[j])[HKL(row.h, row.k, row.l)];
      const double f = row.values[2 * j], sigf = row.values[2 * j + 1];
      EXPECT_TRUE(std::isnan(f) ? Util::is_nan(got.f()) : got.f() == float(f)) << row.h << row.k;
      EXPECT_EQ(got.sigf(), float(sigf)) << row.h << row.k << row.l;
    }
}

}  // namespace

// A dataset 0 named other than HKL_base (one program writes every column
// there, under its own name thrice), and names and labels holding quotes or
// ending in "-" or "&", and a group in a setting without a lattice letter
// ("?", its group taken from the operators), and a history of 1,001 lines:
// read as gemmi reads them, the input and its append copy alike.
TEST(MtzForeign, FilesOfOtherWritersReadAsGemmiReadsThem) {
  const std::map<std::string, Foreign> files = read_foreign();
  ASSERT_EQ(files.size(), 4u);
  for (const auto& [name, want] : files) {
    SCOPED_TRACE(name);
    const std::string in = fixture_path(name), out = mtz_testing::scratch("copy_" + name);
    expect_as_gemmi_reads(in, want);
    ASSERT_EQ(fatal_text([&] {
                CCP4MTZfile file;
                file.open_append(in, out);
                file.close_append();
              }),
              "no error");
    expect_as_gemmi_reads(out, want);
  }
}

// A history of any length the file holds (gemmi writes every line given) is
// read with the data, here 5,000 lines. An append copies the data and the
// latest 999 lines, all the CCP4 library's writer counts right (it would
// write a count of 1,001 as 100), and says so.
TEST(MtzForeign, LongHistoriesAreReadWithTheirData) {
  const Foreign want = read_foreign().at("mtz_long_history.mtz");
  std::string bytes =
      mtz_testing::with_text(vantrel_testing::read_bytes(fixture_path("mtz_long_history.mtz")),
                             "MTZHIST 1001 ", "MTZHIST 5000 ");
  std::string lines;
  for (int i = 1001; i < 5000; ++i) {
    const std::string line = "step " + std::to_string(i) + " added";
    lines += line + std::string(80 - line.size(), ' ');
  }
  bytes.insert(bytes.find("MTZHIST 5000 ") + 80, lines);
  const std::string in = vantrel_testing::write_bytes(mtz_testing::scratch("history.mtz"), bytes),
                    out = mtz_testing::scratch("history_copy.mtz");
  expect_as_gemmi_reads(in, want);
  vantrel_testing::Quiet_messages quiet;
  CCP4MTZfile file;
  file.open_append(in, out);
  file.close_append();
  EXPECT_EQ(quiet.text(),
            "CCP4MTZfile: open_append - the copy keeps the latest 999 of 5000 history lines, as "
            "many as the CCP4 library writes: " +
                in + "\n");
  expect_as_gemmi_reads(out, want);
  const mtz_testing::Raw_mtz copy(out);
  ASSERT_TRUE(copy && copy->histlines == 999);
  EXPECT_EQ(std::string(copy->hist, 999 * 80), bytes.substr(bytes.find("MTZHIST") + 80, 999 * 80));
}
