// Symmetry operators in their four forms: the general fractional operator
// read from "x,y,z" text, the crystallographic operator with its translation
// in 48ths, the integer operator on a grid and the 32-bit operator code.
#ifndef VANTREL_SYMMETRY_SYMOP_H
#define VANTREL_SYMMETRY_SYMOP_H

#include <vector>

#include "foundation/util.h"
#include "foundation/vec_mat.h"
#include "foundation/vstring.h"
#include "symmetry/cell.h"
#include "symmetry/coords.h"
#include "symmetry/rtop.h"

namespace vantrel {

//! Rotation-translation operator on fractional coordinates.
class RTop_frac : public RTop<double> {
 public:
  RTop_frac() {}
  explicit RTop_frac(const RTop<double>& op) : RTop<double>(op) {}
  explicit RTop_frac(const Mat33<double>& rot) : RTop<double>(rot) {}
  RTop_frac(const Mat33<double>& rot, const Vec3<double>& trn) : RTop<double>(rot, trn) {}
  //! Reads an operator text such as "-y,x-y,z+1/3", "x+0.5, y, z" or
  //! "1/2-X , Y , Z". Fields are separated by commas (blanks are ignored);
  //! a text that is not three fields, or with a number that is cut short
  //! ("z+1/"), not finite ("z+1/0") or beyond 2^20 in size, is fatal.
  explicit RTop_frac(const String& s);

  //! The same operation on orthogonal coordinates: (O R F, O t).
  RTop_orth rtop_orth(const Cell& cell) const;
  RTop_frac inverse() const { return RTop_frac(RTop<double>::inverse()); }

  static RTop_frac identity() { return RTop_frac(RTop<double>::identity()); }
  static RTop_frac null() { return RTop_frac(RTop<double>::null()); }
};

//! Crystallographic symmetry operator: each translation component is a
//! whole number of 48ths in [0, 1).
class Symop : public RTop_frac {
 public:
  Symop() {}
  //! Rotation elements rounded to whole numbers (ties to even), translation
  //! snapped to 48ths and reduced into [0, 1). Fatal for an element that is
  //! not finite or beyond 2^20 in size, as below.
  explicit Symop(const RTop<double>& op);
  //! Rotation from the upper 3x3 (not rounded), translation from column 3
  //! (snapped and reduced); row 3 is not read.
  explicit Symop(const double mat[4][4]);

  //! The operator as text, rows joined by ", ": "-y, x-y, z+1/3"; the
  //! translations as stored, in 48ths ("z+1/16").
  String format() const;
};

//! Integer operator on a grid: integer rotation, translation in grid steps
//! of a grid that the operator does not store.
class Isymop : public RTop<int> {
 public:
  Isymop() {}
  explicit Isymop(const RTop<int>& op) : RTop<int>(op) {}
  Isymop(const Mat33<int>& rot, const Vec3<int>& trn) : RTop<int>(rot, trn) {}
  //! Rotation rounded, translation n_i t_i rounded (ties to even) on the
  //! grid g; the translation is not reduced modulo the grid.
  Isymop(const Symop& op, const Grid& g);
};

//! The 32-bit integer code of an operator on the 24x24x24 grid: the
//! rotation digits (r+1) mod 3 in base 3, XORed with the identity's, in the
//! high 16 bits; tx + 24 ty + 576 tz (translation in 24ths) in the low 16.
//! The identity operator has code 0; codes sort and compare as integers.
class Symop_code {
 public:
  Symop_code() : code_(0) {}
  Symop_code(const int& code) : code_(code) {}
  //! The code of an integer operator on the 24 grid.
  explicit Symop_code(const Isymop& op) { init(op); }
  explicit Symop_code(const Symop& op) { init(Isymop(op, Grid(24, 24, 24))); }
  //! Encodes an integer operator on the 24 grid; translations are folded
  //! into 0..23. A rotation element outside -1..1 is fatal.
  void init(const Isymop& op);

  //! The same rotation with zero translation.
  Symop_code code_rot() const { return Symop_code(code_ & ~0xffff); }
  //! The same translation with the identity rotation.
  Symop_code code_trn() const { return Symop_code(code_ & 0x0000ffff); }
  //! The operator on the 24 grid, translation in 0..23.
  Isymop isymop() const;
  //! The operator with its translation in 24ths in [0, 1).
  Symop symop() const;

  operator int() const { return code_; }

 private:
  int code_;
};

//! Why a list of operators cannot be the whole symmetry of a crystal of
//! this cell, or "" when it can: the metric fault, then the group fault.
String symop_set_fault(const std::vector<Symop>& ops, const Cell& cell,
                       const double tolerance = 1.0e-3);
//! Why some rotation of the list does not keep the cell's metric, or "":
//! R^T G R = G on fractional coordinates, to tolerance times the largest
//! term of G. The default tolerance, about 5e-4 in an edge, admits cells
//! refined without their system's constraints and the 4 decimals of a
//! file's cell records; a cell of another system misses by far more (a 120
//! against a 90 degree angle changes a cross term by half the squared edges).
String symop_metric_fault(const std::vector<Symop>& ops, const Cell& cell,
                          const double tolerance = 1.0e-3);
//! Why the list is not a group, or "": every product, its translation
//! reduced into [0, 1), must be in the list (so the identity is too).
String symop_group_fault(const std::vector<Symop>& ops);

// Operators applied to the coordinate types, keeping the type; these also
// define the operator members declared in symmetry/coords.h.

inline Coord_frac operator*(const RTop_frac& op, const Coord_frac& f) {
  return Coord_frac(op.rot() * f + op.trn());
}
//! Product of integer operators, (R1 R2, R1 t2 + t1), keeping the type.
inline Isymop operator*(const Isymop& a, const Isymop& b) {
  return Isymop(RTop<int>(a) * RTop<int>(b));
}
inline Coord_grid operator*(const Isymop& op, const Coord_grid& c) {
  return Coord_grid(op.rot() * c + op.trn());
}

inline Coord_grid Coord_grid::transform(const Isymop& op) const { return op * (*this); }
inline HKL HKL::transform(const Isymop& op) const { return HKL((*this) * op.rot()); }
inline HKL HKL::transform(const Symop& op) const {
  return Coord_reci_frac(Vec3<double>(*this) * op.rot()).hkl();
}
inline double HKL::sym_phase_shift(const Symop& op) const {
  return -Util::twopi_ * Vec3<double>::dot(Vec3<double>(*this), op.trn());
}

}  // namespace vantrel

#endif
