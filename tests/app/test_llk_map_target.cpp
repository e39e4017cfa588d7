// Residue density targets: geometry, training against an independent
// evaluation, scoring, untrained and flat targets.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "app/llk_map_target.h"
#include "app/main_chain.h"
#include "maps/interp.h"

using vantrel::Coord_orth;
using vantrel::RTop_orth;
using vantrel::Xmap;

namespace {

// A P1 map of 24 A edges filled from f(orthogonal position).
template <class F> Xmap<float> p1_map(F f) {
  const vantrel::Cell cell(vantrel::Cell_descr(24.0, 24.0, 24.0, 90.0, 90.0, 90.0));
  const vantrel::Spacegroup p1(vantrel::Spacegroup::P1);
  Xmap<float> map(p1, cell, vantrel::Grid_sampling(p1, cell, vantrel::Resolution(1.5), 1.5));
  for (auto ix = map.first(); !ix.last(); ix.next())
    map[ix] = float(f(map.coord_orth(vantrel::Coord_map(ix.coord()))));
  return map;
}

// Gaussian blobs at fixed random places (nearest lattice copy of each): a
// map with structure on every scale.
const Xmap<float>& blob_map() {
  static const Xmap<float> map = [] {
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> pos(0.0, 24.0);
    std::vector<Coord_orth> centres;
    for (int k = 0; k < 60; ++k) centres.emplace_back(pos(rng), pos(rng), pos(rng));
    return p1_map([&](const Coord_orth& x) {
      double s = 0.0;
      for (const Coord_orth& c : centres) {
        Coord_orth d = x - c;
        for (int a = 0; a < 3; ++a) d[a] -= 24.0 * std::round(d[a] / 24.0);
        if (d.lengthsq() < 25.0) s += std::exp(-0.8 * d.lengthsq());
      }
      return s;
    });
  }();
  return map;
}

const RTop_orth frames[] = {
    Ca_group({11.2, 10.9, 12.0}, {12.0, 12.0, 12.6}, {13.4, 11.5, 12.1}).rtop_beta_carbon(),
    Ca_group({5.0, 7.1, 3.3}, {6.2, 7.9, 3.1}, {6.9, 8.4, 4.4}).rtop_beta_carbon(),
    Ca_group({15.0, 3.1, 20.3}, {16.1, 3.0, 21.3}, {15.9, 4.4, 21.9}).rtop_beta_carbon()};

}  // namespace

TEST(LLKMapTarget, BoxAndSampleGeometry) {
  struct Case {
    double radius;
    int nside, nfine;
    bool origin_in_fine;
  };
  for (const Case& c : {Case{5.5, 27, 2796, false}, Case{5.0, 25, 2123, true},
                        Case{5.25, 25, 2123, true}}) {  // half-width 12.5 rounds to 12
    LLK_map_target t;
    t.init(c.radius, 0.5, LLK_map_target::CORREL);
    t.prep_llk();
    EXPECT_EQ(t.target_map().grid().nu(), c.nside) << c.radius;
    EXPECT_EQ(t.fine().size(), c.nfine) << c.radius;
    EXPECT_EQ(t.fine().type(), LLK_map_target::CORREL);
    int origin = 0;
    for (const Coord_orth& p : t.fine().points()) origin += p.lengthsq() == 0.0 ? 1 : 0;
    EXPECT_EQ(origin, c.origin_in_fine ? 1 : 0) << c.radius;
  }
  LLK_map_target t;
  t.init(5.5, 0.5, LLK_map_target::LLK);
  t.prep_llk();
  // The coarse list: the centre and the 12 edge midpoints of a cube, in
  // grid order.
  const int order[13][3] = {{-1, -1, 0}, {-1, 0, -1}, {-1, 0, 1}, {-1, 1, 0}, {0, -1, -1},
                            {0, -1, 1},  {0, 0, 0},   {0, 1, -1}, {0, 1, 1},  {1, -1, 0},
                            {1, 0, -1},  {1, 0, 1},   {1, 1, 0}};
  ASSERT_EQ(t.coarse().size(), 13);
  for (int k = 0; k < 13; ++k)
    EXPECT_EQ(t.coarse().points()[k],
              Coord_orth(2.0625 * order[k][0], 2.0625 * order[k][1], 2.0625 * order[k][2]))
        << k;
  t.prep_llk();  // a second preparation appends a second copy
  EXPECT_EQ(t.fine().size(), 2 * 2796);
  EXPECT_EQ(t.coarse().size(), 26);
}

