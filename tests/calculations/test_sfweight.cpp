// Likelihood weighting on synthetic data drawn from the Rice (acentric) and
// Woolfson (centric) distributions with known D, and finite-difference
// checks of the per-reflection targets.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <random>

#include "calculations/sfweight.h"
#include "reflections/basis_fn.h"
#include "reflections/resolution_fn.h"
#include "support/testing.h"

using namespace vantrel;
using namespace vantrel_testing;
using datatypes::ABCD;
using datatypes::E_sigE;
using datatypes::F_phi;
using datatypes::F_sigF;
using datatypes::Flag;
using datatypes::Flag_bool;
using datatypes::Phi_fom;

namespace {

// I1(x)/I0(x) from the power series of both.
double bessel_ratio(const double& x) {
  double i0 = 0.0, i1 = 0.0, term = 1.0;
  for (int k = 0; k < 400; ++k) {
    if (k > 0) term *= (x / 2.0) * (x / 2.0) / (double(k) * k);
    i0 += term;
    i1 += term * (x / 2.0) / (k + 1);
  }
  return i1 / i0;
}

// Observed and calculated structure factors with known D(h): Ec has
// <|Ec|^2> = eps, Eo = D Ec + noise with <|noise|^2> = eps (1 - D^2),
// both real along the allowed phase for centric reflections; then each
// set is put on its own resolution-dependent scale.
struct Synthetic {
  HKL_info hkls;
  HKL_data<F_sigF<double>> fo;
  HKL_data<F_phi<double>> fc;
  HKL_data<Flag> usage;
  std::function<double(double)> d_of_s;

  Synthetic(const char* hm, const Cell_descr& cell, const double& dmin,
            std::function<double(double)> d, const unsigned seed = 1)
      : hkls(Spacegroup(Spgr_descr(hm, Spgr_descr::HM)), Cell(cell), Resolution(dmin), true),
        fo(hkls), fc(hkls), usage(hkls), d_of_s(d) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> gauss(0.0, 1.0);
    const double smax = hkls.resolution().invresolsq_limit();
    for (HKL_info::HKL_reference_index ih = hkls.first(); !ih.last(); ih.next()) {
      const HKL_class cls = ih.hkl_class();
      const double eps = cls.epsilon(), D = d_of_s(ih.invresolsq() / smax);
      auto draw = [&](const double& var) {
        if (cls.centric()) return std::polar(std::sqrt(var) * gauss(rng), cls.allowed_phase());
        return std::complex<double>(gauss(rng), gauss(rng)) * std::sqrt(var / 2.0);
      };
      const std::complex<double> ec = draw(eps);
      const std::complex<double> eo = D * ec + draw(eps * (1.0 - D * D));
      const double s = ih.invresolsq();
      fo[ih] = F_sigF<double>(std::abs(eo) * 200.0 * std::exp(-4.0 * s), 0.0);
      fc[ih] = F_phi<double>(std::abs(ec) * 50.0 * std::exp(-2.5 * s), std::arg(ec));
      usage[ih] = Flag(1);
    }
  }
};

struct Outputs {
  HKL_data<F_phi<double>> fb, fd;
  HKL_data<Phi_fom<double>> phiw;
  explicit Outputs(const HKL_info& h) : fb(h), fd(h), phiw(h) {}
};

// The weighting's normalisation of one amplitude set: k(h) E^2 about 1.
struct Normalised {
  HKL_data<E_sigE<double>> e;
  BasisFn_spline basis;
  TargetFn_scaleEsq<E_sigE<double>> target;
  ResolutionFn k;
  template <class F>
  Normalised(const HKL_data<F>& f, const int& ne)
      : e(to_e(f)), basis(e, ne, 1.0), target(e),
        k(f.base_hkl_info(), basis, target, std::vector<double>(ne, 1.0)) {}
  template <class F> static HKL_data<E_sigE<double>> to_e(const HKL_data<F>& f) {
    HKL_data<E_sigE<double>> e(f.base_hkl_info());
    for (HKL_info::HKL_reference_index ih = f.first(); !ih.last(); ih.next())
      e[ih] = E_sigE<double>(f[ih].f() / std::sqrt(double(ih.hkl_class().epsilon())), 1.0);
    return e;
  }
};

