// Readers of the fixtures of tools/make_calc_fixtures.py: models with the
// toolkit's direct-sum structure factors, observations with its map
// coefficients. Free of the test framework, so that the benchmarks use them.
#ifndef VANTREL_TESTS_CALCULATIONS_CALC_FIXTURE_H
#define VANTREL_TESTS_CALCULATIONS_CALC_FIXTURE_H

#include <complex>
#include <fstream>
#include <string>
#include <vector>

#include "reflections/datatypes.h"
#include "reflections/hkl_data.h"
#include "reflections/hkl_info.h"
#include "symmetry/atom.h"
#include "symmetry/cell.h"
#include "symmetry/spacegroup.h"

namespace vantrel_testing {

//! A model with its crystal, the data resolution and the toolkit's results.
struct Calc_model {
  vantrel::Cell cell;
  vantrel::Spacegroup spacegroup;
  double dmin = 0.0;
  double r_toolkit = 0.0;  //!< R of Fo against Fcalc with bulk solvent
  vantrel::Atom_list atoms;
  std::vector<vantrel::HKL> hkl;            //!< direct-sum subset
  std::vector<std::complex<double>> fcalc;  //!< direct sum, no solvent
  bool good = false;
};

//! One observed reflection with the toolkit's 2mFo-DFc coefficient, if any.
struct Fo_row {
  vantrel::HKL hkl;
  double f, sigf, fwt = 0.0, phwt = 0.0;
};

//! calc_<name>.txt; good is false when unreadable.
inline Calc_model read_calc_model(const std::string& path) {
  Calc_model m;
  std::ifstream in(path);
  std::string key, hm, s;
  double p[6], u[6];
  int n = 0;
  if (!(in >> key >> p[0] >> p[1] >> p[2] >> p[3] >> p[4] >> p[5] >> key)) return m;
  std::getline(in, hm);
  m.cell.init(vantrel::Cell_descr(p[0], p[1], p[2], p[3], p[4], p[5]));
  m.spacegroup.init(vantrel::Spgr_descr(vantrel::String(hm).trim(), vantrel::Spgr_descr::HM));
  in >> key >> m.dmin >> key >> m.r_toolkit >> key >> n;
  for (std::string e; n-- > 0 && in >> e >> p[0] >> p[1] >> p[2] >> p[3] >> p[4];) {
    for (double& uk : u) uk = in >> s ? std::stod(s) : 0.0;  // stod reads the "nan" of no tensor
    m.atoms.push_back(vantrel::Atom(e, vantrel::Coord_orth(p[0], p[1], p[2]),
                                    vantrel::U_aniso_orth(u[0], u[1], u[2], u[3], u[4], u[5]), p[3],
                                    p[4]));
  }
  in >> key >> n;
  for (vantrel::HKL h; n-- > 0 && in >> h.h() >> h.k() >> h.l() >> p[0] >> p[1];) {
    m.hkl.push_back(h);
    m.fcalc.push_back(std::polar(p[0], p[1]));
  }
  m.good = bool(in) && !m.atoms.empty() && !m.hkl.empty();
  return m;
}

//! Rows "h k l F sigF" (and "FWT PHWT" when map) after a header of one
//! counted line (map) or three lines.
inline std::vector<Fo_row> read_rows(const std::string& path, bool map) {
  std::vector<Fo_row> rows;
  std::ifstream in(path);
  std::string line;
  for (int i = 0; i < (map ? 1 : 3); ++i) std::getline(in, line);
  for (Fo_row r; in >> r.hkl.h() >> r.hkl.k() >> r.hkl.l() >> r.f >> r.sigf &&
                 (!map || in >> r.fwt >> r.phwt);)
    rows.push_back(r);
  return rows;
}
//! wrk_7mm1_fo_map.txt: F, sigF, FWT, PHWT.
inline std::vector<Fo_row> read_fo_map(const std::string& path) { return read_rows(path, true); }
//! sm_1dur_fsigf.txt: F, sigF.
inline std::vector<Fo_row> read_fsigf(const std::string& path) { return read_rows(path, false); }

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
