// The container forms of import and export: data nodes hung below crystal
// and dataset nodes that carry the file's records.
#include "mtz/mtz_containers.h"

#include "foundation/message.h"
#include "mtz/mtz_file.h"
#include "reflections/hkl_containers.h"

namespace vantrel {

void CCP4MTZfile::import_chkl_data(Container& data, const String& mtzpath, const String& path) {
  if (mode_ != READ) fatal("CCP4MTZfile: no file open for read");
  HKL_data_base* hkl_data = dynamic_cast<HKL_data_base*>(&data);
  if (hkl_data == nullptr) fatal("CCP4MTZfile: import object not HKL_data");
  CHKL_info* info = data.parent_of_type_ptr<CHKL_info>();
  if (info == nullptr) fatal("CCP4MTZfile: import HKL_data has no HKL_info");

  MTZcrystal crystal;
  MTZdataset dataset;
  import_hkl_data(*hkl_data, dataset, crystal, mtzpath);

  // path is read from its end: [crystal/][dataset/]name, each part optional.
  String crystal_name = path.notail().notail().tail();
  String dataset_name = path.notail().tail();
  String data_name = path.tail();
  if (crystal_name.empty()) crystal_name = crystal.crystal_name();
  if (dataset_name.empty()) dataset_name = dataset.dataset_name();
  if (data_name.empty()) data_name = mtzpath.tail();

  Container* crystal_node = info->find_path_ptr(crystal_name);
  if (crystal_node == nullptr) {
    crystal_node = new CMTZcrystal(*info, crystal_name, crystal);
    crystal_node->set_destroyed_with_parent(true);
  }
  Container* dataset_node = crystal_node->find_path_ptr(dataset_name);
  if (dataset_node == nullptr) {
    dataset_node = new CMTZdataset(*crystal_node, dataset_name, dataset);
    dataset_node->set_destroyed_with_parent(true);
  }
  data.move(dataset_node->path() + "/" + data_name);
}

void CCP4MTZfile::export_chkl_data(Container& data, const String& mtzpath) {
  if (mode_ != WRITE && mode_ != APPEND) fatal("CCP4MTZfile: no file open for write/append");
  const HKL_data_base* hkl_data = dynamic_cast<const HKL_data_base*>(&data);
  if (hkl_data == nullptr) fatal("CCP4MTZfile: export object not HKL_data");
  const MTZdataset* dataset = data.parent_of_type_ptr<MTZdataset>();
  if (dataset == nullptr) fatal("CCP4MTZfile: HKL_data has no parent MTZdataset");
  const MTZcrystal* crystal = data.parent_of_type_ptr<MTZcrystal>();
  if (crystal == nullptr) fatal("CCP4MTZfile: HKL_data has no parent MTZcrystal");
  export_crystal(*crystal, mtzpath);
  export_dataset(*dataset, mtzpath);
  export_hkl_data(*hkl_data, mtzpath);
}

}  // namespace vantrel
