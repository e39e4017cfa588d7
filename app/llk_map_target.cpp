#include "app/llk_map_target.h"

#include <cfloat>
#include <cmath>

#include "maps/interp.h"

using vantrel::Coord_frac;
using vantrel::Coord_map;
using vantrel::Coord_orth;
using vantrel::Grid;
using vantrel::Interp_cubic;
using vantrel::Interp_linear;
using vantrel::Mat33;
using vantrel::RTop;
using vantrel::RTop_orth;
using vantrel::Vec3;
using vantrel::Xmap;

namespace {

// The map value by interpolator I at a local position of a residue.
template <class I>
float map_value(const Xmap<float>& xmap, const RTop_orth& rtop, const Coord_orth& local) {
  return xmap.interp<I>((rtop * local).coord_frac(xmap.cell()));
}

}  // namespace

// --- Sampled ---------------------------------------------------------------

void LLK_map_target::Sampled::insert(const Coord_orth& point, double target, double weight) {
  points_.push_back(point);
  targets_.push_back(target);
  weights_.push_back(weight);
}

std::vector<float> LLK_map_target::Sampled::density(const Xmap<float>& xmap,
                                                    const RTop_orth& rtop) const {
  std::vector<float> rho(points_.size());
  for (std::size_t i = 0; i < points_.size(); ++i)
    rho[i] = map_value<Interp_linear>(xmap, rtop, points_[i]);
  return rho;
}

double LLK_map_target::Sampled::llk(const std::vector<float>& rho) const {
  double sw = 0.0, swd = 0.0;
  for (std::size_t i = 0; i < points_.size(); ++i) {
    const double d = double(rho[i]) - targets_[i];
    sw += weights_[i];
    swd += weights_[i] * d * d;
  }
  // Without weights the ratio is 0/0: an untrained target scores 0.
  return sw > 0.0 ? swd / sw : 0.0;
}

double LLK_map_target::Sampled::correl(const std::vector<float>& rho) const {
  double sw = 0.0, sm = 0.0, sr = 0.0, smm = 0.0, srr = 0.0, smr = 0.0;
  for (std::size_t i = 0; i < points_.size(); ++i) {
    const double w = weights_[i], m = targets_[i], r = rho[i];
    sw += w;
    sm += w * m;
    sr += w * r;
    smm += w * m * m;
    srr += w * r * r;
    smr += w * m * r;
  }
  if (!(sw > 0.0)) return 0.0;  // untrained: exactly 0, not -0
  double d = (sw * smm - sm * sm) * (sw * srr - sr * sr);
  if (!(d > 1.0e-20)) d = 1.0e-20;  // no spread (or NaN): the numerator is 0 too
  return -(sw * smr - sm * sr) / std::sqrt(d);
}

double LLK_map_target::Sampled::score(const std::vector<float>& rho) const {
  return type_ == LLK ? llk(rho) : correl(rho);
}

double LLK_map_target::Sampled::llk(const Xmap<float>& xmap, const RTop_orth& rtop) const {
  return llk(density(xmap, rtop));
}

double LLK_map_target::Sampled::correl(const Xmap<float>& xmap, const RTop_orth& rtop) const {
  return correl(density(xmap, rtop));
}

double LLK_map_target::Sampled::score(const Xmap<float>& xmap, const RTop_orth& rtop) const {
  return score(density(xmap, rtop));
}

bool LLK_map_target::Sampled::trained() const {
  for (const double w : weights_)
    if (w > 0.0) return true;
  return false;
}

// --- LLK_map_target ----------------------------------------------------------

Coord_orth LLK_map_target::local_position(int i) const {
  const int nside = 2 * half_width_ + 1;
  const int u = i / (nside * nside), v = (i / nside) % nside, w = i % nside;
  return Coord_orth((u - half_width_) * sampling_, (v - half_width_) * sampling_,
                    (w - half_width_) * sampling_);
}

void LLK_map_target::init(const double& radius, const double& sampling, TYPE type) {
  // radius >= 0 gives a half-width >= 2, which keeps every cubic stencil of
  // the sample lists inside the box.
  if (!(radius >= 0.0 && sampling > 0.0 && std::isfinite(radius) && std::isfinite(sampling)))
    vantrel::fatal("LLK_map_target: invalid radius or sampling: " + vantrel::String(radius) + ", " +
                   vantrel::String(sampling));
  radius_ = radius;
  sampling_ = sampling;
  half_width_ = int(std::lrint((radius + 2.0 * sampling) / sampling));  // halves to even
  const int nside = 2 * half_width_ + 1;
  const double scale = 1.0 / sampling;
  const double n = half_width_;
  const RTop<double> orth_to_grid(Mat33<double>(scale, 0.0, 0.0, 0.0, scale, 0.0, 0.0, 0.0, scale),
                                  Vec3<double>(n, n, n));
  target_map_.init(Grid(nside, nside, nside), orth_to_grid);
  weight_map_.init(Grid(nside, nside, nside), orth_to_grid);
  target_map_ = 0.0f;
  weight_map_ = 0.0f;
  type_ = type;
  fine_.set_type(type);
  coarse_.set_type(type);
  count_ = 0;
}

