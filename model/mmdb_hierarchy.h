// Plain access to the coordinate library's hierarchy for the model code:
// every residue or atom record of a manager in turn, the buffer the library's id paths
// are written into, text stored into its fixed fields, and the end of an
// edit that keeps the models' numbers.
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

//! Ends an edit of the hierarchy (the library's FinishStructEdit) with each
//! model kept at its number. The library's end of an edit packs its table
//! of models and numbers them 1, 2 ... in order; a file's lone MODEL 2 (or
//! mmCIF model 2) is read as model 2 in the second place of the table, and
//! only so is it written as model 2 (a MODEL record in PDB form, the
//! library writing one only for a table of more than one place). The
//! models are put back in the places of their numbers, unless two share
//! one or one has none.
void finish_edit(mmdb::Manager& mmdb);

}  // namespace vantrel::mmdb_internal

#endif
