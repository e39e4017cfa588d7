// Side-chain rotamers: lookup in the built-in rotamer table and rebuilding a
// residue's side chain as one of its type's rotamers.
#ifndef VANTREL_MODEL_ROTAMER_H
#define VANTREL_MODEL_ROTAMER_H

#include "foundation/vstring.h"
#include "model/minimol.h"

namespace vantrel {

//! Index in data::rotamer_data of the first record of rotamer n of the
//! residue type (only its first three characters count); -1 when the type
//! has no entry, is shorter than three characters, or n is out of range.
int rotamer_find(const String& type, int n);

//! The number of rotamers of the monomer's type; 0 when it has none
//! (glycine, an unknown or empty type).
int protein_sidechain_number_of_rotamers(const MMonomer& monomer);

//! Replaces the side chain by rotamer n of the monomer's type and returns
//! the rotamer's frequency.
/*! Needs " N  ", " CA " and " C  " (the first stored of each, whatever its
  alternate conformation); without them returns 0 and changes nothing.
  Otherwise every atom but N, CA, C and O is removed first (hydrogens,
  OXT and all conformations of the side chain), and the rotamer's atoms
  are appended with the occupancy and isotropic U of CA. A type without
  rotamers or an n out of range returns 0 and leaves the main chain only. */
double protein_sidechain_build_rotamer(MMonomer& monomer, const int& n);

}  // namespace vantrel

#endif
