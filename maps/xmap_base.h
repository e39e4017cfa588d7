// The non-template part of the crystallographic map: space group, cell and
// grid, the symmetry tables shared by every map of one space group and grid,
// the symmetry lookup of any grid coordinate and the two map references.
#ifndef VANTREL_MAPS_XMAP_BASE_H
#define VANTREL_MAPS_XMAP_BASE_H

#include <vector>

#include "foundation/instance.h"
#include "foundation/matrix.h"
#include "foundation/message.h"
#include "foundation/object_cache.h"
#include "foundation/util.h"
#include "symmetry/cell.h"
#include "symmetry/coords.h"
#include "symmetry/rtop.h"
#include "symmetry/sampling.h"
#include "symmetry/spacegroup.h"
#include "symmetry/spgr_descr.h"
#include "symmetry/symop.h"

namespace vantrel {

extern const Message_ctor message_ctor_xmap;

//! Key of the shared map tables: a space group and a grid sampling.
class Xmap_cachekey {
 public:
  Xmap_cachekey(const Spgr_descr& spgr_descr, const Grid_sampling& grid)
      : spgr_descr_(spgr_descr), grid_sampling_(grid) {}
  const Spgr_descr& spgr_descr() const { return spgr_descr_; }
  const Grid_sampling& grid_sampling() const { return grid_sampling_; }

 private:
  Spgr_descr spgr_descr_;
  Grid_sampling grid_sampling_;
};

//! A line of consecutive ASU points along one axis of the storage box.
struct Asu_run {
  Coord_grid start;  //!< the first point
  int index;         //!< its storage index
  int length;        //!< the number of points
};

//! The symmetry tables of one space group on one grid, shared through the
//! library's map cache and never changed after construction.
/*! The storage box is the real-space ASU box widened by one point on every
  side; it holds one symmetry mark per point: 0 for a point of the ASU (a
  stored value lives there), k+1 when grid operator k takes the point,
  reduced into the cell, onto an ASU point, nsym+1 when no operator does. */
class Xmap_cacheobj {
 public:
  typedef Xmap_cachekey Key;
  static constexpr CacheSlot cache_slot = CacheSlot::Map;

  explicit Xmap_cacheobj(const Key& xmap_cachekey);
  //! Same space-group hash and same grid (the generators are not compared).
  bool matches(const Key& xmap_cachekey) const;
  //! The Hall symbol and the grid, for the leak report and the ASU error.
  String format() const;

  Key key;
  Grid_sampling xtl_grid;          //!< the grid of the cell
  Grid_range asu_grid;             //!< the ASU box
  Grid_range map_grid;             //!< the storage box: ASU box + 1
  int nsym;                        //!< all operators, centring included
  std::vector<unsigned char> asu;  //!< symmetry marks, storage-box order
  std::vector<Isymop> isymop;      //!< the operators in grid units
  std::vector<int> du, dv, dw;     //!< storage-index steps of R_k along u, v, w
  Array2d<unsigned char> symperm;  //!< (i, j): the operator i x j
  //! Per operator, an axis whose image runs along w (w if none): walked
  //! innermost, the operator's images of a run stay on one w row.
  std::vector<int> run_axis;
  //! The ASU points cut into runs along u, v and w; filled for the axes
  //! in run_axis, so always along w (the identity's axis).
  std::vector<Asu_run> asu_runs[3];
  //! Per storage point, the largest r up to 3 such that every point within
  //! r grid steps along each axis lies in the storage box and is an ASU
  //! point; 0 for the other points. Two bits a point, four to a byte, so
  //! that the table stays in cache.
  std::vector<unsigned char> clearance;
  static int clearance_at(const unsigned char* table, const int& index) {
    return (table[index >> 2] >> (2 * (index & 3))) & 3;
  }
  //! The largest block side that block_reach covers.
  static constexpr int max_block = 4;
  //! At k (max_block + 1) + n: the clearance that a block of n x n x n
  //! points about its centre point (offsets -(n-1)/2 to n/2 on each axis),
  //! turned by operator k, needs to lie within it.
  std::vector<int> block_reach;
  //! The cell cut into boxes of 2^coarse_shift grid points a side
  //! (coarse_grid boxes along u, v, w): per box, an operator taking every
  //! point of the box onto an ASU point, or no_op when none is known to.
  static constexpr int coarse_shift = 2;
  Grid coarse_grid;
  std::vector<unsigned char> coarse_op;
  static constexpr unsigned char no_op = 255;

 private:
  void mark_asu_points();
  void mark_other_points();
  void measure_clearance();
  void find_box_operators();
  //! The ASU points cut into runs along axis a.
  std::vector<Asu_run> runs_along(const int& a) const;
  //! First operator from k0 on taking c onto an ASU point, or -1.
  int operator_to_asu(const Coord_grid& c, const int& k0) const;
};

//! The tables, cell, space group and grid of a crystallographic map.
/*! A map holds a counted reference on its shared tables and fast pointers
  into them; the tables live as long as some map refers to them. */
class Xmap_base {
 public:
  //! FFT used by the map transforms: 0 default, 1 full grid, 2 sparse grids.
  typedef int FFTtype;
  //! The FFT that type 0 selects.
  static FFTtype default_type_;

