#include "maps_testing.h"

#include "maps/atomsf.h"

using namespace vantrel;

namespace {

// An oblique cell with a fine grid (about 0.33 A): aliasing and the density
// cut-off stay far below the tolerance.
const Cell cell(Cell_descr(16.0, 17.0, 18.0, 80.0, 95.0, 105.0));
const Grid_sampling fine_grid = maps_testing::sampling(48, 54, 54);

// The atom's density at every point of a P1 map, summed over lattice images
// within 6.5 A.
Xmap<float> paint(const AtomShapeFn& atom, const Coord_frac& position) {
  Xmap<float> map(Spacegroup(Spacegroup::P1), cell, fine_grid);
  for (auto ix = map.first(); !ix.last(); ix.next()) {
    Coord_frac d = ix.coord().coord_frac(fine_grid) - position;
    d = Coord_frac(d.u() - std::rint(d.u()), d.v() - std::rint(d.v()), d.w() - std::rint(d.w()));
    double rho = 0.0;
    for (Coord_grid c(0, 0, 0); c.u() < 3; c.next(Grid(3, 3, 3))) {
      const Coord_orth delta = (d + Coord_frac(c.u() - 1, c.v() - 1, c.w() - 1)).coord_orth(cell);
      if (delta.lengthsq() < 6.5 * 6.5) rho += atom.rho(position.coord_orth(cell) + delta);
    }
    map[ix] = float(rho);
  }
  return map;
}

// f(s) = sum a_i exp(-b_i s / 4) + c from the published table, the file the
// C++ table is made of; U and occupancy scale it.
TEST(AtomSF, EveryRowMatchesThePublishedTable) {
  std::ifstream in =
      vantrel_testing::open_fixture("../../tools/data/scattering-factors-wk1995.tsv");
  std::string line, name;
  for (int i = 0; i < 3; ++i) std::getline(in, line);  // comments and column names
  int rows = 0;
  for (double a[6], b[5]; in >> name; ++rows) {
    for (double& x : a) in >> x;
    for (double& x : b) in >> x;
    ASSERT_LT(rows, data::sfdata_size);
    EXPECT_EQ(name, data::sfdata[rows].name) << "row " << rows;
    const AtomSF plain(name, 0.0, 1.0), smeared(name, 0.3, 0.5);
    for (double s : {0.0, 0.05, 0.25, 1.0, 4.0}) {
      double f = a[5];
      for (int i = 0; i < 5; ++i) f += a[i] * std::exp(-b[i] * s / 4.0);
      EXPECT_NEAR(plain.f_iso(s), f, 1e-12 * (1.0 + std::abs(f))) << name << " s=" << s;
      EXPECT_NEAR(smeared.f_iso(s), 0.5 * std::exp(-2.0 * Util::pi() * Util::pi() * 0.3 * s) * f,
                  1e-12)
          << name << " s=" << s;
    }
  }
  EXPECT_EQ(rows, data::sfdata_size);
  EXPECT_NEAR(AtomSF("H", 0.5, 1.0).f_iso(0.0), 0.999978, 1e-12);
}

TEST(AtomSF, NamesAreNormalised) {
  EXPECT_EQ(AtomShapeFn::normalise_name(" fe2+ "), "Fe2+");
  EXPECT_EQ(AtomShapeFn::normalise_name("FE2+"), "Fe2+");
  EXPECT_EQ(AtomShapeFn::normalise_name("CVAL"), "Cval");
  EXPECT_EQ(AtomSF(" fe2+").f_iso(0.3), AtomSF("Fe2+").f_iso(0.3));
  EXPECT_NE(AtomSF("Fe").f_iso(0.3), AtomSF("Fe2+").f_iso(0.3));
  EXPECT_EQ(maps_testing::fatal_text([] { AtomSF("fe+2"); }), "Unknown atom type: <Fe+2>");
}

// U = 0 leaves the constant term without width; several rows have a negative
// width that a small U does not outweigh; a zero tensor has no inverse.
TEST(AtomShapeFn, DegenerateWidthsGiveFiniteDensity) {
  for (const data::SFData& row : data::sfdata)
    for (double u : {0.0, 0.001}) {
      const AtomSF atom(row.name, u, 1.0);
      for (double rsq : {0.0, 1e-4, 0.5})
        EXPECT_TRUE(std::isfinite(atom.rho_iso(rsq))) << row.name << " U=" << u;
    }
  const AtomSF zero_tensor("C", U_aniso_orth(0.0), 1.0);
  EXPECT_TRUE(std::isfinite(zero_tensor.rho_aniso(Coord_orth(0.0, 0.0, 0.0))));
  EXPECT_TRUE(std::isfinite(zero_tensor.rho_iso(0.0)));
}

TEST(AtomShapeFn, FromAtomFillsMissingValues) {
  const Coord_orth at(1, 2, 3), x(1.2, 2.1, 3.3);
  Atom atom = Atom::null();
  atom.set_element("C");
  atom.set_coord_orth(at);
  EXPECT_EQ(AtomShapeFn(atom).rho(x), AtomShapeFn(at, "C", 0.001, 1.0).rho(x));
  atom.set_occupancy(0.5);
  atom.set_u_iso(0.3);
  EXPECT_EQ(AtomShapeFn(atom).rho(x), AtomShapeFn(at, "C", 0.3, 0.5).rho(x));
  const U_aniso_orth u(0.3, 0.2, 0.1, 0.0, 0.01, 0.0);
  atom.set_u_aniso_orth(u);
  EXPECT_EQ(AtomShapeFn(atom).rho(x), AtomShapeFn(at, "C", u, 0.5).rho(x));
}

TEST(AtomShapeFn, DerivativesMatchFiniteDifferences) {
  const Coord_orth at(0.5, 0.2, -0.3), x(0.9, -0.1, 0.2);
  const std::vector<int> params = {4, 0, 1, 2, 3};  // occupancy, x, y, z, U
  // The atom with parameter p shifted by d.
  auto atom_with = [&](int p, double d) {
    Coord_orth c = at;
    if (p < 3) c[p] += d;
    AtomShapeFn a(c, "O", 0.25 + (p == 3) * d, 0.8 + (p == 4) * d);
    a.gradient_params() = params;
    return a;
  };
  const AtomShapeFn atom = atom_with(0, 0.0);
  std::vector<double> grad;
  Matrix<double> curv(5, 5);
  double rho = 0.0;
  ASSERT_TRUE(atom.rho_curv(x, rho, grad, curv));
  EXPECT_DOUBLE_EQ(rho, atom.rho(x));
  const double e = 1e-5;
  for (std::size_t k = 0; k < params.size(); ++k) {
    const AtomShapeFn up = atom_with(params[k], e), down = atom_with(params[k], -e);
    EXPECT_NEAR(grad[k], (up.rho(x) - down.rho(x)) / (2 * e), 1e-6 * rho) << k;
    std::vector<double> gu, gd;
    up.rho_grad(x, gu);
    down.rho_grad(x, gd);
    for (std::size_t l = 0; l < params.size(); ++l) {
      if ((params[k] == 3) != (params[l] == 3))  // mixed U terms are not computed
        EXPECT_TRUE(Util::is_nan(curv(k, l))) << k << "," << l;
      else
        EXPECT_NEAR(curv(k, l), (gu[l] - gd[l]) / (2 * e), 1e-5 * rho) << k << "," << l;
    }
  }
  const AtomShapeFn aniso(at, "O", U_aniso_orth(0.2), 0.8);
  EXPECT_EQ(maps_testing::fatal_text([&] { aniso.rho_grad(x, grad); }),
            "AtomShapeFn: missing method");
}

// The transform of the density painted from one atom is f(h) exp(2 pi i h.x);
// at h = 0 it is the integral of the density.
TEST(AtomDensityTransform, PaintedAtomGivesItsScatteringFactor) {
  const HKL_info hkls(Spacegroup(Spacegroup::P1), cell, Resolution(1.8), true);
  ASSERT_GT(hkls.num_reflections(), 1000);
  const Coord_frac at_c(0.31, 0.62, 0.13), at_fe(0.77, 0.05, 0.48);
  const U_aniso_orth u_fe(0.30, 0.18, 0.24, 0.05, -0.03, 0.02);
  const std::pair<AtomShapeFn, Coord_frac> atoms[] = {
      {AtomShapeFn(at_c.coord_orth(cell), "C", 0.25, 0.8), at_c},
      {AtomShapeFn(at_fe.coord_orth(cell), "Fe2+", u_fe, 1.0), at_fe}};
  for (const auto& [atom, x] : atoms) {
    const Xmap<float> map = paint(atom, x);
    HKL_data<datatypes::F_phi<float>> fphi(hkls);
    map.fft_to(fphi);
    double worst = 0.0;
    for (auto ih = hkls.first(); !ih.last(); ih.next()) {
      const HKL& h = ih.hkl();
      const double phase = Util::twopi() * (h.h() * x.u() + h.k() * x.v() + h.l() * x.w());
      const std::complex<double> got = std::polar(double(fphi[ih].f()), double(fphi[ih].phi()));
      worst = std::max(worst, std::abs(got - std::polar(atom.f(h.coord_reci_orth(cell)), phase)));
    }
    EXPECT_LT(worst, 1e-4);
    double sum = 0.0;
    for (auto ix = map.first(); !ix.last(); ix.next()) sum += map[ix];
    EXPECT_NEAR(sum * cell.volume() / fine_grid.size(), atom.f(Coord_reci_orth(0, 0, 0)), 1e-3);
  }
}

}  // namespace
