// Structure factors of an atomic model with a flat bulk-solvent correction,
// the solvent level chosen against observed amplitudes.
#ifndef VANTREL_CALCULATIONS_SFCALC_OBS_H
#define VANTREL_CALCULATIONS_SFCALC_OBS_H

#include "calculations/sfcalc_obs_base.h"

namespace vantrel {

//! Fc = Fatoms + k Fsolvent, with k searched against the observations.
/*! The atomic term is the FFT of the density painted on a map of rate 1.5
  with B = 20 A^2 added to every atom (removed again in reciprocal space);
  the solvent term is the FFT of the region farther than 2.5 A from every
  atom, smoothed by B = 50 A^2. The level k is chosen by an 8-cycle
  interval search (start 0.35, first step 0.35, halved each cycle; so k
  lies in -0.347..1.047) minimising sum (2/eps) |sqrt(s) Fc - Fo| over the
  observed reflections, s(h) an intensity-scale spline of n parameters
  refitted at each trial level. fphi receives the unscaled Fc for every
  reflection, observed or not. Map and density are single precision; the
  level arithmetic is in T. */
template <class T> class SFcalc_obs_bulk : public SFcalc_obs_base<T> {
 public:
  explicit SFcalc_obs_bulk(const int n_params = 12) : nparams_(n_params) {}
  //! Construct and calculate at once.
  SFcalc_obs_bulk(HKL_data<datatypes::F_phi<T>>& fphi, const HKL_data<datatypes::F_sigF<T>>& fsig,
                  const Atom_list& atoms, const int n_params = 12);
  //! Fatal message when the two lists are not over one reflection list.
  bool operator()(HKL_data<datatypes::F_phi<T>>& fphi, const HKL_data<datatypes::F_sigF<T>>& fsig,
                  const Atom_list& atoms) override;

  //! Solvent volume fraction of the cell, from the latest calculation.
  const double& bulk_frac() const { return bulk_frac_; }
  //! The chosen solvent level k, from the latest calculation.
  const double& bulk_scale() const { return bulk_scale_; }

 private:
  int nparams_;
  double bulk_frac_ = 0.0;
  double bulk_scale_ = 0.0;
};

}  // namespace vantrel

#endif
