// Reader of the fixtures made by tools/make_reflection_fixtures.py: blocks of
// a Hall symbol, cell, resolution and tables of rows "h k l x y".
#ifndef VANTREL_TESTS_REFLIST_FIXTURE_H
#define VANTREL_TESTS_REFLIST_FIXTURE_H

#include <array>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "reflections/hkl_info.h"

struct Reflist_block {
  struct Row {
    vantrel::HKL hkl;
    double x, y;
  };
  std::string hall;
  std::array<double, 6> cell;
  double dmin;
  std::map<std::string, std::vector<Row>> tables;

  vantrel::Spacegroup spacegroup() const {
    return vantrel::Spacegroup(vantrel::Spgr_descr(hall, vantrel::Spgr_descr::Hall));
  }
  vantrel::Cell unit_cell() const {
    return vantrel::Cell(vantrel::Cell_descr(cell[0], cell[1], cell[2], cell[3], cell[4], cell[5]));
  }
  vantrel::HKL_info generated_list() const {
    return vantrel::HKL_info(spacegroup(), unit_cell(), vantrel::Resolution(dmin), true);
  }
};

inline std::vector<Reflist_block> read_reflist_fixture(const std::string& name) {
  std::ifstream in(std::string(VANTREL_TEST_DATA) + "/" + name);
  std::vector<Reflist_block> blocks;
  std::string line, key;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    words >> key;
    if (key == "hall") {
      blocks.emplace_back();
      blocks.back().hall = line.substr(5);
    } else if (key == "cell") {
      for (double& v : blocks.back().cell) words >> v;
    } else if (key == "dmin") {
      words >> blocks.back().dmin;
    } else {
      int n;
      words >> n;
      std::vector<Reflist_block::Row>& rows = blocks.back().tables[key];
      rows.resize(n);
      for (Reflist_block::Row& r : rows) in >> r.hkl[0] >> r.hkl[1] >> r.hkl[2] >> r.x >> r.y;
      std::getline(in, line);  // end of the last row
    }
  }
  return blocks;
}

#endif
