// Writing: registration of data objects for export, the copy of a file
// with columns appended (close_append) and new files (close_write).
#include <ccp4/ccp4_utils.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

#include <sys/stat.h>

#include "foundation/message.h"
#include "foundation/util.h"
#include "mtz/mtz_ccp4.h"
#include "mtz/mtz_file.h"
#include "mtz/mtz_header_check.h"
#include "mtz/mtz_types.h"
#include "system/file_access.h"
#include "system/gzip_name.h"
#include "system/output_file.h"

namespace vantrel {

namespace {

constexpr std::size_t max_label_length = 30;  // the library's column label field

// The machine stamp the library writes on this machine: its float and
// integer formats (44 41 00 00 where both are little-endian IEEE), then
// ASCII characters (1) and two zero bytes.
const std::string native_stamp = {char(NATIVEFT << 4 | NATIVEFT), char(NATIVEIT << 4 | 1), 0, 0};

// Fatal when writing the output would overwrite the input of an append,
// judged once, at open: the output replaces its file only with new content
// written whole, so an input read again at the close loses nothing
// whatever file its name then holds.
void check_not_input(const String& filename_in, const Output_file& out) {
  struct stat in;
  if (out.place().exists() && stat(filename_in.c_str(), &in) == 0 &&
      Files::same_inode(in, out.place().file()))
    fatal("CCP4MTZfile: open_append - Output file is the input file: " + out.place().path());
}

// Fatal for an output of a gzip name: the library writes MTZ data
// uncompressed, and reads none compressed either.
void check_not_compressed(const String& operation, const String& filename_out) {
  if (Files::gzip_named(filename_out))
    fatal("CCP4MTZfile: " + operation +
          " - Compressed files are not written (nor read); name the output without .gz: " +
          filename_out);
}

// The library writes the base crystal's cell (the CELL record and its
// DCELL) as the first data crystal's. Rewrites the CELL record with the
// base cell and every DCELL record with the cell of its dataset's crystal,
// in the library's layout, in the written file at path: false when a
// record cannot be read or written (the file flushed and closed).
bool restore_cells(const String& path, const std::vector<float>& base,
                   const std::map<int, std::vector<float>>& dataset_cells) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  std::int32_t word = 0;  // the header position, written in this machine's order
  if (!file.seekg(4) || !file.read(reinterpret_cast<char*>(&word), 4) || word <= 0) return false;
  char record[81];
  for (std::streamoff at = std::streamoff(word - 1) * 4; file.seekg(at); at += 80) {
    if (!file.read(record, 80)) return false;
    const String key(record, 5);
    const std::vector<float>* cell = nullptr;
    int id = 0;
    if (key == "CELL ") {
      cell = &base;
    } else if (key == "DCELL") {
      id = std::atoi(record + 5);
      const auto found = dataset_cells.find(id);
      if (found != dataset_cells.end()) cell = &found->second;
    } else if (key == "END  ") {
      file.close();  // writes what the stream holds: a failure there fails the close
      return !file.fail();
    }
    if (cell == nullptr) continue;
    const std::vector<float>& c = *cell;
    const int n = key == "CELL " ? std::snprintf(record, sizeof(record),
                                                 "CELL %10.4f%10.4f%10.4f%10.4f%10.4f%10.4f", c[0],
                                                 c[1], c[2], c[3], c[4], c[5])
                                 : std::snprintf(record, sizeof(record),
                                                 "DCELL %9d %10.4f%10.4f%10.4f%10.4f%10.4f%10.4f",
                                                 id, c[0], c[1], c[2], c[3], c[4], c[5]);
    if (n < 0 || n > 80) return false;
    std::memset(record + n, ' ', std::size_t(80 - n));
    if (!file.seekp(at) || !file.write(record, 80)) return false;
  }
  return false;
}

// The output is written whole as new content and put in place of the
// target only when complete (Output_file), so a failed write never leaves a
// file that looks whole (nor replaces an existing one). The library writes
// by name: it is given the name of the new content through /proc (a file
// without a name, or one in a folder of the user's alone), which no other
// user can reach. An existing target must be
// a regular file the user may write. Held by pending outputs, the output
// is put in place with them, and a failed write is told in the words of
// the program that holds them, with its cause, which the library's message
// lacks.
class Mtz_output {
 public:
  Mtz_output(const String& operation, const String& filename, Output_file& file, bool held)
      : operation_(operation), filename_(filename), held_(held), file_(file) {}