TEST(SFweight, RecoversDAndVarianceWithBesselFiguresOfMerit) {
  const Synthetic d("P 21 21 21", Cell_descr(40.0, 50.0, 60.0, 90.0, 90.0, 90.0), 1.8,
                    [](double x) { return 0.9 - 0.4 * x; });
  Outputs out(d.hkls);
  SFweight_spline<double> weight(1000, 20, 24);
  EXPECT_TRUE(weight(out.fb, out.fd, out.phiw, d.fo, d.fc, d.usage));
  const int np = int(weight.params_scale().size());
  EXPECT_GE(np, 4);
  // Every reflection is used: the refinement's basis is over all of them.
  HKL_data<Flag_bool> used(d.hkls);
  for (int i = 0; i < d.hkls.num_reflections(); ++i) used[i] = Flag_bool(true);
  const BasisFn_spline basis(used, np, 1.0);
  const int ne = np >= 12 ? np : (np * 2 >= 12 ? np * 2 : np * 4);
  const Normalised no(d.fo, ne), nc(d.fc, ne);

  const double smax = d.hkls.resolution().invresolsq_limit();
  double ds = 0.0, dw = 0.0;
  int n = 0, centric = 0;
  for (HKL_info::HKL_reference_index ih = d.hkls.first(); !ih.last(); ih.next()) {
    const HKL_class cls = ih.hkl_class();
    const double D = d.d_of_s(ih.invresolsq() / smax);
    const double s = basis.f_s(ih.invresolsq(), weight.params_scale());
    const double w = basis.f_s(ih.invresolsq(), weight.params_error());
    ds += std::fabs(s - D);
    dw += std::fabs(w - (1.0 - D * D));
    const double fo = d.fo[ih].f() * std::sqrt(no.k.f(ih)), fc = d.fc[ih].f() * std::sqrt(nc.k.f(ih));
    const double x = 2.0 * s * fo * fc / (cls.epsilon_centric() * w);
    const double m = out.phiw[ih].fom();
    if (cls.centric()) {
      ASSERT_NEAR(m, std::tanh(x), 1e-9);
      ++centric;
    } else {
      ASSERT_NEAR(m, bessel_ratio(x), 5e-3) << x;
    }
    // Coefficients: phase of Fc, and fb - fd = m Fo on the observed scale.
    ASSERT_EQ(out.fb[ih].phi(), d.fc[ih].phi());
    ASSERT_EQ(out.phiw[ih].phi(), d.fc[ih].phi());
    ASSERT_NEAR(out.fb[ih].f() - out.fd[ih].f(), m * d.fo[ih].f(), 1e-9 * d.fo[ih].f() + 1e-12);
    ++n;
  }
  EXPECT_GT(n, 8000);
  EXPECT_GT(centric, 500);
  EXPECT_LT(ds / n, 0.02);
  EXPECT_LT(dw / n, 0.03);
}

TEST(SFweight, ParameterCountFromData) {
  const Synthetic d("P 1", Cell_descr(50.0, 60.0, 70.0, 90.0, 90.0, 90.0), 2.0,
                    [](double) { return 0.7; });
  ASSERT_GT(d.hkls.num_reflections(), 20000);
  const struct {
    int nobs, n_reflns, n_params, np;
  } cases[] = {{0, 1000, 20, 2}, {1500, 1000, 20, 2}, {5000, 1000, 20, 4}, {8000, 1000, 20, 7},
               {20000, 1000, 20, 14}, {1500, 1000, 0, 2}, {20000, 1000, 0, 20}, {5000, 0, 1, 1}};
  for (const auto& c : cases) {
    HKL_data<Flag> usage(d.hkls);
    for (int i = 0; i < d.hkls.num_reflections(); ++i) usage[i] = Flag(i < c.nobs ? 1 : 0);
    Outputs out(d.hkls);
    SFweight_spline<double> weight(c.n_reflns, c.n_params, 24);
    weight(out.fb, out.fd, out.phiw, d.fo, d.fc, usage);
    EXPECT_EQ(int(weight.params_scale().size()), c.np) << c.nobs << " " << c.n_params;
    // Unused reflections still get all three outputs.
    EXPECT_EQ(out.phiw.num_obs(), d.hkls.num_reflections());
  }
  EXPECT_EQ(fatal_text([] { SFweight_spline<float>(0, 0, 24); }),
            "SFweight_spline: need n_reflns >= 0, n_params >= 0, not both 0, and n_phases >= 1");
}

