#include "reflections/resolution_fn.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <numeric>
#include <random>
#include <string>

#include "reflections/conversions.h"

using namespace vantrel;
using namespace vantrel::datatypes;

namespace {

typedef HKL_info::HKL_reference_index HRI;

const HKL_info& monoclinic() {
  static const HKL_info list(Spacegroup(Spgr_descr("P 2yb", Spgr_descr::Hall)),
                             Cell(Cell_descr(30, 40, 50, 90, 105, 90)), Resolution(2.5), true);
  return list;
}

// Random amplitudes F1, and F2 = F1 sqrt(g) for a planted function g of the
// reflection: g is the scale that the F1/F2 targets fit.
template <class G>
void plant(G g, HKL_data<F_phi<float> >& f1, HKL_data<F_sigF<double> >& f2) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> amplitude(10.0f, 100.0f);
  for (HRI ih = monoclinic().first(); !ih.last(); ih.next()) {
    const float f = amplitude(random);
    f1[ih] = F_phi<float>(f, 0.0f);
    f2[ih] = F_sigF<double>(f * std::sqrt(g(ih)), 1.0);
  }
}

// tests/data/sm_1dur_fsigf.txt (a real data set with 57 zero amplitudes)
// on a list that holds every reflection of the file.
struct Real_data {
  Real_data() {
    std::ifstream in(VANTREL_TEST_DATA "/sm_1dur_fsigf.txt");
    std::string word, hm;
    double c[6], smax = 0.0;
    int n;
    in >> word >> c[0] >> c[1] >> c[2] >> c[3] >> c[4] >> c[5] >> word >> std::ws;
    std::getline(in, hm);
    in >> word >> n;
    const Cell cell(Cell_descr(c[0], c[1], c[2], c[3], c[4], c[5]));
    std::vector<HKL> hkls(n);
    std::vector<F_sigF<float> > values(n);
    for (int i = 0; i < n; ++i) {
      in >> hkls[i][0] >> hkls[i][1] >> hkls[i][2] >> values[i].f() >> values[i].sigf();
      smax = std::max(smax, hkls[i].invresolsq(cell));
    }
    list.init(Spacegroup(Spgr_descr(hm, Spgr_descr::HM)), cell,
              Resolution(0.9999 / std::sqrt(smax)), true);
    fsigf.init(list, list.cell());
    for (int i = 0; i < n; ++i)
      if (!fsigf.set_data(hkls[i], values[i])) ADD_FAILURE() << hkls[i].format();
  }
  HKL_info list;
  HKL_data<F_sigF<float> > fsigf;
};

const Real_data& real_data() {
  static const Real_data data;
  return data;
}

double weight(const HRI& ih) { return 2.0 / ih.hkl_class().epsilon_centric(); }

bool all_finite(const std::vector<double>& v) {
  for (const double x : v)
    if (Util::is_nan(x)) return false;
  return true;
}

// Residual 1 at every reflection: calc_derivs then sums the weights.
class Unit_target : public TargetFn_base {
 public:
  Rderiv rderiv(const HRI&, const double&) const override {
    Rderiv r;
    r.r = r.dr2 = 1.0;
    return r;
  }
};

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
    return spline.fderiv_s(lo, std::vector<double>(n, 0.0)).df;
  };
  const std::vector<std::pair<double, std::vector<double> > > cases = {
      {2.5, {0, 0.125, 0.75, 0.125, 0, 0}},  // t = 0
      {3.0, {0, 0, 0.5, 0.5, 0, 0}},         // knot boundary, t = -0.5
      {0.5, {0.875, 0.125, 0, 0, 0, 0}},     // first knot folds in p_im
      {5.5, {0, 0, 0, 0, 0.125, 0.875}}};
  for (const auto& c : cases) {
    const std::vector<double> df = df_at(c.first);
    for (int j = 0; j < n; ++j) EXPECT_NEAR(df[j], c.second[j], 1e-9) << c.first << " " << j;
  }
  // The weights sum to 1 everywhere, the ends included.
  const std::vector<double> ones(n, 1.0);
  for (HRI ih = list.first(); !ih.last(); ih.next())
    ASSERT_NEAR(spline.f(ih.hkl(), list.cell(), ones), 1.0, 1e-12);
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
  const std::vector<double> p = {10, 20, 30, 40};
  EXPECT_EQ(binner.f_s(lo, p), 10.0);
  EXPECT_EQ(binner.f_s(hi, p), 40.0);
  EXPECT_EQ(binner.f_s(10.0 * hi, p), 40.0);
  const BasisFn_base::Fderiv& fd = binner.fderiv_s(0.5 * (lo + hi), p);
  EXPECT_EQ(fd.df[0] + fd.df[1] + fd.df[2] + fd.df[3], 1.0);
  EXPECT_EQ(fd.f, p[fd.df[1] == 1.0 ? 1 : 2]);

  // A negative power makes the foot of the table infinite; that ordinal
  // falls in bin 0 instead of an undefined integer conversion.
  EXPECT_EQ(BasisFn_binner(list, 3, -1.0).f_s(lo, {3, 5, 7}), 3.0);
  EXPECT_EQ(BasisFn_spline(list, 3, -1.0).f_s(lo, {3, 5, 7}), 3.0);
}

