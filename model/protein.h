// Protein main-chain geometry on monomers: the torsions phi and psi, the
// peptide-bond test and rebuilding the carbonyl oxygen.
//
// Main-chain atoms are " N  ", " CA ", " C  " and " O  ", found by base id:
// the first stored wins, whatever its alternate conformation.
#ifndef VANTREL_MODEL_PROTEIN_H
#define VANTREL_MODEL_PROTEIN_H

#include "model/minimol.h"

namespace vantrel {

//! phi of m2, m1 being the residue before it: the torsion C(m1), N(m2),
//! CA(m2), C(m2) in radians, (-pi, pi]; NaN when an atom is missing.
double protein_ramachandran_phi(const MMonomer& m1, const MMonomer& m2);
//! psi of m1, m2 being the residue after it: the torsion N(m1), CA(m1),
//! C(m1), N(m2) in radians; NaN when an atom is missing.
double protein_ramachandran_psi(const MMonomer& m1, const MMonomer& m2);
//! Whether C of m1 and N of m2 both exist and lie closer than r Angstroms.
bool protein_peptide_bond(const MMonomer& m1, const MMonomer& m2, double r);

//! Rebuilds the monomer's " O  " from its CA and C and the N of the next
//! residue: in the CA-C-N plane, 1.24 Angstroms from C, away from N.
/*! Does nothing when one of those atoms is missing or N lies more than
  1.4832 Angstroms from C. Otherwise the first stored oxygen is replaced by
  a new atom appended at the end, with the occupancy and isotropic U of C
  and no anisotropic U or properties. */
void protein_mainchain_build_carbonyl_oxygen(MMonomer& monomer, const MMonomer& next);

}  // namespace vantrel

#endif