  [[noreturn]] void fail(const String& what) const {
    fatal("CCP4MTZfile: " + operation_ + " - " + what + ": " + filename_);
  }
  // Fatal: writing failed, error the system's error number then (or 0).
  [[noreturn]] void write_failed(const String& what, const int error) const {
    if (held_) file_.write_failed(error);
    fail(what);
  }
  //! Opens the new content as the output of mtz.
  void open(CMtz::MTZ* mtz) {
    const File_not_logical_name plain(file_.path());
    mtz->fileout = CMtz::MtzOpenForWrite(file_.path().c_str());
    if (mtz->fileout == nullptr) write_failed("Cannot open file for writing", errno);
  }
  //! Writes row number row (from 1) of the given columns: a value flagged
  //! missing is stored as the library's NaN.
  void write_row(CMtz::MTZ* mtz, std::vector<float>& values, const std::vector<int>& missing,
                 std::vector<CMtz::MTZCOL*>& columns, const int row) const {
    static const float nan = CCP4::ccp4_nan().f;
    for (std::size_t c = 0; c < values.size(); ++c)
      if (missing[c] != 0) values[c] = nan;
    if (CMtz::ccp4_lwrefl(mtz, values.data(), columns.data(), int(columns.size()), row) != 1)
      write_failed("Failed to write file", errno);
  }
  //! Writes the header (MtzPut) with each crystal's own cell, closes the
  //! file, checks it (check_written) and moves it into place.
  void commit(Mtz_ptr& mtz) {
    std::vector<float> base;  // the first crystal named HKL_base, else the first
    bool named = false;
    std::map<int, std::vector<float>> dataset_cells;
    for (int x = 0; x < CMtz::MtzNxtal(mtz.get()); ++x) {
      CMtz::MTZXTAL* xtal = CMtz::MtzIxtal(mtz.get(), x);
      const std::vector<float> cell(xtal->cell, xtal->cell + 6);
      const bool is_base = std::strcmp(xtal->xname, "HKL_base") == 0;
      if (base.empty() || (is_base && !named)) base = cell;
      named = named || is_base;
      for (int s = 0; s < CMtz::MtzNsetsInXtal(xtal); ++s)
        dataset_cells[CMtz::MtzIsetInXtal(xtal, s)->setid] = cell;
    }
    if (CMtz::MtzPut(mtz.get(), file_.path().c_str()) != 1)
      write_failed("Failed to write file", errno);
    mtz.reset();
    if (base.empty() || !restore_cells(file_.path(), base, dataset_cells))
      write_failed("Failed to write file", errno);
    check_written();
    file_.commit();
  }

 private:
  // Every write of the library is checked here, at one place, by what the
  // file holds. The library tells of a failed write only on the console
  // and goes on (the stamp MtzOpenForWrite writes first is not even in its
  // answer), so its answers stop a write early at most; the file is read
  // back instead, and must have the whole layout a reader relies on
  // (mtz_layout_fault). The library writes, through a buffer that a failed
  // write drops without moving the file's position: the stamps, the rows in
  // turn, the header after them, and the header's position at word 2. A
  // write lost anywhere leaves no "MTZ " stamp or another machine stamp
  // than this machine's (zeros, which a reader takes for the default),
  // rows short of NCOL x NREF words before the header, a header position
  // that misses it, or header records cut short. The cause is not known then.
  void check_written() const {
    if (!mtz_layout_fault(file_.path(), native_stamp).empty())
      write_failed("Failed to write file", 0);
  }

