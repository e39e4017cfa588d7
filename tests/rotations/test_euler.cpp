// The 24 Euler-angle conventions: an independent fixture, round trips down
// to gimbal lock, frame reversal, the gimbal split and the CCP4 forms.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <sstream>
#include <utility>

#include "rotations/euler.h"
#include "support/testing.h"

using namespace vantrel;
using M = Mat33<double>;
using Angles = std::array<double, 3>;

namespace {

const double kPi = Util::pi();

template <int N> Angles angles(const Euler<N>& e) { return {e.alpha(), e.beta(), e.gamma()}; }

// The members of Euler<N> reached through a run-time N.
struct Convention_ops {
  Rotation (*compose)(const Angles&);
  Angles (*extract)(const Rotation&);
  String (*format)(const Angles&);
  int first, third;
};

template <int N> Convention_ops ops_of() {
  int first, second, third, frame;
  Euler<N>::params(first, second, third, frame);
  return {[](const Angles& a) { return Euler<N>(a[0], a[1], a[2]).rotation(); },
          [](const Rotation& r) { return angles(Euler<N>(r)); },
          [](const Angles& a) { return Euler<N>(a[0], a[1], a[2]).format(); }, first, third};
}

template <std::size_t... I> std::array<Convention_ops, 24> all_ops(std::index_sequence<I...>) {
  return {ops_of<I>()...};
}
const std::array<Convention_ops, 24> kOps = all_ops(std::make_index_sequence<24>());
bool proper(int n) { return kOps[n].first == kOps[n].third; }

void expect_angles(const Angles& got, const Angles& want, double tol, const std::string& what) {
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], want[i], tol) << what << " angle " << i;
}

std::array<double, 4> wxyz(const Rotation& q) { return {q.w(), q.x(), q.y(), q.z()}; }

// Extracted angles lie in their ranges and give back the rotation's matrix.
void expect_round_trip(int n, const Rotation& r, double tol) {
  const Convention_ops& op = kOps[n];
  const Angles a = op.extract(r);
  EXPECT_TRUE(std::fabs(a[0]) <= kPi && std::fabs(a[2]) <= kPi) << n << " " << op.format(a);
  EXPECT_TRUE(proper(n) ? a[1] >= 0.0 && a[1] <= kPi : std::fabs(a[1]) <= kPi / 2)
      << n << " " << a[1];
  EXPECT_TRUE(op.compose(a).matrix().equals(r.matrix(), tol))
      << "N=" << n << " " << r.format() << " -> " << op.format(a);
}

}  // namespace

// Matrices and texts from tools/make_euler_fixtures.py, which turns vectors
// about the fixed or carried-along axes with Rodrigues' formula.
TEST(Euler, AgreesWithIndependentMatricesAndTexts) {
  std::ifstream in = vantrel_testing::open_fixture("euler_conventions.txt");
  std::string numbers, text;
  int records = 0, exact_angles = 0;
  while (std::getline(in, numbers) && std::getline(in, text)) {
    std::istringstream s(numbers);
    int n;
    Angles a;
    double m[9];
    s >> n >> a[0] >> a[1] >> a[2];
    for (double& v : m) s >> v;
    ASSERT_TRUE(s && n >= 0 && n < 24) << numbers;
    const M want(m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8]);
    const Convention_ops& op = kOps[n];
    EXPECT_TRUE(op.compose(a).matrix().equals(want, 1e-14)) << numbers;
    EXPECT_EQ(op.format(a), text);
    expect_round_trip(n, Rotation(want), 1e-13);
    // Away from gimbal lock the angles themselves come back.
    if ((proper(n) ? std::fabs(std::sin(a[1])) : std::fabs(std::cos(a[1]))) > 1e-4) {
      expect_angles(op.extract(Rotation(want)), a, 1e-12, numbers);
      ++exact_angles;
    }
    ++records;
  }
  EXPECT_EQ(records, 24 * 12);
  EXPECT_EQ(exact_angles, 24 * 9);
}

TEST(Euler, RoundTripsRandomAndNearGimbalRotations) {
  std::mt19937 gen(17);
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> angle(-kPi, kPi);
  int checked = 0;
  for (int n = 0; n < 24; ++n) {
    for (int i = 0; i < 300; ++i, ++checked)
      expect_round_trip(n, Rotation(normal(gen), normal(gen), normal(gen), normal(gen)).norm(),
                        1e-13);
    // beta at and around gimbal lock, from 1e-2 down to the last bit.
    const double locks[2] = {proper(n) ? 0.0 : -kPi / 2, proper(n) ? kPi : kPi / 2};
    for (const double lock : locks)
      for (int k = 2; k <= 17; ++k)
        for (const double side : {-1.0, 1.0}) {
          const double beta = lock + side * (k == 17 ? 0.0 : std::pow(10.0, -k));
          const Rotation r = kOps[n].compose({angle(gen), beta, angle(gen)});
          // Inside the proper Euler band the first angle is set to 0, which
          // moves the rotation by up to about sin(beta).
          const bool band = proper(n) && std::fabs(std::sin(beta)) <= 1e-4;
          expect_round_trip(n, r, band ? 4.0 * std::fabs(std::sin(beta)) + 1e-13 : 1e-12);
          ++checked;
        }
  }
  EXPECT_EQ(checked, 24 * (300 + 64));
}

