// Atoms: anisotropic displacement tensors in the orthogonal and fractional
// frames, standard deviations of positions and tensors, the atom and the
// atom list.
#ifndef VANTREL_SYMMETRY_ATOM_H
#define VANTREL_SYMMETRY_ATOM_H

#include <cmath>
#include <vector>

#include "foundation/util.h"
#include "foundation/vec_mat.h"
#include "foundation/vstring.h"
#include "symmetry/cell.h"
#include "symmetry/coords.h"
#include "symmetry/rtop.h"
#include "symmetry/symop.h"

namespace vantrel {

// ---------------------------------------------------------------------------
// Anisotropic displacement tensors

class U_aniso_frac;

//! Anisotropic displacement tensor in the orthogonal frame, A^2, stored
//! U11, U22, U33, U12, U13, U23.
class U_aniso_orth : public Mat33sym<double> {
 public:
  U_aniso_orth() {}
  explicit U_aniso_orth(const Mat33sym<double>& m) : Mat33sym<double>(m) {}
  //! The isotropic tensor u I.
  explicit U_aniso_orth(const double& u) : Mat33sym<double>(u, u, u, 0, 0, 0) {}
  U_aniso_orth(const double& u11, const double& u22, const double& u33, const double& u12,
               const double& u13, const double& u23)
      : Mat33sym<double>(u11, u22, u33, u12, u13, u23) {}

  //! The equivalent isotropic U, the cube root of the determinant.
  double u_iso() const { return std::pow(det(), 0.3333333333); }
  //! The tensor in the fractional frame, F U F^T.
  U_aniso_frac u_aniso_frac(const Cell& cell) const;
  //! The tensor rotated by the operator's rotation R: R U R^T.
  U_aniso_orth transform(const RTop_orth& op) const;

  static U_aniso_orth null() { return U_aniso_orth(Mat33sym<double>::null()); }
};

//! Anisotropic displacement tensor in the fractional frame.
class U_aniso_frac : public Mat33sym<double> {
 public:
  U_aniso_frac() {}
  explicit U_aniso_frac(const Mat33sym<double>& m) : Mat33sym<double>(m) {}
  U_aniso_frac(const double& u11, const double& u22, const double& u33, const double& u12,
               const double& u13, const double& u23)
      : Mat33sym<double>(u11, u22, u33, u12, u13, u23) {}

  //! The tensor in the orthogonal frame, O U O^T.
  U_aniso_orth u_aniso_orth(const Cell& cell) const;
  //! The tensor transformed by the operator's rotation R: R U R^T.
  U_aniso_frac transform(const RTop_frac& op) const;

  static U_aniso_frac null() { return U_aniso_frac(Mat33sym<double>::null()); }
};

inline U_aniso_orth operator+(const U_aniso_orth& a, const U_aniso_orth& b) {
  return U_aniso_orth(Mat33sym<double>(a) + Mat33sym<double>(b));
}

// ---------------------------------------------------------------------------
// Standard deviations

//! Standard deviations of an orthogonal position; null like Coord_orth.
class Sig_Coord_orth : public Vec3<double> {
 public:
  Sig_Coord_orth() {}
  explicit Sig_Coord_orth(const Vec3<double>& v) : Vec3<double>(v) {}
  Sig_Coord_orth(const double& sigx, const double& sigy, const double& sigz)
      : Vec3<double>(sigx, sigy, sigz) {}

  const double& sigx() const { return (*this)[0]; }
  const double& sigy() const { return (*this)[1]; }
  const double& sigz() const { return (*this)[2]; }

  static Sig_Coord_orth null() { return Sig_Coord_orth(Vec3<double>::null()); }
};

//! Standard deviations of the six terms of an orthogonal displacement
//! tensor, in the same order; null like U_aniso_orth.
class Sig_U_aniso_orth : public Mat33sym<double> {
 public:
  Sig_U_aniso_orth() {}
  explicit Sig_U_aniso_orth(const Mat33sym<double>& m) : Mat33sym<double>(m) {}
  Sig_U_aniso_orth(const double& s11, const double& s22, const double& s33, const double& s12,
                   const double& s13, const double& s23)
      : Mat33sym<double>(s11, s22, s33, s12, s13, s23) {}

  static Sig_U_aniso_orth null() { return Sig_U_aniso_orth(Mat33sym<double>::null()); }
};

// ---------------------------------------------------------------------------
// Atoms

//! One atom: element, orthogonal position, anisotropic U, occupancy and
//! isotropic U (A^2). Unset values are missing (NaN); a default atom is null.
class Atom {
 public:
  Atom() : Atom(null()) {}
  Atom(const String& element, const Coord_orth& coord, const U_aniso_orth& u_aniso,
       const double& occupancy, const double& u_iso)
      : element_(element), coord_(coord), u_aniso_(u_aniso), occupancy_(occupancy), u_iso_(u_iso) {}

  const String& element() const { return element_; }
  const Coord_orth& coord_orth() const { return coord_; }
  const U_aniso_orth& u_aniso_orth() const { return u_aniso_; }
  const double& occupancy() const { return occupancy_; }
  const double& u_iso() const { return u_iso_; }

  void set_element(const String& s) { element_ = s; }
  void set_coord_orth(const Coord_orth& c) { coord_ = c; }
  void set_u_aniso_orth(const U_aniso_orth& u) { u_aniso_ = u; }
  void set_occupancy(const double& o) { occupancy_ = o; }
  void set_u_iso(const double& u) { u_iso_ = u; }

  //! Moves the position by the operator and rotates the anisotropic U;
  //! a missing U stays missing.
  void transform(const RTop_orth& op);

  //! Null when the position is null.
  bool is_null() const { return coord_.is_null(); }
  //! Empty element, null position and tensor, missing occupancy and U.
  static Atom null() {
    return Atom(String(), Coord_orth::null(), U_aniso_orth::null(), Util::nan(), Util::nan());
  }

 private:
  String element_;
  Coord_orth coord_;
  U_aniso_orth u_aniso_;
  double occupancy_;
  double u_iso_;
};

//! An ordered list of atoms: the form in which models enter calculations.
class Atom_list : public std::vector<Atom> {
 public:
  using std::vector<Atom>::vector;
  Atom_list() {}
};
}  // namespace vantrel

#endif
