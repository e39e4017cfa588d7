// Interface of likelihood weighting: map coefficients, phases and figures of
// merit from observed amplitudes and calculated structure factors.
#ifndef VANTREL_CALCULATIONS_SFWEIGHT_BASE_H
#define VANTREL_CALCULATIONS_SFWEIGHT_BASE_H

#include "reflections/datatypes.h"
#include "reflections/hkl_data.h"

namespace vantrel {

//! Abstract structure-factor weighting (T float or double).
template <class T> class SFweight_base {
 public:
  //! Fill best (fb) and difference (fd) map coefficients and phase/fom
  //! (phiw) from fo and fc, refining on the reflections whose usage flag
  //! is not 0. Every list must be over one reflection list.
  virtual bool operator()(HKL_data<datatypes::F_phi<T>>& fb, HKL_data<datatypes::F_phi<T>>& fd,
                          HKL_data<datatypes::Phi_fom<T>>& phiw,
                          const HKL_data<datatypes::F_sigF<T>>& fo,
                          const HKL_data<datatypes::F_phi<T>>& fc,
                          const HKL_data<datatypes::Flag>& usage) = 0;
  virtual ~SFweight_base() = default;
};

}  // namespace vantrel

#endif
