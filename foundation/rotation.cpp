#include "foundation/rotation.h"

#include <cmath>
#include <initializer_list>

#include "foundation/util.h"

namespace vantrel {

namespace {

// Field width and precision of the angle and quaternion text forms.
constexpr int kWidth = 6;
constexpr int kPrecision = 6;

// The label, then the numbers separated by commas, then ")".
String numbers(const char* label, std::initializer_list<double> values) {
  String text(label);
  const char* separator = "";
  for (const double v : values) {
    text += separator + String(v, kWidth, kPrecision);
    separator = ",";
  }
  return text + ")";
}

// Rotations about z and about y as quaternions.
Rotation about_z(const double a) {
  return Rotation(std::cos(0.5 * a), 0.0, 0.0, std::sin(0.5 * a));
}
Rotation about_y(const double a) {
  return Rotation(std::cos(0.5 * a), 0.0, std::sin(0.5 * a), 0.0);
}

// An angle in (-2 pi, 2 pi] brought into [-pi, pi].
double wrap_pi(const double a) {
  if (a > Util::pi()) return a - Util::twopi();
  if (a < -Util::pi()) return a + Util::twopi();
  return a;
}

}  // namespace

String Euler_ccp4::format() const {
  return numbers("Euler = (", {Util::rad2d(alpha_), Util::rad2d(beta_), Util::rad2d(gamma_)});
}

String Polar_ccp4::format() const {
  return numbers("Polar = (", {Util::rad2d(omega_), Util::rad2d(phi_), Util::rad2d(kappa_)});
}

Rotation::Rotation(const Euler_ccp4& euler) {
  *this = about_z(euler.gamma()) * (about_y(euler.beta()) * about_z(euler.alpha()));
}

Rotation::Rotation(const Polar_ccp4& polar) {
  const double s = std::sin(0.5 * polar.kappa());
  w_ = std::cos(0.5 * polar.kappa());
  x_ = s * std::cos(polar.phi()) * std::sin(polar.omega());
  y_ = s * std::sin(polar.phi()) * std::sin(polar.omega());
  z_ = s * std::cos(polar.omega());
}

Rotation::Rotation(const Mat33<double>& m) {
  // The component of largest magnitude is found first and the others are
  // divided by it: 4w^2 = 1 + trace and 4x^2 = 1 + 2 m00 - trace, etc.
  // Dividing by a small w instead would lose accuracy near half turns.
  const double trace = m(0, 0) + m(1, 1) + m(2, 2);
  if (trace >= m(0, 0) && trace >= m(1, 1) && trace >= m(2, 2) && trace + 1.0 > 1e-8) {
    const double s = std::sqrt(trace + 1.0);
    const double f = 0.5 / s;
    *this = Rotation(0.5 * s, f * (m(2, 1) - m(1, 2)), f * (m(0, 2) - m(2, 0)),
                     f * (m(1, 0) - m(0, 1)));
    return;
  }
  // Vector component i is the largest; j and k follow it cyclically.
  const int i = m(0, 0) > m(1, 1) && m(0, 0) > m(2, 2) ? 0 : (m(1, 1) > m(2, 2) ? 1 : 2);
  const int j = (i + 1) % 3, k = (i + 2) % 3;
  const double s = std::sqrt(m(i, i) + 1.0 - m(j, j) - m(k, k));
  const double f = s == 0.0 ? 0.0 : 0.5 / s;
  double v[3];
  v[i] = 0.5 * s;
  v[j] = f * (m(i, j) + m(j, i));
  v[k] = f * (m(i, k) + m(k, i));
  // Away from half turns w is kept positive, whichever component led.
  const double w = f * (m(k, j) - m(j, k));
  const double sign = trace + 1.0 > 1e-8 && w < 0.0 ? -1.0 : 1.0;
  *this = Rotation(sign * w, sign * v[0], sign * v[1], sign * v[2]);
}

Rotation& Rotation::norm() {
  const double s = w_ * w_ + x_ * x_ + y_ * y_ + z_ * z_;
  if (s < 1e-12) {
    *this = Rotation();
  } else {
    const double f = 1.0 / std::sqrt(s);
    w_ *= f;
    x_ *= f;
    y_ *= f;
    z_ *= f;
  }
  return *this;
}

Mat33<double> Rotation::matrix() const {
  return Mat33<double>(
      1.0 - 2.0 * y_ * y_ - 2.0 * z_ * z_, 2.0 * (x_ * y_ - w_ * z_), 2.0 * (x_ * z_ + w_ * y_),
      2.0 * (x_ * y_ + w_ * z_), 1.0 - 2.0 * x_ * x_ - 2.0 * z_ * z_, 2.0 * (y_ * z_ - w_ * x_),
      2.0 * (x_ * z_ - w_ * y_), 2.0 * (y_ * z_ + w_ * x_), 1.0 - 2.0 * x_ * x_ - 2.0 * y_ * y_);
}

Euler_ccp4 Rotation::euler_ccp4() const {
  const double xy = x_ * x_ + y_ * y_;
  const double cosb = 1.0 - 2.0 * xy;
  const double sinb = 2.0 * std::sqrt(xy * (w_ * w_ + z_ * z_));
  const double beta = std::atan2(sinb, cosb);
  if (sinb > 0.0001)
    return Euler_ccp4(std::atan2(2.0 * (y_ * z_ - w_ * x_), 2.0 * (x_ * z_ + w_ * y_)), beta,
                      std::atan2(2.0 * (y_ * z_ + w_ * x_), 2.0 * (w_ * y_ - x_ * z_)));
  // Gimbal lock: only alpha + gamma (beta near 0) or gamma - alpha (beta near
  // pi) is defined; alpha is set to 0 and gamma carries that angle.
  const double gamma = cosb > 0.0 ? 2.0 * std::atan2(z_, w_) : 2.0 * std::atan2(x_, y_);
  return Euler_ccp4(0.0, beta, wrap_pi(gamma));
}

Polar_ccp4 Rotation::polar_ccp4() const {
  // Within about 0.16 degrees of the identity the axis is undefined.
  if (!(std::fabs(w_) < 0.999999)) return Polar_ccp4(0.0, 0.0, 0.0);
  const double r = std::sqrt(x_ * x_ + y_ * y_);
  const double phi = r > 1e-6 ? std::atan2(y_, x_) : 0.0;
  return Polar_ccp4(std::atan2(r, z_), phi, 2.0 * std::acos(w_));
}

String Rotation::format() const { return numbers("Quaternion wxyz = (", {w_, x_, y_, z_}); }

Rotation operator*(const Rotation& a, const Rotation& b) {
  return Rotation(a.w_ * b.w_ - a.x_ * b.x_ - a.y_ * b.y_ - a.z_ * b.z_,
                  a.w_ * b.x_ + a.x_ * b.w_ + a.z_ * b.y_ - a.y_ * b.z_,
                  a.w_ * b.y_ + a.y_ * b.w_ + a.x_ * b.z_ - a.z_ * b.x_,
                  a.w_ * b.z_ + a.z_ * b.w_ + a.y_ * b.x_ - a.x_ * b.y_);
}

}  // namespace vantrel
