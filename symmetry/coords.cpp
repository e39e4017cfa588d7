#include "symmetry/coords.h"

#include <iostream>

#include "symmetry/sampling.h"

namespace vantrel {

namespace {

String format_reals(const char* prefix, const Vec3<double>& v, int width, int prec) {
  return prefix + String(v[0], width, prec) + "," + String(v[1], width, prec) + "," +
         String(v[2], width, prec) + ")";
}

String format_ints(const char* prefix, const Vec3<int>& v) {
  return prefix + String(v[0], 4) + "," + String(v[1], 4) + "," + String(v[2], 4) + ")";
}

}  // namespace

// ---------------------------------------------------------------------------
// Text forms

String Grid::format() const { return format_ints("Nuvw = (", *this); }

void Grid::debug() const { std::cout << format() << "\n"; }

String Coord_reci_orth::format() const { return format_reals("x*y*z* = (", *this, 6, 6); }
String Coord_reci_frac::format() const { return format_reals("u*v*w* = (", *this, 6, 6); }
String HKL::format() const { return format_ints("HKL = (", *this); }
String Coord_orth::format() const { return format_reals("xyz = (", *this, 10, 4); }
String Coord_frac::format() const { return format_reals("uvw = (", *this, 10, 4); }
String Coord_map::format() const { return format_reals("uvw = (", *this, 10, 4); }
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

Coord_orth::Coord_orth(const Coord_orth& x1, const Coord_orth& x2, const Coord_orth& x3,
                       const double& length, const double& angle, const double& torsion) {
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

double Coord_orth::angle(const Coord_orth& x1, const Coord_orth& x2, const Coord_orth& x3) {
  const Vec3<double> u = (x3 - x2).unit();
  const Vec3<double> v = (x1 - x2).unit();
  return std::acos(Vec3<double>::dot(u, v));
}

double Coord_orth::torsion(const Coord_orth& x1, const Coord_orth& x2, const Coord_orth& x3,
                           const Coord_orth& x4) {
  const Vec3<double> a = x2 - x1;
  const Vec3<double> b = (x3 - x2).unit();
  const Vec3<double> c = x4 - x3;
  const Vec3<double> p1 = Vec3<double>::cross(a, b);
  const Vec3<double> p2 = Vec3<double>::cross(b, c);
  return std::atan2(Vec3<double>::dot(b, Vec3<double>::cross(p1, p2)), Vec3<double>::dot(p1, p2));
}

}  // namespace vantrel
