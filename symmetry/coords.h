// Coordinate, grid and operator value types: the rotation-translation
// operator, orthogonal, fractional, map, grid and reciprocal positions,
// Miller indices, grid sizes, anisotropic displacement tensors and atoms.
//
// The symmetry operators (RTop_frac, Symop, Isymop, Symop_code) live in
// symmetry/symop.h, which this header includes at its end, so that either
// header gives the complete set.
#ifndef VANTREL_SYMMETRY_COORDS_H
#define VANTREL_SYMMETRY_COORDS_H

#include <cmath>
#include <type_traits>
#include <utility>
#include <vector>

#include "foundation/util.h"
#include "foundation/vec_mat.h"
#include "foundation/vstring.h"
#include "symmetry/cell.h"

namespace vantrel {

class Spacegroup;
class Grid_range;
class RTop_orth;
class RTop_frac;
class Symop;
class Isymop;
class Coord_orth;
class Coord_frac;
class Coord_map;
class Coord_grid;
class Coord_reci_orth;
class Coord_reci_frac;
class HKL;

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
// Grid sizes

//! Numbers of grid points nu, nv, nw along a, b, c. Points are stored with
//! w fastest: the index of (u, v, w) is (u nv + v) nw + w.
class Grid : public Vec3<int> {
 public:
  Grid() {}
  Grid(const int& nu, const int& nv, const int& nw) : Vec3<int>(nu, nv, nw) {}

  const int& nu() const { return (*this)[0]; }
  const int& nv() const { return (*this)[1]; }
  const int& nw() const { return (*this)[2]; }
  int size() const { return nu() * nv() * nw(); }

  //! True when c lies in 0..n-1 along every axis.
  bool in_grid(const Coord_grid& c) const;
  //! The linear index of a grid point (no range check).
  int index(const Coord_grid& c) const;
  //! The grid point of a linear index: the inverse of index().
  Coord_grid deindex(const int& index) const;

  //! "Nuvw = (   nu,   nv,   nw)".
  String format() const;
  //! Writes format() and a newline to standard output.
  void debug() const;
};

// ---------------------------------------------------------------------------
// Reciprocal-space positions and Miller indices

//! Orthogonal reciprocal-space position (x*, y*, z*), 1/A.
class Coord_reci_orth : public Vec3<double> {
 public:
  Coord_reci_orth() {}
  explicit Coord_reci_orth(const Vec3<double>& v) : Vec3<double>(v) {}
  Coord_reci_orth(const double& xs, const double& ys, const double& zs)
      : Vec3<double>(xs, ys, zs) {}

  const double& xs() const { return (*this)[0]; }
  const double& ys() const { return (*this)[1]; }
  const double& zs() const { return (*this)[2]; }
  //! 1/d^2, the squared length.
  double invresolsq() const { return Vec3<double>::dot(*this, *this); }

  //! "x*y*z* = (x*,y*,z*)".
  String format() const;
};

//! Fractional reciprocal-space position (real-valued indices u*, v*, w*).
class Coord_reci_frac : public Vec3<double> {
 public:
  Coord_reci_frac() {}
  explicit Coord_reci_frac(const Vec3<double>& v) : Vec3<double>(v) {}
  Coord_reci_frac(const double& us, const double& vs, const double& ws)
      : Vec3<double>(us, vs, ws) {}
  explicit Coord_reci_frac(const HKL& hkl);

  const double& us() const { return (*this)[0]; }
  const double& vs() const { return (*this)[1]; }
  const double& ws() const { return (*this)[2]; }
  //! The nearest Miller index (ties to even).
  HKL hkl() const;
  //! 1/d^2 under the cell's reciprocal metric.
  double invresolsq(const Cell& cell) const {
    return cell.reci_metric().squared_length(*this);
  }
  //! Orthogonal form: the row vector times the fractionalisation matrix.
  Coord_reci_orth coord_reci_orth(const Cell& cell) const {
    return Coord_reci_orth(Vec3<double>(*this) * cell.frac_matrix());
  }

  //! "u*v*w* = (u*,v*,w*)".
  String format() const;
};

//! Miller indices (h, k, l).
class HKL : public Vec3<int> {
 public:
  HKL() {}
  explicit HKL(const Vec3<int>& v) : Vec3<int>(v) {}
  HKL(const int& h, const int& k, const int& l) : Vec3<int>(h, k, l) {}

