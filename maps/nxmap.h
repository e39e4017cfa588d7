// Box maps (a rectangular grid placed in orthogonal space by an operator,
// with no crystal symmetry) and the operator between a crystallographic map
// grid and a box map grid.
#ifndef VANTREL_MAPS_NXMAP_H
#define VANTREL_MAPS_NXMAP_H

#include <algorithm>
#include <vector>

#include "symmetry/cell.h"
#include "symmetry/coords.h"
#include "symmetry/rtop.h"
#include "symmetry/sampling.h"

namespace vantrel {

class Xmap_base;

//! The geometry of a box map: its grid and its placement in space.
/*! Grid points run from (0, 0, 0) to (nu-1, nv-1, nw-1), w fastest. The
  operator orth_to_grid takes an orthogonal position (A) to a real-valued
  box grid position; grid_to_orth is its inverse. A default box is null,
  with an empty grid. */
class NXmap_base {
 public:
  NXmap_base();

  //! Sets the grid and the placement; grid_to_orth becomes the inverse.
  //! Fatal for a negative size or more points than int indices reach.
  void init(const Grid& grid, const RTop<double>& orth_to_grid);
  //! A box cut out of a crystal grid: the points of range, with the lower
  //! corner of the range at box point (0, 0, 0).
  void init(const Cell& cell, const Grid_sampling& sampling, const Grid_range& range);

  //! True until init: the placement operator is missing.
  bool is_null() const;

  const Grid& grid() const { return grid_; }
  const RTop<double>& orth_to_grid() const { return orth_to_grid_; }
  const RTop<double>& grid_to_orth() const { return grid_to_orth_; }
  int stride_u() const { return stride_u_; }
  int stride_v() const { return stride_v_; }
  int stride_w() const { return stride_w_; }

  //! Linear index of a box grid point; no range check.
  int index(const Coord_grid& c) const {
    return c.u() * stride_u_ + c.v() * stride_v_ + c.w() * stride_w_;
  }
  //! True when the point lies inside the box.
  bool in_map(const Coord_grid& c) const { return grid_.in_grid(c); }
  //! The box grid position of an orthogonal position.
  Coord_map coord_map(const Coord_orth& x) const { return Coord_map(orth_to_grid_ * x); }
  //! The orthogonal position of a box grid position.
  Coord_orth coord_orth(const Coord_map& m) const { return Coord_orth(grid_to_orth_ * m); }

 private:
  Grid grid_;
  RTop<double> orth_to_grid_;
  RTop<double> grid_to_orth_;
  int stride_u_, stride_v_, stride_w_;
};

//! A box map holding one value of type T per grid point.
template <class T> class NXmap : public NXmap_base {
 public:
  //! A null map with an empty grid and no values.
  NXmap() {}
  NXmap(const Grid& grid, const RTop<double>& orth_to_grid) { init(grid, orth_to_grid); }
  NXmap(const Cell& cell, const Grid_sampling& sampling, const Grid_range& range) {
    init(cell, sampling, range);
  }

  //! The base init; values already present stay where the new size allows,
  //! new values are 0.
  void init(const Grid& grid, const RTop<double>& orth_to_grid) {
    NXmap_base::init(grid, orth_to_grid);
    resize();
  }
  void init(const Cell& cell, const Grid_sampling& sampling, const Grid_range& range) {
    NXmap_base::init(cell, sampling, range);
    resize();
  }

  //! Value by linear index; no range check.
  const T& operator[](const int& index) const { return values_[index]; }
  T& operator[](const int& index) { return values_[index]; }
  //! Value at a box grid point; no range check.
  const T& get_data(const Coord_grid& c) const { return values_[index(c)]; }
  void set_data(const Coord_grid& c, const T& value) { values_[index(c)] = value; }

  //! Sets every value.
  const T& operator=(const T& value) {
    std::fill(values_.begin(), values_.end(), value);
    return value;
  }

  //! The value at a box grid position by interpolator I (Interp_linear or
  //! Interp_cubic of maps/interp.h); the caller keeps the position inside.
  template <class I> T interp(const Coord_map& pos) const {
    T result;
    I::interp(*this, pos, result);
    return result;
  }

 private:
  void resize() { values_.resize(std::size_t(grid().size()), T(0)); }

  std::vector<T> values_;
};

//! The operator between a crystallographic map grid (X) and a box map grid
//! (NX) placed relative to each other by an orthogonal operator.
/*! Holds, in both directions, the compositions of cell, grid sampling,
  box placement and the orthogonal operator, and their integer forms for
  grids that line up. It keeps no reference to the maps it was made from. */
class NX_operator {
 public:
  //! A null operator.
  NX_operator();
  //! rtop takes the box map's orthogonal frame into the crystal's.
  NX_operator(const Xmap_base& xmap, const NXmap_base& nxmap, const RTop_orth& rtop);
  NX_operator(const Cell& cell, const Grid_sampling& sampling, const NXmap_base& nxmap,
              const RTop_orth& rtop);
  void init(const Xmap_base& xmap, const NXmap_base& nxmap, const RTop_orth& rtop);
  void init(const Cell& cell, const Grid_sampling& sampling, const NXmap_base& nxmap,
            const RTop_orth& rtop);

