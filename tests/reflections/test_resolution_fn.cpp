#include "reflections/resolution_fn.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>

#include "reflections/conversions.h"
#include "reflist_fixture.h"

using namespace vantrel;
using namespace vantrel::datatypes;

namespace {

typedef HKL_info::HKL_reference_index HRI;
typedef std::vector<double> Params;

const HKL_info& monoclinic() {
  static const HKL_info list(Spacegroup(Spgr_descr("P 2yb", Spgr_descr::Hall)),
                             Cell(Cell_descr(30, 40, 50, 90, 105, 90)), Resolution(2.5), true);
  return list;
}

// Random amplitudes F1, and F2 = F1 sqrt(g) for a planted function g of the
// reflection: g is the scale that the F1/F2 targets fit.
template <class G> void plant(G g, HKL_data<F_phi<float>>& f1, HKL_data<F_sigF<double>>& f2) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> amplitude(10.0f, 100.0f);
  for (HRI ih = monoclinic().first(); !ih.last(); ih.next()) {
    const float f = amplitude(random);
    f1[ih] = F_phi<float>(f, 0.0f);
    f2[ih] = F_sigF<double>(f * std::sqrt(g(ih)), 1.0);
  }
}

// A real data set with 57 zero amplitudes, on a list that holds all its rows.
struct Real_data {
  Real_data() {
    const Reflist_block b = read_reflist_fixture("sm_1dur_fsigf.txt", 2).at(0);
    const std::vector<Reflist_block::Row>& rows = b.tables.at("n");
    double smax = 0.0;
    for (const Reflist_block::Row& r : rows) smax = std::max(smax, r.hkl.invresolsq(b.unit_cell()));
    list.init(b.spacegroup(), b.unit_cell(), Resolution(0.9999 / std::sqrt(smax)), true);
    fsigf.init(list, list.cell());
    for (const Reflist_block::Row& r : rows)
      if (!fsigf.set_data(r.hkl, F_sigF<float>(r.v[0], r.v[1]))) ADD_FAILURE() << r.hkl.format();
    e.init(list, list.cell());
    e.compute(fsigf, Compute_EsigE_from_FsigF<float>());
  }
  HKL_info list;
  HKL_data<F_sigF<float>> fsigf;
  HKL_data<E_sigE<float>> e;
};

const Real_data& real_data() {
  static const Real_data data;
  return data;
}

double weight(const HRI& ih) { return 2.0 / ih.hkl_class().epsilon_centric(); }

bool all_finite(const Params& v) {
  return std::none_of(v.begin(), v.end(), [](double x) { return Util::is_nan(x); });
}

// Derivatives of a basis at p against central differences of its value and
// first derivatives.
template <class F> void expect_derivatives(F fderiv, const Params& p) {
  const BasisFn_base::Fderiv d = fderiv(p);
  const double h = 1e-6;
  for (size_t j = 0; j < p.size(); ++j) {
    Params lo = p, hi = p;
    lo[j] -= h;
    hi[j] += h;
    const BasisFn_base::Fderiv a = fderiv(lo), b = fderiv(hi);
    EXPECT_NEAR(d.df[j], (b.f - a.f) / (2 * h), 1e-6) << j;
    for (size_t k = 0; k < p.size(); ++k)
      EXPECT_NEAR(d.df2(j, k), (b.df[k] - a.df[k]) / (2 * h), 1e-6) << j << " " << k;
  }
}

}  // namespace

TEST(BasisFn, SplineWeightsAtKnotPositions) {
  const HKL_info& list = monoclinic();
  const int n = 6;
  const BasisFn_spline spline(list, n, 1.0);
  Resolution_ordinal ordinal;
  ordinal.init(list, 1.0);
  // The weights (df) at the 1/d^2 where n ordinal(s) = x, found by
  // bisection on the monotone ordinal.
  auto df_at = [&](double x) {
    double lo = list.invresolsq_range().min(), hi = list.invresolsq_range().max();
    for (int it = 0; it < 200; ++it) {
      const double mid = 0.5 * (lo + hi);
      (n * ordinal.ordinal(mid) < x ? lo : hi) = mid;
    }
    return spline.fderiv_s(lo, Params(n, 0.0)).df;
  };
  const std::vector<std::pair<double, Params>> cases = {
      {2.5, {0, 0.125, 0.75, 0.125, 0, 0}},  // t = 0
      {3.0, {0, 0, 0.5, 0.5, 0, 0}},         // knot boundary, t = -0.5
      {0.5, {0.875, 0.125, 0, 0, 0, 0}},     // first knot folds in p_im
      {5.5, {0, 0, 0, 0, 0.125, 0.875}}};
  for (const auto& c : cases) {
    const Params df = df_at(c.first);
    for (int j = 0; j < n; ++j) EXPECT_NEAR(df[j], c.second[j], 1e-9) << c.first << " " << j;
  }
  // The weights sum to 1 everywhere, the ends included.
  for (HRI ih = list.first(); !ih.last(); ih.next())
    ASSERT_NEAR(spline.f(ih.hkl(), list.cell(), Params(n, 1.0)), 1.0, 1e-12);
}

