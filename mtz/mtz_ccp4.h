// Bridge between the MTZ file object and the CCP4 library's MTZ records:
// checked opening (of the file named, never a logical name), the column
// lookup in file order, the reach of the rows' indices, and the copying of
// the hierarchy and symmetry between the two.
#ifndef VANTREL_MTZ_MTZ_CCP4_H
#define VANTREL_MTZ_MTZ_CCP4_H

#include <ccp4/cmtzlib.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mtz/mtz_file.h"
#include "mtz/mtz_header_check.h"
#include "symmetry/symop.h"

namespace vantrel {

//! Frees a library MTZ record (and closes its files).
struct Mtz_deleter {
  void operator()(CMtz::MTZ* mtz) const { CMtz::MtzFree(mtz); }
};
typedef std::unique_ptr<CMtz::MTZ, Mtz_deleter> Mtz_ptr;

//! While it lives, the environment holds no variable called name, and the
//! CCP4 library, which takes a file name for a logical name first (opening
//! the file a variable of that name gives), opens the file named. The
//! variable is given back as it was when it goes.
class File_not_logical_name {
 public:
  explicit File_not_logical_name(const String& name);
  ~File_not_logical_name();
  File_not_logical_name(const File_not_logical_name&) = delete;
  File_not_logical_name& operator=(const File_not_logical_name&) = delete;

 private:
  std::string name_;
  std::optional<std::string> value_;  // the variable's value, where there was one
};

//! An MTZ file read whole, once, into a file in memory that the CCP4
//! library then reads by path(). The library cannot take a failed read: its
//! header reader loops printing "Bad mode" until it finds an END record it
//! can no longer read, and others crash or go on with a default for what
//! they could not read. Every read of the file itself is checked here, and
//! a file in memory has no disk to fail; every pass over the file (header,
//! rows) also reads the same content, should the file change meanwhile.
//! The copy is a file, which a file size limit (ulimit -f) below the file's
//! size forbids: the library then reads the file opened, through its /proc
//! name. Either way the file read is the file judged, whatever takes its
//! name meanwhile.
class Mtz_input {
 public:
  //! Fatal "CCP4MTZfile: <operation> - File missing or corrupted: <file>"
  //! for a missing file; "CCP4MTZfile: cannot read <file>: <reason>" for
  //! one that is no regular file this process may read, or whose read
  //! fails (Files::check_input's texts).
  Mtz_input(const String& filename, const String& operation);
  ~Mtz_input();
  Mtz_input(const Mtz_input&) = delete;
  Mtz_input& operator=(const Mtz_input&) = delete;

  //! The file as given, for messages.
  const String& name() const { return name_; }
  //! The /proc name ("/proc/self/fd/<N>") of the copy in memory, else of
  //! the file opened.
  const String& path() const { return path_; }

 private:
  String name_, path_;
  int fd_ = -1;
};

//! The most history lines the library writes right: it cuts the count of a
//! longer history to three digits, so that a reader takes the rest for
//! header records.
constexpr int mtz_max_history = 999;
//! The header of an MTZ file read into memory (rows left there, index
//! columns assigned to HKL_base), read by the library through the copy's
//! /proc name, which it never takes for a CCP4 logical name. Fatal,
//! "CCP4MTZfile: <operation> - <what>: <file>", when it is not a sound
//! merged MTZ file. The file's layout is checked first, because the library
//! crashes or never returns on some damaged headers.
Mtz_ptr mtz_get_header(const Mtz_input& file, const String& operation);

//! The column path "/crystal/dataset/label" of a library column.
String mtz_col_path(CMtz::MTZ* mtz, CMtz::MTZCOL* column);
//! Every column of the file, crystal by crystal, dataset by dataset.
std::vector<CMtz::MTZCOL*> build_lookup(CMtz::MTZ* mtz);
//! Replaces crystals by the file's hierarchy (HKL_base included).
void read_hierarchy(CMtz::MTZ* mtz, std::vector<CCP4MTZfile::crystalinf>& crystals);
//! The file's symmetry operators as they are listed; none when the list is
//! empty or too long, or one is not a crystallographic operator.
std::vector<Symop> read_symops(CMtz::MTZ* mtz);
//! The space group of the file's symmetry operators. Fatal "CCP4MTZfile:
//! invalid symmetry operators" when read_symops gives none.
void read_spacegroup(CMtz::MTZ* mtz, Spacegroup& spacegroup);
//! How the indices of a row stand: held in a reflection list, unheld
//! (missing, or far outside any real list), or not whole numbers.
enum class Row_indices { held, unheld, fractional };
//! The Miller indices of a row (values and missing flags by lookup
//! position, pos the positions of H, K, L), and how they stand.
Row_indices row_indices(const float* values, const int* missing, const int pos[3], HKL& hkl);
//! The Miller indices of a row; false unless row_indices finds them held
//! (a damaged row).
bool row_hkl(const float* values, const int* missing, const int pos[3], HKL& hkl);
//! Lookup positions of the last columns labelled H, K and L (0, 1, 2 when
//! a label is absent).
void index_positions(const std::vector<CMtz::MTZCOL*>& lookup, int hkl[3]);
//! How far the file's rows reach: their number, the finest 1/d^2 of their
//! held indices in a cell, how many lie at or beyond a limit (1/d^2), and
//! how many have unheld and fractional indices, with the first row of each
//! (numbered from 1; 0 for none).
struct Row_reach {
  int rows = 0, beyond = 0, unindexed = 0, first_unindexed = 0;
  int fractional = 0, first_fractional = 0;
  double finest = 0.0;
};
//! Reads the indices of every row. Fatal "CCP4MTZfile: <operation> - File
//! truncated: <file>" when a row cannot be read.
Row_reach row_reach(CMtz::MTZ* mtz, const Cell& cell, double limit, const String& filename,
                    const String& operation);
//! Per object and component, the lookup position of its column (-1 when
//! virtual) and its scale. Fatal "CCP4MTZfile - internal error" for a path
//! that names no column.
void reference_cols(CMtz::MTZ* mtz, const std::vector<CMtz::MTZCOL*>& lookup,
                    const std::vector<std::vector<CCP4MTZfile::hkldatacol>>& cols,
                    std::vector<std::vector<int>>& positions,
                    std::vector<std::vector<double>>& scales);
//! The most components of any object in positions (the size of a buffer
//! for one object's values).
std::size_t widest(const std::vector<std::vector<int>>& positions);
//! Creates the crystals, datasets and columns of a hierarchy in mtz.
void write_hierarchy(CMtz::MTZ* mtz, const std::vector<CCP4MTZfile::crystalinf>& crystals);
//! Fills the symmetry part of the header from a space group.
void write_spacegroup(CMtz::MTZ* mtz, const Spacegroup& spacegroup);

}  // namespace vantrel

#endif
