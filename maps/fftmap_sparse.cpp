#include "maps/fftmap_sparse.h"

#include <algorithm>
#include <utility>

#include "maps/fftmap.h"

namespace vantrel {

FFTmap_sparse_p1_base::FFTtype FFTmap_sparse_p1_base::default_type_ = 1;

namespace {

typedef std::complex<float> cplx;

// The indices (ascending) of the rows of a row table, or with by_column of
// its columns, that hold some allocated row.
template <class Row>
std::vector<int> lines_in_use(const Array2d<Row>& table, const bool by_column) {
  const int n = by_column ? table.cols() : table.rows();
  const int m = by_column ? table.rows() : table.cols();
  std::vector<int> used;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < m; ++j)
      if (by_column ? table(j, i) : table(i, j)) {
        used.push_back(i);
        break;
      }
  return used;
}

}  // namespace

// ---------------------------------------------------------------- base

FFTmap_sparse_p1_base::FFTmap_sparse_p1_base() : grid_reci_(0, 0, 0), type_(0) {}

// Resetting the pools frees the rows of the previous sampling.
void FFTmap_sparse_p1_base::init(const Grid_sampling& grid_sam, const FFTtype type) {
  grid_sam.check_map_grid("FFTmap_sparse");
  grid_sam_ = grid_sam;
  type_ = type;
  grid_reci_ = Grid(grid_sam.nu(), grid_sam.nv(), grid_sam.nw() / 2 + 1);
  rows_kl_.resize(grid_reci_.nv(), grid_reci_.nw(), nullptr);
  rows_uv_.resize(grid_sam.nu(), grid_sam.nv(), nullptr);
  pool_kl_.reset(grid_sam.nu());
  pool_uv_.reset(grid_sam.nw());
}

std::complex<float>* FFTmap_sparse_p1_base::map_kl(const int& k, const int& l) {
  cplx*& row = rows_kl_(k, l);
  if (!row) row = pool_kl_.take();
  return row;
}

float* FFTmap_sparse_p1_base::map_uv(const int& u, const int& v) {
  float*& row = rows_uv_(u, v);
  if (!row) row = pool_uv_.take();
  return row;
}

std::vector<int> FFTmap_sparse_p1_base::planes_in_use() const {
  return lines_in_use(rows_kl_, true);
}

std::vector<int> FFTmap_sparse_p1_base::sections_in_use() const {
  return lines_in_use(rows_uv_, false);
}

std::vector<float*> FFTmap_sparse_p1_base::real_rows() const {
  std::vector<float*> rows;
  for (int u = 0; u < rows_uv_.rows(); ++u)
    for (int v = 0; v < rows_uv_.cols(); ++v)
      if (rows_uv_(u, v)) rows.push_back(rows_uv_(u, v));
  return rows;
}

void FFTmap_sparse_p1_base::transform_reciprocal_rows(const int& direction) {
  const int nu = grid_sam_.nu();
  FFT_line fft(nu, direction);
  std::vector<cplx> out(nu);
  for (int k = 0; k < rows_kl_.rows(); ++k)
    for (int l = 0; l < rows_kl_.cols(); ++l)
      if (cplx* row = rows_kl_(k, l)) {
        fft(row, out.data());
        std::copy(out.begin(), out.end(), row);
      }
}

// ---------------------------------------------------------------- hx

void FFTmap_sparse_p1_hx::set_hkl(const HKL& hkl, const std::complex<float>& f) {
  const int hw = grid_sam_.nw() / 2;
  const Coord_grid c = fft_detail::reduce(hkl, grid_sam_);
  if (c.w() <= hw) map_kl(c.v(), c.w())[c.u()] = f;
  const Coord_grid m = fft_detail::friedel(c, grid_sam_);
  if (m.w() <= hw) map_kl(m.v(), m.w())[m.u()] = std::conj(f);
}

void FFTmap_sparse_p1_hx::fft_h_to_x(const double& scale) {
  if (grid_sam_.size() <= 0) return;
  transform_reciprocal_rows(0);
  pass_v(float(scale));
  pass_w();
}

