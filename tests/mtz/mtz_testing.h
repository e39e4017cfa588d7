// Helpers of the MTZ tests: the gemmi reference readings of the fixture
// files, a direct in-memory reading of an MTZ file through the CCP4 library
// (independent of the file object's column paths), and scratch files.
#ifndef VANTREL_TESTS_MTZ_MTZ_TESTING_H
#define VANTREL_TESTS_MTZ_MTZ_TESTING_H

#include <ccp4/cmtzlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/testing.h"

namespace mtz_testing {

//! One row as gemmi reads it: indices, 1/d^2 in the file's cell, values of
//! the data columns (NaN when missing).
struct Row {
  int h, k, l;
  double s;
  std::vector<double> values;
};

//! gemmi's reading of one real file (tests/data/mtz_real_ref.txt).
struct Real_file {
  int rows = 0, fp_present = 0, spacegroup_number = 0;
  double s_max = 0.0;
  double cell[6] = {};
  std::vector<std::string> labels;
  std::vector<Row> sample;
  int column(const std::string& label) const {
    for (std::size_t i = 0; i < labels.size(); ++i)
      if (labels[i] == label) return int(i);
    ADD_FAILURE() << "no column " << label;
    return 0;
  }
};

inline double parse_value(const std::string& word) {
  return word == "nan" ? vantrel::Util::nand() : std::stod(word);
}

inline Row parse_row(const std::string& line) {
  std::istringstream in(line);
  Row row;
  std::string word;
  in >> row.h >> row.k >> row.l >> word;
  row.s = std::stod(word);
  while (in >> word) row.values.push_back(parse_value(word));
  return row;
}

inline std::map<std::string, Real_file> read_real_files() {
  std::ifstream in = vantrel_testing::open_fixture("mtz_real_ref.txt");
  std::map<std::string, Real_file> files;
  Real_file* current = nullptr;
  int pending = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string key;
    words >> key;
    if (pending > 0) {
      current->sample.push_back(parse_row(line));
      --pending;
    } else if (key == "file") {
      std::string name;
      words >> name;
      current = &files[name];
      std::string s;
      words >> current->rows >> s >> current->fp_present >> current->spacegroup_number;
      current->s_max = std::stod(s);
      for (double& c : current->cell) words >> c;
    } else if (key == "labels") {
      for (std::string label; words >> label;) current->labels.push_back(label);
    } else if (key == "sample") {
      words >> pending;
    }
  }
  return files;
}

//! mtz_small.txt: every row of mtz_small.mtz.
inline std::vector<Row> read_small_rows() {
  std::ifstream in = vantrel_testing::open_fixture("mtz_small.txt");
  std::vector<Row> rows;
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line[0] != '#' && line[0] != 'r') rows.push_back(parse_row(line));
  return rows;
}

//! A whole MTZ file read into memory by the CCP4 library.
class Raw_mtz {
 public:
  explicit Raw_mtz(const std::string& path) : mtz_(CMtz::MtzGet(path.c_str(), 1)) {
    if (mtz_ == nullptr) ADD_FAILURE() << "cannot read " << path;
  }
  ~Raw_mtz() {
    if (mtz_ != nullptr) CMtz::MtzFree(mtz_);
  }
  Raw_mtz(const Raw_mtz&) = delete;
  Raw_mtz& operator=(const Raw_mtz&) = delete;

  bool ok() const { return mtz_ != nullptr; }
  int nref() const { return CMtz::MtzNref(mtz_); }
  CMtz::MTZ* get() const { return mtz_; }
  //! Every column, crystal by crystal and dataset by dataset.
  std::vector<CMtz::MTZCOL*> columns() const {
    std::vector<CMtz::MTZCOL*> cols;
    for (int x = 0; x < CMtz::MtzNxtal(mtz_); ++x) {
      CMtz::MTZXTAL* xtal = CMtz::MtzIxtal(mtz_, x);
      for (int s = 0; s < CMtz::MtzNsetsInXtal(xtal); ++s) {
        CMtz::MTZSET* set = CMtz::MtzIsetInXtal(xtal, s);
        for (int c = 0; c < CMtz::MtzNcolsInSet(set); ++c) cols.push_back(CMtz::MtzIcolInSet(set, c));
      }
    }
    return cols;
  }
  //! The first column of that label, or null.
  CMtz::MTZCOL* column(const std::string& label) const {
    for (CMtz::MTZCOL* col : columns())
      if (label == col->label) return col;
    return nullptr;
  }

 private:
  CMtz::MTZ* mtz_;
};

//! Removes the remembered scratch files (and their partial forms), latest
//! first, when the test program ends.
class Scratch_files {
 public:
  ~Scratch_files() {
    for (auto p = paths.rbegin(); p != paths.rend(); ++p) {
      std::remove((*p + ".partial").c_str());
      std::remove(p->c_str());
    }
  }
  std::vector<std::string> paths;
};

//! Remembers a path to remove at the end.
inline std::string remember(const std::string& path) {
  static Scratch_files files;
  files.paths.push_back(path);
  return path;
}

//! A fresh path in the test's scratch directory, removed at the end.
inline std::string scratch(const std::string& name) {
  static int serial = 0;
  return remember(::testing::TempDir() + "vantrel_mtz_" + std::to_string(getpid()) + "_" +
                  std::to_string(++serial) + "_" + name);
}

inline bool file_exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

}  // namespace mtz_testing

#endif
