// The check of an MTZ file's layout and header records before the CCP4
// library reads them: each rule refuses what the library would crash, loop,
// leak or misread on, saying what was found.
#ifndef VANTREL_MTZ_MTZ_HEADER_CHECK_H
#define VANTREL_MTZ_MTZ_HEADER_CHECK_H

#include <string>

#include "foundation/vstring.h"

namespace vantrel {

//! The start of every refusal of a file the library cannot read soundly.
extern const char* const mtz_damaged;  // "File missing or corrupted"

//! What keeps the library from reading the file, or "" when it has the
//! layout the library relies on: the "MTZ " stamp, a machine stamp the
//! library can read the rows by, a header position inside the file right
//! after NCOL x NREF row words, and sound header records up to an END
//! record and MTZENDOFHEADERS. The text is "unmerged MTZ files are not
//! supported", or starts with mtz_damaged.
std::string mtz_layout_fault(const String& filename);

}  // namespace vantrel

#endif
