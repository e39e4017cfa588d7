// Interface of amplitude scalers: observed onto calculated, calculated onto
// observed, and observed made isotropic.
#ifndef VANTREL_CALCULATIONS_SFSCALE_BASE_H
#define VANTREL_CALCULATIONS_SFSCALE_BASE_H

#include "reflections/datatypes.h"
#include "reflections/hkl_data.h"

namespace vantrel {

//! Abstract scaler of structure-factor amplitudes (T float or double).
template <class T> class SFscale_base {
 public:
  //! Scale the observed list (in place) onto the calculated one.
  virtual bool operator()(HKL_data<datatypes::F_sigF<T>>& fo,
                          const HKL_data<datatypes::F_phi<T>>& fc) = 0;
  //! Scale the calculated list (in place) onto the observed one.
  virtual bool operator()(HKL_data<datatypes::F_phi<T>>& fc,
                          const HKL_data<datatypes::F_sigF<T>>& fo) = 0;
  //! Remove the anisotropy of the observed list (in place).
  virtual bool operator()(HKL_data<datatypes::F_sigF<T>>& fo) = 0;
  virtual ~SFscale_base() = default;
};

}  // namespace vantrel

#endif
