// Reader of tests/data/matrix_fixtures.txt (tools/make_matrix_fixtures.py):
// records headed "solve n", "eigen n" or "sqrt", each followed by rows of
// numbers.
#ifndef VANTREL_TESTS_MATRIX_FIXTURES_H
#define VANTREL_TESTS_MATRIX_FIXTURES_H

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fixtures {

struct Record {
  int n = 3;
  std::vector<std::vector<double>> rows;
};

inline std::vector<Record> records_of(const std::string& kind) {
  std::ifstream in(VANTREL_TEST_DATA "/matrix_fixtures.txt");
  std::vector<Record> out;
  bool wanted = false;
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::vector<double> row;
    for (double v; words >> v;) row.push_back(v);
    if (!row.empty()) {
      if (wanted) out.back().rows.push_back(row);
      continue;
    }
    std::istringstream head(line);
    std::string k;
    int n;
    head >> k;
    if (!(head >> n)) n = 3;
    wanted = k == kind;
    if (wanted) out.push_back(Record{n, {}});
  }
  return out;
}

}  // namespace fixtures

#endif
