#include "app/main_chain.h"

#include "foundation/util.h"

using vantrel::Coord_orth;
using vantrel::Mat33;
using vantrel::RTop_orth;
using vantrel::Util;
using vantrel::Vec3;

namespace {

// Ideal main-chain geometry: bond lengths (A) and bond angles (radians).
constexpr double bond_cn = 1.32;  // peptide C(i)-N(i+1)
constexpr double bond_nca = 1.47;
constexpr double bond_cac = 1.53;
constexpr double angle_cnca = 2.15;  // at N
constexpr double angle_cacn = 1.99;  // at C
constexpr double angle_ncac = 1.92;  // at CA
constexpr double omega_trans = Util::onepi_;

// The rotation whose columns are u1, u2, u3.
Mat33<double> columns(const Vec3<double>& u1, const Vec3<double>& u2, const Vec3<double>& u3) {
  return Mat33<double>(u1[0], u2[0], u3[0], u1[1], u2[1], u3[1], u1[2], u2[2], u3[2]);
}

// The atom at p + along_a a + along_b b, with a the unit bond from p to q and
// b the in-plane unit vector perpendicular to a on the side away from s.
Coord_orth in_plane(const Coord_orth& p, const Coord_orth& q, const Coord_orth& s,
                    const double& along_a, const double& along_b) {
  const Vec3<double> a = Vec3<double>(q - p).unit();
  const Vec3<double> b = Vec3<double>::cross(a, Vec3<double>::cross(a, Vec3<double>(s - p))).unit();
  return Coord_orth(p + Coord_orth(along_a * a + along_b * b));
}

}  // namespace

std::optional<Ca_group> Ca_group::from_monomer(const vantrel::MMonomer& m) {
  const int n = m.lookup(" N  ", vantrel::MM::BASE_ID);
  const int ca = m.lookup(" CA ", vantrel::MM::BASE_ID);
  const int c = m.lookup(" C  ", vantrel::MM::BASE_ID);
  if (n < 0 || ca < 0 || c < 0) return std::nullopt;
  return Ca_group(m[n].coord_orth(), m[ca].coord_orth(), m[c].coord_orth());
}

RTop_orth Ca_group::rtop_from_std_ori() const {
  const Vec3<double> a = coord_c_ - coord_ca_;
  const Vec3<double> b = coord_n_ - coord_ca_;
  const Vec3<double> u1 = (a.unit() + b.unit()).unit();
  const Vec3<double> u2 = Vec3<double>::cross(a, b).unit();
  const Vec3<double> u3 = Vec3<double>::cross(u1, u2).unit();
  return RTop_orth(columns(u1, u2, u3), coord_ca_);
}

RTop_orth Ca_group::rtop_beta_carbon() const {
  const RTop_orth frame = rtop_from_std_ori();
  const Vec3<double> cb_offset(-1.03, -1.11, 0.0);  // ideal CB in the standard frame
  return RTop_orth(frame.rot(), coord_ca_ + Coord_orth(frame.rot() * cb_offset));
}

Ca_group Ca_group::prev_ca_group(const double& phi, const double& psi) const {
  const Coord_orth c_prev(coord_c_, coord_ca_, coord_n_, bond_cn, angle_cnca, phi);
  const Coord_orth ca_prev(coord_ca_, coord_n_, c_prev, bond_cac, angle_cacn, omega_trans);
  const Coord_orth n_prev(coord_n_, c_prev, ca_prev, bond_nca, angle_ncac, psi);
  return Ca_group(n_prev, ca_prev, c_prev);
}

Ca_group Ca_group::next_ca_group(const double& psi, const double& phi) const {
  const Coord_orth n_next(coord_n_, coord_ca_, coord_c_, bond_cn, angle_cacn, psi);
  const Coord_orth ca_next(coord_ca_, coord_c_, n_next, bond_nca, angle_cnca, omega_trans);
  const Coord_orth c_next(coord_c_, n_next, ca_next, bond_cac, angle_ncac, phi);
  return Ca_group(n_next, ca_next, c_next);
}

Pr_group::Pr_group(const Coord_orth& ca, const Coord_orth& c, const Coord_orth& third,
                   const TYPE& type)
    : coord_ca_(ca), coord_c_(c), coord_n_next_(third) {
  // In-plane offsets of N from C along the C->CA bond and away from O: 1.320 A.
  if (type != CaCN) coord_n_next_ = in_plane(c, ca, third, -0.537, 1.206);
}

Coord_orth Pr_group::coord_o() const {
  return in_plane(coord_c_, coord_ca_, coord_n_next_, -0.637, 1.064);  // 1.240 A from C
}

Coord_orth Pr_group::coord_ca_next() const {
  return in_plane(coord_n_next_, coord_c_, coord_ca_, -0.805, 1.23);  // 1.470 A from N
}

RTop_orth Pr_group::rtop_from_std_ori() const {
  const Coord_orth ca_next = coord_ca_next();
  const Coord_orth mid(0.5 * (coord_ca_ + ca_next));
  const Vec3<double> to_ca = ca_next - mid;
  const Vec3<double> u1 = to_ca.unit();
  const Vec3<double> u2 = Vec3<double>::cross(to_ca, Vec3<double>(coord_c_ - mid)).unit();
  const Vec3<double> u3 = Vec3<double>::cross(u1, u2).unit();
  return RTop_orth(columns(u1, u2, u3), mid);
}

Pr_group Pr_group::prev_pr_group(const double& psi, const double& phi) const {
  const Coord_orth n(coord_n_next_, coord_c_, coord_ca_, bond_nca, angle_ncac, psi);
  const Coord_orth c_prev(coord_c_, coord_ca_, n, bond_cn, angle_cnca, phi);
  const Coord_orth ca_prev(coord_ca_, n, c_prev, bond_cac, angle_cacn, omega_trans);
  return Pr_group(ca_prev, c_prev, n, CaCN);
}

Pr_group Pr_group::next_pr_group(const double& phi, const double& psi) const {
  const Coord_orth ca_next(coord_ca_, coord_c_, coord_n_next_, bond_nca, angle_cnca, omega_trans);
  const Coord_orth c_next(coord_c_, coord_n_next_, ca_next, bond_cac, angle_ncac, phi);
  const Coord_orth n_next(coord_n_next_, ca_next, c_next, bond_cn, angle_cacn, psi);
  return Pr_group(ca_next, c_next, n_next, CaCN);
}

double Ca_chain::ramachandran_phi(const int& i) const {
  if (i < 1 || i >= int(size())) return Util::nan_;
  const Ca_group& prev = (*this)[i - 1];
  const Ca_group& cur = (*this)[i];
  return Coord_orth::torsion(prev.coord_c(), cur.coord_n(), cur.coord_ca(), cur.coord_c());
}

double Ca_chain::ramachandran_psi(const int& i) const {
  if (i < 0 || i + 1 >= int(size())) return Util::nan_;
  const Ca_group& cur = (*this)[i];
  const Ca_group& next = (*this)[i + 1];
  return Coord_orth::torsion(cur.coord_n(), cur.coord_ca(), cur.coord_c(), next.coord_n());
}
