// The file object's state, its column paths and hierarchy queries, and the
// header reading shared by the read and append paths.
#include "mtz/mtz_file.h"

#include "system/output_file.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "foundation/message.h"
#include "mtz/mtz_ccp4.h"
#include "mtz/mtz_header_check.h"

namespace vantrel {

// ---------------------------------------------------------------- paths

bool match_glob(const String& name, const String& pattern) {
  const std::size_t star = pattern.find('*');
  if (star == String::npos) return name == pattern;
  const std::size_t nsuffix = pattern.size() - star - 1;
  // Prefix and suffix are tested independently; they may overlap in name.
  return name.size() >= star && name.size() >= nsuffix &&
         name.compare(0, star, pattern, 0, star) == 0 &&
         name.compare(name.size() - nsuffix, nsuffix, pattern, star + 1, nsuffix) == 0;
}

std::vector<String> mtz_assign(const String& path, const String& type, const String& names,
                               const int& n) {
  std::vector<String> result(std::size_t(std::max(n, 0)), "MNF");
  const std::size_t open = path.find('[');
  if (open != String::npos) {
    const String prefix = path.substr(0, open);
    const std::size_t close = path.find(']', open);
    const String list =
        path.substr(open + 1, close == String::npos ? String::npos : close - open - 1);
    const std::vector<String> labels = list.split(", ");
    for (std::size_t i = 0; i < labels.size() && i < result.size(); ++i)
      result[i] = prefix + labels[i];
  } else {
    const std::vector<String> components = names.split(" ");
    for (std::size_t i = 0; i < components.size() && i < result.size(); ++i)
      result[i] = path + "." + type + "." + components[i];
  }
  return result;
}

bool is_virtual_col(const String& path) {
  const String label = path.tail();
  return label == "MNF" || label == "NAN" || label == "mnf" || label == "nan";
}

// ---------------------------------------------------------------- object

CCP4MTZfile::CCP4MTZfile() = default;

CCP4MTZfile::~CCP4MTZfile() {
  // Destroyed while an exception unwinds the stack, the registered objects
  // (commonly declared after this one) may already be gone: the file is
  // closed without moving any rows.
  if (std::uncaught_exceptions() > 0) {
    reset();
    return;
  }
  // A failed close has printed its message; a destructor must not throw.
  try {
    if (mode_ == READ) close_read();
    if (mode_ == WRITE) close_write();
    if (mode_ == APPEND) close_append();
  } catch (...) {
  }
}

void CCP4MTZfile::reset() {
  hkl_data_in_.clear();
  hkl_data_out_.clear();
  hkl_data_cols_.clear();
  crystals_.clear();
  assigned_paths_.clear();
  filename_in_.clear();
  input_.reset();
  filename_out_.clear();
  output_.reset();
  mode_ = NONE;
}

void CCP4MTZfile::read_header(const String& operation, const bool reading) {
  const String where = "CCP4MTZfile: " + operation + " - ";
  input_ = std::make_shared<Mtz_input>(filename_in_, operation);
  Mtz_ptr mtz = mtz_get_header(*input_, operation);
  if (!reading && mtz->histlines > mtz_max_history)
    Message::message(Message_warn(where + "the copy keeps the latest " + String(mtz_max_history) +
                                  " of " + String(mtz->histlines) +
                                  " history lines, as many as the CCP4 library writes: " +
                                  filename_in_));
  read_hierarchy(mtz.get(), crystals_);
  int x, s, c;
  match_path("/HKL_base/HKL_base/H", x, s, c);
  if (x < 0) fatal("CCP4MTZfile: No cell! ");
  cell_ = crystals_[x].crystal;
  if (cell_.is_null()) fatal(where + "Invalid cell in: " + filename_in_);
  // Every crystal's cell is written back by an append, so each must fit
  // the file's records, and the symmetry must hold in each.
  const std::vector<Symop> ops = read_symops(mtz.get());
  if (ops.empty()) fatal(where + "Invalid symmetry in: " + filename_in_);
  const String group_fault = symop_group_fault(ops);  // the same for every crystal
  for (const crystalinf& xtal : crystals_) {
    const MTZcrystal& crystal = xtal.crystal;
    if (!writable_cell(crystal))
      fatal(where + "Invalid cell of crystal " + crystal.crystal_name() + " in: " + filename_in_);
    String fault = symop_metric_fault(ops, crystal);
    if (fault.empty()) fault = group_fault;
    if (!fault.empty())
      fatal(where + "Symmetry does not fit crystal " + crystal.crystal_name() +
            " in: " + filename_in_ + ": " + fault);
  }
  read_spacegroup(mtz.get(), spacegroup_);

  if (CMtz::MtzNref(mtz.get()) <= 0) {
    if (reading) fatal(where + "File has no reflections: " + filename_in_);
    resolution_ = Resolution();
    hkl_sampling_ = HKL_sampling();
    return;
  }
  // The RESO record's finest limit, in 1/d^2 (the library gives 0 without
  // the record), when it is one: positive and at least the coarsest (d
  // spacings written in its place, or the limits swapped, are not).
  // 0.9999 keeps the finest reflection inside the limit.
  float coarsest = 0.0f, finest = 0.0f;
  CMtz::MtzResLimits(mtz.get(), &coarsest, &finest);
  const Resolution header = finest > 0.0f && finest >= coarsest
                                ? Resolution(0.9999 / std::sqrt(double(finest)))
                                : Resolution();
  const Row_reach reach =
      row_reach(mtz.get(), cell_, header.is_null() ? 0.0 : header.invresolsq_limit(), filename_in_,
                operation);
  // A row whose indices no list can hold would be lost to every reader (a
  // copy takes it over as it is).
  if (reading && reach.unindexed > 0)
    fatal(where + mtz_damaged + ": " + String(reach.unindexed) + " of " + String(reach.rows) +
          " rows have indices no reflection list holds (missing, or past 100000), the first row " +
          String(reach.first_unindexed) + ": " + filename_in_);
  if (reading && reach.fractional > 0)
    fatal(where + mtz_damaged + ": " + String(reach.fractional) + " of " + String(reach.rows) +
          " rows have indices that are not whole numbers, the first row " +
          String(reach.first_fractional) + ": " + filename_in_);
  // Rows beyond a RESO record (a stale one) would be left out of the
  // file's list: the limit is then the data's own, as the library's reader
  // widens it when it reads the rows. So it is without a usable record, or
  // with one whose coarse end is finer than every row (d spacings in
  // ascending order), which would ask for a list far finer than the data.
  resolution_ = header;
  if (reach.beyond > 0 || header.is_null() || double(coarsest) > reach.finest / 0.9999) {
    if (!(reach.finest > 0.0) || !std::isfinite(reach.finest))
      fatal(where + "Invalid resolution limits in: " + filename_in_);
    resolution_ = Resolution(0.9999 / std::sqrt(reach.finest));
    // No index along an axis exceeds its edge over d, and the sampling of
    // a list reaches HKL_sampling::max_index along each.
    const double widest = std::max({cell_.a(), cell_.b(), cell_.c()}) / resolution_.limit();
    if (widest > double(HKL_sampling::max_index))
      fatal(where + mtz_damaged + ": the reflections reach " + String(resolution_.limit(), 0, 6) +
            " A (" +
            (header.is_null()
                 ? String("no usable RESO record")
                 : String(reach.beyond) + " of " + String(reach.rows) +
                       " beyond the RESO record's " + String(header.limit(), 0, 6) + " A") +
            "), finer than a reflection list of this cell holds: " + filename_in_);
  }
  // The sampling holds the reciprocal metric scaled by 2^40 d^2 in 64-bit
  // integers: each reciprocal axis must stay below 1000 / d.
  const double axis = std::max({cell_.a_star(), cell_.b_star(), cell_.c_star()});
  if (!(resolution_.limit() * axis < 1000.0))
    fatal(where + "Resolution " + String(resolution_.limit(), 0, 6) +
          " A out of range for the cell of crystal HKL_base in: " + filename_in_);
  hkl_sampling_ = HKL_sampling(cell_, resolution_);
}

// ---------------------------------------------------------------- hierarchy

bool CCP4MTZfile::match_path(const String& path, int& crystal, int& dataset, int& column) const {
  crystal = dataset = column = -1;
  const std::vector<String> parts = path.split("/");
  if (parts.size() < 3) return false;
  // One pass in file order: the first full match wins; failing that, the
  // first crystal-and-dataset match, failing that the first crystal match.
  int first_x = -1;
  for (int x = 0; x < int(crystals_.size()); ++x) {
    if (!match_glob(crystals_[x].crystal.crystal_name(), parts[0])) continue;
    if (first_x < 0) first_x = x;
    const std::vector<datasetinf>& sets = crystals_[x].datasets;
    for (int s = 0; s < int(sets.size()); ++s) {
      if (!match_glob(sets[s].dataset.dataset_name(), parts[1])) continue;
      if (dataset < 0) {
        crystal = x;
        dataset = s;
      }
      for (int c = 0; c < int(sets[s].columns.size()); ++c)
        if (match_glob(sets[s].columns[c].label, parts[2])) {
          crystal = x;
          dataset = s;
          column = c;
          return true;
        }
    }
  }
  if (dataset < 0) crystal = first_x;
  return false;
}

String CCP4MTZfile::column_path(const int crystal, const int dataset, const String& label) const {
  return "/" + crystals_[crystal].crystal.crystal_name() + "/" +
         crystals_[crystal].datasets[dataset].dataset.dataset_name() + "/" + label;
}

String CCP4MTZfile::first_column_path(const HKL_data_base& data, const String& mtzpath) const {
  for (const String& path : mtz_assign(mtzpath, data.type(), data.data_names(), data.data_size()))
    if (!is_virtual_col(path)) return path;
  return mtzpath;
}

void CCP4MTZfile::import_crystal(MTZcrystal& crystal, const String& mtzpath) {
  int x, s, c;
  match_path(mtzpath, x, s, c);
  if (x < 0) fatal("CCP4MTZfile: No such crystal: " + mtzpath);
  crystal = crystals_[x].crystal;
}

void CCP4MTZfile::import_dataset(MTZdataset& dataset, const String& mtzpath) {
  int x, s, c;
  match_path(mtzpath, x, s, c);
  if (x < 0 || s < 0) fatal("CCP4MTZfile: No such dataset: " + mtzpath);
  dataset = crystals_[x].datasets[s].dataset;
}

std::vector<String> CCP4MTZfile::column_paths() const {
  std::vector<String> paths;
  for (int x = 0; x < int(crystals_.size()); ++x)
    for (int s = 0; s < int(crystals_[x].datasets.size()); ++s)
      for (const datacolinf& c : crystals_[x].datasets[s].columns)
        paths.push_back(column_path(x, s, c.label) + " " + c.type);
  return paths;
}

std::vector<String> CCP4MTZfile::column_labels() const { return column_paths(); }

}  // namespace vantrel
