#include "symmetry/cell.h"

#include <cmath>
#include <iostream>

namespace vantrel {

namespace {

//! Cell angles above pi can only be degrees.
double to_radians(const double& angle) { return angle > Util::onepi_ ? Util::d2rad(angle) : angle; }

//! Angle between two reciprocal axes from the real angles: for alpha*
//! (x, y, z) = (alpha, beta, gamma), and cyclically.
double reciprocal_angle(const double& x, const double& y, const double& z) {
  return std::acos((std::cos(y) * std::cos(z) - std::cos(x)) / (std::sin(y) * std::sin(z)));
}

}  // namespace

Cell_descr::Cell_descr()
    : a_(Util::nan()),
      b_(Util::nan()),
      c_(Util::nan()),
      alpha_(Util::nan()),
      beta_(Util::nan()),
      gamma_(Util::nan()) {}

Cell_descr::Cell_descr(const double& a, const double& b, const double& c, const double& alpha,
                       const double& beta, const double& gamma)
    : a_(a),
      b_(b),
      c_(c),
      alpha_(to_radians(alpha)),
      beta_(to_radians(beta)),
      gamma_(to_radians(gamma)) {}

String Cell_descr::format() const {
  return " Cell (" + String(a_, 6, 6) + "," + String(b_, 6, 6) + "," + String(c_, 6, 6) + "," +
         String(alpha_deg(), 6, 6) + "," + String(beta_deg(), 6, 6) + "," +
         String(gamma_deg(), 6, 6) + ")";
}

Metric_tensor::Metric_tensor()
    : m00_(Util::nan()),
      m11_(Util::nan()),
      m22_(Util::nan()),
      m01_(Util::nan()),
      m02_(Util::nan()),
      m12_(Util::nan()) {}

Metric_tensor::Metric_tensor(const double& p, const double& q, const double& r, const double& alpha,
                             const double& beta, const double& gamma)
    : m00_(p * p),
      m11_(q * q),
      m22_(r * r),
      m01_(2.0 * p * q * std::cos(gamma)),
      m02_(2.0 * p * r * std::cos(beta)),
      m12_(2.0 * q * r * std::cos(alpha)) {}

String Metric_tensor::format() const {
  return "m00=" + String(m00_, 6, 6) + " m11=" + String(m11_, 6, 6) + " m22=" + String(m22_, 6, 6) +
         " m01=" + String(m01_, 6, 6) + " m02=" + String(m02_, 6, 6) + " m12=" + String(m12_, 6, 6);
}

Cell::Cell() { clear_derived(); }

Cell::Cell(const Cell_descr& descr) { init(descr); }

void Cell::init(const Cell_descr& descr) {
  Cell_descr::operator=(descr);
  const double ca = std::cos(alpha_), cb = std::cos(beta_), cg = std::cos(gamma_);
  volume_ = a_ * b_ * c_ * std::sqrt(1.0 - ca * ca - cb * cb - cg * cg + 2.0 * ca * cb * cg);
  // Impossible angles give NaN, which must count as null too; so must two
  // negative edges (a positive volume) and infinite or missing numbers.
  const bool edges_ok = a_ > 0.0 && b_ > 0.0 && c_ > 0.0 && std::isfinite(a_) &&
                        std::isfinite(b_) && std::isfinite(c_);
  const bool angles_ok = std::isfinite(alpha_) && std::isfinite(beta_) && std::isfinite(gamma_);
  if (!edges_ok || !angles_ok || !(volume_ > 0.0) || !std::isfinite(volume_)) {
    clear_derived();
    return;
  }

  const double sb = std::sin(beta_), sg = std::sin(gamma_), as = alpha_star();
  orth_ = Mat33<>(a_, b_ * cg, c_ * cb, 0.0, b_ * sg, -c_ * sb * std::cos(as), 0.0, 0.0,
                  c_ * sb * std::sin(as));
  frac_ = orth_.inverse();
  realmetric_ = Metric_tensor(a_, b_, c_, alpha_, beta_, gamma_);
  recimetric_ = Metric_tensor(a_star(), b_star(), c_star(), as, beta_star(), gamma_star());
}

void Cell::clear_derived() {
  volume_ = 0.0;
  orth_ = frac_ = Mat33<>::null();
  realmetric_ = recimetric_ = Metric_tensor();
}

bool Cell::equals(const Cell& other, const double tol) const {
  if (is_null() || other.is_null()) return false;
  double s = 0.0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) s += Util::sqr(frac_(i, j) - other.frac_(i, j));
  return s < tol * tol / std::pow(volume_, 1.333);
}

double Cell::a_star() const { return b_ * c_ * std::sin(alpha_) / volume_; }
double Cell::b_star() const { return c_ * a_ * std::sin(beta_) / volume_; }
double Cell::c_star() const { return a_ * b_ * std::sin(gamma_) / volume_; }
double Cell::alpha_star() const { return reciprocal_angle(alpha_, beta_, gamma_); }
double Cell::beta_star() const { return reciprocal_angle(beta_, gamma_, alpha_); }
double Cell::gamma_star() const { return reciprocal_angle(gamma_, alpha_, beta_); }

void Cell::debug() const {
  std::cout << format() << "\n";
  std::cout << "Vol" << volume_ << "\n";
  std::cout << "Orth mat\n" << orth_.format() << "\n";
  std::cout << "Frac mat\n" << frac_.format() << "\n";
  std::cout << "Prod mat\n" << (orth_ * frac_).format() << "\n";
  std::cout << "Real metric " << realmetric_.format() << "\n";
  std::cout << "Reci metric " << recimetric_.format() << "\n";
}

}  // namespace vantrel
