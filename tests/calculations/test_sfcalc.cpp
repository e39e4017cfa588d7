// Bulk-solvent structure factors: the atomic term against the toolkit's
// direct sum, the solvent level on synthetic data, and the road on the real
// data against the toolkit's R factors and map; anisotropic scaling of a
// planted tensor, isotropising and the sigma cut.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>

#include "calc_fixture.h"
#include "calculations/edcalc.h"
#include "calculations/sfcalc_obs.h"
#include "calculations/sfscale.h"
#include "calculations/sfweight.h"
#include "reflections/conversions.h"
#include "support/testing.h"

using namespace vantrel;
using namespace vantrel_testing;
using datatypes::F_phi;
using datatypes::F_sigF;

namespace {

Calc_model model(const std::string& name) {
  const Calc_model m = read_calc_model(fixture_path("calc_" + name + ".txt"));
  EXPECT_TRUE(m.good) << name;
  return m;
}

// The atomic term as the bulk-solvent calculation makes it: density painted
// with B + 20 on a grid of rate 1.5, FFT, B 20 taken off again.
template <class T> void atomic_term(const HKL_info& hkls, Atom_list atoms, HKL_data<F_phi<T>>& fa) {
  const double u_add = 20.0 / Util::eightpi2();
  for (Atom& a : atoms) {
    const U_aniso_orth u = a.u_aniso_orth().is_null() ? U_aniso_orth(a.u_iso()) : a.u_aniso_orth();
    a.set_u_aniso_orth(u + U_aniso_orth(u_add, u_add, u_add, 0.0, 0.0, 0.0));
  }
  Xmap<float> xmap(hkls.spacegroup(), hkls.cell(),
                   Grid_sampling(hkls.spacegroup(), hkls.cell(), hkls.resolution(), 1.5));
  EDcalc_aniso<float>(2.5)(xmap, atoms);
  xmap.fft_to(fa);
  fa.compute(fa, datatypes::Compute_scale_u<F_phi<T>>(1.0, u_add));
}

// R of Fo against Fc after scaling Fo anisotropically onto Fc.
double r_factor(HKL_data<F_sigF<float>> fo, const HKL_data<F_phi<float>>& fc) {
  SFscale_aniso<float>(0.0)(fo, fc);
  double num = 0.0, den = 0.0;
  for (HKL_info::HKL_reference_index ih = fo.first_data(); !ih.last(); fo.next_data(ih)) {
    num += std::fabs(fo[ih].f() - fc[ih].f());
    den += fo[ih].f();
  }
  return num / den;
}

TEST(SFcalc, AtomicTermMatchesDirectSummation) {
  for (const char* name : {"sm_1dur", "wrk_7mm1"}) {
    const Calc_model m = model(name);
    HKL_info hkls(m.spacegroup, m.cell, Resolution(m.dmin * 0.9999), false);
    hkls.add_hkl_list(m.hkl);
    HKL_data<F_phi<double>> fa(hkls);
    atomic_term(hkls, m.atoms, fa);
    double num = 0.0, num_complex = 0.0, den = 0.0;
    for (std::size_t i = 0; i < m.hkl.size(); ++i) {
      const std::complex<double> f(fa[m.hkl[i]]);
      num += std::fabs(std::abs(f) - std::abs(m.fcalc[i]));
      num_complex += std::abs(f - m.fcalc[i]);
      den += std::abs(m.fcalc[i]);
    }
    EXPECT_EQ(hkls.num_reflections(), int(m.hkl.size())) << name;
    EXPECT_LT(num / den, 0.01) << name;
    EXPECT_LT(num_complex / den, 0.015) << name;
  }
}

// Observations made from the model with a known solvent level and an
// unknown resolution-dependent scale.
TEST(SFcalc, RecoversPlantedSolventLevel) {
  const Calc_model m = model("sm_1dur");
  HKL_info hkls(m.spacegroup, m.cell, Resolution(m.dmin), true);
  HKL_data<F_phi<float>> fa(hkls), fs(hkls), fc(hkls);
  atomic_term(hkls, m.atoms, fa);
  Xmap<float> xmap(hkls.spacegroup(), hkls.cell(),
                   Grid_sampling(hkls.spacegroup(), hkls.cell(), hkls.resolution(), 1.5));
  EDcalc_mask<float>(2.5)(xmap, m.atoms);
  for (auto ix = xmap.first(); !ix.last(); ix.next()) xmap[ix] = 1.0f - xmap[ix];
  xmap.fft_to(fs);
  fs.compute(fs, datatypes::Compute_scale_u<F_phi<float>>(1.0, -50.0 / Util::eightpi2()));
  const double k0 = 0.4375;  // 0.35 + 0.175 - 0.0875: on the search's path
  // The second set has an outer shell 1000 times too weak: the scale spline
  // dips below 0 at the step, which must not spoil the residual.
  for (const double weak_from : {1e9, 0.2}) {
    HKL_data<F_sigF<float>> fo(hkls);
    HKL_data<F_sigF<double>> fo_d(hkls);
    for (HKL_info::HKL_reference_index ih = hkls.first(); !ih.last(); ih.next()) {
      const double f = std::abs(std::complex<double>(fa[ih]) + k0 * std::complex<double>(fs[ih]));
      const double s = ih.invresolsq(), k = 3.0 * std::exp(-2.0 * s) * (s > weak_from ? 1e-3 : 1.0);
      fo[ih] = F_sigF<float>(float(k * f), 1.0f);
      fo_d[ih] = F_sigF<double>(fo[ih].f(), 1.0);
    }
    SFcalc_obs_bulk<float> calc(12);
    EXPECT_TRUE(calc(fc, fo, m.atoms));
    EXPECT_NEAR(calc.bulk_scale(), k0, 0.03) << weak_from;
    if (weak_from < 1.0) continue;
    const double r_bulk = r_factor(fo, fc);
    EXPECT_LT(r_bulk, 0.02);
    EXPECT_LT(r_bulk, 0.3 * r_factor(fo, fa));
    HKL_data<F_phi<double>> fc_d(hkls);  // the double form makes the same choice
    const SFcalc_obs_bulk<double> calc_d(fc_d, fo_d, m.atoms);
    EXPECT_DOUBLE_EQ(calc_d.bulk_scale(), calc.bulk_scale());
    EXPECT_NEAR(calc_d.bulk_frac(), calc.bulk_frac(), 1e-6);
  }
}

// On the real data: R of Fo against the scaled Fc close to the toolkit's;
// on 7MM1 the whole road on to likelihood weighting, whose best map must
// correlate with the map of the toolkit's sigmaA-weighted 2mFo-DFc.
TEST(Road, RealDataRFactorsAndBestMap) {
  for (const char* name : {"sm_1dur", "wrk_7mm1"}) {
    const Calc_model m = model(name);
    const bool road = std::string(name) == "wrk_7mm1";
    const std::vector<Fo_row> rows = road ? read_fo_map(fixture_path("wrk_7mm1_fo_map.txt"))
                                          : read_fsigf(fixture_path("sm_1dur_fsigf.txt"));
    HKL_info hkls;
    HKL_data<F_sigF<float>> fo;
    make_observed(m, rows, hkls, fo);
    EXPECT_GT(fo.num_obs(), int(0.95 * rows.size())) << name;
    HKL_data<F_phi<float>> fc(hkls), fb(hkls), fd(hkls), toolkit(hkls);
    const SFcalc_obs_bulk<float> calc(fc, fo, m.atoms, 12);
    EXPECT_EQ(fc.num_obs(), hkls.num_reflections());
    EXPECT_NEAR(r_factor(fo, fc), m.r_toolkit, 0.03) << name;
    if (!road) continue;

    SFscale_aniso<float>(0.0)(fo, fc);
    HKL_data<datatypes::Phi_fom<float>> phiw(hkls);
    HKL_data<datatypes::Flag> usage(hkls);
    for (int i = 0; i < hkls.num_reflections(); ++i)
      usage[i] = datatypes::Flag(fo[i].missing() ? 0 : 3);
    EXPECT_TRUE(SFweight_spline<float>(1000, 20, 24)(fb, fd, phiw, fo, fc, usage));
    EXPECT_EQ(fb.num_obs(), hkls.num_reflections());
    double fom = 0.0;
    int n = 0;
    for (auto ih = phiw.first_data(); !ih.last(); phiw.next_data(ih), ++n) fom += phiw[ih].fom();
    EXPECT_GT(n, 40000);
    EXPECT_GT(fom / n, 0.7);  // a well-refined model

    for (const Fo_row& r : rows) toolkit.set_data(r.hkl, F_phi<float>(r.fwt, r.phwt));
    const Grid_sampling grid(hkls.spacegroup(), hkls.cell(), hkls.resolution(), 1.5);
    Xmap<float> ours(hkls.spacegroup(), hkls.cell(), grid), theirs = ours;
    ours.fft_from(fb);
    theirs.fft_from(toolkit);
    // Correlation over the cell: each ASU point weighted by its share.
    double sum[6] = {};  // weight, x, y, xx, yy, xy
    for (auto ix = ours.first(); !ix.last(); ix.next()) {
      const double x = ours[ix], y = theirs[ix], terms[6] = {1.0, x, y, x * x, y * y, x * y};
      for (int k = 0; k < 6; ++k) sum[k] += terms[k] / ours.multiplicity(ix.coord());
    }
    for (int k = 1; k < 6; ++k) sum[k] /= sum[0];
    EXPECT_GT((sum[5] - sum[1] * sum[2]) /
                  std::sqrt((sum[3] - sum[1] * sum[1]) * (sum[4] - sum[2] * sum[2])),
              0.95);
  }
}

// Atoms with a NaN displacement or occupancy change nothing; without atoms
// all is solvent; lists over different reflection lists are fatal.
TEST(SFcalc, EdgeCases) {
  const Calc_model m = model("sm_1dur");
  HKL_info hkls;
  HKL_data<F_sigF<float>> fo;
  make_observed(m, read_fsigf(fixture_path("sm_1dur_fsigf.txt")), hkls, fo);
  HKL_data<F_phi<float>> fc(hkls), fc_bad(hkls);
  SFcalc_obs_bulk<float> calc(12);
  Atom_list bad = m.atoms;
  bad.push_back(Atom("C", Coord_orth(5.0, 6.0, 7.0), U_aniso_orth::null(), 1.0, Util::nan()));
  bad.push_back(Atom("C", Coord_orth(9.0, 6.0, 7.0), U_aniso_orth::null(), Util::nan(), 0.2));
  calc(fc, fo, m.atoms);
  calc(fc_bad, fo, bad);
  for (int i = 0; i < hkls.num_reflections(); ++i)
    ASSERT_EQ(std::complex<float>(fc[i]), std::complex<float>(fc_bad[i])) << i;
  EXPECT_GT(hkls.num_reflections(), 3000);
  calc(fc, fo, Atom_list());
  EXPECT_EQ(calc.bulk_frac(), 1.0);
  EXPECT_EQ(fc.num_obs(), hkls.num_reflections());
  {  // the bulk fraction: each ASU point weighs 1/multiplicity (3 and 6 here)
    const Cell cell(Cell_descr(15.0, 15.0, 13.0, 90.0, 90.0, 120.0));
    const Spacegroup p321{Spgr_descr("P 3 2 1", Spgr_descr::HM)};
    HKL_info h3(p321, cell, Resolution(2.5), true);
    HKL_data<F_sigF<float>> fo3(h3);
    HKL_data<F_phi<float>> fc3(h3);
    for (int i = 0; i < h3.num_reflections(); ++i) fo3[i] = F_sigF<float>(10.0f, 1.0f);
    const Atom_list atoms = {
        Atom("O", Coord_orth(0.0, 0.0, 2.0), U_aniso_orth::null(), 1.0, 0.2),
        Atom("C", Coord_frac(0.4, 0.1, 0.3).coord_orth(cell), U_aniso_orth::null(), 1.0, 0.2)};
    calc(fc3, fo3, atoms);
    Xmap<float> mask(p321, cell, Grid_sampling(p321, cell, Resolution(2.5), 1.5));
    EDcalc_mask<float>(2.5)(mask, atoms);
    double solvent = 0.0, total = 0.0;
    int special = 0;
    for (auto ix = mask.first(); !ix.last(); ix.next()) {
      const double mult = mask.multiplicity(ix.coord());
      solvent += (1.0f - mask[ix]) / mult;
      total += 1.0 / mult;
      special += mult == 3.0 || mult == 6.0;
    }
    EXPECT_GT(special, 10);
    EXPECT_EQ(calc.bulk_frac(), solvent / total);
    EXPECT_LT(calc.bulk_frac(), 0.99);
  }
  HKL_info other(m.spacegroup, m.cell, Resolution(3.0), true);
  HKL_data<F_phi<float>> fc_other(other);
  EXPECT_EQ(fatal_text([&] { calc(fc_other, fo, m.atoms); }),
            "SFcalc_obs_bulk: calculated and observed data must be over one reflection list");
}

void expect_tensor(const U_aniso_orth& got, const U_aniso_orth& want, double tol) {
  for (int i = 0; i < 3; ++i)
    for (int j = i; j < 3; ++j) EXPECT_NEAR(got(i, j), want(i, j), tol) << i << j;
}

// Calculated amplitudes: the 1DUR observations; observed: the same times
// 2 exp(-2 pi^2 h^T U0 h) (orthorhombic, so U0 diagonal), a few missing and
// a few zero calculated values. The fitted tensor is twice the conventional one.
TEST(SFscale, RecoversPlantedTensorBothWays) {
  const Calc_model m = model("sm_1dur");
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

// A sigma cut keeps weak observations out of the fit but scales them like
// the rest: every third one has F < 2 sigF and is wrong by a factor 3.
TEST(SFscale, SigmaCutSelectsButScalesAll) {
  const Calc_model m = model("sm_1dur");
  HKL_info hkls;
  HKL_data<F_sigF<float>> obs;
  make_observed(m, read_fsigf(fixture_path("sm_1dur_fsigf.txt")), hkls, obs);
  const U_aniso_orth u0(0.10, 0.05, -0.08, 0.0, 0.0, 0.0);
  HKL_data<F_sigF<double>> fo(hkls);
  HKL_data<F_phi<double>> fc(hkls);
  int n = 0;
  for (HKL_info::HKL_reference_index ih = hkls.first(); !ih.last(); ih.next(), ++n) {
    if (obs[ih].missing()) continue;
    const double k =
        0.5 * std::exp(-Util::twopi2() * u0.quad_form(ih.hkl().coord_reci_orth(m.cell)));
    fc[ih] = F_phi<double>(obs[ih].f(), 0.0);
    fo[ih] = F_sigF<double>((n % 3 ? 1.0 : 3.0) * obs[ih].f() * k, n % 3 ? 1e-3 : 1e9);
  }
  const HKL_data<F_sigF<double>> before(fo);
  SFscale_aniso<double> scale(2.0);
  EXPECT_TRUE(scale(fo, fc));
  expect_tensor(scale.u_aniso_orth(), U_aniso_orth(-2.0 * u0), 1e-8);
  int weak = 0;
  for (int i = 0; i < hkls.num_reflections(); ++i)
    if (!fo[i].missing() && before[i].sigf() > 1.0 && fc[i].f() > 0.0) {
      EXPECT_NEAR(fo[i].f() / fc[i].f(), 3.0, 1e-8);
      ++weak;
    }
  EXPECT_GT(weak, 1000);
}

// Isotropising: a traceless tensor planted on the 1DUR data's own (nearly
// isotropic) fall-off is removed, the stored tensor stays traceless, and the
// amplitudes come out as the isotropised unplanted data, so the isotropic
// fall-off is kept.
TEST(SFscale, IsotropisingRemovesPlantedAnisotropy) {
  const Calc_model m = model("sm_1dur");
  HKL_info hkls;
  HKL_data<F_sigF<float>> obs;
  make_observed(m, read_fsigf(fixture_path("sm_1dur_fsigf.txt")), hkls, obs);
  const U_aniso_orth u0(0.08, -0.03, -0.05, 0.0, 0.0, 0.0);
  HKL_data<F_sigF<float>> fo(hkls), fo_ref(obs);
  SFscale_aniso<float> scale(0.0);
  EXPECT_TRUE(scale(fo_ref));
  const U_aniso_orth own = scale.u_aniso_orth();
  for (HKL_info::HKL_reference_index ih = hkls.first(); !ih.last(); ih.next())
    if (!obs[ih].missing()) {
      const double k = std::exp(-Util::twopi2() * u0.quad_form(ih.hkl().coord_reci_orth(m.cell)));
      fo[ih] = F_sigF<float>(obs[ih].f() * k, obs[ih].sigf());
    }
  EXPECT_TRUE(scale(fo));
  const U_aniso_orth& u = scale.u_aniso_orth();
  EXPECT_NEAR(u(0, 0) + u(1, 1) + u(2, 2), 0.0, 1e-6);
  expect_tensor(U_aniso_orth(u + -1.0 * own), U_aniso_orth(-2.0 * u0), 4e-3);
  double worst = 0.0;
  int compared = 0;
  for (HKL_info::HKL_reference_index ih = fo.first_data(); !ih.last(); fo.next_data(ih))
    if (fo_ref[ih].f() > 0.0f) {
      worst = std::max(worst, std::fabs(fo[ih].f() / fo_ref[ih].f() - 1.0));
      ++compared;
    }
  EXPECT_GT(compared, 3000);
  EXPECT_LT(worst, 0.02);
}

}  // namespace
