#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "foundation/util.h"

using namespace vantrel;

namespace {

// The missing values and their test are usable in constant initialisation.
static_assert(Util::is_nan(Util::nan()) && Util::is_nan(Util::nanf()), "");
static_assert(!Util::is_nan(1.0) && !Util::is_nan(0.0f), "");

// Independent reference: power series of I0 and I1.
double series_i(int order, double x) {
  double term = order == 0 ? 1.0 : x / 2.0, sum = term;
  for (int k = 1; k < 200; ++k) {
    term *= (x * x / 4.0) / (double(k) * (k + order));
    sum += term;
  }
  return sum;
}

}  // namespace

TEST(UtilMissing, BitPatternsAndExponentTest) {
  using D = std::numeric_limits<double>;
  EXPECT_EQ(__builtin_bit_cast(std::uint32_t, Util::nanf()), 0x7fc00000u);
  EXPECT_EQ(__builtin_bit_cast(std::uint64_t, Util::nand()), 0x7ff8000000000000ull);
  EXPECT_TRUE(Util::is_nan(std::numeric_limits<float>::infinity()));
  EXPECT_FALSE(Util::is_nan(std::numeric_limits<float>::max()));
  for (double x : {-D::infinity(), -D::quiet_NaN()}) EXPECT_TRUE(Util::is_nan(x)) << x;
  for (double x : {D::max(), -D::denorm_min()}) EXPECT_FALSE(Util::is_nan(x)) << x;
}

TEST(UtilBessel, SimInverseAndI0AgreeWithSeries) {
  EXPECT_EQ(Util::sim(0.0), 0.0);
  EXPECT_NEAR(Util::sim(1.0), 0.4468, 1e-4);
  EXPECT_NEAR(Util::sim(100.0), 0.9942, 1e-4);
  EXPECT_DOUBLE_EQ(Util::sim(-2.0), -Util::sim(2.0));
  EXPECT_TRUE(Util::is_nan(Util::sim(Util::nan())));
  for (double x = 0.1; x < 20.0; x *= 1.7)
    EXPECT_NEAR(Util::sim(x), series_i(1, x) / series_i(0, x), 2e-3) << x;

  EXPECT_NEAR(Util::invsim(0.0), 0.0, 1e-9);
  EXPECT_NEAR(Util::invsim(-0.5), -1.1577, 1e-4);
  EXPECT_NEAR(Util::invsim(0.99), 56.82, 1e-2);
  for (double x = -30.0; x <= 30.0; x += 0.73)
    EXPECT_NEAR(Util::invsim(Util::sim(x)), x, 1e-9 * (1.0 + x * x)) << x;

  EXPECT_NEAR(Util::bessel_i0(3.75), 9.118946, 1e-5);
  EXPECT_NEAR(Util::bessel_i0(10.0), 2815.72, 1e-2);
  EXPECT_EQ(Util::bessel_i0(-1.0), Util::bessel_i0(1.0));
  for (double x = 0.0; x < 40.0; x += 0.61)
    EXPECT_NEAR(Util::bessel_i0(x) / series_i(0, x), 1.0, 2e-7) << x;
}

TEST(UtilBessel, DerivativesAndIntegralAgreeWithSim) {
  const double h = 1e-5;
  for (double x = -8.0; x <= 8.0; x += 0.37) {
    const double numeric = (Util::sim(x + h) - Util::sim(x - h)) / (2 * h);
    EXPECT_NEAR(Util::sim_deriv(x), numeric, 1e-8) << x;
    EXPECT_NEAR(Util::sim_deriv_recur(x), numeric, 5e-3) << x;
    const double slope = (Util::sim_integ(x + h) - Util::sim_integ(x - h)) / (2 * h);
    EXPECT_NEAR(std::abs(slope), std::abs(Util::sim(x)), 3e-3) << x;
  }
  EXPECT_NEAR(Util::sim_integ(0.0), 0.0082563, 1e-6);
  EXPECT_EQ(Util::sim_deriv_recur(0.0), 0.5);
}

TEST(UtilNumeric, BoundsAndRoots) {
  EXPECT_EQ(Util::bound(0, 5, 3), 3);
  EXPECT_EQ(Util::bound(0, -1, 3), 0);
  EXPECT_EQ(Util::bound(2, 5, 1), 1);  // the upper test wins
  EXPECT_EQ(Util::isqrt(15), 3);
  EXPECT_EQ(Util::isqrt(16), 4);
  EXPECT_EQ(Util::isqrt(2.5), 1.0);
}