  String operation_, filename_;
  bool held_;
  Output_file& file_;
};

// A fresh library record whose rows go straight to the file.
Mtz_ptr new_output() {
  Mtz_ptr out(CMtz::MtzMalloc(0, nullptr));
  if (!out) fatal("CCP4MTZfile - internal error");
  out->refs_in_memory = 0;
  return out;
}

// Writes the registered objects' values at hkl into the output row: value
// times scale, or the missing flag for a value that is not finite.
void export_row(const HKL& hkl, const std::vector<const HKL_data_base*>& objects,
                const std::vector<std::vector<int>>& positions,
                const std::vector<std::vector<double>>& scales, std::vector<double>& components,
                std::vector<float>& values, std::vector<int>& missing) {
  for (std::size_t j = 0; j < objects.size(); ++j) {
    objects[j]->data_export(hkl, components.data());
    for (std::size_t k = 0; k < positions[j].size(); ++k) {
      const int c = positions[j][k];
      if (c < 0) continue;
      if (Util::is_nan(components[k])) {
        missing[c] = 1;
        values[c] = 0.0f;
      } else {
        missing[c] = 0;
        values[c] = float(components[k] * scales[j][k]);
      }
    }
  }
}

}  // namespace

// ---------------------------------------------------------------- registration

void CCP4MTZfile::export_hkl_data(const HKL_data_base& data, const String& mtzpath) {
  if (mode_ != WRITE && mode_ != APPEND)
    fatal("CCP4MTZfile: export_hkl_data - no file open for write/append");
  const int n = data.data_size();
  const std::vector<String> paths = mtz_assign(mtzpath, data.type(), data.data_names(), n);
  const std::vector<String> names = data.data_names().split(" ");

  // Resolve every component first: a failure leaves the hierarchy unchanged.
  struct placement {
    int crystal, dataset;
    datacolinf column;
    bool exists;
  };
  std::vector<placement> placed(n);
  std::vector<hkldatacol> cols(n);
  std::vector<String> assigned;
  for (int i = 0; i < n; ++i) {
    placed[i].crystal = -1;
    if (is_virtual_col(paths[i])) {  // always missing: no column to fill
      cols[i] = {"NAN", 1.0};
      assigned.push_back("/*/*/NAN -");
      continue;
    }
    int x, s, c;
    match_path(paths[i], x, s, c);
    if (x < 0 || s < 0)
      fatal("CCP4MTZfile: export_hkl_data - Missing crystal or dataset: " + paths[i]);
    const datacolinf column{paths[i].tail(), CCP4MTZ_type_registry::type(names.at(i))};
    if (column.label.size() > max_label_length)
      fatal("CCP4MTZfile: export_hkl_data - Column label too long: " + paths[i]);
    // A column of that label already in the dataset is overwritten, so the
    // file never holds two columns of one path.
    bool exists = false;
    for (const datacolinf& old : crystals_[x].datasets[s].columns)
      if (old.label == column.label) {
        if (old.type != column.type)
          fatal("CCP4MTZfile: export_hkl_data - Column exists with type " + old.type + ": " +
                paths[i]);
        exists = true;
      }
    for (int j = 0; j < i; ++j)
      if (placed[j].crystal == x && placed[j].dataset == s &&
          placed[j].column.label == column.label)
        exists = true;
    placed[i] = {x, s, column, exists};
    const String path = column_path(x, s, column.label);
    cols[i] = {path, double(CCP4MTZ_type_registry::scale(names.at(i)))};
    assigned.push_back(path + " " + column.type);
  }

  for (const placement& p : placed)
    if (p.crystal >= 0 && !p.exists)
      crystals_[p.crystal].datasets[p.dataset].columns.push_back(p.column);
  assigned_paths_.insert(assigned_paths_.end(), assigned.begin(), assigned.end());
  hkl_data_out_.push_back(&data);
  hkl_data_cols_.push_back(cols);
}

void CCP4MTZfile::export_hkl_data(const HKL_data_base& data, const MTZdataset& dataset,
                                  const MTZcrystal& crystal, const String& mtzpath) {
  export_crystal(crystal, mtzpath);
  export_dataset(dataset, mtzpath);
  export_hkl_data(data, mtzpath);
}

void CCP4MTZfile::export_crystal(const MTZcrystal& crystal, const String& mtzpath) {
  const std::vector<String> parts = mtzpath.split("/");
  if (parts.size() < 3) fatal("CCP4MTZfile: export_crystal - Invalid column path: " + mtzpath);
  int x, s, c;
  match_path(mtzpath, x, s, c);
  if (x >= 0) return;
  crystals_.push_back({MTZcrystal(parts[0], crystal.project_name(), crystal), {}});
}

