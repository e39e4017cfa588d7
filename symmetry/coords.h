// Coordinates and grids: grid sizes, orthogonal, fractional, map and grid
// positions, reciprocal-space positions and Miller indices, with the
// component-wise arithmetic that keeps their types.
#ifndef VANTREL_SYMMETRY_COORDS_H
#define VANTREL_SYMMETRY_COORDS_H

#include <cmath>
#include <type_traits>
#include <utility>

#include "foundation/util.h"
#include "foundation/vec_mat.h"
#include "foundation/vstring.h"
#include "symmetry/cell.h"

namespace vantrel {

class Spacegroup;
class Grid_range;
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
  double invresolsq(const Cell& cell) const { return cell.reci_metric().squared_length(*this); }
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
  double invresolsq(const Cell& cell) const { return cell.reci_metric().squared_length(*this); }
  Coord_reci_frac coord_reci_frac() const { return Coord_reci_frac(*this); }
  //! The row vector (h, k, l) times the fractionalisation matrix.
  Coord_reci_orth coord_reci_orth(const Cell& cell) const {
    return coord_reci_frac().coord_reci_orth(cell);
  }
  // The three operator members are defined in symmetry/symop.h.
  //! The indices of the reflection related by an operator: h R.
  inline HKL transform(const Isymop& op) const;
  //! The same with a fractional operator, rounded to the nearest integers.
  inline HKL transform(const Symop& op) const;
  //! The phase shift -2 pi h.t that the operator gives the reflection.
  inline double sym_phase_shift(const Symop& op) const;

  //! "HKL = (   h,   k,   l)".
  String format() const;
};

inline Coord_reci_frac::Coord_reci_frac(const HKL& hkl) : Vec3<double>(hkl[0], hkl[1], hkl[2]) {}

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
  Coord_orth(const double& x, const double& y, const double& z) : Vec3<double>(x, y, z) {}
  //! The position x4 with |x4 - x3| = length, angle(x2, x3, x4) = angle
  //! and torsion(x1, x2, x3, x4) = torsion (radians).
  Coord_orth(const Coord_orth& x1, const Coord_orth& x2, const Coord_orth& x3, const double& length,
             const double& angle, const double& torsion);

  const double& x() const { return (*this)[0]; }
  const double& y() const { return (*this)[1]; }
  const double& z() const { return (*this)[2]; }
  double lengthsq() const { return Vec3<double>::dot(*this, *this); }

  //! Fractional position F x.
  Coord_frac coord_frac(const Cell& cell) const;

  //! Distance between two positions.
  static double length(const Coord_orth& x1, const Coord_orth& x2);
  //! Angle x1-x2-x3 at x2, radians.
  static double angle(const Coord_orth& x1, const Coord_orth& x2, const Coord_orth& x3);
  //! Torsion x1-x2-x3-x4, radians in [-pi, pi].
  static double torsion(const Coord_orth& x1, const Coord_orth& x2, const Coord_orth& x3,
                        const Coord_orth& x4);

  static Coord_orth null() { return Coord_orth(Vec3<double>::null()); }
  //! "xyz = (x,y,z)".
  String format() const;
};

//! Fractional position (u, v, w), in units of the cell edges.
class Coord_frac : public Vec3<double> {
 public:
  Coord_frac() {}
  explicit Coord_frac(const Vec3<double>& v) : Vec3<double>(v) {}
  Coord_frac(const double& u, const double& v, const double& w) : Vec3<double>(u, v, w) {}

  const double& u() const { return (*this)[0]; }
  const double& v() const { return (*this)[1]; }
  const double& w() const { return (*this)[2]; }
  //! Squared length in A^2 under the cell's real metric.
  double lengthsq(const Cell& cell) const { return cell.real_metric().squared_length(*this); }

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
  Coord_map(const double& u, const double& v, const double& w) : Vec3<double>(u, v, w) {}
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
  Coord_frac coord_frac(const Grid& g) const { return coord_map().coord_frac(g); }
  //! The point moved by an integer grid operator: R c + t (defined in
  //! symmetry/symop.h).
  inline Coord_grid transform(const Isymop& op) const;

  //! Linear index (u nv + v) nw + w on the grid; no range check.
  int index(const Grid& g) const { return (u() * g.nv() + v()) * g.nw() + w(); }
  //! Each component reduced into 0..n-1 of its axis (sizes must be > 0).
  Coord_grid unit(const Grid& g) const {
    return Coord_grid(Util::mod(u(), g.nu()), Util::mod(v(), g.nv()), Util::mod(w(), g.nw()));
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
};

inline bool Grid::in_grid(const Coord_grid& c) const {
  return c.u() >= 0 && c.u() < nu() && c.v() >= 0 && c.v() < nv() && c.w() >= 0 && c.w() < nw();
}
inline int Grid::index(const Coord_grid& c) const { return c.index(*this); }
inline Coord_grid Grid::deindex(const int& index) const {
  return Coord_grid(index / (nv() * nw()), (index / nw()) % nv(), index % nw());
}

inline Coord_map::Coord_map(const Coord_grid& c) : Vec3<double>(c.u(), c.v(), c.w()) {}
inline Coord_grid Coord_map::coord_grid() const {
  return Coord_grid(int(std::lrint(u())), int(std::lrint(v())), int(std::lrint(w())));
}
inline Coord_grid Coord_map::floor() const {
  return Coord_grid(int(std::floor(u())), int(std::floor(v())), int(std::floor(w())));
}

inline Coord_frac Coord_orth::coord_frac(const Cell& cell) const {
  return Coord_frac(cell.frac_matrix() * (*this));
}
inline Coord_orth Coord_frac::coord_orth(const Cell& cell) const {
  return Coord_orth(cell.orth_matrix() * (*this));
}
inline Coord_map Coord_frac::coord_map(const Grid& g) const {
  return Coord_map(double(g.nu()) * u(), double(g.nv()) * v(), double(g.nw()) * w());
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
}  // namespace vantrel

#endif
