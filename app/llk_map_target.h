// Residue density target: the density of one residue type learned in the
// residue's local frame, reduced to sample points with target values and
// weights against which a residue of another map is scored.
#ifndef QUELVARN_APP_LLK_MAP_TARGET_H
#define QUELVARN_APP_LLK_MAP_TARGET_H

#include <vector>

#include "foundation/vstring.h"
#include "maps/nxmap.h"
#include "maps/xmap.h"
#include "symmetry/coords.h"
#include "symmetry/spacegroup.h"

// Local frame and box grid. A residue operator (RTop_orth) takes a local
// position p (A) to R p + t in the map. The box grid has 2n+1 points per
// axis, spacing `sampling`, the local origin at grid point (n, n, n): grid
// point (u, v, w) lies at ((u-n), (v-n), (w-n)) * sampling. A map is read at
// a local position by carrying it to the map's orthogonal frame, then to
// fractional coordinates of the map's cell; symmetry makes every position
// valid. Lower scores are better.

//! Density target of one residue type.
/*! Life: init; accumulate any number of residues; prep_llk; then score a
  copy of fine() (or coarse()). While accumulating the two box maps hold
  per-point sums of rho and rho^2; after prep_llk, per-point target values
  and weights. The first accumulate after init or prep_llk starts from
  empty sums. A target that received no residue ends with all targets and
  weights 0; its sample lists still hold every point, and it scores 0. So
  does a target whose density has no spread over the whole target (a flat
  map), which keeps its mean densities as targets. */
class LLK_map_target {
 public:
  enum TYPE { LLK = 0, CORREL = 1 };

  //! Sample points in the local frame, each with a target value and a
  //! weight, and the score they are meant for. The three lists always have
  //! the same length.
  class Sampled {
   public:
    Sampled() = default;

    //! Appends one sample: local position (A), target value and weight.
    void insert(const vantrel::Coord_orth& point, double target, double weight);

    //! Weighted mean squared deviation of the map from the targets at the
    //! residue placed by rtop: sum w (rho - m)^2 / sum w. 0 when no weight
    //! is positive (an untrained target).
    double llk(const vantrel::Xmap<float>& xmap, const vantrel::RTop_orth& rtop) const;
    //! Negated weighted correlation of map and targets, in [-1, 1]; 0 when
    //! either side has no weighted spread (as for an untrained target).
    double correl(const vantrel::Xmap<float>& xmap, const vantrel::RTop_orth& rtop) const;
    //! The score this list is meant for: correl unless type() is LLK.
    double score(const vantrel::Xmap<float>& xmap, const vantrel::RTop_orth& rtop) const;

    //! Map values (trilinear interpolation) at every point for a residue.
    std::vector<float> density(const vantrel::Xmap<float>& xmap,
                               const vantrel::RTop_orth& rtop) const;
    //! llk, correl and score from map values already read at the points.
    double llk(const std::vector<float>& rho) const;
    double correl(const std::vector<float>& rho) const;
    double score(const std::vector<float>& rho) const;

    //! True when some weight is positive: the target learned something.
    /*! A residue type that no reference residue trained (or whose density
      had no spread) is untrained and scores 0 for every residue. */
    bool trained() const;

    int size() const { return int(points_.size()); }
    const std::vector<vantrel::Coord_orth>& points() const { return points_; }
    const std::vector<double>& targets() const { return targets_; }
    const std::vector<double>& weights() const { return weights_; }
    TYPE type() const { return type_; }
    void set_type(TYPE type) { type_ = type; }

   private:
    std::vector<vantrel::Coord_orth> points_;
    std::vector<double> targets_;
    std::vector<double> weights_;
    TYPE type_ = LLK;
  };

  //! Sets the radius (A) of the target sphere, the box spacing (A) and the
  //! scoring kind; both maps become zero on a box of half-width
  //! n = (radius + 2 sampling) / sampling, rounded half to even. A negative
  //! or non-finite radius, or a sampling that is not positive and finite, is
  //! fatal: the box would be too small for the interpolation stencils.
  void init(const double& radius, const double& sampling, TYPE type);
  //! Adds the density of one residue: at every box point within n*sampling
  //! of the origin, the tricubic value of xmap at the residue's position.
  void accumulate(const vantrel::Xmap<float>& xmap, vantrel::RTop_orth rtop);
  //! Turns the sums into target values and weights, zeroes everything
  //! beyond the radius, and appends to both sample lists (never clears them).
  void prep_llk();

  // Searching a whole map for the target (defined in
  // app/llk_map_target_search.cpp).

  //! Rotations (zero translation) for search: the inverses of CCP4 Euler
  //! rotations sampling orientation space evenly at an angular step in
  //! degrees, over the part of it that the space group's rotations about
  //! a, b and c leave distinct. Ordered by beta, then by the sum and the
  //! difference of alpha and gamma. Reads no member; a step of 360 or more
  //! gives an empty list.
  std::vector<vantrel::RTop_orth> rtop_list(const vantrel::Spacegroup& spacegroup,
                                            const double& step) const;
  //! Six-dimensional search of xmap for the prepared target: one FFT
  //! translation search per rotation, placing the box by the inverse of the
  //! operator. The three result maps take xmap's space group, cell and
  //! grid and hold, per point, the lowest normalised score (score - mean) /
  //! sd, where mean and sd are those of the first operator's search (sd 0:
  //! scores are not scaled), the index of its operator and its translation
  //! coded as (u nv + v) nw + w. Lower is better; a point that no score
  //! below 1e20 reached keeps score 1e20. An empty list writes nothing.
  void search(vantrel::Xmap<float>& score, vantrel::Xmap<int>& rotation,
              vantrel::Xmap<int>& translation, const vantrel::Xmap<float>& xmap,
              const std::vector<vantrel::RTop_orth>& rtops) const;
  //! The target values as text: per w section a block of v rows of u
  //! characters, " ", ".", "+", "#" rising and "-" below 0, each value
  //! taken against the rms over half the box points (over the one point of
  //! a one-point box).
  vantrel::String format() const;

  double radius() const { return radius_; }
  //! Residues accumulated since init or the last prep_llk.
  int count() const { return count_; }
  const vantrel::NXmap<float>& target_map() const { return target_map_; }
  const vantrel::NXmap<float>& weight_map() const { return weight_map_; }
  //! Points of even index sum within the radius (in whole grid steps).
  const Sampled& fine() const { return fine_; }
  //! 13 points: the origin and the 12 at two nonzero steps of 0.375 radius.
  const Sampled& coarse() const { return coarse_; }
  TYPE type() const { return type_; }

 private:
  //! Local position of box grid index i.
  vantrel::Coord_orth local_position(int i) const;

  double radius_ = 0.0;
  double sampling_ = 0.0;
  int half_width_ = 0;  // n
  int count_ = 0;
  vantrel::NXmap<float> target_map_;
  vantrel::NXmap<float> weight_map_;
  Sampled fine_;
  Sampled coarse_;
  TYPE type_ = LLK;
};

#endif
