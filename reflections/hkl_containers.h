// Container-tree nodes that hold crystallographic parameters (space group,
// cell, resolution, grid sampling) and reflection lists, and the library's
// null default objects.
#ifndef VANTREL_REFLECTIONS_HKL_CONTAINERS_H
#define VANTREL_REFLECTIONS_HKL_CONTAINERS_H

#include "reflections/container.h"
#include "reflections/hkl_info.h"
#include "symmetry/cell.h"
#include "symmetry/sampling.h"
#include "symmetry/spacegroup.h"

namespace vantrel {

// Null default objects: the arguments for parameters that are not given.
// Each is null (space group without operators, cell of volume 0, limit 0,
// grid 0 x 0 x 0). Like NullHKL_info they are built before any static
// initialiser of a file that includes this header can use them (see
// detail::Null_objects_init in hkl_info.h).
extern const Spacegroup& NullSpacegroup;
extern const Cell& NullCell;
extern const Resolution& NullResolution;
extern const Grid_sampling& NullGrid_sampling;

//! A node holding a space group, supplied to every node below it.
class CSpacegroup : public Container, public Spacegroup {
 public:
  explicit CSpacegroup(Container& parent, const String& name = "",
                       const Spacegroup& spgr = NullSpacegroup)
      : Container(parent, name), Spacegroup(spgr) {}
  explicit CSpacegroup(const String& name, const Spacegroup& spgr = NullSpacegroup)
      : Container(name), Spacegroup(spgr) {}
  //! Stores the space group, then updates the nodes below.
  void init(const Spacegroup& spgr);
  //! Writes the paths of the subtree (the value's own is Spacegroup::debug).
  using Container::debug;
};

//! A node holding a cell, supplied to every node below it.
class CCell : public Container, public Cell {
 public:
  explicit CCell(Container& parent, const String& name = "", const Cell& cell = NullCell)
      : Container(parent, name), Cell(cell) {}
  explicit CCell(const String& name, const Cell& cell = NullCell) : Container(name), Cell(cell) {}
  //! Stores the cell, then updates the nodes below.
  void init(const Cell& cell);
  //! Writes the paths of the subtree (the value's own is Cell::debug).
  using Container::debug;
};

//! A node holding a resolution limit, supplied to every node below it.
class CResolution : public Container, public Resolution {
 public:
  explicit CResolution(Container& parent, const String& name = "",
                       const Resolution& resolution = NullResolution)
      : Container(parent, name), Resolution(resolution) {}
  explicit CResolution(const String& name, const Resolution& resolution = NullResolution)
      : Container(name), Resolution(resolution) {}
  //! Stores the resolution, then updates the nodes below.
  void init(const Resolution& resolution);
};

//! A node holding a reflection list.
/*! Parameters that are not given (null) are taken from the nearest
  ancestor holding one. A list that stays null for want of parameters
  builds itself at the first update after they appear; once built it is
  rebuilt only by an explicit init. */
class CHKL_info : public Container, public HKL_info {
 public:
  //! A null list below parent, built from the ancestors' parameters when
  //! they are all present; generate asks for the reflections to be listed.
  explicit CHKL_info(Container& parent, const String& name = "", const bool& generate = false);
  //! A root node with a list built from the given parameters.
  CHKL_info(const String& name, const Spacegroup& spgr, const Cell& cell,
            const Resolution& resolution, const bool& generate = false);

  //! Builds the list from the parameters, each null one taken from the
  //! nearest ancestor; unchanged unless all three are found and non-null.
  //! The generate flag is sticky: once set it stays set. Then updates the
  //! nodes below.
  void init(const Spacegroup& spgr, const Cell& cell, const Resolution& resolution,
            const bool& generate = false);
  //! Lists the reflections, then updates the nodes below.
  void generate_hkl_list();
  //! Builds a still-null list from the ancestors; passes the update on.
  void update() override;
  //! Writes the paths of the subtree (the list's own is HKL_info::debug).
  using Container::debug;

 private:
  bool generate_ = false;
};

//! A node holding a map grid sampling.
/*! Built like CHKL_info's list: from given parameters, or from the
  ancestors' when the grid is null. */
class CGrid_sampling : public Container, public Grid_sampling {
 public:
  //! A node below parent holding the given grid.
  CGrid_sampling(Container& parent, const String& name, const Grid_sampling& grid);
  //! A null grid below parent, built from the ancestors' parameters at the
  //! given sampling rate when they are all present.
  explicit CGrid_sampling(Container& parent, const String& name = "", const double& rate = 1.5);
  //! A root node holding the given grid.
  explicit CGrid_sampling(const String& name, const Grid_sampling& grid = NullGrid_sampling);

  //! Stores the grid, then updates the nodes below.
  void init(const Grid_sampling& grid);
  //! Chooses the grid from the parameters, each null one taken from the
  //! nearest ancestor; unchanged unless all three are found and non-null.
  //! A rate below 1 keeps the stored rate. Then updates the nodes below.
  void init(const Spacegroup& spgr, const Cell& cell, const Resolution& resolution,
            const double& rate);
  //! Builds a still-null grid from the ancestors; passes the update on.
  void update() override;
  //! Writes the paths of the subtree (the grid's own is Grid::debug).
  using Container::debug;

  const double& rate() const { return rate_; }

 private:
  double rate_ = 1.5;
};

}  // namespace vantrel

#endif
