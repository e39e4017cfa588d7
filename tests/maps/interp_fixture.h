// Reads the map-interpolation fixtures (tools/make_interp_fixtures.py): a
// symmetric P1 grid with gemmi's interpolations at fractional positions.
#ifndef VANTREL_TESTS_MAPS_INTERP_FIXTURE_H
#define VANTREL_TESTS_MAPS_INTERP_FIXTURE_H

#include <fstream>
#include <string>
#include <vector>

#include "maps/xmap.h"

namespace interp_fixture {

//! A grid sampling of exactly grid g.
inline vantrel::Grid_sampling sampling_of(const vantrel::Grid& g) {
  vantrel::Grid_sampling s;
  static_cast<vantrel::Grid&>(s) = g;
  return s;
}

struct Point {
  vantrel::Coord_frac frac;
  double linear, cubic;
};

struct Fixture {
  std::string symbol;
  vantrel::Cell cell;
  vantrel::Grid grid;
  std::vector<double> values;  // the P1 grid, u slowest, w fastest
  std::vector<Point> points;

  vantrel::Grid_sampling sampling() const { return sampling_of(grid); }
  double p1_value(const vantrel::Coord_grid& c) const { return values[c.index(grid)]; }

  //! The crystallographic map whose P1 expansion is the fixture grid.
  template <class T>
  vantrel::Xmap<T> xmap() const {
    vantrel::Xmap<T> map(vantrel::Spacegroup(vantrel::Spgr_descr(symbol)), cell, sampling());
    for (auto ix = map.first(); !ix.last(); ix.next()) map[ix] = T(p1_value(ix.coord()));
    return map;
  }
};

inline Fixture read(const std::string& name) {
  std::ifstream in(std::string(VANTREL_TEST_DATA) + "/interp_" + name + ".txt");
  Fixture f;
  std::string word;
  double a, b, c, alpha, beta, gamma;
  int nu, nv, nw, n;
  in >> word;
  std::getline(in >> std::ws, f.symbol);
  in >> word >> a >> b >> c >> alpha >> beta >> gamma;
  f.cell = vantrel::Cell(vantrel::Cell_descr(a, b, c, alpha, beta, gamma));
  in >> word >> nu >> nv >> nw;
  f.grid = vantrel::Grid(nu, nv, nw);
  in >> word >> n;
  f.values.resize(n);
  for (double& v : f.values) in >> v;
  in >> word >> n;
  for (int i = 0; i < n && in; ++i) {
    double u, v, w;
    Point p;
    in >> u >> v >> w >> p.linear >> p.cubic;
    p.frac = vantrel::Coord_frac(u, v, w);
    f.points.push_back(p);
  }
  return f;
}

inline const std::vector<std::string>& names() {
  static const std::vector<std::string> n{"p212121", "c121", "p43212"};
  return n;
}

}  // namespace interp_fixture

#endif
