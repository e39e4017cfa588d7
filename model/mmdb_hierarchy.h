// Plain access to the coordinate library's hierarchy for the model code:
// every residue or atom record of a manager in turn, the buffer the library's id paths
// are written into, and text stored into its fixed fields.
//
// Internal to the model code.
#ifndef VANTREL_MODEL_MMDB_HIERARCHY_H
#define VANTREL_MODEL_MMDB_HIERARCHY_H

#include <algorithm>
#include <cstring>

#include <mmdb2/mmdb_manager.h>

#include "foundation/vstring.h"

namespace vantrel::mmdb_internal {

//! Calls f(mmdb::Residue*) on every residue of every model, in model,
//! chain and residue order; empty slots are passed over.
template <class F> void for_each_residue(mmdb::Manager& mmdb, F f) {
  for (int m = 1; m <= mmdb.GetNumberOfModels(); ++m) {
    mmdb::Model* model = mmdb.GetModel(m);
    if (!model) continue;
    for (int c = 0; c < model->GetNumberOfChains(); ++c) {
      mmdb::Chain* chain = model->GetChain(c);
      if (!chain) continue;
      for (int r = 0; r < chain->GetNumberOfResidues(); ++r)
        if (mmdb::Residue* residue = chain->GetResidue(r)) f(residue);
    }
  }
}

//! Calls f(mmdb::Atom*) on every atom record (TER records included) of
//! every model, in model, chain, residue and atom order; empty slots are
//! passed over.
template <class F> void for_each_atom(mmdb::Manager& mmdb, F f) {
  for_each_residue(mmdb, [&](mmdb::Residue* residue) {
    for (int a = 0; a < residue->GetNumberOfAtoms(); ++a)
      if (mmdb::Atom* atom = residue->GetAtom(a)) f(atom);
  });
}

//! Large enough for any identifier path the library writes (GetAtomID and
//! the like): the longest path joins a model number and fixed fields of at
//! most 20 bytes each.
constexpr int id_buffer_size = 256;

//! Copies at most N-1 bytes of text into a fixed library text field and
//! zero-fills the rest, so the field always ends in a terminator.
template <std::size_t N> void copy_field(char (&field)[N], const String& text) {
  const std::size_t n = std::min(text.size(), N - 1);
  std::memcpy(field, text.data(), n);
  std::memset(field + n, 0, N - n);
}

}  // namespace vantrel::mmdb_internal

#endif
