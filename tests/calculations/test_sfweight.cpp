// Likelihood weighting on synthetic Rice (acentric) and Woolfson (centric)
// data with known D; finite-difference checks of the per-reflection targets.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "calculations/sfweight.h"
#include "reflections/basis_fn.h"
#include "reflections/resolution_fn.h"
#include "support/testing.h"

using namespace vantrel;
using namespace vantrel_testing;
using namespace datatypes;

namespace {

// I1(x)/I0(x) from the power series of both.
double bessel_ratio(double x) {
  double i0 = 0.0, i1 = 0.0, term = 1.0;
  for (int k = 0; k < 400; term *= (x / 2.0) * (x / 2.0) / ((k + 1.0) * (k + 1.0)), ++k) {
    i0 += term;
    i1 += term * (x / 2.0) / (k + 1);
  }
  return i1 / i0;
}

// P 21 21 21 data with known D(h): Ec has <|Ec|^2> = eps, Eo = D Ec + noise
// with <|noise|^2> = eps (1 - D^2), both along the allowed phase for centric
// reflections; then each set is put on its own resolution-dependent scale.
struct Synthetic {
  HKL_info hkls;
  HKL_data<F_sigF<double>> fo{hkls};
  HKL_data<F_phi<double>> fc{hkls};
  HKL_data<Flag> usage{hkls};
  HKL_data<F_phi<double>> fb{hkls}, fd{hkls};  // the weighting's outputs
  HKL_data<Phi_fom<double>> phiw{hkls};
  double (*d_of_s)(double);  // D of s over its limit

