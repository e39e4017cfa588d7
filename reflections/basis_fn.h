// Basis functions of resolution functions: the value at a reflection for a
// parameter vector with its first and second derivatives by the parameters;
// and the resolution ordinal, the cumulative fraction of a list's reflections
// below a given 1/d^2.
#ifndef VANTREL_REFLECTIONS_BASIS_FN_H
#define VANTREL_REFLECTIONS_BASIS_FN_H

#include <vector>

#include "foundation/matrix.h"
#include "foundation/statistics.h"
#include "reflections/hkl_data.h"
#include "reflections/hkl_info.h"
#include "symmetry/atom.h"

namespace vantrel {

//! Cumulative distribution of 1/d^2 over a reflection list in 1000 bins,
//! each table entry raised to 1/power.
/*! With power 1 the ordinal is the fraction of reflections with smaller
  1/d^2, so equal ordinal steps hold equal numbers of reflections. */
class Resolution_ordinal : public Generic_ordinal {
 public:
  using Generic_ordinal::init;
  //! Over every reflection of a list, from its cached 1/d^2.
  void init(const HKL_info& hkl_info, const double& power);
  //! Over the present entries of a data list, from the list's cached 1/d^2.
  void init(const HKL_data_base& hkl_data, const double& power);
  //! Over the present entries of a data list, 1/d^2 computed in the cell.
  void init(const HKL_data_base& hkl_data, const Cell& cell, const double& power);

 private:
  // Cumulative table from a walk over 1/d^2 values, then the power applied.
  template <class Walk> void init_from(const Walk& walk, const double& power);
};

//! Abstract basis of a resolution function.
/*! fderiv fills a result buffer owned by the basis and returns it; the
  reference is valid until the next call on the same object, so one basis
  must not serve two fits at once. */
class BasisFn_base {
 public:
  //! Value, first derivatives and second derivatives by the parameters.
  class Fderiv {
   public:
    Fderiv() : f(0.0) {}
    explicit Fderiv(const int& n) : f(0.0), df(n, 0.0), df2(n, n) {}
    double f;
    std::vector<double> df;
    Matrix<double> df2;
  };

  //! The value at a reflection; by default the value of fderiv.
  virtual double f(const HKL& hkl, const Cell& cell, const std::vector<double>& params) const {
    return fderiv(hkl, cell, params).f;
  }
  virtual const Fderiv& fderiv(const HKL& hkl, const Cell& cell,
                               const std::vector<double>& params) const = 0;
  //! 0: general; 1: linear in the parameters.
  virtual int type() const { return 0; }
  //! 0: full curvature; m >= 1: only the band |j - k| < m can be non-zero.
  virtual int num_diagonals() const { return 0; }
  virtual ~BasisFn_base() = default;

  const int& num_params() const { return num_params_; }

 protected:
  explicit BasisFn_base(const int& n) : num_params_(n), result_(n) {}

  int num_params_;
  mutable Fderiv result_;
};

//! n resolution bins of equal reflection count (power 1); linear with a
//! diagonal curvature.
class BasisFn_binner : public BasisFn_base {
 public:
  BasisFn_binner(const HKL_info& hkl_info, const int& n, const double power = 1.0);
  //! Bins over the present entries of a data list, in the list's own cell.
  BasisFn_binner(const HKL_data_base& hkl_data, const int& n, const double power = 1.0);
  double f(const HKL& hkl, const Cell& cell, const std::vector<double>& params) const override {
    return f_s(hkl.invresolsq(cell), params);
  }
  const Fderiv& fderiv(const HKL& hkl, const Cell& cell,
                       const std::vector<double>& params) const override {
    return fderiv_s(hkl.invresolsq(cell), params);
  }
  double f_s(const double& s, const std::vector<double>& params) const;
  const Fderiv& fderiv_s(const double& s, const std::vector<double>& params) const;
  int type() const override { return 1; }
  int num_diagonals() const override { return 1; }

