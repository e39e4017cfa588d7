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

// The members of Euler<N> reached through a run-time N.
struct Convention_ops {
  Rotation (*compose)(const Angles&);
  Angles (*extract)(const Rotation&);
  String (*format)(const Angles&);
  int first;
  bool proper;
};

template <int N>
Convention_ops ops_of() {
  int first, second, third, frame;
  Euler<N>::params(first, second, third, frame);
  return {[](const Angles& a) { return Euler<N>(a[0], a[1], a[2]).rotation(); },
          [](const Rotation& r) {
            const Euler<N> e(r);
            return Angles{e.alpha(), e.beta(), e.gamma()};
          },
          [](const Angles& a) { return Euler<N>(a[0], a[1], a[2]).format(); }, first,
          first == third};
}

template <std::size_t... I>
std::array<Convention_ops, 24> all_ops(std::index_sequence<I...>) {
  return {ops_of<I>()...};
}
const std::array<Convention_ops, 24> kOps = all_ops(std::make_index_sequence<24>());

bool near_gimbal(const Convention_ops& op, double beta, double band) {
  return op.proper ? std::fabs(std::sin(beta)) <= band : std::fabs(std::cos(beta)) <= band;
}

void expect_angles(const Angles& got, const Angles& want, double tol, const std::string& what) {
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], want[i], tol) << what << " angle " << i;
}

// Extracted angles lie in their ranges and give back the rotation's matrix.
void expect_round_trip(int n, const Rotation& r, double tol) {
  const Convention_ops& op = kOps[n];
  const Angles a = op.extract(r);
  EXPECT_LE(std::fabs(a[0]), kPi) << n;
  EXPECT_LE(std::fabs(a[2]), kPi) << n;
  if (op.proper) {
    EXPECT_TRUE(a[1] >= 0.0 && a[1] <= kPi) << n << " " << a[1];
  } else {
    EXPECT_LE(std::fabs(a[1]), kPi / 2) << n;
  }
  EXPECT_TRUE(op.compose(a).matrix().equals(r.matrix(), tol))
      << "N=" << n << " " << r.format() << " -> " << op.format(a);
}

}  // namespace

