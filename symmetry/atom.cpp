#include "symmetry/atom.h"

namespace vantrel {

namespace {

// R U R^T: a second-rank tensor carried through the linear map R.
Mat33sym<double> congruence(const Mat33<double>& r, const Mat33sym<double>& u) {
  return Mat33sym<double>(r * Mat33<double>(u) * r.transpose());
}

}  // namespace

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
