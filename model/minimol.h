// Molecular model hierarchy: model, polymers (chains), monomers (residues)
// and atoms, each carrying a property set, and MiniMol, a model that also
// knows its spacegroup and cell.
//
// Identifiers: an atom id is the atom name in the 4-character PDB layout
// (a longer name, as mmCIF may give, whole), optionally followed by ":" and
// an alternate-conformation code (" CA :B"); a monomer
// id is the sequence number right-aligned in 4 characters, optionally
// followed by ":" and an insertion code ("  12:A"); a polymer id is the chain
// id as given. The base id of an atom or monomer is its id without the
// ":" and code: an atom's 4-character name, a monomer's sequence number.
// Every node is a plain value owning its children.
#ifndef VANTREL_MODEL_MINIMOL_H
#define VANTREL_MODEL_MINIMOL_H

#include <vector>

#include "foundation/message.h"
#include "foundation/property.h"
#include "foundation/vstring.h"
#include "symmetry/atom.h"
#include "symmetry/cell.h"
#include "symmetry/rtop.h"
#include "symmetry/spacegroup.h"

namespace vantrel {

extern const Message_ctor message_ctor_mmodel;

//! Scope of the id-matching modes and copy bits of the model hierarchy.
class MM {
 public:
  //! How ids are compared: whole strings, or base ids (without the ":" and
  //! code, so alternate conformations or insertion codes are ignored).
  //! Any nonzero mode acts as BASE_ID. Chain ids are always compared whole.
  enum MODE : int { WHOLE_ID = 0, BASE_ID = 1 };
  //! Bit set of what copy() transfers: member data (ids, type, atom data),
  //! the property set, and the children, recursively with the same bits.
  enum COPY : int { COPY_MEMBERS = 1, COPY_PROPERTIES = 2, COPY_CHILDREN = 4 };
};

//! An atom with an id and a property set.
/*! The numeric fields of a default atom are missing (NaN), as for Atom. */
class MAtom : public Atom, public PropertyManager {
 public:
  MAtom() = default;
  //! The atom's element, position, occupancy, isotropic and anisotropic U;
  //! no properties, empty id.
  explicit MAtom(const Atom& atom);

  const String& id() const { return id_; }
  //! Stores id_tidy(id).
  void set_id(const String& id);
  //! Stores the tidied name, followed by ":" + altconf when altconf is not
  //! empty.
  void set_name(const String& name, const String& altconf);
  //! The atom name: the id without its alternate conformation.
  String name() const { return id_.substr(0, id_.find(':')); }

  //! Copies what the bits select (members: atom data and id; properties);
  //! COPY_CHILDREN has no effect on an atom.
  MAtom& copy(const MAtom& other, const MM::COPY& mode);

  //! The 4-character PDB form of an atom id: a name of fewer than 4
  //! characters is padded with blanks and shifted one place right, unless
  //! its second character is a lower-case letter, which is upper-cased
  //! instead (so "CA" gives " CA " and "Se" gives "SE  "); a longer name is
  //! kept whole. Any ":altconf" suffix is kept unchanged.
  static String id_tidy(const String& id);
  //! Whole-string equality (WHOLE_ID) or equality of the names, the texts
  //! before any ":" (any other mode).
  static bool id_match(const String& id1, const String& id2, const MM::MODE& mode);

 private:
  String id_;
};

//! A residue: an ordered list of atoms with an id and a type (residue name).
class MMonomer : public PropertyManager {
 public:
  int size() const { return int(children.size()); }
  //! The i-th atom; 0 <= i < size() is the caller's duty.
  const MAtom& operator[](const int& i) const { return children[i]; }
  MAtom& operator[](const int& i) { return children[i]; }
  //! Inserts a copy before index pos (0 <= pos <= size()); pos < 0 appends.
  void insert(const MAtom& atom, int pos);
  //! Index of the first atom whose id matches MAtom::id_tidy(id) under the
  //! mode; -1 when none.
  int lookup(const String& id, const MM::MODE& mode) const;
  //! The atom lookup() finds; fatal "MMonomer: no such atom" when none.
  const MAtom& find(const String& id, MM::MODE mode) const;
  MAtom& find(const String& id, MM::MODE mode);

