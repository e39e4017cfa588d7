// Damaged and unusual coordinate files, made in the tests from the shipped
// ones: a record changed, or columns of every mmCIF atom row set.
#ifndef VANTREL_TESTS_MODEL_DAMAGED_FILES_H
#define VANTREL_TESTS_MODEL_DAMAGED_FILES_H

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "support/testing.h"

namespace damaged_files {

//! The lines of a shipped file.
inline std::vector<std::string> lines_of(const std::string& fixture) {
  std::ifstream in = vantrel_testing::open_fixture(fixture);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

//! A shipped PDB file with its n-th ATOM record (from 0) changed by f.
template <class F> std::string pdb_with_atom(const std::string& fixture, const int n, F f) {
  std::vector<std::string> lines = lines_of(fixture);
  int seen = 0;
  for (std::string& line : lines)
    if (line.rfind("ATOM  ", 0) == 0 && seen++ == n) f(line);
  return joined(lines);
}

//! A shipped PDB file with the space-group name of its CRYST1 record replaced.
inline std::string pdb_with_group(const std::string& fixture, const std::string& name) {
  std::vector<std::string> lines = lines_of(fixture);
  for (std::string& line : lines)
    if (line.rfind("CRYST1", 0) == 0)
      line.replace(55, 11, (name + std::string(11, ' ')).substr(0, 11));
  return joined(lines);
}

//! A shipped mmCIF file whose atom rows (the lines of n_columns words that
//! start with an atom id or a record name) are changed by f on their words.
template <class F>
std::string cif_with_rows(const std::string& fixture, std::size_t n_columns, F f) {
  std::vector<std::string> lines = lines_of(fixture);
  for (std::string& line : lines) {
    std::istringstream words(line);
    std::vector<std::string> w{std::istream_iterator<std::string>(words), {}};
    if (w.size() != n_columns || !(w[0].find_first_not_of("0123456789") == std::string::npos ||
                                   w[0] == "ATOM" || w[0] == "HETATM"))
      continue;
    f(w);
    line.clear();
    for (const std::string& word : w) line += word + " ";
  }
  return joined(lines);
}

}  // namespace damaged_files

#endif
