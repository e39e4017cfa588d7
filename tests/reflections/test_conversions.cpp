#include "reflections/conversions.h"

#include <gtest/gtest.h>

#include <cmath>

#include "reflections/hkl_data.h"
#include "reflist_fixture.h"

using namespace vantrel;
using namespace vantrel::datatypes;

namespace {

const double NaN = Util::nand();

// A trigonal list with acentric reflections and centric ones whose allowed
// phases are 0 and other multiples of 30 degrees.
const HKL_info& trigonal() {
  static const HKL_info list(Spacegroup(Spgr_descr("P 31 2\"", Spgr_descr::Hall)),
                             Cell(Cell_descr(30, 30, 35, 90, 90, 120)), Resolution(4.0), true);
  return list;
}

// The first reflection of the trigonal list whose class satisfies pred.
template <class P> HRI find_reflection(P pred) {
  for (HRI ih = trigonal().first(); !ih.last(); ih.next())
    if (pred(ih.hkl_class())) return ih;
  ADD_FAILURE() << "no such reflection";
  return trigonal().first();
}
HRI acentric() {
  return find_reflection([](const HKL_class& c) { return !c.centric(); });
}
HRI centric_at(double phase) {
  return find_reflection([=](const HKL_class& c) {
    return c.centric() && std::fabs(c.allowed_phase() - phase) < 1e-9;
  });
}

}  // namespace

// Rows "h k l A B C D phi fom" of the toolkit's 72-step phase integration.
TEST(PhifomFromAbcd, MatchesToolkitPhaseIntegrationThroughSymmetry) {
  const std::vector<Reflist_block> blocks = read_reflist_fixture("phase_integrals.txt", 6);
  ASSERT_EQ(blocks.size(), 5u);
  int centric = 0;
  for (const Reflist_block& t : blocks) {
    const HKL_info list = t.list(0.999 * t.dmin);
    HKL_data<ABCD<double>> abcd(list);
    HKL_data<ABCD<float>> abcd_f(list);
    for (const Reflist_block::Row& r : t.tables.at("n")) {
      ASSERT_TRUE(abcd.set_data(r.hkl, ABCD<double>(r.v[0], r.v[1], r.v[2], r.v[3])));
      abcd_f.set_data(r.hkl, ABCD<float>(r.v[0], r.v[1], r.v[2], r.v[3]));
    }
    HKL_data<Phi_fom<double>> phifom(list);
    HKL_data<Phi_fom<float>> phifom_f(list);
    phifom.compute(abcd, Compute_phifom_from_abcd<double>());
    phifom_f.compute(abcd_f, Compute_phifom_from_abcd<float>());
    for (const Reflist_block::Row& r : t.tables.at("n")) {
      const Phi_fom<double> p = phifom[r.hkl];
      const Phi_fom<float> pf = phifom_f[r.hkl];
      SCOPED_TRACE(t.hall + " " + r.hkl.format());
      EXPECT_NEAR(p.fom(), r.v[5], 1e-9);
      EXPECT_NEAR(pf.fom(), r.v[5], 2e-6);
      EXPECT_NEAR(phase_difference(p.phi(), r.v[4]), 0.0, 1e-8);
      EXPECT_NEAR(phase_difference(pf.phi(), r.v[4]), 0.0, 1e-5);
      int sym;
      bool friedel;
      centric += list.hkl_class(list.index_of(list.find_sym(r.hkl, sym, friedel))).centric();
    }
  }
  EXPECT_GT(centric, 100);
}

TEST(PhifomFromAbcd, SamplesFiveDegreeStepsWithClampedExponent) {
  const Compute_phifom_from_abcd<double> op;
  // Acentric, A = 1000: the 35 samples with cos phi >= 0.05 (|phi| <= 85
  // degrees) are clamped to exp(50), the others negligible beside them.
  double sum_cos = 0.0;
  for (int k = -17; k <= 17; ++k) sum_cos += std::cos(Util::d2rad(5.0 * k));
  const Phi_fom<double> p = op(acentric(), ABCD<double>(1000, 0, 0, 0));
  EXPECT_NEAR(p.fom(), sum_cos / 35.0, 1e-14);
  EXPECT_NEAR(p.phi(), 0.0, 1e-14);
  EXPECT_NEAR(op(acentric(), ABCD<double>(0, 0, 0, 0)).fom(), 0.0, 1e-14);
  // C and D act on acentric reflections only; centric ones give tanh|x|
  // along the allowed direction or its opposite.
  const ABCD<double> ab(0.7, -1.2, 0, 0), abcd(0.7, -1.2, 2.5, -1.5);
  EXPECT_GT(std::fabs(op(acentric(), abcd).fom() - op(acentric(), ab).fom()), 0.01);
  const HRI c60 = centric_at(Util::pi() / 3.0);
  EXPECT_EQ(op(c60, abcd).fom(), op(c60, ab).fom());
  EXPECT_NEAR(op(c60, ab).fom(), std::tanh(std::fabs(0.7 * 0.5 - 1.2 * std::sqrt(0.75))), 1e-12);
  EXPECT_NEAR(phase_difference(op(c60, ab).phi(), Util::pi() / 3.0 + Util::pi()), 0.0, 1e-12);
  const Phi_fom<double> zero = op(centric_at(0.0), ABCD<double>(0, 0, 0, 0));
  EXPECT_TRUE(zero.fom() == 0.0 && zero.phi() == 0.0);
  EXPECT_TRUE(op(acentric(), ABCD<double>(1, 2, NaN, 0)).missing());
  EXPECT_TRUE(op(centric_at(0.0), ABCD<double>(1, 2, 0, INFINITY)).missing());
}

