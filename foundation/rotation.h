// Rotations as unit quaternions, with the CCP4 Euler and polar angle forms.
#ifndef VANTREL_FOUNDATION_ROTATION_H
#define VANTREL_FOUNDATION_ROTATION_H

#include "foundation/vec_mat.h"
#include "foundation/vstring.h"

namespace vantrel {

//! CCP4 Euler angles in radians: R = Rz(alpha) Ry(beta) Rz(gamma).
class Euler_ccp4 {
 public:
  Euler_ccp4() : alpha_(0.0), beta_(0.0), gamma_(0.0) {}
  Euler_ccp4(const double& alpha, const double& beta, const double& gamma)
      : alpha_(alpha), beta_(beta), gamma_(gamma) {}
  const double& alpha() const { return alpha_; }
  const double& beta() const { return beta_; }
  const double& gamma() const { return gamma_; }
  //! "Euler = (a,b,g)" in degrees.
  String format() const;

 private:
  double alpha_, beta_, gamma_;
};

//! CCP4 polar angles in radians: a rotation by kappa about the axis
//! (sin omega cos phi, sin omega sin phi, cos omega).
class Polar_ccp4 {
 public:
  Polar_ccp4() : omega_(0.0), phi_(0.0), kappa_(0.0) {}
  Polar_ccp4(const double& omega, const double& phi, const double& kappa)
      : omega_(omega), phi_(phi), kappa_(kappa) {}
  const double& omega() const { return omega_; }
  const double& phi() const { return phi_; }
  const double& kappa() const { return kappa_; }
  //! "Polar = (o,p,k)" in degrees.
  String format() const;

 private:
  double omega_, phi_, kappa_;
};

//! A rotation held as a quaternion (w, x, y, z).
/*! A rotation by theta about the unit axis u is (cos theta/2, u sin theta/2).
  Every operation except norm() takes the quaternion to be of unit length. */
class Rotation {
 public:
  //! The identity.
  Rotation() : w_(1.0), x_(0.0), y_(0.0), z_(0.0) {}
  Rotation(const double& w, const double& x, const double& y, const double& z)
      : w_(w), x_(x), y_(y), z_(z) {}
  explicit Rotation(const Euler_ccp4& euler);
  explicit Rotation(const Polar_ccp4& polar);
  //! From a rotation matrix; the result is not normalised.
  explicit Rotation(const Mat33<double>& m);

  const double& w() const { return w_; }
  const double& x() const { return x_; }
  const double& y() const { return y_; }
  const double& z() const { return z_; }

  //! Scales to unit length in place; a (near) zero quaternion becomes the
  //! identity.
  Rotation& norm();
  //! The rotation matrix, acting on column vectors.
  Mat33<double> matrix() const;
  Euler_ccp4 euler_ccp4() const;
  Polar_ccp4 polar_ccp4() const;
  //! "Quaternion wxyz = (w,x,y,z)".
  String format() const;

  //! a followed by b: matrix(a * b) = matrix(b) * matrix(a).
  friend Rotation operator*(const Rotation& a, const Rotation& b);

 private:
  double w_, x_, y_, z_;
};

}  // namespace vantrel

#endif
