#include "reflections/datatypes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace vantrel;
using namespace vantrel::datatypes;

namespace {

// Exponent of the phase probability of an ABCD at phase phi.
double hl_exponent(const ABCD<double>& v, double phi) {
  return v.a() * std::cos(phi) + v.b() * std::sin(phi) + v.c() * std::cos(2 * phi) +
         v.d() * std::sin(2 * phi);
}

}  // namespace

TEST(Datatypes, MissingRules) {
  EXPECT_TRUE(F_sigF<float>(std::numeric_limits<float>::infinity(), 1.0f).missing());
  EXPECT_FALSE(F_sigF<float>(std::numeric_limits<float>::max(), 0.0f).missing());
  EXPECT_TRUE(ABCD<double>(1, 2, Util::nand(), 4).missing());
  EXPECT_FALSE(Flag(0).missing());
  EXPECT_TRUE(Flag().missing());
  EXPECT_TRUE(Flag_bool().missing());
}

TEST(Datatypes, PhaseShiftAndFriedel) {
  F_phi<float> v(3.0f, 0.5f);
  v.apply_friedel();
  v.apply_phase_shift(3 * Util::pi());  // not reduced into a range
  EXPECT_FLOAT_EQ(v.phi(), float(3 * Util::pi() - 0.5));
  F_phi<double> m(2.0, Util::nand());  // a missing phase stays missing
  m.apply_phase_shift(1.0);
  m.apply_friedel();
  EXPECT_TRUE(Util::is_nan(m.phi()) && m.f() == 2.0);
  // ABCD: a shift x moves the distribution, P'(phi + x) = P(phi); the
  // Friedel mate mirrors it, P'(phi) = P(-phi).
  const ABCD<double> hl(1.3, -0.4, 0.8, 2.1);
  for (double x : {0.3, -2.0, Util::pi()}) {
    ABCD<double> s = hl, f = hl;
    s.apply_phase_shift(x);
    f.apply_friedel();
    for (double phi = -3.0; phi < 3.0; phi += 0.7) {
      EXPECT_NEAR(hl_exponent(s, phi + x), hl_exponent(hl, phi), 1e-12);
      EXPECT_NEAR(hl_exponent(f, phi), hl_exponent(hl, -phi), 1e-12);
    }
  }
  ABCD<float> part(1.0f, 2.0f, Util::nanf(), 4.0f);  // neither negated nor rotated
  part.apply_friedel();
  part.apply_phase_shift(1.0);
  EXPECT_TRUE(part.b() == 2.0f && part.d() == 4.0f);
}

TEST(Datatypes, FlagImportTruncatesAndMapsNanToMissing) {
  const double inf = std::numeric_limits<double>::infinity();
  const double values[] = {3.7, -0.5, -2.9, Util::nand(), inf, 1e12, 0.0};
  const int flags[] = {3, 0, -2, -1, -1, -1, 0};
  const bool bits[] = {true, true, true, false, false, true, false};
  for (int i = 0; i < 7; ++i) {
    Flag f(7);
    Flag_bool b(!bits[i]);
    f.data_import(&values[i]);
    b.data_import(&values[i]);
    EXPECT_EQ(f.flag(), flags[i]) << values[i];
    EXPECT_EQ(b.flag(), bits[i]) << values[i];
  }
}
