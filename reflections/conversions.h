// Conversions between reflection datatypes, applied per reflection through
// HKL_data<T>::compute: phase probabilities to phase and figure of merit and
// back, normalised amplitudes, means and differences of anomalous pairs,
// scaling by a scale and isotropic U, and complex sums of structure factors.
//
// Also the source-only datatypes of these conversions: anomalous amplitude
// pairs, intensities and anomalous intensity pairs.
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

// ------------------------------------------------------------ source types

//! Anomalous amplitude pair F+, F- with standard deviations and covariance.
/*! Missing only when both amplitudes are missing. The Friedel mate swaps
  the two halves. Fields move as doubles in field order: F+ F- sigF+ sigF- cov. */
template <class dtype> class F_sigF_ano {
 public:
  F_sigF_ano()
      : f_pl_(null_value<dtype>()), f_mi_(null_value<dtype>()), sigf_pl_(null_value<dtype>()),
        sigf_mi_(null_value<dtype>()), cov_(null_value<dtype>()) {}
  F_sigF_ano(const dtype& f_pl, const dtype& f_mi, const dtype& sigf_pl, const dtype& sigf_mi,
             const dtype& cov)
      : f_pl_(f_pl), f_mi_(f_mi), sigf_pl_(sigf_pl), sigf_mi_(sigf_mi), cov_(cov) {}

  void set_null() { *this = F_sigF_ano(); }
  static String type() { return "F_sigF_ano"; }
  static String data_names() { return "F+ F- sigF+ sigF- covF+-"; }
  static int data_size() { return 5; }
  bool missing() const { return Util::is_nan(f_pl_) && Util::is_nan(f_mi_); }
  void apply_friedel() {
    std::swap(f_pl_, f_mi_);
    std::swap(sigf_pl_, sigf_mi_);
  }
  void apply_phase_shift(const double&) {}
  void data_export(double* a) const {
    a[0] = f_pl_; a[1] = f_mi_; a[2] = sigf_pl_; a[3] = sigf_mi_; a[4] = cov_;
  }
  void data_import(const double* a) {
    f_pl_ = dtype(a[0]); f_mi_ = dtype(a[1]); sigf_pl_ = dtype(a[2]); sigf_mi_ = dtype(a[3]);
    cov_ = dtype(a[4]);
  }

  const dtype& f_pl() const { return f_pl_; }
  const dtype& f_mi() const { return f_mi_; }
  const dtype& sigf_pl() const { return sigf_pl_; }
  const dtype& sigf_mi() const { return sigf_mi_; }
  const dtype& cov() const { return cov_; }
  dtype& f_pl() { return f_pl_; }
  dtype& f_mi() { return f_mi_; }
  dtype& sigf_pl() { return sigf_pl_; }
  dtype& sigf_mi() { return sigf_mi_; }
  dtype& cov() { return cov_; }

 private:
  dtype f_pl_, f_mi_, sigf_pl_, sigf_mi_, cov_;
};

//! Intensity and its standard deviation; missing when either is.
template <class dtype> class I_sigI {
 public:
  I_sigI() : I_(null_value<dtype>()), sigI_(null_value<dtype>()) {}
  I_sigI(const dtype& I, const dtype& sigI) : I_(I), sigI_(sigI) {}

  void set_null() { *this = I_sigI(); }
  static String type() { return "I_sigI"; }
  static String data_names() { return "I sigI"; }
  static int data_size() { return 2; }
  bool missing() const { return Util::is_nan(I_) || Util::is_nan(sigI_); }
  void apply_friedel() {}
  void apply_phase_shift(const double&) {}
  void data_export(double* a) const { a[0] = I_; a[1] = sigI_; }
  void data_import(const double* a) { I_ = dtype(a[0]); sigI_ = dtype(a[1]); }

  const dtype& I() const { return I_; }
  const dtype& sigI() const { return sigI_; }
  dtype& I() { return I_; }
  dtype& sigI() { return sigI_; }

 private:
  dtype I_, sigI_;
};

//! Anomalous intensity pair I+, I- with standard deviations and covariance.
/*! Missing only when both intensities are missing; fields move in field
  order: I+ I- sigI+ sigI- cov. */
template <class dtype> class I_sigI_ano {
 public:
  I_sigI_ano()
      : I_pl_(null_value<dtype>()), I_mi_(null_value<dtype>()), sigI_pl_(null_value<dtype>()),
        sigI_mi_(null_value<dtype>()), cov_(null_value<dtype>()) {}
  I_sigI_ano(const dtype& I_pl, const dtype& I_mi, const dtype& sigI_pl, const dtype& sigI_mi,
             const dtype& cov)
      : I_pl_(I_pl), I_mi_(I_mi), sigI_pl_(sigI_pl), sigI_mi_(sigI_mi), cov_(cov) {}

  void set_null() { *this = I_sigI_ano(); }
  static String type() { return "I_sigI_ano"; }
  static String data_names() { return "I+ I- sigI+ sigI- covI+-"; }
  static int data_size() { return 5; }
  bool missing() const { return Util::is_nan(I_pl_) && Util::is_nan(I_mi_); }
  void apply_friedel() {
    std::swap(I_pl_, I_mi_);
    std::swap(sigI_pl_, sigI_mi_);
  }
  void apply_phase_shift(const double&) {}
  void data_export(double* a) const {
    a[0] = I_pl_; a[1] = I_mi_; a[2] = sigI_pl_; a[3] = sigI_mi_; a[4] = cov_;
  }
  void data_import(const double* a) {
    I_pl_ = dtype(a[0]); I_mi_ = dtype(a[1]); sigI_pl_ = dtype(a[2]); sigI_mi_ = dtype(a[3]);
    cov_ = dtype(a[4]);
  }

  const dtype& I_pl() const { return I_pl_; }
  const dtype& I_mi() const { return I_mi_; }
  const dtype& sigI_pl() const { return sigI_pl_; }
  const dtype& sigI_mi() const { return sigI_mi_; }
  const dtype& cov() const { return cov_; }
  dtype& I_pl() { return I_pl_; }
  dtype& I_mi() { return I_mi_; }
  dtype& sigI_pl() { return sigI_pl_; }
  dtype& sigI_mi() { return sigI_mi_; }
  dtype& cov() { return cov_; }

 private:
  dtype I_pl_, I_mi_, sigI_pl_, sigI_mi_, cov_;
};

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