TEST(BasisFn, OrdinalPowerAndBinner) {
  const HKL_info& list = monoclinic();
  Resolution_ordinal o1, o2;
  o1.init(list, 1.0);
  o2.init(list, 2.0);
  const double lo = list.invresolsq_range().min(), hi = list.invresolsq_range().max();
  for (const double frac : {0.1, 0.35, 0.6, 0.9}) {
    // Power 1: the fraction of reflections below s, to the bin width.
    const double s = lo + frac * (hi - lo);
    int below = 0;
    for (int i = 0; i < list.num_reflections(); ++i) below += list.invresolsq(i) < s;
    EXPECT_NEAR(o1.ordinal(s), double(below) / list.num_reflections(), 2e-3);
    // Power 2: every table entry is the square root (exact at bin edges).
    const double edge = lo + (std::floor(1000 * frac) + 1e-9) * (hi - lo) / 1000.0;
    EXPECT_NEAR(o2.ordinal(edge), std::sqrt(o1.ordinal(edge)), 1e-6);
  }
  const BasisFn_binner binner(list, 4, 1.0);
  const Params p = {10, 20, 30, 40};
  EXPECT_TRUE(binner.f_s(lo, p) == 10.0 && binner.f_s(hi, p) == 40.0);
  EXPECT_EQ(binner.f_s(10.0 * hi, p), 40.0);
  const BasisFn_base::Fderiv& fd = binner.fderiv_s(0.5 * (lo + hi), p);
  EXPECT_EQ(fd.df[0] + fd.df[1] + fd.df[2] + fd.df[3], 1.0);
  EXPECT_EQ(fd.f, p[fd.df[1] == 1.0 ? 1 : 2]);
  // A negative power makes the foot of the table infinite; that ordinal
  // falls in bin 0 instead of an undefined integer conversion.
  EXPECT_EQ(BasisFn_binner(list, 3, -1.0).f_s(lo, {3, 5, 7}), 3.0);
  EXPECT_EQ(BasisFn_spline(list, 3, -1.0).f_s(lo, {3, 5, 7}), 3.0);
}

TEST(BasisFn, GaussianFormsAndTheirDerivatives) {
  const double s = 0.04;
  const Coord_reci_orth c(0.1, -0.2, 0.3);
  const BasisFn_gaussian gauss;
  const BasisFn_expcubic expcubic;
  const BasisFn_aniso_gaussian aniso;
  const BasisFn_log_aniso_gaussian log_aniso;
  expect_derivatives([&](const Params& p) { return gauss.fderiv_s(s, p); }, {0.3, 2.0});
  expect_derivatives([&](const Params& p) { return expcubic.fderiv_s(s, p); }, {0.5, 2, 3, 4});
  expect_derivatives([&](const Params& p) { return aniso.fderiv_coord(c, p); },
                     {0.2, 2, 3, 4, 0.5, 0.6, 0.7});
  // The values themselves: exp(p0 - p1 s) and exp(p0 - p1 s + p2 s^2 - p3 s^3).
  EXPECT_DOUBLE_EQ(gauss.fderiv_s(s, {0.3, 2.0}).f, std::exp(0.3 - 2.0 * s));
  EXPECT_DOUBLE_EQ(expcubic.fderiv_s(s, {0.5, 2, 3, 4}).f,
                   std::exp(0.5 - 2 * s + 3 * s * s - 4 * s * s * s));
  // The anisotropic forms agree with each other and with p0 - 2 pi^2 s^T U s.
  const Params p = {1.5, 2, 3, 4, 5, 6, 7};
  const double lf = log_aniso.fderiv_coord(c, p).f;
  EXPECT_DOUBLE_EQ(std::exp(lf), aniso.fderiv_coord(c, p).f);
  EXPECT_NEAR(lf, 1.5 - Util::twopi2() * log_aniso.u_aniso_orth(p).quad_form(c), 1e-12);
  EXPECT_EQ(log_aniso.fderiv_coord(Coord_reci_orth(0, 0, 0), p).df, Params({1, 0, 0, 0, 0, 0, 0}));
  // U = p / 2 pi^2 to the last digit (a reciprocal factor differs for 0.33).
  EXPECT_EQ(aniso.u_aniso_orth({0, 0.33, 0, 0, 0, 0, 0}).mat00(), 0.33 / Util::twopi2());
}

