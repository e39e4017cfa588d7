// Internal helper of the protein builders: a main-chain atom of a monomer
// found by base id.
#ifndef VANTREL_MODEL_MAINCHAIN_ATOM_H
#define VANTREL_MODEL_MAINCHAIN_ATOM_H

#include "model/minimol.h"

namespace vantrel {
namespace detail {

//! The first stored atom with this base id, or nullptr.
inline const MAtom* find_base(const MMonomer& m, const char* name) {
  const int i = m.lookup(name, MM::BASE_ID);
  return i < 0 ? nullptr : &m[i];
}

}  // namespace detail
}  // namespace vantrel

#endif