TEST(SFweight, MissingValuesAndStopping) {
  Synthetic d("P 21 21 21", Cell_descr(40.0, 50.0, 60.0, 90.0, 90.0, 90.0), 2.0,
              [](double) { return 0.99; });
  d.fo[3] = F_sigF<double>();
  d.fc[5] = F_phi<double>();
  Outputs out(d.hkls);
  out.fb[5] = F_phi<double>(7.0, 1.0);  // stale content is not kept
  SFweight_spline<double> weight(1000, 20, 24);
  // A near-perfect model makes the total negative; it still converges.
  EXPECT_TRUE(weight(out.fb, out.fd, out.phiw, d.fo, d.fc, d.usage));
  EXPECT_NEAR(weight.params_scale()[0], 0.99, 0.005);
  EXPECT_NEAR(weight.params_error()[0], 1.0 - 0.99 * 0.99, 0.002);
  EXPECT_EQ(out.fd[3].f(), 0.0);
  EXPECT_FALSE(out.fb[3].missing());
  EXPECT_TRUE(out.fb[5].missing() && out.fd[5].missing() && out.phiw[5].missing());

  // Unrelated amplitudes drive s towards 0 by at most a quarter per cycle:
  // no convergence in 25 cycles, yet the outputs are written.
  const Synthetic r("P 21 21 21", Cell_descr(40.0, 50.0, 60.0, 90.0, 90.0, 90.0), 2.0,
                    [](double) { return 0.0; });
  Outputs out_r(r.hkls);
  const bool converged = weight(out_r.fb, out_r.fd, out_r.phiw, r.fo, r.fc, r.usage);
  EXPECT_FALSE(converged);
  EXPECT_EQ(out_r.fb.num_obs(), r.hkls.num_reflections());
  EXPECT_LT(weight.params_scale()[0], 0.2);
}

// Central differences of the analytic derivatives.
// tol1: relative tolerance of the first derivatives. The acentric target
// takes ln I0 and I1/I0 from two separate approximations, whose mutual
// consistency is about 1e-4.
template <class F>
void check_derivatives(const F& target, const bool& with_dsw, const double& tol1 = 1e-6) {
  for (const double w : {0.3, 1.0, 4.0})
    for (const double s : {0.4, 0.9, 1.3}) {
      const auto t = target(s, w);
      const double h = 1e-5;
      const auto sp = target(s + h, w), sm = target(s - h, w);
      const auto wp = target(s, w + h), wm = target(s, w - h);
      const double scale = 1.0 + std::fabs(t.r);
      EXPECT_NEAR((sp.r - sm.r) / (2 * h), t.ds, tol1 * scale) << s << " " << w;
      EXPECT_NEAR((wp.r - wm.r) / (2 * h), t.dw, tol1 * scale) << s << " " << w;
      EXPECT_NEAR((sp.ds - sm.ds) / (2 * h), t.dss, 1e-5 * scale) << s << " " << w;
      EXPECT_NEAR((wp.dw - wm.dw) / (2 * h), t.dww, 1e-5 * scale) << s << " " << w;
      if (with_dsw) {
        EXPECT_NEAR((wp.ds - wm.ds) / (2 * h), t.dsw, 1e-5 * scale);
        EXPECT_NEAR((sp.dw - sm.dw) / (2 * h), t.dsw, 1e-5 * scale);
      } else {
        EXPECT_TRUE(std::isnan(t.dsw));
      }
    }
}

