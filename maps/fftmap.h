// Three-dimensional FFTs over a P1 unit cell: the P1 grid that holds either
// reciprocal coefficients on the half grid or real values on the full grid
// in one buffer, and its space-group-aware form that expands unique data
// over the symmetry operators and scales by the cell volume.
//
// Convention: rho(x) = (1/V) sum_h F(h) exp(-2 pi i h.x) and
// F(h) = (V/N) sum_x rho(x) exp(+2 pi i h.x), N the number of grid points.
#ifndef VANTREL_MAPS_FFTMAP_H
#define VANTREL_MAPS_FFTMAP_H

#include <cmath>
#include <complex>
#include <cstddef>
#include <vector>

#include "foundation/message.h"
#include "foundation/util.h"
#include "reflections/datatypes.h"
#include "symmetry/cell.h"
#include "symmetry/coords.h"
#include "symmetry/sampling.h"
#include "symmetry/spacegroup.h"
#include "symmetry/symop.h"

namespace vantrel {

extern const Message_ctor message_ctor_fftmap;
extern const Message_fatal message_fftmap_get_real_space_error;
extern const Message_fatal message_fftmap_set_real_space_error;
extern const Message_fatal message_fftmap_get_reci_space_error;
extern const Message_fatal message_fftmap_set_reci_space_error;

namespace fft_detail {

//! x reduced into 0..n-1; indices within one cell of the grid (nearly
//! all) need no division.
inline int reduce(const int& x, const int& n) {
  if (x >= 0 && x < n) return x;
  if (x < 0 && x >= -n) return x + n;
  return Util::mod(x, n);
}

//! h reduced component-wise onto the grid: Coord_grid(h).unit(g).
inline Coord_grid reduce(const HKL& hkl, const Grid& g) {
  return Coord_grid(reduce(hkl.h(), g.nu()), reduce(hkl.k(), g.nv()), reduce(hkl.l(), g.nw()));
}

//! -h reduced, from h reduced: the mirror of each component.
inline Coord_grid friedel(const Coord_grid& c, const Grid& g) {
  return Coord_grid(Util::mirror(c.u(), g.nu()), Util::mirror(c.v(), g.nv()),
                    Util::mirror(c.w(), g.nw()));
}

}  // namespace fft_detail

// ---------------------------------------------------------------------------
// One-dimensional building blocks of the 3-D transforms

//! A one-dimensional complex transform of KISS FFT of one length and
//! direction, unnormalised. Direction 0 has exponent -2 pi i, direction 1
//! +2 pi i. Each length and direction is planned once for the whole process
//! and the plan is shared by every transform that needs it.
class FFT_line {
 public:
  FFT_line(const int& n, const int& direction);

  int size() const { return n_; }
  //! out = the transform of in, n values each; in and out must not overlap.
  void operator()(const std::complex<float>* in, std::complex<float>* out) const;
  //! The same for the line in[0], in[stride], ..., in[(n-1) stride].
  void operator()(const std::complex<float>* in, std::complex<float>* out,
                  const std::size_t& stride) const;

 private:
  void* plan_;  // the shared KISS configuration
  int n_;
};

//! Transforms of real lines of length n through their half spectra
//! (n/2+1 complex values, the rest implied by Friedel symmetry). Two real
//! lines share one complex transform, one as real and one as imaginary
//! part. The work vectors are allocated once per object.
class FFT_real_lines {
 public:
  explicit FFT_real_lines(const int& n);

  //! Real lines a = scale * sum_k A(k) exp(-2 pi i k j / n), and b from B
  //! the same, for j = 0..n-1. B and b may be null. The half spectra may
  //! share memory with the output lines: they are read in full first. The
  //! imaginary part of a self-mirror term (k = 0, and k = n/2 for even n)
  //! is ignored.
  void half_to_real(const std::complex<float>* ha, const std::complex<float>* hb,
                    const float& scale, float* a, float* b);
  //! Half spectra A(k) = sum_j (scale a(j)) exp(+2 pi i k j / n), and B from
  //! b the same, for k = 0..n/2. b and B may be null. The output may share
  //! memory with the input lines.
  void real_to_half(const float* a, const float* b, const float& scale, std::complex<float>* ha,
                    std::complex<float>* hb);

