// Density calculator interface: paints an atom list into a crystallographic
// or a box map, replacing the map's content.
#ifndef VANTREL_CALCULATIONS_EDCALC_BASE_H
#define VANTREL_CALCULATIONS_EDCALC_BASE_H

#include "maps/nxmap.h"
#include "maps/xmap.h"
#include "symmetry/atom.h"

namespace vantrel {

//! Abstract density calculator over maps of value type T (float or double).
/*! A calculator holds its radius (A) and, as the result of its latest
  call, the number of atoms it skipped; it keeps no reference to a map or
  atom list. The map must be initialised before the call. */
template <class T> class EDcalc_base {
 public:
  //! Replace every stored point of the map by the atoms' mask or density.
  virtual bool operator()(Xmap<T>& xmap, const Atom_list& atoms) const = 0;
  //! The same for every grid point of a box map.
  virtual bool operator()(NXmap<T>& nxmap, const Atom_list& atoms) const = 0;
  virtual ~EDcalc_base() = default;

  const double& radius() const { return radius_; }
  //! Atoms the latest call left out: no position, or (density forms) a
  //! missing occupancy or displacement.
  const int& num_skipped() const { return num_skipped_; }

 protected:
  explicit EDcalc_base(const double& radius) : radius_(radius) {}
  double radius_;
  mutable int num_skipped_ = 0;
};

}  // namespace vantrel

#endif