 private:
  int bin(const double& s) const;
  Resolution_ordinal ordinal_;
};

//! Quadratic B-spline of n knots over the resolution ordinal; linear, with
//! a curvature band of three diagonals.
class BasisFn_spline : public BasisFn_base {
 public:
  BasisFn_spline(const HKL_info& hkl_info, const int& n, const double power = 1.0);
  //! Knots over the present entries of a data list, in the list's own cell.
  BasisFn_spline(const HKL_data_base& hkl_data, const int& n, const double power = 1.0);
  double f(const HKL& hkl, const Cell& cell, const std::vector<double>& params) const override {
    return f_s(hkl.invresolsq(cell), params);
  }
  const Fderiv& fderiv(const HKL& hkl, const Cell& cell,
                       const std::vector<double>& params) const override {
    return fderiv_s(hkl.invresolsq(cell), params);
  }
  double f_s(const double& s, const std::vector<double>& params) const;
  const Fderiv& fderiv_s(const double& s, const std::vector<double>& params) const;
  int type() const override { return 1; }
  int num_diagonals() const override { return 3; }

 private:
  // The three knots around s (im, i, ip) and their weights.
  struct Knots {
    int im, i, ip;
    double w_im, w_i, w_ip;
  };
  Knots knots(const double& s) const;
  Resolution_ordinal ordinal_;
};

//! exp(p0 - p1 s): scale exp(p0), isotropic U = p1 / 2 pi^2.
class BasisFn_gaussian : public BasisFn_base {
 public:
  BasisFn_gaussian() : BasisFn_base(2) {}
  const Fderiv& fderiv(const HKL& hkl, const Cell& cell,
                       const std::vector<double>& params) const override {
    return fderiv_s(hkl.invresolsq(cell), params);
  }
  const Fderiv& fderiv_s(const double& s, const std::vector<double>& params) const;
  double scale(const std::vector<double>& params) const;
  double u_iso(const std::vector<double>& params) const;
};

//! exp(p0 - s^T P s) on the orthogonal reciprocal coordinate s, P built
//! from p1..p6: scale exp(p0), U = P / 2 pi^2.
class BasisFn_aniso_gaussian : public BasisFn_base {
 public:
  BasisFn_aniso_gaussian() : BasisFn_base(7) {}
  const Fderiv& fderiv(const HKL& hkl, const Cell& cell,
                       const std::vector<double>& params) const override {
    return fderiv_coord(hkl.coord_reci_orth(cell), params);
  }
  const Fderiv& fderiv_coord(const Coord_reci_orth& s, const std::vector<double>& params) const;
  double scale(const std::vector<double>& params) const;
  U_aniso_orth u_aniso_orth(const std::vector<double>& params) const;
};

//! p0 - p1 s, the logarithm of BasisFn_gaussian; linear.
class BasisFn_log_gaussian : public BasisFn_base {
 public:
  BasisFn_log_gaussian() : BasisFn_base(2) {}
  const Fderiv& fderiv(const HKL& hkl, const Cell& cell,
                       const std::vector<double>& params) const override {
    return fderiv_s(hkl.invresolsq(cell), params);
  }
  const Fderiv& fderiv_s(const double& s, const std::vector<double>& params) const;
  double scale(const std::vector<double>& params) const;
  double u_iso(const std::vector<double>& params) const;
  int type() const override { return 1; }
};

//! p0 - s^T P s, the logarithm of BasisFn_aniso_gaussian; linear.
class BasisFn_log_aniso_gaussian : public BasisFn_base {
 public:
  BasisFn_log_aniso_gaussian() : BasisFn_base(7) {}
  const Fderiv& fderiv(const HKL& hkl, const Cell& cell,
                       const std::vector<double>& params) const override {
    return fderiv_coord(hkl.coord_reci_orth(cell), params);
  }
  const Fderiv& fderiv_coord(const Coord_reci_orth& s, const std::vector<double>& params) const;
  double scale(const std::vector<double>& params) const;
  U_aniso_orth u_aniso_orth(const std::vector<double>& params) const;
  int type() const override { return 1; }
};

//! exp(p0 - p1 s + p2 s^2 - p3 s^3).
class BasisFn_expcubic : public BasisFn_base {
 public:
  BasisFn_expcubic() : BasisFn_base(4) {}
  const Fderiv& fderiv(const HKL& hkl, const Cell& cell,
                       const std::vector<double>& params) const override {
    return fderiv_s(hkl.invresolsq(cell), params);
  }
  const Fderiv& fderiv_s(const double& s, const std::vector<double>& params) const;
};

}  // namespace vantrel

#endif
