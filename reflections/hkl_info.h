// The reflection list of a space group, cell and resolution: the unique
// reflections of the reciprocal asymmetric unit with their classes and 1/d^2,
// and the lookup from any Miller index to its position in the list.
#ifndef VANTREL_REFLECTIONS_HKL_INFO_H
#define VANTREL_REFLECTIONS_HKL_INFO_H

#include <vector>

#include "foundation/statistics.h"
#include "symmetry/cell.h"
#include "symmetry/coords.h"
#include "symmetry/hkl_class.h"
#include "symmetry/sampling.h"
#include "symmetry/spacegroup.h"
#include "symmetry/symop.h"

namespace vantrel {

//! Table from a Miller index to its position in a reflection list.
/*! Three levels (h rows, k rows, l slots), each storing only the index
  range that occurs, so a lookup is three range checks and three vector
  indexings. No symmetry is applied. */
class HKL_lookup {
 public:
  HKL_lookup() : hmin_(empty_min), hmax_(empty_max) {}
  //! Rebuild the table so that it describes exactly the given list; where
  //! an index occurs twice, the later position wins.
  void init(const std::vector<HKL>& hkls);
  //! Position of exactly this index in the list, or -1.
  int index_of(const HKL& hkl) const {
    if (hkl.h() < hmin_ || hkl.h() > hmax_) return -1;
    const klookup& kl = hrows_[hkl.h() - hmin_];
    if (hkl.k() < kl.min || hkl.k() > kl.max) return -1;
    const llookup& ll = kl.rows[hkl.k() - kl.min];
    if (hkl.l() < ll.min || hkl.l() > ll.max) return -1;
    return ll.index[hkl.l() - ll.min];
  }
  //! Writes the number of index slots to standard output.
  void debug() const;

 private:
  static const int empty_min = 32000, empty_max = -32000;
  struct llookup {
    int min = empty_min, max = empty_max;
    std::vector<int> index;
  };
  struct klookup {
    int min = empty_min, max = empty_max;
    std::vector<llookup> rows;
  };
  int hmin_, hmax_;
  std::vector<klookup> hrows_;
};

//! The list of unique reflections of a space group, cell and resolution.
/*! Holds only reflections of the reciprocal asymmetric unit, in the order
  they were generated or added, with each reflection's class and 1/d^2
  (single precision). Data arrays (HKL_data) are indexed by positions in
  one such list, and reach any Miller index through find_sym. A list must
  not change while data arrays refer to it, and must outlive them. */
class HKL_info {
 public:
  //! A cursor (list, position) naming one reflection.
  class HKL_reference_base {
   public:
    HKL_reference_base() : hkl_info_(nullptr), index_(0) {}
    HKL_reference_base(const HKL_info& hkl_info, const int& index)
        : hkl_info_(&hkl_info), index_(index) {}
    const HKL_info& base_hkl_info() const { return *hkl_info_; }
    const int& index() const { return index_; }
    //! The list's cached 1/d^2 at the position.
    double invresolsq() const { return hkl_info_->invresolsq(index_); }
    //! True at or past the end of the list.
    bool last() const { return index_ >= hkl_info_->num_reflections(); }

   protected:
    const HKL_info* hkl_info_;
    int index_;
  };

  //! The cursor by position that walks a list and its data arrays.
  class HKL_reference_index : public HKL_reference_base {
   public:
    HKL_reference_index() = default;
    HKL_reference_index(const HKL_info& hkl_info, const int& index)
        : HKL_reference_base(hkl_info, index) {}
    const HKL& hkl() const { return hkl_info_->hkl_of(index_); }
    const HKL_class& hkl_class() const { return hkl_info_->hkl_class(index_); }
    HKL_reference_index& next() {
      ++index_;
      return *this;
    }
  };

  //! A null list: null space group, cell, sampling and resolution.
  HKL_info();
  //! A list initialised by the resolution form of init.
  HKL_info(const Spacegroup& spacegroup, const Cell& cell, const Resolution& resolution,
           const bool& generate = false);

  //! Set the parameters; unless one is null, empty the list and generate
  //! it when asked. A null parameter leaves the list as it was.
  void init(const Spacegroup& spacegroup, const Cell& cell, const Resolution& resolution,
            const bool& generate = false);
  //! As above from a reciprocal sampling, so that the set of reflections
  //! depends only on the sampling (the form of the shared lists).
  void init(const Spacegroup& spacegroup, const Cell& cell, const HKL_sampling& sampling,
            const bool& generate = true);

  //! Replace the list by every reflection of the reciprocal ASU with
  //! 1/d^2 < 1/dmin^2 that is not systematically absent (h slowest, l
  //! fastest). A null list is left as it is.
  void generate_hkl_list();
  //! Append the ASU form of each reflection with 1/d^2 <= 1/dmin^2 that the
  //! list did not hold when the call began.
  void add_hkl_list(const std::vector<HKL>& add);
  //! Recompute the lookup, classes, 1/d^2 values and their range.
  void update_hkl_list();

  //! The asymmetric-unit equivalent of any index, with the primitive
  //! operator sym and Friedel flag that give it: asu = +/- hkl R_sym.
  HKL find_sym(const HKL& hkl, int& sym, bool& friedel) const;

  //! true when the space group, cell or resolution is null or the
  //! resolution is missing (NaN)
  bool is_null() const {
    return spacegroup_.is_null() || cell_.is_null() || resolution_.is_null() ||
           Util::is_nan(resolution_.limit());
  }

  int num_reflections() const { return int(hkl_list_.size()); }
  const HKL& hkl_of(const int& index) const { return hkl_list_[index]; }
  const HKL_class& hkl_class(const int& index) const { return hkl_classes_[index]; }
  double invresolsq(const int& index) const { return invresolsq_[index]; }
  //! Position of exactly this index (no symmetry), or -1.
  int index_of(const HKL& hkl) const { return lookup_.index_of(hkl); }
  const Range<double>& invresolsq_range() const { return invresolsq_range_; }
  const Spacegroup& spacegroup() const { return spacegroup_; }
  const Cell& cell() const { return cell_; }
  const Resolution& resolution() const { return resolution_; }
  const HKL_sampling& hkl_sampling() const { return hkl_sampling_; }

  //! Cursor at position 0.
  HKL_reference_index first() const { return HKL_reference_index(*this, 0); }

  //! Writes the number of reflections to standard output.
  void debug() const;

 private:
  // Replace the list by hkls (distinct ASU indices) and update it.
  void set_hkl_list(std::vector<HKL> hkls);

  Spacegroup spacegroup_;
  Cell cell_;
  HKL_sampling hkl_sampling_;
  Resolution resolution_;
  std::vector<HKL> hkl_list_;
  std::vector<HKL_class> hkl_classes_;
  std::vector<float> invresolsq_;
  HKL_lookup lookup_;
  Range<double> invresolsq_range_;
};

//! The null reflection list: the default meaning "no list given".
extern const HKL_info& NullHKL_info;

namespace detail {
//! Builds the library's null default objects (NullHKL_info here, and
//! NullSpacegroup, NullCell, NullResolution and NullGrid_sampling of
//! hkl_containers.h) when the first file that includes this header is
//! initialised, and destroys them after the last one is finished with, so
//! that they are ready for any static initialiser whatever the file order.
class Null_objects_init {
 public:
  Null_objects_init();
  ~Null_objects_init();
  Null_objects_init(const Null_objects_init&) = delete;
  Null_objects_init& operator=(const Null_objects_init&) = delete;
};
static const Null_objects_init null_objects_init;
}  // namespace detail

}  // namespace vantrel

#endif
