#include "foundation/util.h"

namespace vantrel {

double Util::sim(const double& x) {
  if (x >= 0.0) return (((x + sim_a) * x + sim_b) * x) / (((x + sim_c) * x + sim_d) * x + sim_e);
  // Odd continuation, written out for negative (and NaN) arguments.
  return (x * x * x - sim_a * x * x + sim_b * x) / (-x * x * x + sim_c * x * x - sim_d * x + sim_e);
}

// Closed-form root of the cubic x^3 + A2 x^2 + A1 x + A0 = 0 that sim(x) = |y|
// reduces to, A2 = a - c|y| ... divided by 1 - |y|.
double Util::invsim(const double& y) {
  const double y1 = std::fabs(y);
  const double w = 1.0 - y1;
  const double p = (sim_a - sim_c * y1) / (3.0 * w);
  const double q = (sim_b - sim_d * y1) / (3.0 * w) - p * p;
  const double r = -p * p * p + 0.5 * ((sim_b - sim_d * y1) * p + sim_e * y1) / w;
  const double s = std::sqrt(r * r + q * q * q);
  // Real cube root, negative for t <= 0.
  const auto cube_root = [](const double t) {
    const double c = std::pow(std::fabs(t), 0.3333333333333333);
    return t > 0.0 ? c : -c;
  };
  const double x = cube_root(r + s) + cube_root(r - s) - p;
  return y >= 0.0 ? x : -x;
}

double Util::sim_integ(const double& x) {
  const double y = std::fabs(x);
  const double t = (y + sim_p) / sim_q;
  return y + sim_A * std::log(y + sim_g) + 0.5 * sim_B * std::log(1.0 + t * t) +
         sim_r * std::atan(t) + 1.0;
}

double Util::sim_deriv(const double& x) {
  const double y = std::fabs(x);
  const double y2 = y * y;
  const double num = (sim_c - sim_a) * y2 * y2 + 2.0 * (sim_d - sim_b) * y2 * y +
                     (3.0 * sim_e + sim_a * sim_d - sim_b * sim_c) * y2 + 2.0 * sim_a * sim_e * y +
                     sim_b * sim_e;
  const double den = ((y + sim_c) * y + sim_d) * y + sim_e;
  return num / (den * den);
}

double Util::sim_deriv_recur(const double& x) {
  const double y = std::fabs(x);
  const double s = sim(y);
  if (y > 0.0001) return 1.0 - s * s - s / y;
  return 0.5 - s * s;
}

double Util::bessel_i0(const double& x) {
  const double y = std::fabs(x);
  const double t = y / 3.75;
  if (t < 1.0) {
    const double u = t * t;
    return 1.0 + u * (3.5156229 +
                      u * (3.0899424 +
                           u * (1.2067492 + u * (0.2659732 + u * (0.0360768 + u * 0.0045813)))));
  }
  const double v = 3.75 / y;
  const double poly =
      0.39894228 +
      v * (0.01328592 +
           v * (0.00225319 +
                v * (-0.00157565 +
                     v * (0.00916281 +
                          v * (-0.02057706 +
                               v * (0.02635537 + v * (-0.01647633 + v * 0.00392377)))))));
  return std::exp(y) / std::sqrt(y) * poly;
}

}  // namespace vantrel
