// Density and mask painting against a direct sum of the atoms' densities over
// their symmetry images and lattice translations, at sample points.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "calculations/edcalc.h"
#include "maps/atomsf.h"
#include "support/testing.h"

using namespace vantrel;

namespace {

// Atoms of several elements at random positions, every other one with a
// tensor; the first sits on a two-fold axis of P 31 2 1.
Atom_list random_atoms(const Cell& cell, int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const char* elements[] = {"C", "N", "O", "S", "Fe"};
  Atom_list atoms;
  for (int i = 0; i < n; ++i) {
    const Coord_frac f =
        i == 0 ? Coord_frac(0.3, 0.0, 1.0 / 3.0) : Coord_frac(unit(rng), unit(rng), unit(rng));
    const double u = 0.1 + 0.3 * unit(rng);
    const U_aniso_orth ua = i % 2 ? U_aniso_orth(u, 1.3 * u, 0.8 * u, 0.2 * u, -0.1 * u, 0.05 * u)
                                  : U_aniso_orth::null();
    atoms.push_back(Atom(elements[i % 5], f.coord_orth(cell), ua, 0.5 + 0.5 * unit(rng), u));
  }
  return atoms;
}

AtomShapeFn shape_of(const Atom& a, bool aniso) {
  if (aniso && !a.u_aniso_orth().is_null())
    return AtomShapeFn(a.coord_orth(), a.element(), a.u_aniso_orth(), a.occupancy());
  return AtomShapeFn(a.coord_orth(), a.element(), a.u_iso(), a.occupancy());
}

// The value expected at grid point p: every atom's density (or mask) at each
// symmetry and lattice image of p inside the atom's box of half-widths h
// around its nearest grid point. Operators fixing p count once each.
double direct_value(const Xmap_base& xmap, const Atom_list& atoms, const Coord_grid& p,
                    const Coord_grid& h, double radius, bool aniso, bool mask) {
  const Grid_sampling& g = xmap.grid_sampling();
  double sum = 0.0;
  bool inside = false;
  for (const Atom& atom : atoms) {
    const AtomShapeFn shape = shape_of(atom, aniso);
    const Coord_grid c = xmap.coord_map(atom.coord_orth()).coord_grid();
    for (int k = 0; k < xmap.num_sym(); ++k)
      for (int t = 0; t < 7 * 7 * 7; ++t) {  // lattice shifts -3..3 along each axis
        const Coord_grid b =
            xmap.isymop(k) * p +
            Coord_grid((t % 7 - 3) * g.nu(), (t / 7 % 7 - 3) * g.nv(), (t / 49 - 3) * g.nw());
        const Coord_grid d = b - c;
        if (std::abs(d.u()) > h.u() || std::abs(d.v()) > h.v() || std::abs(d.w()) > h.w()) continue;
        const Coord_orth x(xmap.operator_grid_orth() * Vec3<double>(b.u(), b.v(), b.w()));
        sum += shape.rho(x);
        inside |= (x - atom.coord_orth()).lengthsq() < radius * radius;
      }
  }
  return mask ? (inside ? 1.0 : 0.0) : sum;
}

struct Crystal {
  const char* hm;
  Cell_descr cell;
  double dmin;
};

// Compares a map painted twice (the second time over the first) with the
// direct values at every 7th ASU point. Atoms missing a displacement,
// occupancy or position (NaN) are left out and counted, not spread as NaN
// over the map; the mask needs only the position, the aniso form paints an
// atom with only a tensor.
template <class T>
void check_xmap(const Crystal& crystal, const EDcalc_base<T>& calc, bool aniso, bool mask,
                double tolerance) {
  SCOPED_TRACE(crystal.hm);
  const Cell cell(crystal.cell);
  const Spacegroup sg{Spgr_descr(crystal.hm, Spgr_descr::HM)};
  const Grid_sampling grid(sg, cell, Resolution(crystal.dmin), 1.5);
  Xmap<T> xmap(sg, cell, grid);
  Atom_list atoms = random_atoms(cell, 8, 5), painted = atoms;
  const double nan = Util::nan();
  painted.push_back(Atom("C", Coord_orth(1.0, 2.0, 3.0), U_aniso_orth::null(), 1.0, nan));
  painted.push_back(Atom("O", Coord_orth(4.0, 2.0, 3.0), U_aniso_orth(0.2), nan, 0.2));
  painted.push_back(Atom("N", Coord_orth(3.0, 2.0, nan), U_aniso_orth::null(), 1.0, 0.2));
  painted.push_back(Atom("S", Coord_orth(2.0, 1.0, 3.0), U_aniso_orth(0.3), 1.0, nan));
  if (mask) atoms.insert(atoms.end(), painted.end() - 4, painted.end() - 2);
  if (mask || aniso) atoms.push_back(painted.back());
  EXPECT_TRUE(calc(xmap, painted));
  EXPECT_TRUE(calc(xmap, painted));
  EXPECT_EQ(calc.num_skipped(), mask ? 1 : aniso ? 3 : 4);
  const Coord_grid half = Grid_range(cell, grid, calc.radius()).max();
  double peak = 0.0, worst = 0.0;
  int n = 0, nonzero = 0;
  for (Xmap_base::Map_reference_index ix = xmap.first(); !ix.last(); ix.next()) {
    if (ix.index() % 7) continue;
    const double expected = direct_value(xmap, atoms, ix.coord(), half, calc.radius(), aniso, mask);
    peak = std::max(peak, std::fabs(expected));
    worst = std::max(worst, std::fabs(double(xmap[ix]) - expected));
    ++n;
    nonzero += expected != 0.0;
  }
  EXPECT_GT(n, 200);
  EXPECT_GT(nonzero, 20);
  EXPECT_LE(worst, tolerance * peak) << "peak " << peak;
}

TEST(EDcalc, XmapDensityEqualsDirectSumOverImages) {
  const Crystal crystals[] = {{"P 31 2 1", Cell_descr(14.0, 14.0, 17.0, 90.0, 90.0, 120.0), 1.8},
                              // b shorter than the box: periodic images within one box are summed
                              {"P 1 21 1", Cell_descr(11.0, 4.2, 9.0, 90.0, 101.0, 90.0), 1.6},
                              {"P 21 21 21", Cell_descr(12.0, 13.0, 15.0, 90.0, 90.0, 90.0), 2.0}};
  for (const Crystal& c : crystals) {
    check_xmap(c, EDcalc_iso<double>(2.5), false, false, 1e-12);
    check_xmap(c, EDcalc_aniso<double>(2.5), true, false, 1e-12);
    check_xmap(c, EDcalc_iso<float>(2.5), false, false, 2e-6);
    check_xmap(c, EDcalc_aniso<float>(2.0), true, false, 2e-6);
    check_xmap(c, EDcalc_mask<float>(2.5), false, true, 0.0);
    check_xmap(c, EDcalc_mask<double>(1.7), false, true, 0.0);
  }
}

// The box map over part of the cell, painted twice (the second time over
// the first), against the direct sum over the atoms whose box holds each
// 5th point; atoms near the box faces are painted in part. Atoms missing a
// value are left out and counted as in check_xmap.
template <class T>
void check_nxmap(const EDcalc_base<T>& calc, bool aniso, bool mask, double tolerance) {
  const Cell cell(Cell_descr(30.0, 32.0, 34.0, 80.0, 95.0, 100.0));
  Grid_sampling grid;
  static_cast<Grid&>(grid) = Grid(40, 44, 48);
  NXmap<T> nxmap(cell, grid, Grid_range(Coord_grid(3, -4, 5), Coord_grid(22, 17, 28)));
  Atom_list atoms = random_atoms(cell, 30, 9), painted = atoms;
  const double nan = Util::nan();
  painted.push_back(Atom("C", Coord_orth(6.0, 4.0, 9.0), U_aniso_orth::null(), 1.0, nan));
  painted.push_back(Atom("O", Coord_orth(9.0, 5.0, 8.0), U_aniso_orth(0.2), nan, 0.2));
  painted.push_back(Atom("N", Coord_orth(7.0, 5.0, nan), U_aniso_orth::null(), 1.0, 0.2));
  painted.push_back(Atom("S", Coord_orth(8.0, 3.0, 10.0), U_aniso_orth(0.3), 1.0, nan));
  if (mask) atoms.insert(atoms.end(), painted.end() - 4, painted.end() - 2);
  if (mask || aniso) atoms.push_back(painted.back());
  EXPECT_TRUE(calc(nxmap, painted));
  EXPECT_TRUE(calc(nxmap, painted));
  EXPECT_EQ(calc.num_skipped(), mask ? 1 : aniso ? 3 : 4);
  const double r = calc.radius();
  const Coord_grid h = Coord_map(nxmap.orth_to_grid().rot() * Vec3<double>(r, r, r)).coord_grid();
  double peak = 0.0, worst = 0.0;
  int nonzero = 0;
  for (int i = 0; i < nxmap.grid().size(); i += 5) {
    const Coord_grid p = nxmap.grid().deindex(i);
    const Coord_orth x = nxmap.coord_orth(Coord_map(p));
    double expected = 0.0;
    for (const Atom& atom : atoms) {
      const Coord_grid d = p - nxmap.coord_map(atom.coord_orth()).coord_grid();
      if (std::abs(d.u()) > h.u() || std::abs(d.v()) > h.v() || std::abs(d.w()) > h.w()) continue;
      if (!mask)
        expected += shape_of(atom, aniso).rho(x);
      else if ((x - atom.coord_orth()).lengthsq() < r * r)
        expected = 1.0;
    }
    nonzero += expected != 0.0;
    peak = std::max(peak, expected);
    worst = std::max(worst, std::fabs(double(nxmap[nxmap.index(p)]) - expected));
  }
  EXPECT_GT(nonzero, 50);
  EXPECT_LE(worst, tolerance * peak) << "peak " << peak;
}

// The aniso form paints the atoms without a tensor by their isotropic U.
TEST(EDcalc, NxmapDensityEqualsDirectSumInBox) {
  check_nxmap(EDcalc_iso<double>(2.5), false, false, 1e-12);
  check_nxmap(EDcalc_aniso<double>(2.5), true, false, 1e-12);
  check_nxmap(EDcalc_iso<float>(2.0), false, false, 2e-6);
  check_nxmap(EDcalc_aniso<float>(2.5), true, false, 2e-6);
  check_nxmap(EDcalc_mask<float>(2.5), false, true, 0.0);
  check_nxmap(EDcalc_mask<double>(1.7), false, true, 0.0);
}

// Atoms on grid points of a grid whose spacing is no binary fraction put
// many points at the radius to rounding error: each point is decided by its
// own position, the grid matrix times its coordinate, wherever its atom's
// box begins.
TEST(EDcalc, MaskDecidesEachPointByItsOwnPosition) {
  const Cell cell(Cell_descr(10.0, 11.0, 12.0, 90.0, 90.0, 90.0));
  const Spacegroup p1(Spacegroup::P1);
  const Grid_sampling grid(p1, cell, Resolution(1.4), 1.5);
  Xmap<double> map(p1, cell, grid);
  const Mat33<double>& m = map.operator_grid_orth().rot();
  int differ = 0, ones = 0, n = 0;
  for (const double steps : {2.0, 3.0, 5.0}) {
    const double radius = steps * cell.a() / grid.nu();
    const EDcalc_mask<double> mask(radius);
    for (const Coord_grid c : {Coord_grid(7, 3, 11), Coord_grid(grid.nu() - 1, 5, 2)}) {
      const Coord_orth x(m * Vec3<double>(c.u(), c.v(), c.w()));
      mask(map, {Atom("C", x, U_aniso_orth::null(), 1.0, 0.2)});
      const Coord_grid h = Grid_range(cell, grid, radius).max();
      for (int u = -h.u(); u <= h.u(); ++u)
        for (int v = -h.v(); v <= h.v(); ++v)
          for (int w = -h.w(); w <= h.w(); ++w) {
            const Coord_grid g = c + Coord_grid(u, v, w);
            const Vec3<double> d = m * Vec3<double>(g.u(), g.v(), g.w()) - x;
            const double expected = Vec3<double>::dot(d, d) < radius * radius ? 1.0 : 0.0;
            differ += map.get_data(g) != expected;
            ones += expected == 1.0;
            ++n;
          }
    }
  }
  EXPECT_EQ(differ, 0);
  EXPECT_GT(ones, 100);
  EXPECT_GT(n, 1000);
}

}  // namespace
