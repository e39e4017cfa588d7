#include "symmetry/coords.h"

#include <iostream>

#include "foundation/matrix.h"
#include "foundation/message.h"
#include "foundation/rotation.h"
#include "symmetry/sampling.h"

namespace vantrel {

namespace {

String format_reals(const char* prefix, const Vec3<double>& v, int width,
                    int prec) {
  return prefix + String(v[0], width, prec) + "," + String(v[1], width, prec) +
         "," + String(v[2], width, prec) + ")";
}

String format_ints(const char* prefix, const Vec3<int>& v) {
  return prefix + String(v[0], 4) + "," + String(v[1], 4) + "," +
         String(v[2], 4) + ")";
}

// R U R^T: a second-rank tensor carried through the linear map R.
Mat33sym<double> congruence(const Mat33<double>& r, const Mat33sym<double>& u) {
  return Mat33sym<double>(r * Mat33<double>(u) * r.transpose());
}

}  // namespace

// ---------------------------------------------------------------------------
// Text forms

String Grid::format() const { return format_ints("Nuvw = (", *this); }

void Grid::debug() const { std::cout << format() << "\n"; }

String Coord_reci_orth::format() const {
  return format_reals("x*y*z* = (", *this, 6, 6);
}
String Coord_reci_frac::format() const {
  return format_reals("u*v*w* = (", *this, 6, 6);
}
String HKL::format() const { return format_ints("HKL = (", *this); }
String Coord_orth::format() const {
  return format_reals("xyz = (", *this, 10, 4);
}
String Coord_frac::format() const {
  return format_reals("uvw = (", *this, 10, 4);
}
String Coord_map::format() const {
  return format_reals("uvw = (", *this, 10, 4);
}
String Coord_grid::format() const { return format_ints("uvw = (", *this); }

// ---------------------------------------------------------------------------
// Grid walk over a box

Coord_grid& Coord_grid::next(const Grid_range& g) {
  if (++w() > g.max().w()) {
    w() = g.min().w();
    if (++v() > g.max().v()) {
      v() = g.min().v();
      ++u();
    }
  }
  return *this;
}

// ---------------------------------------------------------------------------
// Geometry of orthogonal positions

Coord_orth::Coord_orth(const Coord_orth& x1, const Coord_orth& x2,
                       const Coord_orth& x3, const double& length,
                       const double& angle, const double& torsion) {
  const Coord_orth s((x3 - x2).unit());
  const Coord_orth n(Vec3<double>::cross(x2 - x1, s).unit());
  const Coord_orth m(Vec3<double>::cross(s, n));
  const double d1 = -length * std::cos(angle);
  const double q = -length * std::sin(angle);
  const double d2 = q * std::cos(torsion);
  const double d3 = q * std::sin(-torsion);
  *this = x3 + d1 * s + d2 * m + d3 * n;
}

double Coord_orth::length(const Coord_orth& x1, const Coord_orth& x2) {
  return std::sqrt((x2 - x1).lengthsq());
}

double Coord_orth::angle(const Coord_orth& x1, const Coord_orth& x2,
                         const Coord_orth& x3) {
  const Vec3<double> u = (x3 - x2).unit();
  const Vec3<double> v = (x1 - x2).unit();
  return std::acos(Vec3<double>::dot(u, v));
}

double Coord_orth::torsion(const Coord_orth& x1, const Coord_orth& x2,
                           const Coord_orth& x3, const Coord_orth& x4) {
  const Vec3<double> a = x2 - x1;
  const Vec3<double> b = (x3 - x2).unit();
  const Vec3<double> c = x4 - x3;
  const Vec3<double> p1 = Vec3<double>::cross(a, b);
  const Vec3<double> p2 = Vec3<double>::cross(b, c);
  return std::atan2(Vec3<double>::dot(b, Vec3<double>::cross(p1, p2)),
                    Vec3<double>::dot(p1, p2));
}

// ---------------------------------------------------------------------------
// Orthogonal operator

namespace {

Coord_orth centroid(const std::vector<Coord_orth>& xs) {
  Coord_orth sum(0.0, 0.0, 0.0);
  for (const Coord_orth& x : xs) sum = sum + x;
  return (1.0 / double(xs.size())) * sum;
}

}  // namespace

// Least-squares superposition by quaternion: the rotation is the
// eigenvector of the smallest eigenvalue of a 4x4 symmetric matrix built
// from the centred pairs.
RTop_orth::RTop_orth(const std::vector<Coord_orth>& src,
                     const std::vector<Coord_orth>& tgt) {
  if (src.size() != tgt.size())
    Message::message(Message_fatal("RTop_orth: coordinate list size mismatch"));
  const Coord_orth cs = centroid(src);
  const Coord_orth ct = centroid(tgt);

  Matrix<double> mat(4, 4);
  for (std::size_t i = 0; i < src.size(); ++i) {
    const Coord_orth a = src[i] - cs;
    const Coord_orth b = tgt[i] - ct;
    const double px = a[0] + b[0], py = a[1] + b[1], pz = a[2] + b[2];
    const double mx = a[0] - b[0], my = a[1] - b[1], mz = a[2] - b[2];
    mat(0, 0) += mx * mx + my * my + mz * mz;
    mat(1, 1) += mx * mx + py * py + pz * pz;
    mat(2, 2) += px * px + my * my + pz * pz;
    mat(3, 3) += px * px + py * py + mz * mz;
    mat(0, 1) += py * mz - my * pz;
    mat(0, 2) += mx * pz - px * mz;
    mat(0, 3) += my * px - mx * py;
    mat(1, 2) += mx * my - px * py;
    mat(1, 3) += mx * mz - px * pz;
    mat(2, 3) += my * mz - py * pz;
  }
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < i; ++j) mat(i, j) = mat(j, i);
  mat.eigen(true);

  Rotation q(mat(0, 0), mat(1, 0), mat(2, 0), mat(3, 0));
  rot() = q.norm().matrix();
  trn() = ct - rot() * cs;
}

RTop_frac RTop_orth::rtop_frac(const Cell& cell) const {
  return RTop_frac(RTop<double>(cell.frac_matrix()) * (*this) *
                   RTop<double>(cell.orth_matrix()));
}

// ---------------------------------------------------------------------------
// Displacement tensors and atoms

U_aniso_frac U_aniso_orth::u_aniso_frac(const Cell& cell) const {
  return U_aniso_frac(congruence(cell.frac_matrix(), *this));
}

U_aniso_orth U_aniso_orth::transform(const RTop_orth& op) const {
  return U_aniso_orth(congruence(op.rot(), *this));
}

U_aniso_orth U_aniso_frac::u_aniso_orth(const Cell& cell) const {
  return U_aniso_orth(congruence(cell.orth_matrix(), *this));
}

U_aniso_frac U_aniso_frac::transform(const RTop_frac& op) const {
  return U_aniso_frac(congruence(op.rot(), *this));
}

void Atom::transform(const RTop_orth& op) {
  coord_ = op * coord_;
  if (!u_aniso_.is_null()) u_aniso_ = u_aniso_.transform(op);
}

}  // namespace vantrel
