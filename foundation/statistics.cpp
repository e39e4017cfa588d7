#include "foundation/statistics.h"

#include <cmath>
#include <sstream>

#include "foundation/message.h"
#include "foundation/util.h"

namespace vantrel {

void Generic_ordinal::init(const Range<double>& r, const int num_bins) {
  range = r;
  init(num_bins);
}

void Generic_ordinal::init(const int num_bins) {
  nbins = double(num_bins);
  hist.assign(num_bins + 1, 0.0);
}

void Generic_ordinal::init(const std::vector<double>& values, const int num_bins) {
  Range<double> r;
  for (const double v : values) r.include(v);
  init(r, num_bins);
  for (const double v : values) accumulate(v);
  prep_ordinal();
}

double Generic_ordinal::bin_position(const double& x) const {
  double t = (x - range.min()) / (range.max() - range.min());
  // Infinities are ordered by the comparisons; what passes them is NaN.
  if (t >= 0.99999)
    t = 0.99999;
  else if (t <= 0.0)
    t = 0.0;
  else if (Util::is_nan(t))
    t = 0.99999;
  return t * nbins;
}

void Generic_ordinal::accumulate(const double& x) { hist[int(bin_position(x)) + 1] += 1.0; }

void Generic_ordinal::prep_ordinal() {
  for (size_t k = 1; k < hist.size(); ++k) hist[k] += hist[k - 1];
  // An empty sample leaves the table at zero rather than 0/0.
  const double total = hist.back();
  if (total > 0.0)
    for (double& h : hist) h /= total;
}

double Generic_ordinal::ordinal(const double& x) const {
  const double s = bin_position(x);
  const int i = int(s);
  const double f = s - std::floor(s);
  return (1.0 - f) * hist[i] + f * hist[i + 1];
}

void Generic_ordinal::invert() {
  const double lo = range.min(), hi = range.max();
  const size_t m = hist.size();
  std::vector<double> inverse(m);
  inverse.front() = lo;
  inverse.back() = hi;
  // Bisection for the value whose ordinal is k / nbins.
  for (size_t k = 1; k + 1 < m; ++k) {
    const double p = double(k) / nbins;
    double x = 0.5 * (lo + hi);
    double step = 0.5 * (hi - lo);
    for (int iter = 0; iter < 10; ++iter) {
      if (p < ordinal(x))
        x -= step;
      else
        x += step;
      step *= 0.5;
    }
    inverse[k] = Util::bound(lo, x, hi);
  }
  range = Range<double>(0.0, 1.0);
  hist.swap(inverse);
}

Histogram::Histogram(const Range<double>& range, const int num_bins)
    : min(range.min()), max(range.max()), nbins(num_bins), data(num_bins > 0 ? num_bins : 0, 0.0) {
  if (num_bins < 1 || !(max > min)) {
    std::ostringstream text;
    text << "Histogram: empty range or no bins: range [" << min << ", " << max << "], " << num_bins
         << " bins";
    fatal(text.str());
  }
}

void Histogram::accumulate(const double& x, const double& w) {
  if (Util::is_nan(x)) return;
  const double t = double(nbins) * (x - min) / (max - min);
  data[int(Util::bound(0.0, std::floor(t), double(nbins - 1)))] += w;
}

double Histogram::y(const double& x) const {
  // A missing x reads 0, as the range ends do (and is never made an index).
  if (Util::is_nan(x)) return 0.0;
  const double xc = Util::bound(min, x, max);
  const double t = double(nbins) * (xc - min) / (max - min) - 0.5;
  const int i = int(std::floor(t));
  const double f = t - double(i);
  const double lower = i >= 0 ? data[i] : -data[0];
  const double upper = i + 1 < nbins ? data[i + 1] : -data[nbins - 1];
  return (1.0 - f) * lower + f * upper;
}

double Histogram::sum() const {
  double s = 0.0;
  for (const double d : data) s += d;
  return s;
}

const Histogram& Histogram::operator+=(const Histogram& h) {
  if (h.nbins != nbins) fatal("Histogram: sum of unequal histograms");
  for (int i = 0; i < nbins; ++i) data[i] += h.data[i];
  return *this;
}

}  // namespace vantrel