  const int& h() const { return (*this)[0]; }
  const int& k() const { return (*this)[1]; }
  const int& l() const { return (*this)[2]; }
  int& h() { return (*this)[0]; }
  int& k() { return (*this)[1]; }
  int& l() { return (*this)[2]; }

  //! 1/d^2 in 1/A^2, from the cell's reciprocal metric.
  double invresolsq(const Cell& cell) const {
    return cell.reci_metric().squared_length(*this);
  }
  Coord_reci_frac coord_reci_frac() const { return Coord_reci_frac(*this); }
  //! The row vector (h, k, l) times the fractionalisation matrix.
  Coord_reci_orth coord_reci_orth(const Cell& cell) const {
    return coord_reci_frac().coord_reci_orth(cell);
  }
  //! The indices of the reflection related by an operator: h R.
  inline HKL transform(const Isymop& op) const;
  //! The same with a fractional operator, rounded to the nearest integers.
  inline HKL transform(const Symop& op) const;
  //! The phase shift -2 pi h.t that the operator gives the reflection.
  inline double sym_phase_shift(const Symop& op) const;

  //! "HKL = (   h,   k,   l)".
  String format() const;
};

inline Coord_reci_frac::Coord_reci_frac(const HKL& hkl)
    : Vec3<double>(hkl[0], hkl[1], hkl[2]) {}

inline HKL Coord_reci_frac::hkl() const {
  return HKL(int(std::lrint(us())), int(std::lrint(vs())), int(std::lrint(ws())));
}

// ---------------------------------------------------------------------------
// Real-space positions

//! Orthogonal position (x, y, z) in Angstrom.
class Coord_orth : public Vec3<double> {
 public:
  Coord_orth() {}
  explicit Coord_orth(const Vec3<double>& v) : Vec3<double>(v) {}
  Coord_orth(const double& x, const double& y, const double& z)
      : Vec3<double>(x, y, z) {}
  //! The position x4 with |x4 - x3| = length, angle(x2, x3, x4) = angle
  //! and torsion(x1, x2, x3, x4) = torsion (radians).
  Coord_orth(const Coord_orth& x1, const Coord_orth& x2, const Coord_orth& x3,
             const double& length, const double& angle, const double& torsion);

  const double& x() const { return (*this)[0]; }
  const double& y() const { return (*this)[1]; }
  const double& z() const { return (*this)[2]; }
  double lengthsq() const { return Vec3<double>::dot(*this, *this); }

  //! Fractional position F x.
  Coord_frac coord_frac(const Cell& cell) const;

  //! Distance between two positions.
  static double length(const Coord_orth& x1, const Coord_orth& x2);
  //! Angle x1-x2-x3 at x2, radians.
  static double angle(const Coord_orth& x1, const Coord_orth& x2,
                      const Coord_orth& x3);
  //! Torsion x1-x2-x3-x4, radians in [-pi, pi].
  static double torsion(const Coord_orth& x1, const Coord_orth& x2,
                        const Coord_orth& x3, const Coord_orth& x4);

  static Coord_orth null() { return Coord_orth(Vec3<double>::null()); }
  //! "xyz = (x,y,z)".
  String format() const;
};

//! Fractional position (u, v, w), in units of the cell edges.
class Coord_frac : public Vec3<double> {
 public:
  Coord_frac() {}
  explicit Coord_frac(const Vec3<double>& v) : Vec3<double>(v) {}
  Coord_frac(const double& u, const double& v, const double& w)
      : Vec3<double>(u, v, w) {}

  const double& u() const { return (*this)[0]; }
  const double& v() const { return (*this)[1]; }
  const double& w() const { return (*this)[2]; }
  //! Squared length in A^2 under the cell's real metric.
  double lengthsq(const Cell& cell) const {
    return cell.real_metric().squared_length(*this);
  }

  //! Orthogonal position O f.
  Coord_orth coord_orth(const Cell& cell) const;
  //! Map position (nu u, nv v, nw w).
  Coord_map coord_map(const Grid& g) const;
  //! The copy under the space group's operators and lattice translations
  //! that lies nearest to ref in the cell's metric; the first operator wins
  //! a tie.
  Coord_frac symmetry_copy_near(const Spacegroup& spgr, const Cell& cell,
                                const Coord_frac& ref) const;

