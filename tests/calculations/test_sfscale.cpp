// Anisotropic scaling: a planted anisotropic Gaussian is recovered exactly
// from noise-free data in all three forms.
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

// The conventional amplitude factor k exp(-2 pi^2 h^T U h).
double planted(const HKL& hkl, const Cell& cell, const U_aniso_orth& u, const double& k) {
  return k * std::exp(-Util::twopi2() * u.quad_form(hkl.coord_reci_orth(cell)));
}

void expect_tensor(const U_aniso_orth& got, const U_aniso_orth& want, const double& tol) {
  for (int i = 0; i < 3; ++i)
    for (int j = i; j < 3; ++j) EXPECT_NEAR(got(i, j), want(i, j), tol) << i << j;
}

struct Scale_data {
  Calc_model m = read_calc_model(fixture_path("calc_sm_1dur.txt"));
  HKL_info hkls;
  HKL_data<F_sigF<float>> fo;
  HKL_data<F_phi<float>> fc;
  Scale_data() {
    make_observed(m, read_fsigf(fixture_path("sm_1dur_fsigf.txt")), hkls, fo);
    fc.init(hkls, hkls.cell());
  }
};

// Orthorhombic symmetry admits only a diagonal tensor.
const U_aniso_orth kU0(0.10, 0.05, -0.08, 0.0, 0.0, 0.0);

TEST(SFscale, RecoversPlantedTensorBothWays) {
  Scale_data d;
  // Calculated amplitudes: the real ones; observed: the same under the
  // planted tensor, with a few missing and a few zero calculated values.
  HKL_data<F_sigF<float>> fo(d.hkls);
  int n = 0;
  for (HKL_info::HKL_reference_index ih = d.hkls.first(); !ih.last(); ih.next(), ++n) {
    const F_sigF<float> real = d.fo[ih];
    d.fc[ih] = F_phi<float>(real.f(), 0.1f * n);
    if (n % 50 == 0) d.fc[ih].f() = 0.0f;
    if (n % 37 != 0 && !real.missing())
      fo[ih] = F_sigF<float>(real.f() * planted(ih.hkl(), d.hkls.cell(), kU0, 2.0), 0.5f);
  }
  const HKL_data<F_sigF<float>> fo_planted(fo);
  const HKL_data<F_phi<float>> fc_start(d.fc);

  SFscale_aniso<float> scale(0.0);
  EXPECT_TRUE(scale(fo, d.fc));
  // Observed onto calculated removes the tensor: U = -2 U0 under the
  // fitted convention (twice the conventional tensor).
  expect_tensor(scale.u_aniso_orth(), U_aniso_orth(-2.0 * kU0), 1e-5);
  int checked = 0;
  for (int i = 0; i < d.hkls.num_reflections(); ++i) {
    ASSERT_EQ(fo[i].missing(), fo_planted[i].missing());
    if (fo[i].missing() || d.fc[i].f() == 0.0f) continue;
    ASSERT_NEAR(fo[i].f() / d.fc[i].f(), 1.0, 1e-4);
    ASSERT_NEAR(fo[i].sigf() / fo_planted[i].sigf(), fo[i].f() / fo_planted[i].f(), 1e-5);
    ++checked;
  }
  EXPECT_GT(checked, 3000);

  // Calculated onto observed: U = +2 U0, phases untouched.
  EXPECT_TRUE(scale(d.fc, fo_planted));
  expect_tensor(scale.u_aniso_orth(), U_aniso_orth(2.0 * kU0), 1e-5);
  for (int i = 0; i < d.hkls.num_reflections(); ++i) {
    ASSERT_EQ(d.fc[i].phi(), fc_start[i].phi());
    if (!fo_planted[i].missing() && fc_start[i].f() > 0.0f) {
      ASSERT_NEAR(d.fc[i].f() / fo_planted[i].f(), 1.0, 1e-4);
    }
  }
  EXPECT_EQ(fatal_text([&] {
              HKL_info other(d.m.spacegroup, d.m.cell, Resolution(3.0), true);
              HKL_data<F_phi<float>> fc_other(other);
              scale(fc_other, fo_planted);
            }),
            "SFscale_aniso: calculated and observed data must be over one reflection list");
}

TEST(SFscale, IsotropisingRemovesPlantedAnisotropy) {
  Scale_data d;
  // A traceless tensor on top of the data's own (nearly isotropic) fall-off.
  const U_aniso_orth u0(0.08, -0.03, -0.05, 0.0, 0.0, 0.0);
  HKL_data<F_sigF<float>> fo(d.hkls), fo_ref(d.hkls);
  SFscale_aniso<float> scale(0.0);
  fo_ref = d.fo;
  scale(fo_ref);  // the data's own anisotropy, for reference
  const U_aniso_orth own = scale.u_aniso_orth();
  for (HKL_info::HKL_reference_index ih = d.hkls.first(); !ih.last(); ih.next())
    if (!d.fo[ih].missing())
      fo[ih] = F_sigF<float>(d.fo[ih].f() * planted(ih.hkl(), d.hkls.cell(), u0, 1.0),
                             d.fo[ih].sigf());
  EXPECT_TRUE(scale(fo));
  const U_aniso_orth& u = scale.u_aniso_orth();
  EXPECT_NEAR(u(0, 0) + u(1, 1) + u(2, 2), 0.0, 1e-6);
  expect_tensor(U_aniso_orth(u + -1.0 * own), U_aniso_orth(-2.0 * u0), 4e-3);
  // The result is the isotropised data of the unplanted set.
  double worst = 0.0;
  for (HKL_info::HKL_reference_index ih = fo.first_data(); !ih.last(); fo.next_data(ih))
    if (fo_ref[ih].f() > 0.0f) worst = std::max(worst, std::fabs(fo[ih].f() / fo_ref[ih].f() - 1.0));
  EXPECT_LT(worst, 0.02);
}

}  // namespace