  const String& id() const { return id_; }
  const String& type() const { return type_; }
  //! Stores id_tidy(id).
  void set_id(const String& id);
  //! Sets the id from a sequence number and an insertion code (none when
  //! empty).
  void set_seqnum(int seqnum, const String& inscode);
  //! Stores the residue name unchanged.
  void set_type(const String& type) { type_ = type; }

  Atom_list atom_list() const;
  //! Moves every atom by the operator (and rotates its anisotropic U).
  void transform(const RTop_orth& op);
  //! Copies id and type (members), properties, and atoms (children: the atom
  //! list is first resized to the other's count); returns this monomer.
  MMonomer& copy(const MMonomer& other, const MM::COPY& mode);
  //! The monomer (id, type, properties) with the atoms a path selects: a
  //! comma list of atom ids or "*" (see model/minimol_select.cpp).
  MMonomer select(const String& path, MM::MODE mode) const;

  // Protein main-chain and side-chain helpers (model/protein.cpp and
  // model/rotamer.cpp). Main-chain atoms " N  ", " CA ", " C  ", " O  " are
  // found by base id: the first stored wins, whatever its alternate
  // conformation.

  //! phi of m2, m1 being the residue before it: the torsion C(m1), N(m2),
  //! CA(m2), C(m2) in radians, (-pi, pi]; NaN when an atom is missing.
  static double protein_ramachandran_phi(const MMonomer& m1, const MMonomer& m2);
  //! psi of m1, m2 being the residue after it: the torsion N(m1), CA(m1),
  //! C(m1), N(m2) in radians; NaN when an atom is missing.
  static double protein_ramachandran_psi(const MMonomer& m1, const MMonomer& m2);
  //! Whether C of m1 and N of m2 both exist and lie closer than r Angstroms.
  static bool protein_peptide_bond(const MMonomer& m1, const MMonomer& m2, double r);
  //! Rebuilds " O  " from this residue's CA and C and the N of the next
  //! residue: in the CA-C-N plane, 1.24 Angstroms from C, away from N.
  /*! Does nothing when one of those atoms is missing or N lies more than
    1.4832 Angstroms from C. Otherwise the first stored oxygen is replaced by
    a new atom appended at the end, with the occupancy and isotropic U of C
    and no anisotropic U or properties. */
  void protein_mainchain_build_carbonyl_oxygen(const MMonomer& next);
  //! The number of rotamers of this residue's type; 0 when it has none
  //! (glycine, an unknown or empty type).
  int protein_sidechain_number_of_rotamers() const;
  //! Replaces the side chain by rotamer n of this residue's type and returns
  //! the rotamer's frequency.
  /*! Needs " N  ", " CA " and " C  "; without them returns 0 and changes
    nothing. Otherwise every atom but N, CA, C and O is removed first
    (hydrogens, OXT and all conformations of the side chain), and the
    rotamer's atoms are appended with the occupancy and isotropic U of CA.
    A type without rotamers or an n out of range returns 0 and leaves the
    main chain only. */
  double protein_sidechain_build_rotamer(const int& n);

  //! The leading integer of the text right-aligned in 4 characters, then
  //! the text from its first ":" on ("12:A" gives "  12:A"; "7A" gives
  //! "   7": an insertion code survives only after ":").
  static String id_tidy(const String& id);
  //! Whole-string equality (WHOLE_ID) or equality of the sequence numbers
  //! without insertion codes, the texts before any ":" (any other mode).
  static bool id_match(const String& id1, const String& id2, const MM::MODE& mode);

