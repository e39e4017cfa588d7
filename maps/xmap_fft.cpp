// FFTs of the crystallographic map: reflection data are expanded over the
// space group into a P1 grid (full or sparse) and transformed; map values
// are expanded over all operators and transformed back.
#include <algorithm>
#include <complex>
#include <cstdlib>
#include <vector>

#include "maps/fftmap.h"
#include "maps/fftmap_sparse.h"
#include "maps/xmap.h"
#include "reflections/datatypes.h"
#include "reflections/hkl_data.h"

namespace vantrel {

namespace {

bool use_sparse(const Xmap_base::FFTtype type) {
  return type == 2 || (type == 0 && Xmap_base::default_type_ == 2);
}

// Visits every ASU point of the map as visit(index, row, w), run by run
// along w in storage order, where row = row_of(u, v) is the real row (u, v)
// of a P1 grid, fetched once for each run. The ASU box lies inside the
// cell, so (u, v, w) is also the point's position on the P1 grid.
template <class Row, class F> void for_each_asu_point(const Xmap_base& map, Row row_of, F visit) {
  for (const Asu_run& run : map.asu_runs(2)) {
    float* row = row_of(run.start.u(), run.start.v());
    for (int i = 0; i < run.length; i++) visit(run.index + i, row, run.start.w() + i);
  }
}

// Puts every present, non-zero coefficient and its images under the
// primitive operators (with their phase shifts, rounded to float) on a P1
// grid.
template <class P1, class H>
void put_coefficients(const Xmap_base& map, const H& fphidata, P1& p1) {
  for (HKL_info::HKL_reference_index ih = fphidata.first_data(); !ih.last();
       fphidata.next_data(ih)) {
    const double f = fphidata[ih].f();
    if (f != 0.0)
      set_hkl_images<float>(p1, map.spacegroup(), &map.isymop(0), ih.hkl(), f, fphidata[ih].phi());
  }
}

// Amplitude and phase of every reflection of the list from a transformed
// P1 grid, in single precision.
template <class P1, class H> void get_coefficients(const P1& p1, H& fphidata) {
  for (HKL_info::HKL_reference_index ih = fphidata.first(); !ih.last(); ih.next()) {
    const std::complex<float> c = p1.get_hkl(ih.hkl());
    fphidata[ih].f() = std::abs(c);
    fphidata[ih].phi() = std::arg(c);
  }
}

// The largest |h|, |k| and |l| of a list.
template <class H> HKL index_limit(const H& fphidata) {
  HKL limit(0, 0, 0);
  for (HKL_info::HKL_reference_index ih = fphidata.first(); !ih.last(); ih.next()) {
    const HKL& h = ih.hkl();
    limit = HKL(std::max(limit.h(), std::abs(h.h())), std::max(limit.k(), std::abs(h.k())),
                std::max(limit.l(), std::abs(h.l())));
  }
  return limit;
}

// A component moved by at most one grid step, back into 0..n-1.
inline int step_into(const int& x, const int& n) { return x < 0 ? x + n : (x >= n ? x - n : x); }

// True when one of the n values src[i * stride] is not zero.
template <class T> bool any_nonzero(const T* src, const int& stride, const int& n) {
  for (int i = 0; i < n; i++)
    if (float(src[i * stride]) != 0.0f) return true;
  return false;
}

// out[i * dw] = src[i * stride] as float for i < n, where that is not zero
// (a zero, of either sign, leaves the zero already there). Written without
// a branch so that it vectorises.
template <class T>
void store_nonzero(const T* src, const int& stride, const int& n, float* out, const int& dw) {
  for (int i = 0; i < n; i++) {
    const float value = float(src[i * stride]);
    out[i * dw] = value != 0.0f ? value : out[i * dw];
  }
}

// Stores every non-zero ASU value at all its images (the identity
// included) on a P1 grid whose real row (u, v) row(u, v) gives. Operator by
// operator, runs of ASU points are walked together with their images, which
// move by one rotated unit step; the runs are taken along an axis whose
// image runs along a P1 row where there is one, so the stores stay in cache
// order and the row is looked up once per run.
template <class Row, class T>
void expand_values(const Xmap_base& map, const std::vector<T>& values, Row row) {
  const Grid_sampling& g = map.grid_sampling();
  const Grid_range& box = map.grid_storage();
  const int box_stride[3] = {box.nv() * box.nw(), box.nw(), 1};
  for (int k = 0; k < map.num_sym(); k++) {
    const Isymop& op = map.isymop(k);
    const int a = map.run_axis(k);
    const Coord_grid step(op.rot()(0, a), op.rot()(1, a), op.rot()(2, a));
    const int stride = box_stride[a];
    for (const Asu_run& run : map.asu_runs(a)) {
      Coord_grid c = (op * run.start).unit(g);
      int index = run.index;
      if (step.u() == 0 && step.v() == 0) {
        // The image runs along w, one step (+1 or -1: the rotation's
        // determinant is +-1) a point. The run in pieces that do not wrap
        // around the row.
        float* r = nullptr;
        const int dw = step.w();
        for (int left = run.length, w = c.w(); left > 0;) {
          const int n = std::min(left, dw > 0 ? g.nw() - w : w + 1);
          if (r == nullptr && any_nonzero(&values[index], stride, n)) r = row(c.u(), c.v());
          if (r != nullptr) store_nonzero(&values[index], stride, n, r + w, dw);
          left -= n;
          index += n * stride;
          w = step_into(w + n * dw, g.nw());
        }
      } else {
        for (int i = 0; i < run.length; i++, index += stride) {
          const float value = float(values[index]);
          if (value != 0.0f) row(c.u(), c.v())[c.w()] = value;
          c = Coord_grid(step_into(c.u() + step.u(), g.nu()), step_into(c.v() + step.v(), g.nv()),
                         step_into(c.w() + step.w(), g.nw()));
        }
      }
    }
  }
}

}  // namespace

template <class T>
template <class H>
void Xmap<T>::fft_from(const H& fphidata, const FFTtype type) {
  const double scale = 1.0 / cell_.volume();
  const auto read_values = [&](auto row_of) {
    for_each_asu_point(*this, row_of,
                       [&](int index, const float* row, int w) { list_[index] = T(row[w]); });
  };
  if (use_sparse(type)) {
    FFTmap_sparse_p1_hx p1(grid_sam_, 2);
    put_coefficients(*this, fphidata, p1);
    const auto row_of = [&](int u, int v) { return p1.map_uv(u, v); };
    for_each_asu_point(*this, row_of, [](int, const float*, int) {});  // the rows wanted
    p1.fft_h_to_x(scale);
    read_values(row_of);
  } else {
    FFTmap_p1 p1(grid_sam_, 0);
    put_coefficients(*this, fphidata, p1);
    p1.fft_h_to_x(scale, asu_grid_);  // the rows read
    read_values([&](int u, int v) { return &p1.real_data(Coord_grid(u, v, 0)); });
  }
}

template <class T> template <class H> void Xmap<T>::fft_to(H& fphidata, const FFTtype type) const {
  const double scale = cell_.volume();
  if (use_sparse(type)) {
    FFTmap_sparse_p1_xh p1(grid_sam_, 2);
    expand_values(*this, list_, [&](int u, int v) { return p1.map_uv(u, v); });
    for (HKL_info::HKL_reference_index ih = fphidata.first(); !ih.last(); ih.next())
      p1.require_hkl(ih.hkl());
    p1.fft_x_to_h(scale);
    get_coefficients(p1, fphidata);
  } else {
    FFTmap_p1 p1(grid_sam_, 0);
    expand_values(*this, list_, [&](int u, int v) { return &p1.real_data(Coord_grid(u, v, 0)); });
    p1.fft_x_to_h(scale, index_limit(fphidata));
    get_coefficients(p1, fphidata);
  }
}

template void Xmap<float>::fft_from(const HKL_data<datatypes::F_phi<float>>&, const FFTtype);
template void Xmap<float>::fft_to(HKL_data<datatypes::F_phi<float>>&, const FFTtype) const;
template void Xmap<float>::fft_to(HKL_data<datatypes::F_phi<double>>&, const FFTtype) const;

}  // namespace vantrel
