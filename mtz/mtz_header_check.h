// The check of an MTZ file's layout and header records before the CCP4
// library reads them: each rule refuses what the library would crash, loop,
// leak or misread on (numbers included), or a cell no crystal has, saying
// what was found.
#ifndef VANTREL_MTZ_MTZ_HEADER_CHECK_H
#define VANTREL_MTZ_MTZ_HEADER_CHECK_H

#include <string>

#include "foundation/vstring.h"
#include "symmetry/cell.h"

namespace vantrel {

//! The start of every refusal of a file the library cannot read soundly.
extern const char* const mtz_damaged;  // "File missing or corrupted"

//! Why cell constants (edges in A, angles in degrees) are no cell of a
//! crystal that the file's records hold, or "" when they are: edges from
//! 1 A to below 1e5 A, angles between 0 and 180 degrees, and a volume.
std::string cell_fault(const double constants[6]);
//! True when cell_fault finds nothing wrong with the cell's constants.
bool writable_cell(const Cell& cell);

//! What keeps the library from reading the file, or "" when it has the
//! layout the library relies on: the "MTZ " stamp, a machine stamp the
//! library can read the rows by (the 4 bytes of stamp, where given), a
//! header position inside the file right after NCOL x NREF row words, and
//! sound header records up to an END record and MTZENDOFHEADERS. The text
//! is "unmerged MTZ files are not supported", or starts with mtz_damaged.
std::string mtz_layout_fault(const String& filename, const std::string& stamp = "");

}  // namespace vantrel

#endif