  //! A position in a map's storage.
  class Map_reference_base {
   public:
    Map_reference_base() : map_(nullptr), index_(0) {}
    //! The storage index.
    const int& index() const { return index_; }
    //! True at or beyond the end of the storage.
    bool last() const { return index_ >= map_->storage_size_; }

   protected:
    const Xmap_base* map_;
    int index_;
  };

  //! Walks the stored ASU points in storage order.
  class Map_reference_index : public Map_reference_base {
   public:
    Map_reference_index() {}
    //! At the first ASU point of the map.
    explicit Map_reference_index(const Xmap_base& map) {
      map_ = &map;
      index_ = 0;
      next();
    }
    //! The grid coordinate of the point (inside the cell).
    Coord_grid coord() const { return map_->coord_of(index_); }
    //! Advance to the next ASU point, or to the end.
    Map_reference_index& next() {
      do {
        ++index_;
      } while (index_ < map_->storage_size_ && map_->asu_[index_] != 0);
      return *this;
    }
  };

  //! Follows an arbitrary grid coordinate through the crystal: the stored
  //! point at the index is the image of the coordinate under operator sym.
  class Map_reference_coord : public Map_reference_base {
   public:
    Map_reference_coord() : sym_(0), pos_(0, 0, 0) {}
    Map_reference_coord(const Xmap_base& map, const Coord_grid& pos) : pos_(pos) {
      map_ = &map;
      map.find_sym(pos, index_, sym_);
    }
    //! At a coordinate whose image under operator sym is already known to
    //! be the stored point at the index (as find_sym or find_image give).
    Map_reference_coord(const Xmap_base& map, const Coord_grid& pos, const int& index,
                        const int& sym)
        : sym_(sym), pos_(pos) {
      map_ = &map;
      index_ = index;
    }
    //! The coordinate followed, as given (not reduced).
    const Coord_grid& coord() const { return pos_; }
    //! The operator taking the coordinate onto the stored point.
    const int& sym() const { return sym_; }
    //! Move to any coordinate; the current operator is tried first.
    Map_reference_coord& set_coord(const Coord_grid& pos);

    //! Step the coordinate by +1 along one axis.
    Map_reference_coord& next_u() { return step(pos_.u(), +1, map_->du_[sym_]); }
    Map_reference_coord& next_v() { return step(pos_.v(), +1, map_->dv_[sym_]); }
    Map_reference_coord& next_w() { return step(pos_.w(), +1, map_->dw_[sym_]); }
    //! Step the coordinate by -1 along one axis.
    Map_reference_coord& prev_u() { return step(pos_.u(), -1, -map_->du_[sym_]); }
    Map_reference_coord& prev_v() { return step(pos_.v(), -1, -map_->dv_[sym_]); }
    Map_reference_coord& prev_w() { return step(pos_.w(), -1, -map_->dw_[sym_]); }

    //! Return to an ASU point after a step onto a border or non-ASU point.
    void edge();

   private:
    Map_reference_coord& step(int& component, const int& delta, const int& stride) {
      component += delta;
      index_ += stride;
      if (map_->asu_[index_] != 0) edge();
      return *this;
    }

    int sym_;
    Coord_grid pos_;
  };

  //! A null map: null space group and cell, grid 0, no tables.
  Xmap_base();

  //! Attach to the tables of a space group and grid; with a null space
  //! group or cell only the three are stored. Fatal for a null grid, one
  //! too large for int indices, or one that does not suit the group
  //! (Grid_sampling::suits).
  void init(const Spacegroup& spacegroup, const Cell& cell, const Grid_sampling& grid_sam);
  bool is_null() const { return spacegroup_.is_null() || cell_.is_null() || grid_sam_.is_null(); }

