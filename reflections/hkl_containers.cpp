#include "reflections/hkl_containers.h"

#include <new>

namespace vantrel {

// ------------------------------------------------------ null default objects

namespace {

// Storage for an object that is built later by placement new. The storage
// and the references bound to it are constant-initialised, so they are
// valid before any dynamic initialisation runs.
template <class T> union Null_storage {
  constexpr Null_storage() : none() {}
  ~Null_storage() {}
  char none;
  T value;
};

Null_storage<Spacegroup> null_spacegroup;
Null_storage<Cell> null_cell;
Null_storage<Resolution> null_resolution;
Null_storage<Grid_sampling> null_grid_sampling;
Null_storage<HKL_info> null_hkl_info;

// Files initialised so far that include hkl_info.h; zero before any dynamic
// initialisation.
int null_objects_users = 0;

}  // namespace

const Spacegroup& NullSpacegroup = null_spacegroup.value;
const Cell& NullCell = null_cell.value;
const Resolution& NullResolution = null_resolution.value;
const Grid_sampling& NullGrid_sampling = null_grid_sampling.value;
const HKL_info& NullHKL_info = null_hkl_info.value;

namespace detail {

Null_objects_init::Null_objects_init() {
  if (null_objects_users++ > 0) return;
  new (&null_spacegroup.value) Spacegroup();
  new (&null_cell.value) Cell();
  new (&null_resolution.value) Resolution(0.0);
  new (&null_grid_sampling.value) Grid_sampling();
  new (&null_hkl_info.value) HKL_info();
}

Null_objects_init::~Null_objects_init() {
  if (--null_objects_users > 0) return;
  null_hkl_info.value.~HKL_info();
  null_grid_sampling.value.~Grid_sampling();
  null_resolution.value.~Resolution();
  null_cell.value.~Cell();
  null_spacegroup.value.~Spacegroup();
}

}  // namespace detail

// ------------------------------------------------------ parameter nodes

namespace {

// The argument unless it is null, else the nearest ancestor of node holding
// a value of type T (null when there is none).
template <class T> const T* resolve(const Container& node, const T& given) {
  if (!given.is_null()) return &given;
  return node.parent_of_type_ptr<const T>();
}

// True when all three parameters were found and none is null.
bool usable(const Spacegroup* spgr, const Cell* cell, const Resolution* res) {
  return spgr != nullptr && cell != nullptr && res != nullptr && !spgr->is_null() &&
         !cell->is_null() && !res->is_null();
}

}  // namespace

void CSpacegroup::init(const Spacegroup& spgr) {
  Spacegroup::operator=(spgr);
  Container::update();
}

void CCell::init(const Cell& cell) {
  Cell::operator=(cell);
  Container::update();
}

void CResolution::init(const Resolution& resolution) {
  Resolution::operator=(resolution);
  Container::update();
}

// ------------------------------------------------------------- CHKL_info

CHKL_info::CHKL_info(Container& parent, const String& name, const bool& generate)
    : Container(parent, name), generate_(generate) {
  init(NullSpacegroup, NullCell, NullResolution, false);
}

CHKL_info::CHKL_info(const String& name, const Spacegroup& spgr, const Cell& cell,
                     const Resolution& resolution, const bool& generate)
    : Container(name), HKL_info(spgr, cell, resolution, generate), generate_(generate) {}

void CHKL_info::init(const Spacegroup& spgr, const Cell& cell, const Resolution& resolution,
                     const bool& generate) {
  const Spacegroup* s = resolve(*this, spgr);
  const Cell* c = resolve(*this, cell);
  const Resolution* r = resolve(*this, resolution);
  generate_ = generate_ || generate;
  if (usable(s, c, r)) HKL_info::init(*s, *c, *r, generate_);
  Container::update();
}

void CHKL_info::generate_hkl_list() {
  HKL_info::generate_hkl_list();
  Container::update();
}

void CHKL_info::update() {
  if (HKL_info::is_null())
    init(NullSpacegroup, NullCell, NullResolution, false);
  else
    Container::update();
}

// -------------------------------------------------------- CGrid_sampling

CGrid_sampling::CGrid_sampling(Container& parent, const String& name, const Grid_sampling& grid)
    : Container(parent, name), Grid_sampling(grid) {}

CGrid_sampling::CGrid_sampling(Container& parent, const String& name, const double& rate)
    : Container(parent, name), rate_(rate) {
  init(NullSpacegroup, NullCell, NullResolution, 0.0);
}

CGrid_sampling::CGrid_sampling(const String& name, const Grid_sampling& grid)
    : Container(name), Grid_sampling(grid) {}

void CGrid_sampling::init(const Grid_sampling& grid) {
  Grid_sampling::operator=(grid);
  Container::update();
}

void CGrid_sampling::init(const Spacegroup& spgr, const Cell& cell, const Resolution& resolution,
                          const double& rate) {
  const Spacegroup* s = resolve(*this, spgr);
  const Cell* c = resolve(*this, cell);
  const Resolution* r = resolve(*this, resolution);
  if (rate >= 1.0) rate_ = rate;
  if (usable(s, c, r)) Grid_sampling::init(*s, *c, *r, rate_);
  Container::update();
}

void CGrid_sampling::update() {
  if (Grid_sampling::is_null())
    init(NullSpacegroup, NullCell, NullResolution, 0.0);
  else
    Container::update();
}

}  // namespace vantrel
