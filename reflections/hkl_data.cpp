#include "reflections/hkl_data.h"

#include <iostream>

namespace vantrel {

namespace {

// Constructed on first use, so that arrays built by any static initialiser
// find it ready.
const Message_ctor& message_ctor_hkl_data() {
  static const Message_ctor message(" [HKL_data: constructed]");
  return message;
}

// Parent cells within this tolerance (Cell::equals) share the list's 1/d^2.
const double cell_tolerance = 0.5;

}  // namespace

// --------------------------------------------------------- HKL_data_cacheobj

HKL_data_cacheobj::HKL_data_cacheobj(const Key& key) {
  init(Spacegroup(key.spgr_descr()), Cell(key.cell_descr()), key.hkl_sampling(), true);
}

bool HKL_data_cacheobj::matches(const Key& key) const {
  return key.spgr_descr().hash() == spacegroup().hash() && key.hkl_sampling() == hkl_sampling();
}

String HKL_data_cacheobj::format() const {
  return spacegroup().symbol_hall() + " " + hkl_sampling().format();
}

// ------------------------------------------------------------- HKL_data_base

HKL_data_base::HKL_data_base()
    : parent_hkl_info_(nullptr), parent_cell_(nullptr), cell_matches_(false) {
  Message::message(message_ctor_hkl_data());
}

HKL_data_base::HKL_data_base(const HKL_data_base& other)
    : parent_hkl_info_(nullptr), parent_cell_(nullptr), cell_matches_(false) {
  bind_like(other);
}

void HKL_data_base::bind_like(const HKL_data_base& other) {
  cacheref_ = other.cacheref_;
  own_cell_ = other.own_cell_;
  parent_hkl_info_ = other.parent_hkl_info_;
  // An array made from a sampling has its own cell as parent cell: the copy
  // must point at its own copy of it.
  parent_cell_ = other.parent_cell_ == &other.own_cell_ ? &own_cell_ : other.parent_cell_;
  cell_matches_ = other.cell_matches_;
}

void HKL_data_base::init(const HKL_info& hkl_info, const Cell& cell) {
  parent_hkl_info_ = &hkl_info;
  parent_cell_ = &cell;
  cell_matches_ = cell.equals(hkl_info.cell(), cell_tolerance);
}

void HKL_data_base::init(const Spacegroup& spacegroup, const Cell& cell,
                         const HKL_sampling& hkl_sampling) {
  if (spacegroup.is_null() || cell.is_null() || hkl_sampling.is_null()) return;

  const HKL_data_cachekey key(spacegroup, cell, hkl_sampling);
  cacheref_ = VantrelInstantiator::instance().cache<HKL_data_cacheobj>().lookup(key);
  own_cell_ = cell;
  init(cacheref_.data(), own_cell_);
}

bool HKL_data_base::is_null() const {
  return parent_hkl_info_ == nullptr || parent_cell_ == nullptr || parent_hkl_info_->is_null() ||
         parent_cell_->is_null();
}

double HKL_data_base::invresolsq(const int& index) const {
  if (cell_matches_) return parent_hkl_info_->invresolsq(index);
  return parent_hkl_info_->hkl_of(index).invresolsq(*parent_cell_);
}

Range<double> HKL_data_base::invresolsq_range() const {
  Range<double> range;
  for (HKL_reference_index ih = first_data(); !ih.last(); next_data(ih))
    range.include(invresolsq(ih.index()));
  return range;
}

int HKL_data_base::num_obs() const {
  int n = 0;
  for (HKL_reference_index ih = first_data(); !ih.last(); next_data(ih)) ++n;
  return n;
}

HKL_data_base::HKL_reference_index HKL_data_base::first_data() const {
  HKL_reference_index ih(*parent_hkl_info_, -1);
  return next_data(ih);
}

HKL_data_base::HKL_reference_index& HKL_data_base::next_data(HKL_reference_index& ih) const {
  const int n = parent_hkl_info_->num_reflections();
  do {
    ih.next();
  } while (ih.index() < n && missing(ih.index()));
  return ih;
}

void HKL_data_base::check_same_list(const HKL_data_base& other, const char* operation) const {
  if (parent_hkl_info_ == nullptr || parent_hkl_info_ != other.parent_hkl_info_)
    fatal(std::string("HKL_data: ") + operation + " needs arrays over one reflection list");
}

void HKL_data_base::debug() const {
  if (parent_hkl_info_ != nullptr) {
    parent_hkl_info_->debug();
    parent_hkl_info_->spacegroup().debug();
    parent_hkl_info_->cell().debug();
  }
  if (parent_cell_ != nullptr) parent_cell_->debug();
}

// The datatypes the library stores.
template class HKL_data<datatypes::F_sigF<float>>;
template class HKL_data<datatypes::F_sigF<double>>;
template class HKL_data<datatypes::F_phi<float>>;
template class HKL_data<datatypes::F_phi<double>>;
template class HKL_data<datatypes::Phi_fom<float>>;
template class HKL_data<datatypes::ABCD<float>>;
template class HKL_data<datatypes::E_sigE<float>>;
template class HKL_data<datatypes::E_sigE<double>>;
template class HKL_data<datatypes::Flag>;
template class HKL_data<datatypes::Flag_bool>;

}  // namespace vantrel
