#include "reflections/datatypes.h"

#include <climits>

namespace vantrel {
namespace datatypes {

void Flag::data_import(const double* a) {
  const double v = a[0];
  // Converting a NaN or out-of-range double to int is undefined: such a
  // value is simply not a flag.
  if (Util::is_nan(v) || v <= double(INT_MIN) - 1.0 || v >= double(INT_MAX) + 1.0)
    flag_ = -1;
  else
    flag_ = int(v);
}

// The precisions the library stores.
template class F_sigF<float>;
template class F_sigF<double>;
template class F_phi<float>;
template class F_phi<double>;
template class Phi_fom<float>;
template class Phi_fom<double>;
template class E_sigE<float>;
template class E_sigE<double>;
template class ABCD<float>;
template class ABCD<double>;

}  // namespace datatypes
}  // namespace vantrel