 private:
  std::vector<MAtom> children;
  String id_;
  String type_;
};

//! A chain: an ordered list of monomers with an id.
class MPolymer : public PropertyManager {
 public:
  int size() const { return int(children.size()); }
  const MMonomer& operator[](const int& i) const { return children[i]; }
  MMonomer& operator[](const int& i) { return children[i]; }
  void insert(const MMonomer& monomer, int pos);
  //! Index of the first monomer whose id matches MMonomer::id_tidy(id)
  //! under the mode; -1 when none.
  int lookup(const String& id, const MM::MODE& mode) const;
  //! The monomer lookup() finds; fatal "MPolymer: no such monomer" when none.
  const MMonomer& find(const String& id, MM::MODE mode) const;
  MMonomer& find(const String& id, MM::MODE mode);

  const String& id() const { return id_; }
  void set_id(const String& id) { id_ = id_tidy(id); }

  Atom_list atom_list() const;
  void transform(const RTop_orth& op);
  //! Copies the id (members), properties, and monomers (children).
  MPolymer& copy(const MPolymer& other, const MM::COPY& mode);
  //! The polymer (id, properties) with the monomers a path "monomers/atoms"
  //! selects, each reduced to its selected atoms.
  MPolymer select(const String& path, MM::MODE mode) const;

  //! Chain ids are stored unchanged.
  static String id_tidy(const String& id) { return id; }
  //! Whole-string equality whatever the mode.
  static bool id_match(const String& id1, const String& id2, const MM::MODE& mode);

 private:
  std::vector<MMonomer> children;
  String id_;
};

//! A model: an ordered list of polymers; no id of its own.
class MModel : public PropertyManager {
 public:
  int size() const { return int(children.size()); }
  const MPolymer& operator[](const int& i) const { return children[i]; }
  MPolymer& operator[](const int& i) { return children[i]; }
  void insert(const MPolymer& polymer, int pos);
  //! Index of the first polymer whose id equals id (the mode is ignored);
  //! -1 when none.
  int lookup(const String& id, const MM::MODE& mode) const;
  //! The polymer lookup() finds; fatal "MModel: no such polymer" when none.
  const MPolymer& find(const String& id, MM::MODE mode) const;
  MPolymer& find(const String& id, MM::MODE mode);

  //! Every atom, polymers, monomers and atoms in order, reduced to its Atom
  //! part (no ids, no properties).
  Atom_list atom_list() const;
  void transform(const RTop_orth& op);
  //! Copies properties and polymers (children) as the bits select;
  //! COPY_MEMBERS has nothing to copy. On a MiniMol the spacegroup and cell
  //! are left as they are.
  MModel& copy(const MModel& other, const MM::COPY& mode);
  //! The model (properties) with the polymers a path
  //! "polymers/monomers/atoms" selects; on a MiniMol, without its crystal.
  MModel select(const String& path, MM::MODE mode) const;

 private:
  std::vector<MPolymer> children;
};

//! Union and intersection of two nodes, children matched by whole id (see
//! model/minimol_select.cpp); members and properties come from the first.
MMonomer operator|(const MMonomer& a, const MMonomer& b);
MPolymer operator|(const MPolymer& a, const MPolymer& b);
MModel operator|(const MModel& a, const MModel& b);
MMonomer operator&(const MMonomer& a, const MMonomer& b);
MPolymer operator&(const MPolymer& a, const MPolymer& b);
MModel operator&(const MModel& a, const MModel& b);

//! A model with its crystal: spacegroup and cell.
/*! Null (is_null()) until both a non-null spacegroup and cell are given. */
class MiniMol : public MModel {
 public:
  MiniMol();
  MiniMol(const Spacegroup& spacegroup, const Cell& cell);
  //! Replaces spacegroup and cell; the polymers and properties stay.
  void init(const Spacegroup& spacegroup, const Cell& cell);

  const Spacegroup& spacegroup() const { return spacegroup_; }
  const Cell& cell() const { return cell_; }
  bool is_null() const { return spacegroup_.is_null() || cell_.is_null(); }

 private:
  Spacegroup spacegroup_;
  Cell cell_;
};

}  // namespace vantrel

#endif
