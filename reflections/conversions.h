// Conversions between reflection datatypes, applied per reflection through
// HKL_data<T>::compute: phase probabilities to phase and figure of merit and
// back, normalised amplitudes, means and differences of anomalous pairs,
// scaling by a scale and isotropic U, and complex sums of structure factors.
//
// A functor returns the missing value of its result when a source it needs
// is missing (Compute_scale_u returns a missing source unchanged);
// arithmetic is in double unless stated otherwise.
#ifndef VANTREL_REFLECTIONS_CONVERSIONS_H
#define VANTREL_REFLECTIONS_CONVERSIONS_H

#include <cmath>
#include <complex>
#include <utility>

#include "foundation/util.h"
#include "reflections/datatypes.h"
#include "reflections/hkl_info.h"

namespace vantrel {
namespace datatypes {

//! The cursor through which every functor sees its reflection.
typedef HKL_info::HKL_reference_index HRI;

// ---------------------------------------------------------------- functors

//! Phase and figure of merit as the centroid of the phase probability
//! exp(A cos phi + B sin phi + C cos 2phi + D sin 2phi).
/*! Acentric reflections are summed over 72 phases 5 degrees apart, centric
  ones over their two allowed phases; the exponent is clamped to [-50, 50]. */
template <class dtype> class Compute_phifom_from_abcd {
 public:
  Compute_phifom_from_abcd();
  Phi_fom<dtype> operator()(const HRI& ih, const ABCD<dtype>& abcd) const;

 private:
  // cos and sin of 5 i degrees over two turns, so 2 phi needs no reduction.
  double costab_[144];
  double sintab_[144];
};

//! Hendrickson-Lattman coefficients of the unimodal distribution with the
//! given phase and figure of merit (fom limited to 0.9999; C = D = 0).
template <class dtype> class Compute_abcd_from_phifom {
 public:
  ABCD<dtype> operator()(const HRI& ih, const Phi_fom<dtype>& phifom) const;
};

//! Figure-of-merit-weighted amplitude F fom with the phase phi.
template <class dtype> class Compute_fphi_from_fsigf_phifom {
 public:
  F_phi<dtype> operator()(const HRI&, const F_sigF<dtype>& fsigf,
                          const Phi_fom<dtype>& phifom) const {
    if (fsigf.missing() || phifom.missing()) return F_phi<dtype>();
    return F_phi<dtype>(fsigf.f() * phifom.fom(), phifom.phi());
  }
};

//! Normalised amplitude: E = F / sqrt(epsilon), sigE = sigF / sqrt(epsilon).
template <class dtype> class Compute_EsigE_from_FsigF {
 public:
  E_sigE<dtype> operator()(const HRI& ih, const F_sigF<dtype>& fsigf) const {
    if (fsigf.missing()) return E_sigE<dtype>();
    const double root_eps = std::sqrt(double(ih.hkl_class().epsilon()));
    return E_sigE<dtype>(dtype(fsigf.f() / root_eps), dtype(fsigf.sigf() / root_eps));
  }
};

//! Mean amplitude from F_sigF (a copy) or F_sigF_ano (the mean of the pair).
template <class dtype, class T> class Compute_FsigF;

template <class dtype> class Compute_FsigF<dtype, F_sigF<dtype> > {
 public:
  F_sigF<dtype> operator()(const HRI&, const F_sigF<dtype>& fsigf) const {
    return fsigf.missing() ? F_sigF<dtype>() : fsigf;
  }
};

//! The mean of an anomalous pair. With one amplitude missing, the result is
//! the other amplitude with its own sigma; with both present, a missing sigma
//! is replaced by the other one.
template <class dtype> class Compute_FsigF<dtype, F_sigF_ano<dtype> > {
 public:
  F_sigF<dtype> operator()(const HRI& ih, const F_sigF_ano<dtype>& ano) const;
};

//! The mean of an anomalous pair; the sigma follows the amplitudes present.
template <class dtype> class Compute_mean_fsigf_from_fsigfano {
 public:
  F_sigF<dtype> operator()(const HRI& ih, const F_sigF_ano<dtype>& ano) const;
};

//! The anomalous difference F+ - F-.
template <class dtype> class Compute_diff_fsigf_from_fsigfano {
 public:
  F_sigF<dtype> operator()(const HRI& ih, const F_sigF_ano<dtype>& ano) const;
};

//! Fieldwise sum of two sets of Hendrickson-Lattman coefficients.
template <class dtype> class Compute_add_abcd {
 public:
  ABCD<dtype> operator()(const HRI&, const ABCD<dtype>& p, const ABCD<dtype>& q) const {
    if (p.missing() || q.missing()) return ABCD<dtype>();
    return ABCD<dtype>(p.a() + q.a(), p.b() + q.b(), p.c() + q.c(), p.d() + q.d());
  }
};

// The complex operations on F_phi work in the precision of dtype throughout.
//! -F exp(i phi).
template <class dtype> class Compute_neg_fphi {
 public:
  F_phi<dtype> operator()(const HRI&, const F_phi<dtype>& v) const {
    if (v.missing()) return F_phi<dtype>();
    return F_phi<dtype>(-std::complex<dtype>(v));
  }
};

//! F1 exp(i phi1) + F2 exp(i phi2).
template <class dtype> class Compute_add_fphi {
 public:
  F_phi<dtype> operator()(const HRI&, const F_phi<dtype>& v1, const F_phi<dtype>& v2) const {
    if (v1.missing() || v2.missing()) return F_phi<dtype>();
    return F_phi<dtype>(std::complex<dtype>(v1) + std::complex<dtype>(v2));
  }
};

//! F1 exp(i phi1) - F2 exp(i phi2).
template <class dtype> class Compute_sub_fphi {
 public:
  F_phi<dtype> operator()(const HRI&, const F_phi<dtype>& v1, const F_phi<dtype>& v2) const {
    if (v1.missing() || v2.missing()) return F_phi<dtype>();
    return F_phi<dtype>(std::complex<dtype>(v1) - std::complex<dtype>(v2));
  }
};

// Multiplication of the amplitude-like fields of a datatype by k: amplitudes
// and their sigmas by k, intensities, their sigmas and covariances by k^2.
template <class dtype> void scale_fields(F_sigF<dtype>& v, const double& k) {
  v.f() = dtype(v.f() * k);
  v.sigf() = dtype(v.sigf() * k);
}
template <class dtype> void scale_fields(F_phi<dtype>& v, const double& k) {
  v.f() = dtype(v.f() * k);
}
template <class dtype> void scale_fields(F_sigF_ano<dtype>& v, const double& k) {
  v.f_pl() = dtype(v.f_pl() * k);
  v.f_mi() = dtype(v.f_mi() * k);
  v.sigf_pl() = dtype(v.sigf_pl() * k);
  v.sigf_mi() = dtype(v.sigf_mi() * k);
  v.cov() = dtype(v.cov() * (k * k));
}
template <class dtype> void scale_fields(I_sigI<dtype>& v, const double& k) {
  const double k2 = k * k;
  v.I() = dtype(v.I() * k2);
  v.sigI() = dtype(v.sigI() * k2);
}
template <class dtype> void scale_fields(I_sigI_ano<dtype>& v, const double& k) {
  const double k2 = k * k;
  v.I_pl() = dtype(v.I_pl() * k2);
  v.I_mi() = dtype(v.I_mi() * k2);
  v.sigI_pl() = dtype(v.sigI_pl() * k2);
  v.sigI_mi() = dtype(v.sigI_mi() * k2);
  v.cov() = dtype(v.cov() * k2);
}

//! Scale by sqrt(s) exp(2 pi^2 U / d^2) in amplitude (s exp(4 pi^2 U / d^2)
//! in intensity). A positive U raises high-resolution data.
template <class T> class Compute_scale_u {
 public:
  Compute_scale_u(const double& s, const double& u)
      : root_scale_(std::sqrt(s)), u_coeff_(Util::twopi2() * u) {}
  T operator()(const HRI& ih, T value) const {
    if (value.missing()) return value;
    scale_fields(value, root_scale_ * std::exp(u_coeff_ * ih.invresolsq()));
    return value;
  }

 private:
  double root_scale_;
  double u_coeff_;
};

}  // namespace datatypes
}  // namespace vantrel

#endif