  //! True until init.
  bool is_null() const;

  const RTop<double>& xfrac_to_nxgrid() const { return xfrac_to_nxgrid_; }
  const RTop<double>& nxgrid_to_xfrac() const { return nxgrid_to_xfrac_; }
  const RTop<double>& xgrid_to_nxgrid() const { return xgrid_to_nxgrid_; }
  const RTop<double>& nxgrid_to_xgrid() const { return nxgrid_to_xgrid_; }
  const RTop<int>& xgrid_to_nxgrid_int() const { return xgrid_to_nxgrid_int_; }
  const RTop<int>& nxgrid_to_xgrid_int() const { return nxgrid_to_xgrid_int_; }
  //! The crystal-to-box grid operator is integral (within 0.01).
  bool x_to_nx_is_int() const { return x_to_nx_is_int_; }
  //! ... and is a pure shift.
  bool x_to_nx_is_trn() const { return x_to_nx_is_trn_; }
  bool nx_to_x_is_int() const { return nx_to_x_is_int_; }
  bool nx_to_x_is_trn() const { return nx_to_x_is_trn_; }

  //! Box grid position of a crystal fractional position.
  Coord_map nxmap_coord_map(const Coord_frac& f) const { return Coord_map(xfrac_to_nxgrid_ * f); }
  //! Crystal fractional position of a box grid position.
  Coord_frac xmap_coord_frac(const Coord_map& nx) const {
    return Coord_frac(nxgrid_to_xfrac_ * nx);
  }
  //! Box grid position of a crystal grid point.
  Coord_map nxmap_coord_map(const Coord_grid& x) const {
    return Coord_map(xgrid_to_nxgrid_ * Vec3<double>(x));
  }
  //! Crystal grid position of a box grid point.
  Coord_map xmap_coord_map(const Coord_grid& nx) const {
    return Coord_map(nxgrid_to_xgrid_ * Vec3<double>(nx));
  }
  //! Box grid point of a crystal grid point, exact when x_to_nx_is_int().
  Coord_grid nxmap_coord_grid(const Coord_grid& x) const {
    return Coord_grid(xgrid_to_nxgrid_int_ * Vec3<int>(x));
  }
  //! Crystal grid point of a box grid point, exact when nx_to_x_is_int().
  Coord_grid xmap_coord_grid(const Coord_grid& nx) const {
    return Coord_grid(nxgrid_to_xgrid_int_ * Vec3<int>(nx));
  }

  //! Writes the flags and the two grid operators to standard output.
  void debug() const;

 private:
  RTop<double> xfrac_to_nxgrid_;
  RTop<double> nxgrid_to_xfrac_;
  RTop<double> xgrid_to_nxgrid_;
  RTop<double> nxgrid_to_xgrid_;
  RTop<int> xgrid_to_nxgrid_int_;
  RTop<int> nxgrid_to_xgrid_int_;
  bool x_to_nx_is_int_, x_to_nx_is_trn_;
  bool nx_to_x_is_int_, nx_to_x_is_trn_;
};

}  // namespace vantrel

#endif