TEST(BasisFn, ExponentialAndLogarithmicForms) {
  const double s = 0.04;
  const BasisFn_gaussian gauss;
  const BasisFn_base::Fderiv& g = gauss.fderiv_s(s, {0.0, 0.0});
  EXPECT_TRUE(g.f == 1.0 && g.df[1] == -s && g.df2(0, 1) == -s && g.df2(1, 1) == s * s);
  EXPECT_DOUBLE_EQ(BasisFn_expcubic().fderiv_s(s, {0.5, 2, 3, 4}).f,
                   std::exp(0.5 - 2 * s + 3 * s * s - 4 * s * s * s));

  const BasisFn_log_aniso_gaussian log_aniso;
  const std::vector<double> p = {1.5, 2, 3, 4, 5, 6, 7};
  const BasisFn_base::Fderiv& la = log_aniso.fderiv_coord(Coord_reci_orth(0, 0, 0), p);
  EXPECT_EQ(la.f, 1.5);
  EXPECT_EQ(la.df, std::vector<double>({1, 0, 0, 0, 0, 0, 0}));
  // Both anisotropic forms agree with p0 - 2 pi^2 s^T U s.
  const Coord_reci_orth c(0.1, -0.2, 0.3);
  const double lf = log_aniso.fderiv_coord(c, p).f;
  EXPECT_DOUBLE_EQ(std::exp(lf), BasisFn_aniso_gaussian().fderiv_coord(c, p).f);
  EXPECT_NEAR(lf, 1.5 - Util::twopi2() * log_aniso.u_aniso_orth(p).quad_form(c), 1e-12);
}

TEST(ResolutionFn, WeightsAndBandedCurvature) {
  const Cell cell(Cell_descr(10, 11, 12, 80, 85, 95));
  const HKL_info p1(Spacegroup(Spacegroup::P1), cell, Resolution(3.0), true);
  const HKL_info pbar1(Spacegroup(Spgr_descr("-P 1", Spgr_descr::Hall)), cell, Resolution(3.0),
                       true);
  const Unit_target unit;
  const BasisFn_spline spline(p1, 8, 1.0);
  std::vector<double> drs;
  Matrix<double> dr2s;
  double r;
  // Centric reflections weigh half as much as acentric ones; 0 0 0 is
  // centric in both lists, with epsilon 2 in -P 1.
  ASSERT_GE(p1.index_of(HKL(0, 0, 0)), 0);
  ResolutionFn(p1, spline, unit, {}).calc_derivs(std::vector<double>(8, 1.0), r, drs, dr2s);
  EXPECT_DOUBLE_EQ(r, 2.0 * (p1.num_reflections() - 1) + 1.0);
  for (int j = 0; j < 8; ++j)
    for (int k = 0; k < 8; ++k)
      EXPECT_TRUE(std::abs(j - k) <= 2 || dr2s(j, k) == 0.0) << j << " " << k;
  EXPECT_GT(dr2s(3, 5), 0.0);
  ResolutionFn(pbar1, spline, unit, {}).calc_derivs(std::vector<double>(8, 1.0), r, drs, dr2s);
  EXPECT_DOUBLE_EQ(r, pbar1.num_reflections() - 1 + 0.5);
}

