#include "rotations/euler.h"

#include <cmath>

#include "foundation/util.h"

namespace vantrel {

namespace {

// Below this sin(beta) a proper Euler rotation is treated as gimbal-locked.
constexpr double kProperGimbal = 0.0001;
// Tait-Bryan: the undetermined half-angle combination has a weight below
// this fraction of the quaternion's length; rounding noise is about 1e-16,
// and dropping the combination moves the rotation by at most this much.
constexpr double kTaitBryanGimbal = 1e-14;

struct Convention {
  int first, second, third, frame;
};

template <int N> Convention convention() {
  Convention c;
  Euler<N>::params(c.first, c.second, c.third, c.frame);
  return c;
}

double component(const Rotation& q, const int axis) {
  return axis == 0 ? q.x() : (axis == 1 ? q.y() : q.z());
}

// The right-handed turn by angle about a coordinate axis.
Rotation about(const int axis, const double angle) {
  const double s = std::sin(0.5 * angle);
  return Rotation(std::cos(0.5 * angle), axis == 0 ? s : 0.0, axis == 1 ? s : 0.0,
                  axis == 2 ? s : 0.0);
}

// An angle in (-3 pi, 3 pi) brought into [-pi, pi].
double wrap(const double a) {
  if (a > Util::pi()) return a - Util::twopi();
  if (a < -Util::pi()) return a + Util::twopi();
  return a;
}

// True when axes a, b follow each other in the cyclic order x, y, z.
bool cyclic(const int a, const int b) { return b == (a + 1) % 3; }

Rotation compose(const Convention& c, const double alpha, const double beta, const double gamma) {
  const Rotation q1 = about(c.first, alpha), q2 = about(c.second, beta), q3 = about(c.third, gamma);
  // The library product a * b is the Hamilton product b a (a, then b):
  // static frame q3 q2 q1, matrix R3 R2 R1; rotating q1 q2 q3, R1 R2 R3.
  return c.frame == 1 ? q1 * (q2 * q3) : q3 * (q2 * q1);
}

// At gimbal lock q is the Hamilton product q2(beta) r, r a turn about
// `axis`; r = conj(q2) q, and its angle about that axis is returned.
double remaining_turn(const Rotation& q, const int second, const double beta, const int axis) {
  const Rotation r = q * about(second, -beta);
  return wrap(2.0 * std::atan2(component(r, axis), r.w()));
}

// First = third axis. p, q, t: the remaining, middle and shared components,
// p negated when middle, shared, remaining are not in cyclic order.
void extract_proper(const Convention& c, const Rotation& rot, double& alpha, double& beta,
                    double& gamma) {
  const int shared = c.first, middle = c.second, remaining = 3 - shared - middle;
  const double p = cyclic(middle, shared) ? component(rot, remaining) : -component(rot, remaining);
  const double q = component(rot, middle);
  const double t = component(rot, shared);
  const double w = rot.w();
  const double pq = p * p + q * q;
  const double cosb = 1.0 - 2.0 * pq;
  const double sinb = 2.0 * std::sqrt(pq * (w * w + t * t));
  beta = std::atan2(sinb, cosb);
  double phi, psi;
  if (sinb <= kProperGimbal) {
    phi = 0.0;
    psi = remaining_turn(rot, middle, beta, shared);
  } else {
    phi = std::atan2(2.0 * (t * q - p * w), 2.0 * (t * p + q * w));
    psi = std::atan2(2.0 * (t * q + p * w), 2.0 * (q * w - t * p));
  }
  alpha = c.frame == 1 ? psi : phi;
  gamma = c.frame == 1 ? phi : psi;
}

// Three different axes. The components a, b, c along the first, second and
// third axis turn every convention into the static x, y, z one: a is negated
// when the axes are not in cyclic order and again for a rotating frame, and
// alpha then changes sign with a.
void extract_tait_bryan(const Convention& cv, const Rotation& rot, double& alpha, double& beta,
                        double& gamma) {
  const double s = (cyclic(cv.first, cv.second) ? 1.0 : -1.0) * (cv.frame != 1 ? -1.0 : 1.0);
  const double a = s * component(rot, cv.first);
  const double b = component(rot, cv.second);
  const double c = component(rot, cv.third);
  const double w = rot.w();
  // For the static x, y, z turn (w, a, b, c) by A = alpha/2, B = beta/2,
  // C = gamma/2: w + b and a - c are (cos B + sin B) times cos and sin of
  // A - C; w - b and a + c are (cos B - sin B) times cos and sin of A + C.
  // Half-angle sums and differences keep full accuracy up to gimbal lock,
  // where products of components cancel.
  const double hp = std::hypot(w + b, a - c);
  const double hm = std::hypot(w - b, a + c);
  const double sum = std::atan2(a + c, w - b);
  const double diff = std::atan2(a - c, w + b);
  // sin beta = 2(b w - c a) and cos beta = hp hm for a unit quaternion; the
  // product never leaves [0, 1], where 1 - sin^2 can turn negative.
  beta = std::atan2(2.0 * (b * w - c * a), hp * hm);
  // At beta = pi/2 (hm = 0) only A - C is defined, at -pi/2 only A + C. As
  // for proper Euler angles, the angle whose turn comes first in the Hamilton
  // product (alpha rotating, gamma static) is then set to 0.
  const bool zero_alpha = cv.frame != 1;
  double alpha_s;
  if (hm <= kTaitBryanGimbal * hp) {
    alpha_s = zero_alpha ? 0.0 : wrap(2.0 * diff);
    gamma = zero_alpha ? wrap(-2.0 * diff) : 0.0;
  } else if (hp <= kTaitBryanGimbal * hm) {
    alpha_s = zero_alpha ? 0.0 : wrap(2.0 * sum);
    gamma = zero_alpha ? wrap(2.0 * sum) : 0.0;
  } else {
    alpha_s = wrap(sum + diff);
    gamma = wrap(sum - diff);
  }
  alpha = s * alpha_s;
}

}  // namespace

template <int N> void Euler<N>::params(int& first, int& second, int& third, int& frame) {
  // Axis triples in the order of the convention numbers (N = 2k + frame).
  static constexpr int kAxes[12][3] = {{0, 1, 2}, {0, 1, 0}, {0, 2, 0}, {0, 2, 1},
                                       {1, 2, 0}, {1, 2, 1}, {1, 0, 1}, {1, 0, 2},
                                       {2, 0, 1}, {2, 0, 2}, {2, 1, 2}, {2, 1, 0}};
  first = kAxes[N / 2][0];
  second = kAxes[N / 2][1];
  third = kAxes[N / 2][2];
  frame = N % 2;
}

template <int N> Euler<N>::Euler(const Rotation& rotation) {
  const Convention c = convention<N>();
  if (c.first == c.third)
    extract_proper(c, rotation, alpha_, beta_, gamma_);
  else
    extract_tait_bryan(c, rotation, alpha_, beta_, gamma_);
  // Adding +0 turns a negative zero (from a sign flip or a -0 component)
  // into +0, so that the text form never shows "-0".
  alpha_ += 0.0;
  beta_ += 0.0;
  gamma_ += 0.0;
}

template <int N> Rotation Euler<N>::rotation() const {
  return compose(convention<N>(), alpha_, beta_, gamma_);
}

template <int N> String Euler<N>::format() const {
  const Convention c = convention<N>();
  String text("Euler");
  text += "XYZ"[c.first];
  text += "XYZ"[c.second];
  text += "XYZ"[c.third];
  text += "rs"[c.frame];
  text += " = (";
  text += String(Util::rad2d(alpha_), 6, 6) + ",";
  text += String(Util::rad2d(beta_), 6, 6) + ",";
  text += String(Util::rad2d(gamma_), 6, 6) + ")";
  return text;
}

template class Euler<0>;
template class Euler<1>;
template class Euler<2>;
template class Euler<3>;
template class Euler<4>;
template class Euler<5>;
template class Euler<6>;
template class Euler<7>;
template class Euler<8>;
template class Euler<9>;
template class Euler<10>;
template class Euler<11>;
template class Euler<12>;
template class Euler<13>;
template class Euler<14>;
template class Euler<15>;
template class Euler<16>;
template class Euler<17>;
template class Euler<18>;
template class Euler<19>;
template class Euler<20>;
template class Euler<21>;
template class Euler<22>;
template class Euler<23>;

}  // namespace vantrel
