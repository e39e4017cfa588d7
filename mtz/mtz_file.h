// MTZ reflection-file object: reads reflection lists and data columns by
// column path, appends columns to a copy of a file, and writes new files,
// through the CCP4 library.
#ifndef VANTREL_MTZ_MTZ_FILE_H
#define VANTREL_MTZ_MTZ_FILE_H

#include <memory>
#include <vector>

#include "foundation/message.h"
#include "foundation/vstring.h"
#include "mtz/mtz_records.h"
#include "reflections/container.h"
#include "reflections/hkl_data.h"
#include "reflections/hkl_info.h"
#include "symmetry/cell.h"
#include "symmetry/sampling.h"
#include "symmetry/spacegroup.h"

namespace vantrel {

class Mtz_input;
class Output_file;
class Pending_outputs;

//! One MTZ file at a time, read, appended to or written.
/*! Modes: NONE, READ (open_read), WRITE (open_write), APPEND (open_append);
  every open needs NONE and every close returns to it, failed or not, so one
  object serves many files in turn. Data objects are registered against column paths while
  a file is open and the rows move only at close (or at destruction with a
  file still open); registered objects are not owned and must outlive the
  close.

  A column path is "/crystal/dataset/label"; each part may hold one "*"
  (prefix*suffix). A data path ending in "[L1,L2,...]" names one label per
  component; any other data path P names "P.type.component" for each
  component (e.g. /x/y/FP for F_sigF names FP.F_sigF.F and FP.F_sigF.sigF).
  A label "MNF" or "NAN" (or lower case) is a virtual column: always missing.
  Phases are radians in memory and degrees in the file; a missing value is
  NaN in memory and the file's missing-number flag on disk.

  All failures are fatal messages naming the file or path; the destructor
  never throws. Files are checked before the CCP4 library sees them: an
  input must be a readable regular file with a sound merged MTZ header,
  each crystal's cell must fit the file's records and the symmetry
  operators must be a group that keeps each crystal's cell. An input is
  read whole at its open (Mtz_input), and every later pass reads that
  content: a change of the file before the close changes nothing. */
class CCP4MTZfile {
 public:
  //! Column label and MTZ type code, as held by the file.
  struct datacolinf {
    String label;
    String type;
  };
  struct datasetinf {
    MTZdataset dataset;
    std::vector<datacolinf> columns;
  };
  struct crystalinf {
    MTZcrystal crystal;
    std::vector<datasetinf> datasets;
  };
  //! One data component's column path ("NAN" when virtual) and scale.
  struct hkldatacol {
    String path;
    double scale;
  };

  enum MODE { NONE = 0, READ = 1, WRITE = 2, APPEND = 3 };

  CCP4MTZfile();
  //! Closes a file left open (reading or writing its rows); a failure is
  //! reported on the message stream, never thrown. During the unwinding of
  //! an exception no rows are moved, since registered objects may be gone.
  ~CCP4MTZfile();
  CCP4MTZfile(const CCP4MTZfile&) = delete;
  CCP4MTZfile& operator=(const CCP4MTZfile&) = delete;

  // ---- reading
  //! Reads the header: hierarchy, base cell, space group and resolution.
  //! The resolution is 0.9999 times the finest d-spacing of the file: that
  //! of its RESO record, or the rows' own (in the base cell) where they
  //! reach further. A file without reflections, or with a row whose indices
  //! are missing or past 100000, is fatal.
  void open_read(const String& filename);
  //! Reads every row into the registered objects, then forgets the file
  //! (space group, cell, resolution and sampling stay), also when it fails.
  void close_read();
  //! Initialises target from its own parameters, each null one replaced by
  //! the file's; then lists every reflection (generate) or the file's.
  void import_hkl_info(HKL_info& target, const bool generate);
  //! Adds the reflections of the file inside the target's resolution.
  void import_hkl_list(HKL_info& target);
  //! Registers data to be filled from the columns the path names; a null
  //! object is initialised on the file's space group and sampling. A label
  //! list must name one label per component.
  void import_hkl_data(HKL_data_base& data, const String& mtzpath);
  //! Also copies out the records of the crystal and dataset that hold the
  //! data's columns (those of its first component with a column; a label
  //! list never matches a column itself, which would give HKL_base's).
  void import_hkl_data(HKL_data_base& data, MTZdataset& dataset, MTZcrystal& crystal,
                       const String& mtzpath);
  //! Container form: data is an HKL_data node below a CHKL_info node; it is
  //! moved below crystal and dataset nodes named from path (read from its
  //! end as crystal/dataset/name, empty parts taken from the file).
  void import_chkl_data(Container& data, const String& mtzpath, const String& path = "");

