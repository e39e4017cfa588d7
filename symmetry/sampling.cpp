#include "symmetry/sampling.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "foundation/message.h"
#include "foundation/util.h"
#include "symmetry/spacegroup.h"

namespace vantrel {

// ------------------------------------------------------------- HKL_sampling

HKL_sampling::HKL_sampling(const Cell& cell, const Resolution& resolution) : HKL_sampling() {
  if (cell.is_null() || resolution.is_null() || Util::is_nan(resolution.limit())) return;
  const double s = double(sqrt_limit_value * sqrt_limit_value);
  const double lim = s / resolution.invresolsq_limit();
  const double lim2 = lim + lim;
  const double as = cell.a_star(), bs = cell.b_star(), cs = cell.c_star();
  const double m[6] = {lim * as * as,
                       lim * bs * bs,
                       lim * cs * cs,
                       lim2 * as * bs * std::cos(cell.gamma_star()),
                       lim2 * as * cs * std::cos(cell.beta_star()),
                       lim2 * bs * cs * std::cos(cell.alpha_star())};
  // A coefficient must convert to 64 bits with room for the sums of Q.
  for (const double v : m)
    if (!(std::fabs(v) < 0x1p62))
      fatal("HKL_sampling: resolution " + String(resolution.limit(), 0, 6) + " A out of range for" +
            cell.format());
  m00 = std::int64_t(m[0]);
  m11 = std::int64_t(m[1]);
  m22 = std::int64_t(m[2]);
  m01 = std::int64_t(m[3]);
  m02 = std::int64_t(m[4]);
  m12 = std::int64_t(m[5]);
}

// The bounding box of the ellipsoid Q <= S^2 from the cofactors of the
// scaled form; the +1 and -3 enlarge it slightly over the exact bounds.
// The 64-bit arithmetic holds while the scaled diagonal terms stay below
// 2^21 (a resolution finer than about 1.4 axial d-spacings) and the
// determinant stays positive (index bounds well below 1024); outside that
// range the sampling has no usable index limit.
HKL HKL_sampling::hkl_limit() const {
  const std::int64_t s = sqrt_limit_value;
  const std::int64_t g11 = m00 / s, g22 = m11 / s, g33 = m22 / s;
  const std::int64_t g12 = (m01 / s) / 2, g13 = (m02 / s) / 2, g23 = (m12 / s) / 2;
  const std::int64_t max_diagonal = std::int64_t(1) << 21;
  const auto degenerate = [&] {
    fatal("HKL_sampling: degenerate sampling, no index limit" +
          (is_null() ? String(" (null sampling)")
                     : " (scaled diagonal " + String(long(g11)) + ", " + String(long(g22)) + ", " +
                           String(long(g33)) + ")"));
  };
  if (g11 >= max_diagonal || g22 >= max_diagonal || g33 >= max_diagonal) degenerate();
  // In 128 bits: products of three terms below 2^21 reach 2^63.
  typedef __int128 wide;
  const wide det = wide(g33) * (g11 * g22) + wide(g13) * (g12 * g23) + wide(g12) * (g13 * g23) -
                   wide(g23) * (g11 * g23) - wide(g13) * (g22 * g13) - wide(g12) * (g33 * g12);
  const wide den = det - 3;
  if (den <= 0) degenerate();
  const std::int64_t cofactors[3] = {g22 * g33 - g23 * g23, g11 * g33 - g13 * g13,
                                     g11 * g22 - g12 * g12};
  std::int64_t bounds[3];
  for (int i = 0; i < 3; ++i) {
    if (cofactors[i] + 1 <= 0) degenerate();
    const wide q = (wide(cofactors[i] + 1) * s) / den;
    bounds[i] = q > wide(max_index) * max_index ? max_index + 1
                                                : std::int64_t(std::floor(std::sqrt(double(q))));
  }
  // Index limits past these belong to a degenerate form, and the boxes
  // they span would take hours to walk.
  const double box =
      double(2 * bounds[0] + 1) * double(2 * bounds[1] + 1) * double(2 * bounds[2] + 1);
  if (bounds[0] > max_index || bounds[1] > max_index || bounds[2] > max_index || box > 0x1p32)
    fatal("HKL_sampling: index limits (" + String(long(bounds[0]), 0) + ", " +
          String(long(bounds[1]), 0) + ", " + String(long(bounds[2]), 0) + ") out of range");
  return HKL(int(bounds[0]), int(bounds[1]), int(bounds[2]));
}

Resolution HKL_sampling::resolution(const Cell& cell) const {
  const HKL lim = hkl_limit();
  const std::int64_t qmax = sqrt_limit_value * sqrt_limit_value;
  double best = 0.0;
  for (int h = 0; h <= lim.h(); h++)
    for (int k = -lim.k(); k <= lim.k(); k++)
      for (int l = -lim.l(); l <= lim.l(); l++) {
        const HKL hkl(h, k, l);
        if (quadratic_form(hkl) <= qmax) best = std::max(best, hkl.invresolsq(cell));
      }
  return Resolution(0.999999 / std::sqrt(best));
}

bool HKL_sampling::operator==(const HKL_sampling& o) const {
  return m00 == o.m00 && m11 == o.m11 && m22 == o.m22 && m01 == o.m01 && m02 == o.m02 &&
         m12 == o.m12;
}

// ------------------------------------------------------------ Grid_sampling

namespace {

// Sum of the prime factors of n with multiplicity; 0 for n <= 1.
int sum_of_prime_factors(int n) {
  int sum = 0;
  for (int p = 2; p * p <= n; p++)
    while (n % p == 0) {
      sum += p;
      n /= p;
    }
  return n > 1 ? sum + n : sum;  // what remains is prime
}

// The size from nmin to 2*nmin+15, a multiple of 'multiple', that minimises
// n^3 * spf(n): small prime factors make fast FFTs. 0 when none qualifies.
int choose_grid_size(int nmin, int multiple) {
  int best_n = 0;
  double best = std::numeric_limits<double>::infinity();
  for (int n = nmin; n < 2 * nmin + 16; n++) {
    if (n % multiple != 0) continue;
    const double score = std::pow(double(n), 3.0) * double(sum_of_prime_factors(n));
    if (score < best) {
      best = score;
      best_n = n;
    }
  }
  return best_n;
}

}  // namespace

Grid_sampling::Grid_sampling(const Spacegroup& spacegroup, const Cell& cell,
                             const Resolution& resolution, double rate) {
  init(spacegroup, cell, resolution, rate);
}

// Each size must be a multiple of twice the largest translation denominator
// along its axis; axes that the rotations mix get equal sizes.
void Grid_sampling::init(const Spacegroup& spacegroup, const Cell& cell,
                         const Resolution& resolution, double rate) {
  *this = Grid_sampling();
  if (!(rate > 0.0) || !std::isfinite(rate))
    fatal("Grid_sampling: invalid sampling rate " + String(rate, 0, 6));
  if (cell.is_null() || resolution.is_null() || Util::is_nan(resolution.limit())) return;
  const Grid g48(48, 48, 48);
  int factor[3] = {1, 1, 1};
  bool xy = false, xz = false, yz = false;
  for (int i = 0; i < spacegroup.op_count(); i++) {
    const Isymop op(spacegroup.symop(i), g48);
    xy = xy || op.rot()(0, 1) != 0;
    xz = xz || op.rot()(0, 2) != 0;
    yz = yz || op.rot()(1, 2) != 0;
    for (int k = 0; k < 3; k++) {
      const int m = Util::mod(op.trn()[k] - 1, 48);
      factor[k] = std::max(factor[k], 48 / (m + 1));
    }
  }
  const double dmin = resolution.limit();
  const double nmin[3] = {std::ceil((cell.a() + cell.a()) * rate / dmin),
                          std::ceil(rate * (cell.b() + cell.b()) / dmin),
                          std::ceil(rate * (cell.c() + cell.c()) / dmin)};
  for (int k = 0; k < 3; k++)
    if (nmin[k] > max_axis_size)
      fatal("Grid_sampling: grid too large: " + String(nmin[k], 0, 12) + " points along " +
            String("abc").substr(k, 1) + " for" + cell.format() + " at " + String(dmin, 0, 6) +
            " A, rate " + String(rate, 0, 6));
  int n[3];
  for (int k = 0; k < 3; k++) n[k] = choose_grid_size(int(nmin[k]), 2 * factor[k]);
  if (xy) n[0] = n[1] = std::max(n[0], n[1]);
  if (xz) n[0] = n[2] = std::max(n[0], n[2]);
  if (yz) n[1] = n[2] = std::max(n[1], n[2]);
  (*this)[0] = n[0];
  (*this)[1] = n[1];
  (*this)[2] = n[2];
}

void Grid_sampling::check_map_grid(const char* who) const {
  if (is_null()) fatal(String(who) + ": null grid " + format());
  // Each operand below 2^31, so the product fits in 64 bits.
  const std::int64_t points = std::int64_t(nu()) * nv() * (std::int64_t(nw()) + 2);
  if (points > std::numeric_limits<int>::max())
    fatal(String(who) + ": map grid too large: " + format() + ", " + String(long(size64()), 0) +
          " points");
}

bool Grid_sampling::suits(const Spacegroup& spacegroup) const {
  for (int k = 0; k < spacegroup.op_count(); k++) {
    const Symop& op = spacegroup.symop(k);
    for (int i = 0; i < 3; i++) {
      // Translations are whole 48ths.
      if (std::lrint(48.0 * op.trn()[i]) * (*this)[i] % 48 != 0) return false;
      for (int j = 0; j < 3; j++)
        if (i != j && op.rot()(i, j) != 0.0 && (*this)[i] != (*this)[j]) return false;
    }
  }
  return true;
}

void Grid_sampling::check_suits(const Spacegroup& spacegroup, const char* who) const {
  // A grid that does not carry the symmetry would send operators off the
  // grid, and so past the tables built on it.
  if (!suits(spacegroup))
    fatal(String(who) + ": grid " + format() + " does not suit space group " +
          spacegroup.symbol_hall() + ": a translation is not a whole number of grid steps, or " +
          "axes joined by a rotation differ in size");
}

Mat33<double> Grid_sampling::matrix_grid_frac() const {
  return Mat33<double>(1.0 / nu(), 0.0, 0.0, 0.0, 1.0 / nv(), 0.0, 0.0, 0.0, 1.0 / nw());
}

Mat33<double> Grid_sampling::matrix_frac_grid() const {
  return Mat33<double>(nu(), 0.0, 0.0, 0.0, nv(), 0.0, 0.0, 0.0, nw());
}

// --------------------------------------------------------------- Grid_range

Grid_range::Grid_range(const Coord_grid& min, const Coord_grid& max) : min_(min), max_(max) {
  set_sizes();
}

namespace {

// A box corner component as an int; fatal unless it is a number well
// inside the int range (so that sizes and indices stay in range too).
int box_corner(const double& x) {
  if (!(std::fabs(x) < 1073741824.0))  // 2^30; a NaN fails
    fatal("Grid_range: box corner " + String(x, 0, 6) + " out of range");
  return int(x);
}

}  // namespace

Grid_range::Grid_range(const Grid& g, const Coord_frac& fmin, const Coord_frac& fmax) {
  min_ = Coord_grid(box_corner(std::ceil(double(g.nu()) * fmin.u())),
                    box_corner(std::ceil(double(g.nv()) * fmin.v())),
                    box_corner(std::ceil(double(g.nw()) * fmin.w())));
  max_ = Coord_grid(box_corner(std::floor(double(g.nu()) * fmax.u())),
                    box_corner(std::floor(double(g.nv()) * fmax.v())),
                    box_corner(std::floor(double(g.nw()) * fmax.w())));
  set_sizes();
}

Grid_range::Grid_range(const Cell& cell, const Grid& g, const double& radius) {
  const int lu = box_corner(std::ceil(radius * cell.a_star() * g.nu()));
  const int lv = box_corner(std::ceil(radius * cell.b_star() * g.nv()));
  const int lw = box_corner(std::ceil(radius * cell.c_star() * g.nw()));
  min_ = Coord_grid(-lu, -lv, -lw);
  max_ = Coord_grid(lu, lv, lw);
  set_sizes();
}

void Grid_range::add_border(int b) {
  min_ = min_ - Coord_grid(b, b, b);
  max_ = max_ + Coord_grid(b, b, b);
  set_sizes();
}

void Grid_range::set_sizes() {
  (*this)[0] = max_.u() - min_.u() + 1;
  (*this)[1] = max_.v() - min_.v() + 1;
  (*this)[2] = max_.w() - min_.w() + 1;
}

}  // namespace vantrel