TEST(ResolutionFn, RecoversPlantedIsotropicScale) {
  const HKL_info& list = monoclinic();
  const double scale = 2.5, u = 0.3;
  HKL_data<F_phi<float> > f1(list);
  HKL_data<F_sigF<double> > f2(list);
  plant([&](const HRI& ih) { return scale * std::exp(-Util::twopi2() * u * ih.invresolsq()); },
        f1, f2);
  f1[5].f() = 0.0f;  // a zero amplitude counts as missing

  const BasisFn_gaussian gauss;
  const TargetFn_scaleF1F2<F_phi<float>, F_sigF<double> > target(f1, f2);
  const ResolutionFn_nonlinear fit(list, gauss, target, {0.0, 0.0});
  EXPECT_NEAR(gauss.scale(fit.params()), scale, 1e-5);
  EXPECT_NEAR(gauss.u_iso(fit.params()), u, 1e-5);
  EXPECT_DOUBLE_EQ(fit.f(list.first()), gauss.f(list.first().hkl(), list.cell(), fit.params()));

  // The logarithmic form is linear: one Newton step, exact.
  const BasisFn_log_gaussian log_gauss;
  const TargetFn_scaleLogF1F2<F_phi<float>, F_sigF<double> > log_target(f1, f2);
  const ResolutionFn log_fit(list, log_gauss, log_target, {});
  EXPECT_NEAR(log_gauss.scale(log_fit.params()), scale, 1e-6);
  EXPECT_NEAR(log_gauss.u_iso(log_fit.params()), u, 1e-6);
}

TEST(ResolutionFn, RecoversPlantedAnisotropicGaussian) {
  const HKL_info& list = monoclinic();
  const double scale = 0.7;
  const U_aniso_orth u(0.30, 0.20, 0.45, 0.05, -0.04, 0.03);
  HKL_data<F_phi<float> > f1(list);
  HKL_data<F_sigF<double> > f2(list);
  plant([&](const HRI& ih) {
    return scale * std::exp(-Util::twopi2() * u.quad_form(ih.hkl().coord_reci_orth(list.cell())));
  }, f1, f2);

  const BasisFn_aniso_gaussian aniso;
  const TargetFn_scaleF1F2<F_phi<float>, F_sigF<double> > target(f1, f2);
  const ResolutionFn_nonlinear fit(list, aniso, target, {0.0});
  const BasisFn_log_aniso_gaussian log_aniso;
  const TargetFn_scaleLogF1F2<F_phi<float>, F_sigF<double> > log_target(f1, f2);
  const ResolutionFn log_fit(list, log_aniso, log_target, {});
  for (const U_aniso_orth& fitted :
       {aniso.u_aniso_orth(fit.params()), log_aniso.u_aniso_orth(log_fit.params())})
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) EXPECT_NEAR(fitted(i, j), u(i, j), 1e-5);
  EXPECT_NEAR(aniso.scale(fit.params()), scale, 1e-5);
  EXPECT_NEAR(log_aniso.scale(log_fit.params()), scale, 1e-5);
}

TEST(ResolutionFn, ScalesRealNormalisedIntensitiesToOne) {
  const Real_data& data = real_data();
  HKL_data<E_sigE<float> > e(data.list);
  e.compute(data.fsigf, Compute_EsigE_from_FsigF<float>());
  const BasisFn_spline spline(e, 10, 2.0);
  const TargetFn_scaleEsq<E_sigE<float> > target(e);
  const ResolutionFn fit(data.list, spline, target, std::vector<double>(10, 1.0));
  ASSERT_TRUE(all_finite(fit.params()));

  // Overall the weighted mean of g E^2 is exactly 1 (constants lie in the
  // spline's span); shell by shell it is 1 to within the spline's freedom.
  // The 57 zero amplitudes count as missing (else the parameters are NaN).
  const int shells = 8;
  std::vector<double> sum(shells, 0.0), wsum(shells, 0.0);
  Resolution_ordinal ordinal;
  ordinal.init(e, data.list.cell(), 1.0);
  for (HRI ih = data.list.first(); !ih.last(); ih.next()) {
    if (e[ih].missing() || e[ih].E() == 0) continue;
    const int shell = std::min(shells - 1, int(shells * ordinal.ordinal(ih.invresolsq())));
    sum[shell] += weight(ih) * fit.f(ih) * e[ih].E() * e[ih].E();
    wsum[shell] += weight(ih);
  }
  for (int k = 0; k < shells; ++k) EXPECT_NEAR(sum[k] / wsum[k], 1.0, 0.05) << "shell " << k;
  EXPECT_NEAR(std::accumulate(sum.begin(), sum.end(), 0.0) /
                  std::accumulate(wsum.begin(), wsum.end(), 0.0), 1.0, 1e-9);
}