  // ---- appending and writing
  //! Reads the header of filename_in; close_append writes filename_out as
  //! a copy of it with the registered columns added, every crystal with its
  //! own cell. The two must be different files; an existing output must be
  //! a regular file the user may write (an output named through a link
  //! writes the file it leads to), not of a gzip name (Files::gzip_named):
  //! the library writes no compressed file. The output's path is walked and
  //! judged here, once (or taken as the pending outputs began it); the copy
  //! is written as new content and replaces the output only when complete.
  void open_append(const String& filename_in, const String& filename_out);
  //! A failed close_append or close_write leaves the object closed, as a
  //! successful one does, and nothing behind but new content that could
  //! not be put in place, kept and named in the message (Output_file).
  void close_append();
  //! Outputs written from now on (close_append, close_write) are handed to
  //! pending, which puts them in place with its others; without it (null,
  //! as at first) each is put in place when written.
  void set_pending_outputs(Pending_outputs* pending) { pending_ = pending; }
  //! Starts a new file holding the base columns H, K, L (the output checked
  //! as for open_append).
  void open_write(const String& filename_out);
  //! The reflection list whose reflections become the rows (WRITE only).
  void export_hkl_info(const HKL_info& hkl_info);
  //! Writes the rows of the exported list with the registered columns.
  void close_write();
  //! Registers data to be written into new columns named by the path, in
  //! the first crystal and dataset it matches. An existing column of the
  //! same label and type is overwritten; another type is fatal.
  void export_hkl_data(const HKL_data_base& data, const String& mtzpath);
  void export_hkl_data(const HKL_data_base& data, const MTZdataset& dataset,
                       const MTZcrystal& crystal, const String& mtzpath);
  //! Adds the crystal (or dataset) named by the path when none matches.
  void export_crystal(const MTZcrystal& crystal, const String& mtzpath);
  void export_dataset(const MTZdataset& dataset, const String& mtzpath);
  //! Container form: crystal and dataset are taken from data's ancestors.
  void export_chkl_data(Container& data, const String& mtzpath);

  // ---- header
  const Spacegroup& spacegroup() const { return spacegroup_; }
  const Cell& cell() const { return cell_; }
  const Resolution& resolution() const { return resolution_; }
  const HKL_sampling& hkl_sampling() const { return hkl_sampling_; }
  //! Per imported or exported component: its exact column path, a blank and
  //! its type ("/*/*/NAN -" for a virtual import component).
  const std::vector<String>& assigned_paths() const { return assigned_paths_; }
  //! The crystal and dataset records of the first match of the path.
  void import_crystal(MTZcrystal& crystal, const String& mtzpath);
  void import_dataset(MTZdataset& dataset, const String& mtzpath);
  //! "/crystal/dataset/label type" for every column, in file order.
  std::vector<String> column_paths() const;
  std::vector<String> column_labels() const;
  //! First column matching "/crystal/dataset/label" in file order: true
  //! with all three indices set. Otherwise false, with column -1 and the
  //! first matching crystal and dataset (each -1 when none). A path of
  //! fewer than three parts matches nothing (all -1).
  bool match_path(const String& path, int& crystal, int& dataset, int& column) const;

 private:
  // Reads the file into memory for open_read and open_append (input_), then
  // its header and the resolution that holds every row; fails with the
  // text "CCP4MTZfile: <operation> - ...".
  // When reading, a file without reflections, or with rows whose indices no
  // reflection list holds, is refused.
  void read_header(const String& operation, const bool reading);
  // Writes the output file of close_append or close_write.
  void read_rows();
  void write_rows_append();
  void write_rows_new();
  void begin_output(const String& filename_out);
  void reset();  // back to NONE with empty lists; header values stay
  // Runs work; when it fails, the object is reset before the failure goes
  // on, so that nothing later (the destructor) works on registered objects
  // that may be gone by then.
  template <class F> void reset_on_failure(F work) {
    try {
      work();
    } catch (const Message_fatal&) {
      reset();
      throw;
    }
  }
  // The column path of the data's first component with a column (the path
  // itself when all are virtual): where its crystal and dataset are found.
  String first_column_path(const HKL_data_base& data, const String& mtzpath) const;
  // "/crystal/dataset/label" of a label in the dataset at those indices.
  String column_path(const int crystal, const int dataset, const String& label) const;

  String filename_in_;
  std::shared_ptr<Mtz_input> input_;  // read whole at open, every pass's content
  String filename_out_;
  Pending_outputs* pending_ = nullptr;
  std::shared_ptr<Output_file> output_;  // begun at open, put in place at close
  std::vector<crystalinf> crystals_;
  const HKL_info* hkl_info_out_ = nullptr;
  std::vector<HKL_data_base*> hkl_data_in_;
  std::vector<const HKL_data_base*> hkl_data_out_;
  std::vector<std::vector<hkldatacol>> hkl_data_cols_;
  std::vector<String> assigned_paths_;
  int mode_ = NONE;
  Spacegroup spacegroup_;
  Cell cell_;
  Resolution resolution_;
  HKL_sampling hkl_sampling_;
};

//! True when name matches pattern: exact without "*", otherwise the name
//! starts with the text before the first "*" and ends with the rest.
bool match_glob(const String& name, const String& pattern);
//! One column path per data component (see CCP4MTZfile); components without
//! a label are "MNF" (virtual).
std::vector<String> mtz_assign(const String& path, const String& type, const String& names,
                               const int& n);
//! True when the path's last part is "MNF", "NAN", "mnf" or "nan".
bool is_virtual_col(const String& path);

}  // namespace vantrel

#endif