TEST(Euler, StaticTriplesAreReversedRotatingTriples) {
  const std::pair<int, int> partners[12] = {{1, 22},  {3, 2},   {5, 4},   {7, 8},
                                            {9, 6},   {11, 10}, {13, 12}, {15, 16},
                                            {17, 14}, {19, 18}, {21, 20}, {23, 0}};
  // A general triple, and each kind of gimbal lock.
  const Angles cases[] = {
      {0.3, 1.1, -2.0}, {0.0, kPi / 2, 0.7}, {0.5, 0.0, 1.0}, {1.2, -kPi / 2, -0.4}};
  for (const auto& [s, r] : partners)
    for (const Angles& a : cases) {
      const Rotation qs = kOps[s].compose(a), qr = kOps[r].compose({a[2], a[1], a[0]});
      for (int i = 0; i < 4; ++i) EXPECT_NEAR(wxyz(qs)[i], wxyz(qr)[i], 1e-15) << s << "/" << r;
      const Angles from_s = kOps[s].extract(qs), from_r = kOps[r].extract(qs);
      expect_angles(from_r, {from_s[2], from_s[1], from_s[0]}, 1e-12,
                    std::to_string(s) + "/" + std::to_string(r));
    }
}

TEST(Euler, HandWorkedRotationsAndTheGimbalSplit) {
  for (int n = 0; n < 24; ++n) {
    const Angles a = kOps[n].extract(Rotation());
    expect_angles(a, {0, 0, 0}, 0.0, "identity");
    EXPECT_EQ(kOps[n].format(a).substr(9), " = (     0,     0,     0)") << n;
  }
  // Euler<0> (x, y, z rotating) with (pi/2, pi/2, 0) sends z to x and x to y.
  const M m = Euler<0>(kPi / 2, kPi / 2, 0).rotation().matrix();
  EXPECT_TRUE(m.equals(M(0, 0, 1, 1, 0, 0, 0, 1, 0), 1e-15));
  // Gimbal lock: the angle applied first is 0 and the other carries the turn.
  auto again = [](int n, const Angles& a) { return kOps[n].extract(kOps[n].compose(a)); };
  expect_angles(again(18, {0.3, 0, 0.5}), {0, 0, 0.8}, 1e-15, "ZXZr");
  expect_angles(again(19, {0.3, 0, 0.5}), {0.8, 0, 0}, 1e-15, "ZXZs");
  expect_angles(again(0, {0.3, kPi / 2, 0.5}), {0, kPi / 2, 0.8}, 1e-15, "XYZr");
  expect_angles(again(1, {0.3, -kPi / 2, 0.5}), {0.8, -kPi / 2, 0}, 1e-15, "XYZs");
}

TEST(Euler, AgreesWithCcp4EulerAndPolarForms) {
  for (const Angles& a : {Angles{0.3, 1.0, -0.5}, Angles{-2.0, 2.8, 3.0}, Angles{1.5, 0.01, 0.2}}) {
    const Rotation ccp4(Euler_ccp4(a[0], a[1], a[2]));
    EXPECT_EQ(wxyz(Euler<20>(a[0], a[1], a[2]).rotation()), wxyz(ccp4));
    const Euler_ccp4 e = ccp4.euler_ccp4();
    expect_angles(kOps[20].extract(ccp4), {e.alpha(), e.beta(), e.gamma()}, 1e-14, "ccp4");
  }
  // A polar turn about a coordinate axis is a single Euler turn about it.
  const Polar_ccp4 axes[3] = {{kPi / 2, 0, 1.1}, {kPi / 2, kPi / 2, 1.1}, {0, 0, 1.1}};
  for (int n = 0; n < 24; ++n)
    EXPECT_TRUE(
        kOps[n].compose({1.1, 0, 0}).matrix().equals(Rotation(axes[kOps[n].first]).matrix(), 1e-15))
        << n;
}

TEST(Euler, RoundingPastUnitLengthGivesNoNan) {
  // sin(beta) just above 1: a half turn's quaternion scaled past unit length.
  const double s = 1.0 + 4e-16;
  const Rotation r(s * std::cos(kPi / 4), 0, s * std::sin(kPi / 4), 0);
  for (int n = 0; n < 24; ++n) {
    for (double v : kOps[n].extract(r)) EXPECT_FALSE(std::isnan(v)) << n;
    expect_round_trip(n, Rotation(r).norm(), 1e-13);
  }
  EXPECT_TRUE(std::isnan(kOps[0].extract(Rotation(Util::nan(), 0, 0, 0))[1]));
}
