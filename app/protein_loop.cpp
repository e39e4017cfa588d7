#include "app/protein_loop.h"

#include <cmath>

#include "foundation/util.h"

using vantrel::Coord_orth;
using vantrel::Ramachandran;
using vantrel::Util;
using vantrel::Vec3;

namespace {

// Ideal main-chain geometry (A, rad); the peptide bond is 1.33.
const double ca_ca = 3.8;     // CA(i)-CA(i+1) across a trans peptide
const double ca_ca_c = 0.36;  // angle between CA->CA(i+1) and CA->C
const double ca_c = 1.53;
const double n_ca = 1.47;
const double c_n = 1.33;
const double n_ca_c = 1.92;
const double ca_c_n = 1.99;
const double c_n_ca = 2.15;
const double c_off_n_ca = 1.22;    // pi - N-CA-C: CA->C against the N->CA line
const double c_to_next_ca = 2.43;  // C(i)-CA(i+1) across the peptide
// Window of the N-CA-C angle at the fixed far residue after closure.
const double end_angle_min = 1.75, end_angle_max = 2.1;

Coord_orth unit(const Coord_orth& v) { return Coord_orth(v.unit()); }

}  // namespace

ProteinLoop::ProteinLoop(int n) : rama_(Ramachandran::ALL_RESIDUES), n_(n) {}

bool ProteinLoop::allowed(double phi, double psi) const {
  return rama_.probability(phi, psi) > rama_.threshold_2();
}

Coord_orth ProteinLoop::Coord_Cb(Coord_orth n, Coord_orth ca, Coord_orth c) const {
  const Coord_orth bisector = unit(unit(ca - n) + unit(ca - c));
  const Coord_orth normal(Vec3<double>::cross(ca - n, ca - c));  // |x| ~ 2.1 for ideal bonds
  return ca + 1.04 * bisector + 0.53 * normal;
}

Coord_orth ProteinLoop::Coord_O(Coord_orth ca, Coord_orth c, Coord_orth n_next) const {
  return c + 1.23 * unit(unit(c - n_next) + unit(c - ca));
}

std::vector<Coord_orth> ProteinLoop::constrained_coords(const Coord_orth& p0, const Coord_orth& a,
                                                        const double& d1, const double& t,
                                                        const Coord_orth& p3,
                                                        const double& d2) const {
  std::vector<Coord_orth> result;
  const Coord_orth u = unit(a);
  const Coord_orth v = unit(Coord_orth(Vec3<double>::cross(u, p3 - p0)));
  const Coord_orth w = unit(Coord_orth(Vec3<double>::cross(v, u)));  // axis towards p3
  const double h = d1 * std::cos(t), r = d1 * std::sin(t);
  const Coord_orth centre = p0 + h * u;
  const double z = std::fabs(Vec3<double>::dot(p3 - centre, u));
  const double s = std::fabs(Vec3<double>::dot(p3 - centre, w));
  if (z >= d2) return result;
  // Cosine, on the circle, of the angle from w to the solutions.
  const double k = (r * r + s * s - (d2 * d2 - z * z)) / (2.0 * r * s);
  if (!std::isfinite(k)) return result;  // t = 0 or p3 on the axis: no defined circle or w
  const double k2 = k * k;
  if (k2 <= 0.995) {
    const double across = r * std::sqrt(1.0 - k2);
    result.push_back(centre + (r * k) * w - across * v);
    result.push_back(centre + (r * k) * w + across * v);
  } else if (k2 <= 1.1) {
    // A near miss counts as touching; k is not clamped, so for k^2 > 1 the
    // point lies just outside the circle.
    result.push_back(centre + (r * k) * w);
  }
  return result;
}

std::vector<ProteinLoop::CoordList<5>> ProteinLoop::rebuild5atoms(Coord_orth c0, Coord_orth n1,
                                                                  Coord_orth ca1, Coord_orth ca3,
                                                                  Coord_orth c3,
                                                                  Coord_orth /*extra*/) const {
  std::vector<CoordList<5>> result;
  for (int k = 0; k < n_; ++k) {
    const double phi1 = Util::twopi_ / double(n_) * double(k);
    const Coord_orth c1(c0, n1, ca1, ca_c, n_ca_c, phi1);
    for (const Coord_orth& ca2 : constrained_coords(ca1, c1 - ca1, ca_ca, ca_ca_c, ca3, ca_ca)) {
      // The torsion to the next CA stands in for psi: the peptide is planar.
      const double psi1 = Coord_orth::torsion(n1, ca1, c1, ca2);
      if (!allowed(phi1, psi1)) continue;
      const Coord_orth n2(n1, ca1, c1, c_n, ca_c_n, psi1);
      for (const Coord_orth& c2 :
           constrained_coords(ca2, ca2 - n2, ca_c, c_off_n_ca, ca3, c_to_next_ca)) {
        const double phi2 = Coord_orth::torsion(c1, n2, ca2, c2);
        const double psi2 = Coord_orth::torsion(n2, ca2, c2, ca3);
        if (!allowed(phi2, psi2)) continue;
        const Coord_orth n3(n2, ca2, c2, c_n, ca_c_n, psi2);
        const double end_angle = Coord_orth::angle(n3, ca3, c3);
        if (end_angle > end_angle_min && end_angle < end_angle_max)
          result.push_back(CoordList<5>{c1, n2, ca2, c2, n3});
      }
    }
  }
  return result;
}

std::vector<ProteinLoop::CoordList<8>> ProteinLoop::rebuild8atoms(Coord_orth c0, Coord_orth n1,
                                                                  Coord_orth ca1, Coord_orth ca4,
                                                                  Coord_orth c4,
                                                                  Coord_orth extra) const {
  std::vector<CoordList<8>> result;
  for (int i = 0; i < n_; ++i) {
    const double phi1 = Util::twopi_ / double(n_) * double(i);
    for (int j = 0; j < n_; ++j) {
      const double psi1 = Util::twopi_ / double(n_) * double(j);
      if (!allowed(phi1, psi1)) continue;
      const Coord_orth c1(c0, n1, ca1, ca_c, n_ca_c, phi1);
      const Coord_orth n2(n1, ca1, c1, c_n, ca_c_n, psi1);
      const Coord_orth ca2(ca1, c1, n2, n_ca, c_n_ca, Util::onepi_);  // trans peptide
      for (const CoordList<5>& l : rebuild5atoms(c1, n2, ca2, ca4, c4, extra))
        result.push_back(CoordList<8>{c1, n2, ca2, l[0], l[1], l[2], l[3], l[4]});
    }
  }
  return result;
}
