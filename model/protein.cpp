// MMonomer's protein main-chain helpers: phi, psi, the peptide-bond test and
// the carbonyl-oxygen builder.
#include "model/minimol.h"

#include "foundation/util.h"
#include "model/mainchain_atom.h"

namespace vantrel {

using detail::find_base;

namespace {

double torsion_or_nan(const MAtom* a, const MAtom* b, const MAtom* c, const MAtom* d) {
  if (!a || !b || !c || !d) return Util::nan();
  return Coord_orth::torsion(a->coord_orth(), b->coord_orth(), c->coord_orth(), d->coord_orth());
}

}  // namespace

double MMonomer::protein_ramachandran_phi(const MMonomer& m1, const MMonomer& m2) {
  return torsion_or_nan(find_base(m1, " C  "), find_base(m2, " N  "), find_base(m2, " CA "),
                        find_base(m2, " C  "));
}

double MMonomer::protein_ramachandran_psi(const MMonomer& m1, const MMonomer& m2) {
  return torsion_or_nan(find_base(m1, " N  "), find_base(m1, " CA "), find_base(m1, " C  "),
                        find_base(m2, " N  "));
}

bool MMonomer::protein_peptide_bond(const MMonomer& m1, const MMonomer& m2, double r) {
  const MAtom* c = find_base(m1, " C  ");
  const MAtom* n = find_base(m2, " N  ");
  if (!c || !n) return false;
  return Coord_orth(c->coord_orth() - n->coord_orth()).lengthsq() < r * r;
}

void MMonomer::protein_mainchain_build_carbonyl_oxygen(const MMonomer& next) {
  const MAtom* ca = find_base(*this, " CA ");
  const MAtom* c = find_base(*this, " C  ");
  const MAtom* n = find_base(next, " N  ");
  if (!ca || !c || !n) return;
  const Coord_orth c_pos = c->coord_orth();
  const Vec3<double> d = n->coord_orth() - c_pos;
  // 2.2 square Angstroms: N at most 1.4832 Angstroms from C.
  if (Vec3<double>::dot(d, d) > 2.2) return;
  MAtom oxygen(Atom::null());
  oxygen.set_id(" O  ");
  oxygen.set_element("O");
  oxygen.set_occupancy(c->occupancy());
  oxygen.set_u_iso(c->u_iso());
  // u2 lies in the CA-C-N plane, perpendicular to C-CA and pointing away
  // from N; the offsets make a C=O bond of 1.2401 Angstroms.
  const Vec3<double> u1 = (ca->coord_orth() - c_pos).unit();
  const Vec3<double> u2 = Vec3<double>::cross(u1, Vec3<double>::cross(u1, d)).unit();
  oxygen.set_coord_orth(Coord_orth(c_pos - 0.637 * u1 + 1.064 * u2));
  const int old = lookup(" O  ", MM::BASE_ID);
  if (old >= 0) children.erase(children.begin() + old);
  children.push_back(oxygen);
}

}  // namespace vantrel