void CCP4MTZfile::export_dataset(const MTZdataset& dataset, const String& mtzpath) {
  int x, s, c;
  match_path(mtzpath, x, s, c);
  if (x < 0) fatal("CCP4MTZfile: export_dataset - Missing crystal: " + mtzpath);
  if (s >= 0) return;
  crystals_[x].datasets.push_back({MTZdataset(mtzpath.split("/")[1], dataset.wavelength()), {}});
}

// The output begun at open: its path walked and judged once, then (or when
// the pending outputs began it, at the start of the run) and kept to the
// close that writes it.
void CCP4MTZfile::begin_output(const String& filename_out) {
  output_ = std::make_shared<Output_file>(filename_out, "CCP4MTZfile", pending_);
}

// ---------------------------------------------------------------- append

void CCP4MTZfile::open_append(const String& filename_in, const String& filename_out) {
  if (mode_ != NONE) fatal("CCP4MTZfile: open_append - File already open");
  check_not_compressed("open_append", filename_out);
  begin_output(filename_out);
  check_not_input(filename_in, *output_);
  filename_in_ = filename_in;
  filename_out_ = filename_out;
  reset_on_failure([&] { read_header("open_append", false); });
  mode_ = APPEND;
}

void CCP4MTZfile::close_append() {
  if (mode_ != APPEND) fatal("CCP4MTZfile: no file open for append");
  // A failed close closes all the same: the registered objects may be gone
  // before a second attempt (the destructor's) could read them.
  reset_on_failure([&] { write_rows_append(); });
  reset();
}

void CCP4MTZfile::write_rows_append() {
  Mtz_ptr in = mtz_get_header(*input_, "close_append");
  const std::vector<CMtz::MTZCOL*> in_lookup = build_lookup(in.get());
  int pos[3];
  index_positions(in_lookup, pos);

  Mtz_output file("close_append", filename_out_, *output_, pending_ != nullptr);
  Mtz_ptr out = new_output();
  std::strncpy(out->title, in->title, sizeof(out->title));
  // The symmetry fields of the input; the space-group name whole, since a
  // longer name cut short would name another group.
  const CMtz::SYMGRP& from = in->mtzsymm;
  CMtz::SYMGRP& symm = out->mtzsymm;
  symm.spcgrp = from.spcgrp;
  symm.nsym = from.nsym;
  symm.nsymp = from.nsymp;
  symm.symtyp = from.symtyp;
  std::memcpy(symm.spcgrpname, from.spcgrpname, sizeof(symm.spcgrpname));
  std::memcpy(symm.pgname, from.pgname, sizeof(symm.pgname));
  std::memcpy(symm.sym, from.sym, sizeof(symm.sym));
  // The latest lines (the library puts new ones first), as many as it writes.
  CMtz::MtzAddHistory(out.get(), reinterpret_cast<const char(*)[MTZRECORDLENGTH]>(in->hist),
                      std::min(in->histlines, mtz_max_history));
  write_hierarchy(out.get(), crystals_);
  std::vector<CMtz::MTZCOL*> out_lookup = build_lookup(out.get());
  std::vector<std::vector<int>> positions;
  std::vector<std::vector<double>> scales;
  reference_cols(out.get(), out_lookup, hkl_data_cols_, positions, scales);

  std::vector<String> out_paths;
  for (CMtz::MTZCOL* col : out_lookup) out_paths.push_back(mtz_col_path(out.get(), col));
  std::vector<int> map(in_lookup.size());
  for (std::size_t i = 0; i < in_lookup.size(); ++i) {
    const auto found =
        std::find(out_paths.begin(), out_paths.end(), mtz_col_path(in.get(), in_lookup[i]));
    if (found == out_paths.end()) fatal("CCP4MTZfile - internal error");
    map[i] = int(found - out_paths.begin());
  }

  std::vector<const CMtz::MTZCOL*> in_cols(in_lookup.begin(), in_lookup.end());
  std::vector<float> in_values(in_cols.size()), out_values(out_lookup.size());
  std::vector<int> in_missing(in_cols.size()), out_missing(out_lookup.size());
  std::vector<double> components(widest(positions));
  const float nan = CCP4::ccp4_nan().f;
  float resol;
  file.open(out.get());
  const int nref = CMtz::MtzNref(in.get());
  for (int row = 1; row <= nref; ++row) {
    if (CMtz::ccp4_lrreff(in.get(), &resol, in_values.data(), in_missing.data(), in_cols.data(),
                          int(in_cols.size()), row) != 0)
      fatal("CCP4MTZfile: close_append - File truncated: " + filename_in_);
    for (std::size_t i = 0; i < in_cols.size(); ++i) {
      // A missing value stored as NaN is copied bit for bit; one stored as
      // a numeric flag becomes the library's NaN.
      const bool is_nan = std::isnan(in_values[i]);
      out_values[map[i]] = in_missing[i] != 0 && !is_nan ? nan : in_values[i];
      out_missing[map[i]] = in_missing[i] != 0 && !is_nan;
    }
    // A row without usable indices is copied; the new columns stay missing.
    HKL hkl;
    if (row_hkl(in_values.data(), in_missing.data(), pos, hkl)) {
      export_row(hkl, hkl_data_out_, positions, scales, components, out_values, out_missing);
    } else {
      for (const std::vector<int>& object : positions)
        for (const int c : object)
          if (c >= 0) out_missing[c] = 1;
    }
    file.write_row(out.get(), out_values, out_missing, out_lookup, row);
  }
  in.reset();
  file.commit(out);
}

