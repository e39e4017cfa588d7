// Main-chain frames of protein residues: the N-CA-C group of one residue
// with its local and beta-carbon frames, the peptide unit CA-C-N, and a run
// of residues with its Ramachandran angles.
#ifndef QUELVARN_APP_MAIN_CHAIN_H
#define QUELVARN_APP_MAIN_CHAIN_H

#include <deque>
#include <optional>

#include "model/minimol.h"
#include "symmetry/coords.h"
#include "symmetry/rtop.h"

// Positions are orthogonal Angstrom, angles radians. A frame is an
// RTop_orth taking a position p in the frame to R p + t in the model: the
// columns of R are the frame's axes and t its origin. Nothing here checks its
// input: coincident or collinear atoms give non-finite results.

//! N, CA and C of one residue.
class Ca_group {
 public:
  Ca_group(const vantrel::Coord_orth& n, const vantrel::Coord_orth& ca,
           const vantrel::Coord_orth& c)
      : coord_n_(n), coord_ca_(ca), coord_c_(c) {}
  //! The group of a monomer's N, CA and C (first of each base name); none
  //! when one of them is missing.
  static std::optional<Ca_group> from_monomer(const vantrel::MMonomer& m);

  const vantrel::Coord_orth& coord_n() const { return coord_n_; }
  const vantrel::Coord_orth& coord_ca() const { return coord_ca_; }
  const vantrel::Coord_orth& coord_c() const { return coord_c_; }

  //! Local frame at CA: axis 1 bisects the N-CA-C angle (pointing between
  //! N and C), axis 2 is the normal (C - CA) x (N - CA), axis 3 completes a
  //! right-handed set.
  vantrel::RTop_orth rtop_from_std_ori() const;
  //! The same axes with the origin at the ideal beta carbon, local position
  //! (-1.03, -1.11, 0) of the standard frame (1.514 A from CA).
  vantrel::RTop_orth rtop_beta_carbon() const;

  //! The group of the previous residue from this residue's phi and the
  //! previous residue's psi, with ideal geometry and a trans peptide.
  Ca_group prev_ca_group(const double& phi, const double& psi) const;
  //! The group of the next residue from this residue's psi and the next
  //! residue's phi, with ideal geometry and a trans peptide.
  Ca_group next_ca_group(const double& psi, const double& phi) const;

 private:
  vantrel::Coord_orth coord_n_, coord_ca_, coord_c_;
};

//! One peptide unit: CA and C of residue i and N of residue i+1.
class Pr_group {
 public:
  //! What the constructor's third position is: the next N (CaCN) or the
  //! carbonyl O of residue i (CaCO, any value other than 0).
  enum TYPE { CaCN = 0, CaCO = 1 };

  //! From CA, C and the next N, or from CA, C and O, the N then placed in
  //! the CA-C-O plane on the side away from O.
  Pr_group(const vantrel::Coord_orth& ca, const vantrel::Coord_orth& c,
           const vantrel::Coord_orth& third, const TYPE& type);

  const vantrel::Coord_orth& coord_ca() const { return coord_ca_; }
  const vantrel::Coord_orth& coord_c() const { return coord_c_; }
  const vantrel::Coord_orth& coord_n_next() const { return coord_n_next_; }

  //! Carbonyl O of residue i, in the peptide plane (1.240 A from C).
  vantrel::Coord_orth coord_o() const;
  //! CA of residue i+1, trans to CA of residue i (1.470 A from N).
  vantrel::Coord_orth coord_ca_next() const;
  //! Frame centred between the two CA atoms, axis 1 towards the next CA,
  //! axis 2 normal to the peptide plane.
  vantrel::RTop_orth rtop_from_std_ori() const;

  //! The unit CA(i-1), C(i-1), N(i) from psi and phi of residue i.
  Pr_group prev_pr_group(const double& psi, const double& phi) const;
  //! The unit CA(i+1), C(i+1), N(i+2) from phi and psi of residue i+1.
  Pr_group next_pr_group(const double& phi, const double& psi) const;

 private:
  vantrel::Coord_orth coord_ca_, coord_c_, coord_n_next_;
};

//! Consecutive residues of a chain, in chain order; no bond is tested.
class Ca_chain : public std::deque<Ca_group> {
 public:
  //! Torsion C(i-1)-N-CA-C of member i; NaN unless 1 <= i < size().
  double ramachandran_phi(const int& i) const;
  //! Torsion N-CA-C-N(i+1) of member i; NaN unless 0 <= i < size() - 1.
  double ramachandran_psi(const int& i) const;
};

#endif
