#include "model/mmdb_views.h"

#include "foundation/util.h"
#include "model/mmdb_hierarchy.h"

namespace vantrel {

namespace {

using mmdb_internal::copy_field;

// Clears the bit, then stores and flags the value unless it is missing.
template <class T, class Store>
void set_flagged(mmdb::Atom* atom, const mmdb::word bit, const T& value, Store store) {
  atom->WhatIsSet &= mmdb::word(~bit);
  if (Util::is_nan(value)) return;
  store();
  atom->WhatIsSet |= bit;
}

}  // namespace

// ---------------------------------------------------------------------------
// MMDBAtom

String MMDBAtom::charge() const { return String(atom_->charge, 6, 6); }

Coord_orth MMDBAtom::coord_orth() const {
  if (!is_set(mmdb::ASET_Coordinates)) return Coord_orth::null();
  return Coord_orth(atom_->x, atom_->y, atom_->z);
}

double MMDBAtom::occupancy() const {
  return is_set(mmdb::ASET_Occupancy) ? atom_->occupancy : Util::nan();
}

double MMDBAtom::u_iso() const {
  return is_set(mmdb::ASET_tempFactor) ? atom_->tempFactor / Util::eightpi2() : Util::nan();
}

U_aniso_orth MMDBAtom::u_aniso_orth() const {
  if (!is_set(mmdb::ASET_Anis_tFac)) return U_aniso_orth::null();
  const mmdb::Atom& a = *atom_;
  return U_aniso_orth(a.u11, a.u22, a.u33, a.u12, a.u13, a.u23);
}

Sig_Coord_orth MMDBAtom::sig_coord_orth() const {
  if (!is_set(mmdb::ASET_CoordSigma)) return Sig_Coord_orth::null();
  return Sig_Coord_orth(atom_->sigX, atom_->sigY, atom_->sigZ);
}

double MMDBAtom::sig_occupancy() const {
  return is_set(mmdb::ASET_OccSigma) ? atom_->sigOcc : Util::nan();
}

double MMDBAtom::sig_u_iso() const {
  return is_set(mmdb::ASET_tFacSigma) ? atom_->sigTemp / Util::eightpi2() : Util::nan();
}

Sig_U_aniso_orth MMDBAtom::sig_u_aniso_orth() const {
  if (!is_set(mmdb::ASET_Anis_tFSigma)) return Sig_U_aniso_orth::null();
  const mmdb::Atom& a = *atom_;
  return Sig_U_aniso_orth(a.su11, a.su22, a.su33, a.su12, a.su13, a.su23);
}

void MMDBAtom::set_id(const String& name) {
  mmdb::AtomName field;
  copy_field(field, name);
  atom_->SetAtomName(field);
}

void MMDBAtom::set_altconf(const String& altconf) { copy_field(atom_->altLoc, altconf); }

void MMDBAtom::set_element(const String& element) {
  mmdb::Element field;
  copy_field(field, element);
  atom_->SetElementName(field);
}

void MMDBAtom::set_coord_orth(const Coord_orth& x) {
  set_flagged(atom_, mmdb::ASET_Coordinates, x[0], [&] {
    atom_->x = x[0];
    atom_->y = x[1];
    atom_->z = x[2];
  });
}

void MMDBAtom::set_occupancy(const double& occ) {
  set_flagged(atom_, mmdb::ASET_Occupancy, occ, [&] { atom_->occupancy = occ; });
}

void MMDBAtom::set_u_iso(const double& u) {
  set_flagged(atom_, mmdb::ASET_tempFactor, u, [&] { atom_->tempFactor = u * Util::eightpi2(); });
}

void MMDBAtom::set_u_aniso_orth(const U_aniso_orth& u) {
  set_flagged(atom_, mmdb::ASET_Anis_tFac, u(0, 0), [&] {
    atom_->u11 = u(0, 0);
    atom_->u22 = u(1, 1);
    atom_->u33 = u(2, 2);
    atom_->u12 = u(0, 1);
    atom_->u13 = u(0, 2);
    atom_->u23 = u(1, 2);
  });
}

void MMDBAtom::set_sig_coord_orth(const Sig_Coord_orth& s) {
  set_flagged(atom_, mmdb::ASET_CoordSigma, s[0], [&] {
    atom_->sigX = s[0];
    atom_->sigY = s[1];
    atom_->sigZ = s[2];
  });
}

void MMDBAtom::set_sig_occupancy(const double& s) {
  set_flagged(atom_, mmdb::ASET_OccSigma, s, [&] { atom_->sigOcc = s; });
}

void MMDBAtom::set_sig_u_iso(const double& s) {
  set_flagged(atom_, mmdb::ASET_tFacSigma, s, [&] { atom_->sigTemp = s * Util::eightpi2(); });
}

void MMDBAtom::set_sig_u_aniso_orth(const Sig_U_aniso_orth& s) {
  set_flagged(atom_, mmdb::ASET_Anis_tFSigma, s(0, 0), [&] {
    atom_->su11 = s(0, 0);
    atom_->su22 = s(1, 1);
    atom_->su33 = s(2, 2);
    atom_->su12 = s(0, 1);
    atom_->su13 = s(0, 2);
    atom_->su23 = s(1, 2);
  });
}

// ---------------------------------------------------------------------------
// Residue, chain and model

void MMDBResidue::set_type(const String& type) {
  mmdb::ResName field;
  copy_field(field, type);
  residue_->SetResName(field);
}

void MMDBResidue::set_inscode(const String& code) { copy_field(residue_->insCode, code); }

void MMDBChain::set_id(const String& id) {
  mmdb::ChainID field;
  copy_field(field, id);
  chain_->SetChainID(field);
}

void MMDBModel::set_id(const String& id) {
  mmdb::IDCode field;
  copy_field(field, id);
  model_->SetEntryID(field);
}

MMDBAtom_list::MMDBAtom_list(mmdb::Atom** atoms, int n) {
  for (int i = 0; i < n; ++i) {
    // The library's atom tables keep empty slots for removed atoms.
    if (!atoms[i]) {
      push_back(Atom::null());
      continue;
    }
    const MMDBAtom a(atoms[i]);
    push_back(Atom(a.element(), a.coord_orth(), a.u_aniso_orth(), a.occupancy(), a.u_iso()));
  }
}

}  // namespace vantrel
