#include "calculations/sfscale.h"

#include <cmath>

#include "foundation/message.h"
#include "reflections/basis_fn.h"
#include "reflections/resolution_fn.h"

namespace vantrel {

namespace {

using datatypes::F_phi;
using datatypes::F_sigF;

constexpr int kIsotropicCycles = 3;
constexpr int kReferenceParams = 12;

// The P1 list of every reflection to the observed list's resolution.
HKL_info p1_list(const HKL_data_base& fo) {
  const HKL_info& hkls = fo.base_hkl_info();
  return HKL_info(Spacegroup(Spacegroup::P1), hkls.cell(), hkls.resolution(), true);
}

// The P1 observations that pass the sigma test into fo1 (and, when given,
// the calculated values at the same reflections into fc1).
template <class T>
void select_p1(const HKL_data<F_sigF<T>>& fo, const double& nsig, HKL_data<F_sigF<T>>& fo1,
               const HKL_data<F_phi<T>>* fc, HKL_data<F_phi<T>>* fc1) {
  for (HKL_info::HKL_reference_index ih = fo1.first(); !ih.last(); ih.next()) {
    const F_sigF<T> o = fo[ih.hkl()];
    if (o.missing() || !(o.f() >= nsig * o.sigf())) continue;
    fo1[ih] = o;
    if (fc != nullptr) (*fc1)[ih] = (*fc)[ih.hkl()];
  }
}

// exp(f(h)/2) at reflection ih of a list, in that list's cell.
double factor(const BasisFn_log_aniso_gaussian& basis, const std::vector<double>& params,
              const HKL_info::HKL_reference_index& ih, const Cell& cell) {
  return std::exp(0.5 * basis.f(ih.hkl(), cell, params));
}

// The Gaussian fitted to log(F1^2/F2^2) over the P1 observations passing the
// sigma test: F1 = fo, F2 = fc, or the other way round when calc_onto_obs.
template <class T>
std::vector<double> fit_ratio(const HKL_data<F_sigF<T>>& fo, const HKL_data<F_phi<T>>& fc,
                              const double& nsig, const bool calc_onto_obs,
                              const BasisFn_log_aniso_gaussian& basis) {
  const HKL_info p1 = p1_list(fo);
  HKL_data<F_sigF<T>> fo1(p1);
  HKL_data<F_phi<T>> fc1(p1);
  select_p1(fo, nsig, fo1, &fc, &fc1);
  const std::vector<double> start(7, 0.0);
  if (calc_onto_obs) {
    const TargetFn_scaleLogF1F2<F_phi<T>, F_sigF<T>> target(fc1, fo1);
    return ResolutionFn(p1, basis, target, start, 0.0, false).params();
  }
  const TargetFn_scaleLogF1F2<F_sigF<T>, F_phi<T>> target(fo1, fc1);
  return ResolutionFn(p1, basis, target, start, 0.0, false).params();
}

template <class T>
void scale_present(HKL_data<F_sigF<T>>& fo, const BasisFn_log_aniso_gaussian& basis,
                   const std::vector<double>& params) {
  const Cell& cell = fo.base_hkl_info().cell();
  for (HKL_info::HKL_reference_index ih = fo.first_data(); !ih.last(); fo.next_data(ih)) {
    const double k = factor(basis, params, ih, cell);
    fo[ih] = F_sigF<T>(T(fo[ih].f() * k), T(fo[ih].sigf() * k));
  }
}

}  // namespace

template <class T>
bool SFscale_aniso<T>::operator()(HKL_data<F_sigF<T>>& fo, const HKL_data<F_phi<T>>& fc) {
  const BasisFn_log_aniso_gaussian basis;
  const std::vector<double> params = fit_ratio(fo, fc, nsig_, false, basis);
  scale_present(fo, basis, params);
  u_ = basis.u_aniso_orth(params);
  return true;
}

template <class T>
bool SFscale_aniso<T>::operator()(HKL_data<F_phi<T>>& fc, const HKL_data<F_sigF<T>>& fo) {
  if (fc.is_null() || fo.is_null() || &fc.base_hkl_info() != &fo.base_hkl_info())
    fatal("SFscale_aniso: calculated and observed data must be over one reflection list");
  const BasisFn_log_aniso_gaussian basis;
  const std::vector<double> params = fit_ratio(fo, fc, nsig_, true, basis);
  const Cell& cell = fo.base_hkl_info().cell();
  for (HKL_info::HKL_reference_index ih = fc.first_data(); !ih.last(); fc.next_data(ih))
    fc[ih].f() = T(fc[ih].f() * factor(basis, params, ih, cell));
  u_ = basis.u_aniso_orth(params);
  return true;
}

template <class T> bool SFscale_aniso<T>::operator()(HKL_data<F_sigF<T>>& fo) {
  const HKL_info p1 = p1_list(fo);
  // selected observations, working copy and isotropic reference
  HKL_data<F_sigF<T>> s(p1), w(p1), r(p1);
  select_p1<T>(fo, nsig_, s, nullptr, nullptr);
  w = s;
  const BasisFn_log_aniso_gaussian basis;
  std::vector<double> params(7, 0.0);
  const std::vector<double> reference_start(kReferenceParams, 1.0);
  for (int cycle = 0; cycle < kIsotropicCycles; ++cycle) {
    // The isotropic mean of F^2 by resolution, from the working copy.
    const BasisFn_spline ref_basis(w, kReferenceParams, 1.0);
    const TargetFn_meanFnth<F_sigF<T>> ref_target(w, 2.0);
    const ResolutionFn ref(p1, ref_basis, ref_target, reference_start, 0.0, false);
    // A negative mean gives a missing reference amplitude (sqrt of < 0).
    for (HKL_info::HKL_reference_index ih = p1.first(); !ih.last(); ih.next())
      r[ih] = F_sigF<T>(T(std::sqrt(ref.f(ih))), T(1.0));
    const TargetFn_scaleLogF1F2<F_sigF<T>, F_sigF<T>> target(s, r);
    params = ResolutionFn(p1, basis, target, params, 0.0, false).params();
    const double trace = (params[1] + params[2] + params[3]) / 3.0;
    for (int i = 1; i <= 3; ++i) params[i] -= trace;
    w = s;
    scale_present(w, basis, params);
    u_ = basis.u_aniso_orth(params);
  }
  scale_present(fo, basis, params);
  return true;
}

template class SFscale_aniso<float>;
template class SFscale_aniso<double>;

}  // namespace vantrel
