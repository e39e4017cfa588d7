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

// A few atoms of several elements at random positions, half of them with
// anisotropic tensors; the first sits on a two-fold axis of P 31 2 1.
Atom_list random_atoms(const Cell& cell, const int& n, const unsigned& seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const char* elements[] = {"C", "N", "O", "S", "Fe"};
  Atom_list atoms;
  for (int i = 0; i < n; ++i) {
    const Coord_frac f = i == 0 ? Coord_frac(0.3, 0.0, 1.0 / 3.0)
                                : Coord_frac(unit(rng), unit(rng), unit(rng));
    const double u = 0.1 + 0.3 * unit(rng);
    const U_aniso_orth uaniso =
        i % 2 ? U_aniso_orth(u, 1.3 * u, 0.8 * u, 0.2 * u, -0.1 * u, 0.05 * u) : U_aniso_orth::null();
    atoms.push_back(Atom(elements[i % 5], f.coord_orth(cell), uaniso, 0.5 + 0.5 * unit(rng), u));
  }
  return atoms;
}

// The painted value expected at grid point p: every atom's density (or
// mask) over each symmetry image and lattice translation of p that falls
// in the atom's box, the box being the half-widths h around the atom's
// nearest grid point. Operators fixing p count once each, as in the crystal.
AtomShapeFn shape_of(const Atom& atom, const bool& aniso) {
  if (aniso && !atom.u_aniso_orth().is_null())
    return AtomShapeFn(atom.coord_orth(), atom.element(), atom.u_aniso_orth(), atom.occupancy());
  return AtomShapeFn(atom.coord_orth(), atom.element(), atom.u_iso(), atom.occupancy());
}

double direct_value(const Xmap_base& xmap, const Atom_list& atoms, const Coord_grid& p,
                    const Coord_grid& h, const double& radius, const bool& aniso, const bool& mask) {
  const Grid_sampling& g = xmap.grid_sampling();
  double sum = 0.0;
  bool inside = false;
  for (const Atom& atom : atoms) {
    const AtomShapeFn shape = shape_of(atom, aniso);
    const Coord_grid c = xmap.coord_map(atom.coord_orth()).coord_grid();
    for (int k = 0; k < xmap.num_sym(); ++k) {
      const Coord_grid b0 = xmap.isymop(k) * p;
      for (int tu = -3; tu <= 3; ++tu)
        for (int tv = -3; tv <= 3; ++tv)
          for (int tw = -3; tw <= 3; ++tw) {
            const Coord_grid b = b0 + Coord_grid(tu * g.nu(), tv * g.nv(), tw * g.nw());
            const Coord_grid d = b - c;
            if (std::abs(d.u()) > h.u() || std::abs(d.v()) > h.v() || std::abs(d.w()) > h.w())
              continue;
            const Coord_orth x(xmap.operator_grid_orth() * Vec3<double>(b.u(), b.v(), b.w()));
            sum += shape.rho(x);
            const Vec3<double> r = x - atom.coord_orth();
            if (Vec3<double>::dot(r, r) < radius * radius) inside = true;
          }
    }
  }
  return mask ? (inside ? 1.0 : 0.0) : sum;
}

struct Crystal {
  const char* hm;
  Cell_descr cell;
  double dmin;
};

// Compares a painted map with the direct values at every 7th ASU point.
template <class T>
void check_xmap(const Crystal& crystal, const EDcalc_base<T>& calc, const bool& aniso,
                const bool& mask, const double& tolerance) {
  const Cell cell(crystal.cell);
  const Spacegroup sg{Spgr_descr(crystal.hm, Spgr_descr::HM)};
  const Grid_sampling grid(sg, cell, Resolution(crystal.dmin), 1.5);
  Xmap<T> xmap(sg, cell, grid);
  const Atom_list atoms = random_atoms(cell, 8, 5);
  EXPECT_TRUE(calc(xmap, atoms));
  EXPECT_EQ(calc.num_skipped(), 0);
  const Grid_range box(cell, grid, calc.radius());
  double peak = 0.0, worst = 0.0;
  int n = 0, nonzero = 0;
  for (Xmap_base::Map_reference_index ix = xmap.first(); !ix.last(); ix.next()) {
    if (ix.index() % 7) continue;
    const double expected = direct_value(xmap, atoms, ix.coord(), box.max(), calc.radius(), aniso, mask);
    peak = std::max(peak, std::fabs(expected));
    worst = std::max(worst, std::fabs(double(xmap[ix]) - expected));
    ++n;
    if (expected != 0.0) ++nonzero;
  }
  EXPECT_GT(n, 200) << crystal.hm;
  EXPECT_GT(nonzero, 20) << crystal.hm;
  EXPECT_LE(worst, tolerance * peak) << crystal.hm << " peak " << peak;
}

const Crystal kCrystals[] = {
    {"P 31 2 1", Cell_descr(14.0, 14.0, 17.0, 90.0, 90.0, 120.0), 1.8},
    // b shorter than the box: periodic images within one box are summed
    {"P 1 21 1", Cell_descr(11.0, 4.2, 9.0, 90.0, 101.0, 90.0), 1.6},
    {"P 21 21 21", Cell_descr(12.0, 13.0, 15.0, 90.0, 90.0, 90.0), 2.0},
};