TEST(ResolutionFn, MeanFnthAndDamping) {
  const Real_data& data = real_data();
  const BasisFn_spline spline(data.fsigf, 6, 1.0);
  const TargetFn_meanFnth<F_sigF<float> > target(data.fsigf, 2.0);
  const std::vector<double> start(6, 1.0);
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
  // Data only in the low-resolution half: the upper knots of a spline over
  // the whole list see no reflection.
  HKL_data<E_sigE<double> > e(list);
  for (HRI ih = list.first(); !ih.last(); ih.next())
    if (ih.invresolsq() < 0.5 * list.invresolsq_range().max())
      e[ih] = E_sigE<double>(0.5 + 0.001 * (ih.index() % 1000), 0.1);
  const BasisFn_spline spline(list, 10, 1.0);
  const TargetFn_scaleEsq<E_sigE<double> > target(e);
  const ResolutionFn fit(list, spline, target, std::vector<double>(10, 1.0));
  ASSERT_TRUE(all_finite(fit.params()));
  EXPECT_EQ(fit.params()[9], 1.0);
  EXPECT_NE(fit.params()[0], 1.0);
  const ResolutionFn_nonlinear nonlinear(list, spline, target, std::vector<double>(10, 1.0));
  for (int j = 0; j < 10; ++j) EXPECT_NEAR(nonlinear.params()[j], fit.params()[j], 1e-6);

  // No data at all: both fits keep the start parameters.
  const HKL_data<E_sigE<double> > none(list);
  const TargetFn_scaleEsq<E_sigE<double> > empty(none);
  EXPECT_EQ(ResolutionFn(list, spline, empty, {2.0}).params(),
            std::vector<double>({2, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(ResolutionFn_nonlinear(list, BasisFn_gaussian(), empty, {0.5, 1.5}).params(),
            std::vector<double>({0.5, 1.5}));
}

TEST(TargetFn, DerivativesAndMissingEntries) {
  const Real_data& data = real_data();
  HKL_data<E_sigE<float> > e(data.list);
  e.compute(data.fsigf, Compute_EsigE_from_FsigF<float>());
  HKL_data<F_phi<float> > fphi(data.list);
  for (HRI ih = data.list.first(); !ih.last(); ih.next())
    if (!data.fsigf[ih].missing()) fphi[ih] = F_phi<float>(0.9f * data.fsigf[ih].f() + 1.0f, 0.0f);
  const TargetFn_scaleEsq<E_sigE<float> > esq(e);
  const TargetFn_meanFnth<F_sigF<float> > fnth(data.fsigf, 1.5);
  const TargetFn_scaleF1F2<F_phi<float>, F_sigF<float> > f1f2(fphi, data.fsigf);
  const TargetFn_scaleLogF1F2<F_sigF<float>, F_phi<float> > logf1f2(data.fsigf, fphi);
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
      ASSERT_NEAR(mid.dr, (hi.r - lo.r) / (2 * h), 1e-6 * (1 + std::fabs(mid.dr)));
      ASSERT_NEAR(mid.dr2, (hi.dr - lo.dr) / (2 * h), 1e-6 * (1 + std::fabs(mid.dr2)));
      ++checked;
    }
  }
  EXPECT_GT(checked, 12000);

  testing::internal::CaptureStdout();
  esq.debug(data.list);
  EXPECT_NE(testing::internal::GetCapturedStdout().find(" val "), std::string::npos);
}