TEST(AbcdFromPhifom, RoundTripsAndLimitsFom) {
  const Compute_abcd_from_phifom<double> to_abcd;
  const Compute_phifom_from_abcd<double> to_phifom;
  for (const HRI& ih : {acentric(), centric_at(0.0), centric_at(Util::pi() / 3.0)}) {
    const bool centric = ih.hkl_class().centric();
    for (const double fom : {0.05, 0.3, 0.6, 0.8, 0.9, 0.95, 0.98, 0.999, 0.9998}) {
      // From fom 0.99 up the acentric coefficient exceeds the clamp at 50,
      // which flattens the peak of the distribution: no round trip there.
      if (!centric && fom > 0.98) continue;
      for (const double turn : {0.0, Util::pi()}) {
        const double phi = (centric ? ih.hkl_class().allowed_phase() : 0.4) + turn;
        const Phi_fom<double> back = to_phifom(ih, to_abcd(ih, Phi_fom<double>(phi, fom)));
        SCOPED_TRACE(fom);
        EXPECT_NEAR(back.fom(), fom, centric ? 1e-9 : 2e-3);  // invsim is good to ~2e-3
        EXPECT_NEAR(phase_difference(back.phi(), phi), 0.0, 1e-9);
      }
    }
    const ABCD<double> limit = to_abcd(ih, Phi_fom<double>(0.5, 0.9999));
    for (const double fom : {0.99995, 1.0})
      EXPECT_EQ(to_abcd(ih, Phi_fom<double>(0.5, fom)).b(), limit.b());
    EXPECT_TRUE(limit.c() == 0.0 && limit.d() == 0.0);
  }
  const ABCD<double> c = to_abcd(centric_at(0.0), Phi_fom<double>(Util::pi() / 2, 0.5));
  EXPECT_NEAR(c.a(), 0.0, 1e-15);
  EXPECT_NEAR(c.b(), std::atanh(0.5), 1e-15);
  EXPECT_TRUE(to_abcd(acentric(), Phi_fom<double>(NaN, 0.5)).missing());
}

TEST(Conversions, AmplitudesAndCoefficients) {
  const HRI ih = acentric();
  const Compute_fphi_from_fsigf_phifom<float> weight;
  const F_phi<float> weighted = weight(ih, F_sigF<float>(10, 1), Phi_fom<float>(0.3f, 0.5f));
  EXPECT_TRUE(weighted.f() == 5.0f && weighted.phi() == 0.3f);
  EXPECT_TRUE(weight(ih, F_sigF<float>(10, NaN), Phi_fom<float>(0.3f, 0.5f)).missing());
  // 0 0 2 of P 21 21 21 has epsilon 2: E = F / sqrt(2).
  const HKL_info orth(Spacegroup(Spgr_descr("P 2ac 2ab", Spgr_descr::Hall)),
                      Cell(Cell_descr(20, 25, 30, 90, 90, 90)), Resolution(5.0), true);
  const HRI ih002(orth, orth.index_of(HKL(0, 0, 2)));
  ASSERT_EQ(ih002.hkl_class().epsilon(), 2);
  const E_sigE<double> e = Compute_EsigE_from_FsigF<double>()(ih002, F_sigF<double>(4, 2));
  EXPECT_DOUBLE_EQ(e.E(), 4 / std::sqrt(2.0));
  EXPECT_DOUBLE_EQ(e.sigE(), 2 / std::sqrt(2.0));
  EXPECT_TRUE(Compute_add_abcd<float>()(ih, ABCD<float>(1, 2, 3, 4), ABCD<float>()).missing());
  // Complex sums: (3, 0) + (4, 90 deg) = (5, atan2(4, 3)); negation turns by pi.
  const F_phi<float> a(3, 0), b(4, float(Util::pi() / 2));
  const F_phi<float> plus = Compute_add_fphi<float>()(ih, a, b);
  EXPECT_NEAR(plus.f(), 5.0f, 1e-6);
  EXPECT_NEAR(plus.phi(), std::atan2(4.0f, 3.0f), 1e-6);
  EXPECT_NEAR(Compute_sub_fphi<float>()(ih, a, b).phi(), std::atan2(-4.0f, 3.0f), 1e-6);
  const F_phi<double> neg = Compute_neg_fphi<double>()(ih, F_phi<double>(2, Util::pi() / 2));
  EXPECT_TRUE(std::fabs(neg.f() - 2.0) < 1e-15 && std::fabs(neg.phi() + Util::pi() / 2) < 1e-15);
  const F_phi<double> two(2, 1), zero = Compute_sub_fphi<double>()(ih, two, two);
  EXPECT_TRUE(zero.f() == 0.0 && zero.phi() == 0.0);
  EXPECT_TRUE(Compute_neg_fphi<double>()(ih, F_phi<double>(2, NaN)).missing());
}