// ---------------------------------------------------------------- new file

void CCP4MTZfile::open_write(const String& filename_out) {
  if (mode_ != NONE) fatal("CCP4MTZfile: open_write - File already open");
  check_not_compressed("open_write", filename_out);
  begin_output(filename_out);
  crystals_.push_back({MTZcrystal("HKL_base", "HKL_base", Cell()),
                       {{MTZdataset("HKL_base", 9.999), {{"H", "H"}, {"K", "H"}, {"L", "H"}}}}});
  filename_out_ = filename_out;
  mode_ = WRITE;
}

void CCP4MTZfile::export_hkl_info(const HKL_info& hkl_info) {
  if (mode_ != WRITE) fatal("CCP4MTZfile: export_hkl_info - no file open for write");
  spacegroup_ = hkl_info.spacegroup();
  cell_ = hkl_info.cell();
  resolution_ = hkl_info.resolution();
  hkl_info_out_ = &hkl_info;
}

void CCP4MTZfile::close_write() {
  if (mode_ != WRITE) fatal("CCP4MTZfile: no file open for write");
  reset_on_failure([&] {
    if (hkl_info_out_ == nullptr || hkl_info_out_->is_null())
      fatal("CCP4MTZfile: close_write - No reflection list exported for: " + filename_out_);
    write_rows_new();
  });
  reset();
}

void CCP4MTZfile::write_rows_new() {
  const HKL_info& list = *hkl_info_out_;
  crystals_[0].crystal = MTZcrystal("HKL_base", "HKL_base", list.cell());

  Mtz_output file("close_write", filename_out_, *output_, pending_ != nullptr);
  Mtz_ptr out = new_output();
  // The title record is 80 characters: the text padded with blanks.
  const String title = String("From Vantrel CCP4MTZfile") + String(56, ' ');
  CMtz::ccp4_lwtitl(out.get(), title.c_str(), 0);
  write_spacegroup(out.get(), spacegroup_);
  write_hierarchy(out.get(), crystals_);
  std::vector<CMtz::MTZCOL*> out_lookup = build_lookup(out.get());
  std::vector<std::vector<int>> positions;
  std::vector<std::vector<double>> scales;
  reference_cols(out.get(), out_lookup, hkl_data_cols_, positions, scales);

  std::vector<float> values(out_lookup.size());
  std::vector<int> missing(out_lookup.size());
  std::vector<double> components(widest(positions));
  file.open(out.get());
  for (int i = 0; i < list.num_reflections(); ++i) {
    const HKL& hkl = list.hkl_of(i);
    // Columns no object fills stay missing; H, K and L lead every row.
    std::fill(missing.begin(), missing.end(), 1);
    for (int d = 0; d < 3; ++d) {
      values[d] = float(hkl[d]);
      missing[d] = 0;
    }
    export_row(hkl, hkl_data_out_, positions, scales, components, values, missing);
    file.write_row(out.get(), values, missing, out_lookup, i + 1);
  }
  file.commit(out);
}

}  // namespace vantrel
