// Helpers of the MTZ tests: the gemmi reference readings of the fixture
// files, a direct in-memory reading of an MTZ file through the CCP4 library
// (independent of the file object's column paths), and scratch files.
#ifndef VANTREL_TESTS_MTZ_MTZ_TESTING_H
#define VANTREL_TESTS_MTZ_MTZ_TESTING_H

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/util.h"
#include "mtz/mtz_ccp4.h"
#include "mtz/mtz_file.h"
#include "support/testing.h"

namespace mtz_testing {

//! One row as gemmi reads it: indices, 1/d^2 in the file's cell, values of
//! the data columns (NaN when missing).
struct Row {
  int h, k, l;
  double s;
  std::vector<double> values;
};

//! gemmi's reading of one real file: header figures, labels, sample rows.
struct Real_file {
  int rows = 0, fp_present = 0, spacegroup_number = 0;
  double s_max = 0.0, cell[6] = {};
  std::vector<std::string> labels;
  std::vector<Row> sample;
  int column(const std::string& label) const {
    for (std::size_t i = 0; i < labels.size(); ++i)
      if (labels[i] == label) return int(i);
    ADD_FAILURE() << "no column " << label;
    return 0;
  }
};

inline bool is_row(const std::string& line) {
  return !line.empty() && (std::isdigit(line[0]) || line[0] == '-');
}

inline Row parse_row(const std::string& line) {
  std::istringstream in(line);
  Row row;
  in >> row.h >> row.k >> row.l >> row.s;
  for (std::string w; in >> w;)
    row.values.push_back(w == "nan" ? vantrel::Util::nand() : std::stod(w));
  return row;
}

//! tests/data/mtz_real_ref.txt, by file name.
inline std::map<std::string, Real_file> read_real_files() {
  std::ifstream in = vantrel_testing::open_fixture("mtz_real_ref.txt");
  std::map<std::string, Real_file> files;
  Real_file* f = nullptr;
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string key, name;
    words >> key;
    if (is_row(line)) {
      f->sample.push_back(parse_row(line));
    } else if (key == "file") {
      words >> name;
      f = &files[name];
      words >> f->rows >> f->s_max >> f->fp_present >> f->spacegroup_number;
      for (double& c : f->cell) words >> c;
    } else if (key == "labels") {
      for (std::string label; words >> label;) f->labels.push_back(label);
    }
  }
  return files;
}

//! mtz_small.txt: every row of mtz_small.mtz.
inline std::vector<Row> read_small_rows() {
  std::ifstream in = vantrel_testing::open_fixture("mtz_small.txt");
  std::vector<Row> rows;
  for (std::string line; std::getline(in, line);)
    if (is_row(line)) rows.push_back(parse_row(line));
  return rows;
}

//! A whole MTZ file read into memory by the CCP4 library (null when it
//! cannot be read).
struct Raw_mtz : vantrel::Mtz_ptr {
  explicit Raw_mtz(const std::string& path) : vantrel::Mtz_ptr(CMtz::MtzGet(path.c_str(), 1)) {}
  int nref() const { return CMtz::MtzNref(get()); }
  //! Every column, crystal by crystal and dataset by dataset.
  std::vector<CMtz::MTZCOL*> columns() const { return vantrel::build_lookup(get()); }
  //! The first column of that label, or null.
  CMtz::MTZCOL* column(const std::string& label) const {
    for (CMtz::MTZCOL* col : columns())
      if (label == col->label) return col;
    return nullptr;
  }
};

//! Same bits, or both NaN.
inline bool same_bits(const float a, const float b) {
  return std::memcmp(&a, &b, sizeof(float)) == 0 || (std::isnan(a) && std::isnan(b));
}

//! Remembers a path to remove, latest first, when the test program ends.
inline std::string remember(const std::string& path) {
  static struct Files {
    std::vector<std::string> paths;
    ~Files() {
      for (auto p = paths.rbegin(); p != paths.rend(); ++p) std::remove(p->c_str());
    }
  } files;
  files.paths.push_back(path);
  return path;
}

//! A fresh path in the test's scratch directory, removed at the end.
inline std::string scratch(const std::string& name) {
  static int serial = 0;
  return remember(::testing::TempDir() + "vantrel_mtz_" + std::to_string(getpid()) + "_" +
                  std::to_string(++serial) + "_" + name);
}

//! The names in a directory but "." and "..", sorted.
inline std::vector<std::string> directory_entries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
        names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

inline bool file_exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

using vantrel_testing::read_bytes;
using vantrel_testing::write_bytes;

//! The bytes of an MTZ file with one value of its rows replaced (row and
//! column from 0; the file's numbers in this machine's byte order, as in the
//! shipped files).
inline std::string with_row_value(std::string bytes, const int row, const int column,
                                  const float value) {
  const std::size_t ncol = std::stoul(bytes.substr(bytes.find("NCOL ") + 5, 9));
  std::memcpy(&bytes[80 + 4 * (ncol * std::size_t(row) + std::size_t(column))], &value, 4);
  return bytes;
}

//! The bytes with every occurrence of a text replaced by one of the same
//! length.
inline std::string with_text(std::string bytes, const std::string& from, const std::string& to) {
  EXPECT_EQ(from.size(), to.size()) << from;
  EXPECT_NE(bytes.find(from), std::string::npos) << from;
  for (std::size_t at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at + 1))
    bytes.replace(at, from.size(), to);
  return bytes;
}

//! Opens, lists and reads one file the way a program would: "no error" or
//! the text of the fatal message.
inline std::string read_all(const std::string& path) {
  return vantrel_testing::fatal_text([&] {
    vantrel::CCP4MTZfile file;
    file.open_read(path);
    vantrel::HKL_info list;
    file.import_hkl_info(list, false);
    vantrel::HKL_data<vantrel::datatypes::F_sigF<float>> data(list);
    file.import_hkl_data(data, "/*/*/[FP,SIGFP]");
    file.close_read();
  });
}

//! The bytes of an MTZ file but for the times the library stamps in its
//! column records, which differ from run to run.
inline std::string without_times(std::string bytes) {
  const std::string created = "CREATED_";
  for (std::size_t at = 0; (at = bytes.find(created, at)) != std::string::npos; at += 8)
    bytes.replace(at + 8, std::min<std::size_t>(19, bytes.size() - at - 8), 19, '_');
  return bytes;
}

//! The CELL and DCELL records of a file's header, in order.
inline std::vector<std::string> cell_records(const std::string& path) {
  const std::string bytes = read_bytes(path);
  std::vector<std::string> records;
  for (std::size_t at = bytes.find("VERS MTZ"); at + 80 <= bytes.size(); at += 80) {
    const std::string record = bytes.substr(at, 80);
    if (record.compare(0, 4, "CELL") == 0 || record.compare(0, 5, "DCELL") == 0)
      records.push_back(record);
    if (record.compare(0, 4, "END ") == 0) break;
  }
  return records;
}

}  // namespace mtz_testing

#endif