TEST(ResolutionFn, RecoversPlantedScales) {
  const HKL_info& list = monoclinic();
  HKL_data<F_phi<float>> f1(list);
  HKL_data<F_sigF<double>> f2(list);
  const TargetFn_scaleF1F2<F_phi<float>, F_sigF<double>> target(f1, f2);
  const TargetFn_scaleLogF1F2<F_phi<float>, F_sigF<double>> log_target(f1, f2);
  // Isotropic; the logarithmic form is linear: one Newton step, exact.
  const double scale = 2.5, u = 0.3;
  plant([&](const HRI& ih) { return scale * std::exp(-Util::twopi2() * u * ih.invresolsq()); }, f1,
        f2);
  f1[5].f() = 0.0f;  // a zero amplitude counts as missing
  const BasisFn_gaussian gauss;
  const BasisFn_log_gaussian log_gauss;
  const ResolutionFn_nonlinear fit(list, gauss, target, {0.0, 0.0});
  const ResolutionFn log_fit(list, log_gauss, log_target, {});
  EXPECT_NEAR(gauss.scale(fit.params()), scale, 1e-5);
  EXPECT_NEAR(gauss.u_iso(fit.params()), u, 1e-5);
  EXPECT_NEAR(log_gauss.scale(log_fit.params()), scale, 1e-6);
  EXPECT_NEAR(log_gauss.u_iso(log_fit.params()), u, 1e-6);
  const double ascale = 0.7;
  const U_aniso_orth ua(0.30, 0.20, 0.45, 0.05, -0.04, 0.03);
  plant(
      [&](const HRI& ih) {
        return ascale *
               std::exp(-Util::twopi2() * ua.quad_form(ih.hkl().coord_reci_orth(list.cell())));
      },
      f1, f2);
  const BasisFn_aniso_gaussian aniso;
  const BasisFn_log_aniso_gaussian log_aniso;
  const ResolutionFn_nonlinear afit(list, aniso, target, {0.0});
  const ResolutionFn log_afit(list, log_aniso, log_target, {});
  for (const U_aniso_orth& fitted :
       {aniso.u_aniso_orth(afit.params()), log_aniso.u_aniso_orth(log_afit.params())})
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) EXPECT_NEAR(fitted(i, j), ua(i, j), 1e-5);
  EXPECT_NEAR(aniso.scale(afit.params()), ascale, 1e-5);
  EXPECT_NEAR(log_aniso.scale(log_afit.params()), ascale, 1e-5);
}

TEST(ResolutionFn, ScalesRealNormalisedIntensitiesToOne) {
  const Real_data& data = real_data();
  const HKL_data<E_sigE<float>>& e = data.e;
  const BasisFn_spline spline(e, 10, 2.0);
  const TargetFn_scaleEsq<E_sigE<float>> target(e);
  const ResolutionFn fit(data.list, spline, target, Params(10, 1.0));
  ASSERT_TRUE(all_finite(fit.params()));  // the 57 zero amplitudes count as missing
  // Overall the weighted mean of g E^2 is exactly 1 (constants lie in the
  // spline's span); shell by shell it is 1 to within the spline's freedom.
  const int shells = 8;
  Params sum(shells, 0.0), wsum(shells, 0.0);
  Resolution_ordinal ordinal;
  ordinal.init(e, data.list.cell(), 1.0);
  for (HRI ih = data.list.first(); !ih.last(); ih.next()) {
    if (e[ih].missing() || e[ih].E() == 0) continue;
    const int shell = std::min(shells - 1, int(shells * ordinal.ordinal(ih.invresolsq())));
    sum[shell] += weight(ih) * fit.f(ih) * e[ih].E() * e[ih].E();
    wsum[shell] += weight(ih);
  }
  for (int k = 0; k < shells; ++k) EXPECT_NEAR(sum[k] / wsum[k], 1.0, 0.05) << "shell " << k;
  EXPECT_NEAR(
      std::accumulate(sum.begin(), sum.end(), 0.0) / std::accumulate(wsum.begin(), wsum.end(), 0.0),
      1.0, 1e-9);
}

TEST(ResolutionFn, MeanFnthAndDamping) {
  const Real_data& data = real_data();
  const BasisFn_spline spline(data.fsigf, 6, 1.0);
  const TargetFn_meanFnth<F_sigF<float>> target(data.fsigf, 2.0);
  const Params start(6, 1.0);
  const ResolutionFn fit(data.list, spline, target, start);
  double sum_f = 0.0, sum_fsq = 0.0;
  for (HRI ih = data.list.first(); !ih.last(); ih.next()) {
    if (data.fsigf[ih].missing()) continue;
    sum_f += weight(ih) * fit.f(ih);
    sum_fsq += weight(ih) * data.fsigf[ih].f() * data.fsigf[ih].f() / ih.hkl_class().epsilon();
  }
  EXPECT_NEAR(sum_f / sum_fsq, 1.0, 1e-9);
  // A linear basis with a quadratic target takes one step, scaled by
  // 1/(1 + damp): halfway with damp 1.
  const ResolutionFn damped(data.list, spline, target, start, 1.0);
  for (int j = 0; j < 6; ++j)
    EXPECT_NEAR(damped.params()[j], 0.5 * (start[j] + fit.params()[j]), 1e-6 * fit.params()[j]);
}

