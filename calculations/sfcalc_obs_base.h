// Interface of structure-factor calculators that use observed data: a
// calculated list filled from atoms, judged against observed amplitudes.
#ifndef VANTREL_CALCULATIONS_SFCALC_OBS_BASE_H
#define VANTREL_CALCULATIONS_SFCALC_OBS_BASE_H

#include "reflections/datatypes.h"
#include "reflections/hkl_data.h"
#include "symmetry/atom.h"

namespace vantrel {

//! Abstract structure-factor calculator with observed data (T float or double).
template <class T> class SFcalc_obs_base {
 public:
  //! Fill every entry of fphi (amplitude, phase in radians) from the atoms,
  //! using the observed amplitudes of fsig; both lists over one reflection list.
  virtual bool operator()(HKL_data<datatypes::F_phi<T>>& fphi,
                          const HKL_data<datatypes::F_sigF<T>>& fsig, const Atom_list& atoms) = 0;
  virtual ~SFcalc_obs_base() = default;
};

}  // namespace vantrel

#endif
