#include "reflections/resolution_fn.h"

#include <iostream>

#include "foundation/util.h"

namespace vantrel {

namespace {

bool all_finite(const std::vector<double>& v) {
  for (const double x : v)
    if (Util::is_nan(x)) return false;
  return true;
}

double norm(const std::vector<double>& v) {
  double sum = 0.0;
  for (const double x : v) sum += x * x;
  return std::sqrt(sum);
}

// The Newton shift, the solution of dr2s shift = drs. A singular curvature
// (a parameter no reflection constrains, or parameters that depend on each
// other) gives a non-finite solution; the diagonal is then raised by growing
// fractions of its mean magnitude, which leaves an unconstrained parameter
// where it is. A step that cannot be made finite is skipped.
std::vector<double> newton_shift(const Matrix<double>& dr2s, const std::vector<double>& drs) {
  std::vector<double> shift = dr2s.solve(drs);
  if (all_finite(shift)) return shift;
  const int n = dr2s.rows();
  double diag = 0.0;
  for (int j = 0; j < n; ++j) diag += std::fabs(dr2s(j, j));
  diag = diag > 0.0 ? diag / n : 1.0;
  for (double mu = 1e-9; mu <= 1.0; mu *= 100.0) {
    Matrix<double> damped(dr2s);
    for (int j = 0; j < n; ++j) damped(j, j) += mu * diag;
    shift = damped.solve(drs);
    if (all_finite(shift)) return shift;
  }
  return std::vector<double>(n, 0.0);
}

// Weight of a reflection: 2/eps acentric, 1/eps centric; 0 for a
// systematic absence (eps 0), which carries no data.
double reflection_weight(const HKL_class& cls) {
  return cls.is_absent() ? 0.0 : 2.0 / cls.epsilon_centric();
}

}  // namespace

// ------------------------------------------------------------ target check

void TargetFn_base::debug(const HKL_info& hkl_info) const {
  const double dx = 0.0001;
  for (HKL_info::HKL_reference_index ih = hkl_info.first(); !ih.last(); ih.next()) {
    if (ih.index() % 100 != 0) continue;
    for (double x = 0.1; x < 10.0; x *= 3.15) {
      const Rderiv lo = rderiv(ih, x - dx), mid = rderiv(ih, x), hi = rderiv(ih, x + dx);
      std::cout << ih.hkl().format() << " " << x << " val " << mid.r << " grad " << mid.dr << " "
                << (hi.r - lo.r) / (2.0 * dx) << " curv " << mid.dr2 << " "
                << (hi.dr - lo.dr) / (2.0 * dx) << " " << (hi.r + lo.r - 2.0 * mid.r) / 1e-8
                << "\n";
    }
  }
}

// ------------------------------------------------------------ fit

ResolutionFn::ResolutionFn(Unfitted, const HKL_info& hkl_info, const BasisFn_base& basisfn,
                           const TargetFn_base& targetfn, const std::vector<double>& params)
    : hkl_info_(&hkl_info),
      targetfn_(&targetfn),
      basisfn_(&basisfn),
      params_(params),
      cell_(hkl_info.cell()) {
  params_.resize(basisfn.num_params(), 0.0);
}

ResolutionFn::ResolutionFn(const HKL_info& hkl_info, const BasisFn_base& basisfn,
                           const TargetFn_base& targetfn, const std::vector<double>& params,
                           const double damp, const bool debug)
    : ResolutionFn(Unfitted(), hkl_info, basisfn, targetfn, params) {
  fit_linear(damp, debug);
}

void ResolutionFn::calc_derivs(const std::vector<double>& params, double& r,
                               std::vector<double>& drs, Matrix<double>& dr2s) const {
  const int n = basisfn_->num_params();
  const int m = basisfn_->num_diagonals();
  r = 0.0;
  drs.assign(n, 0.0);
  dr2s = Matrix<double>(n, n);
  for (HKL_info::HKL_reference_index ih = hkl_info_->first(); !ih.last(); ih.next()) {
    const double w = reflection_weight(ih.hkl_class());
    if (w == 0.0) continue;
    const BasisFn_base::Fderiv& fd = basisfn_->fderiv(ih.hkl(), cell_, params);
    const TargetFn_base::Rderiv rd = targetfn_->rderiv(ih, fd.f);
    r += w * rd.r;
    for (int j = 0; j < n; ++j) drs[j] += w * rd.dr * fd.df[j];
    for (int j = 0; j < n; ++j) {
      const int k0 = m >= 1 ? Util::max(0, j - m + 1) : 0;
      const int k1 = m >= 1 ? Util::min(n - 1, j + m - 1) : n - 1;
      for (int k = k0; k <= k1; ++k)
        dr2s(j, k) += w * (rd.dr2 * fd.df[j] * fd.df[k] + rd.dr * fd.df2(j, k));
    }
  }
}

double ResolutionFn::residual(const std::vector<double>& params) const {
  double r = 0.0;
  for (HKL_info::HKL_reference_index ih = hkl_info_->first(); !ih.last(); ih.next()) {
    const double w = reflection_weight(ih.hkl_class());
    if (w == 0.0) continue;
    r += w * targetfn_->rderiv(ih, basisfn_->f(ih.hkl(), cell_, params)).r;
  }
  return r;
}

void ResolutionFn::fit_linear(const double& damp, const bool& debug) {
  const int n = basisfn_->num_params();
  const bool one_step = basisfn_->type() == 1 && targetfn_->type() == 1;
  std::vector<double> drs;
  Matrix<double> dr2s;
  double r, g_prev = 1e25;
  for (int cycle = 0; cycle < 20; ++cycle) {
    calc_derivs(params_, r, drs, dr2s);
    const double g = norm(drs);
    // Also stops on a non-finite gradient, which !(g < g_prev) catches.
    if (g < 1e-10 || !(g < g_prev)) break;
    const std::vector<double> shift = newton_shift(dr2s, drs);
    const double lambda = (cycle + 1) / (cycle + 1 + damp);
    for (int j = 0; j < n; ++j) params_[j] -= lambda * shift[j];
    if (debug)
      std::cout << " Resolution function cycle " << cycle << " " << g << " " << g << " " << lambda
                << "\n";
    if (one_step) break;
    g_prev = g;
  }
}

ResolutionFn_nonlinear::ResolutionFn_nonlinear(const HKL_info& hkl_info,
                                               const BasisFn_base& basisfn,
                                               const TargetFn_base& targetfn,
                                               const std::vector<double>& params, const double damp,
                                               const bool debug)
    : ResolutionFn(Unfitted(), hkl_info, basisfn, targetfn, params) {
  const int n = basisfn.num_params();
  std::vector<double> drs;
  Matrix<double> dr2s;
  for (int cycle = 0; cycle < 20; ++cycle) {
    const std::vector<double> p0 = params_;
    double r0;
    calc_derivs(p0, r0, drs, dr2s);
    std::vector<double> shift = newton_shift(dr2s, drs);
    const double grad = norm(drs), size = norm(shift);
    double descent = 0.0;
    for (int j = 0; j < n; ++j) descent += drs[j] * shift[j];
    // Not a descent direction: follow the gradient, as far as Newton would.
    if (descent < 0.0)
      for (int j = 0; j < n; ++j) shift[j] = size * drs[j] / grad;

    if (debug) {
      std::cout << "\nResolution function cycle: " << cycle << "\n";
      if (descent < 0.0) std::cout << " Using scaled grad " << size / grad << "\n";
      std::cout << " Gradient " << grad << "\n";
      for (int j = 0; j < n; ++j) {
        for (int k = 0; k < n; ++k) std::cout << " " << dr2s(j, k);
        std::cout << "\n";
      }
      for (int j = 0; j < n; ++j)
        std::cout << " " << j << " " << params_[j] << " " << drs[j] << " " << shift[j] << "\n";
    }

    double step = (cycle + 1) / (cycle + 1 + damp);
    double r1 = r0;
    for (int trial = 0; trial < 20; ++trial) {
      for (int j = 0; j < n; ++j) params_[j] = p0[j] - step * shift[j];
      r1 = residual(params_);
      step *= 0.5;
      if (!Util::is_nan(r1) && r1 - r0 <= 0.0) break;
    }
    if (debug)
      std::cout << " Resolution function cycle " << cycle << " " << r0 << " " << r1 << " " << step
                << "\n";
    if (std::fabs(r1 - r0) < 1e-10) break;
  }
}

}  // namespace vantrel
