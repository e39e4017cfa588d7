// Fast fragment search: the weighted squared difference between a density
// fragment and a crystallographic map at every grid translation, computed at
// once by FFT or point by point in real space.
//
// A fragment is a target box map t and a weight box map w. The score of the
// grid translation s of the searched map rho is
//   result(s) = sum over the crystal grid points x of the fragment's box of
//               w(x) (rho(x + s) - t(x))^2,
// lower being better. The template forms place the fragment with an
// NX_operator and interpolate t and w at the crystal grid points; the basic
// forms take a fragment already on the searched map's grid, centred on the
// grid origin.
#ifndef VANTREL_CALCULATIONS_FFTS_H
#define VANTREL_CALCULATIONS_FFTS_H

#include "maps/fftmap.h"
#include "maps/nxmap.h"
#include "maps/xmap.h"

namespace vantrel {

//! A translation search of a crystallographic map for a placed fragment.
/*! The result map must have the searched map's grid sampling (a P1 map on
  the searched map's cell and grid covers every translation); its cell and
  space group are not read. Every asymmetric-unit point of the result is
  written and no other. The fragment's box is the set of crystal grid points
  around the positive weights, widened by one grid point; of these, the
  points where both target and weight can be interpolated linearly and are
  not missing enter the sum, with their interpolated weight whatever its
  sign. A weight map without positive values gives a result of 0. Target
  and weight may lie on different grids: each is sampled at its own grid
  position of the same point in space. Every search returns true; a result
  map on another grid or a null operator is fatal. */
template <class T> class FFFear_base {
 public:
  //! Writes the score of every translation into result; nx_op is made
  //! from the searched (or result) map, the target map and the operator
  //! taking the target's orthogonal frame into the crystal's.
  virtual bool operator()(Xmap<T>& result, const NXmap<T>& target, const NXmap<T>& weight,
                          const NX_operator& nx_op) const = 0;
  virtual ~FFFear_base() {}

  //! The same with the target's orthogonal frame being the crystal's.
  bool operator()(Xmap<T>& result, const NXmap<T>& target, const NXmap<T>& weight) const {
    return (*this)(result, target, weight, NX_operator(result, target, RTop_orth::identity()));
  }
};

//! The search by FFT: the searched map and its square are transformed once,
//! then each search costs three transforms on the full P1 grid.
/*! All transforms hold single-precision values whatever T is; the constant
  term sum w t^2 is summed in double. */
template <class T> class FFFear_fft : public FFFear_base<T> {
 public:
  //! Prepared on the map to search.
  explicit FFFear_fft(const Xmap<T>& map) { init(map); }
  //! Prepares on map and searches it at once; the flag is dropped.
  FFFear_fft(Xmap<T>& result, const NXmap<T>& target, const NXmap<T>& weight, const Xmap<T>& map,
             const NX_operator& nx_op) {
    init(map);
    (*this)(result, target, weight, nx_op);
  }

  //! Transforms the map and its square over the whole cell; a null map is
  //! fatal. The map itself is not kept.
  void init(const Xmap<T>& map);

  using FFFear_base<T>::operator();
  bool operator()(Xmap<T>& result, const NXmap<T>& target, const NXmap<T>& weight,
                  const NX_operator& nx_op) const override;

 private:
  double cell_volume_;
  FFTmap_p1 map_ft_;     // the searched map, reciprocal space
  FFTmap_p1 map_sq_ft_;  // its square, reciprocal space
};

//! The same search summed directly in real space, one box per translation.
/*! The searched map is referred to, not copied: it must outlive the object
  and is read afresh by every search. The float form sums in single
  precision, the double form in double. */
template <class T> class FFFear_slow : public FFFear_base<T> {
 public:
  explicit FFFear_slow(const Xmap<T>& map) { init(map); }
  //! Searches map at once; the flag is dropped.
  FFFear_slow(Xmap<T>& result, const NXmap<T>& target, const NXmap<T>& weight, const Xmap<T>& map,
              const NX_operator& nx_op) {
    init(map);
    (*this)(result, target, weight, nx_op);
  }

  void init(const Xmap<T>& map) { search_map_ = &map; }

  using FFFear_base<T>::operator();
  bool operator()(Xmap<T>& result, const NXmap<T>& target, const NXmap<T>& weight,
                  const NX_operator& nx_op) const override;

 private:
  const Xmap<T>* search_map_;
};

//! The FFT search for a fragment given on the searched map's grid.
/*! Target and weight share one box grid of nu x nv x nw points, spaced and
  oriented as the searched map's grid, with box point (nu/2, nv/2, nw/2)
  (divisions truncated) at the crystal grid origin:
    result(s) = sum over box points g of w(g) (rho(g - half + s) - t(g))^2.
  Every box point counts, also where the box is wider than the cell. Points
  where target or weight is missing are passed over. */
class FFFear_fft_basic {
 public:
  explicit FFFear_fft_basic(const Xmap<float>& map) { init(map); }
  //! As FFFear_fft<float>::init.
  void init(const Xmap<float>& map);
  //! Target and weight on different grids, or a result map on another grid
  //! than the searched map's, are fatal. Returns true.
  bool operator()(Xmap<float>& result, const NXmap<float>& target,
                  const NXmap<float>& weight) const;

 private:
  double cell_volume_;
  FFTmap_p1 map_ft_;
  FFTmap_p1 map_sq_ft_;
};

//! The same search as FFFear_fft_basic, summed directly in single precision.
/*! Refers to the searched map, which must outlive the object. */
class FFFear_slow_basic {
 public:
  explicit FFFear_slow_basic(const Xmap<float>& map) { init(map); }
  void init(const Xmap<float>& map) { search_map_ = &map; }
  bool operator()(Xmap<float>& result, const NXmap<float>& target,
                  const NXmap<float>& weight) const;

 private:
  const Xmap<float>* search_map_;
};

}  // namespace vantrel

#endif
