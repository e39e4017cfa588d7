// The Fourier transform of the density painted from one atom is the atom's
// scattering factor: F(h) = f(h) exp(2 pi i h.x_atom).
#include <gtest/gtest.h>

#include <cmath>
#include <complex>

#include "maps/atomsf.h"
#include "maps/xmap.h"
#include "reflections/datatypes.h"
#include "reflections/hkl_data.h"

using namespace vantrel;

namespace {

// An oblique cell with a fine grid (about 0.33 A), so that aliasing and the
// density cut-off are far below the tolerance.
const Cell cell(Cell_descr(16.0, 17.0, 18.0, 80.0, 95.0, 105.0));
const double cutoff_sq = 6.5 * 6.5;

Grid_sampling fine_grid() {
  Grid_sampling s;
  static_cast<Grid&>(s) = Grid(48, 54, 54);
  return s;
}

// Density of the atom at every grid point of a P1 map, summed over the
// lattice images within the cut-off.
Xmap<float> paint(const AtomShapeFn& atom, const Coord_frac& position) {
  Xmap<float> map(Spacegroup(Spacegroup::P1), cell, fine_grid());
  for (auto ix = map.first(); !ix.last(); ix.next()) {
    const Coord_frac x = ix.coord().coord_frac(map.grid_sampling());
    Coord_frac d = x - position;
    d = Coord_frac(d.u() - std::rint(d.u()), d.v() - std::rint(d.v()), d.w() - std::rint(d.w()));
    double rho = 0.0;
    for (int i = -1; i <= 1; ++i)
      for (int j = -1; j <= 1; ++j)
        for (int k = -1; k <= 1; ++k) {
          const Coord_orth delta = (d + Coord_frac(i, j, k)).coord_orth(cell);
          if (delta.lengthsq() < cutoff_sq) rho += atom.rho(position.coord_orth(cell) + delta);
        }
    map[ix] = float(rho);
  }
  return map;
}

// Compares the transform of the painted map with f(h) exp(2 pi i h.x).
template <class F>
void expect_transform_is_scattering_factor(const AtomShapeFn& atom, const Coord_frac& position,
                                           const F& f_of_hkl) {
  const HKL_info hkls(Spacegroup(Spacegroup::P1), cell, Resolution(1.8), true);
  ASSERT_GT(hkls.num_reflections(), 1000);
  HKL_data<datatypes::F_phi<float>> fphi(hkls);
  paint(atom, position).fft_to(fphi);
  double worst = 0.0;
  for (auto ih = hkls.first(); !ih.last(); ih.next()) {
    const HKL& h = ih.hkl();
    const double phase = Util::twopi() * (h.h() * position.u() + h.k() * position.v() +
                                          h.l() * position.w());
    const std::complex<double> expected = std::polar(f_of_hkl(h), phase);
    const std::complex<double> got = std::polar(double(fphi[ih].f()), double(fphi[ih].phi()));
    worst = std::max(worst, std::abs(got - expected));
  }
  EXPECT_LT(worst, 1e-4);
}

}  // namespace

TEST(AtomDensityTransform, IsotropicAtomGivesItsScatteringFactor) {
  const Coord_frac position(0.31, 0.62, 0.13);
  const AtomShapeFn carbon(position.coord_orth(cell), "C", 0.25, 0.8);
  expect_transform_is_scattering_factor(carbon, position, [&](const HKL& h) {
    return carbon.f(h.invresolsq(cell));
  });
  // At h = 0 the transform is the integral of the density.
  const Xmap<float> map = paint(carbon, position);
  double sum = 0.0;
  for (auto ix = map.first(); !ix.last(); ix.next()) sum += map[ix];
  EXPECT_NEAR(sum * cell.volume() / fine_grid().size(), carbon.f(0.0), 1e-3);
}

TEST(AtomDensityTransform, AnisotropicAtomGivesItsScatteringFactor) {
  const Coord_frac position(0.77, 0.05, 0.48);
  const U_aniso_orth u(0.30, 0.18, 0.24, 0.05, -0.03, 0.02);
  const AtomShapeFn iron(position.coord_orth(cell), "Fe2+", u, 1.0);
  expect_transform_is_scattering_factor(iron, position, [&](const HKL& h) {
    return iron.f(h.coord_reci_orth(cell));
  });
}