TEST(Conversions, AnomalousPairs) {
  const HRI ih = acentric();
  const Compute_FsigF<double, F_sigF_ano<double>> fsigf;
  const Compute_mean_fsigf_from_fsigfano<double> mean;
  const Compute_diff_fsigf_from_fsigfano<double> diff;
  const F_sigF_ano<double> pair(10, 12, 1, 2, 0.5), no_cov(10, 12, 1, 2, NaN);
  for (const F_sigF<double>& m : {fsigf(ih, pair), mean(ih, pair)})
    EXPECT_TRUE(m.f() == 11.0 && m.sigf() == 0.5 * std::sqrt(6.0));
  EXPECT_DOUBLE_EQ(fsigf(ih, no_cov).sigf(), 0.5 * std::sqrt(5.0));
  EXPECT_TRUE(diff(ih, pair).f() == -2.0 && diff(ih, pair).sigf() == 2.0);
  EXPECT_DOUBLE_EQ(diff(ih, no_cov).sigf(), std::sqrt(5.0));
  // One amplitude missing: both means give the other with its own sigma.
  const F_sigF_ano<double> plus_only(10, NaN, 1, 2, 0.5), minus_only(NaN, 12, 1, 2, 0.5);
  for (const F_sigF<double>& m : {fsigf(ih, plus_only), mean(ih, plus_only)})
    EXPECT_TRUE(m.f() == 10.0 && m.sigf() == 1.0);
  for (const F_sigF<double>& m : {fsigf(ih, minus_only), mean(ih, minus_only)})
    EXPECT_TRUE(m.f() == 12.0 && m.sigf() == 2.0);
  // Both amplitudes and one sigma: Compute_FsigF takes the sigma there is.
  EXPECT_EQ(fsigf(ih, F_sigF_ano<double>(10, 12, NaN, 2, NaN)).sigf(), 2.0);
  EXPECT_TRUE(fsigf(ih, F_sigF_ano<double>()).missing());
  EXPECT_TRUE(mean(ih, F_sigF_ano<double>()).missing());
  EXPECT_TRUE(diff(ih, plus_only).missing());
}

TEST(Conversions, ScaleAndIsotropicU) {
  const HRI ih = acentric();
  const Compute_scale_u<F_sigF<float>> twice(4.0, 0.0);
  const F_sigF<float> doubled = twice(ih, F_sigF<float>(3, 1));
  EXPECT_TRUE(doubled.f() == 6.0f && doubled.sigf() == 2.0f);
  EXPECT_EQ(Compute_scale_u<I_sigI<double>>(4.0, 0.0)(ih, I_sigI<double>(3, 1)).sigI(), 4.0);
  EXPECT_EQ(Compute_scale_u<F_phi<double>>(4.0, 0.0)(ih, F_phi<double>(3, 1)).phi(), 1.0);
  // A positive U raises the amplitude by exp(2 pi^2 U / d^2); covariances
  // scale as intensities.
  const double u = 0.2, k = 1.5 * std::exp(Util::twopi2() * u * ih.invresolsq());
  const F_sigF_ano<double> fa =
      Compute_scale_u<F_sigF_ano<double>>(2.25, u)(ih, F_sigF_ano<double>(1, 2, 3, 4, 5));
  EXPECT_DOUBLE_EQ(fa.sigf_mi(), 4 * k);
  EXPECT_DOUBLE_EQ(fa.cov(), 5 * k * k);
  const I_sigI_ano<double> ia =
      Compute_scale_u<I_sigI_ano<double>>(2.25, u)(ih, I_sigI_ano<double>(1, 2, 3, 4, 5));
  EXPECT_DOUBLE_EQ(ia.I_pl(), k * k);
  // A missing source comes back unchanged, field by field.
  const F_sigF<float> half = twice(ih, F_sigF<float>(3, NaN));
  EXPECT_TRUE(half.f() == 3.0f && Util::is_nan(half.sigf()));
}