// Matrices from tools/make_euler_fixtures.py, which turns vectors about the
// fixed or carried-along axes with Rodrigues' formula.
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
    const Rotation from_matrix(want);
    expect_round_trip(n, from_matrix, 1e-13);
    if (!near_gimbal(op, a[1], 1e-4)) {
      expect_angles(op.extract(from_matrix), a, 1e-12, numbers);
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
    for (int i = 0; i < 300; ++i) {
      Rotation r(normal(gen), normal(gen), normal(gen), normal(gen));
      expect_round_trip(n, r.norm(), 1e-13);
      ++checked;
    }
    // beta at and around gimbal lock, from 1e-2 down to the last bit.
    const double locks[2] = {kOps[n].proper ? 0.0 : -kPi / 2, kOps[n].proper ? kPi : kPi / 2};
    for (const double lock : locks)
      for (int k = 2; k <= 17; ++k)
        for (const double side : {-1.0, 1.0}) {
          const double beta = lock + side * (k == 17 ? 0.0 : std::pow(10.0, -k));
          const Rotation r = kOps[n].compose({angle(gen), beta, angle(gen)});
          // Inside the proper Euler band the first angle is set to 0, which
          // moves the rotation by up to about sin(beta).
          const bool band = kOps[n].proper && std::fabs(std::sin(beta)) <= 1e-4;
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
  const Angles cases[] = {{0.3, 1.1, -2.0},
                          {-2.9, 0.2, 1.4},
                          {0.0, kPi / 2, 0.7},
                          {0.5, 0.0, 1.0},
                          {1.2, -kPi / 2, -0.4}};
  for (const auto& [s, r] : partners)
    for (const Angles& a : cases) {
      const Angles reversed{a[2], a[1], a[0]};
      const Rotation qs = kOps[s].compose(a), qr = kOps[r].compose(reversed);
      EXPECT_NEAR(qs.w(), qr.w(), 1e-15);
      EXPECT_NEAR(qs.x(), qr.x(), 1e-15);
      EXPECT_NEAR(qs.y(), qr.y(), 1e-15);
      EXPECT_NEAR(qs.z(), qr.z(), 1e-15);
      const Angles from_s = kOps[s].extract(qs), from_r = kOps[r].extract(qs);
      expect_angles(from_r, {from_s[2], from_s[1], from_s[0]}, 1e-12,
                    std::to_string(s) + "/" + std::to_string(r));
    }
}

TEST(Euler, HandWorkedRotations) {
  for (int n = 0; n < 24; ++n) {
    const Angles a = kOps[n].extract(Rotation());
    expect_angles(a, {0, 0, 0}, 0.0, "identity");
    EXPECT_EQ(kOps[n].format(a).substr(9), " = (     0,     0,     0)") << n;
  }
  EXPECT_EQ(Euler<0>(0.3, 0, -2.5).format(), "EulerXYZr = (17.1887,     0,-143.239)");
  EXPECT_EQ(Euler<21>(0, kPi / 2, kPi).format(), "EulerZYZs = (     0,    90,   180)");
  const Rotation q = Euler<1>(kPi / 2, 0, 0).rotation();
  EXPECT_NEAR(q.w(), std::cos(kPi / 4), 1e-16);
  EXPECT_NEAR(q.x(), std::sin(kPi / 4), 1e-16);
  EXPECT_EQ(q.y(), 0.0);
  EXPECT_EQ(q.z(), 0.0);

  const Rotation about_x(std::cos(0.05), std::sin(0.05), 0, 0);
  expect_angles(kOps[0].extract(about_x), {0.1, 0, 0}, 1e-15, "Euler<0>");
  expect_angles(kOps[1].extract(about_x), {0.1, 0, 0}, 1e-15, "Euler<1>");
  expect_angles(kOps[23].extract(about_x), {0, 0, 0.1}, 1e-15, "Euler<23>");
  const Euler<20> about_y(Rotation(std::cos(0.25), 0, std::sin(0.25), 0));
  expect_angles({about_y.alpha(), about_y.beta(), about_y.gamma()}, {0, 0.5, 0}, 1e-15,
                "Euler<20>");

  // A column of R1(a) R2(b) R3(c) worked by hand: Euler<0> (x, y, z rotating)
  // with (pi/2, pi/2, 0) sends z to x and x to y.
  const M m = Euler<0>(kPi / 2, kPi / 2, 0).rotation().matrix();
  EXPECT_TRUE(m.equals(M(0, 0, 1, 1, 0, 0, 0, 1, 0), 1e-15));

  // Gimbal lock: the angle applied first is 0 and the other carries the turn.
  expect_angles(kOps[18].extract(Rotation(std::cos(0.4), 0, 0, std::sin(0.4))), {0, 0, 0.8}, 1e-15,
                "ZXZr");
  expect_angles(kOps[19].extract(Rotation(std::cos(0.4), 0, 0, std::sin(0.4))), {0.8, 0, 0}, 1e-15,
                "ZXZs");
  expect_angles(kOps[0].extract(kOps[0].compose({0.3, kPi / 2, 0.5})), {0, kPi / 2, 0.8}, 1e-15,
                "XYZr");
  expect_angles(kOps[1].extract(kOps[1].compose({0.3, -kPi / 2, 0.5})), {0.8, -kPi / 2, 0}, 1e-15,
                "XYZs");
}

TEST(Euler, AgreesWithCcp4EulerAndPolarForms) {
  for (const Angles& a : {Angles{0.3, 1.0, -0.5}, Angles{-2.0, 2.8, 3.0}, Angles{1.5, 0.01, 0.2}}) {
    const Rotation ccp4(Euler_ccp4(a[0], a[1], a[2]));
    const Rotation ours = Euler<20>(a[0], a[1], a[2]).rotation();
    EXPECT_EQ(ours.w(), ccp4.w());
    EXPECT_EQ(ours.x(), ccp4.x());
    EXPECT_EQ(ours.y(), ccp4.y());
    EXPECT_EQ(ours.z(), ccp4.z());
    const Euler_ccp4 e = ccp4.euler_ccp4();
    expect_angles(kOps[20].extract(ccp4), {e.alpha(), e.beta(), e.gamma()}, 1e-14, "ccp4");
  }
  // A polar turn about a coordinate axis is a single Euler turn about it.
  const Polar_ccp4 axes[3] = {{kPi / 2, 0, 1.1}, {kPi / 2, kPi / 2, 1.1}, {0, 0, 1.1}};
  for (int n = 0; n < 24; ++n) {
    const Rotation single = kOps[n].compose({1.1, 0, 0});
    const Rotation polar(axes[kOps[n].first]);
    EXPECT_TRUE(single.matrix().equals(polar.matrix(), 1e-15)) << n;
  }
}

TEST(Euler, RoundingPastUnitLengthGivesNoNan) {
  // sin(beta) just above 1: a half turn's quaternion scaled past unit length.
  const double s = 1.0 + 4e-16;
  const Rotation r(s * std::cos(kPi / 4), 0, s * std::sin(kPi / 4), 0);
  for (int n = 0; n < 24; ++n) {
    const Angles a = kOps[n].extract(r);
    for (double v : a) EXPECT_FALSE(std::isnan(v)) << n;
    expect_round_trip(n, Rotation(r).norm(), 1e-13);
  }
  const Angles a = kOps[0].extract(Rotation(Util::nan(), 0, 0, 0));
  EXPECT_TRUE(std::isnan(a[1]));
}