  // The same transforms, scale 1, in place on lines that hold a half
  // spectrum in half-complex form: real parts of terms 0..n/2 at positions
  // 0..n/2 and negated imaginary parts of terms 1..(n-1)/2 at positions n-1
  // down to n/2+1. b may be null.
  //! Half spectra in half-complex form to real lines.
  void packed_to_real(float* a, float* b);
  //! Real lines to their half spectra in half-complex form.
  void real_to_packed(float* a, float* b);

 private:
  int n_;
  FFT_line to_real_, to_half_;
  std::vector<std::complex<float>> in_, out_;
};

//! Transforms of interleaved lines: `count` lines whose element i lies at
//! data[j + i * stride], j = 0..count-1. Each line is read straight from
//! the grid; the results are collected in one block and written back row
//! by row, so that the writes walk memory in order.
class FFT_line_block {
 public:
  FFT_line_block(const int& n, const int& direction, const int& count);
  //! Transforms the first `count` lines (at most the constructor's count);
  //! with skip_zero, lines that are all zero are left as they are (their
  //! transform is zero) and the result is true when some line was not.
  bool transform(std::complex<float>* data, const std::size_t& stride, const int& count,
                 const bool& skip_zero = false);
  //! The lines the last call transformed, ascending.
  const std::vector<int>& lines() const { return lines_; }

 private:
  FFT_line fft_;
  int count_;
  std::vector<std::complex<float>> out_;
  std::vector<int> lines_;
  std::vector<char> keep_;
};

// ---------------------------------------------------------------------------
// P1 grid

//! One P1 unit cell as reciprocal coefficients on the half grid w <= nw/2 or
//! as real values on the full grid, in one buffer, transformed in place.
/*! Real element (u, v, w) is float (u nv + v) 2(nw/2+1) + w; complex element
  (u, v, w) is complex (u nv + v)(nw/2+1) + w, on the same floats, so each
  complex half row covers exactly its real row. */
class FFTmap_p1 {
 public:
  //! 0 default, 1 normal, 2 sparse.
  typedef int FFTtype;
  //! The type that init gives for FFTtype 0.
  static FFTtype default_type_;

  //! Empty grid; init must be called before any other operation.
  FFTmap_p1();
  FFTmap_p1(const Grid_sampling& grid_sam, const FFTtype type = 0);
  FFTmap_p1(const FFTmap_p1& other) { copy(other); }
  FFTmap_p1& operator=(const FFTmap_p1& other) {
    if (this != &other) copy(other);
    return *this;
  }
  // A moved vector keeps its storage, so the views stay valid.
  FFTmap_p1(FFTmap_p1&&) = default;
  FFTmap_p1& operator=(FFTmap_p1&&) = default;

  //! Sizes the grid for the sampling, every value 0, mode unset. Fatal for
  //! a null grid or one too large for int indices.
  void init(const Grid_sampling& grid_sam, const FFTtype type = 0);
  //! Mode unset and every value 0.
  void reset();
  //! Copies mode, type, grids and values.
  void copy(const FFTmap_p1& other);

  //! The coefficient of h, through its Friedel mate above w = nw/2.
  std::complex<float> get_hkl(const HKL& hkl) const;
  //! Stores f at h and its conjugate at -h, where they lie on the half grid.
  void set_hkl(const HKL& hkl, const std::complex<float>& f);

  //! Real element (c.u, c.v, c.w), 0 <= c.w < nw; no wrapping.
  float& real_data(const Coord_grid& c) { return data_r_[real_index(c)]; }
  const float& real_data(const Coord_grid& c) const { return data_r_[real_index(c)]; }
  //! Complex element (c.u, c.v, c.w), 0 <= c.w <= nw/2; no wrapping.
  std::complex<float>& cplx_data(const Coord_grid& c) { return data_c_[cplx_index(c)]; }
  const std::complex<float>& cplx_data(const Coord_grid& c) const { return data_c_[cplx_index(c)]; }

  const Grid_sampling& grid_sampling() const { return grid_sam_; }
  //! nu, nv, 2(nw/2+1): the padded real rows.
  const Grid& grid_real() const { return grid_real_; }
  //! nu, nv, nw/2+1: the reciprocal half grid.
  const Grid& grid_reci() const { return grid_reci_; }
  //! 0 unset, 1 reciprocal space, 2 real space.
  int mode() const { return mode_; }
  FFTtype type() const { return type_; }

