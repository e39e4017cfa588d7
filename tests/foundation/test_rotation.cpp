#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "foundation/rotation.h"

using namespace vantrel;
using V = Vec3<double>;
using M = Mat33<double>;

namespace {

const double kPi = Util::pi();

M rz(double a) { return M(std::cos(a), -std::sin(a), 0, std::sin(a), std::cos(a), 0, 0, 0, 1); }
M ry(double a) { return M(std::cos(a), 0, std::sin(a), 0, 1, 0, -std::sin(a), 0, std::cos(a)); }

void expect_quaternion(const Rotation& r, double w, double x, double y, double z) {
  const double got[] = {r.w(), r.x(), r.y(), r.z()}, want[] = {w, x, y, z};
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(got[i], want[i], 1e-15) << r.format();
}

}  // namespace

TEST(Rotation, NormHalfTurnMatricesAndText) {
  expect_quaternion(Rotation(1e-7, 0, 0, 0).norm(), 1, 0, 0, 0);
  expect_quaternion(Rotation(1, 1, 1, 1).norm(), 0.5, 0.5, 0.5, 0.5);
  expect_quaternion(Rotation(M(1, 0, 0, 0, -1, 0, 0, 0, -1)), 0, 1, 0, 0);
  expect_quaternion(Rotation(M(-1, 0, 0, 0, 1, 0, 0, 0, -1)), 0, 0, 1, 0);
  expect_quaternion(Rotation(M(-1, 0, 0, 0, -1, 0, 0, 0, 1)), 0, 0, 0, 1);
  EXPECT_EQ(Rotation().format(), "Quaternion wxyz = (     1,     0,     0,     0)");
  EXPECT_EQ(Euler_ccp4(kPi / 2, 0, -kPi / 4).format(), "Euler = (    90,     0,   -45)");
  EXPECT_EQ(Polar_ccp4(kPi / 3, kPi, 2 * kPi / 3).format(), "Polar = (    60,   180,   120)");
}

TEST(Rotation, MatrixRoundTrips) {
  std::mt19937 gen(7);
  std::normal_distribution<double> g;
  for (int i = 0; i < 300; ++i) {
    // Every tenth one close to a half turn (w tiny), where accuracy is hard.
    Rotation r(i % 10 ? g(gen) : 1e-5 * g(gen), g(gen), g(gen), g(gen));
    r.norm();
    const M m = r.matrix();
    // Diagonal terms are summed left to right: 1 - 2y^2 - 2z^2, to the last bit.
    EXPECT_EQ(m(0, 0), 1.0 - 2.0 * r.y() * r.y() - 2.0 * r.z() * r.z()) << i;
    EXPECT_EQ(m(2, 2), 1.0 - 2.0 * r.x() * r.x() - 2.0 * r.y() * r.y()) << i;
    const Rotation back(m);
    EXPECT_TRUE(back.matrix().equals(m, 1e-14));  // so back is r or -r
    // w is kept positive away from half turns.
    EXPECT_TRUE(m(0, 0) + m(1, 1) + m(2, 2) + 1.0 <= 1e-8 || back.w() > 0.0) << i;
  }
}

TEST(Rotation, CompositionAppliesTheLeftOperandFirst) {
  const Rotation a(Euler_ccp4(0.3, 1.0, -0.5)), b(Polar_ccp4(0.8, 2.0, 1.2));
  EXPECT_TRUE((a * b).matrix().equals(b.matrix() * a.matrix(), 1e-14));
}

TEST(Rotation, PolarAngles) {
  EXPECT_NEAR(Rotation(0, 0, 0, 1).polar_ccp4().kappa(), kPi, 1e-15);
  EXPECT_EQ(Rotation(-1, 0, 0, 0).polar_ccp4().kappa(), 0.0);
  EXPECT_TRUE(Rotation(Polar_ccp4(0, 0, 1.3)).matrix().equals(rz(1.3), 1e-15));
  for (double omega : {0.2, 1.0, 2.9})
    for (double phi : {-2.5, 0.4, 3.0})
      for (double kappa : {0.1, 2.0, 4.5}) {
        const Rotation q(Polar_ccp4(omega, phi, kappa));
        const Polar_ccp4 p = q.polar_ccp4();
        EXPECT_NEAR(p.omega(), omega, 1e-12);
        EXPECT_NEAR(p.phi(), phi, 1e-12);
        EXPECT_NEAR(p.kappa(), kappa, 1e-12);
        // The axis stays fixed and the trace gives the angle.
        const V axis(std::sin(omega) * std::cos(phi), std::sin(omega) * std::sin(phi),
                     std::cos(omega));
        const M m = q.matrix();
        EXPECT_TRUE((m * axis).equals(axis, 1e-14));
        EXPECT_NEAR(m(0, 0) + m(1, 1) + m(2, 2), 1 + 2 * std::cos(kappa), 1e-14);
      }
}

TEST(Rotation, EulerAngles) {
  for (double alpha : {-3.0, 0.0, 0.5, 2.8})
    for (double beta : {0.05, 0.9, 3.1})
      for (double gamma : {-2.2, 0.0, 3.1}) {
        const Rotation q(Euler_ccp4(alpha, beta, gamma));
        EXPECT_TRUE(q.matrix().equals(rz(alpha) * ry(beta) * rz(gamma), 1e-14));
        const Euler_ccp4 e = q.euler_ccp4();
        EXPECT_NEAR(e.alpha(), alpha, 1e-10);
        EXPECT_NEAR(e.beta(), beta, 1e-12);
        EXPECT_NEAR(e.gamma(), gamma, 1e-10);
      }
  // At beta 0 or pi, alpha is 0 and gamma carries the shared angle.
  for (double beta : {0.0, kPi, 1e-6, kPi - 1e-6})
    for (double alpha : {-2.5, 3.0})
      for (double gamma : {-1.0, 2.9}) {
        const Rotation q(Euler_ccp4(alpha, beta, gamma));
        const Euler_ccp4 e = q.euler_ccp4();
        EXPECT_EQ(e.alpha(), 0.0);
        EXPECT_LE(std::fabs(e.gamma()), kPi);
        EXPECT_TRUE(Rotation(e).matrix().equals(q.matrix(), 1e-5)) << beta;
      }
}
