// Main-chain frames, ideal chain extension and Ramachandran angles.
#include <gtest/gtest.h>

#include <cmath>

#include "app/main_chain.h"

using vantrel::Coord_orth;
using vantrel::Mat33;
using vantrel::RTop_orth;
using vantrel::Vec3;

namespace {

void expect_near(const Vec3<double>& a, const Vec3<double>& b, double tol) {
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k], b[k], tol) << k;
}

// A residue with ideal N-CA 1.47, CA-C 1.53 and N-CA-C 1.92 rad, CA at the
// origin, C on +x and N in the xy-plane at positive y.
const double half = 0.96;  // half the N-CA-C angle
const Ca_group ideal(Coord_orth(1.47 * std::cos(1.92), 1.47 * std::sin(1.92), 0.0),
                     Coord_orth(0.0, 0.0, 0.0), Coord_orth(1.53, 0.0, 0.0));

}  // namespace

TEST(MainChain, StandardFrameBisectsTheBondsAndIsProper) {
  const RTop_orth f = ideal.rtop_from_std_ori();
  const Mat33<double>& r = f.rot();
  // Columns: bisector, plane normal +z, and their cross product.
  expect_near(Vec3<double>(r(0, 0), r(1, 0), r(2, 0)),
              Vec3<double>(std::cos(half), std::sin(half), 0.0), 1e-12);
  expect_near(Vec3<double>(r(0, 1), r(1, 1), r(2, 1)), Vec3<double>(0.0, 0.0, 1.0), 1e-12);
  expect_near(Vec3<double>(r(0, 2), r(1, 2), r(2, 2)),
              Vec3<double>(std::sin(half), -std::cos(half), 0.0), 1e-12);
  EXPECT_NEAR(r.det(), 1.0, 1e-12);
  EXPECT_TRUE((r.transpose() * r).equals(Mat33<double>::identity(), 1e-12));
  EXPECT_EQ(f.trn(), ideal.coord_ca());
}

TEST(MainChain, BetaCarbonFrameSitsAtTheIdealBetaCarbon) {
  const Ca_group g(Coord_orth(11.2, -3.1, 4.0), Coord_orth(12.0, -2.0, 4.6),
                   Coord_orth(13.4, -2.5, 4.1));
  const RTop_orth std_frame = g.rtop_from_std_ori(), cb = g.rtop_beta_carbon();
  EXPECT_TRUE(cb.rot().equals(std_frame.rot(), 0.0));
  const Coord_orth origin = cb * Coord_orth(0.0, 0.0, 0.0);
  EXPECT_NEAR(Coord_orth::length(origin, g.coord_ca()), std::hypot(1.03, 1.11), 1e-12);
  expect_near(cb * Coord_orth(1.03, 1.11, 0.0), g.coord_ca(), 1e-12);
  // Opposite to the N/C bisector and along the negative plane normal.
  const Vec3<double> u1(std_frame.rot()(0, 0), std_frame.rot()(1, 0), std_frame.rot()(2, 0));
  const Vec3<double> u2(std_frame.rot()(0, 1), std_frame.rot()(1, 1), std_frame.rot()(2, 1));
  expect_near(origin, Vec3<double>(g.coord_ca()) - 1.03 * u1 - 1.11 * u2, 1e-12);
}