  Synthetic(double dmin, double (*d)(double))
      : hkls(Spacegroup(Spgr_descr("P 21 21 21", Spgr_descr::HM)),
             Cell(Cell_descr(40.0, 50.0, 60.0, 90.0, 90.0, 90.0)), Resolution(dmin), true),
        d_of_s(d) {
    std::mt19937 rng(1);
    std::normal_distribution<double> gauss(0.0, 1.0);
    const double smax = hkls.resolution().invresolsq_limit();
    for (HKL_info::HKL_reference_index ih = hkls.first(); !ih.last(); ih.next()) {
      const HKL_class cls = ih.hkl_class();
      const double eps = cls.epsilon(), D = d_of_s(ih.invresolsq() / smax), s = ih.invresolsq();
      auto draw = [&](double var) {
        if (cls.centric()) return std::polar(std::sqrt(var) * gauss(rng), cls.allowed_phase());
        return std::complex<double>(gauss(rng), gauss(rng)) * std::sqrt(var / 2.0);
      };
      const std::complex<double> ec = draw(eps), eo = D * ec + draw(eps * (1.0 - D * D));
      fo[ih] = F_sigF<double>(std::abs(eo) * 200.0 * std::exp(-4.0 * s), 0.0);
      fc[ih] = F_phi<double>(std::abs(ec) * 50.0 * std::exp(-2.5 * s), std::arg(ec));
      usage[ih] = Flag(1);
    }
  }
};

// The weighting's normalisation of one amplitude set, k(h) E^2 about 1.
struct Normalisation {
  BasisFn_spline basis;
  TargetFn_scaleEsq<E_sigE<double>> target;
  ResolutionFn k;
  Normalisation(const HKL_data<E_sigE<double>>& e, int ne)
      : basis(e, ne, 1.0),
        target(e),
        k(e.base_hkl_info(), basis, target, std::vector<double>(ne, 1.0)) {}
};

TEST(SFweight, RecoversDAndVarianceWithBesselFiguresOfMerit) {
  Synthetic d(1.8, [](double x) { return 0.9 - 0.4 * x; });
  SFweight_spline<double> weight(1000, 20, 24);
  EXPECT_TRUE(weight(d.fb, d.fd, d.phiw, d.fo, d.fc, d.usage));
  const int np = int(weight.params_scale().size());
  EXPECT_GE(np, 4);
  // The normalisations of the weighting; every reflection is used, so the
  // refinement's spline basis is over all of them, as that of eo.
  HKL_data<E_sigE<double>> eo(d.hkls), ec(d.hkls);
  for (HKL_info::HKL_reference_index ih = d.hkls.first(); !ih.last(); ih.next()) {
    const double root_eps = std::sqrt(double(ih.hkl_class().epsilon()));
    eo[ih] = E_sigE<double>(d.fo[ih].f() / root_eps, 1.0);
    ec[ih] = E_sigE<double>(d.fc[ih].f() / root_eps, 1.0);
  }
  const BasisFn_spline basis(eo, np, 1.0);
  const int ne = np >= 12 ? np : (np * 2 >= 12 ? np * 2 : np * 4);
  const Normalisation no(eo, ne), nc(ec, ne);

  const double smax = d.hkls.resolution().invresolsq_limit();
  double ds = 0.0, dw = 0.0;
  int n = 0, centric = 0;
  for (HKL_info::HKL_reference_index ih = d.hkls.first(); !ih.last(); ih.next(), ++n) {
    const HKL_class cls = ih.hkl_class();
    const double D = d.d_of_s(ih.invresolsq() / smax);
    const double s = basis.f_s(ih.invresolsq(), weight.params_scale());
    const double w = basis.f_s(ih.invresolsq(), weight.params_error());
    ds += std::fabs(s - D);
    dw += std::fabs(w - (1.0 - D * D));
    const double fo = d.fo[ih].f() * std::sqrt(no.k.f(ih)),
                 fc = d.fc[ih].f() * std::sqrt(nc.k.f(ih));
    const double x = 2.0 * s * fo * fc / (cls.epsilon_centric() * w), m = d.phiw[ih].fom();
    centric += cls.centric();
    ASSERT_NEAR(m, cls.centric() ? std::tanh(x) : bessel_ratio(x), cls.centric() ? 1e-9 : 5e-3)
        << x;
    // Coefficients: phase of Fc, and fb - fd = m Fo on the observed scale.
    ASSERT_EQ(d.fb[ih].phi(), d.fc[ih].phi());
    ASSERT_EQ(d.phiw[ih].phi(), d.fc[ih].phi());
    ASSERT_NEAR(d.fb[ih].f() - d.fd[ih].f(), m * d.fo[ih].f(), 1e-9 * d.fo[ih].f() + 1e-12);
  }
  EXPECT_GT(n, 8000);
  EXPECT_GT(centric, 500);
  EXPECT_LT(ds / n, 0.02);
  EXPECT_LT(dw / n, 0.03);
}

// Missing and unused reflections, a near-perfect model (negative target total),
// a model that cannot converge, and impossible parameter counts.
TEST(SFweight, MissingValuesAndStopping) {
  Synthetic d(2.0, [](double) { return 0.99; });
  d.fo[3] = F_sigF<double>();
  d.fc[5] = F_phi<double>();
  d.usage[7] = Flag(0);
  d.fb[5] = F_phi<double>(7.0, 1.0);  // stale content is not kept
  SFweight_spline<double> weight(1000, 20, 24);
  // A near-perfect model makes the total negative; it still converges.
  EXPECT_TRUE(weight(d.fb, d.fd, d.phiw, d.fo, d.fc, d.usage));
  EXPECT_NEAR(weight.params_scale()[0], 0.99, 0.005);
  EXPECT_NEAR(weight.params_error()[0], 1.0 - 0.99 * 0.99, 0.002);
  EXPECT_EQ(d.fd[3].f(), 0.0);
  EXPECT_FALSE(d.fb[3].missing());
  EXPECT_TRUE(d.fb[5].missing() && d.fd[5].missing() && d.phiw[5].missing());
  EXPECT_FALSE(d.fb[7].missing() || d.fd[7].missing() || d.phiw[7].missing());

  // Unrelated amplitudes drive s towards 0 by at most a quarter per cycle:
  // no convergence in 25 cycles, yet the outputs are written.
  Synthetic r(2.0, [](double) { return 0.0; });
  EXPECT_FALSE(weight(r.fb, r.fd, r.phiw, r.fo, r.fc, r.usage));
  EXPECT_EQ(r.fb.num_obs(), r.hkls.num_reflections());
  EXPECT_LT(weight.params_scale()[0], 0.2);
  EXPECT_EQ(fatal_text([] { SFweight_spline<float>(0, 0, 24); }),
            "SFweight_spline: need n_reflns >= 0, n_params >= 0, not both 0, and n_phases >= 1");
}

// The spline's parameter count from the number of used reflections: their
// count over n_reflns, or n_params, or a smooth minimum of the two (below
// both), never below 2; n_params alone when n_reflns is 0. Unused
// reflections still get all three outputs.
TEST(SFweight, ParameterCountFromData) {
  Synthetic d(1.4, [](double) { return 0.7; });
  ASSERT_GT(d.hkls.num_reflections(), 20000);
  const struct {
    int nobs, n_reflns, n_params, np;
  } cases[] = {{0, 1000, 20, 2},     {1500, 1000, 20, 2},   {5000, 1000, 20, 4},
               {8000, 1000, 20, 7},  {20000, 1000, 20, 14}, {1500, 1000, 0, 2},
               {20000, 1000, 0, 20}, {5000, 0, 1, 1}};
  for (const auto& c : cases) {
    for (int i = 0; i < d.hkls.num_reflections(); ++i) d.usage[i] = Flag(i < c.nobs ? 1 : 0);
    SFweight_spline<double> weight(c.n_reflns, c.n_params, 24);
    weight(d.fb, d.fd, d.phiw, d.fo, d.fc, d.usage);
    EXPECT_EQ(int(weight.params_scale().size()), c.np) << c.nobs << " " << c.n_params;
    EXPECT_EQ(d.phiw.num_obs(), d.hkls.num_reflections()) << c.nobs << " " << c.n_params;
  }
}

// Central differences of the analytic derivatives. tol1: relative tolerance
// of the first derivatives; the acentric target takes ln I0 and I1/I0 from
// two separate approximations, mutually consistent to about 1e-4.
template <class F> void check_derivatives(const F& target, bool with_dsw, double tol1 = 1e-6) {
  const double h = 1e-5;
  for (const double w : {0.3, 1.0, 4.0})
    for (const double s : {0.4, 0.9, 1.3}) {
      SCOPED_TRACE(testing::Message() << "s " << s << " w " << w);
      const auto t = target(s, w), sp = target(s + h, w), sm = target(s - h, w),
                 wp = target(s, w + h), wm = target(s, w - h);
      const double scale = 1.0 + std::fabs(t.r);
      const double checks[][3] = {// difference quotient, derivative, tolerance
                                  {sp.r - sm.r, t.ds, tol1},    {wp.r - wm.r, t.dw, tol1},
                                  {sp.ds - sm.ds, t.dss, 1e-5}, {wp.dw - wm.dw, t.dww, 1e-5},
                                  {wp.ds - wm.ds, t.dsw, 1e-5}, {sp.dw - sm.dw, t.dsw, 1e-5}};
      for (int k = 0; k < (with_dsw ? 6 : 4); ++k)
        EXPECT_NEAR(checks[k][0] / (2 * h), checks[k][1], checks[k][2] * scale) << k;
      EXPECT_EQ(std::isnan(t.dsw), !with_dsw);
    }
}

// The per-reflection targets: derivatives, a non-positive variance, and the
// prior-phase forms.
TEST(SFweight, TargetsOfOneReflection) {
  const Spacegroup sg(Spgr_descr("P 21 21 21", Spgr_descr::HM));
  const SFweight_spline<double> weight(1000, 20, 24);
  const F_sigF<double> fo(1.3, 0.2), exact(1.3, 0.0);
  const F_phi<double> fc(0.8, 0.7);
  const ABCD<double> hl(1.5, -0.8, 0.3, 0.4), flat(0.0, 0.0, 0.0, 0.0);
  for (const HKL& hkl : {HKL(1, 2, 3), HKL(0, 2, 3), HKL(4, 0, 0)}) {
    const HKL_class cls(sg, hkl);
    check_derivatives([&](double s, double w) { return weight.targetfn0(cls, fo, fc, s, w); }, true,
                      cls.centric() ? 1e-6 : 1e-3);
    check_derivatives([&](double s, double w) { return weight.targetfn1(cls, fo, hl, fc, s, w); },
                      false);
    check_derivatives([&](double s, double w) { return weight.targetfn2(cls, fo, hl, fc, s, w); },
                      false);
    // A variance spline at or below 0 gives large finite values, not NaN.
    for (const double w : {0.0, -0.5}) {
      EXPECT_TRUE(std::isfinite(weight.targetfn0(cls, exact, fc, 0.9, w).dww));
      EXPECT_TRUE(std::isfinite(weight.targetfn1(cls, exact, hl, fc, 0.9, w).dww));
    }
  }
  // A centric reflection sums over its two allowed phases only: with a flat
  // prior that is 2 cosh X, the centric target plus -ln 2 at every variance.
  const HKL_class centric(sg, HKL(0, 2, 3));
  ASSERT_TRUE(centric.centric());
  const F_phi<double> fc_c(0.8, centric.allowed_phase());
  for (const double w : {0.2, 1.0, 3.0})
    EXPECT_NEAR(weight.targetfn1(centric, fo, flat, fc_c, 0.9, w).r -
                    weight.targetfn0(centric, fo, fc_c, 0.9, w).r,
                -std::log(2.0), 1e-12);
  // A missing coefficient counts as 0; strong priors stay finite (log-sum-exp).
  auto target = [&](double a, double b) {
    return weight.targetfn1(HKL_class(sg, HKL(1, 2, 3)), fo, ABCD<double>(a, b, 0.5, 0.0),
                            F_phi<double>(0.8, 0.3), 0.9, 1.0);
  };
  EXPECT_EQ(target(1.0, Util::nan()).r, target(1.0, 0.0).r);
  EXPECT_TRUE(std::isfinite(target(5e3, 2e3).r) && std::isfinite(target(5e3, 2e3).dww));
}

// debug() prints, for targetfn0 and then targetfn2 in P1 at (0,0,0) (centric)
// and (1,0,0), each target on a grid of (s, w) with forward differences
// beside the analytic derivatives: checked line by line against the targets
// evaluated here.
TEST(SFweight, DebugPrintsDifferencesBesideTheDerivatives) {
  const SFweight_spline<double> weight(1000, 20, 24);
  std::ostringstream out;
  std::streambuf* const saved = std::cout.rdbuf(out.rdbuf());
  weight.debug();
  std::cout.rdbuf(saved);
  std::vector<std::string> lines;
  std::istringstream text(out.str());
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 2u * 2u * (2u + 15u * 7u));

