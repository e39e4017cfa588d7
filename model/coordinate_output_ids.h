// The identifiers and numbers of a model that a written PDB or mmCIF file
// could not hold whole, found before MMDBfile writes it, and before a run
// starts the work whose model it will write.
//
// Internal to the model code and the program's check of its outputs.
#ifndef VANTREL_MODEL_COORDINATE_OUTPUT_IDS_H
#define VANTREL_MODEL_COORDINATE_OUTPUT_IDS_H

#include <mmdb2/mmdb_manager.h>

#include "foundation/vstring.h"

namespace vantrel::mmdb_internal {

//! Why the model cannot be written in the form (PDB when pdb, else mmCIF),
//! or empty when it can: the first identifier or number that a
//! written file of the form could not hold
//! whole: a PDB record has fixed columns for each, and the library's mmCIF
//! reader fixed buffers (cif_limit); the library would cut them silently
//! or write a file it cannot read back. Numbers of a PDB record must fit
//! its columns too (a model number past 9999 would lose its last digit);
//! a residue number past 9999 is written in hybrid-36
//! ("A000" is 10000, "zzzz" 2436111), which the library reads back, but
//! without its insertion code (two residues 10000A and 10000B would read
//! as one number twice), and one below -999 as "****".
String output_id_fault(mmdb::Manager& mmdb, bool pdb);

//! Why a value cannot be written in the form (PDB when pdb, else mmCIF),
//! or empty when it can: in PDB a byte that is not printable ASCII; in
//! mmCIF also a start the library's writer leaves unquoted and its reader
//! then fails on (a tag, comment or text-field mark, a reserved word).
String unwritable(const String& value, bool pdb);

}  // namespace vantrel::mmdb_internal

#endif
