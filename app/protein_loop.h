// Loop rebuilding: every ideal main-chain conformation that closes a short
// gap between two fixed residues, and beta-carbon and carbonyl-oxygen
// placement from main-chain neighbours.
#ifndef QUELVARN_APP_PROTEIN_LOOP_H
#define QUELVARN_APP_PROTEIN_LOOP_H

#include <array>
#include <vector>

#include "model/ramachandran.h"
#include "symmetry/coords.h"

// Positions are orthogonal Angstrom, angles radians. Residues are numbered
// along the loop: residue 0 precedes the gap and the last residue is the
// fixed end. Geometry is ideal (N-CA 1.47, CA-C 1.53, C-N 1.33, trans
// peptides); a torsion pair is accepted when the pooled Ramachandran
// density there exceeds the table's second threshold. Coincident input
// positions give non-finite results; callers pass distinct atoms.

//! Builds candidate main chains for a gap from torsions sampled on a
//! regular grid of n values per turn (2 pi k / n, k = 0 .. n-1).
/*! Read-only once built, so one builder may serve several threads. A
  sample count below 1 gives no candidates. */
class ProteinLoop {
 public:
  //! A fixed-size list of positions: one candidate main chain.
  template <int N> using CoordList = std::array<vantrel::Coord_orth, N>;

  explicit ProteinLoop(int n);

  //! Beta carbon of a residue from its N, CA and C.
  vantrel::Coord_orth Coord_Cb(vantrel::Coord_orth n, vantrel::Coord_orth ca,
                               vantrel::Coord_orth c) const;
  //! Carbonyl O of a residue from its CA and C and the next residue's N;
  //! symmetric in the first and third positions.
  vantrel::Coord_orth Coord_O(vantrel::Coord_orth ca, vantrel::Coord_orth c,
                              vantrel::Coord_orth n_next) const;

  //! The points X at distance d1 from p0 whose direction from p0 makes the
  //! angle t with the axis a, and at distance d2 from p3: the meeting of a
  //! circle and a sphere. Two points when they cut, one when they nearly
  //! touch (within a tolerance, so the point may lie slightly off the
  //! circle), none otherwise or when the geometry is degenerate (t = 0, or
  //! p3 on the axis line).
  std::vector<vantrel::Coord_orth> constrained_coords(const vantrel::Coord_orth& p0,
                                                      const vantrel::Coord_orth& a,
                                                      const double& d1, const double& t,
                                                      const vantrel::Coord_orth& p3,
                                                      const double& d2) const;

  //! Closures of a one-residue gap: from C(0), N(1), CA(1) to CA(3), C(3),
  //! the lists C(1), N(2), CA(2), C(2), N(3), in the order of phi(1)
  //! samples, then of the solutions for CA(2) and C(2). The sixth position
  //! (for instance N(4)) takes no part.
  std::vector<CoordList<5>> rebuild5atoms(vantrel::Coord_orth c0, vantrel::Coord_orth n1,
                                          vantrel::Coord_orth ca1, vantrel::Coord_orth ca3,
                                          vantrel::Coord_orth c3, vantrel::Coord_orth extra) const;
  //! Closures of a two-residue gap: from C(0), N(1), CA(1) to CA(4), C(4),
  //! the lists C(1), N(2), CA(2), C(2), N(3), CA(3), C(3), N(4), in the
  //! order of accepted (phi(1), psi(1)) samples (phi outer), then of the
  //! one-residue closures from there. The sixth position is passed on.
  std::vector<CoordList<8>> rebuild8atoms(vantrel::Coord_orth c0, vantrel::Coord_orth n1,
                                          vantrel::Coord_orth ca1, vantrel::Coord_orth ca4,
                                          vantrel::Coord_orth c4, vantrel::Coord_orth extra) const;

 private:
  //! True when the Ramachandran density at (phi, psi) exceeds the second
  //! threshold.
  bool allowed(double phi, double psi) const;

  vantrel::Ramachandran rama_;
  int n_;
};

#endif
