#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/message.h"
#include "maps/atomsf.h"

using namespace vantrel;

namespace {

const double kPi = Util::pi();

struct Row {
  std::string name;
  double a[6], b[5];
};

// The published table, read straight from the file the C++ table is made of.
std::vector<Row> read_table() {
  std::ifstream in(VANTREL_TEST_DATA "/../../tools/data/scattering-factors-wk1995.tsv");
  std::vector<Row> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#' || line.rfind("name", 0) == 0) continue;
    std::istringstream fields(line);
    Row r;
    fields >> r.name;
    for (double& v : r.a) fields >> v;
    for (double& v : r.b) fields >> v;
    rows.push_back(r);
  }
  return rows;
}

double five_gaussians(const Row& r, double s) {
  double f = r.a[5];
  for (int i = 0; i < 5; ++i) f += r.a[i] * std::exp(-r.b[i] * s / 4.0);
  return f;
}

TEST(AtomSF, EveryRowMatchesThePublishedTable) {
  const std::vector<Row> rows = read_table();
  ASSERT_EQ(rows.size(), std::size_t(data::sfdata_size));
  for (std::size_t r = 0; r < rows.size(); ++r) {
    EXPECT_EQ(rows[r].name, data::sfdata[r].name) << "row " << r;
    const AtomSF plain(rows[r].name, 0.0, 1.0);
    const AtomSF smeared(rows[r].name, 0.3, 0.5);
    for (double s : {0.0, 0.05, 0.25, 1.0, 4.0}) {
      const double f = five_gaussians(rows[r], s);
      EXPECT_NEAR(plain.f_iso(s), f, 1e-12 * (1.0 + std::abs(f))) << rows[r].name << " s=" << s;
      EXPECT_NEAR(smeared.f_iso(s), 0.5 * std::exp(-2.0 * kPi * kPi * 0.3 * s) * f, 1e-12)
          << rows[r].name << " s=" << s;
    }
  }
  EXPECT_NEAR(AtomSF("H", 0.5, 1.0).f_iso(0.0), 0.999978, 1e-12);
}

TEST(AtomSF, NamesAreNormalised) {
  EXPECT_EQ(AtomShapeFn::normalise_name(" fe2+ "), "Fe2+");
  EXPECT_EQ(AtomShapeFn::normalise_name("FE2+"), "Fe2+");
  EXPECT_EQ(AtomShapeFn::normalise_name("CVAL"), "Cval");
  EXPECT_EQ(AtomSF(" fe2+").f_iso(0.3), AtomSF("Fe2+").f_iso(0.3));
  EXPECT_NE(AtomSF("Fe").f_iso(0.3), AtomSF("Fe2+").f_iso(0.3));

  std::ostringstream err;
  Message::set_stream(err);
  try {
    AtomSF("fe+2");
    ADD_FAILURE() << "unknown name accepted";
  } catch (const Message_fatal& m) {
    EXPECT_EQ(m.text(), "Unknown atom type: <Fe+2>");
  }
  Message::set_stream(std::cerr);
}

TEST(AtomShapeFn, IsotropicTensorGivesTheIsotropicAtom) {
  const Coord_orth at(1.0, -2.0, 0.5);
  const AtomShapeFn iso(at, "N", 0.2, 0.9), aniso(at, "N", U_aniso_orth(0.2), 0.9);
  for (const Coord_orth x : {at, Coord_orth(1.3, -2.1, 0.9), Coord_orth(2.0, -1.0, 0.0)})
    EXPECT_NEAR(aniso.rho(x), iso.rho(x), 1e-9 * iso.rho(at));
  const Coord_reci_orth h(0.3, -0.2, 0.1);
  EXPECT_NEAR(aniso.f(h), iso.f(h), 1e-9);
}

TEST(AtomShapeFn, DegenerateWidthsGiveFiniteDensity) {
  // U = 0 leaves the constant term without width; several rows have a
  // negative width that a small U does not outweigh.
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
  Atom atom = Atom::null();
  atom.set_element("C");
  atom.set_coord_orth(Coord_orth(1, 2, 3));
  const Coord_orth x(1.2, 2.1, 3.3);
  EXPECT_EQ(AtomShapeFn(atom).rho(x), AtomShapeFn(Coord_orth(1, 2, 3), "C", 0.001, 1.0).rho(x));
  atom.set_occupancy(0.5);
  atom.set_u_iso(0.3);
  EXPECT_EQ(AtomShapeFn(atom).rho(x), AtomShapeFn(Coord_orth(1, 2, 3), "C", 0.3, 0.5).rho(x));
  const U_aniso_orth u(0.3, 0.2, 0.1, 0.0, 0.01, 0.0);
  atom.set_u_aniso_orth(u);
  EXPECT_EQ(AtomShapeFn(atom).rho(x), AtomShapeFn(Coord_orth(1, 2, 3), "C", u, 0.5).rho(x));
}

TEST(AtomShapeFn, DerivativesMatchFiniteDifferences) {
  const Coord_orth at(0.5, 0.2, -0.3), x(0.9, -0.1, 0.2);
  const std::vector<int> params = {4, 0, 1, 2, 3};  // occupancy first
  // The atom with parameter p (a selector) shifted by d.
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
  EXPECT_NEAR(grad[0], rho / 0.8, 1e-12);

  const double e = 1e-5;
  for (std::size_t k = 0; k < params.size(); ++k) {
    const AtomShapeFn up = atom_with(params[k], e), down = atom_with(params[k], -e);
    EXPECT_NEAR(grad[k], (up.rho(x) - down.rho(x)) / (2 * e), 1e-6 * rho) << k;
    std::vector<double> gu, gd;
    up.rho_grad(x, gu);
    down.rho_grad(x, gd);
    for (std::size_t l = 0; l < params.size(); ++l) {
      if ((params[k] == 3) != (params[l] == 3))
        EXPECT_TRUE(Util::is_nan(curv(k, l))) << k << "," << l;
      else
        EXPECT_NEAR(curv(k, l), (gu[l] - gd[l]) / (2 * e), 1e-5 * rho) << k << "," << l;
    }
  }

  std::ostringstream err;
  Message::set_stream(err);
  const AtomShapeFn aniso(at, "O", U_aniso_orth(0.2), 0.8);
  EXPECT_THROW(aniso.rho_grad(x, grad), Message_fatal);
  Message::set_stream(std::cerr);
  EXPECT_EQ(err.str(), "AtomShapeFn: missing method\n");
}

}  // namespace
