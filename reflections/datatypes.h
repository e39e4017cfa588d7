// Per-reflection value records stored in reflection data arrays: amplitudes,
// anomalous amplitude pairs, intensities and anomalous intensity pairs,
// phases, figures of merit, normalised amplitudes, Hendrickson-Lattman
// coefficients and integer or boolean flags.
//
// Each datatype knows its name, its field names (moved field by field as
// doubles by data_export/data_import), when it counts as missing, its null
// value (the default constructor), and how it changes when the reflection is
// replaced by its Friedel mate or its phase is shifted by a symmetry
// operator.
#ifndef VANTREL_REFLECTIONS_DATATYPES_H
#define VANTREL_REFLECTIONS_DATATYPES_H

#include <cmath>
#include <complex>

#include "foundation/util.h"
#include "foundation/vstring.h"

namespace vantrel {
namespace datatypes {

//! The missing value of a field of precision T.
template <class T> T null_value();
template <> inline float null_value<float>() { return Util::nanf(); }
template <> inline double null_value<double>() { return Util::nand(); }

//! A phase shifted by x, computed in double and stored back in T's precision;
//! a missing phase stays missing.
template <class T> inline void shift_phase_field(T& phi, const double& x) {
  if (!Util::is_nan(phi)) phi = T(double(phi) + x);
}

//! A phase of the Friedel mate; a missing phase stays missing.
template <class T> inline void negate_phase_field(T& phi) {
  if (!Util::is_nan(phi)) phi = -phi;
}

//! Amplitude and its standard deviation.
template <class dtype> class F_sigF {
 public:
  F_sigF() : f_(null_value<dtype>()), sigf_(null_value<dtype>()) {}
  F_sigF(const dtype& f, const dtype& sigf) : f_(f), sigf_(sigf) {}

  void set_null() { *this = F_sigF(); }
  static String type() { return "F_sigF"; }
  static String data_names() { return "F sigF"; }
  static int data_size() { return 2; }
  bool missing() const { return Util::is_nan(f_) || Util::is_nan(sigf_); }
  void apply_friedel() {}
  void apply_phase_shift(const double&) {}
  void data_export(double* a) const {
    a[0] = f_;
    a[1] = sigf_;
  }
  void data_import(const double* a) {
    f_ = dtype(a[0]);
    sigf_ = dtype(a[1]);
  }

  const dtype& f() const { return f_; }
  const dtype& sigf() const { return sigf_; }
  dtype& f() { return f_; }
  dtype& sigf() { return sigf_; }

 private:
  dtype f_, sigf_;
};

//! Anomalous amplitude pair F+, F- with standard deviations and covariance.
/*! Missing only when both amplitudes are missing. The Friedel mate swaps
  the two halves. Fields move as doubles in field order: F+ F- sigF+ sigF- cov. */
template <class dtype> class F_sigF_ano {
 public:
  F_sigF_ano()
      : f_pl_(null_value<dtype>()),
        f_mi_(null_value<dtype>()),
        sigf_pl_(null_value<dtype>()),
        sigf_mi_(null_value<dtype>()),
        cov_(null_value<dtype>()) {}
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
    a[0] = f_pl_;
    a[1] = f_mi_;
    a[2] = sigf_pl_;
    a[3] = sigf_mi_;
    a[4] = cov_;
  }
  void data_import(const double* a) {
    f_pl_ = dtype(a[0]);
    f_mi_ = dtype(a[1]);
    sigf_pl_ = dtype(a[2]);
    sigf_mi_ = dtype(a[3]);
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
  void data_export(double* a) const {
    a[0] = I_;
    a[1] = sigI_;
  }
  void data_import(const double* a) {
    I_ = dtype(a[0]);
    sigI_ = dtype(a[1]);
  }

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
      : I_pl_(null_value<dtype>()),
        I_mi_(null_value<dtype>()),
        sigI_pl_(null_value<dtype>()),
        sigI_mi_(null_value<dtype>()),
        cov_(null_value<dtype>()) {}
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
    a[0] = I_pl_;
    a[1] = I_mi_;
    a[2] = sigI_pl_;
    a[3] = sigI_mi_;
    a[4] = cov_;
  }
  void data_import(const double* a) {
    I_pl_ = dtype(a[0]);
    I_mi_ = dtype(a[1]);
    sigI_pl_ = dtype(a[2]);
    sigI_mi_ = dtype(a[3]);
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

//! Amplitude and phase (radians).
template <class dtype> class F_phi {
 public:
  F_phi() : f_(null_value<dtype>()), phi_(null_value<dtype>()) {}
  F_phi(const dtype& f, const dtype& phi) : f_(f), phi_(phi) {}
  //! Modulus and argument of z.
  explicit F_phi(const std::complex<dtype>& z) : f_(std::abs(z)), phi_(std::arg(z)) {}

  void set_null() { *this = F_phi(); }
  static String type() { return "F_phi"; }
  static String data_names() { return "F phi"; }
  static int data_size() { return 2; }
  bool missing() const { return Util::is_nan(f_) || Util::is_nan(phi_); }
  void apply_friedel() { negate_phase_field(phi_); }
  void apply_phase_shift(const double& x) { shift_phase_field(phi_, x); }
  void data_export(double* a) const {
    a[0] = f_;
    a[1] = phi_;
  }
  void data_import(const double* a) {
    f_ = dtype(a[0]);
    phi_ = dtype(a[1]);
  }

  //! F cos(phi) + i F sin(phi); a missing field gives NaN parts.
  operator std::complex<dtype>() const {
    return std::complex<dtype>(f_ * std::cos(phi_), f_ * std::sin(phi_));
  }

  const dtype& f() const { return f_; }
  const dtype& phi() const { return phi_; }
  dtype& f() { return f_; }
  dtype& phi() { return phi_; }

 private:
  dtype f_, phi_;
};

//! Phase (radians) and figure of merit.
template <class dtype> class Phi_fom {
 public:
  Phi_fom() : phi_(null_value<dtype>()), fom_(null_value<dtype>()) {}
  Phi_fom(const dtype& phi, const dtype& fom) : phi_(phi), fom_(fom) {}

  void set_null() { *this = Phi_fom(); }
  static String type() { return "Phi_fom"; }
  static String data_names() { return "phi fom"; }
  static int data_size() { return 2; }
  bool missing() const { return Util::is_nan(phi_) || Util::is_nan(fom_); }
  void apply_friedel() { negate_phase_field(phi_); }
  void apply_phase_shift(const double& x) { shift_phase_field(phi_, x); }
  void data_export(double* a) const {
    a[0] = phi_;
    a[1] = fom_;
  }
  void data_import(const double* a) {
    phi_ = dtype(a[0]);
    fom_ = dtype(a[1]);
  }

  const dtype& phi() const { return phi_; }
  const dtype& fom() const { return fom_; }
  dtype& phi() { return phi_; }
  dtype& fom() { return fom_; }

 private:
  dtype phi_, fom_;
};

//! Normalised amplitude and its standard deviation.
template <class dtype> class E_sigE {
 public:
  E_sigE() : E_(null_value<dtype>()), sigE_(null_value<dtype>()) {}
  E_sigE(const dtype& E, const dtype& sigE) : E_(E), sigE_(sigE) {}

  void set_null() { *this = E_sigE(); }
  static String type() { return "E_sigE"; }
  static String data_names() { return "E sigE"; }
  static int data_size() { return 2; }
  bool missing() const { return Util::is_nan(E_) || Util::is_nan(sigE_); }
  void apply_friedel() {}
  void apply_phase_shift(const double&) {}
  void data_export(double* a) const {
    a[0] = E_;
    a[1] = sigE_;
  }
  void data_import(const double* a) {
    E_ = dtype(a[0]);
    sigE_ = dtype(a[1]);
  }

  const dtype& E() const { return E_; }
  const dtype& sigE() const { return sigE_; }
  dtype& E() { return E_; }
  dtype& sigE() { return sigE_; }

 private:
  dtype E_, sigE_;
};

//! Hendrickson-Lattman coefficients of the phase probability
//! exp(A cos phi + B sin phi + C cos 2phi + D sin 2phi).
template <class dtype> class ABCD {
 public:
  ABCD()
      : a_(null_value<dtype>()),
        b_(null_value<dtype>()),
        c_(null_value<dtype>()),
        d_(null_value<dtype>()) {}
  ABCD(const dtype& a, const dtype& b, const dtype& c, const dtype& d)
      : a_(a), b_(b), c_(c), d_(d) {}

  void set_null() { *this = ABCD(); }
  static String type() { return "ABCD"; }
  static String data_names() { return "A B C D"; }
  static int data_size() { return 4; }
  bool missing() const {
    return Util::is_nan(a_) || Util::is_nan(b_) || Util::is_nan(c_) || Util::is_nan(d_);
  }
  //! phi -> -phi negates the sine terms.
  void apply_friedel() {
    if (missing()) return;
    b_ = -b_;
    d_ = -d_;
  }
  //! phi -> phi + x rotates (A, B) by x and (C, D) by 2x.
  void apply_phase_shift(const double& x) {
    if (missing()) return;
    const double c1 = std::cos(x), s1 = std::sin(x);
    const double c2 = std::cos(2.0 * x), s2 = std::sin(2.0 * x);
    const double a = a_, b = b_, c = c_, d = d_;
    a_ = dtype(a * c1 - b * s1);
    b_ = dtype(a * s1 + b * c1);
    c_ = dtype(c * c2 - d * s2);
    d_ = dtype(c * s2 + d * c2);
  }
  void data_export(double* v) const {
    v[0] = a_;
    v[1] = b_;
    v[2] = c_;
    v[3] = d_;
  }
  void data_import(const double* v) {
    a_ = dtype(v[0]);
    b_ = dtype(v[1]);
    c_ = dtype(v[2]);
    d_ = dtype(v[3]);
  }

  const dtype& a() const { return a_; }
  const dtype& b() const { return b_; }
  const dtype& c() const { return c_; }
  const dtype& d() const { return d_; }
  dtype& a() { return a_; }
  dtype& b() { return b_; }
  dtype& c() { return c_; }
  dtype& d() { return d_; }

 private:
  dtype a_, b_, c_, d_;
};

//! Integer flag per reflection; missing when negative (null -1).
class Flag {
 public:
  Flag() : flag_(-1) {}
  explicit Flag(const int& flag) : flag_(flag) {}

  void set_null() { flag_ = -1; }
  static String type() { return "Flag"; }
  static String data_names() { return "flag"; }
  static int data_size() { return 1; }
  bool missing() const { return flag_ < 0; }
  void apply_friedel() {}
  void apply_phase_shift(const double&) {}
  void data_export(double* a) const { a[0] = flag_; }
  //! Truncates toward zero; a missing (NaN or infinite) or out-of-range
  //! value imports as missing.
  void data_import(const double* a);

  const int& flag() const { return flag_; }
  int& flag() { return flag_; }

 private:
  int flag_;
};

//! Boolean flag per reflection; missing when false, so walks over present
//! entries visit exactly the flagged reflections.
class Flag_bool {
 public:
  Flag_bool() : flag_(false) {}
  explicit Flag_bool(const bool& flag) : flag_(flag) {}

  void set_null() { flag_ = false; }
  static String type() { return "Flag_bool"; }
  static String data_names() { return "flag"; }
  static int data_size() { return 1; }
  bool missing() const { return !flag_; }
  void apply_friedel() {}
  void apply_phase_shift(const double&) {}
  void data_export(double* a) const { a[0] = flag_ ? 1.0 : 0.0; }
  //! True for a present value other than 0; a missing (NaN) value gives false.
  void data_import(const double* a) { flag_ = !Util::is_nan(a[0]) && a[0] != 0.0; }

  const bool& flag() const { return flag_; }
  bool& flag() { return flag_; }

 private:
  bool flag_;
};

}  // namespace datatypes
}  // namespace vantrel

#endif
