// The phase road on real data: bulk-solvent structure factors, anisotropic
// scaling of the observations, likelihood weighting; the best map against
// the map of the toolkit's sigmaA-weighted 2mFo-DFc coefficients.
#include <gtest/gtest.h>

#include <cmath>

#include "calc_fixture.h"
#include "calculations/sfcalc_obs.h"
#include "calculations/sfscale.h"
#include "calculations/sfweight.h"
#include "maps/xmap.h"
#include "support/testing.h"

using namespace vantrel;
using namespace vantrel_testing;
using datatypes::F_phi;
using datatypes::F_sigF;

namespace {

TEST(Road, BestMapCorrelatesWithToolkitMap) {
  const Calc_model m = read_calc_model(fixture_path("calc_wrk_7mm1.txt"));
  ASSERT_TRUE(m.good);
  const std::vector<Fo_row> rows = read_fo_map(fixture_path("wrk_7mm1_fo_map.txt"));
  HKL_info hkls;
  HKL_data<F_sigF<float>> fo;
  make_observed(m, rows, hkls, fo);
  HKL_data<F_phi<float>> fc(hkls), fb(hkls), fd(hkls), toolkit(hkls);
  HKL_data<datatypes::Phi_fom<float>> phiw(hkls);
  HKL_data<datatypes::Flag> usage(hkls);
  for (const Fo_row& r : rows) toolkit.set_data(r.hkl, F_phi<float>(r.fwt, r.phwt));

  SFcalc_obs_bulk<float>(12)(fc, fo, m.atoms);
  SFscale_aniso<float>(0.0)(fo, fc);
  for (int i = 0; i < hkls.num_reflections(); ++i)
    usage[i] = datatypes::Flag(fo[i].missing() ? 0 : 3);
  SFweight_spline<float> weight;
  weight.init(1000, 20, 24);
  EXPECT_TRUE(weight(fb, fd, phiw, fo, fc, usage));
  EXPECT_EQ(fb.num_obs(), hkls.num_reflections());

  const Grid_sampling grid(hkls.spacegroup(), hkls.cell(), hkls.resolution(), 1.5);
  Xmap<float> ours(hkls.spacegroup(), hkls.cell(), grid), theirs(hkls.spacegroup(), hkls.cell(), grid);
  ours.fft_from(fb);
  theirs.fft_from(toolkit);
  // Correlation over the cell: each ASU point weighted by its share.
  double sw = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
  for (Xmap_base::Map_reference_index ix = ours.first(); !ix.last(); ix.next()) {
    const double w = 1.0 / ours.multiplicity(ix.coord()), x = ours[ix], y = theirs[ix];
    sw += w;
    sx += w * x;
    sy += w * y;
    sxx += w * x * x;
    syy += w * y * y;
    sxy += w * x * y;
  }
  const double cov = sxy / sw - sx / sw * sy / sw;
  const double cc = cov / std::sqrt((sxx / sw - Util::sqr(sx / sw)) * (syy / sw - Util::sqr(sy / sw)));
  std::cout << "map correlation with the toolkit's 2mFo-DFc map: " << cc << "\n";
  EXPECT_GT(cc, 0.95);
  // Mean figure of merit of a well-refined model.
  double fom = 0.0;
  int n = 0;
  for (HKL_info::HKL_reference_index ih = phiw.first_data(); !ih.last(); phiw.next_data(ih), ++n)
    fom += phiw[ih].fom();
  EXPECT_GT(n, 40000);
  EXPECT_GT(fom / n, 0.7);
}

}  // namespace
