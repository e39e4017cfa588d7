// Unit cell: cell constants, volume, orthogonalisation and fractionalisation
// matrices, and real and reciprocal metric tensors.
#ifndef VANTREL_SYMMETRY_CELL_H
#define VANTREL_SYMMETRY_CELL_H

#include "foundation/vec_mat.h"
#include "foundation/vstring.h"

namespace vantrel {

//! Six cell constants: edges in Angstrom, angles in radians.
class Cell_descr {
 public:
  //! All six constants missing (NaN).
  Cell_descr();
  //! An angle greater than pi is taken to be in degrees (as in MTZ and
  //! coordinate files) and converted to radians.
  Cell_descr(const double& a, const double& b, const double& c, const double& alpha,
             const double& beta, const double& gamma);

  const double& a() const { return a_; }
  const double& b() const { return b_; }
  const double& c() const { return c_; }
  //! Angle between b and c, in radians.
  const double& alpha() const { return alpha_; }
  //! Angle between a and c, in radians.
  const double& beta() const { return beta_; }
  //! Angle between a and b, in radians.
  const double& gamma() const { return gamma_; }
  double alpha_deg() const { return Util::rad2d(alpha_); }
  double beta_deg() const { return Util::rad2d(beta_); }
  double gamma_deg() const { return Util::rad2d(gamma_); }

  //! " Cell (a,b,c,alpha,beta,gamma)", angles in degrees.
  String format() const;

 protected:
  double a_, b_, c_, alpha_, beta_, gamma_;
};

//! A metric tensor with the off-diagonal terms stored doubled, so that the
//! squared length of v is m00 x^2 + m11 y^2 + m22 z^2 + m01 xy + m02 xz + m12 yz.
class Metric_tensor {
 public:
  //! All six terms missing (NaN).
  Metric_tensor();
  //! The tensor of a lattice with edges p, q, r and angles alpha, beta, gamma.
  Metric_tensor(const double& p, const double& q, const double& r, const double& alpha,
                const double& beta, const double& gamma);

  //! Squared length of v under the tensor, in double. On the reciprocal
  //! metric a Miller index gives 1/d^2; on the real metric a fractional
  //! vector gives its squared length in A^2.
  template <class T> double squared_length(const Vec3<T>& v) const {
    const double x = double(v[0]), y = double(v[1]), z = double(v[2]);
    return x * (x * m00_ + y * m01_ + z * m02_) + y * (y * m11_ + z * m12_) + z * z * m22_;
  }

  const double& m00() const { return m00_; }
  const double& m11() const { return m11_; }
  const double& m22() const { return m22_; }
  const double& m01() const { return m01_; }
  const double& m02() const { return m02_; }
  const double& m12() const { return m12_; }

  //! "m00=... m11=... m22=... m01=... m02=... m12=...".
  String format() const;

 private:
  double m00_, m11_, m22_, m01_, m02_, m12_;
};

//! A unit cell with its derived matrices and metric tensors.
/*! Orthogonal frame: a along x, b in the x-y plane, c* along z. A cell whose
    constants give no positive volume (a zero edge, or angles that admit no
    cell) is null: volume 0 and all derived fields missing. */
class Cell : public Cell_descr {
 public:
  //! The null cell.
  Cell();
  explicit Cell(const Cell_descr& descr);
  void init(const Cell_descr& descr);

  bool is_null() const { return volume_ <= 0.0; }
  //! True when both cells are non-null and their fractionalisation matrices
  //! differ (sum of squared element differences) by less than
  //! tol^2 / V^1.333, V being this cell's volume.
  bool equals(const Cell& other, const double tol) const;

  //! Volume in A^3.
  const double& volume() const { return volume_; }
  //! Fractional to orthogonal coordinates.
  const Mat33<>& orth_matrix() const { return orth_; }
  //! Orthogonal to fractional coordinates.
  const Mat33<>& frac_matrix() const { return frac_; }
  const Metric_tensor& real_metric() const { return realmetric_; }
  const Metric_tensor& reci_metric() const { return recimetric_; }

  // Reciprocal constants (A^-1 and radians), recomputed on each call.
  double a_star() const;
  double b_star() const;
  double c_star() const;
  double alpha_star() const;
  double beta_star() const;
  double gamma_star() const;

  //! Prints the constants, volume, matrices and metric tensors on stdout.
  void debug() const;

 private:
  void clear_derived();

  double volume_;
  Mat33<> orth_;
  Mat33<> frac_;
  Metric_tensor realmetric_;
  Metric_tensor recimetric_;
};

}  // namespace vantrel

#endif