TEST(LLKMapTarget, TrainingGivesTheLikelihoodTargetsAndWeights) {
  const Xmap<float>& map = blob_map();
  const double radius = 5.3, sampling = 0.5;  // fine points reach 5.5 A, beyond the radius
  LLK_map_target t;
  t.init(radius, sampling, LLK_map_target::LLK);
  for (const RTop_orth& f : frames) t.accumulate(map, f);
  EXPECT_EQ(t.count(), 3);
  t.prep_llk();
  EXPECT_EQ(t.count(), 0);

  // Independent evaluation over the 27^3 box (n = 13).
  const int n = 13, nside = 27;
  ASSERT_EQ(t.target_map().grid().nu(), nside);
  std::vector<float> sum(nside * nside * nside, 0.0f), sumsq(sum.size(), 0.0f);
  std::vector<Coord_orth> local(sum.size());
  for (int i = 0; i < int(sum.size()); ++i) {
    local[i] = Coord_orth((i / (nside * nside) - n) * sampling,
                          ((i / nside) % nside - n) * sampling, (i % nside - n) * sampling);
    if (local[i].lengthsq() > std::pow(n * sampling, 2)) continue;
    for (const RTop_orth& f : frames) {
      const float rho = map.interp<vantrel::Interp_cubic>((f * local[i]).coord_frac(map.cell()));
      sum[i] += rho;
      sumsq[i] += rho * rho;
    }
  }
  double nobs = 0, s1 = 0, s2 = 0;
  for (std::size_t i = 0; i < sum.size(); ++i)
    if (sumsq[i] > 0) nobs += 3, s1 += sum[i], s2 += sumsq[i];
  const double mu_o = s1 / nobs, var_o = (nobs * s2 - s1 * s1) / (nobs * nobs);
  int checked = 0, floored = 0, capped = 0;
  for (std::size_t i = 0; i < sum.size(); ++i) {
    double target = 0, weight = 0;
    if (sumsq[i] > 0 && local[i].lengthsq() <= radius * radius) {
      const double mu = sum[i] / 3.0, var = std::max(sumsq[i] / 3.0 - mu * mu, 0.001 * var_o);
      const double x = std::max(var_o / var - 1.0, 0.001);
      target = mu + std::min(1.0 / x, 2.0) * (mu - mu_o);
      weight = 0.5 * x / var_o;
      floored += x == 0.001 ? 1 : 0;
      capped += var == 0.001 * var_o ? 1 : 0;
      ++checked;
    }
    ASSERT_NEAR(t.target_map()[i], target, 2e-3 * (std::fabs(target) + 0.01)) << i;
    ASSERT_NEAR(t.weight_map()[i], weight, 2e-3 * weight + 1e-9) << i;
  }
  EXPECT_GT(checked, 4500);
  EXPECT_GT(floored, 10);  // points more variable than the whole target
  EXPECT_GT(capped, 10);   // points below the variance floor (all three alike)

  // The fine list carries the box values at its points (grid points), and
  // the coarse list at its centre; beyond the radius the weights are 0.
  auto index = [&](const Coord_orth& p) {
    int i = 0;
    for (int a = 0; a < 3; ++a) i = i * nside + int(std::lrint(p[a] / sampling)) + n;
    return i;
  };
  int beyond = 0;
  for (int k = 0; k < t.fine().size(); ++k) {
    const Coord_orth& p = t.fine().points()[k];
    EXPECT_EQ(t.fine().targets()[k], t.target_map()[index(p)]) << k;
    EXPECT_EQ(t.fine().weights()[k], t.weight_map()[index(p)]) << k;
    if (p.lengthsq() <= radius * radius) continue;
    ++beyond;
    EXPECT_EQ(t.fine().weights()[k], 0.0);
  }
  EXPECT_GT(beyond, 0);
  EXPECT_EQ(t.coarse().targets()[6], t.target_map()[index(Coord_orth(0, 0, 0))]);
  EXPECT_TRUE(t.fine().trained());
  // A training residue fits its own target better than a distant one does.
  EXPECT_LT(t.fine().llk(map, frames[0]),
            t.fine().llk(map, RTop_orth(frames[0].rot(), Coord_orth(3.0, 20.0, 9.0))));
}

TEST(LLKMapTarget, ScoresOfAKnownMap) {
  // Interpolation reproduces an affine map exactly away from the edges.
  auto affine = [](const Coord_orth& x) { return 0.1 * x.x() - 0.2 * x.y() + 0.05 * x.z() + 1.0; };
  const Xmap<float> map = p1_map(affine);
  const RTop_orth frame = frames[0];
  LLK_map_target::Sampled same, scaled;
  scaled.set_type(LLK_map_target::CORREL);
  std::mt19937 rng(4);
  std::uniform_real_distribution<double> u(-3.0, 3.0), w(0.1, 2.0);
  for (int k = 0; k < 200; ++k) {
    const Coord_orth p(u(rng), u(rng), u(rng));
    const double rho = affine(frame * p), weight = w(rng);
    same.insert(p, rho, weight);
    scaled.insert(p, (rho - 0.4) / 2.5, weight);
  }
  EXPECT_NEAR(same.llk(map, frame), 0.0, 1e-10);
  EXPECT_NEAR(scaled.correl(map, frame), -1.0, 1e-9);
  // score() follows the list's type.
  EXPECT_EQ(scaled.score(map, frame), scaled.correl(map, frame));
  EXPECT_EQ(same.score(map, frame), same.llk(map, frame));
  EXPECT_EQ(same.correl(p1_map([](const Coord_orth&) { return 0.0; }), frame), 0.0);
}

TEST(LLKMapTarget, UntrainedAndFlatTargetsScoreZeroWithFiniteWeights) {
  LLK_map_target untrained;
  untrained.init(5.5, 0.5, LLK_map_target::LLK);
  untrained.prep_llk();
  EXPECT_FALSE(untrained.fine().trained());
  EXPECT_EQ(untrained.fine().llk(blob_map(), frames[1]), 0.0);
  EXPECT_EQ(untrained.fine().correl(blob_map(), frames[1]), 0.0);

  // A flat map: no whole-target spread (0, NaN or rounding noise).
  for (const float level : {0.1f, 1.0f, 0.0f, 3.3e-3f}) {
    const Xmap<float> flat = p1_map([&](const Coord_orth&) { return level; });
    LLK_map_target t;
    t.init(5.5, 0.5, LLK_map_target::LLK);
    for (const RTop_orth& f : frames) t.accumulate(flat, f);
    t.prep_llk();
    int finite = 0;
    for (int i = 0; i < t.weight_map().grid().size(); ++i)
      finite += std::isfinite(t.weight_map()[i]) && t.weight_map()[i] >= 0.0f &&
                std::isfinite(t.target_map()[i]);
    EXPECT_EQ(finite, 27 * 27 * 27) << level;
    EXPECT_FALSE(t.fine().trained()) << level;
    EXPECT_EQ(t.fine().llk(blob_map(), frames[0]), 0.0) << level;
  }
}
