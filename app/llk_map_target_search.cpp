// Searching a crystallographic map for a residue density target: the
// orientation sampling, the rotation-translation search and the target's
// text form.
#include <cmath>

#include "app/llk_map_target.h"
#include "calculations/ffts.h"
#include "foundation/rotation.h"
#include "foundation/util.h"
#include "maps/map_stats.h"

using vantrel::Coord_grid;
using vantrel::Euler_ccp4;
using vantrel::FFFear_fft;
using vantrel::Grid;
using vantrel::Map_stats;
using vantrel::NX_operator;
using vantrel::Rotation;
using vantrel::RTop_orth;
using vantrel::Spacegroup;
using vantrel::String;
using vantrel::Util;
using vantrel::Vec3;
using vantrel::Xmap;

std::vector<RTop_orth> LLK_map_target::rtop_list(const Spacegroup& spacegroup,
                                                 const double& step) const {
  // Running angles are single precision (degrees); counts, halving and
  // conversions to radians are double, rounded back to single.
  const float fstep = float(step);
  const float alpha_max = 360.0f / float(spacegroup.order_of_symmetry_about_axis(Spacegroup::C));
  // A two-fold (or any even axis) about a or b maps beta onto 180 - beta.
  float beta_max = 90.0f;
  if (spacegroup.order_of_symmetry_about_axis(Spacegroup::A) % 2 == 1 &&
      spacegroup.order_of_symmetry_about_axis(Spacegroup::B) % 2 == 1)
    beta_max = 180.0f;
  const float range = alpha_max < 360.0f ? alpha_max : 360.0f;

  std::vector<RTop_orth> result;
  for (float beta = 0.5f * fstep; beta < 180.0f; beta += fstep) {
    const float b = float(Util::d2rad(beta));
    // Sum and difference samples follow cos(b/2) and sin(b/2), which spreads
    // them evenly over orientation space.
    const int np = int(std::floor(std::cos(0.5 * double(b)) * range / fstep + 1.0));
    const int nm = int(std::floor(range * std::sin(0.5 * double(b)) / fstep + 1.0));
    const float dp = range / float(np), dm = range / float(nm);
    for (float p = 0.5f * dp; p < 720.0f; p += dp)
      for (float m = 0.5f * dm; m < 360.0f; m += dm) {
        float alpha = float(std::fmod(0.5 * (double(p) + double(m)), 360.0));
        float gamma = float(std::fmod(0.5 * (double(p) - double(m)), 360.0));
        if (alpha < 0.0f) alpha += 360.0f;
        if (gamma < 0.0f) gamma += 360.0f;
        if (alpha <= alpha_max && beta <= beta_max) {
          const Euler_ccp4 euler(float(Util::d2rad(alpha)), b, float(Util::d2rad(gamma)));
          // The symmetry reduction above holds for placements R (a crystal
          // operator S makes R and S R equivalent), and search places by
          // the inverse: so the list holds the inverse of each placement.
          result.emplace_back(Rotation(euler).matrix().transpose(), Vec3<double>(0.0, 0.0, 0.0));
        }
      }
  }
  return result;
}

void LLK_map_target::search(Xmap<float>& score, Xmap<int>& rotation, Xmap<int>& translation,
                            const Xmap<float>& xmap, const std::vector<RTop_orth>& rtops) const {
  if (rtops.empty()) return;  // no operator for the normalisation: nothing to write

  const auto& sg = xmap.spacegroup();
  const auto& cell = xmap.cell();
  const auto& sampling = xmap.grid_sampling();
  score.init(sg, cell, sampling);
  rotation.init(sg, cell, sampling);
  translation.init(sg, cell, sampling);
  score = 1.0e20f;

  // Translation searches cover the whole cell: a P1 map on xmap's grid.
  Xmap<float> work(Spacegroup(Spacegroup::P1), cell, sampling);
  const FFFear_fft<float> fffear(xmap);

  // Scores are normalised by the spread of the first operator's search.
  fffear(work, target_map_, weight_map_, NX_operator(xmap, target_map_, rtops[0]));
  const Map_stats stats(work);
  const double mean = stats.mean();
  // No spread (a flat map or an untrained target): the scores stay
  // unscaled rather than becoming infinite.
  const double sd = stats.std_dev() > 0.0 ? stats.std_dev() : 1.0;

  const int nv = sampling.nv(), nw = sampling.nw();
  Xmap<float>::Map_reference_coord ref(score, Coord_grid(0, 0, 0));
  for (int r = 0; r < int(rtops.size()); ++r) {
    fffear(work, target_map_, weight_map_, NX_operator(xmap, target_map_, rtops[r].inverse()));
    for (auto ix = work.first(); !ix.last(); ix.next()) {
      const float s = float((double(work[ix]) - mean) / sd);
      const Coord_grid c = ix.coord();
      ref.set_coord(c);
      // Strictly lower only: among equals the first rotation and point win.
      if (s < score[ref]) {
        score[ref] = s;
        rotation[ref] = r;
        translation[ref] = (c.u() * nv + c.v()) * nw + c.w();
      }
    }
  }
}

String LLK_map_target::format() const {
  const Grid& g = target_map_.grid();
  double sum_sq = 0.0;
  for (int i = 0; i < g.size(); ++i) sum_sq += double(target_map_[i]) * double(target_map_[i]);
  // Half the points carry the target; a one-point box still has one.
  const int half = g.size() / 2 > 0 ? g.size() / 2 : 1;
  const double rms = std::sqrt(sum_sq / double(half));

  String s;
  for (int w = 0; w < g.nw(); ++w) {
    s += "\n w=" + String(w, 3);
    for (int v = 0; v < g.nv(); ++v) {
      s += "\n  v=" + String(v, 3) + " ";
      for (int u = 0; u < g.nu(); ++u) {
        // An all-zero target (rms 0) prints blanks.
        const float x = rms > 0.0 ? float(target_map_.get_data(Coord_grid(u, v, w)) / rms) : 0.0f;
        if (x < 0.0f)
          s += "-";
        else if (x > 1.0f)
          s += "#";
        else if (x > 0.3f)
          s += "+";
        else if (x > 0.1f)
          s += ".";
        else
          s += " ";
      }
    }
  }
  s += "\n";
  return s;
}
