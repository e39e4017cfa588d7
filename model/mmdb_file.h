// Coordinate files: reading and writing PDB, mmCIF and the coordinate
// library's binary form, and moving their content into and out of a MiniMol.
//
// Every node an import creates carries a "CID" property, the library's path
// of the object it came from, and atoms with an alternate location an
// "AltConf" property; exporting the model back into the same object finds
// those objects again through their paths and updates them in place.
#ifndef VANTREL_MODEL_MMDB_FILE_H
#define VANTREL_MODEL_MMDB_FILE_H

#include "model/minimol.h"
#include "model/mmdb_manager.h"

namespace vantrel {

//! A coordinate file held by the coordinate library.
/*! Failures are fatal messages naming the file:
  "MMDBfile: read_file error: <file> : <code> (<description>)" and
  "MMDBfile: write_file error: <file> : <code> (<description>)", the code
  being the library's error code right-aligned in 4 characters and the
  description the library's own text for it. Faults the library would not
  survive or would read wrongly are refused before or after it reads, with
  the line or atom named after the file: paths that are not regular files
  (code 15), lines longer than 4095 characters, PDB anisotropic records
  without an atom before them, mmCIF identifiers longer than its reader
  holds, atom records without a position (code 11) and numbers that are
  not finite. Writes first check the path ("MMDBfile: write_file error:
  cannot write <file>: <reason>") and refuse a model whose identifiers the
  form cannot hold; the file is written to a temporary beside the target
  and renamed over it only when complete. */
class MMDBfile : public MMDBManager {
 public:
  //! Reads a PDB, mmCIF or binary file, the form recognised from its content
  //! (gzip-compressed files are read too), under the flags set beforehand.
  void read_file(const String& file);
  //! Writes the whole content in the given form; AS_READ uses the form of
  //! the last file read, PDB when none was read.
  void write_file(const String& file, TYPE type);
  //! Replaces the model by the library's first model (restricted to the atoms of
  //! a library selection handle when selection >= 0), with the library's
  //! spacegroup and cell. TER records become no atoms; numbers the file does
  //! not give are missing (NaN); isotropic U = B / 8 pi^2.
  void import_minimol(MiniMol& model, int selection);
  //! Writes the model into the library's hierarchy: objects found through
  //! the nodes' "CID" paths are updated, the rest created in model order.
  //! Missing numbers leave the library's values as they were.
  void export_minimol(const MiniMol& model);
};

}  // namespace vantrel

#endif
