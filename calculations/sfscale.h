// Anisotropic Gaussian scaling of structure-factor amplitudes.
#ifndef VANTREL_CALCULATIONS_SFSCALE_H
#define VANTREL_CALCULATIONS_SFSCALE_H

#include "calculations/sfscale_base.h"
#include "symmetry/atom.h"

namespace vantrel {

//! Scales amplitudes by exp(f(h)/2), f(h) = p0 - h^T P h (h orthogonal
//! reciprocal coordinates), fitted on the logarithm of intensity ratios.
/*! The fits run over every P1 reflection to the data's resolution whose
  observation is present with F >= nsig sigF; every present entry of the
  scaled list is then multiplied (F and sigF alike), missing entries stay
  missing. The stored tensor is U = P / (2 pi^2), so the amplitude factor
  is exp(p0/2) exp(-pi^2 h^T U h): twice the tensor of the conventional
  factor exp(-2 pi^2 h^T U h). After the isotropising form its trace is 0. */
template <class T> class SFscale_aniso : public SFscale_base<T> {
 public:
  explicit SFscale_aniso(const double nsig = 0.0) : nsig_(nsig) {}
  bool operator()(HKL_data<datatypes::F_sigF<T>>& fo,
                  const HKL_data<datatypes::F_phi<T>>& fc) override;
  //! fc must be over fo's reflection list (fatal message otherwise).
  bool operator()(HKL_data<datatypes::F_phi<T>>& fc,
                  const HKL_data<datatypes::F_sigF<T>>& fo) override;
  bool operator()(HKL_data<datatypes::F_sigF<T>>& fo) override;

  //! The tensor of the latest scaling (A^2, orthogonal frame).
  const U_aniso_orth& u_aniso_orth() const { return u_; }

 private:
  U_aniso_orth u_;
  double nsig_;
};

}  // namespace vantrel

#endif
