// Side-chain rotamers: lookup in the built-in rotamer table (the builder is
// MMonomer::protein_sidechain_build_rotamer).
#ifndef VANTREL_MODEL_ROTAMER_H
#define VANTREL_MODEL_ROTAMER_H

#include "foundation/vstring.h"

namespace vantrel {

//! Index in data::rotamer_data of the first record of rotamer n of the
//! residue type (only its first three characters count); -1 when the type
//! has no entry, is shorter than three characters, or n is out of range.
int rotamer_find(const String& type, int n);

}  // namespace vantrel

#endif
