// Views of the coordinate library's atoms, residues, chains and models that
// read and write them in this library's units and missing-value convention,
// and the atom list made from an array of library atoms.
//
// A view holds a pointer to a library object it does not own; every change
// goes straight into that object. Units: the library stores an isotropic
// displacement as B, this library as U, B = 8 pi^2 U; anisotropic terms are
// U in both. A number the library does not flag as set (its bit in the
// atom's set-field mask is clear), and every number of a TER record, reads
// as missing: NaN, or the null value of a coordinate or tensor.
#ifndef VANTREL_MODEL_MMDB_VIEWS_H
#define VANTREL_MODEL_MMDB_VIEWS_H

#include <mmdb2/mmdb_atom.h>
#include <mmdb2/mmdb_chain.h>
#include <mmdb2/mmdb_model.h>

#include "foundation/vstring.h"
#include "symmetry/atom.h"

namespace vantrel {

//! A library atom seen in this library's terms.
/*! Numeric setters clear the field's bit, then store the value and set the
  bit only when it is not missing (for a coordinate or tensor only the first
  component is tested); a missing value leaves the stored numbers as they
  were, now counting as unset. */
class MMDBAtom {
 public:
  explicit MMDBAtom(mmdb::Atom* atom) : atom_(atom) {}

  //! The atom name as stored (4 characters in PDB alignment, not trimmed).
  String id() const { return atom_->name; }
  //! The element as stored (right-aligned: " C").
  String element() const { return atom_->element; }
  //! The alternate-location code; empty when none.
  String altconf() const { return atom_->altLoc; }
  //! The charge in a field of 6 characters, 6 significant digits.
  String charge() const;
  int serial_num() const { return atom_->serNum; }
  bool is_ter() const { return atom_->Ter; }

  Coord_orth coord_orth() const;
  double occupancy() const;
  double u_iso() const;
  U_aniso_orth u_aniso_orth() const;
  Sig_Coord_orth sig_coord_orth() const;
  double sig_occupancy() const;
  double sig_u_iso() const;
  Sig_U_aniso_orth sig_u_aniso_orth() const;

  //! Sets the atom name; a name is cut to the library's 19 characters.
  void set_id(const String& name);
  //! Sets the alternate-location code, cut to the library's 19 characters.
  void set_altconf(const String& altconf);
  //! Sets the element, cut to the library's 9 characters.
  void set_element(const String& element);
  void set_coord_orth(const Coord_orth& x);
  void set_occupancy(const double& occ);
  void set_u_iso(const double& u);
  void set_u_aniso_orth(const U_aniso_orth& u);
  void set_sig_coord_orth(const Sig_Coord_orth& s);
  void set_sig_occupancy(const double& s);
  void set_sig_u_iso(const double& s);
  void set_sig_u_aniso_orth(const Sig_U_aniso_orth& s);

 private:
  bool is_set(const mmdb::word bit) const { return !atom_->Ter && (atom_->WhatIsSet & bit) != 0; }
  mmdb::Atom* atom_;
};

//! A library residue: name (type), sequence number and insertion code.
class MMDBResidue {
 public:
  explicit MMDBResidue(mmdb::Residue* residue) : residue_(residue) {}
  String type() const { return residue_->name; }
  int seqnum() const { return residue_->seqNum; }
  String inscode() const { return residue_->insCode; }
  //! Sets the residue name, cut to the library's 19 characters.
  void set_type(const String& type);
  void set_seqnum(const int& n) { residue_->seqNum = n; }
  //! Sets the insertion code, cut to the 9 characters the library's
  //! 10-byte field holds with its terminator.
  void set_inscode(const String& code);

 private:
  mmdb::Residue* residue_;
};

//! A library chain: its id.
class MMDBChain {
 public:
  explicit MMDBChain(mmdb::Chain* chain) : chain_(chain) {}
  String id() const { return chain_->GetChainID(); }
  //! Sets the chain id, cut to the library's 9 characters.
  void set_id(const String& id);

 private:
  mmdb::Chain* chain_;
};

//! A library model: its entry id.
class MMDBModel {
 public:
  explicit MMDBModel(mmdb::Model* model) : model_(model) {}
  String id() const { return model_->GetEntryID(); }
  //! Sets the entry id, cut to the library's 15 characters.
  void set_id(const String& id);

 private:
  mmdb::Model* model_;
};

//! The atoms of an array of library atoms, one entry per pointer and in
//! order: element, position, anisotropic U, occupancy and isotropic U as
//! MMDBAtom reads them (a TER record or an empty slot gives an entry of
//! missing values).
class MMDBAtom_list : public Atom_list {
 public:
  //! n <= 0 gives an empty list.
  MMDBAtom_list(mmdb::Atom** atoms, int n);
};

}  // namespace vantrel

#endif