void FFTmap_sparse_p1_hx::pass_v(const float& scale) {
  const std::vector<int> planes = planes_in_use();
  const std::vector<int> sections = sections_in_use();
  if (planes.empty() || sections.empty()) return;
  const int nv = grid_sam_.nv(), nw = grid_sam_.nw();
  const std::size_t np = planes.size();
  // The reciprocal rows (k, l) that exist, plane by plane.
  std::vector<std::pair<std::size_t, const cplx*>> sources;
  for (std::size_t p = 0; p < np; ++p)
    for (int k = 0; k < nv; ++k)
      if (const cplx* row = rows_kl_(k, planes[p])) sources.emplace_back(p * nv + k, row);
  FFT_line fft(nv, 0);
  std::vector<cplx> lines(np * nv, cplx(0.0f, 0.0f)), out(np * nv);
  // Section by section, so that each real row is written in one go.
  for (const int u : sections) {
    // Gather the lines (u, 0..nv-1, l) of every wanted plane; missing rows
    // stay zeros.
    for (const auto& [i, row] : sources) lines[i] = scale * row[u];
    for (std::size_t p = 0; p < np; ++p) fft(&lines[p * nv], &out[p * nv]);
    for (int v = 0; v < nv; ++v)
      if (float* row = rows_uv_(u, v))
        for (std::size_t p = 0; p < np; ++p) {
          const int l = planes[p];
          row[l] = out[p * nv + v].real();
          if (!self_mirror(l)) row[nw - l] = -out[p * nv + v].imag();
        }
  }
}

void FFTmap_sparse_p1_hx::pass_w() {
  const std::vector<float*> rows = real_rows();
  FFT_real_lines fft(grid_sam_.nw());
  for (std::size_t i = 0; i < rows.size(); i += 2)
    fft.packed_to_real(rows[i], i + 1 < rows.size() ? rows[i + 1] : nullptr);
}

// ---------------------------------------------------------------- xh

void FFTmap_sparse_p1_xh::require_hkl(const HKL& hkl) {
  const int hw = grid_sam_.nw() / 2;
  const Coord_grid c = fft_detail::reduce(hkl, grid_sam_);
  if (c.w() <= hw)
    map_kl(c.v(), c.w());
  else
    map_kl(Util::mirror(c.v(), grid_sam_.nv()), grid_sam_.nw() - c.w());
}

std::complex<float> FFTmap_sparse_p1_xh::get_hkl(const HKL& hkl) const {
  const int hw = grid_sam_.nw() / 2;
  const Coord_grid c = fft_detail::reduce(hkl, grid_sam_);
  if (c.w() <= hw) return rows_kl_(c.v(), c.w())[c.u()];
  const Coord_grid m = fft_detail::friedel(c, grid_sam_);
  return std::conj(rows_kl_(m.v(), m.w())[m.u()]);
}

void FFTmap_sparse_p1_xh::fft_x_to_h(const double& scale) {
  if (grid_sam_.size() <= 0) return;
  pass_w();
  pass_v(float(scale) / float(grid_sam_.nu() * grid_sam_.nv() * grid_sam_.nw()));
  transform_reciprocal_rows(1);
}

void FFTmap_sparse_p1_xh::pass_w() {
  const std::vector<float*> rows = real_rows();
  FFT_real_lines fft(grid_sam_.nw());
  for (std::size_t i = 0; i < rows.size(); i += 2)
    fft.real_to_packed(rows[i], i + 1 < rows.size() ? rows[i + 1] : nullptr);
}

void FFTmap_sparse_p1_xh::pass_v(const float& factor) {
  const std::vector<int> planes = planes_in_use();
  const std::vector<int> sections = sections_in_use();
  if (planes.empty() || sections.empty()) return;
  const int nv = grid_sam_.nv(), nw = grid_sam_.nw();
  const std::size_t np = planes.size();
  // The reciprocal rows (k, l) that exist, plane by plane.
  std::vector<std::vector<std::pair<int, cplx*>>> targets(np);
  for (std::size_t p = 0; p < np; ++p)
    for (int k = 0; k < nv; ++k)
      if (cplx* row = rows_kl_(k, planes[p])) targets[p].emplace_back(k, row);
  FFT_line fft(nv, 1);
  std::vector<cplx> lines(np * nv), out(nv);
  for (const int u : sections) {
    // Gather the lines (u, 0..nv-1, l) of every wanted plane, interleaved
    // (element v of line p at v np + p) so that each real row is read in
    // order; missing real rows are zeros.
    for (int v = 0; v < nv; ++v) {
      cplx* x = &lines[v * np];
      if (const float* row = rows_uv_(u, v))
        for (std::size_t p = 0; p < np; ++p) {
          const int l = planes[p];
          x[p] = cplx(row[l], self_mirror(l) ? 0.0f : -row[nw - l]);
        }
      else
        std::fill(x, x + np, cplx(0.0f, 0.0f));
    }
    for (std::size_t p = 0; p < np; ++p) {
      fft(&lines[p], out.data(), np);
      for (const auto& [k, row] : targets[p]) row[u] = factor * out[k];
    }
  }
}

}  // namespace vantrel
