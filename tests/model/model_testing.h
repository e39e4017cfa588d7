// Helpers of the model tests: coordinate files read into a MiniMol, text
// properties, and a scratch directory for files the tests write.
#ifndef VANTREL_TESTS_MODEL_MODEL_TESTING_H
#define VANTREL_TESTS_MODEL_MODEL_TESTING_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/util.h"
#include "model/mmdb_file.h"
#include "support/testing.h"

namespace model_testing {

using vantrel::String;

//! A coordinate file read into a MiniMol; a name without '/' is a fixture.
inline vantrel::MiniMol read_model(const String& file) {
  vantrel::MMDBfile in;
  in.SetFlag(mmdb::MMDBF_IgnoreNonCoorPDBErrors | mmdb::MMDBF_IgnoreBlankLines);
  in.read_file(file.find('/') == String::npos ? String(vantrel_testing::fixture_path(file)) : file);
  vantrel::MiniMol mol;
  in.import_minimol(mol, -1);
  return mol;
}

inline String text_property(const vantrel::PropertyManager& p, const String& label = "CID") {
  return dynamic_cast<const vantrel::Property<String>&>(p.get_property(label)).value();
}

inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

//! A directory for written files, removed afterwards; with VANTREL_MODEL_OUTPUT
//! set, that directory is used and kept for the fixture script's check.
class Scratch {
 public:
  Scratch() : keep_(std::getenv("VANTREL_MODEL_OUTPUT") != nullptr) {
    dir_ = keep_ ? std::filesystem::path(std::getenv("VANTREL_MODEL_OUTPUT"))
                 : std::filesystem::temp_directory_path() /
                       ("vantrel_model_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
  }
  ~Scratch() {
    if (!keep_) std::filesystem::remove_all(dir_);
  }
  String path(const String& name) const { return (dir_ / std::string(name)).string(); }
  //! The path of a new file there holding the bytes.
  String write(const String& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
    return path(name);
  }

 private:
  bool keep_;
  std::filesystem::path dir_;
};

//! Sets the time limit of the child read of binary and mmCIF files for the
//! scope, so that a test of a file on which the reader loops ends soon.
class Child_time_limit {
 public:
  explicit Child_time_limit(const double seconds) {
    vantrel::internal::child_read_seconds = seconds;
  }
  ~Child_time_limit() { vantrel::internal::child_read_seconds = 0; }
};

}  // namespace model_testing

#endif
