// Sparse P1 FFT grids: three-dimensional transforms that compute only part
// of their output (the real rows holding asymmetric-unit points, or the
// reciprocal rows holding a list's reflections). Rows are allocated on first
// request and the passes skip the rows, lines and planes that hold no data
// or that no output needs. Scaling and signs are those of FFTmap_p1.
#ifndef VANTREL_MAPS_FFTMAP_SPARSE_H
#define VANTREL_MAPS_FFTMAP_SPARSE_H

#include <algorithm>
#include <complex>
#include <memory>
#include <vector>

#include "foundation/matrix.h"
#include "symmetry/coords.h"
#include "symmetry/sampling.h"

namespace vantrel {

//! The rows of a sparse grid: reciprocal rows (k, l) of nu coefficients
//! (u = 0..nu-1) on the half grid l <= nw/2, and real rows (u, v) of nw
//! values (w = 0..nw-1). Both are owned and start as zeros.
/*! During a transform a real row holds the half-complex form of its partial
  transform: real parts of terms 0..nw/2 at positions 0..nw/2 and negated
  imaginary parts of terms 1..(nw-1)/2 at positions nw-1 down to nw/2+1. */
class FFTmap_sparse_p1_base {
 public:
  typedef int FFTtype;
  static FFTtype default_type_;

  FFTmap_sparse_p1_base();
  FFTmap_sparse_p1_base(const FFTmap_sparse_p1_base&) = delete;
  FFTmap_sparse_p1_base& operator=(const FFTmap_sparse_p1_base&) = delete;

  //! Sizes the row tables for the sampling, releasing any earlier rows; the
  //! type is stored unchanged. Fatal for a null grid or one too large.
  void init(const Grid_sampling& grid_sam, const FFTtype type = 0);

  //! Reciprocal row (k, l), allocated as zeros on first request.
  std::complex<float>* map_kl(const int& k, const int& l);
  //! Real row (u, v), allocated as zeros on first request.
  float* map_uv(const int& u, const int& v);

  const Grid_sampling& grid_sampling() const { return grid_sam_; }
  //! nu, nv, nw/2+1.
  const Grid& grid_reci() const { return grid_reci_; }
  FFTtype type() const { return type_; }

 protected:
  //! The planes l (ascending) that hold some reciprocal row.
  std::vector<int> planes_in_use() const;
  //! The sections u (ascending) that hold some real row.
  std::vector<int> sections_in_use() const;
  //! The real rows that exist, in (u, v) order.
  std::vector<float*> real_rows() const;
  //! The u pass: every existing reciprocal row transformed in place.
  void transform_reciprocal_rows(const int& direction);
  //! True when term l of a real line of length nw is its own Friedel mate.
  bool self_mirror(const int& l) const { return l == 0 || 2 * l == grid_sam_.nw(); }

  //! Zeroed rows of one length handed out from large blocks and released
  //! together, so that thousands of rows cost a few allocations.
  template <class T> class Row_pool {
   public:
    //! Releases every row; later rows have the given length.
    void reset(const int& length) {
      blocks_.clear();
      length_ = length;
      left_ = 0;
    }
    T* take() {
      if (left_ == 0) {
        // Blocks of about 64 KiB: below the size at which the C library
        // maps fresh pages for each block, so that freed blocks are reused.
        left_ = std::max(1, int(65536 / (sizeof(T) * std::max(1, length_))));
        blocks_.push_back(std::make_unique<T[]>(std::size_t(left_) * length_));  // zeros
        next_ = blocks_.back().get();
      }
      T* row = next_;
      next_ += length_;
      --left_;
      return row;
    }

   private:
    std::vector<std::unique_ptr<T[]>> blocks_;
    T* next_ = nullptr;
    int length_ = 0, left_ = 0;
  };

  Grid_sampling grid_sam_;
  Grid grid_reci_;
  FFTtype type_;
  Array2d<std::complex<float>*> rows_kl_;  //!< null where not requested
  Array2d<float*> rows_uv_;                //!< null where not requested
  Row_pool<std::complex<float>> pool_kl_;
  Row_pool<float> pool_uv_;
};

//! Sparse transform from reciprocal to real space.
class FFTmap_sparse_p1_hx : public FFTmap_sparse_p1_base {
 public:
  FFTmap_sparse_p1_hx() {}
  FFTmap_sparse_p1_hx(const Grid_sampling& grid_sam, const FFTtype type = 0) {
    init(grid_sam, type);
  }
  //! Stores f at h and its conjugate at -h, where they lie on the half grid.
  void set_hkl(const HKL& hkl, const std::complex<float>& f);
  //! Computes every real row requested through map_uv, values times scale.
  void fft_h_to_x(const double& scale);

 private:
  void pass_v(const float& scale);
  void pass_w();
};

//! Sparse transform from real to reciprocal space.
class FFTmap_sparse_p1_xh : public FFTmap_sparse_p1_base {
 public:
  FFTmap_sparse_p1_xh() {}
  FFTmap_sparse_p1_xh(const Grid_sampling& grid_sam, const FFTtype type = 0) {
    init(grid_sam, type);
  }
  //! Requests the reciprocal row that holds h (or its Friedel mate).
  void require_hkl(const HKL& hkl);
  //! Computes every required reciprocal row from the real rows (rows never
  //! requested count as zero), values times scale/N.
  void fft_x_to_h(const double& scale);
  //! The coefficient of h after the transform; its row must be required.
  std::complex<float> get_hkl(const HKL& hkl) const;

 private:
  void pass_w();
  void pass_v(const float& factor);
};

}  // namespace vantrel

#endif
