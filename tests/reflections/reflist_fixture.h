// Reader of the reflection fixtures made by the tools/ scripts: blocks of a
// space group ("hall" or "hm"), "cell", "dmin" and tables "name count" whose
// rows are "h k l" and a fixed number of values; and small helpers shared by
// the reflection tests.
#ifndef VANTREL_TESTS_REFLIST_FIXTURE_H
#define VANTREL_TESTS_REFLIST_FIXTURE_H

#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/util.h"
#include "reflections/hkl_info.h"
#include "support/testing.h"

struct Reflist_block {
  struct Row {
    vantrel::HKL hkl;
    std::vector<double> v;
  };
  std::string hall, hm;
  double cell[6], dmin = 0.0;
  std::map<std::string, std::vector<Row>> tables;

  vantrel::Spacegroup spacegroup() const {
    using vantrel::Spgr_descr;
    return vantrel::Spacegroup(hall.empty() ? Spgr_descr(hm, Spgr_descr::HM)
                                            : Spgr_descr(hall, Spgr_descr::Hall));
  }
  vantrel::Cell unit_cell() const {
    return vantrel::Cell(vantrel::Cell_descr(cell[0], cell[1], cell[2], cell[3], cell[4], cell[5]));
  }
  vantrel::HKL_info list(double limit) const {
    return vantrel::HKL_info(spacegroup(), unit_cell(), vantrel::Resolution(limit), true);
  }
};

// a - b reduced to [-pi, pi].
inline double phase_difference(double a, double b) {
  return std::remainder(a - b, vantrel::Util::twopi());
}

inline vantrel::Cell cubic_cell(double a) {
  return vantrel::Cell(vantrel::Cell_descr(a, a, a, 90, 90, 90));
}

inline std::vector<Reflist_block> read_reflist_fixture(const std::string& name, int values) {
  std::ifstream in = vantrel_testing::open_fixture(name);
  std::vector<Reflist_block> blocks;
  std::string line, key;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    if (!(words >> key)) continue;
    if (blocks.empty() || key == "hall") blocks.emplace_back();
    Reflist_block& b = blocks.back();
    if (key == "hall" || key == "hm") {
      (key == "hall" ? b.hall : b.hm) = line.substr(key.size() + 1);
    } else if (key == "cell") {
      for (double& x : b.cell) words >> x;
    } else if (key == "dmin") {
      words >> b.dmin;
    } else {
      int n;
      words >> n;
      for (Reflist_block::Row& r : b.tables[key] = std::vector<Reflist_block::Row>(n)) {
        r.v.resize(values);
        in >> r.hkl[0] >> r.hkl[1] >> r.hkl[2];
        for (double& x : r.v) in >> x;
      }
    }
  }
  return blocks;
}

#endif
