// Mean, standard deviation and range of a crystallographic map.
#ifndef VANTREL_MAPS_MAP_STATS_H
#define VANTREL_MAPS_MAP_STATS_H

#include <cmath>

#include "foundation/statistics.h"
#include "foundation/util.h"
#include "maps/xmap.h"

namespace vantrel {

//! Statistics of a map's values over the whole cell.
/*! Every stored asymmetric-unit point counts with weight 1/multiplicity, so
  that the sums equal those over all grid points of the cell divided by the
  number of operators. Missing values (NaN or infinite) are skipped. */
class Map_stats {
 public:
  //! The statistics of an Xmap<T>. A map with no usable value gives a
  //! missing mean and deviation and the empty range [1e12, -1e12].
  template <class M> explicit Map_stats(const M& map) : range_(empty_range()) {
    double sw = 0.0, swx = 0.0, swx2 = 0.0;
    for (auto ix = map.first(); !ix.last(); ix.next()) {
      const double x = double(map[ix]);
      if (Util::is_nan(x)) continue;
      const double w = 1.0 / double(map.multiplicity(ix.coord()));
      sw += w;
      swx += w * x;
      swx2 += x * (w * x);
      range_.include(x);
    }
    mean_ = swx / sw;
    const double variance = swx2 / sw - mean_ * mean_;
    // Rounding can make the variance of a near-constant map slightly
    // negative; that is a deviation of 0, not a missing one.
    std_dev_ = std::sqrt(variance < 0.0 ? 0.0 : variance);
  }

  const double& mean() const { return mean_; }
  const double& std_dev() const { return std_dev_; }
  //! The smallest and largest value seen.
  const Range<double>& range() const { return range_; }

 private:
  static Range<double> empty_range() { return Range<double>(1e12, -1e12); }

  double mean_;
  double std_dev_;
  Range<double> range_;
};

}  // namespace vantrel

#endif
