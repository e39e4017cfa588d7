// Reading: the header at open_read, reflection lists, registration of data
// objects against column paths, and the rows at close_read.
#include <cmath>

#include "foundation/message.h"
#include "foundation/util.h"
#include "mtz/mtz_ccp4.h"
#include "mtz/mtz_file.h"
#include "mtz/mtz_types.h"

namespace vantrel {

namespace {

// A label list names the components in order; those it leaves out are
// missing (NaN in every reflection). A list with no label, or with more
// labels than the data have components, would drop what it names.
void check_label_list(const HKL_data_base& data, const String& mtzpath) {
  const std::size_t open = mtzpath.find('[');
  if (open == String::npos) return;
  const String list = mtzpath.substr(open + 1, mtzpath.find(']', open) - open - 1);
  const int n = int(list.split(", ").size());
  if (n < 1 || n > data.data_size())
    fatal("CCP4MTZfile: import_hkl_data - Column list must name 1 to " + String(data.data_size()) +
          " columns: " + mtzpath);
}

}  // namespace

void CCP4MTZfile::open_read(const String& filename) {
  if (mode_ != NONE) fatal("CCP4MTZfile: open_read - File already open");
  filename_in_ = filename;
  reset_on_failure([&] { read_header("open_read", true); });
  mode_ = READ;
}

void CCP4MTZfile::import_hkl_info(HKL_info& target, const bool generate) {
  Spacegroup spacegroup = target.spacegroup();
  Cell cell = target.cell();
  Resolution resolution = target.resolution();
  if (spacegroup.is_null()) spacegroup = spacegroup_;
  if (cell.is_null()) cell = cell_;
  if (resolution.is_null()) resolution = resolution_;
  target.init(spacegroup, cell, resolution, false);
  if (generate)
    target.generate_hkl_list();
  else
    import_hkl_list(target);
}

void CCP4MTZfile::import_hkl_list(HKL_info& target) {
  if (mode_ != READ) fatal("CCP4MTZfile: no file open for read");
  Mtz_ptr mtz = mtz_get_header(*input_, "import_hkl_list");
  const std::vector<CMtz::MTZCOL*> lookup = build_lookup(mtz.get());
  int pos[3];
  index_positions(lookup, pos);
  const CMtz::MTZCOL* index_cols[3] = {lookup[pos[0]], lookup[pos[1]], lookup[pos[2]]};
  const int at[3] = {0, 1, 2};

  const double limit = target.resolution().invresolsq_limit();
  std::vector<HKL> hkls;
  float values[3], resol;
  int missing[3];
  const int nref = CMtz::MtzNref(mtz.get());
  for (int row = 1; row <= nref; ++row) {
    if (CMtz::ccp4_lrreff(mtz.get(), &resol, values, missing, index_cols, 3, row) != 0)
      fatal("CCP4MTZfile: import_hkl_list - File truncated: " + filename_in_);
    HKL hkl;
    if (row_hkl(values, missing, at, hkl) && hkl.invresolsq(target.cell()) < limit)
      hkls.push_back(hkl);
  }
  target.add_hkl_list(hkls);
}

void CCP4MTZfile::import_hkl_data(HKL_data_base& data, const String& mtzpath) {
  if (mode_ != READ) fatal("CCP4MTZfile: import_hkl_data - no file open for read");
  const int n = data.data_size();
  const std::vector<String> paths = mtz_assign(mtzpath, data.type(), data.data_names(), n);
  const std::vector<String> names = data.data_names().split(" ");
  check_label_list(data, mtzpath);

  // Resolve every component before changing anything, so that a failure
  // leaves the object as it was.
  std::vector<hkldatacol> cols(n);
  std::vector<String> assigned;
  int init_crystal = -1;
  for (int k = 0; k < n; ++k) {
    if (is_virtual_col(paths[k])) {
      cols[k] = {"NAN", 1.0};
      assigned.push_back("/*/*/NAN -");
      continue;
    }
    int x, s, c;
    match_path(paths[k], x, s, c);
    if (c < 0)
      fatal("CCP4MTZfile: import_hkl_data - Missing column, crystal or dataset: " + paths[k]);
    const String expected = CCP4MTZ_type_registry::type(names.at(k));
    const datacolinf& col = crystals_[x].datasets[s].columns[c];
    if (col.type != expected)
      Message::message(Message_warn("CCP4MTZfile: Mtz column type mismatch: " + col.label + " " +
                                    col.type + "-" + expected));
    const String path = column_path(x, s, col.label);
    cols[k] = {path, double(CCP4MTZ_type_registry::scale(names.at(k)))};
    assigned.push_back(path + " " + col.type);
    if (init_crystal < 0) init_crystal = x;
  }

  if (data.is_null() && init_crystal >= 0) {
    // The shared list of this group and sampling, when this call creates
    // it, is made in the file's base cell; the data keep their crystal's.
    const HKL_data<datatypes::Flag> base_cell_list(spacegroup_, cell_, hkl_sampling_);
    data.init(spacegroup_, crystals_[init_crystal].crystal, hkl_sampling_);
  }
  assigned_paths_.insert(assigned_paths_.end(), assigned.begin(), assigned.end());
  hkl_data_in_.push_back(&data);
  hkl_data_cols_.push_back(cols);
}

void CCP4MTZfile::import_hkl_data(HKL_data_base& data, MTZdataset& dataset, MTZcrystal& crystal,
                                  const String& mtzpath) {
  // The records of the crystal and dataset that hold the data's columns.
  check_label_list(data, mtzpath);
  const String path = first_column_path(data, mtzpath);
  import_crystal(crystal, path);
  import_dataset(dataset, path);
  import_hkl_data(data, mtzpath);
}

void CCP4MTZfile::close_read() {
  if (mode_ != READ) fatal("CCP4MTZfile: no file open for read");
  // A failed close closes all the same: the registered objects may be gone
  // before a second attempt (the destructor's) could fill them.
  reset_on_failure([&] { read_rows(); });
  reset();
}

void CCP4MTZfile::read_rows() {
  Mtz_ptr mtz = mtz_get_header(*input_, "close_read");
  const std::vector<CMtz::MTZCOL*> lookup = build_lookup(mtz.get());
  int pos[3];
  index_positions(lookup, pos);
  std::vector<std::vector<int>> positions;
  std::vector<std::vector<double>> scales;
  reference_cols(mtz.get(), lookup, hkl_data_cols_, positions, scales);
  for (HKL_data_base* data : hkl_data_in_) data->update();

  // Row buffers sized from the file and the widest registered datatype.
  std::vector<const CMtz::MTZCOL*> cols(lookup.begin(), lookup.end());
  std::vector<float> values(cols.size());
  std::vector<int> missing(cols.size());
  std::vector<double> components(widest(positions));
  float resol;
  const int nref = CMtz::MtzNref(mtz.get());
  for (int row = 1; row <= nref; ++row) {
    if (CMtz::ccp4_lrreff(mtz.get(), &resol, values.data(), missing.data(), cols.data(),
                          int(cols.size()), row) != 0)
      fatal("CCP4MTZfile: close_read - File truncated: " + filename_in_);
    HKL hkl;
    if (!row_hkl(values.data(), missing.data(), pos, hkl)) continue;
    for (std::size_t j = 0; j < hkl_data_in_.size(); ++j) {
      // An object none of whose components has a column may still be null
      // (no list to put values in): it stays as it was.
      if (hkl_data_in_[j]->is_null()) continue;
      for (std::size_t k = 0; k < positions[j].size(); ++k) {
        const int p = positions[j][k];
        components[k] =
            (p >= 0 && missing[p] == 0) ? double(values[p]) / scales[j][k] : Util::nand();
      }
      hkl_data_in_[j]->data_import(hkl, components.data());
    }
  }
}

}  // namespace vantrel