TEST(MainChain, ExtensionRoundTripsAndReadsBackItsTorsions) {
  const double angles[][2] = {{-1.05, -0.75}, {-2.4, 2.3}, {1.0, 0.4}, {3.14159, -3.1}};
  for (const auto& a : angles) {
    const double psi = a[0], phi = a[1];
    const Ca_group next = ideal.next_ca_group(psi, phi);
    Ca_chain chain;
    chain.push_back(ideal);
    chain.push_back(next);
    EXPECT_NEAR(chain.ramachandran_psi(0), psi, 1e-9);
    EXPECT_NEAR(chain.ramachandran_phi(1), phi, 1e-9);
    EXPECT_NEAR(Coord_orth::length(ideal.coord_c(), next.coord_n()), 1.32, 1e-12);
    // Omega is trans.
    EXPECT_NEAR(std::fabs(Coord_orth::torsion(ideal.coord_ca(), ideal.coord_c(), next.coord_n(),
                                              next.coord_ca())),
                M_PI, 1e-9);
    const Ca_group back = ideal.prev_ca_group(phi, psi).next_ca_group(psi, phi);
    expect_near(back.coord_n(), ideal.coord_n(), 1e-9);
    expect_near(back.coord_ca(), ideal.coord_ca(), 1e-9);
    expect_near(back.coord_c(), ideal.coord_c(), 1e-9);
  }
  Ca_chain chain;
  EXPECT_TRUE(std::isnan(chain.ramachandran_phi(0)));
  chain.push_back(ideal);
  chain.push_back(ideal.next_ca_group(1.0, -1.0));
  EXPECT_TRUE(std::isnan(chain.ramachandran_phi(0)));
  EXPECT_TRUE(std::isnan(chain.ramachandran_psi(1)));
  EXPECT_TRUE(std::isnan(chain.ramachandran_psi(-1)));
  EXPECT_TRUE(std::isnan(chain.ramachandran_phi(2)));
}

TEST(MainChain, PeptideUnitPlacesNitrogenOxygenAndNextAlpha) {
  const Coord_orth ca(0.0, 0.0, 0.0), c(1.53, 0.0, 0.0), o(2.1, 1.05, 0.3);
  const Pr_group unit(ca, c, o, Pr_group::CaCO);
  const Coord_orth n = unit.coord_n_next();
  EXPECT_NEAR(Coord_orth::length(c, n), 1.320, 5e-4);
  // In the CA-C-O plane, on the side away from O.
  const Vec3<double> normal = Vec3<double>::cross(Vec3<double>(ca - c), Vec3<double>(o - c));
  EXPECT_NEAR(Vec3<double>::dot(normal, Vec3<double>(n - c)), 0.0, 1e-12);
  EXPECT_LT(std::cos(Coord_orth::torsion(o, ca, c, n)), 0.0);
  const Coord_orth o2 = unit.coord_o();
  EXPECT_NEAR(Coord_orth::length(c, o2), 1.240, 5e-4);
  EXPECT_GT(std::cos(Coord_orth::torsion(o, ca, c, o2)), 0.99);
  const Coord_orth ca_next = unit.coord_ca_next();
  EXPECT_NEAR(Coord_orth::length(n, ca_next), 1.470, 5e-4);
  EXPECT_NEAR(std::fabs(Coord_orth::torsion(ca, c, n, ca_next)), M_PI, 1e-9);  // trans
  const RTop_orth f = unit.rtop_from_std_ori();
  expect_near(f.trn(), 0.5 * (ca + ca_next), 1e-12);
  EXPECT_NEAR(f.rot().det(), 1.0, 1e-12);
  expect_near(f * Coord_orth(0.5 * Coord_orth::length(ca, ca_next), 0.0, 0.0), ca_next, 1e-12);

  // The ideal next CA agrees with the in-plane one; walking forward twice
  // and back once returns to the first ideal unit.
  const Pr_group u1 = unit.next_pr_group(-1.1, -0.7);
  EXPECT_NEAR(Coord_orth::length(u1.coord_ca(), ca_next), 0.0, 5e-3);
  const Pr_group u2 = u1.next_pr_group(-1.2, 2.1);
  const Pr_group back = u2.prev_pr_group(2.1, -1.2);
  expect_near(back.coord_ca(), u1.coord_ca(), 1e-9);
  expect_near(back.coord_c(), u1.coord_c(), 1e-9);
  expect_near(back.coord_n_next(), u1.coord_n_next(), 1e-9);
}
