// Euler angles in the 24 conventions of three coordinate axes and a frame,
// converted to and from the quaternion Rotation and written as text.
#ifndef VANTREL_ROTATIONS_EULER_H
#define VANTREL_ROTATIONS_EULER_H

#include "foundation/rotation.h"
#include "foundation/vstring.h"

namespace vantrel {

//! Three angles alpha, beta, gamma in radians in convention N (0 to 23).
/*! N = 2k + frame: k numbers the axis triples XYZ, XYX, XZX, XZY, YZX, YZY,
  YXY, YXZ, ZXY, ZXZ, ZYZ, ZYX (axes 0 = x, 1 = y, 2 = z), and frame is 0
  for a rotating frame (each turn about an axis carried along by the turns
  before it: matrix R1(alpha) R2(beta) R3(gamma)) or 1 for a static frame
  (each turn about a fixed axis, the first acting first on a vector: matrix
  R3(gamma) R2(beta) R1(alpha)). Ri is the right-handed rotation about the
  convention's i-th axis.

  Extraction gives alpha and gamma in [-pi, pi], and beta in [0, pi] when
  the first and third axes are the same (proper Euler) or in [-pi/2, pi/2]
  otherwise (Tait-Bryan). At gimbal lock only one combination of alpha and
  gamma is defined: the angle whose turn comes first in the Hamilton product
  (alpha for a rotating frame, gamma for a static one) is set to 0 and the
  other carries the whole turn. For proper Euler conventions this happens
  whenever sin(beta) <= 0.0001, so there the angles reproduce the rotation
  only to about that tolerance; for Tait-Bryan ones only where the free
  combination is lost in rounding. Extraction takes the quaternion to be of
  unit length, as Rotation does; composition does not normalise. */
template <int N> class Euler {
  static_assert(N >= 0 && N < 24, "Euler conventions are numbered 0 to 23");

 public:
  //! All three angles 0.
  Euler() : alpha_(0.0), beta_(0.0), gamma_(0.0) {}
  Euler(const double& alpha, const double& beta, const double& gamma)
      : alpha_(alpha), beta_(beta), gamma_(gamma) {}
  explicit Euler(const Rotation& rotation);

  const double& alpha() const { return alpha_; }
  const double& beta() const { return beta_; }
  const double& gamma() const { return gamma_; }

  //! The quaternion of the three turns (not normalised).
  Rotation rotation() const;
  //! "EulerXYZr = (a,b,g)": axis letters, r(otating) or s(tatic), and the
  //! angles in degrees, each right-aligned in six characters.
  String format() const;

  //! The first, second and third axis (0 = x, 1 = y, 2 = z) and the frame
  //! (0 = rotating, 1 = static) of this convention.
  static void params(int& first, int& second, int& third, int& frame);

 private:
  double alpha_, beta_, gamma_;
};

// All 24 conventions are compiled into the library.
extern template class Euler<0>;
extern template class Euler<1>;
extern template class Euler<2>;
extern template class Euler<3>;
extern template class Euler<4>;
extern template class Euler<5>;
extern template class Euler<6>;
extern template class Euler<7>;
extern template class Euler<8>;
extern template class Euler<9>;
extern template class Euler<10>;
extern template class Euler<11>;
extern template class Euler<12>;
extern template class Euler<13>;
extern template class Euler<14>;
extern template class Euler<15>;
extern template class Euler<16>;
extern template class Euler<17>;
extern template class Euler<18>;
extern template class Euler<19>;
extern template class Euler<20>;
extern template class Euler<21>;
extern template class Euler<22>;
extern template class Euler<23>;

}  // namespace vantrel

#endif
