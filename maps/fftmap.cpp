#include "maps/fftmap.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <utility>

#include <kissfft/kiss_fft.h>

namespace vantrel {

const Message_ctor message_ctor_fftmap(" [FFTmap: constructed]");
const Message_fatal message_fftmap_get_real_space_error(
    "FFTmap: get_real_data in reciprocal space");
const Message_fatal message_fftmap_set_real_space_error(
    "FFTmap: set_real_data in reciprocal space");
const Message_fatal message_fftmap_get_reci_space_error("FFTmap: get_recip_data in real space");
const Message_fatal message_fftmap_set_reci_space_error("FFTmap: set_recip_data in real space");

FFTmap_p1::FFTtype FFTmap_p1::default_type_ = 2;

namespace {

typedef std::complex<float> cplx;

struct Plan_release {
  void operator()(kiss_fft_cfg plan) const { kiss_fft_free(plan); }
};

// The process-wide table of KISS configurations, one per length and
// direction; the library runs in one thread.
kiss_fft_cfg shared_plan(const int& n, const int& direction) {
  static std::map<std::pair<int, int>, std::unique_ptr<kiss_fft_state, Plan_release>> plans;
  auto& plan = plans[std::make_pair(n, direction)];
  if (!plan) plan.reset(kiss_fft_alloc(n, direction, nullptr, nullptr));
  return plan.get();
}

// The complex half grid is nu planes of nv rows of nwc values.
struct Half_grid {
  cplx* data;
  int nu, nv, nwc;
  std::size_t plane() const { return std::size_t(nv) * nwc; }
};

// Along u: for each row v, its lines interleaved by w, of which the first
// `planes`; rows for which row_wanted(v) is false are left alone. With
// skip_zero, lines that are all zero are skipped and used[w] is set for
// every plane w holding some other line: a plane no row marks stays zero.
template <class Wanted>
void transform_along_u(const Half_grid& g, const int& direction, const int& planes,
                       Wanted row_wanted, const bool& skip_zero, std::vector<char>* used) {
  FFT_line_block lines(g.nu, direction, planes);
  for (int v = 0; v < g.nv; ++v) {
    if (!row_wanted(v)) continue;
    cplx* row = g.data + std::size_t(v) * g.nwc;
    if (lines.transform(row, g.plane(), planes, skip_zero) && used)
      for (const int w : lines.lines()) (*used)[w] = 1;
  }
}

// Along v: one plane u at a time, from u_first to u_last, its lines
// interleaved by w, of which the first `planes`, up to the last plane
// marked used when a mask is given.
void transform_along_v(const Half_grid& g, const int& direction, const int& planes,
                       const std::vector<char>* used, const int& u_first, const int& u_last) {
  int count = planes;
  if (used) {  // the v pass runs on the planes up to the last used one
    count = 0;
    for (int w = 0; w < planes; ++w)
      if ((*used)[w]) count = w + 1;
  }
  if (count == 0) return;
  FFT_line_block lines(g.nv, direction, count);
  for (int u = u_first; u <= u_last; ++u) lines.transform(g.data + u * g.plane(), g.nwc, count);
}

}  // namespace

// ---------------------------------------------------------------- FFT_line

FFT_line::FFT_line(const int& n, const int& direction) : plan_(shared_plan(n, direction)), n_(n) {}

void FFT_line::operator()(const cplx* in, cplx* out) const {
  // std::complex<float> has the layout of kiss_fft_cpx: real, imaginary.
  kiss_fft(static_cast<kiss_fft_cfg>(plan_), reinterpret_cast<const kiss_fft_cpx*>(in),
           reinterpret_cast<kiss_fft_cpx*>(out));
}

void FFT_line::operator()(const cplx* in, cplx* out, const std::size_t& stride) const {
  kiss_fft_stride(static_cast<kiss_fft_cfg>(plan_), reinterpret_cast<const kiss_fft_cpx*>(in),
                  reinterpret_cast<kiss_fft_cpx*>(out), int(stride));
}

// ---------------------------------------------------------- FFT_real_lines

FFT_real_lines::FFT_real_lines(const int& n)
    : n_(n), to_real_(n, 0), to_half_(n, 1), in_(n), out_(n) {}

void FFT_real_lines::half_to_real(const cplx* ha, const cplx* hb, const float& scale, float* a,
                                  float* b) {
  // Z = A + iB over the full line, A and B completed by Friedel symmetry;
  // the transform of Z then holds a in its real and b in its imaginary part.
  const cplx zero(0.0f, 0.0f);
  in_[0] = cplx(ha[0].real(), hb ? hb[0].real() : 0.0f);
  for (int k = 1; 2 * k < n_; ++k) {
    const cplx& x = ha[k];
    const cplx& y = hb ? hb[k] : zero;
    in_[k] = cplx(x.real() - y.imag(), x.imag() + y.real());
    in_[n_ - k] = cplx(x.real() + y.imag(), y.real() - x.imag());
  }
  if (n_ % 2 == 0) {
    const int h = n_ / 2;
    in_[h] = cplx(ha[h].real(), hb ? hb[h].real() : 0.0f);
  }
  to_real_(in_.data(), out_.data());
  for (int j = 0; j < n_; ++j) a[j] = scale * out_[j].real();
  if (b)
    for (int j = 0; j < n_; ++j) b[j] = scale * out_[j].imag();
}

void FFT_real_lines::real_to_half(const float* a, const float* b, const float& scale, cplx* ha,
                                  cplx* hb) {
  for (int j = 0; j < n_; ++j) in_[j] = cplx(scale * a[j], b ? scale * b[j] : 0.0f);
  to_half_(in_.data(), out_.data());
  const int h = n_ / 2;
  if (!hb) {
    for (int k = 0; k <= h; ++k) ha[k] = out_[k];
    return;
  }
  // Separate the two spectra: A(k) = (Z(k) + Z*(-k))/2, B(k) = (Z(k) - Z*(-k))/2i.
  for (int k = 0; k <= h; ++k) {
    const cplx p = out_[k];
    const cplx q = std::conj(out_[Util::mirror(k, n_)]);
    ha[k] = 0.5f * (p + q);
    const cplx d = p - q;
    hb[k] = cplx(0.5f * d.imag(), -0.5f * d.real());
  }
}

// The packed forms repeat the arithmetic of half_to_real and real_to_half
// term by term (scale 1), reading and writing the packed rows directly. A
// pair of rows takes loops without a test per term, so that they
// vectorise; a single row keeps the general form (its zeros' signs differ).
void FFT_real_lines::packed_to_real(float* a, float* b) {
  const int h = n_ / 2;
  if (b) {
    in_[0] = cplx(a[0], b[0]);
    for (int k = 1; 2 * k < n_; ++k) {
      const float xr = a[k], xi = -a[n_ - k];
      const float yr = b[k], yi = -b[n_ - k];
      in_[k] = cplx(xr - yi, xi + yr);
      in_[n_ - k] = cplx(xr + yi, yr - xi);
    }
    if (n_ % 2 == 0) in_[h] = cplx(a[h], b[h]);
    to_real_(in_.data(), out_.data());
    for (int j = 0; j < n_; ++j) {
      a[j] = out_[j].real();
      b[j] = out_[j].imag();
    }
    return;
  }
  in_[0] = cplx(a[0], 0.0f);
  for (int k = 1; 2 * k < n_; ++k) {
    const float xr = a[k], xi = -a[n_ - k];
    const float yr = 0.0f, yi = 0.0f;
    in_[k] = cplx(xr - yi, xi + yr);
    in_[n_ - k] = cplx(xr + yi, yr - xi);
  }
  if (n_ % 2 == 0) in_[h] = cplx(a[h], 0.0f);
  to_real_(in_.data(), out_.data());
  for (int j = 0; j < n_; ++j) a[j] = out_[j].real();
}

void FFT_real_lines::real_to_packed(float* a, float* b) {
  const int h = n_ / 2;
  if (!b) {
    for (int j = 0; j < n_; ++j) in_[j] = cplx(a[j], 0.0f);
    to_half_(in_.data(), out_.data());
    // Terms 0 and n/2 (n even) keep only their real parts.
    a[0] = out_[0].real();
    for (int k = 1; 2 * k < n_; ++k) {
      a[k] = out_[k].real();
      a[n_ - k] = -out_[k].imag();
    }
    if (n_ % 2 == 0) a[h] = out_[h].real();
    return;
  }
  for (int j = 0; j < n_; ++j) in_[j] = cplx(a[j], b[j]);
  to_half_(in_.data(), out_.data());
  // Separate the two spectra: A(k) = (Z(k) + Z*(-k))/2, B(k) = (Z(k) -
  // Z*(-k))/2i; terms 0 and n/2 (n even) keep only their real parts.
  const auto split = [&](const int& k, const int& mirror, cplx& x, cplx& y) {
    const cplx p = out_[k];
    const cplx q = std::conj(out_[mirror]);
    x = 0.5f * (p + q);
    const cplx d = p - q;
    y = cplx(0.5f * d.imag(), -0.5f * d.real());
  };
  cplx x, y;
  split(0, 0, x, y);
  a[0] = x.real();
  b[0] = y.real();
  for (int k = 1; 2 * k < n_; ++k) {
    split(k, n_ - k, x, y);
    a[k] = x.real();
    a[n_ - k] = -x.imag();
    b[k] = y.real();
    b[n_ - k] = -y.imag();
  }
  if (n_ % 2 == 0) {
    split(h, h, x, y);
    a[h] = x.real();
    b[h] = y.real();
  }
}

// ----------------------------------------------------------- FFT_line_block

FFT_line_block::FFT_line_block(const int& n, const int& direction, const int& count)
    : fft_(n, direction), count_(count), out_(std::size_t(n) * count) {
  lines_.reserve(count);
}

bool FFT_line_block::transform(cplx* data, const std::size_t& stride, const int& count,
                               const bool& skip_zero) {
  const int n = fft_.size();
  const int m = std::min(count, count_);
  lines_.clear();
  if (skip_zero) {
    // A line is kept when any of its values is not zero; rows are read in
    // order.
    keep_.assign(m, 0);
    for (int i = 0; i < n; ++i) {
      const cplx* src = data + i * stride;
      for (int j = 0; j < m; ++j) keep_[j] |= src[j] != cplx(0.0f, 0.0f);
    }
    for (int j = 0; j < m; ++j)
      if (keep_[j]) lines_.push_back(j);
  } else {
    for (int j = 0; j < m; ++j) lines_.push_back(j);
  }
  if (lines_.empty()) return false;
  const std::size_t nl = lines_.size();
  for (std::size_t p = 0; p < nl; ++p) fft_(data + lines_[p], &out_[p * n], stride);
  for (int i = 0; i < n; ++i) {
    cplx* dst = data + i * stride;
    for (std::size_t p = 0; p < nl; ++p) dst[lines_[p]] = out_[p * n + i];
  }
  return true;
}

// ---------------------------------------------------------------- FFTmap_p1

FFTmap_p1::FFTmap_p1()
    : mode_(Unset),
      type_(0),
      grid_reci_(0, 0, 0),
      grid_real_(0, 0, 0),
      data_r_(nullptr),
      data_c_(nullptr) {}

FFTmap_p1::FFTmap_p1(const Grid_sampling& grid_sam, const FFTtype type) : FFTmap_p1() {
  init(grid_sam, type);
}

void FFTmap_p1::init(const Grid_sampling& grid_sam, const FFTtype type) {
  grid_sam.check_map_grid("FFTmap_p1");
  type_ = type == 0 ? default_type_ : type;
  mode_ = Unset;
  grid_sam_ = grid_sam;
  const int nu = grid_sam.nu(), nv = grid_sam.nv(), nw = grid_sam.nw();
  grid_reci_ = Grid(nu, nv, nw / 2 + 1);
  grid_real_ = Grid(nu, nv, 2 * (nw / 2 + 1));
  // Old values would be garbage in a new layout: start from zeros.
  data_.assign(std::size_t(grid_real_.nu()) * grid_real_.nv() * grid_real_.nw(), 0.0f);
  point_views();
}

void FFTmap_p1::reset() {
  mode_ = Unset;
  std::fill(data_.begin(), data_.end(), 0.0f);
}

void FFTmap_p1::copy(const FFTmap_p1& other) {
  mode_ = other.mode_;
  type_ = other.type_;
  grid_sam_ = other.grid_sam_;
  grid_reci_ = other.grid_reci_;
  grid_real_ = other.grid_real_;
  data_ = other.data_;
  point_views();
}

void FFTmap_p1::point_views() {
  data_r_ = data_.data();
  data_c_ = reinterpret_cast<cplx*>(data_.data());
}

std::complex<float> FFTmap_p1::get_hkl(const HKL& hkl) const {
  const Coord_grid c = fft_detail::reduce(hkl, grid_sam_);
  if (c.w() < grid_reci_.nw()) return data_c_[cplx_index(c)];
  return std::conj(data_c_[cplx_index(fft_detail::friedel(c, grid_sam_))]);
}

void FFTmap_p1::set_hkl(const HKL& hkl, const std::complex<float>& f) {
  const Coord_grid c = fft_detail::reduce(hkl, grid_sam_);
  if (c.w() < grid_reci_.nw()) data_c_[cplx_index(c)] = f;
  const Coord_grid m = fft_detail::friedel(c, grid_sam_);
  if (m.w() < grid_reci_.nw()) data_c_[cplx_index(m)] = std::conj(f);
}

template <class F, class W> void FFTmap_p1::for_row_pairs(F f, W wanted) {
  // Each half row lies on the floats of its real row. Rows pair as in the
  // whole grid, (0, 1), (2, 3) ..., so that each row's result is the same
  // whichever rows are wanted.
  const int rows = grid_sam_.nu() * grid_sam_.nv();
  const std::size_t real_row = grid_real_.nw();
  for (int r = 0; r < rows; r += 2) {
    if (!wanted(r) && !(r + 1 < rows && wanted(r + 1))) continue;
    float* a = data_r_ + r * real_row;
    float* b = r + 1 < rows ? a + real_row : nullptr;
    f(a, reinterpret_cast<cplx*>(a), b, reinterpret_cast<cplx*>(b));
  }
}

void FFTmap_p1::fft_h_to_x(const double& scale) {
  fft_h_to_x(scale, Grid_range(Coord_grid(0, 0, 0), Coord_grid(grid_sam_) - Coord_grid(1, 1, 1)));
}

void FFTmap_p1::fft_h_to_x(const double& scale, const Grid_range& wanted) {
  if (mode_ == Real) return;
  mode_ = Real;
  if (grid_sam_.size() <= 0) return;
  const Half_grid half{data_c_, grid_sam_.nu(), grid_sam_.nv(), grid_reci_.nw()};
  const int u0 = std::max(wanted.min().u(), 0), u1 = std::min(wanted.max().u(), half.nu - 1);
  const int v0 = std::max(wanted.min().v(), 0), v1 = std::min(wanted.max().v(), half.nv - 1);
  if (u0 > u1 || v0 > v1) return;
  // Coefficients fill a resolution sphere: the lines and planes outside it
  // are all zero and need no transform.
  std::vector<char> used(half.nwc, 0);
  transform_along_u(
      half, 0, half.nwc, [](int) { return true; }, true, &used);
  transform_along_v(half, 0, half.nwc, &used, u0, u1);
  FFT_real_lines along_w(grid_sam_.nw());
  const float s = float(scale);
  for_row_pairs(
      [&](float* a, cplx* ha, float* b, cplx* hb) { along_w.half_to_real(ha, hb, s, a, b); },
      [&](int r) {
        const int u = r / half.nv, v = r % half.nv;
        return u0 <= u && u <= u1 && v0 <= v && v <= v1;
      });
}

void FFTmap_p1::fft_x_to_h(const double& scale) {
  fft_x_to_h(scale, HKL(grid_sam_.nu(), grid_sam_.nv(), grid_sam_.nw()));
}

void FFTmap_p1::fft_x_to_h(const double& scale, const HKL& limit) {
  if (mode_ == Reciprocal) return;
  mode_ = Reciprocal;
  if (grid_sam_.size() <= 0) return;
  FFT_real_lines along_w(grid_sam_.nw());
  const float f = float(scale) / float(grid_sam_.nu() * grid_sam_.nv() * grid_sam_.nw());
  for_row_pairs(
      [&](float* a, cplx* ha, float* b, cplx* hb) { along_w.real_to_half(a, b, f, ha, hb); },
      [](int) { return true; });
  const Half_grid half{data_c_, grid_sam_.nu(), grid_sam_.nv(), grid_reci_.nw()};
  // Only the planes l <= limit.l and, of those, the rows |k| <= limit.k
  // are wanted; a limit reaching half the grid takes everything.
  const int planes = std::min(half.nwc, std::abs(limit.l()) + 1);
  const int kmax = std::abs(limit.k());
  const auto row_wanted = [&](int v) {
    return 2 * kmax + 1 >= half.nv || v <= kmax || v >= half.nv - kmax;
  };
  transform_along_v(half, 1, planes, nullptr, 0, half.nu - 1);
  transform_along_u(half, 1, planes, row_wanted, false, nullptr);
}

void FFTmap_p1::debug() const {
  // Counts of the points of the half-space test and of those whose Friedel
  // mates pass it too.
  const int hu = grid_sam_.nu() / 2, hv = grid_sam_.nv() / 2, hw = grid_sam_.nw() / 2;
  auto in_half = [&](const Coord_grid& c) {
    if (0 < c.w() && c.w() < hw) return true;
    return c.w() <= hw && ((0 < c.v() && c.v() < hv) || (c.v() <= hv && c.u() <= hu));
  };
  int both = 0, half = 0;
  for (Coord_grid c(0, 0, 0); c.u() < grid_sam_.nu(); c.next(grid_sam_)) {
    if (!in_half(c)) continue;
    ++half;
    if (in_half(Coord_grid(-c.u(), -c.v(), -c.w()).unit(grid_sam_))) ++both;
  }
  std::cout << "FFTmap_p1 debug: " << both << "\t" << half << "\t" << grid_sam_.size() << "\n";
  grid_sam_.debug();
  for (std::size_t i = 0; i < data_.size(); ++i) std::cout << i << " " << data_[i] << "\n";
}

// ------------------------------------------------------------------- FFTmap

FFTmap::FFTmap() { Message::message(message_ctor_fftmap); }

FFTmap::FFTmap(const Spacegroup& spgr, const Cell& cell, Grid_sampling grid_sam,
               FFTmap_p1::FFTtype type) {
  Message::message(message_ctor_fftmap);
  init(spgr, cell, grid_sam, type);
}

void FFTmap::init(const Spacegroup& spgr, const Cell& cell, Grid_sampling grid_sam,
                  FFTmap_p1::FFTtype type) {
  FFTmap_p1::init(grid_sam, type);
  if (!spgr.is_null()) grid_sam.check_suits(spgr, "FFTmap");
  spacegroup_ = spgr;
  cell_ = cell;
  isymop_.resize(spgr.op_count());
  for (int k = 0; k < spgr.op_count(); ++k) isymop_[k] = Isymop(spgr.symop(k), grid_sam);
}

template <class T> void FFTmap::set_real_data(const Coord_grid& c, const T& value) {
  if (mode_ == Reciprocal) fatal(message_fftmap_set_real_space_error.text());
  mode_ = Real;
  const float x = float(value);
  real_data(c.unit(grid_sam_)) = x;
  for (std::size_t k = 1; k < isymop_.size(); ++k)
    real_data(c.transform(isymop_[k]).unit(grid_sam_)) = x;
}

template <class T> void FFTmap::get_real_data(const Coord_grid& c, T& value) const {
  if (mode_ != Real) fatal(message_fftmap_get_real_space_error.text());
  value = T(real_data(c.unit(grid_sam_)));
}

template <class T> void FFTmap::set_recip_data(const HKL& hkl, const datatypes::F_phi<T>& fphi) {
  if (mode_ == Real) fatal(message_fftmap_set_reci_space_error.text());
  mode_ = Reciprocal;
  set_hkl_images<T>(*this, spacegroup_, isymop_.data(), hkl, fphi.f(), fphi.phi());
}

template <class T> void FFTmap::get_recip_data(const HKL& hkl, datatypes::F_phi<T>& fphi) const {
  if (mode_ != Reciprocal) fatal(message_fftmap_get_reci_space_error.text());
  const std::complex<T> c(get_hkl(hkl));
  fphi = datatypes::F_phi<T>(std::abs(c), std::arg(c));
}

datatypes::F_phi<float> FFTmap::get_recip_data(const HKL& hkl) const {
  const cplx c = get_hkl(hkl);
  return datatypes::F_phi<float>(std::abs(c), std::arg(c));
}

void FFTmap::fft_h_to_x() {
  if (mode_ == Reciprocal) FFTmap_p1::fft_h_to_x(1.0 / cell_.volume());
}

void FFTmap::fft_x_to_h() {
  if (mode_ == Real) FFTmap_p1::fft_x_to_h(cell_.volume());
}

template void FFTmap::set_real_data<float>(const Coord_grid&, const float&);
template void FFTmap::set_real_data<double>(const Coord_grid&, const double&);
template void FFTmap::get_real_data<float>(const Coord_grid&, float&) const;
template void FFTmap::get_real_data<double>(const Coord_grid&, double&) const;
template void FFTmap::set_recip_data<float>(const HKL&, const datatypes::F_phi<float>&);
template void FFTmap::set_recip_data<double>(const HKL&, const datatypes::F_phi<double>&);
template void FFTmap::get_recip_data<float>(const HKL&, datatypes::F_phi<float>&) const;
template void FFTmap::get_recip_data<double>(const HKL&, datatypes::F_phi<double>&) const;

}  // namespace vantrel
