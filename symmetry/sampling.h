// Sampling of space: resolution limits, reciprocal-space sampling, map grid
// sampling and boxes of grid coordinates.
#ifndef VANTREL_SYMMETRY_SAMPLING_H
#define VANTREL_SYMMETRY_SAMPLING_H

#include <cstdint>

#include "foundation/vec_mat.h"
#include "symmetry/cell.h"
#include "symmetry/coords.h"

namespace vantrel {

class Spacegroup;

//! A resolution limit in Angstrom; null when the limit is 0 or negative.
class Resolution {
 public:
  Resolution() : limit_(0.0) {}
  explicit Resolution(const double& limit) : limit_(limit) {}
  void init(const double& limit) { limit_ = limit; }
  //! the smallest d-spacing included, Angstrom
  const double& limit() const { return limit_; }
  //! the largest 1/d^2 inside the limit
  double invresolsq_limit() const { return 1.0 / (limit_ * limit_); }
  //! true when the limit is 0 or negative (a NaN limit is not null)
  bool is_null() const { return limit_ <= 0.0; }

 private:
  double limit_;
};

//! The reflections inside the resolution sphere of a cell as an exact
//! integer quadratic form Q(h,k,l) <= 2^40; used as a cache key.
class HKL_sampling {
 public:
  //! the null sampling
  HKL_sampling() : m00(-1), m11(0), m22(0), m01(0), m02(0), m12(0) {}
  //! null when the cell is null or the resolution is null or missing;
  //! fatal when a coefficient would not fit in 64 bits (a resolution far
  //! too coarse for the cell, or a cell with a vanishing edge)
  HKL_sampling(const Cell& cell, const Resolution& resolution);
  //! Q(h,k,l) in 64-bit integers; the reflection is inside when Q <= 2^40
  std::int64_t quadratic_form(const HKL& hkl) const {
    const int h = hkl[0], k = hkl[1], l = hkl[2];
    return m00 * std::int64_t(h * h) + m11 * std::int64_t(k * k) + m22 * std::int64_t(l * l) +
           m01 * std::int64_t(h * k) + m02 * std::int64_t(h * l) + m12 * std::int64_t(k * l);
  }
  //! largest |h|, |k|, |l| of a reflection inside the sampling; fatal for a
  //! null sampling, one too coarse or too fine for 64-bit arithmetic, and
  //! limits past max_index or a box of more than 2^32 indices
  HKL hkl_limit() const;
  //! the resolution the sampling reaches in the given cell
  Resolution resolution(const Cell& cell) const;
  bool is_null() const { return m00 < 0; }
  String format() const { return "CANNOT FORMAT HKL_sampling"; }
  bool operator==(const HKL_sampling& other) const;
  bool operator!=(const HKL_sampling& other) const { return !(*this == other); }

  static const std::int64_t sqrt_limit_value = 1048576;  // 2^20
  //! Largest index limit along an axis; those of a usable sampling stay
  //! near 1024 and below.
  static const std::int64_t max_index = 2048;

 private:
  std::int64_t m00, m11, m22, m01, m02, m12;
};

//! The map grid of a unit cell chosen for a space group, resolution and
//! sampling rate; null when any size is 0 or less, as it is for a null
//! cell or a null or missing resolution.
class Grid_sampling : public Grid {
 public:
  Grid_sampling() : Grid(0, 0, 0) {}
  Grid_sampling(const Spacegroup& spacegroup, const Cell& cell, const Resolution& resolution,
                double rate = 1.5);
  //! Fatal for a rate that is not a positive finite number, and for a
  //! size beyond max_axis_size, before any search.
  void init(const Spacegroup& spacegroup, const Cell& cell, const Resolution& resolution,
            double rate = 1.5);
  bool is_null() const { return nu() <= 0 || nv() <= 0 || nw() <= 0; }
  //! The number of points, in 64 bits.
  std::int64_t size64() const { return std::int64_t(nu()) * nv() * nw(); }
  //! Fatal, naming who, unless a map can be held on this grid: not null,
  //! and nu * nv * (nw + 2) points (the padded FFT layout) within the reach
  //! of int indices.
  void check_map_grid(const char* who) const;
  //! True when every translation of the group is a whole number of grid
  //! steps and the axes that its rotations join have equal sizes: the grid
  //! carries the group's symmetry.
  bool suits(const Spacegroup& spacegroup) const;
  //! Fatal, naming who, unless the grid suits the group.
  void check_suits(const Spacegroup& spacegroup, const char* who) const;
  //! grid to fractional coordinates: diag(1/nu, 1/nv, 1/nw)
  Mat33<double> matrix_grid_frac() const;
  //! fractional to grid coordinates: diag(nu, nv, nw)
  Mat33<double> matrix_frac_grid() const;

  //! Largest size init() chooses along an axis: far beyond any crystal
  //! map, and small enough for a quick search.
  static constexpr int max_axis_size = 65536;
};

//! A box of grid coordinates with inclusive corners; the Grid part holds the
//! number of points along each axis.
class Grid_range : public Grid {
 public:
  //! an empty box
  Grid_range() : Grid(0, 0, 0), min_(0, 0, 0), max_(-1, -1, -1) {}
  Grid_range(const Coord_grid& min, const Coord_grid& max);
  //! the points of grid g inside the fractional box [fmin, fmax]; fatal
  //! for a corner that is not a number or past 2^30 grid steps
  Grid_range(const Grid& g, const Coord_frac& fmin, const Coord_frac& fmax);
  //! a box about the origin holding every point of g within radius (A);
  //! fatal as above
  Grid_range(const Cell& cell, const Grid& g, const double& radius);
  const Coord_grid& min() const { return min_; }
  const Coord_grid& max() const { return max_; }
  void add_border(int b);
  int index(const Coord_grid& c) const {
    return ((c.u() - min_.u()) * nv() + (c.v() - min_.v())) * nw() + (c.w() - min_.w());
  }
  bool in_grid(Coord_grid c) const {
    return c.u() >= min_.u() && c.u() <= max_.u() && c.v() >= min_.v() && c.v() <= max_.v() &&
           c.w() >= min_.w() && c.w() <= max_.w();
  }

 private:
  void set_sizes();
  Coord_grid min_, max_;
};

}  // namespace vantrel

#endif
