#include "symmetry/hkl_class.h"

#include <cmath>

#include "foundation/util.h"
#include "symmetry/spacegroup.h"

namespace vantrel {

HKL_class::HKL_class(const Spacegroup& spgr, const HKL& hkl) {
  int epsilon = 1;
  int allowed = 255;
  for (int i = 1; i < spgr.op_count(); i++) {
    const HKL image = hkl.transform(spgr.isymop(i));
    const double shift = hkl.sym_phase_shift(spgr.symop(i));
    if (image == hkl) {
      if (std::cos(shift) > 0.999) {
        epsilon++;
      } else {  // systematic absence
        epsilon = 0;
        allowed = 0;
        break;
      }
    } else if (image == -hkl) {
      const double x = Util::mod(shift * -0.5, Util::pi());
      allowed = int(std::lrint(x / (Util::pi() / 12.0)));
    }
  }
  if (hkl == HKL(0, 0, 0)) allowed = 0;
  epsilon_ = std::uint8_t(epsilon);
  allowed_ = std::uint8_t(allowed);
}

double HKL_class::allowed_phase() const { return double(allowed_) * (Util::pi() / 12.0); }

}  // namespace vantrel
