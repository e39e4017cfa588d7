// Internal helpers of the protein builders: main-chain atom positions and
// removing atoms from a monomer, which has no erase of its own.
#ifndef VANTREL_MODEL_MONOMER_EDIT_H
#define VANTREL_MODEL_MONOMER_EDIT_H

#include "model/minimol.h"

namespace vantrel {
namespace detail {

//! The first stored atom with this base id, or nullptr.
inline const MAtom* find_base(const MMonomer& m, const char* name) {
  const int i = m.lookup(name, MM::BASE_ID);
  return i < 0 ? nullptr : &m[i];
}

//! The monomer without the atoms for which drop(index, atom) is true; id,
//! type and properties stay.
template <class Drop> void remove_atoms(MMonomer& m, Drop drop) {
  MMonomer kept;
  kept.copy(m, MM::COPY(MM::COPY_MEMBERS | MM::COPY_PROPERTIES));
  for (int i = 0; i < m.size(); ++i)
    if (!drop(i, m[i])) kept.insert(m[i], -1);
  m = kept;
}

}  // namespace detail
}  // namespace vantrel

#endif
