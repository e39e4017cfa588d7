// Per-reflection data arrays over one datatype, bound to a reflection list,
// read and written by position or by any Miller index through symmetry, and
// the shared reflection lists generated from a space group and sampling.
#ifndef VANTREL_REFLECTIONS_HKL_DATA_H
#define VANTREL_REFLECTIONS_HKL_DATA_H

#include <vector>

#include "foundation/instance.h"
#include "foundation/message.h"
#include "foundation/object_cache.h"
#include "foundation/statistics.h"
#include "reflections/datatypes.h"
#include "reflections/hkl_info.h"

namespace vantrel {

//! Key of a shared reflection list: space group, cell and sampling.
class HKL_data_cachekey {
 public:
  HKL_data_cachekey(const Spgr_descr& spgr_descr, const Cell_descr& cell_descr,
                    const HKL_sampling& hkl_sampling)
      : spgr_descr_(spgr_descr), cell_descr_(cell_descr), hkl_sampling_(hkl_sampling) {}
  const Spgr_descr& spgr_descr() const { return spgr_descr_; }
  const Cell_descr& cell_descr() const { return cell_descr_; }
  const HKL_sampling& hkl_sampling() const { return hkl_sampling_; }

 private:
  Spgr_descr spgr_descr_;
  Cell_descr cell_descr_;
  HKL_sampling hkl_sampling_;
};

//! A reflection list generated from a key and shared through the library's
//! reflection-list cache by every array of the same group and sampling.
/*! The list is made with the cell of the key that created the entry; the
  cell is not part of the match. */
class HKL_data_cacheobj : public HKL_info {
 public:
  typedef HKL_data_cachekey Key;
  static constexpr CacheSlot cache_slot = CacheSlot::ReflectionList;

  explicit HKL_data_cacheobj(const Key& key);
  //! Same space-group hash and same sampling.
  bool matches(const Key& key) const;
  //! Hall symbol and sampling, for the cache's leak report.
  String format() const;
};

//! Polymorphic base of the reflection data arrays.
/*! An array refers to a parent reflection list, which must outlive it, and
  to a parent cell in which its 1/d^2 are computed. An array made from a
  sampling holds a counted reference on a shared list and its own cell. The
  datatype-neutral virtual operations serve file interfaces that move data
  column by column. */
class HKL_data_base {
 public:
  typedef HKL_info::HKL_reference_index HKL_reference_index;

  //! Bind to a list, computing 1/d^2 in the given cell.
  virtual void init(const HKL_info& hkl_info, const Cell& cell);
  //! Bind to the shared list of this space group and sampling, with this
  //! cell as the parent cell. A null argument leaves the array as it was.
  virtual void init(const Spacegroup& spacegroup, const Cell& cell,
                    const HKL_sampling& hkl_sampling);
  //! Size the data to the parent list; new entries are null.
  virtual void update() = 0;
  virtual String type() const = 0;
  virtual bool missing(const int& index) const = 0;
  virtual void set_null(const int& index) = 0;
  virtual int data_size() const = 0;
  virtual String data_names() const = 0;
  //! The fields of the value at hkl (found through symmetry) as doubles;
  //! false, with null fields, when the list does not hold it.
  virtual bool data_export(const HKL& hkl, double* array) const = 0;
  //! Store doubles as the value at hkl; false when the list does not hold it.
  virtual bool data_import(const HKL& hkl, const double* array) = 0;
  //! Make null every entry that is missing in other (same list).
  virtual void mask(const HKL_data_base& other) = 0;
  virtual ~HKL_data_base() = default;

  //! True while the array has no list or cell.
  bool is_null() const;
  const HKL_info& base_hkl_info() const { return *parent_hkl_info_; }
  const Cell& base_cell() const { return *parent_cell_; }
  const Spacegroup& spacegroup() const { return parent_hkl_info_->spacegroup(); }

  //! 1/d^2 at a position: the list's cached value when the cells agree,
  //! otherwise computed in the parent cell.
  double invresolsq(const int& index) const;
  //! Range of 1/d^2 over the present entries.
  Range<double> invresolsq_range() const;
  //! Number of present entries.
  int num_obs() const;

  HKL_reference_index first() const { return HKL_reference_index(*parent_hkl_info_, 0); }
  //! Cursor at the first present entry (at the end when there is none).
  HKL_reference_index first_data() const;
  //! Advance to the next present entry, or to the end.
  HKL_reference_index& next_data(HKL_reference_index& ih) const;

  //! Prints the parent list, its space group and cell, and the parent cell.
  void debug() const;

 protected:
  HKL_data_base();
  HKL_data_base(const HKL_data_base& other);
  HKL_data_base& operator=(const HKL_data_base&) = delete;

  //! Become bound like other (list, cell, shared reference).
  void bind_like(const HKL_data_base& other);
  //! Fatal message unless this and other are arrays over one list.
  void check_same_list(const HKL_data_base& other, const char* operation) const;