TEST(SFweight, TargetDerivativesMatchFiniteDifferences) {
  const Spacegroup sg(Spgr_descr("P 21 21 21", Spgr_descr::HM));
  const SFweight_spline<double> weight(1000, 20, 24);
  const F_sigF<double> fo(1.3, 0.2);
  const F_phi<double> fc(0.8, 0.7);
  const ABCD<double> hl(1.5, -0.8, 0.3, 0.4);
  for (const HKL& hkl : {HKL(1, 2, 3), HKL(0, 2, 3), HKL(4, 0, 0)}) {
    const HKL_class cls(sg, hkl);
    check_derivatives([&](double s, double w) { return weight.targetfn0(cls, fo, fc, s, w); }, true,
                      cls.centric() ? 1e-6 : 1e-3);
    check_derivatives([&](double s, double w) { return weight.targetfn1(cls, fo, hl, fc, s, w); },
                      false);
    check_derivatives([&](double s, double w) { return weight.targetfn2(cls, fo, hl, fc, s, w); },
                      false);
    // A variance spline at or below 0 gives large finite values, not NaN.
    const F_sigF<double> exact(1.3, 0.0);
    for (const double w : {0.0, -0.5}) {
      EXPECT_TRUE(std::isfinite(weight.targetfn0(cls, exact, fc, 0.9, w).dww));
      EXPECT_TRUE(std::isfinite(weight.targetfn1(cls, exact, hl, fc, 0.9, w).dww));
    }
  }
}

TEST(SFweight, PriorPhaseTargets) {
  const Spacegroup sg(Spgr_descr("P 21 21 21", Spgr_descr::HM));
  const SFweight_spline<double> weight(1000, 20, 24);
  const F_sigF<double> fo(1.3, 0.2);
  const ABCD<double> flat(0.0, 0.0, 0.0, 0.0);
  // A centric reflection sums over its two allowed phases only: with a
  // flat prior that is 2 cosh X, the centric target plus -ln 2.
  const HKL_class cls(sg, HKL(0, 2, 3));
  ASSERT_TRUE(cls.centric());
  const F_phi<double> fc(0.8, cls.allowed_phase());
  for (const double w : {0.2, 1.0, 3.0}) {
    const auto t0 = weight.targetfn0(cls, fo, fc, 0.9, w), t1 = weight.targetfn1(cls, fo, flat, fc, 0.9, w);
    EXPECT_NEAR(t1.r - t0.r, -std::log(2.0), 1e-12);
    EXPECT_NEAR(t1.dw, t0.dw, 1e-12);
    EXPECT_NEAR(t1.dww, t0.dww, 1e-10);
  }
  // A missing coefficient counts as 0; strong priors stay finite.
  const HKL_class acentric(sg, HKL(1, 2, 3));
  const F_phi<double> fc_a(0.8, 0.3);
  const double nan = Util::nan();
  const auto with_nan = weight.targetfn1(acentric, fo, ABCD<double>(1.0, nan, 0.5, 0.0), fc_a, 0.9, 1.0);
  const auto with_zero = weight.targetfn1(acentric, fo, ABCD<double>(1.0, 0.0, 0.5, 0.0), fc_a, 0.9, 1.0);
  EXPECT_EQ(with_nan.r, with_zero.r);
  const auto strong = weight.targetfn1(acentric, fo, ABCD<double>(5e3, 2e3, 0.0, 0.0), fc_a, 0.9, 1.0);
  EXPECT_TRUE(std::isfinite(strong.r) && std::isfinite(strong.dww));
}

// With priors from the true phases, the variance settles at 1 - D^2
// rather than running away.
TEST(SFweight, PriorPhaseWeightingConverges) {
  const Synthetic d("P 21 21 21", Cell_descr(40.0, 50.0, 60.0, 90.0, 90.0, 90.0), 2.0,
                    [](double) { return 0.8; });
  HKL_data<ABCD<double>> hl(d.hkls);
  std::mt19937 rng(3);
  std::normal_distribution<double> err(0.0, 0.5);
  for (int i = 0; i < d.hkls.num_reflections(); ++i) {
    const double phi = d.fc[i].phi() + err(rng);
    hl[i] = ABCD<double>(2.0 * std::cos(phi), 2.0 * std::sin(phi), 0.0, 0.0);
  }
  Outputs out(d.hkls);
  SFweight_spline<double> weight(1000, 20, 24);
  EXPECT_TRUE(weight(out.fb, out.fd, out.phiw, d.fo, hl, d.fc, d.usage));
  for (const double p : weight.params_error()) {
    EXPECT_GT(p, 0.1);
    EXPECT_LT(p, 1.0);
  }
  EXPECT_EQ(out.phiw.num_obs(), d.hkls.num_reflections());
}

}  // namespace
