#include "model/ramachandran.h"

#include <cmath>

#include "foundation/message.h"
#include "foundation/util.h"
#include "model/ramachandran_tables.h"

namespace vantrel {

void Prob_phi_2d::init(const int& n) {
  if (n < 0) fatal("Prob_phi_2d: negative grid size " + std::to_string(n));
  n_ = n;
  data_.assign(std::size_t(n) * std::size_t(n), 0.0);
}

void Prob_phi_2d::accumulate(const float* table) {
  for (std::size_t k = 0; k < data_.size(); ++k) data_[k] += table[k];
}

bool Prob_phi_2d::position(const double phi, const double psi, Position& p) const {
  if (n_ == 0) fatal("Prob_phi_2d: the grid has no size (init was not called)");
  // fmod is exact, and keeps any finite angle within the range of an int.
  const double x = std::fmod(n_ * phi / Util::twopi(), n_);
  const double y = std::fmod(n_ * psi / Util::twopi(), n_);
  if (Util::is_nan(x) || Util::is_nan(y)) return false;
  const int i = int(std::floor(x)), j = int(std::floor(y));
  p.fx = x - i;
  p.fy = y - j;
  p.i0 = Util::mod(i, n_);
  p.j0 = Util::mod(j, n_);
  p.i1 = (p.i0 + 1) % n_;
  p.j1 = (p.j0 + 1) % n_;
  return true;
}

void Prob_phi_2d::accumulate(const double& phi, const double& psi, double weight) {
  Position p;
  if (!position(phi, psi, p)) return;
  data_[p.i0 * n_ + p.j0] += (1.0 - p.fx) * (1.0 - p.fy) * weight;
  data_[p.i0 * n_ + p.j1] += (1.0 - p.fx) * p.fy * weight;
  data_[p.i1 * n_ + p.j0] += p.fx * (1.0 - p.fy) * weight;
  data_[p.i1 * n_ + p.j1] += p.fx * p.fy * weight;
}

void Prob_phi_2d::normalise() {
  double sum = 0.0;
  for (const double v : data_) sum += v;
  // An empty or all-zero grid has no density to scale to; dividing by its
  // sum would fill it with NaN.
  if (!(sum > 0.0) || Util::is_nan(sum)) return;
  // Bilinear interpolation on a periodic grid integrates to the sum of the
  // grid values times the cell area (2 pi / n)^2.
  const double f = double(data_.size()) / (Util::twopi() * Util::twopi() * sum);
  for (double& v : data_) v *= f;
}

double Prob_phi_2d::probability(const double& phi, const double& psi) const {
  Position p;
  if (!position(phi, psi, p)) return Util::nan();
  return (1.0 - p.fx) * ((1.0 - p.fy) * data_[p.i0 * n_ + p.j0] + p.fy * data_[p.i0 * n_ + p.j1]) +
         p.fx * ((1.0 - p.fy) * data_[p.i1 * n_ + p.j0] + p.fy * data_[p.i1 * n_ + p.j1]);
}

String Prob_phi_2d::format() const {
  String text;
  for (int i = 0; i < n_; ++i) {
    for (int j = 0; j < n_; ++j) {
      if (j % 12 == 0) text += "\n ";
      text += String(std::lrint(data_[i * n_ + j]), 5) + ",";
    }
    text += "//" + String(i, 2);
  }
  return text;
}

void Ramachandran::init(const TYPE type) {
  Prob_phi_2d::init(data::rama_data_size);
  switch (type) {
    case GLYCINE: accumulate(data::rama_gly); break;
    case PROLINE: accumulate(data::rama_pro); break;
    case NON_GLY_PRO: accumulate(data::rama_ngp); break;
    case NON_GLYCINE:
      accumulate(data::rama_ngp);
      accumulate(data::rama_pro);
      break;
    default:
      accumulate(data::rama_ngp);
      accumulate(data::rama_pro);
      accumulate(data::rama_gly);
  }
  normalise();
  set_thresholds(0.01, 0.0005);
}

void Ramachandran::set_thresholds(const double first, const double second) {
  threshold_1_ = first;
  threshold_2_ = second;
}

}  // namespace vantrel