  static Coord_frac null() { return Coord_frac(Vec3<double>::null()); }
  //! "uvw = (u,v,w)".
  String format() const;
};

//! Real-valued grid position (u, v, w), in grid steps.
class Coord_map : public Vec3<double> {
 public:
  Coord_map() {}
  explicit Coord_map(const Vec3<double>& v) : Vec3<double>(v) {}
  Coord_map(const double& u, const double& v, const double& w)
      : Vec3<double>(u, v, w) {}
  explicit Coord_map(const Coord_grid& c);

  const double& u() const { return (*this)[0]; }
  const double& v() const { return (*this)[1]; }
  const double& w() const { return (*this)[2]; }

  //! The nearest grid point: each component by lrint (ties to even).
  Coord_grid coord_grid() const;
  //! The grid point at or below the position on every axis.
  Coord_grid floor() const;
  //! Fractional position (u/nu, v/nv, w/nw).
  Coord_frac coord_frac(const Grid& g) const {
    return Coord_frac(u() / g.nu(), v() / g.nv(), w() / g.nw());
  }

  static Coord_map null() { return Coord_map(Vec3<double>::null()); }
  //! "uvw = (u,v,w)".
  String format() const;
};

//! Integer grid position (u, v, w).
class Coord_grid : public Vec3<int> {
 public:
  Coord_grid() {}
  explicit Coord_grid(const Vec3<int>& v) : Vec3<int>(v) {}
  Coord_grid(const int& u, const int& v, const int& w) : Vec3<int>(u, v, w) {}

  const int& u() const { return (*this)[0]; }
  const int& v() const { return (*this)[1]; }
  const int& w() const { return (*this)[2]; }
  int& u() { return (*this)[0]; }
  int& v() { return (*this)[1]; }
  int& w() { return (*this)[2]; }

  Coord_map coord_map() const { return Coord_map(*this); }
  //! Fractional position (u/nu, v/nv, w/nw).
  Coord_frac coord_frac(const Grid& g) const {
    return coord_map().coord_frac(g);
  }
  //! The point moved by an integer grid operator: R c + t.
  inline Coord_grid transform(const Isymop& op) const;

  //! Linear index (u nv + v) nw + w on the grid; no range check.
  int index(const Grid& g) const { return (u() * g.nv() + v()) * g.nw() + w(); }
  //! Each component reduced into 0..n-1 of its axis (sizes must be > 0).
  Coord_grid unit(const Grid& g) const {
    return Coord_grid(wrap(u(), g.nu()), wrap(v(), g.nv()), wrap(w(), g.nw()));
  }
  //! Steps to the next point in index order; u is never wrapped, so a walk
  //! from (0, 0, 0) ends at (nu, 0, 0).
  Coord_grid& next(const Grid& g) {
    if (++w() == g.nw()) {
      w() = 0;
      if (++v() == g.nv()) {
        v() = 0;
        ++u();
      }
    }
    return *this;
  }
  //! Steps through a box, w fastest; a walk from min() ends at
  //! (max_u + 1, min_v, min_w).
  Coord_grid& next(const Grid_range& g);

  //! "uvw = (   u,   v,   w)".
  String format() const;

