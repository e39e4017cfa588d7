#include "reflections/basis_fn.h"

#include <algorithm>
#include <cmath>

#include "foundation/util.h"

namespace vantrel {

// ------------------------------------------------------------ ordinal

template <class Walk> void Resolution_ordinal::init_from(const Walk& walk, const double& power) {
  Range<double> range;
  walk([&](const double& q) { range.include(q); });
  Generic_ordinal::init(range, 1000);
  walk([&](const double& q) { accumulate(q); });
  prep_ordinal();
  const double exponent = 1.0 / power;
  for (double& t : hist) t = std::pow(t, exponent);
}

void Resolution_ordinal::init(const HKL_info& hkl_info, const double& power) {
  init_from(
      [&](auto&& use) {
        for (int i = 0; i < hkl_info.num_reflections(); ++i) use(hkl_info.invresolsq(i));
      },
      power);
}

void Resolution_ordinal::init(const HKL_data_base& hkl_data, const double& power) {
  const HKL_info& hkl_info = hkl_data.base_hkl_info();
  init_from(
      [&](auto&& use) {
        for (HKL_info::HKL_reference_index ih = hkl_data.first_data(); !ih.last();
             hkl_data.next_data(ih))
          use(hkl_info.invresolsq(ih.index()));
      },
      power);
}

void Resolution_ordinal::init(const HKL_data_base& hkl_data, const Cell& cell,
                              const double& power) {
  init_from(
      [&](auto&& use) {
        for (HKL_info::HKL_reference_index ih = hkl_data.first_data(); !ih.last();
             hkl_data.next_data(ih))
          use(ih.hkl().invresolsq(cell));
      },
      power);
}

namespace {

// Integer part of a bin position. A missing (NaN or infinite) position,
// which a degenerate ordinal can give, counts as position 0.
double finite_or_zero(const double& x) { return Util::is_nan(x) ? 0.0 : x; }

// f = exp(c . p), df = f c, df2 = f c c^T.
void exp_fderiv(BasisFn_base::Fderiv& r, const double* c, const std::vector<double>& params) {
  const int n = int(r.df.size());
  double x = 0.0;
  for (int j = 0; j < n; ++j) x += c[j] * params[j];
  r.f = std::exp(x);
  for (int j = 0; j < n; ++j) r.df[j] = r.f * c[j];
  for (int j = 0; j < n; ++j)
    for (int k = 0; k < n; ++k) r.df2(j, k) = r.f * c[j] * c[k];
}

// f = c . p, df = c; the curvature stays zero.
void linear_fderiv(BasisFn_base::Fderiv& r, const double* c, const std::vector<double>& params) {
  const int n = int(r.df.size());
  r.f = 0.0;
  for (int j = 0; j < n; ++j) {
    r.f += c[j] * params[j];
    r.df[j] = c[j];
  }
}

// Coefficients of the anisotropic exponent p0 - s^T P s.
void aniso_coeffs(const Coord_reci_orth& s, double* c) {
  c[0] = 1.0;
  c[1] = -s[0] * s[0];
  c[2] = -s[1] * s[1];
  c[3] = -s[2] * s[2];
  c[4] = -2.0 * s[0] * s[1];
  c[5] = -2.0 * s[0] * s[2];
  c[6] = -2.0 * s[1] * s[2];
}

U_aniso_orth u_from_params(const std::vector<double>& p) {
  const double k = Util::twopi2();
  return U_aniso_orth(p[1] / k, p[2] / k, p[3] / k, p[4] / k, p[5] / k, p[6] / k);
}

}  // namespace

// ------------------------------------------------------------ binner

BasisFn_binner::BasisFn_binner(const HKL_info& hkl_info, const int& n, const double power)
    : BasisFn_base(n) {
  ordinal_.init(hkl_info, power);
}

BasisFn_binner::BasisFn_binner(const HKL_data_base& hkl_data, const int& n, const double power)
    : BasisFn_base(n) {
  ordinal_.init(hkl_data, hkl_data.base_cell(), power);
}

int BasisFn_binner::bin(const double& s) const {
  const double x = finite_or_zero(num_params_ * ordinal_.ordinal(s));
  return Util::bound(0, int(std::floor(x)), num_params_ - 1);
}

double BasisFn_binner::f_s(const double& s, const std::vector<double>& params) const {
  return params[bin(s)];
}

const BasisFn_base::Fderiv& BasisFn_binner::fderiv_s(const double& s,
                                                     const std::vector<double>& params) const {
  const int i = bin(s);
  std::fill(result_.df.begin(), result_.df.end(), 0.0);
  result_.f = params[i];
  result_.df[i] = 1.0;
  return result_;
}

// ------------------------------------------------------------ spline

BasisFn_spline::BasisFn_spline(const HKL_info& hkl_info, const int& n, const double power)
    : BasisFn_base(n) {
  ordinal_.init(hkl_info, power);
}

BasisFn_spline::BasisFn_spline(const HKL_data_base& hkl_data, const int& n, const double power)
    : BasisFn_base(n) {
  ordinal_.init(hkl_data, hkl_data.base_cell(), power);
}

BasisFn_spline::Knots BasisFn_spline::knots(const double& s) const {
  const double x = finite_or_zero(num_params_ * ordinal_.ordinal(s));
  const int i0 = int(std::floor(x));
  const double t = x - i0 - 0.5;
  Knots k;
  k.i = Util::bound(0, i0, num_params_ - 1);
  k.im = Util::max(k.i - 1, 0);
  k.ip = Util::min(k.i + 1, num_params_ - 1);
  k.w_im = 0.5 * (t - 0.5) * (t - 0.5);
  k.w_i = 0.75 - t * t;
  k.w_ip = 0.5 * (t + 0.5) * (t + 0.5);
  return k;
}

double BasisFn_spline::f_s(const double& s, const std::vector<double>& params) const {
  const Knots k = knots(s);
  return k.w_i * params[k.i] + k.w_im * params[k.im] + k.w_ip * params[k.ip];
}

const BasisFn_base::Fderiv& BasisFn_spline::fderiv_s(const double& s,
                                                     const std::vector<double>& params) const {
  const Knots k = knots(s);
  std::fill(result_.df.begin(), result_.df.end(), 0.0);
  result_.f = k.w_i * params[k.i] + k.w_im * params[k.im] + k.w_ip * params[k.ip];
  result_.df[k.im] += k.w_im;
  result_.df[k.i] += k.w_i;
  result_.df[k.ip] += k.w_ip;
  return result_;
}

// ------------------------------------------------------------ Gaussians

const BasisFn_base::Fderiv& BasisFn_gaussian::fderiv_s(const double& s,
                                                       const std::vector<double>& params) const {
  const double c[2] = {1.0, -s};
  exp_fderiv(result_, c, params);
  return result_;
}

double BasisFn_gaussian::scale(const std::vector<double>& params) const {
  return std::exp(params[0]);
}

double BasisFn_gaussian::u_iso(const std::vector<double>& params) const {
  return params[1] / Util::twopi2();
}

const BasisFn_base::Fderiv& BasisFn_aniso_gaussian::fderiv_coord(
    const Coord_reci_orth& s, const std::vector<double>& params) const {
  double c[7];
  aniso_coeffs(s, c);
  exp_fderiv(result_, c, params);
  return result_;
}

double BasisFn_aniso_gaussian::scale(const std::vector<double>& params) const {
  return std::exp(params[0]);
}

U_aniso_orth BasisFn_aniso_gaussian::u_aniso_orth(const std::vector<double>& params) const {
  return u_from_params(params);
}

const BasisFn_base::Fderiv& BasisFn_log_gaussian::fderiv_s(
    const double& s, const std::vector<double>& params) const {
  const double c[2] = {1.0, -s};
  linear_fderiv(result_, c, params);
  return result_;
}

double BasisFn_log_gaussian::scale(const std::vector<double>& params) const {
  return std::exp(params[0]);
}

double BasisFn_log_gaussian::u_iso(const std::vector<double>& params) const {
  return params[1] / Util::twopi2();
}

const BasisFn_base::Fderiv& BasisFn_log_aniso_gaussian::fderiv_coord(
    const Coord_reci_orth& s, const std::vector<double>& params) const {
  double c[7];
  aniso_coeffs(s, c);
  linear_fderiv(result_, c, params);
  return result_;
}

double BasisFn_log_aniso_gaussian::scale(const std::vector<double>& params) const {
  return std::exp(params[0]);
}

U_aniso_orth BasisFn_log_aniso_gaussian::u_aniso_orth(const std::vector<double>& params) const {
  return u_from_params(params);
}

const BasisFn_base::Fderiv& BasisFn_expcubic::fderiv_s(const double& s,
                                                       const std::vector<double>& params) const {
  const double c[4] = {1.0, -s, s * s, -s * s * s};
  exp_fderiv(result_, c, params);
  return result_;
}

}  // namespace vantrel
