// Likelihood weighting of map coefficients with smooth scale and error
// splines, optionally with Hendrickson-Lattman prior phases.
#ifndef VANTREL_CALCULATIONS_SFWEIGHT_H
#define VANTREL_CALCULATIONS_SFWEIGHT_H

#include <vector>

#include "calculations/sfweight_base.h"
#include "symmetry/sampling.h"

namespace vantrel {

//! sigmaA-style weighting: D = s(h) and the error variance w(h) are
//! quadratic B-splines over the resolution ordinal of the used reflections.
/*! Both amplitude sets are first normalised (k(h) E^2 about 1 by
  resolution); s and w are refined together by block-wise Newton steps on
  the Rice (acentric) or Woolfson (centric) likelihood, with the variance
  d = 2 sigF^2 + epsc w (epsc = eps, 2 eps centric). For every reflection
  with a calculated value the outputs are, with X = 2 s Fo Fc / d and the
  figure of merit m = I1(X)/I0(X) (tanh X centric): fb = 2 m Fo - s Fc,
  fd = m Fo - s Fc (s Fc and 0 without an observation), both with the
  calculated phase and put back on the observed scale; phiw = (phase, m).
  Reflections without a calculated value get missing outputs. */
template <class T> class SFweight_spline : public SFweight_base<T> {
 public:
  //! Per-reflection target: value and derivatives by s and w.
  struct TargetResult {
    double r, ds, dw, dss, dww, dsw;
  };
  //! One phase of the integration table: cos p, sin p, cos 2p, sin 2p.
  struct HLterms {
    double cosp, sinp, cos2p, sin2p;
  };

  //! n_reflns reflections per spline parameter (0: use n_params), at most
  //! n_params parameters (0: from the data alone); n_phases phase steps.
  explicit SFweight_spline(const int n_reflns = 1000, const int n_params = 20,
                           const int n_phases = 24);
  //! Construct with a 24-step phase table and weight at once.
  SFweight_spline(HKL_data<datatypes::F_phi<T>>& fb, HKL_data<datatypes::F_phi<T>>& fd,
                  HKL_data<datatypes::Phi_fom<T>>& phiw, const HKL_data<datatypes::F_sigF<T>>& fo,
                  const HKL_data<datatypes::F_phi<T>>& fc, const HKL_data<datatypes::Flag>& usage,
                  const int n_reflns = 1000, const int n_params = 20);
  //! Fatal message for negative counts, or both counts 0.
  void init(const int n_reflns = 1000, const int n_params = 20, const int n_phases = 24);

  //! True when the refinement converged. Without convergence in 25
  //! cycles the outputs are still written, from the final parameters.
  bool operator()(HKL_data<datatypes::F_phi<T>>& fb, HKL_data<datatypes::F_phi<T>>& fd,
                  HKL_data<datatypes::Phi_fom<T>>& phiw, const HKL_data<datatypes::F_sigF<T>>& fo,
                  const HKL_data<datatypes::F_phi<T>>& fc,
                  const HKL_data<datatypes::Flag>& usage) override;
  //! The same with prior phase probabilities hl shaping the refinement of
  //! s and w; a missing prior coefficient counts as 0.
  bool operator()(HKL_data<datatypes::F_phi<T>>& fb, HKL_data<datatypes::F_phi<T>>& fd,
                  HKL_data<datatypes::Phi_fom<T>>& phiw, const HKL_data<datatypes::F_sigF<T>>& fo,
                  const HKL_data<datatypes::ABCD<T>>& hl, const HKL_data<datatypes::F_phi<T>>& fc,
                  const HKL_data<datatypes::Flag>& usage);

  const std::vector<double>& params_scale() const { return param_s_; }
  const std::vector<double>& params_error() const { return param_w_; }

  //! Minus the log-likelihood of Fo (up to a constant) for centre s Fc and
  //! variance parameter w; the phase of fc is not used.
  TargetResult targetfn0(const HKL_class cls, const datatypes::F_sigF<T>& fo,
                         const datatypes::F_phi<T>& fc, const double& s, const double& w) const;
  //! The same summed over the phase table with the prior hl; acentric
  //! reflections use every table phase, centric ones their two allowed
  //! phases. dsw is not provided (NaN).
  TargetResult targetfn1(const HKL_class cls, const datatypes::F_sigF<T>& fo,
                         const datatypes::ABCD<T>& hl, const datatypes::F_phi<T>& fc,
                         const double& s, const double& w) const;
  //! targetfn1 with w the whole variance (sigF not used) on the scale of
  //! F^2/epsc.
  TargetResult targetfn2(const HKL_class cls, const datatypes::F_sigF<T>& fo,
                         const datatypes::ABCD<T>& hl, const datatypes::F_phi<T>& fc,
                         const double& s, const double& w) const;
  //! Prints finite-difference checks of targetfn0 and targetfn2 in P1.
  void debug() const;

 private:
  // The refinement and output, with the per-reflection target chosen by
  // the caller: target(index, class, fo, fc, s, w).
  template <class Target>
  bool evaluate(HKL_data<datatypes::F_phi<T>>& fb, HKL_data<datatypes::F_phi<T>>& fd,
                HKL_data<datatypes::Phi_fom<T>>& phiw, const HKL_data<datatypes::F_sigF<T>>& fo,
                const HKL_data<datatypes::F_phi<T>>& fc, const HKL_data<datatypes::Flag>& usage,
                const Target& target);
  // Sum over the phases of the prior-weighted likelihood terms.
  TargetResult prior_target(const HKL_class& cls, const datatypes::ABCD<T>& hl, const double& u,
                            const double& v, const double& s, const double& d, const double& a2,
                            const double& b2, const double& epsc, const double& c) const;

  int n_params_ = 20;
  int n_reflns_ = 1000;
  std::vector<double> param_s_;
  std::vector<double> param_w_;
  std::vector<HLterms> hlterms_;
};

}  // namespace vantrel

#endif