TEST(ResolutionFn, SingularCurvatureLeavesUnconstrainedParameters) {
  const HKL_info& list = monoclinic();
  // Data only in the low-resolution half: the upper knots see no reflection.
  HKL_data<E_sigE<double>> e(list);
  for (HRI ih = list.first(); !ih.last(); ih.next())
    if (ih.invresolsq() < 0.5 * list.invresolsq_range().max())
      e[ih] = E_sigE<double>(0.5 + 0.001 * (ih.index() % 1000), 0.1);
  const BasisFn_spline spline(list, 10, 1.0);
  const TargetFn_scaleEsq<E_sigE<double>> target(e);
  const ResolutionFn fit(list, spline, target, Params(10, 1.0));
  ASSERT_TRUE(all_finite(fit.params()));
  EXPECT_EQ(fit.params()[9], 1.0);
  EXPECT_NE(fit.params()[0], 1.0);
  const ResolutionFn_nonlinear nonlinear(list, spline, target, Params(10, 1.0));
  for (int j = 0; j < 10; ++j) EXPECT_NEAR(nonlinear.params()[j], fit.params()[j], 1e-6);
  // No data at all: both fits keep the start parameters.
  const HKL_data<E_sigE<double>> none(list);
  const TargetFn_scaleEsq<E_sigE<double>> empty(none);
  EXPECT_EQ(ResolutionFn(list, spline, empty, {2.0}).params(),
            Params({2, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(ResolutionFn_nonlinear(list, BasisFn_gaussian(), empty, {0.5, 1.5}).params(),
            Params({0.5, 1.5}));
}

TEST(TargetFn, DerivativesAndMissingEntries) {
  const Real_data& data = real_data();
  HKL_data<F_phi<float>> fphi(data.list);
  for (HRI ih = data.list.first(); !ih.last(); ih.next())
    if (!data.fsigf[ih].missing()) fphi[ih] = F_phi<float>(0.9f * data.fsigf[ih].f() + 1.0f, 0.0f);
  const TargetFn_scaleEsq<E_sigE<float>> esq(data.e);
  const TargetFn_meanFnth<F_sigF<float>> fnth(data.fsigf, 1.5);
  const TargetFn_scaleF1F2<F_phi<float>, F_sigF<float>> f1f2(fphi, data.fsigf);
  const TargetFn_scaleLogF1F2<F_sigF<float>, F_phi<float>> logf1f2(data.fsigf, fphi);
  const TargetFn_base* targets[] = {&esq, &fnth, &f1f2, &logf1f2};
  int checked = 0;
  for (HRI ih = data.list.first(); !ih.last(); ih.next()) {
    const bool zero = !data.fsigf[ih].missing() && data.fsigf[ih].f() == 0;
    for (const TargetFn_base* t : targets) {
      const double x = 0.8, h = 1e-4;
      const TargetFn_base::Rderiv lo = t->rderiv(ih, x - h), mid = t->rderiv(ih, x),
                                  hi = t->rderiv(ih, x + h);
      // Missing data, and zero amplitudes outside meanFnth, contribute nothing.
      if (data.fsigf[ih].missing() || (zero && t != &fnth)) {
        ASSERT_TRUE(mid.r == 0.0 && mid.dr == 0.0 && mid.dr2 == 0.0) << ih.hkl().format();
        continue;
      }
      if (t == &logf1f2) {  // r = w d^2, d squared first
        const double eps = ih.hkl_class().epsilon(), f1 = data.fsigf[ih].f(), f2 = fphi[ih].f();
        const double x1 = f1 * f1 / eps, x2 = f2 * f2 / eps, d = std::log(x1) + x - std::log(x2);
        ASSERT_EQ(mid.r, std::sqrt(x1 * x2) * (d * d));
      }
      ASSERT_NEAR(mid.dr, (hi.r - lo.r) / (2 * h), 1e-6 * (1 + std::fabs(mid.dr)));
      ASSERT_NEAR(mid.dr2, (hi.dr - lo.dr) / (2 * h), 1e-6 * (1 + std::fabs(mid.dr2)));
      ++checked;
    }
  }
  EXPECT_GT(checked, 12000);
}
