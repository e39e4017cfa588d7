// Target search: orientation sampling, a planted residue found again, the
// empty-list and flat-score guards, and the text form.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "app/llk_map_target.h"
#include "foundation/rotation.h"
#include "support/testing.h"
#include "symmetry/spgr_descr.h"

using namespace vantrel;

namespace {

Spacegroup group(const char* symbol) { return Spacegroup(Spgr_descr(symbol, Spgr_descr::HM)); }

// The crystal of the planted-target maps.
const Cell cell(Cell_descr(22.0, 24.0, 26.0, 90.0, 90.0, 90.0));
const Spacegroup& p212121() {
  static const Spacegroup sg = group("P 21 21 21");
  return sg;
}
const Grid_sampling& grid() {
  static const Grid_sampling g(p212121(), cell, Resolution(2.0), 1.5);
  return g;
}

// Angle (rad) of the rotation taking a onto b.
double rotation_angle(const Mat33<double>& a, const Mat33<double>& b) {
  const Mat33<double> d = a.transpose() * b;
  const double c = 0.5 * (d(0, 0) + d(1, 1) + d(2, 2) - 1.0);
  return std::acos(std::max(-1.0, std::min(1.0, c)));
}

// Largest angle (degrees) from a random placement to the nearest listed one
// (the search places by the inverse of an entry; operator S makes P and S P
// equivalent, in an orthogonal-axis cell).
double covering_angle(const std::vector<RTop_orth>& list, const Spacegroup& sg) {
  std::mt19937 rng(7);
  std::normal_distribution<double> g;
  double worst = 0.0;
  for (int trial = 0; trial < 400; ++trial) {
    const Mat33<double> q = Rotation(g(rng), g(rng), g(rng), g(rng)).norm().matrix();
    double nearest = 1e9;
    for (int i = 0; i < sg.primitive_count(); ++i)
      for (const RTop_orth& r : list)
        nearest = std::min(nearest, rotation_angle(r.rot().transpose(), sg.symop(i).rot() * q));
    worst = std::max(worst, nearest);
  }
  return Util::rad2d(worst);
}

}  // namespace

TEST(TargetSearch, RotationListsSampleTheDistinctOrientationsEvenly) {
  const LLK_map_target target;
  // P1 at 90 degrees: betas 45 and 135, 8 x 2 and 4 x 4 (sum, difference).
  EXPECT_EQ(target.rtop_list(Spacegroup(Spacegroup::P1), 90.0).size(), 32u);
  // P 2 2 2 at 90: of the 16 samples at beta 45, the 8 with alpha <= 180.
  EXPECT_EQ(target.rtop_list(group("P 2 2 2"), 90.0).size(), 8u);
  EXPECT_TRUE(target.rtop_list(Spacegroup(Spacegroup::P1), 360.0).empty());

  const std::pair<const char*, double> cases[] = {{"P 1", 30.0},     {"P 1", 20.0},
                                                  {"P 1 2 1", 30.0}, {"P 2 2 2", 30.0},
                                                  {"P 4", 30.0},     {"P 4 2 2", 20.0}};
  for (const auto& [symbol, step] : cases) {
    const Spacegroup sg = group(symbol);
    const auto list = target.rtop_list(sg, step);
    ASSERT_GT(list.size(), 100u) << symbol;
    for (const RTop_orth& r : list) {
      EXPECT_NEAR(r.rot().det(), 1.0, 1e-6) << symbol;
      EXPECT_TRUE((r.rot().transpose() * r.rot()).equals(Mat33<double>::identity(), 1e-6));
      EXPECT_EQ(r.trn(), Vec3<double>(0.0, 0.0, 0.0));
    }
    // Every placement near a listed one (up to symmetry); none crowd.
    double closest = 1e9;
    for (std::size_t i = 0; i < list.size(); ++i)
      for (std::size_t j = 0; j < i; ++j)
        closest = std::min(closest, rotation_angle(list[i].rot(), list[j].rot()));
    EXPECT_LT(covering_angle(list, sg), 0.8 * step) << symbol;
    EXPECT_GT(Util::rad2d(closest), 0.35 * step) << symbol;
  }
}

namespace {

// Atoms of one residue in its local frame (A): main chain, beta carbon and a
// bent side chain, so that no rotation maps the group onto itself.
const Coord_orth residue_atoms[] = {{-1.2, 0.8, 0.0}, {0.0, 0.0, 0.0},   {1.3, 0.7, 0.3},
                                    {1.6, 1.9, 0.2},  {-0.4, -1.0, 1.1}, {0.3, -2.3, 1.4},
                                    {1.6, -2.6, 0.8}};

// A P 21 21 21 map of Gaussian atoms: the placed residue and a few others.
Xmap<float> planted_map(const RTop_orth& place) {
  Xmap<float> map(p212121(), cell, grid());
  std::vector<Coord_frac> atoms;
  for (const Coord_orth& a : residue_atoms) atoms.push_back((place * a).coord_frac(cell));
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> uni(0.0, 1.0);
  while (atoms.size() < 20) {
    const Coord_orth x = Coord_frac(uni(rng), uni(rng), uni(rng)).coord_orth(cell);
    if (Coord_orth::length(x, Coord_orth(place.trn())) > 7.0) atoms.push_back(x.coord_frac(cell));
  }
  std::vector<Coord_frac> copies;
  for (const Coord_frac& a : atoms)
    for (int k = 0; k < p212121().op_count(); ++k) copies.push_back(p212121().symop(k) * a);
  for (auto ix = map.first(); !ix.last(); ix.next()) {
    const Coord_frac x = Coord_map(ix.coord()).coord_frac(grid());
    double rho = 0.0;
    for (const Coord_frac& c : copies) {
      Coord_frac d = x - c;
      for (int a = 0; a < 3; ++a) d[a] -= std::round(d[a]);  // nearest lattice copy
      rho += std::exp(-1.5 * d.coord_orth(cell).lengthsq());
    }
    map[ix] = float(rho);
  }
  return map;
}

// A target of the given radius trained on one residue placed in map.
LLK_map_target trained(double radius, const Xmap<float>& map, const RTop_orth& place) {
  LLK_map_target target;
  target.init(radius, 0.5, LLK_map_target::LLK);
  target.accumulate(map, place);
  target.prep_llk();
  return target;
}

}  // namespace

