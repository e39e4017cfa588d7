// Resolution functions: smooth functions of a reflection's reciprocal-space
// position fitted by Newton least squares to reflection data. A basis
// (basis_fn.h) gives the functional form; a target (here) gives each
// reflection's contribution to the residual for a trial function value.
#ifndef VANTREL_REFLECTIONS_RESOLUTION_FN_H
#define VANTREL_REFLECTIONS_RESOLUTION_FN_H

#include <cmath>
#include <vector>

#include "foundation/matrix.h"
#include "reflections/basis_fn.h"
#include "reflections/hkl_data.h"
#include "reflections/hkl_info.h"

namespace vantrel {

//! Abstract target: one reflection's residual for a trial function value.
class TargetFn_base {
 public:
  //! Residual r and its first and second derivatives by the function value.
  class Rderiv {
   public:
    double r = 0.0, dr = 0.0, dr2 = 0.0;
  };

  virtual Rderiv rderiv(const HKL_info::HKL_reference_index& ih, const double& fh) const = 0;
  //! 0: general; 1: the residual is quadratic in the function value.
  virtual int type() const { return 0; }
  virtual ~TargetFn_base() = default;

  //! Finite-difference check of rderiv at every 100th reflection of a list,
  //! printed on standard output.
  void debug(const HKL_info& hkl_info) const;
};

//! Fits the scale g that brings g E^2 to 1: r = (g E^2 - 1)^2 / E^2.
/*! A zero E carries no information on the scale and counts as missing. */
template <class T> class TargetFn_scaleEsq : public TargetFn_base {
 public:
  explicit TargetFn_scaleEsq(const HKL_data<T>& hkl_data) : hkl_data_(&hkl_data) {}
  Rderiv rderiv(const HKL_info::HKL_reference_index& ih, const double& fh) const override {
    Rderiv result;
    const T& value = (*hkl_data_)[ih];
    if (value.missing() || value.E() == 0) return result;
    const double e = double(value.E()) * double(value.E());
    const double d = e * fh - 1.0;
    result.r = d * d / e;
    result.dr = 2.0 * d;
    result.dr2 = 2.0 * e;
    return result;
  }
  int type() const override { return 1; }

 private:
  const HKL_data<T>* hkl_data_;
};

//! Fits the mean of (F / sqrt(epsilon))^n: r = (f - (F / sqrt(epsilon))^n)^2.
template <class T> class TargetFn_meanFnth : public TargetFn_base {
 public:
  TargetFn_meanFnth(const HKL_data<T>& hkl_data, const double& n)
      : power_(n), hkl_data_(&hkl_data) {}
  Rderiv rderiv(const HKL_info::HKL_reference_index& ih, const double& fh) const override {
    Rderiv result;
    const T& value = (*hkl_data_)[ih];
    if (value.missing()) return result;
    const double eps = ih.hkl_class().epsilon();
    const double d = fh - std::pow(double(value.f()) / std::sqrt(eps), power_);
    result.r = d * d;
    result.dr = 2.0 * d;
    result.dr2 = 2.0;
    return result;
  }
  int type() const override { return 1; }

 private:
  double power_;
  const HKL_data<T>* hkl_data_;
};

//! Fits the scale g with g F1^2 = F2^2: r = (g a - F2^2/eps)^2 / a, a = F1^2/eps.
/*! A zero amplitude in either list counts as missing (F1 = 0 would make
  the term infinite). */
template <class T1, class T2> class TargetFn_scaleF1F2 : public TargetFn_base {
 public:
  TargetFn_scaleF1F2(const HKL_data<T1>& hkl_data1, const HKL_data<T2>& hkl_data2)
      : hkl_data1_(&hkl_data1), hkl_data2_(&hkl_data2) {}
  Rderiv rderiv(const HKL_info::HKL_reference_index& ih, const double& fh) const override {
    Rderiv result;
    const T1& v1 = (*hkl_data1_)[ih];
    const T2& v2 = (*hkl_data2_)[ih];
    if (v1.missing() || v2.missing() || v1.f() == 0 || v2.f() == 0) return result;
    const double eps = ih.hkl_class().epsilon();
    const double a = double(v1.f()) * double(v1.f()) / eps;
    const double d = a * fh - double(v2.f()) * double(v2.f()) / eps;
    result.r = d * d / a;
    result.dr = 2.0 * d;
    result.dr2 = 2.0 * a;
    return result;
  }
  int type() const override { return 1; }

 private:
  const HKL_data<T1>* hkl_data1_;
  const HKL_data<T2>* hkl_data2_;
};

//! Fits the log-scale g with ln(F1^2) + g = ln(F2^2), weighted by F1 F2 / eps.
/*! Amplitudes of 1e-6 or less count as missing. */
template <class T1, class T2> class TargetFn_scaleLogF1F2 : public TargetFn_base {
 public:
  TargetFn_scaleLogF1F2(const HKL_data<T1>& hkl_data1, const HKL_data<T2>& hkl_data2)
      : hkl_data1_(&hkl_data1), hkl_data2_(&hkl_data2) {}
  Rderiv rderiv(const HKL_info::HKL_reference_index& ih, const double& fh) const override {
    Rderiv result;
    const T1& v1 = (*hkl_data1_)[ih];
    const T2& v2 = (*hkl_data2_)[ih];
    if (v1.missing() || v2.missing() || v1.f() <= 1e-6 || v2.f() <= 1e-6) return result;
    const double eps = ih.hkl_class().epsilon();
    const double x1 = double(v1.f()) * double(v1.f()) / eps;
    const double x2 = double(v2.f()) * double(v2.f()) / eps;
    const double w = std::sqrt(x1 * x2);
    const double d = std::log(x1) + fh - std::log(x2);
    result.r = w * (d * d);
    result.dr = 2.0 * w * d;
    result.dr2 = 2.0 * w;
    return result;
  }
  int type() const override { return 1; }

 private:
  const HKL_data<T1>* hkl_data1_;
  const HKL_data<T2>* hkl_data2_;
};

//! A basis function fitted to a target over every reflection of a list.
/*! The constructor fits by Newton steps (at most 20; a single step when
  the basis is linear and the target quadratic). Reflections weigh 2/eps,
  centric ones half that. The list, basis and target are held by pointer
  and must outlive the fit. A singular curvature never yields non-finite
  parameters: unconstrained parameters keep their start values. */
class ResolutionFn {
 public:
  //! Fit from the start parameters (padded with 0 or cut to the basis's
  //! size); damp slows the early steps, debug prints each cycle.
  ResolutionFn(const HKL_info& hkl_info, const BasisFn_base& basisfn, const TargetFn_base& targetfn,
               const std::vector<double>& params, const double damp = 0.0,
               const bool debug = false);

