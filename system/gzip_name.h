// Gzip names: the one rule by which a file's name says that the file holds
// gzip data, for every reader and writer of files.
//
// The rule looks at the name as given: a link named "model.pdb.gz" is read
// and written as gzip whatever the name of the file it leads to.
#ifndef VANTREL_SYSTEM_GZIP_NAME_H
#define VANTREL_SYSTEM_GZIP_NAME_H

#include "foundation/vstring.h"

namespace vantrel {

namespace Files {

//! True for a name ending in ".gz", in any case ("out.pdb.gz",
//! "OUT.PDB.GZ", "out.Gz"): a file read and written through gzip.
bool gzip_named(const String& name);

//! The name without its ending ".gz" (in any case); the name itself when
//! it is not gzip_named.
String without_gzip(const String& name);

}  // namespace Files

}  // namespace vantrel

#endif
