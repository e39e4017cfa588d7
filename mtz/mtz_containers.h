// Container-tree nodes of MTZ crystal and dataset records, through which
// reflection data in a container tree are imported from and exported to
// MTZ files (CCP4MTZfile::import_chkl_data and export_chkl_data).
#ifndef VANTREL_MTZ_MTZ_CONTAINERS_H
#define VANTREL_MTZ_MTZ_CONTAINERS_H

#include "mtz/mtz_records.h"
#include "reflections/container.h"

namespace vantrel {

//! A node holding an MTZ crystal record; data below it belong to the crystal.
class CMTZcrystal : public Container, public MTZcrystal {
 public:
  CMTZcrystal(Container& parent, const String& name, const MTZcrystal& crystal)
      : Container(parent, name), MTZcrystal(crystal) {}
};

//! A node holding an MTZ dataset record; data below it belong to the dataset.
class CMTZdataset : public Container, public MTZdataset {
 public:
  CMTZdataset(Container& parent, const String& name, const MTZdataset& dataset)
      : Container(parent, name), MTZdataset(dataset) {}
};

}  // namespace vantrel

#endif