TEST(EDcalc, XmapDensityEqualsDirectSumOverImages) {
  for (const Crystal& c : kCrystals) {
    check_xmap(c, EDcalc_iso<double>(2.5), false, false, 1e-12);
    check_xmap(c, EDcalc_aniso<double>(2.5), true, false, 1e-12);
    check_xmap(c, EDcalc_iso<float>(2.5), false, false, 2e-6);
    check_xmap(c, EDcalc_aniso<float>(2.0), true, false, 2e-6);
    check_xmap(c, EDcalc_mask<float>(2.5), false, true, 0.0);
    check_xmap(c, EDcalc_mask<double>(1.7), false, true, 0.0);
  }
}

TEST(EDcalc, NxmapDensityEqualsDirectSumInBox) {
  const Cell cell(Cell_descr(30.0, 32.0, 34.0, 80.0, 95.0, 100.0));
  Grid_sampling grid;
  static_cast<Grid&>(grid) = Grid(40, 44, 48);
  // A box over part of the cell: atoms near its faces are painted in part.
  NXmap<double> nxmap(cell, grid, Grid_range(Coord_grid(3, -4, 5), Coord_grid(22, 17, 28)));
  const Atom_list atoms = random_atoms(cell, 30, 9);
  const Coord_grid half =
      Coord_map(nxmap.orth_to_grid().rot() * Vec3<double>(2.5, 2.5, 2.5)).coord_grid();
  const Grid& g = nxmap.grid();
  for (const bool aniso : {false, true}) {
    if (aniso)
      EDcalc_aniso<double>(2.5)(nxmap, atoms);
    else
      EDcalc_iso<double>(2.5)(nxmap, atoms);
    double peak = 0.0, worst = 0.0;
    int painted = 0;
    for (int i = 0; i < g.size(); i += 5) {
      const Coord_grid p(i / (g.nv() * g.nw()), (i / g.nw()) % g.nv(), i % g.nw());
      double expected = 0.0;
      for (const Atom& atom : atoms) {
        const Coord_grid d = p - nxmap.coord_map(atom.coord_orth()).coord_grid();
        if (std::abs(d.u()) <= half.u() && std::abs(d.v()) <= half.v() && std::abs(d.w()) <= half.w())
          expected += shape_of(atom, aniso).rho(nxmap.coord_orth(Coord_map(p)));
      }
      if (expected != 0.0) ++painted;
      peak = std::max(peak, expected);
      worst = std::max(worst, std::fabs(nxmap[nxmap.index(p)] - expected));
    }
    EXPECT_GT(painted, 200);
    EXPECT_LE(worst, 1e-12 * peak);
  }
}

// Atoms without a position, occupancy or displacement are left out and
// counted; an atom with only a tensor still paints.
TEST(EDcalc, SkipsAtomsWithMissingValues) {
  const Cell cell(Cell_descr(14.0, 14.0, 17.0, 90.0, 90.0, 120.0));
  const Spacegroup sg{Spgr_descr("P 31 2 1", Spgr_descr::HM)};
  const Grid_sampling grid(sg, cell, Resolution(2.0), 1.5);
  const Atom_list good = random_atoms(cell, 6, 3);
  Atom_list bad = good;
  const double nan = Util::nan();
  bad.push_back(Atom("C", Coord_orth(1.0, 2.0, 3.0), U_aniso_orth::null(), 1.0, nan));
  bad.push_back(Atom("O", Coord_orth(4.0, 2.0, 3.0), U_aniso_orth(0.2), nan, 0.2));
  bad.push_back(Atom("N", Coord_orth(nan, 2.0, 3.0), U_aniso_orth::null(), 1.0, 0.2));
  bad.push_back(Atom("N", Coord_orth(3.0, 2.0, nan), U_aniso_orth::null(), 1.0, 0.2));
  Xmap<float> ref(sg, cell, grid), map(sg, cell, grid);
  const EDcalc_iso<float> iso(2.5);
  iso(ref, good);
  iso(map, bad);
  EXPECT_EQ(iso.num_skipped(), 4);
  int n = 0;
  for (Xmap_base::Map_reference_index ix = map.first(); !ix.last(); ix.next(), ++n)
    ASSERT_EQ(map[ix], ref[ix]);
  EXPECT_GT(n, 1000);
  // The aniso form paints the atom whose tensor is present though its
  // isotropic U is missing.
  const EDcalc_aniso<float> aniso(2.5);
  aniso(map, bad);
  EXPECT_EQ(aniso.num_skipped(), 4);
  Atom_list tensor_only{Atom("O", Coord_orth(4.0, 2.0, 3.0), U_aniso_orth(0.2), 1.0, nan)};
  aniso(map, tensor_only);
  EXPECT_EQ(aniso.num_skipped(), 0);
  EXPECT_GT(map.get_data(map.coord_map(Coord_orth(4.0, 2.0, 3.0)).coord_grid()), 1.0f);
  // An empty list clears the map.
  aniso(map, Atom_list());
  for (Xmap_base::Map_reference_index ix = map.first(); !ix.last(); ix.next())
    ASSERT_EQ(map[ix], 0.0f);
}

}  // namespace
