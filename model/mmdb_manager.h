// Coordinate-library manager: the MMDB manager extended by conversions of
// its crystal data (cell, spacegroup) to and from the library's own types.
//
// MMDB finds the operators of a spacegroup only through the SYMINFO (or
// CLIBD) environment variable; without it a file's spacegroup and cell read
// as null.
#ifndef VANTREL_MODEL_MMDB_MANAGER_H
#define VANTREL_MODEL_MMDB_MANAGER_H

#include <mmdb2/mmdb_manager.h>

#include "symmetry/cell.h"
#include "symmetry/spacegroup.h"

namespace vantrel {

//! An MMDB manager that reports and takes its crystal data as Cell and
//! Spacegroup. Not copyable: it owns the library's hierarchy.
class MMDBManager : public mmdb::Manager {
 public:
  //! The form in which a coordinate file is written.
  enum TYPE : int {
    AS_READ = -1,  //!< the form last read; PDB when nothing was read
    PDB = 0,
    CIF = 1,
    BINARY = 2  //!< the library's own binary form
  };

  //! An empty manager, ready to read a file or receive a model.
  MMDBManager();
  ~MMDBManager();
  MMDBManager(const MMDBManager&) = delete;
  MMDBManager& operator=(const MMDBManager&) = delete;

  //! The library's cell when it holds cell constants (whether or not it
  //! knows the group), else a null cell.
  Cell cell() const;
  void set_cell(const Cell& cell);
  //! The group of the library's symmetry operators when it knows them;
  //! else the group of the library's Hermann-Mauguin name when that holds
  //! a lattice letter (an unknown one is fatal, "Spgr_descr: No such HM
  //! symbol"); else the group of the name as read when it names one
  //! (short monoclinic names such as "P 21" and "C 2", which the library's
  //! table lacks, or compact ones, "P212121"); else a null spacegroup.
  Spacegroup spacegroup() const;
  //! Sets the library's spacegroup by its Hermann-Mauguin symbol.
  void set_spacegroup(const Spacegroup& spacegroup);
};

}  // namespace vantrel

#endif