 private:
  static int wrap(const int& c, const int& n) {
    const int r = c % n;
    return r < 0 ? r + n : r;
  }
};

inline bool Grid::in_grid(const Coord_grid& c) const {
  return c.u() >= 0 && c.u() < nu() && c.v() >= 0 && c.v() < nv() &&
         c.w() >= 0 && c.w() < nw();
}
inline int Grid::index(const Coord_grid& c) const { return c.index(*this); }
inline Coord_grid Grid::deindex(const int& index) const {
  return Coord_grid(index / (nv() * nw()), (index / nw()) % nv(), index % nw());
}

inline Coord_map::Coord_map(const Coord_grid& c)
    : Vec3<double>(c.u(), c.v(), c.w()) {}
inline Coord_grid Coord_map::coord_grid() const {
  return Coord_grid(int(std::lrint(u())), int(std::lrint(v())),
                    int(std::lrint(w())));
}
inline Coord_grid Coord_map::floor() const {
  return Coord_grid(int(std::floor(u())), int(std::floor(v())),
                    int(std::floor(w())));
}

inline Coord_frac Coord_orth::coord_frac(const Cell& cell) const {
  return Coord_frac(cell.frac_matrix() * (*this));
}
inline Coord_orth Coord_frac::coord_orth(const Cell& cell) const {
  return Coord_orth(cell.orth_matrix() * (*this));
}
inline Coord_map Coord_frac::coord_map(const Grid& g) const {
  return Coord_map(double(g.nu()) * u(), double(g.nv()) * v(),
                   double(g.nw()) * w());
}

// Component-wise arithmetic that keeps the type of positions and Miller
// indices (the Vec3 operators would return a plain Vec3).

template <class C> struct Is_coord : std::false_type {};
template <> struct Is_coord<Coord_orth> : std::true_type {};
template <> struct Is_coord<Coord_frac> : std::true_type {};
template <> struct Is_coord<Coord_map> : std::true_type {};
template <> struct Is_coord<Coord_grid> : std::true_type {};
template <> struct Is_coord<HKL> : std::true_type {};

template <class C> using If_coord = std::enable_if_t<Is_coord<C>::value, C>;
template <class C> using Coord_element = std::decay_t<decltype(std::declval<C>()[0])>;

template <class C> If_coord<C> operator+(const C& a, const C& b) {
  return C(a[0] + b[0], a[1] + b[1], a[2] + b[2]);
}
template <class C> If_coord<C> operator-(const C& a, const C& b) {
  return C(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
}
template <class C> If_coord<C> operator-(const C& a) { return C(-a[0], -a[1], -a[2]); }
template <class C> If_coord<C> operator*(const Coord_element<C>& s, const C& a) {
  return C(s * a[0], s * a[1], s * a[2]);
}

// ---------------------------------------------------------------------------
// Orthogonal operator

//! Rotation-translation operator on orthogonal coordinates (Angstrom).
class RTop_orth : public RTop<double> {
 public:
  RTop_orth() {}
  explicit RTop_orth(const RTop<double>& op) : RTop<double>(op) {}
  explicit RTop_orth(const Mat33<double>& rot) : RTop<double>(rot) {}
  RTop_orth(const Mat33<double>& rot, const Vec3<double>& trn)
      : RTop<double>(rot, trn) {}
  //! The least-squares superposition of src onto tgt: tgt_i ~ R src_i + t.
  //! Lists of different lengths are fatal.
  RTop_orth(const std::vector<Coord_orth>& src,
            const std::vector<Coord_orth>& tgt);

  //! The same operation on fractional coordinates: (F R O, F t).
  RTop_frac rtop_frac(const Cell& cell) const;
  RTop_orth inverse() const { return RTop_orth(RTop<double>::inverse()); }

  static RTop_orth identity() { return RTop_orth(RTop<double>::identity()); }
  static RTop_orth null() { return RTop_orth(RTop<double>::null()); }
};

inline Coord_orth operator*(const RTop_orth& op, const Coord_orth& x) {
  return Coord_orth(op.rot() * x + op.trn());
}

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
  U_aniso_orth(const double& u11, const double& u22, const double& u33,
               const double& u12, const double& u13, const double& u23)
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
  U_aniso_frac(const double& u11, const double& u22, const double& u33,
               const double& u12, const double& u13, const double& u23)
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
  Sig_U_aniso_orth(const double& s11, const double& s22, const double& s33,
                   const double& s12, const double& s13, const double& s23)
      : Mat33sym<double>(s11, s22, s33, s12, s13, s23) {}

  static Sig_U_aniso_orth null() {
    return Sig_U_aniso_orth(Mat33sym<double>::null());
  }
};

// ---------------------------------------------------------------------------
// Atoms

//! One atom: element, orthogonal position, anisotropic U, occupancy and
//! isotropic U (A^2). Unset values are missing (NaN); a default atom is null.
class Atom {
 public:
  Atom() : Atom(null()) {}
  Atom(const String& element, const Coord_orth& coord,
       const U_aniso_orth& u_aniso, const double& occupancy,
       const double& u_iso)
      : element_(element), coord_(coord), u_aniso_(u_aniso),
        occupancy_(occupancy), u_iso_(u_iso) {}

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
    return Atom(String(), Coord_orth::null(), U_aniso_orth::null(), Util::nan(),
                Util::nan());
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

#include "symmetry/symop.h"

#endif
