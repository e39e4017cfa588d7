// Ranges, binned cumulative distributions (ordinals) and histograms.
#ifndef VANTREL_FOUNDATION_STATISTICS_H
#define VANTREL_FOUNDATION_STATISTICS_H

#include <vector>

namespace vantrel {

//! A closed interval that include() widens.
/*! A default range is empty, (999999999, -999999999), so that the first
  included value becomes both bounds. */
template <class T> class Range {
 public:
  Range() : min_(T(999999999)), max_(T(-999999999)) {}
  Range(const T& min, const T& max) : min_(min), max_(max) {}
  const T& min() const { return min_; }
  const T& max() const { return max_; }
  void include(const T& x) {
    if (x < min_) min_ = x;
    if (x > max_) max_ = x;
  }

 private:
  T min_, max_;
};

//! Binned, linearly interpolated cumulative distribution of a sample.
/*! ordinal(x) is the fraction of the sample below x, in [0, 1]. After
  invert(), ordinal(p) maps a fraction back to a value of the variable.
  Build either with init(range, n), accumulate() each value, prep_ordinal();
  or with init(values, n); or in two passes: add_pass_1() each value,
  init(n), add_pass_2() each value, prep_ordinal(). */
class Generic_ordinal {
 public:
  void init(const Range<double>& r, const int num_bins);
  //! Resets the table to n bins, keeping the range (second of two passes).
  void init(const int num_bins);
  //! One-pass construction from a sample.
  void init(const std::vector<double>& values, const int num_bins);
  void add_pass_1(const double& x) { range.include(x); }
  void add_pass_2(const double& x) { accumulate(x); }
  void accumulate(const double& x);
  //! Turns the bin counts into cumulative fractions.
  void prep_ordinal();
  double ordinal(const double& x) const;
  //! Replaces the table by its inverse: values indexed by fractions.
  void invert();

 protected:
  //! Position of x in bin units, in [0, nbins); a NaN position (x NaN, or a
  //! zero-width range) counts as the top of the range.
  double bin_position(const double& x) const;

  double nbins = 0.0;
  Range<double> range;
  std::vector<double> hist;
};

//! A histogram of nbins equal bins over [min, max] (max > min, nbins >= 1).
class Histogram {
 public:
  Histogram(const Range<double>& range, const int num_bins);
  //! Adds weight w to the bin of x; values outside the range go to the end
  //! bins, missing values are skipped.
  void accumulate(const double& x, const double& w = 1.0);
  //! Value interpolated between bin centres, falling to 0 at the range ends
  //! (and 0 for a missing x).
  double y(const double& x) const;
  double sum() const;
  //! Adds h bin by bin; fatal message when the bin counts differ.
  const Histogram& operator+=(const Histogram& h);

  int size() const { return nbins; }
  const double& operator[](const int i) const { return data[i]; }
  double& operator[](const int i) { return data[i]; }

 private:
  double min, max;
  int nbins;
  std::vector<double> data;
};

}  // namespace vantrel

#endif