  const Spacegroup& spacegroup() const { return spacegroup_; }
  const Cell& cell() const { return cell_; }
  const Grid_sampling& grid_sampling() const { return grid_sam_; }
  //! The box holding the ASU points.
  const Grid_range& grid_asu() const { return asu_grid_; }
  //! The storage box: the ASU box with a border of one point.
  const Grid_range& grid_storage() const { return map_grid_; }
  //! The number of operators, centring included.
  const int& num_sym() const { return nsym_; }
  //! Operator k in grid units.
  const Isymop& isymop(const int& k) const { return isymop_[k]; }
  //! The storage-index change of a unit step along u, v or w of a
  //! coordinate that operator k takes into the ASU.
  const int& storage_step_u(const int& k) const { return du_[k]; }
  const int& storage_step_v(const int& k) const { return dv_[k]; }
  const int& storage_step_w(const int& k) const { return dw_[k]; }
  //! True when the block of n x n x n points (n <= 4) about the storage
  //! point at the index, from offset -(n-1)/2 to n/2 along each axis, the
  //! axes turned by operator k, lies wholly on ASU points of the storage
  //! box: a table lookup, false near the ASU's edge even where the block
  //! would fit.
  bool block_in_asu(const int& index, const int& k, const int& n) const {
    return Xmap_cacheobj::clearance_at(clearance_, index) >=
           block_reach_[k * (Xmap_cacheobj::max_block + 1) + n];
  }
  //! The axis along which the images of operator k are best walked.
  const int& run_axis(const int& k) const { return cacheref_->run_axis[k]; }
  //! The ASU points cut into runs along an axis (0 u, 1 v, 2 w): filled
  //! for w and for every run_axis.
  const std::vector<Asu_run>& asu_runs(const int& axis) const { return cacheref_->asu_runs[axis]; }
  //! Orthogonal position to real-valued grid position.
  const RTop<double>& operator_orth_grid() const { return rt_orth_grid_; }
  //! Grid position to orthogonal position.
  const RTop<double>& operator_grid_orth() const { return rt_grid_orth_; }
  Coord_map coord_map(const Coord_orth& x) const { return Coord_map(rt_orth_grid_ * x); }
  Coord_orth coord_orth(const Coord_map& m) const { return Coord_orth(rt_grid_orth_ * m); }

  Map_reference_index first() const { return Map_reference_index(*this); }

  //! The storage index of the ASU point equivalent to c and the operator
  //! taking c there; the ASU error when there is none.
  void find_sym(const Coord_grid& c, int& index, int& sym) const {
    const Coord_grid cu = to_unit(c);
    if (asu_grid_.in_grid(cu)) {
      index = map_grid_.index(cu);
      const int mark = asu_[index];
      if (mark == 0) {
        sym = 0;
        return;
      }
      sym = mark - 1;
      index = map_grid_.index(to_unit(isymop_[sym] * cu));
    } else {
      search_sym(cu, index, sym);
    }
  }
  //! As find_sym, but where c is a special position the operator may be
  //! another of those taking it to the same ASU point; most points are
  //! found in one table lookup.
  void find_image(const Coord_grid& c, int& index, int& sym) const {
    const Coord_grid cu = to_unit(c);
    if (nsym_ == 1) {  // P1: every point of the cell is stored
      sym = 0;
      index = map_grid_.index(cu);
      return;
    }
    const int b = Xmap_cacheobj::coarse_shift;
    const int k =
        coarse_op_[((cu.u() >> b) * coarse_nv_ + (cu.v() >> b)) * coarse_nw_ + (cu.w() >> b)];
    if (k == Xmap_cacheobj::no_op) {
      find_sym(cu, index, sym);
      return;
    }
    sym = k;
    index = map_grid_.index(to_unit(isymop_[k] * cu));
  }
  //! The number of operators (identity included) fixing the point.
  int multiplicity(const Coord_grid& c) const;
  //! The grid coordinate of a storage index.
  Coord_grid coord_of(const int& index) const { return map_grid_.deindex(index) + map_grid_.min(); }
  //! True when the storage index holds an ASU point.
  bool is_asu_index(const int& index) const {
    return index >= 0 && index < storage_size_ && asu_[index] == 0;
  }

  //! Raises "Xmap: Internal map ASU error - " with the tables' text.
  [[noreturn]] void asu_error() const;

 protected:
  //! Each component reduced into 0..n-1 of the cell grid.
  Coord_grid to_unit(const Coord_grid& c) const {
    return Coord_grid(wrap(c.u(), grid_sam_.nu()), wrap(c.v(), grid_sam_.nv()),
                      wrap(c.w(), grid_sam_.nw()));
  }
  //! x reduced into 0..n-1; within a cell of the range, without a division.
  static int wrap(const int& x, const int& n) {
    if (unsigned(x) + unsigned(n) >= 3u * unsigned(n)) return Util::mod(x, n);  // not in -n..2n-1
    const int y = x < 0 ? x + n : x;  // selects, not branches: x is often random
    return y >= n ? y - n : y;
  }
  //! True when both maps use the same tables (space-group hash and grid).
  bool same_tables(const Xmap_base& other) const {
    return spacegroup_.hash() == other.spacegroup_.hash() && grid_sam_ == other.grid_sam_;
  }

  ObjectCache<Xmap_cacheobj>::Reference cacheref_;
  const unsigned char* asu_;
  const Isymop* isymop_;
  const int* du_;
  const int* dv_;
  const int* dw_;
  const unsigned char* symperm_;
  const unsigned char* clearance_;
  const int* block_reach_;
  const unsigned char* coarse_op_;
  int coarse_nv_, coarse_nw_;
  Grid_range asu_grid_;
  Grid_range map_grid_;
  int nsym_;
  int storage_size_;
  Cell cell_;
  Spacegroup spacegroup_;
  Grid_sampling grid_sam_;
  RTop<double> rt_orth_grid_;
  RTop<double> rt_grid_orth_;

 private:
  // find_sym for a reduced coordinate outside the ASU box.
  void search_sym(const Coord_grid& cu, int& index, int& sym) const;
};

}  // namespace vantrel

#endif
