// Readers of the calculation fixtures written by tools/make_calc_fixtures.py:
// models as atom lists with the toolkit's direct-sum structure factors, and
// observed amplitudes with the toolkit's weighted map coefficients. Free of
// the test framework, so that the benchmarks read them too.
#ifndef VANTREL_TESTS_CALCULATIONS_CALC_FIXTURE_H
#define VANTREL_TESTS_CALCULATIONS_CALC_FIXTURE_H

#include <complex>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "reflections/datatypes.h"
#include "reflections/hkl_data.h"
#include "reflections/hkl_info.h"
#include "symmetry/cell.h"
#include "symmetry/atom.h"
#include "symmetry/spacegroup.h"

namespace vantrel_testing {

//! A model with its crystal, the data resolution and the toolkit's results.
struct Calc_model {
  vantrel::Cell cell;
  vantrel::Spacegroup spacegroup;
  double dmin = 0.0;
  double r_toolkit = 0.0;  //!< R of Fo against Fcalc with bulk solvent
  vantrel::Atom_list atoms;
  std::vector<vantrel::HKL> hkl;                 //!< direct-sum subset
  std::vector<std::complex<double>> fcalc;       //!< direct sum, no solvent
  bool good = false;
};

//! One observed reflection with the toolkit's 2mFo-DFc coefficient.
struct Fo_row {
  vantrel::HKL hkl;
  double f, sigf, fwt, phwt;
};

namespace detail {
// Reads a number that may be written "nan".
inline double read_value(std::istream& in) {
  std::string s;
  in >> s;
  return s == "nan" ? std::numeric_limits<double>::quiet_NaN() : std::stod(s);
}
}  // namespace detail

//! calc_<name>.txt in the fixture directory; good is false when unreadable.
inline Calc_model read_calc_model(const std::string& path) {
  Calc_model m;
  std::ifstream in(path);
  std::string key, hm;
  double a, b, c, al, be, ga;
  int n = 0;
  if (!(in >> key >> a >> b >> c >> al >> be >> ga)) return m;
  m.cell.init(vantrel::Cell_descr(a, b, c, al, be, ga));
  in >> key;
  std::getline(in, hm);
  m.spacegroup.init(vantrel::Spgr_descr(vantrel::String(hm).trim(), vantrel::Spgr_descr::HM));
  in >> key >> m.dmin >> key >> m.r_toolkit >> key >> n;
  for (int i = 0; i < n; ++i) {
    std::string element;
    double x, y, z, occ, uiso, u[6];
    in >> element >> x >> y >> z >> occ >> uiso;
    for (double& uk : u) uk = detail::read_value(in);
    m.atoms.push_back(vantrel::Atom(element, vantrel::Coord_orth(x, y, z),
                                    vantrel::U_aniso_orth(u[0], u[1], u[2], u[3], u[4], u[5]),
                                    occ, uiso));
  }
  in >> key >> n;
  for (int i = 0; i < n; ++i) {
    int h, k, l;
    double f, phi;
    in >> h >> k >> l >> f >> phi;
    m.hkl.push_back(vantrel::HKL(h, k, l));
    m.fcalc.push_back(std::polar(f, phi));
  }
  m.good = bool(in) && !m.atoms.empty() && !m.hkl.empty();
  return m;
}

//! wrk_7mm1_fo_map.txt: the observed reflections with F, sigF, FWT, PHWT.
inline std::vector<Fo_row> read_fo_map(const std::string& path) {
  std::vector<Fo_row> rows;
  std::ifstream in(path);
  std::string key;
  int n = 0;
  in >> key >> n;
  for (int i = 0; i < n && in; ++i) {
    Fo_row r;
    int h, k, l;
    in >> h >> k >> l >> r.f >> r.sigf >> r.fwt >> r.phwt;
    r.hkl = vantrel::HKL(h, k, l);
    if (in) rows.push_back(r);
  }
  return rows;
}

//! sm_1dur_fsigf.txt-style rows "h k l F sigF" after a three-line header.
inline std::vector<Fo_row> read_fsigf(const std::string& path) {
  std::vector<Fo_row> rows;
  std::ifstream in(path);
  std::string line;
  for (int i = 0; i < 3; ++i) std::getline(in, line);
  int h, k, l;
  double f, sigf;
  while (in >> h >> k >> l >> f >> sigf) rows.push_back({vantrel::HKL(h, k, l), f, sigf, 0.0, 0.0});
  return rows;
}

//! The list of every reflection to the model's resolution, with the rows'
//! amplitudes imported into fo (rows beyond the limit are dropped).
inline void make_observed(const Calc_model& m, const std::vector<Fo_row>& rows,
                          vantrel::HKL_info& hkls,
                          vantrel::HKL_data<vantrel::datatypes::F_sigF<float>>& fo) {
  // A hair below the file's limit, so that its last shell is inside.
  hkls.init(m.spacegroup, m.cell, vantrel::Resolution(m.dmin * 0.9999), true);
  fo.init(hkls, m.cell);
  for (const Fo_row& r : rows) fo.set_data(r.hkl, vantrel::datatypes::F_sigF<float>(r.f, r.sigf));
}

}  // namespace vantrel_testing

#endif
