// Anisotropic scaling: a planted anisotropic Gaussian is recovered exactly
// from noise-free data, observed onto calculated and back.
#include <gtest/gtest.h>

#include <cmath>

#include "calc_fixture.h"
#include "calculations/sfscale.h"
#include "support/testing.h"

using namespace vantrel;
using namespace vantrel_testing;
using datatypes::F_phi;
using datatypes::F_sigF;

namespace {

void expect_tensor(const U_aniso_orth& got, const U_aniso_orth& want, double tol) {
  for (int i = 0; i < 3; ++i)
    for (int j = i; j < 3; ++j) EXPECT_NEAR(got(i, j), want(i, j), tol) << i << j;
}

// Calculated amplitudes: the 1DUR observations; observed: the same times
// 2 exp(-2 pi^2 h^T U0 h) (orthorhombic, so U0 diagonal), a few missing and
// a few zero calculated values. The fitted tensor is twice the conventional one.
TEST(SFscale, RecoversPlantedTensorBothWays) {
  const Calc_model m = read_calc_model(fixture_path("calc_sm_1dur.txt"));
  HKL_info hkls;
  HKL_data<F_sigF<float>> obs;
  make_observed(m, read_fsigf(fixture_path("sm_1dur_fsigf.txt")), hkls, obs);
  const U_aniso_orth u0(0.10, 0.05, -0.08, 0.0, 0.0, 0.0);
  HKL_data<F_sigF<float>> fo(hkls);
  HKL_data<F_phi<float>> fc(hkls);
  int n = 0;
  for (HKL_info::HKL_reference_index ih = hkls.first(); !ih.last(); ih.next(), ++n) {
    const double k =
        2.0 * std::exp(-Util::twopi2() * u0.quad_form(ih.hkl().coord_reci_orth(m.cell)));
    fc[ih] = F_phi<float>(n % 50 ? obs[ih].f() : 0.0f, 0.1f * n);
    if (n % 37 != 0 && !obs[ih].missing()) fo[ih] = F_sigF<float>(obs[ih].f() * k, 0.5f);
  }
  const HKL_data<F_sigF<float>> fo_planted(fo);
  const HKL_data<F_phi<float>> fc_start(fc);

  SFscale_aniso<float> scale(0.0);
  EXPECT_TRUE(scale(fo, fc));  // observed onto calculated: U = -2 U0
  expect_tensor(scale.u_aniso_orth(), U_aniso_orth(-2.0 * u0), 1e-5);
  int checked = 0;
  for (int i = 0; i < hkls.num_reflections(); ++i) {
    ASSERT_EQ(fo[i].missing(), fo_planted[i].missing());
    if (fo[i].missing() || fc[i].f() == 0.0f) continue;
    ASSERT_NEAR(fo[i].f() / fc[i].f(), 1.0, 1e-4);
    ASSERT_NEAR(fo[i].sigf() / fo_planted[i].sigf(), fo[i].f() / fo_planted[i].f(), 1e-5);
    ++checked;
  }
  EXPECT_GT(checked, 3000);

  EXPECT_TRUE(scale(fc, fo_planted));  // calculated onto observed: U = +2 U0, phases kept
  expect_tensor(scale.u_aniso_orth(), U_aniso_orth(2.0 * u0), 1e-5);
  for (int i = 0; i < hkls.num_reflections(); ++i) {
    ASSERT_EQ(fc[i].phi(), fc_start[i].phi());
    if (fo_planted[i].missing() || fc_start[i].f() == 0.0f) continue;
    ASSERT_NEAR(fc[i].f() / fo_planted[i].f(), 1.0, 1e-4);
  }
  HKL_info other(m.spacegroup, m.cell, Resolution(3.0), true);
  HKL_data<F_phi<float>> fc_other(other);
  EXPECT_EQ(fatal_text([&] { scale(fc_other, fo_planted); }),
            "SFscale_aniso: calculated and observed data must be over one reflection list");
}

}  // namespace
