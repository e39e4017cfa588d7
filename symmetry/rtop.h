// Rotation-translation operators: the general operator x -> R x + t on any
// element type, with its product, and its form on orthogonal coordinates.
#ifndef VANTREL_SYMMETRY_RTOP_H
#define VANTREL_SYMMETRY_RTOP_H

#include <vector>

#include "foundation/vec_mat.h"
#include "symmetry/cell.h"
#include "symmetry/coords.h"

namespace vantrel {

class RTop_frac;

// ---------------------------------------------------------------------------
// Rotation-translation operator

//! The operator x -> R x + t.
template <class T = double> class RTop {
 public:
  RTop() {}
  explicit RTop(const Mat33<T>& rot) : rot_(rot), trn_(Vec3<T>::zero()) {}
  RTop(const Mat33<T>& rot, const Vec3<T>& trn) : rot_(rot), trn_(trn) {}

  const Mat33<T>& rot() const { return rot_; }
  Mat33<T>& rot() { return rot_; }
  const Vec3<T>& trn() const { return trn_; }
  Vec3<T>& trn() { return trn_; }

  //! (R^-1, -R^-1 t); a singular rotation gives non-finite elements.
  RTop<T> inverse() const {
    const Mat33<T> rinv = rot_.inverse();
    return RTop<T>(rinv, -(rinv * trn_));
  }
  //! Null when the first rotation element is missing.
  bool is_null() const { return rot_.is_null(); }

  static RTop<T> identity() { return RTop<T>(Mat33<T>::identity(), Vec3<T>::zero()); }
  //! Rotation element (0, 0) and translation x missing, the rest 0.
  static RTop<T> null() { return RTop<T>(Mat33<T>::null(), Vec3<T>::null()); }

 private:
  Mat33<T> rot_;
  Vec3<T> trn_;
};

//! Applies the operator: R x + t.
template <class T> Vec3<T> operator*(const RTop<T>& op, const Vec3<T>& x) {
  return op.rot() * x + op.trn();
}

//! Product (R1, t1) x (R2, t2) = (R1 R2, R1 t2 + t1): (A x B) x = A (B x).
template <class T> RTop<T> operator*(const RTop<T>& a, const RTop<T>& b) {
  return RTop<T>(a.rot() * b.rot(), a.rot() * b.trn() + a.trn());
}
// ---------------------------------------------------------------------------
// Orthogonal operator

//! Rotation-translation operator on orthogonal coordinates (Angstrom).
class RTop_orth : public RTop<double> {
 public:
  RTop_orth() {}
  explicit RTop_orth(const RTop<double>& op) : RTop<double>(op) {}
  explicit RTop_orth(const Mat33<double>& rot) : RTop<double>(rot) {}
  RTop_orth(const Mat33<double>& rot, const Vec3<double>& trn) : RTop<double>(rot, trn) {}
  //! The least-squares superposition of src onto tgt: tgt_i ~ R src_i + t.
  //! Lists of different lengths are fatal.
  RTop_orth(const std::vector<Coord_orth>& src, const std::vector<Coord_orth>& tgt);

  //! The same operation on fractional coordinates: (F R O, F t).
  RTop_frac rtop_frac(const Cell& cell) const;
  RTop_orth inverse() const { return RTop_orth(RTop<double>::inverse()); }

  static RTop_orth identity() { return RTop_orth(RTop<double>::identity()); }
  static RTop_orth null() { return RTop_orth(RTop<double>::null()); }
};

inline Coord_orth operator*(const RTop_orth& op, const Coord_orth& x) {
  return Coord_orth(op.rot() * x + op.trn());
}
}  // namespace vantrel

#endif