void LLK_map_target::accumulate(const Xmap<float>& xmap, RTop_orth rtop) {
  if (count_ == 0) {
    target_map_ = 0.0f;
    weight_map_ = 0.0f;
  }
  ++count_;
  // The sphere reaches the box faces, two samplings beyond the radius; the
  // outer shell enters the whole-target statistics.
  const double lim = (2 * half_width_ + 1 - 1) * sampling_ * 0.5;
  const int npoints = target_map_.grid().size();
  for (int i = 0; i < npoints; ++i) {
    const Coord_orth c = local_position(i);
    if (c.lengthsq() > lim * lim) continue;
    const float rho = map_value<Interp_cubic>(xmap, rtop, c);
    target_map_[i] += rho;
    weight_map_[i] += rho * rho;
  }
}

void LLK_map_target::prep_llk() {
  const int npoints = target_map_.grid().size();
  if (count_ > 0) {
    // Whole-target normal model N(mu_o, sigma_o^2) over every point seen.
    int nseen = 0;
    double s1 = 0.0, s2 = 0.0;
    for (int i = 0; i < npoints; ++i)
      if (weight_map_[i] > 0.0f) {
        ++nseen;
        s1 += target_map_[i];
        s2 += weight_map_[i];
      }
    const double nobs = double(count_) * double(nseen);
    const float mean_o = float(s1 / nobs);
    const float sigma_o = float(std::sqrt(nobs * s2 - s1 * s1) / nobs);
    const float var_o = sigma_o * sigma_o;
    const float var_floor = 0.001f * var_o;
    // A flat map gives sigma_o 0, NaN when rounding takes N S2 - S1^2 below
    // 0, or noise: below 1e-4 of the mean square the variance is lost in the
    // float rounding of the per-point sums (6e-8 per addition). No
    // likelihood contrast, then: the target keeps its means and no weight.
    // A floor that is a normal float also keeps every x <= 1000 and every
    // weight finite.
    const bool contrast =
        std::isfinite(var_o) && var_floor >= FLT_MIN && double(var_o) > 1.0e-4 * (s2 / nobs);
    for (int i = 0; i < npoints; ++i) {
      if (!(weight_map_[i] > 0.0f)) continue;
      const float mean = target_map_[i] / float(count_);
      const float meansq = weight_map_[i] / float(count_);
      const float spread = meansq - mean * mean;
      const float sigma = std::sqrt(spread > var_floor ? spread : var_floor);
      target_map_[i] = mean;
      weight_map_[i] = contrast ? sigma : 0.0f;
    }
    // Quadratic form w (rho - m)^2 = 0.5 (1/sigma^2 - 1/sigma_o^2) (rho - m)^2:
    // up to a constant, the negative log-likelihood ratio of the point's own
    // model against the whole target's.
    for (int i = 0; i < npoints; ++i) {
      const float sigma = weight_map_[i];
      if (!(sigma > 0.0f)) continue;
      const float mean = target_map_[i];
      float x = var_o / (sigma * sigma) - 1.0f;
      if (x < 0.001f) x = 0.001f;                             // keeps the weight positive
      const float shift = 1.0f / x < 2.0f ? 1.0f / x : 2.0f;  // at most 2 (mu - mu_o)
      target_map_[i] = mean + shift * (mean - mean_o);
      weight_map_[i] = 0.5f * x / var_o;
    }
    count_ = 0;
  }

  for (int i = 0; i < npoints; ++i)
    if (local_position(i).lengthsq() > radius_ * radius_) {
      target_map_[i] = 0.0f;
      weight_map_[i] = 0.0f;
    }

  // Coarse list: the origin and the 12 points with two nonzero steps.
  const double step = radius_ * 3.0 * 0.125;
  for (int u = -1; u <= 1; ++u)
    for (int v = -1; v <= 1; ++v)
      for (int w = -1; w <= 1; ++w) {
        if ((u + v + w) % 2 != 0) continue;
        const Coord_orth p(u * step, v * step, w * step);
        const Coord_map g = target_map_.coord_map(p);
        coarse_.insert(p, target_map_.interp<Interp_cubic>(g), weight_map_.interp<Interp_cubic>(g));
      }

  // Fine list: points of even index sum within the radius in whole steps.
  const int r = int(std::lrint(target_map_.coord_map(Coord_orth(radius_, 0.0, 0.0)).u())) -
                int(std::lrint(target_map_.coord_map(Coord_orth(0.0, 0.0, 0.0)).u()));
  const int nside = 2 * half_width_ + 1;
  for (int i = 0; i < npoints; ++i) {
    const int u = i / (nside * nside), v = (i / nside) % nside, w = i % nside;
    if ((u + v + w) % 2 != 0) continue;
    const int du = u - half_width_, dv = v - half_width_, dw = w - half_width_;
    if (du * du + dv * dv + dw * dw > r * r) continue;
    fine_.insert(local_position(i), target_map_[i], weight_map_[i]);
  }
}