  const Spacegroup p1(Spacegroup::P1);
  const F_sigF<double> fo(10.0, 0.0);
  const F_phi<double> fc(15.0, 0.0);
  const ABCD<double> flat(0.0, 0.0, 0.0, 0.0);
  std::size_t at = 0;
  for (int block = 0; block < 2; ++block)
    for (const HKL& hkl : {HKL(0, 0, 0), HKL(1, 0, 0)}) {
      const HKL_class cls(p1, hkl);
      auto target = [&](double s, double w) {
        return block == 0 ? weight.targetfn0(cls, fo, fc, s, w)
                          : weight.targetfn2(cls, fo, flat, fc, s, w);
      };
      EXPECT_EQ(lines[at++], "");
      EXPECT_EQ(lines[at++], hkl.h() == 0 ? "Centric? 1 epsc 2" : "Centric? 0 epsc 1");
      for (const double w : {10.0, 30.0, 90.0, 270.0, 810.0})
        for (const double s : {0.4, 0.8, 1.6}) {
          SCOPED_TRACE(testing::Message()
                       << "block " << block << " " << hkl.format() << " w " << w << " s " << s);
          const auto t = target(s, w);
          const double printed_r[4] = {t.r, target(s, w + 1e-6).r, target(s + 1e-6, w).r,
                                       target(s + 1e-6, w + 1e-6).r};
          std::istringstream head(lines[at++]);
          double pw, ps, r;
          head >> pw >> ps;
          EXPECT_EQ(pw, w);
          EXPECT_EQ(ps, s);
          for (const double want : printed_r) {
            ASSERT_TRUE(head >> r);
            EXPECT_NEAR(r, want, 1e-5 * std::fabs(want));
          }
          // Lines ds, dw, dss, dww, dsw, dsw; the second target has no dsw.
          const double derivative[6] = {t.ds, t.dw, t.dss, t.dww, t.dsw, t.dsw};
          for (int k = 0; k < 6; ++k) {
            std::istringstream row(lines[at++]);
            std::string difference, analytic;
            row >> difference >> analytic;
            if (block == 1 && k >= 4) {
              EXPECT_TRUE(std::isnan(std::stod(analytic))) << analytic;
              continue;
            }
            const double tol = 1e-3 * (1.0 + std::fabs(derivative[k]));
            EXPECT_NEAR(std::stod(analytic), derivative[k], 1e-5 * std::fabs(derivative[k])) << k;
            EXPECT_NEAR(std::stod(difference), derivative[k], tol) << k;
          }
        }
    }
}

// With priors from the true phases, the variance settles near 1 - D^2
// rather than running away (the target's c ln d term holds it).
TEST(SFweight, PriorPhaseWeightingConverges) {
  Synthetic d(2.0, [](double) { return 0.8; });
  HKL_data<ABCD<double>> hl(d.hkls);
  std::mt19937 rng(3);
  std::normal_distribution<double> err(0.0, 0.5);
  for (int i = 0; i < d.hkls.num_reflections(); ++i) {
    const double phi = d.fc[i].phi() + err(rng);
    hl[i] = ABCD<double>(2.0 * std::cos(phi), 2.0 * std::sin(phi), 0.0, 0.0);
  }
  SFweight_spline<double> weight(1000, 20, 24);
  EXPECT_TRUE(weight(d.fb, d.fd, d.phiw, d.fo, hl, d.fc, d.usage));
  for (const double p : weight.params_error()) EXPECT_TRUE(p > 0.1 && p < 1.0) << p;
  EXPECT_EQ(d.phiw.num_obs(), d.hkls.num_reflections());
}

}  // namespace