  const HKL_info* parent_hkl_info_;
  const Cell* parent_cell_;
  bool cell_matches_;
  ObjectCache<HKL_data_cacheobj>::Reference cacheref_;
  // Set only by the sampling form of init, which makes it the parent cell.
  Cell own_cell_;
};

//! A data array of one datatype T, one value per reflection of the list.
template <class T> class HKL_data : public HKL_data_base {
 public:
  HKL_data() = default;
  //! An array on a list, in the list's own cell; every entry null.
  explicit HKL_data(const HKL_info& hkl_info) { init(hkl_info, hkl_info.cell()); }
  HKL_data(const HKL_info& hkl_info, const Cell& cell) { init(hkl_info, cell); }
  //! An array on the shared list of a space group and sampling.
  HKL_data(const Spacegroup& spacegroup, const Cell& cell, const HKL_sampling& hkl_sampling) {
    init(spacegroup, cell, hkl_sampling);
  }
  HKL_data(const HKL_data& other) = default;
  //! Copy the values of an array on the same list (fatal otherwise). An
  //! array with no list adopts other's list and values.
  HKL_data& operator=(const HKL_data& other);

  void init(const HKL_info& hkl_info, const Cell& cell) override {
    HKL_data_base::init(hkl_info, cell);
    update();
  }
  void init(const Spacegroup& spacegroup, const Cell& cell,
            const HKL_sampling& hkl_sampling) override {
    HKL_data_base::init(spacegroup, cell, hkl_sampling);
    update();
  }
  void update() override {
    if (parent_hkl_info_ != nullptr) list_.resize(parent_hkl_info_->num_reflections());
  }

  String type() const override { return T::type(); }
  bool missing(const int& index) const override { return list_[index].missing(); }
  void set_null(const int& index) override { list_[index].set_null(); }
  int data_size() const override { return T::data_size(); }
  String data_names() const override { return T::data_names(); }
  bool data_export(const HKL& hkl, double* array) const override;
  bool data_import(const HKL& hkl, const double* array) override;
  void mask(const HKL_data_base& other) override;

  //! The value at a cursor's position, without checks.
  const T& operator[](const HKL_reference_index& ih) const { return list_[ih.index()]; }
  T& operator[](const HKL_reference_index& ih) { return list_[ih.index()]; }
  //! The value at a list position, without checks.
  const T& operator[](const int& index) const { return list_[index]; }
  T& operator[](const int& index) { return list_[index]; }
  //! The value at any Miller index, null when the list does not hold it.
  T operator[](const HKL& hkl) const {
    T value;
    get_data(hkl, value);
    return value;
  }

  //! The value at any index: the stored equivalent with its phase carried
  //! through the symmetry operator (and the Friedel sign).
  bool get_data(const HKL& hkl, T& value) const;
  //! Store a value given at any index; reading it back through the same
  //! index returns it unchanged.
  bool set_data(const HKL& hkl, const T& value);

  //! value[i] = op(reference at i, source[i]) over the list; the source
  //! must be an array over the same list (it may be this array).
  template <class S, class F> void compute(const HKL_data<S>& source, const F& op);
  //! value[i] = op(reference at i, first[i], second[i]).
  template <class S1, class S2, class F>
  void compute(const HKL_data<S1>& first, const HKL_data<S2>& second, const F& op);

 private:
  // The stored position of hkl, with the phase shift and Friedel flag that
  // carry the stored value to hkl; -1 when the list does not hold it.
  int locate(const HKL& hkl, double& shift, bool& friedel) const;

  std::vector<T> list_;
};

// ------------------------------------------------------------------ template

template <class T> HKL_data<T>& HKL_data<T>::operator=(const HKL_data& other) {
  if (this == &other) return *this;
  if (parent_hkl_info_ == nullptr)
    bind_like(other);
  else if (parent_hkl_info_ != other.parent_hkl_info_)
    fatal("HKL_data<T>: mismatched parent HKL_info is assignment");
  list_ = other.list_;
  return *this;
}

template <class T> int HKL_data<T>::locate(const HKL& hkl, double& shift, bool& friedel) const {
  int sym;
  const HKL asu = parent_hkl_info_->find_sym(hkl, sym, friedel);
  const int index = parent_hkl_info_->index_of(asu);
  if (index >= 0) {
    shift = -hkl.sym_phase_shift(parent_hkl_info_->spacegroup().symop(sym));
  }
  return index;
}

template <class T> bool HKL_data<T>::get_data(const HKL& hkl, T& value) const {
  double shift;
  bool friedel;
  const int index = locate(hkl, shift, friedel);
  if (index < 0) {
    value.set_null();
    return false;
  }
  value = list_[index];
  if (friedel) value.apply_friedel();
  value.apply_phase_shift(shift);
  return true;
}

template <class T> bool HKL_data<T>::set_data(const HKL& hkl, const T& value) {
  double shift;
  bool friedel;
  const int index = locate(hkl, shift, friedel);
  if (index < 0) return false;
  T& stored = list_[index];
  stored = value;
  stored.apply_phase_shift(-shift);
  if (friedel) stored.apply_friedel();
  return true;
}

template <class T> bool HKL_data<T>::data_export(const HKL& hkl, double* array) const {
  T value;
  const bool found = get_data(hkl, value);
  value.data_export(array);
  return found;
}

template <class T> bool HKL_data<T>::data_import(const HKL& hkl, const double* array) {
  T value;
  value.data_import(array);
  return set_data(hkl, value);
}

template <class T> void HKL_data<T>::mask(const HKL_data_base& other) {
  check_same_list(other, "mask");
  for (int i = 0; i < int(list_.size()); ++i)
    if (other.missing(i)) list_[i].set_null();
}

template <class T>
template <class S, class F>
void HKL_data<T>::compute(const HKL_data<S>& source, const F& op) {
  check_same_list(source, "compute");
  for (int i = 0; i < int(list_.size()); ++i) {
    const HKL_reference_index ih(*parent_hkl_info_, i);
    list_[i] = op(ih, source[ih]);
  }
}

template <class T>
template <class S1, class S2, class F>
void HKL_data<T>::compute(const HKL_data<S1>& first, const HKL_data<S2>& second, const F& op) {
  check_same_list(first, "compute");
  check_same_list(second, "compute");
  for (int i = 0; i < int(list_.size()); ++i) {
    const HKL_reference_index ih(*parent_hkl_info_, i);
    list_[i] = op(ih, first[ih], second[ih]);
  }
}

}  // namespace vantrel

#endif