  //! The fitted function at a reflection of the list.
  double f(const HKL_info::HKL_reference_index& ih) const {
    return basisfn_->f(ih.hkl(), cell_, params_);
  }
  const std::vector<double>& params() const { return params_; }

  //! Weighted residual, gradient and curvature over the list at params;
  //! only the basis's band of the curvature is filled.
  void calc_derivs(const std::vector<double>& params, double& r, std::vector<double>& drs,
                   Matrix<double>& dr2s) const;

 protected:
  struct Unfitted {};
  //! Store the pointers and start parameters without fitting.
  ResolutionFn(Unfitted, const HKL_info& hkl_info, const BasisFn_base& basisfn,
               const TargetFn_base& targetfn, const std::vector<double>& params);
  //! Weighted residual alone.
  double residual(const std::vector<double>& params) const;

  const HKL_info* hkl_info_;
  const TargetFn_base* targetfn_;
  const BasisFn_base* basisfn_;
  std::vector<double> params_;
  Cell cell_;

 private:
  void fit_linear(const double& damp, const bool& debug);
};

//! The same fit with a line search on the residual, for bases or targets
//! that are not linear and quadratic.
class ResolutionFn_nonlinear : public ResolutionFn {
 public:
  ResolutionFn_nonlinear(const HKL_info& hkl_info, const BasisFn_base& basisfn,
                         const TargetFn_base& targetfn, const std::vector<double>& params,
                         const double damp = 0.0, const bool debug = false);
};

}  // namespace vantrel

#endif
