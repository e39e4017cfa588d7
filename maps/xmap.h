// The crystallographic map: one value per grid point of the real-space
// asymmetric unit, every other point of the crystal reached through
// symmetry, with FFTs to and from reflection data.
#ifndef VANTREL_MAPS_XMAP_H
#define VANTREL_MAPS_XMAP_H

#include <vector>

#include "foundation/message.h"
#include "maps/xmap_base.h"

namespace vantrel {

//! A crystallographic map of values of type T.
/*! Values are stored for the storage box of the shared tables (the ASU box
  with a border of one point); only the ASU points (symmetry mark 0) hold
  map values, and the map's operations touch only those. */
template <class T> class Xmap : public Xmap_base {
 public:
  Xmap() {}
  Xmap(const Spacegroup& spacegroup, const Cell& cell, const Grid_sampling& grid_sam) {
    init(spacegroup, cell, grid_sam);
  }
  //! Attach to the tables and size the values; values already present
  //! stay, new ones are 0. With a null space group or cell the values stay
  //! as they were; a grid that cannot hold the map is fatal (see
  //! Xmap_base::init).
  void init(const Spacegroup& spacegroup, const Cell& cell, const Grid_sampling& grid_sam) {
    Xmap_base::init(spacegroup, cell, grid_sam);
    list_.resize(storage_size_, T(0));
  }

  const T& operator[](const Map_reference_index& ix) const { return list_[ix.index()]; }
  T& operator[](const Map_reference_index& ix) { return list_[ix.index()]; }
  const T& operator[](const Map_reference_coord& ix) const { return list_[ix.index()]; }
  T& operator[](const Map_reference_coord& ix) { return list_[ix.index()]; }

  //! The value at any grid coordinate, through symmetry.
  const T& get_data(const Coord_grid& pos) const {
    int index, sym;
    find_sym(pos, index, sym);
    return list_[index];
  }
  //! Store the value at the ASU point equivalent to any grid coordinate.
  void set_data(const Coord_grid& pos, const T& value) {
    int index, sym;
    find_sym(pos, index, sym);
    list_[index] = value;
  }
  //! The element at a storage index, unchecked.
  const T& get_data(const int& index) const { return list_[index]; }
  //! Store at a storage index; false, storing nothing, unless the index is
  //! an ASU point.
  bool set_data(const int& index, const T& value) {
    if (!is_asu_index(index)) return false;
    list_[index] = value;
    return true;
  }

  //! The interpolator I's value at a fractional position.
  template <class I> T interp(const Coord_frac& pos) const {
    T value;
    I::interp(*this, pos.coord_map(grid_sam_), value);
    return value;
  }

  //! Fourier synthesis of F_phi<float> coefficients (their symmetry and
  //! Friedel mates included) into every ASU point. Type 0 takes
  //! default_type_, 1 the full P1 grid, 2 the sparse grids.
  template <class H> void fft_from(const H& fphidata, const FFTtype type = 0);
  //! Structure factors F(h) = (V/N) sum rho(x) exp(2 pi i h.x) of the map
  //! into every entry of an F_phi<float> or F_phi<double> list.
  template <class H> void fft_to(H& fphidata, const FFTtype type = 0) const;

  //! Every ASU point set to value.
  const T& operator=(const T& value) {
    for (Map_reference_index ix = first(); !ix.last(); ix.next()) list_[ix.index()] = value;
    return value;
  }
  //! Element-wise sum over the ASU; the maps must share space group and grid.
  const Xmap<T>& operator+=(const Xmap<T>& other) {
    if (!same_tables(other)) fatal("Xmap: map mismatch in +=");
    for (Map_reference_index ix = first(); !ix.last(); ix.next())
      list_[ix.index()] += other.list_[ix.index()];
    return *this;
  }
  //! Element-wise difference over the ASU.
  const Xmap<T>& operator-=(const Xmap<T>& other) {
    if (!same_tables(other)) fatal("Xmap: map mismatch in -=");
    for (Map_reference_index ix = first(); !ix.last(); ix.next())
      list_[ix.index()] -= other.list_[ix.index()];
    return *this;
  }

 private:
  std::vector<T> list_;
};

}  // namespace vantrel

#endif
