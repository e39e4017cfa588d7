// Reflection class: the epsilon multiplicity, centric phase and systematic
// absence of one reflection under a space group.
#ifndef VANTREL_SYMMETRY_HKL_CLASS_H
#define VANTREL_SYMMETRY_HKL_CLASS_H

#include <cstdint>

#include "symmetry/coords.h"

namespace vantrel {

class Spacegroup;

//! The symmetry class of a reflection: epsilon multiplicity (0 when
//! systematically absent) and, for a centric reflection, its allowed phase.
class HKL_class {
 public:
  HKL_class() : epsilon_(1), allowed_(255) {}
  HKL_class(const Spacegroup& spgr, const HKL& hkl);
  int epsilon() const { return epsilon_; }
  //! 2 * epsilon for a centric reflection, epsilon for an acentric one
  int epsilon_centric() const { return centric() ? 2 * epsilon_ : epsilon_; }
  //! allowed phase in radians (that value or that value + pi)
  double allowed_phase() const;
  bool centric() const { return allowed_ != 255; }
  bool is_absent() const { return epsilon_ == 0; }

 private:
  std::uint8_t epsilon_;
  std::uint8_t allowed_;  // allowed phase in units of pi/12; 255 acentric
};

}  // namespace vantrel

#endif