  //! Reciprocal to real space, output values times scale; nothing in real
  //! space.
  void fft_h_to_x(const double& scale);
  //! The same where only the real values at (u, v, w) with (u, v) inside
  //! the box `wanted` will be read: the other rows are left partly
  //! transformed.
  void fft_h_to_x(const double& scale, const Grid_range& wanted);
  //! Real to reciprocal space, input values times scale/N; nothing in
  //! reciprocal space.
  void fft_x_to_h(const double& scale);
  //! The same where only the coefficients of indices with |h| <= limit.h,
  //! |k| <= limit.k and |l| <= limit.l (and their Friedel mates) will be
  //! read: the others are left partly transformed.
  void fft_x_to_h(const double& scale, const HKL& limit);

  //! Half-space counts, grid and every float of the buffer on stdout.
  void debug() const;

 protected:
  enum Mode { Unset = 0, Reciprocal = 1, Real = 2 };

  std::size_t real_index(const Coord_grid& c) const {
    return (std::size_t(c.u()) * grid_real_.nv() + c.v()) * grid_real_.nw() + c.w();
  }
  std::size_t cplx_index(const Coord_grid& c) const {
    return (std::size_t(c.u()) * grid_reci_.nv() + c.v()) * grid_reci_.nw() + c.w();
  }
  void point_views();
  //! Calls f(real row a, half row a, real row b, half row b) for the rows
  //! (u, v) two at a time, skipping pairs where neither row r = u nv + v is
  //! wanted(r); the last b is null when the count is odd.
  template <class F, class W> void for_row_pairs(F f, W wanted);

  int mode_;
  FFTtype type_;
  Grid_sampling grid_sam_;
  Grid grid_reci_;
  Grid grid_real_;
  std::vector<float> data_;
  float* data_r_;
  std::complex<float>* data_c_;
};

// ---------------------------------------------------------------------------
// Space-group-aware FFT grid

//! Stores the coefficient (f, phi) of h on a P1 grid (full or sparse) at h
//! and at its images h R_k under the primitive operators k of the group,
//! whose phases phi - 2 pi h.t_k are rounded to P; set_hkl adds the Friedel
//! mates. grid_ops holds the group's operators on the grid.
template <class P, class P1>
void set_hkl_images(P1& p1, const Spacegroup& spacegroup, const Isymop* grid_ops, const HKL& hkl,
                    const double& f, const double& phi) {
  p1.set_hkl(hkl, std::complex<float>(float(f * std::cos(phi)), float(f * std::sin(phi))));
  for (int k = 1; k < spacegroup.primitive_count(); ++k) {
    const P phik = P(phi + hkl.sym_phase_shift(spacegroup.symop(k)));
    p1.set_hkl(hkl.transform(grid_ops[k]),
               std::complex<float>(float(f * std::cos(phik)), float(f * std::sin(phik))));
  }
}

//! A P1 grid filled with unique data: every reflection or map value given
//! is expanded over the space group's operators, and the transforms scale
//! by the cell volume so that a transform there and back returns its input.
class FFTmap : public FFTmap_p1 {
 public:
  FFTmap();
  FFTmap(const Spacegroup& spgr, const Cell& cell, Grid_sampling grid_sam,
         FFTmap_p1::FFTtype type = 0);
  //! As FFTmap_p1::init; fatal too for a grid that does not suit the group
  //! (Grid_sampling::suits).
  void init(const Spacegroup& spgr, const Cell& cell, Grid_sampling grid_sam,
            FFTmap_p1::FFTtype type = 0);
  void reset() { FFTmap_p1::reset(); }

  //! Stores the value at c and at every symmetry image of c.
  template <class T> void set_real_data(const Coord_grid& c, const T& value);
  template <class T> void get_real_data(const Coord_grid& c, T& value) const;
  //! Stores the coefficient at h and at its images under the primitive
  //! operators, with their phase shifts and Friedel mates.
  template <class T> void set_recip_data(const HKL& hkl, const datatypes::F_phi<T>& fphi);
  template <class T> void get_recip_data(const HKL& hkl, datatypes::F_phi<T>& fphi) const;
  //! The coefficient of h, whatever the mode.
  datatypes::F_phi<float> get_recip_data(const HKL& hkl) const;

  //! rho = (1/V) sum F exp(-2 pi i h.x), from reciprocal space only.
  void fft_h_to_x();
  //! F = (V/N) sum rho exp(+2 pi i h.x), from real space only.
  void fft_x_to_h();

 private:
  Cell cell_;
  Spacegroup spacegroup_;
  std::vector<Isymop> isymop_;
};

}  // namespace vantrel

#endif