TEST(TargetSearch, FindsAPlantedResidueAtItsRotationAndTranslation) {
  const auto rtops = LLK_map_target().rtop_list(p212121(), 90.0);
  ASSERT_EQ(rtops.size(), 8u);
  // The search places the box by the inverse of list entry 5, then shifts
  // it by a grid translation: plant the residue so at grid point (7, 11, 4).
  const int planted = 5;
  const Coord_grid at(7, 11, 4);
  const RTop_orth place(rtops[planted].inverse().rot(), at.coord_frac(grid()).coord_orth(cell));
  const Xmap<float> map = planted_map(place);
  Xmap<float> score;
  Xmap<int> rotation, translation;
  trained(4.0, map, place).search(score, rotation, translation, map, rtops);
  ASSERT_EQ(score.grid_sampling(), grid());
  ASSERT_EQ(score.spacegroup().hash(), p212121().hash());

  // The best score at the planted point, rotation and translation.
  float best = 1e30f;
  int count = 0;
  for (auto ix = score.first(); !ix.last(); ix.next(), ++count) {
    EXPECT_LT(score[ix], 1e20f);
    best = std::min(best, score[ix]);
  }
  EXPECT_GT(count, grid().size() / 4 - 1);
  const Xmap<float>::Map_reference_coord ref(score, at);
  EXPECT_EQ(score[ref], best);
  EXPECT_LT(best, -3.0f);  // well below the mean of the searches
  EXPECT_EQ(rotation[ref], planted);
  EXPECT_EQ(translation[ref], (at.u() * grid().nv() + at.v()) * grid().nw() + at.w());
}

TEST(TargetSearch, GuardsEmptyListsAndFlatScores) {
  const auto rtops = LLK_map_target().rtop_list(p212121(), 90.0);
  const RTop_orth place(rtops[0].rot(), Coord_orth(5.0, 6.0, 7.0));
  const Xmap<float> map = planted_map(place);
  const LLK_map_target target = trained(4.0, map, place);
  // No rotation: the result maps are left as they were (here null).
  Xmap<float> score;
  Xmap<int> rotation, translation;
  target.search(score, rotation, translation, map, {});
  EXPECT_TRUE(score.is_null() && rotation.is_null() && translation.is_null());

  // Untrained: no spread to normalise by; 0 (not NaN), first rotation wins.
  LLK_map_target untrained;
  untrained.init(4.0, 0.5, LLK_map_target::LLK);
  untrained.prep_llk();
  untrained.search(score, rotation, translation, map, rtops);
  int count = 0;
  for (auto ix = score.first(); !ix.last(); ix.next(), ++count) {
    EXPECT_EQ(score[ix], 0.0f);
    EXPECT_EQ(rotation[ix], 0);
  }
  EXPECT_GT(count, 1000);
}

TEST(TargetSearch, FormatDrawsOneBlockPerSection) {
  const RTop_orth place(Mat33<double>::identity(), Coord_orth(6.0, 7.0, 8.0));
  const Xmap<float> map = planted_map(place);
  const LLK_map_target target = trained(2.0, map, place);
  const auto& t = target.target_map();
  ASSERT_EQ(t.grid().nu(), 13);  // half-width (2 + 2 * 0.5) / 0.5 = 6

  // Per section "\n w=  k", per row "\n  v=  j " and one character per
  // value against the rms over half the points.
  double sum_sq = 0.0;
  for (int i = 0; i < t.grid().size(); ++i) sum_sq += double(t[i]) * t[i];
  const double rms = std::sqrt(sum_sq / (t.grid().size() / 2));
  std::string expected;
  int shades[5] = {0, 0, 0, 0, 0};
  char head[32];
  for (int w = 0; w < 13; ++w) {
    std::snprintf(head, sizeof head, "\n w=%3d", w);
    expected += head;
    for (int v = 0; v < 13; ++v) {
      std::snprintf(head, sizeof head, "\n  v=%3d ", v);
      expected += head;
      for (int u = 0; u < 13; ++u) {
        const double x = t.get_data(Coord_grid(u, v, w)) / rms;
        const int shade = x < 0 ? 0 : x > 1.0 ? 4 : x > 0.3 ? 3 : x > 0.1 ? 2 : 1;
        ++shades[shade];
        expected += "- .+#"[shade];
      }
    }
  }
  const std::string text = target.format();
  EXPECT_EQ(text, expected + "\n");
  for (int k = 1; k < 5; ++k) EXPECT_GT(shades[k], 0) << k;  // atoms, edges and empty space

  // Nothing learned: blank rows.
  LLK_map_target empty;
  empty.init(2.0, 0.5, LLK_map_target::LLK);
  empty.prep_llk();
  EXPECT_EQ(empty.format().find_first_of("-.+#"), std::string::npos);
  EXPECT_EQ(empty.format().size(), text.size());

  // A negative radius (a box too small for the stencils) is refused.
  LLK_map_target bad;
  EXPECT_EQ(vantrel_testing::fatal_text([&] { bad.init(-1.0, 0.5, LLK_map_target::LLK); }),
            "LLK_map_target: invalid radius or sampling: -1, 0.5");
}
