// Ramachandran probability tables: a periodic two-angle density on a square
// grid, and its instance filled from the built-in (phi, psi) counts.
#ifndef VANTREL_MODEL_RAMACHANDRAN_H
#define VANTREL_MODEL_RAMACHANDRAN_H

#include <vector>

#include "foundation/vstring.h"

namespace vantrel {

//! A density over two periodic angles on an n x n grid, read by bilinear
//! interpolation with wrap-around.
/*! Angles are in radians and may take any finite value. Grid point (i, j)
  lies at (2 pi i / n, 2 pi j / n) and is element i n + j. Usable after
  init(); accumulating or reading a grid that was never given a size is a
  fatal error. */
class Prob_phi_2d {
 public:
  //! An n x n grid of zeros, replacing any previous content.
  void init(const int& n);
  //! Adds table[k] to element k for every k below n^2.
  void accumulate(const float* table);
  //! Adds weight at (phi, psi), spread bilinearly over the four surrounding
  //! grid points. A missing angle (NaN or infinite) adds nothing.
  void accumulate(const double& phi, const double& psi, double weight = 1.0);
  //! Scales the grid so that the interpolated density integrates to 1 over
  //! the square of side 2 pi. A grid summing to zero is left unchanged.
  void normalise();
  //! The interpolated value at (phi, psi): the grid value exactly at a grid
  //! point; NaN for a missing angle. After normalise(), a density per
  //! square radian.
  double probability(const double& phi, const double& psi) const;
  //! The grid rounded to whole numbers, twelve values to a line, each row
  //! closed by "//" and its index.
  String format() const;

  int size() const { return n_; }
  //! Element i n + j.
  const double& operator[](int k) const { return data_[k]; }

 private:
  // Grid point below (phi, psi), its neighbours and the fractions towards
  // them; false for a missing angle.
  struct Position {
    int i0, i1, j0, j1;
    double fx, fy;
  };
  bool position(double phi, double psi, Position& p) const;

  int n_ = 0;
  std::vector<double> data_;
};

//! The Ramachandran density of a residue class from the built-in counts,
//! normalised, with two probability thresholds (0.01 and 0.0005 after
//! init). A (phi, psi) pair is usually judged allowed when its probability
//! exceeds one of them.
class Ramachandran : public Prob_phi_2d {
 public:
  //! Residue classes; any other value counts as ALL_RESIDUES.
  enum TYPE { GLYCINE, PROLINE, NON_GLY_PRO, NON_GLYCINE, ALL_RESIDUES };

  explicit Ramachandran(TYPE type) { init(type); }
  //! Rebuilds the grid and resets the thresholds.
  void init(TYPE type);
  void set_thresholds(double first, double second);
  double threshold_1() const { return threshold_1_; }
  double threshold_2() const { return threshold_2_; }

 private:
  double threshold_1_ = 0.0, threshold_2_ = 0.0;
};

}  // namespace vantrel

#endif
