// Electron density and solvent masks from atoms: the mask, isotropic and
// anisotropic density calculators on crystallographic and box maps.
#ifndef VANTREL_CALCULATIONS_EDCALC_H
#define VANTREL_CALCULATIONS_EDCALC_H

#include "calculations/edcalc_base.h"

namespace vantrel {

/*! Every calculator visits, for each atom, the whole box of grid points
  within the radius along each cell axis of the atom's nearest grid point
  (the corners of the box lie beyond the radius), and:
  - EDcalc_mask sets 1 at the points closer than the radius (0 elsewhere);
  - EDcalc_iso adds the isotropic density of the atom at every point;
  - EDcalc_aniso adds the anisotropic density, or the isotropic one for an
    atom without a (finite) anisotropic tensor.
  On a crystallographic map the box is followed through symmetry, so every
  periodic and symmetry image within the box is summed, and each stored
  density value is finally multiplied by its point's multiplicity (the map
  then holds the density of the crystal). On a box map, points outside the
  map are passed over. Atoms without a finite position are skipped; the
  density forms also skip atoms whose occupancy or displacement is missing
  (num_skipped counts both). Sums are formed in double and stored as T. */
template <class T> class EDcalc_mask : public EDcalc_base<T> {
 public:
  explicit EDcalc_mask(const double radius = 2.5) : EDcalc_base<T>(radius) {}
  bool operator()(Xmap<T>& xmap, const Atom_list& atoms) const override;
  bool operator()(NXmap<T>& nxmap, const Atom_list& atoms) const override;
};

template <class T> class EDcalc_iso : public EDcalc_base<T> {
 public:
  explicit EDcalc_iso(const double radius = 2.5) : EDcalc_base<T>(radius) {}
  bool operator()(Xmap<T>& xmap, const Atom_list& atoms) const override;
  bool operator()(NXmap<T>& nxmap, const Atom_list& atoms) const override;
};

template <class T> class EDcalc_aniso : public EDcalc_base<T> {
 public:
  explicit EDcalc_aniso(const double radius = 2.5) : EDcalc_base<T>(radius) {}
  bool operator()(Xmap<T>& xmap, const Atom_list& atoms) const override;
  bool operator()(NXmap<T>& nxmap, const Atom_list& atoms) const override;
};

}  // namespace vantrel

#endif
