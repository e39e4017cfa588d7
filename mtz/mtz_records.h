// MTZ crystal and dataset records: the named cell of a crystal and the named
// wavelength of a dataset, as held in an MTZ file's hierarchy.
#ifndef VANTREL_MTZ_MTZ_RECORDS_H
#define VANTREL_MTZ_MTZ_RECORDS_H

#include "foundation/vstring.h"
#include "symmetry/cell.h"

namespace vantrel {

//! An MTZ crystal: its cell (the base part), crystal name and project name.
class MTZcrystal : public Cell {
 public:
  //! Null cell, empty names.
  MTZcrystal() = default;
  MTZcrystal(const String& crystal_name, const String& project_name, const Cell& cell)
      : Cell(cell), crystal_name_(crystal_name), project_name_(project_name) {}
  const String& crystal_name() const { return crystal_name_; }
  const String& project_name() const { return project_name_; }

 private:
  String crystal_name_;
  String project_name_;
};

//! An MTZ dataset: its name and X-ray wavelength in Angstrom.
class MTZdataset {
 public:
  //! Empty name, wavelength 0.
  MTZdataset() = default;
  MTZdataset(const String& dataset_name, const double& wavelength)
      : dataset_name_(dataset_name), wavelength_(wavelength) {}
  const String& dataset_name() const { return dataset_name_; }
  const double& wavelength() const { return wavelength_; }

 private:
  String dataset_name_;
  double wavelength_ = 0.0;
};

}  // namespace vantrel

#endif
