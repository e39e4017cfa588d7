#include "model/mmdb_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>
#include <vector>

#include <mmdb2/mmdb_mmcif_.h>
#include <mmdb2/mmdb_utils.h>

#include "foundation/child_process.h"
#include "foundation/file_access.h"
#include "foundation/message.h"
#include "foundation/output_file.h"
#include "foundation/util.h"
#include "model/mmdb_views.h"

namespace vantrel {

namespace internal {
double child_read_seconds = 0;
}

namespace {

// The library's code, and its own description of it.
String code_text(const int code) {
  String text = mmdb::GetErrorDescription(mmdb::ERROR_CODE(code));
  if (!text.empty() && text.back() == '.') text.pop_back();
  return String(code, 4) + " (" + text + ")";
}

const String read_who = "MMDBfile: read_file error", write_who = "MMDBfile: write_file error";

[[noreturn]] void read_error(const String& file, const int code) {
  fatal(read_who + ": " + file + " : " + code_text(code));
}

[[noreturn]] void write_error(const String& file, const int code) {
  fatal(write_who + ": " + file + " : " + code_text(code));
}

// A fault found before or after the library's read; what names the line or
// atom and what is wrong with it.
[[noreturn]] void refuse_input(const String& file, const String& what) {
  fatal(read_who + ": " + file + " : " + what);
}

[[noreturn]] void refuse_output(const String& file, const String& what) {
  fatal(write_who + ": " + file + " : " + what);
}

bool ends_with(const String& text, const String& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The bytes the library will read: it decompresses a file named *.gz
// through gzip, which zlib reads the same way; other files are read as
// they are.
String file_content(const String& file) {
  String content;
  if (ends_with(file, ".gz")) {
    gzFile in = gzopen(file.c_str(), "rb");
    if (!in) read_error(file, mmdb::Error_CantOpenFile);
    char buffer[65536];
    int n;
    while ((n = gzread(in, buffer, sizeof buffer)) > 0) content.append(buffer, std::size_t(n));
    gzclose(in);
    if (n < 0) read_error(file, mmdb::Error_CantOpenFile);
    return content;
  }
  std::FILE* in = std::fopen(file.c_str(), "rb");
  if (!in) read_error(file, mmdb::Error_CantOpenFile);
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
    content.append(buffer, n);
  const bool failed = std::ferror(in);
  std::fclose(in);
  if (failed) read_error(file, mmdb::Error_CantOpenFile);
  return content;
}

// The library reads text files a line at a time into a buffer of 4096
// bytes; the rest of a longer line ends its reading there, silently.
constexpr std::size_t longest_line = 4095;

// The library's mmCIF parser copies a tag into a fixed buffer on the stack
// and overruns it with a tag of 116 characters ("_category." and 105
// more; 111 still read whole). Real tags are far shorter; every word the
// parser takes for a tag is held to this length.
constexpr std::size_t longest_tag = 80;

// The length of the longest word of an mmCIF line that the parser takes for
// a tag: a word starting with "_" outside a text field (the lines from one
// starting with ";" to the next), a quoted value (closed by its quote
// before a blank or the line end) and a comment. An unquoted value starting
// with "_" counts: the parser reads it as a tag, in a loop too. in_text
// carries the text-field state from line to line. Only blanks, tabs and
// line ends part words here: the parser may take other control characters
// (form feeds) into a tag, so they count towards it.
std::size_t longest_tag_in(const String& line, bool& in_text) {
  const std::size_t n = line.size();
  std::size_t i = 0;
  if (n > 0 && line[0] == ';') {
    in_text = !in_text;
    if (in_text) return 0;
    i = 1;
  } else if (in_text) {
    return 0;
  }
  const auto blank = [](const char c) { return c == ' ' || c == '\t' || c == '\r'; };
  std::size_t longest = 0;
  while (i < n) {
    const char c = line[i];
    if (blank(c)) {
      ++i;
    } else if (c == '#') {
      break;
    } else if (c == '\'' || c == '"') {
      std::size_t j = i + 1;
      while (j < n && !(line[j] == c && (j + 1 == n || blank(line[j + 1])))) ++j;
      i = j + 1;
    } else {
      std::size_t j = i;
      while (j < n && !blank(line[j])) ++j;
      if (c == '_') longest = std::max(longest, j - i);
      i = j;
    }
  }
  return longest;
}

// The start of the library's binary form, which is read as it is: its
// layout is the library's own, and no check of the text applies to it.
const String binary_signature = "**** This is MMDB binary file ****";

// The binary form has no structure a check could follow: a damaged file
// makes the library crash or loop while reading it, importing from it or
// freeing it. Nor can the checks of the mmCIF text follow every category
// the library interprets (a malformed chemical-component loop crashes it).
// So such a file is first read, imported and freed in a child process,
// which may use 5 seconds of processor time and one more per megabyte (a
// sound file takes a small fraction of that: 6 ms for 7MM1's 700 kB), and
// must finish within child_wall_factor times that; only then is it read
// here. This does not cover a damage that upsets the library only now and
// then (reads of unset memory).
double child_seconds(const std::size_t bytes) {
  return internal::child_read_seconds > 0 ? internal::child_read_seconds
                                          : 5.0 + double(bytes / 1000000);
}

// Runs work, a check of the file that returns what it found (empty when
// nothing), in a child process. A fatal message there is the file's
// answer, which this process's own read then gives again; an exception
// the library throws (a size read as negative) is a crash.
template <class Work> Child_outcome check_in_child(const double seconds, Work work) {
  return run_in_child(
      [&]() -> String {
        try {
          return work();
        } catch (const Message_fatal&) {
          return String();
        }
      },
      seconds);
}

// Refuses the file unless the child's check ended and found nothing; prefix
// and object make the message about it.
void check_verdict(const String& file, const Child_outcome& outcome, const String& prefix,
                   const String& object, const double seconds) {
  switch (outcome.kind) {
    case Child_outcome::done:
      if (outcome.text.empty()) return;
      refuse_input(file, outcome.text);
    case Child_outcome::crashed:
      refuse_input(file, prefix + "the reader does not survive " + object);
    case Child_outcome::over_time:
      refuse_input(file, prefix + "the reader takes longer than " + String(seconds, 0, 3) +
                             " seconds of processor time on " + object);
    case Child_outcome::over_wait:
      refuse_input(file, prefix + "the reader does not finish within " +
                             String(seconds * child_wall_factor, 0, 3) + " seconds on " + object);
    case Child_outcome::failed:
      refuse_input(file, "cannot read it in a separate process first: " + outcome.text);
  }
}

// True when the library's reader will take a text file for mmCIF: its own
// tests, in the order the reader applies them. A PDB record before any
// data block makes it PDB; otherwise a "data_" line makes it mmCIF, even
// after lines the reader does not know (which it skips).
bool reads_as_cif(const String& file, const mmdb::word flags) {
  const bool skip_blank_lines = (flags & mmdb::MMDBF_IgnoreBlankLines) != 0;
  return mmdb::isPDB(file.c_str(), mmdb::io::GZM_CHECK, skip_blank_lines) != 0 &&
         mmdb::mmcif::isCIF(file.c_str(), mmdb::io::GZM_CHECK) == 0;
}

// True when the first line that is not blank and no comment opens a data
// block.
bool opens_with_data_line(const String& content) {
  std::size_t at = 0;
  while (at < content.size()) {
    std::size_t end = content.find('\n', at);
    if (end == String::npos) end = content.size();
    const String line = String(content.substr(at, end - at)).trim();
    if (!line.empty() && line[0] != '#') return line.compare(0, 5, "data_") == 0;
    at = end + 1;
  }
  return false;
}

// True when columns [first, first + width) of the line hold a whole number
// of 0 or more, blanks around it allowed. The library sizes arrays from
// such counts without checking them (a negative count ends the process).
bool is_count(const String& line, const std::size_t first, const std::size_t width) {
  const String field = String(first < line.size() ? line.substr(first, width) : "").trim();
  return !field.empty() && field.find_first_not_of("0123456789") == String::npos;
}

// The length of a line without the carriage return of a CR LF line end.
std::size_t record_length(const String& content, const std::size_t at, const std::size_t length) {
  return length > 0 && content[at + length - 1] == '\r' ? length - 1 : length;
}

// The first fault of a text that the library cannot read safely, naming
// its line; empty when none: no line longer than its
// buffer; in mmCIF form no tag longer than its parser takes; in PDB form no
// anisotropic or standard-deviation record before the first atom record of
// its model (the library attaches such a record to the atom before it, and
// crashes without one), no SEQRES record without a residue count, and no
// HETNAM, HETSYN or FORMUL record beyond 80 columns (the library gathers
// their text into fixed buffers).
String line_fault(const String& content, const bool cif) {
  bool atom_seen = false, in_text = false;
  std::size_t at = 0;
  for (int number = 1; at < content.size(); ++number) {
    std::size_t end = content.find('\n', at);
    if (end == String::npos) end = content.size();
    const std::size_t length = end - at;
    if (length > longest_line)
      return "line " + String(number) + ": a line of " + String(int(length)) +
             " characters, longer than the reader takes (" + String(int(longest_line)) + ")";
    const std::size_t tag = cif ? longest_tag_in(content.substr(at, length), in_text) : 0;
    if (tag > longest_tag)
      return "line " + String(number) + ": a tag of " + String(int(tag)) +
             " characters, longer than the reader takes (" + String(int(longest_tag)) + ")";
    if (!cif) {
      const String record = content.substr(at, std::min<std::size_t>(length, 6));
      if (record == "ATOM  " || record == "HETATM")
        atom_seen = true;
      else if (record.compare(0, 5, "MODEL") == 0)
        atom_seen = false;
      else if (!atom_seen && (record == "ANISOU" || record == "SIGUIJ" || record == "SIGATM"))
        return "line " + String(number) + ": " + record.trim() +
               " record without an atom record before it";
      else if ((record == "HETNAM" || record == "HETSYN" || record == "FORMUL") &&
               record_length(content, at, length) > 80)
        return "line " + String(number) + ": a " + record +
               " record longer than the 80 columns of the form";
      else if (record == "SEQRES" && !is_count(content.substr(at, length), 13, 4))
        return "line " + String(number) +
               ": SEQRES record without a residue count in columns 14-17";
    }
    at = end + 1;
  }
  return String();
}

// The longest values of the mmCIF identifiers that the library's mmCIF
// reader holds whole. One character more and it misreads or overruns:
// a chain id of 9 overruns a buffer (the process aborts), a residue name
// of 19 reads unset memory and one in a monomer list overruns the heap, an
// insertion code of 9 reads unset memory and longer ones are cut to 9, an
// atom name or alternate location of 19 and an element of 9 are stored
// without their end and read into the next field. Matched on the end of
// the tag in every category, as the same identifiers recur (label_asym_id,
// auth_asym_id, beg_label_asym_id ...).
struct Cif_limit {
  const char* tag_end;
  const char* what;
  std::size_t longest;
};
const Cif_limit cif_limits[] = {
    {"asym_id", "chain id", 8},     {"comp_id", "residue name", 18},
    {"mon_id", "residue name", 18}, {"ins_code", "insertion code", 8},
    {"atom_id", "atom name", 18},   {"alt_id", "alternate location", 18},
    {"type_symbol", "element", 8}};

const Cif_limit* cif_limit(const String& tag) {
  for (const Cif_limit& limit : cif_limits)
    if (ends_with(tag, limit.tag_end)) return &limit;
  return nullptr;
}

// The first identifier of parsed mmCIF data that the library cannot hold,
// with its category and tag; empty when none.
String cif_field_fault(mmdb::mmcif::Data& cif) {
  for (int c = 0; c < cif.GetNumberOfCategories(); ++c) {
    mmdb::mmcif::Category* category = cif.GetCategory(c);
    if (!category) continue;
    const String name = category->GetCategoryName() ? category->GetCategoryName() : "";
    for (int t = 0; t < category->GetNofTags(); ++t) {
      const char* tag = category->GetTag(t);
      const Cif_limit* limit = tag ? cif_limit(tag) : nullptr;
      if (!limit) continue;
      std::vector<const char*> values;
      int rc;
      if (category->GetCategoryID() == mmdb::mmcif::MMCIF_Loop) {
        auto* loop = static_cast<mmdb::mmcif::Loop*>(category);
        for (int row = 0; row < loop->GetLoopLength(); ++row)
          values.push_back(loop->GetString(tag, row, rc));
      } else if (category->GetCategoryID() == mmdb::mmcif::MMCIF_Struct) {
        values.push_back(static_cast<mmdb::mmcif::Struct*>(category)->GetString(tag, rc));
      }
      for (const char* value : values)
        if (value && std::strlen(value) > limit->longest)
          return name + "." + tag + ": the " + limit->what + " \"" + value + "\" is longer than " +
                 String(int(limit->longest)) + " characters";
    }
  }
  return String();
}

// Parses an mmCIF file as the library's own reader does (stopping at the
// first syntax fault); 0 or the library's code for the fault.
int parse_cif(mmdb::mmcif::Data& cif, const String& file, const mmdb::word flags) {
  cif.SetStopOnWarning(true);
  cif.SetPrintWarnings((flags & mmdb::MMDBF_PrintCIFWarnings) != 0);
  const int w = cif.ReadMMCIFData(file.c_str(), mmdb::io::GZM_CHECK);
  if (w == 0) return 0;
  if (w == mmdb::mmcif::CIFRC_CantOpenFile) return mmdb::Error_CantOpenFile;
  if (w == mmdb::mmcif::CIFRC_NoDataLine) return mmdb::Error_NotACIFFile;
  if (w < 0) return mmdb::Error_Unknown;
  const std::pair<int, int> codes[] = {
      {mmdb::mmcif::CIFW_UnrecognizedItems, mmdb::Error_UnrecognCIFItems},
      {mmdb::mmcif::CIFW_MissingField, mmdb::Error_MissingCIFField},
      {mmdb::mmcif::CIFW_EmptyLoop, mmdb::Error_EmptyCIFLoop},
      {mmdb::mmcif::CIFW_UnexpectedEOF, mmdb::Error_UnexpEndOfCIF},
      {mmdb::mmcif::CIFW_LoopFieldMissing, mmdb::Error_MissgCIFLoopField},
      {mmdb::mmcif::CIFW_NotAStructure, mmdb::Error_NotACIFStructure},
      {mmdb::mmcif::CIFW_NotALoop, mmdb::Error_NotACIFLoop}};
  for (const auto& [bit, code] : codes)
    if (w & bit) return code;
  return mmdb::Error_Unknown;
}

// True when the text ends with its data line: the library's reader of
// whole files takes such a file for no mmCIF at all.
bool ends_at_data_line(const String& content) {
  std::size_t end = content.size();
  if (end > 0 && content[end - 1] == '\n') --end;
  const std::size_t start = content.rfind('\n', end == 0 ? 0 : end - 1);
  const String last = String(content.substr(start == String::npos ? 0 : start + 1,
                                            end - (start == String::npos ? 0 : start + 1)))
                          .trim();
  if (last.compare(0, 5, "data_") != 0) return false;
  // Nothing but blank lines and comments before it.
  return !opens_with_data_line(content.substr(0, start == String::npos ? 0 : start + 1));
}

// One row of an _atom_site_anisotrop loop: the atom id and U.
struct Aniso_row {
  int id;
  double u[6];
};

// The rows of the _atom_site_anisotrop loop, taken before the library's
// interpretation consumes the data; false when there is no such loop.
bool anisotropic_rows(mmdb::mmcif::Data& cif, std::vector<Aniso_row>& rows) {
  mmdb::mmcif::Loop* loop = cif.GetLoop("_atom_site_anisotrop");
  if (!loop) return false;
  static const char* const u_tags[6] = {"U[1][1]", "U[2][2]", "U[3][3]",
                                        "U[1][2]", "U[1][3]", "U[2][3]"};
  static const char* const b_tags[6] = {"B[1][1]", "B[2][2]", "B[3][3]",
                                        "B[1][2]", "B[1][3]", "B[2][3]"};
  for (int row = 0; row < loop->GetLoopLength(); ++row) {
    Aniso_row r;
    if (loop->GetInteger(r.id, "id", row) != mmdb::mmcif::CIFRC_Ok) continue;
    bool ok = true;
    for (int i = 0; i < 6 && ok; ++i) ok = loop->GetReal(r.u[i], u_tags[i], row) == 0;
    if (!ok) {  // the B form of the tensor, B = 8 pi^2 U
      ok = true;
      for (int i = 0; i < 6 && ok; ++i) {
        ok = loop->GetReal(r.u[i], b_tags[i], row) == 0;
        r.u[i] /= Util::eightpi2();
      }
    }
    if (ok) rows.push_back(r);
  }
  return true;
}

// Calls f on every atom record of every model.
template <class F> void for_each_atom(mmdb::Manager& mmdb, F f) {
  for (int m = 1; m <= mmdb.GetNumberOfModels(); ++m) {
    mmdb::Model* model = mmdb.GetModel(m);
    if (!model) continue;
    for (int c = 0; c < model->GetNumberOfChains(); ++c) {
      mmdb::Chain* chain = model->GetChain(c);
      if (!chain) continue;
      for (int r = 0; r < chain->GetNumberOfResidues(); ++r) {
        mmdb::Residue* residue = chain->GetResidue(r);
        if (!residue) continue;
        for (int a = 0; a < residue->GetNumberOfAtoms(); ++a)
          if (mmdb::Atom* atom = residue->GetAtom(a)) f(atom);
      }
    }
  }
}

// The library reads the rows of an mmCIF _atom_site_anisotrop loop onto the
// atoms by position, so when only some atoms have rows, tensors land on the
// wrong atoms. Attaches each row to the atoms whose serial number is the
// row's atom id; atoms without a row have no tensor.
void attach_anisotropic_rows(mmdb::Manager& mmdb, const std::vector<Aniso_row>& rows) {
  std::unordered_map<int, std::vector<mmdb::Atom*>> by_serial;
  for_each_atom(mmdb, [&](mmdb::Atom* atom) {
    atom->WhatIsSet &= mmdb::word(~(mmdb::ASET_Anis_tFac | mmdb::ASET_Anis_tFSigma));
    if (!atom->Ter) by_serial[atom->serNum].push_back(atom);
  });
  for (const Aniso_row& row : rows) {
    const auto atoms = by_serial.find(row.id);
    if (atoms == by_serial.end()) continue;
    const double* u = row.u;
    for (mmdb::Atom* atom : atoms->second)
      MMDBAtom(atom).set_u_aniso_orth(U_aniso_orth(u[0], u[1], u[2], u[3], u[4], u[5]));
  }
}

// The atoms a text holds, by model number as the library numbers its
// models, and the number of the first model (in the text's order) that
// holds any; 0 when none does.
struct Model_atoms {
  std::map<int, std::size_t> by_number;
  int first = 0;
  void add(const int number) {
    if (by_number.empty()) first = number;
    ++by_number[number];
  }
};

// A model number as the library reads one: the number its text starts
// with, blanks before it allowed, as strtod reads it (so "1.0", "1e0" and
// "0x1" are 1, and "2x" is 2), rounded half up. False when the text starts
// with no number, or with one that rounds to no number from 1 to INT_MAX
// ("x", "0", "99999999999"): the library refuses such a MODEL record, and
// reads such an mmCIF row into the model of the row before it.
bool model_number(const String& text, int& number) {
  const char* start = text.c_str();
  char* end = nullptr;
  const double value = std::floor(std::strtod(start, &end) + 0.5);
  if (end == start || !(value >= 1 && value <= INT_MAX)) return false;
  number = int(value);
  return true;
}

// The atom rows of parsed mmCIF data by model number, as the library
// groups them: a row whose model number the library cannot read is in the
// model of the row before it (rows before any number, and all rows of a
// loop without the column, in model 1). TER rows are no atoms. A lone atom
// given as tag-value pairs, not as a loop, is read by neither this library
// nor others, and is not counted.
Model_atoms cif_model_rows(mmdb::mmcif::Data& cif) {
  Model_atoms rows;
  mmdb::mmcif::Loop* loop = cif.GetLoop("_atom_site");
  if (!loop) return rows;
  int rc;
  const auto text = [&](const char* tag, const int row) {
    const char* value = loop->GetString(tag, row, rc);
    return value ? String(value).trim() : String();
  };
  int number = 1;
  for (int row = 0; row < loop->GetLoopLength(); ++row) {
    model_number(text("pdbx_PDB_model_num", row), number);
    if (text("group_PDB", row) != "TER") rows.add(number);
  }
  return rows;
}

// Reads an mmCIF file into the library's hierarchy with a single parse:
// the identifiers are checked on the parsed data, which the library then
// interprets, and the anisotropic rows attached by atom id. Returns the
// library's code; fault is set, and nothing interpreted, when an
// identifier is longer than the library holds. atom_rows is set to the
// atom rows by model (cif_model_rows).
int read_cif(mmdb::Manager& mmdb, const String& file, const String& content, const mmdb::word flags,
             String& fault, Model_atoms& atom_rows) {
  mmdb::mmcif::Data cif;
  int rc = parse_cif(cif, file, flags);
  if (rc == 0 && ends_at_data_line(content)) rc = mmdb::Error_NotACIFFile;
  if (rc != 0) return rc;
  fault = cif_field_fault(cif);
  if (!fault.empty()) return 0;
  atom_rows = cif_model_rows(cif);
  std::vector<Aniso_row> rows;
  const bool aniso = anisotropic_rows(cif, rows);
  rc = mmdb.ReadFromCIF(&cif);
  if (rc == 0 && aniso) attach_anisotropic_rows(mmdb, rows);
  return rc;
}

// The first fault that the library's reader could not survive or would
// read wrongly, in a text of either form; empty when none.
String text_fault(const String& file, const String& content, const mmdb::word flags) {
  const bool cif = reads_as_cif(file, flags);
  const String fault = line_fault(content, cif);
  if (!fault.empty() || !cif) return fault;
  mmdb::mmcif::Data data;
  return parse_cif(data, file, flags) == 0 ? cif_field_fault(data) : String();
}

// Large enough for any identifier path the library writes: the longest
// path joins a model number and fixed fields of at most 20 bytes each.
constexpr int id_buffer_size = 256;

Property<String> text_property(const String& text) { return Property<String>(text); }

// A PDB file that ends inside an atom record reads as success, its last
// atom holding no position; a position of "nan" or "inf" reads as that
// number. Every atom record must hold a position, and every number read
// must be finite.
void check_atoms(mmdb::Manager& mmdb, const String& file) {
  char id[id_buffer_size];
  for_each_atom(mmdb, [&](mmdb::Atom* atom) {
    if (atom->Ter) return;
    const mmdb::word set = atom->WhatIsSet;
    if (!(set & mmdb::ASET_Coordinates))
      // Such a record may hold no name or number either: name its residue.
      refuse_input(file, code_text(mmdb::Error_ATOM_Unrecognized) + ": an atom record of residue " +
                             (atom->GetResidue() ? atom->GetResidue()->GetResidueID(id) : "?") +
                             " has no position");
    const bool finite = std::isfinite(atom->x) && std::isfinite(atom->y) &&
                        std::isfinite(atom->z) &&
                        (!(set & mmdb::ASET_Occupancy) || std::isfinite(atom->occupancy)) &&
                        (!(set & mmdb::ASET_tempFactor) || std::isfinite(atom->tempFactor));
    if (!finite)
      refuse_input(file, "atom " + String(atom->serNum) + " " + atom->GetAtomID(id) +
                             ": a number that is not finite");
  });
}

// True for a PDB record that readers take for an atom: ATOM or HETATM in
// columns 1-6, in any case, and ATOM also with digits in columns 5-6 (a
// serial number of 6 or 7 digits, as some writers give past 99999). The
// library reads only "ATOM  " and "HETATM", and stops at any other such
// record (or drops it without a word when it is the last).
bool is_atom_record(const String& line) {
  String name = (line.substr(0, 6) + "      ").substr(0, 6);
  for (char& c : name) c = char(std::toupper(static_cast<unsigned char>(c)));
  const auto serial = [](const char c) {
    return c == ' ' || std::isdigit(static_cast<unsigned char>(c));
  };
  return name == "HETATM" ||
         (name.compare(0, 4, "ATOM") == 0 && serial(name[4]) && serial(name[5]));
}

// The atom records (is_atom_record) of a PDB text by model number, as the
// library numbers them: those before any MODEL record in model 1, those
// after one in the model its columns 11-14 give (model_number; the library
// refuses the file when they give none), up to an END record (where the
// library, like other readers, stops). A MODEL record is "MODEL " in
// columns 1-6, in capitals, as the library takes it.
Model_atoms pdb_model_records(const String& content) {
  Model_atoms records;
  int number = 1;
  for (std::size_t at = 0; at < content.size();) {
    std::size_t end = content.find('\n', at);
    if (end == String::npos) end = content.size();
    const String line = content.substr(at, end - at);
    const String record = line.substr(0, 6);
    if (is_atom_record(line)) {
      records.add(number);
    } else if ((record + "      ").substr(0, 6) == "MODEL ") {
      model_number((line + "              ").substr(10, 4), number);
    } else if (record.trim() == "END") {
      break;
    }
    at = end + 1;
  }
  return records;
}

// The library stops reading atoms without a word at some records: in PDB
// form at any record that is no coordinate record once atoms (or MODEL or
// TER) have begun, so a file opening with TER or with MODEL before CRYST1
// reads no atom; in mmCIF form at a row whose residue numbers are "?" and
// ".", dropping the rows after it. The file is refused, naming both
// counts, when the first model the library holds (as import_minimol takes
// it) has fewer atoms than the text holds for its number. The count is
// never skipped: when the library holds no model, or one whose number the
// text does not give, it is compared with the text's first model.
void check_atom_count(mmdb::Manager& mmdb, const String& file, const Model_atoms& in_text) {
  if (in_text.by_number.empty()) return;  // the text holds no atom
  mmdb::Model* model = nullptr;
  for (int m = 1; m <= mmdb.GetNumberOfModels() && !model; ++m) model = mmdb.GetModel(m);
  auto held = model ? in_text.by_number.find(model->GetSerNum()) : in_text.by_number.end();
  if (held == in_text.by_number.end()) held = in_text.by_number.find(in_text.first);
  const std::size_t read = model ? std::size_t(model->GetNumberOfAtoms(false)) : 0;
  if (read < held->second)
    refuse_input(file, "the reader takes " + String(int(read)) + " of the " +
                           String(int(held->second)) + " atoms the text holds for model " +
                           String(held->first));
}

// Why an identifier cannot be written in the form, or empty when it can,
// as found by writing each case with the library and reading it back.
// Both forms are text of printable ASCII: in a PDB record a byte beyond it
// can vanish (an insertion code written as a blank, which then reads as
// a second residue of the same number). The library's mmCIF writer
// quotes a value with blanks or quotes (a text field when it holds both
// kinds), but writes unquoted a value that starts like a tag, a comment or
// a text field, or with a reserved word: its reader then fails on the
// file. A leading "$" and reserved words in capitals it reads back, but
// such a file is not mmCIF (other readers refuse it), nor is one holding a
// control character or a byte beyond ASCII (a tab parts the value).
String unwritable(const String& value, const bool pdb) {
  for (const char c : value)
    if (c < 0x20 || c > 0x7e) return "holds a character that is not printable ASCII";
  if (pdb) return String();
  const String text = value.trim();  // written without the blanks around it
  if (!text.empty() && String("_#$;").find(text[0]) != String::npos)
    return "starts with \"" + text.substr(0, 1) + "\"";
  String lower = text;
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  for (const char* word : {"data_", "loop_", "save_", "global_", "stop_"})
    if (lower.compare(0, std::strlen(word), word) == 0) return "starts with a reserved word";
  return String();
}

// The identifiers a written file must hold whole: a PDB record has fixed
// columns for each, and the library's mmCIF reader fixed buffers (see
// cif_limits); the library would cut them silently or write a file it
// cannot read back. Numbers of a PDB record must fit its columns too; a
// residue number past 9999 is written in hybrid-36 ("A000" is 10000, "zzzz"
// 2436111), which the library reads back, but without its insertion code
// (two residues 10000A and 10000B would read as one number twice), and one
// below -999 as "****".
void check_output_ids(mmdb::Manager& mmdb, const String& file, const bool pdb) {
  const String form = pdb ? "the PDB form" : "the mmCIF form";
  // The length counts without blanks around the value; every byte the
  // library writes must be printable.
  const auto check = [&](const String& raw, const char* what, const std::size_t longest) {
    const String value = raw.trim();
    if (value.size() > longest)
      refuse_output(file, String("the ") + what + " \"" + value + "\" is longer than " +
                              String(int(longest)) + " characters, more than " + form + " holds");
    const String why = unwritable(raw, pdb);
    if (!why.empty())
      refuse_output(file, String("the ") + what + " \"" + raw + "\" " + why + ", which " + form +
                              " cannot hold");
  };
  const auto fits = [](const double v, const double lo, const double hi) {
    return v >= lo && v <= hi;
  };
  char id[id_buffer_size];
  for_each_atom(mmdb, [&](mmdb::Atom* atom) {
    mmdb::Residue* residue = atom->GetResidue();
    mmdb::Chain* chain = atom->GetChain();
    if (chain) check(chain->GetChainID(), "chain id", pdb ? 2 : 8);
    if (residue) {
      check(residue->GetResName(), "residue name", pdb ? 3 : 18);
      check(residue->GetInsCode(), "insertion code", pdb ? 1 : 8);
      const int number = residue->GetSeqNum();
      if (pdb && !fits(number, -999, 2436111))
        refuse_output(file, "the residue number " + String(number) +
                                " is outside -999 to 2436111, which the PDB form holds");
      const String code = String(residue->GetInsCode()).trim();
      if (pdb && number > 9999 && !code.empty())
        refuse_output(file, "the residue number " + String(number) + " with the insertion code \"" +
                                code + "\": the PDB form holds no insertion code past 9999");
    }
    if (atom->Ter) return;
    check(atom->name, "atom name", pdb ? 4 : 18);
    check(atom->altLoc, "alternate location", pdb ? 1 : 18);
    check(atom->element, "element", pdb ? 2 : 8);
    // Columns 8.3 for a position, 6.2 for occupancy and B.
    const mmdb::word set = atom->WhatIsSet;
    if (pdb && !((!(set & mmdb::ASET_Coordinates) ||
                  (fits(atom->x, -999.999, 9999.999) && fits(atom->y, -999.999, 9999.999) &&
                   fits(atom->z, -999.999, 9999.999))) &&
                 (!(set & mmdb::ASET_Occupancy) || fits(atom->occupancy, -99.99, 999.99)) &&
                 (!(set & mmdb::ASET_tempFactor) || fits(atom->tempFactor, -99.99, 999.99))))
      refuse_output(file, "atom " + String(atom->GetAtomID(id)) +
                              ": a number that does not fit the columns of the PDB form");
  });
}

// The residues of polymers that the PDB writes as ATOM records, as gemmi
// tabulates them standard: the amino acids with UNK, SEC, PYL, ASX and GLX,
// and the nucleotides of RNA and DNA. The library's own tables hold more
// (CYH, +A, 5NC), which are no standard residues.
bool is_standard_residue(const String& name) {
  static const char* const names[] = {"ALA", "ARG", "ASN", "ASP", "CYS", "GLN", "GLU", "GLY", "HIS",
                                      "ILE", "LEU", "LYS", "MET", "PHE", "PRO", "SER", "THR", "TRP",
                                      "TYR", "VAL", "UNK", "SEC", "PYL", "ASX", "GLX", "A",   "C",
                                      "G",   "U",   "I",   "DA",  "DC",  "DG",  "DT",  "DI",  "DU"};
  return std::find(std::begin(names), std::end(names), name) != std::end(names);
}

template <std::size_t n> void copy_label(char (&field)[n], const String& value) {
  std::snprintf(field, n, "%s", value.c_str());
}

// The bonds that carry a chain's backbone from one residue to the next: the
// peptide bond C-N and the nucleotides' O3'-P (O3* in older files). A bond
// is taken where the atoms are within 1.5 times its length (1.33 and
// 1.61 A): a stretched bond of a poor model stays under that, and atoms
// that are not bonded come no nearer than about 2.6 A.
struct Backbone_bond {
  const char* from[2];
  const char* to;
  double longest;
};
const Backbone_bond backbone_bonds[] = {{{"C", "C"}, "N", 1.5 * 1.33},
                                        {{"O3'", "O3*"}, "P", 1.5 * 1.61}};

// True when residue next continues the backbone of residue residue, in any
// of their alternate locations.
bool continues_backbone(mmdb::Residue* residue, mmdb::Residue* next) {
  const auto placed = [](mmdb::Atom* atom) {
    return atom && !atom->Ter && (atom->WhatIsSet & mmdb::ASET_Coordinates);
  };
  for (const Backbone_bond& bond : backbone_bonds)
    for (int a = 0; a < residue->GetNumberOfAtoms(); ++a) {
      mmdb::Atom* from = residue->GetAtom(a);
      if (!placed(from)) continue;
      const String name = String(from->name).trim();
      if (name != bond.from[0] && name != bond.from[1]) continue;
      for (int b = 0; b < next->GetNumberOfAtoms(); ++b) {
        mmdb::Atom* to = next->GetAtom(b);
        if (!placed(to) || String(to->name).trim() != bond.to) continue;
        const double dx = from->x - to->x, dy = from->y - to->y, dz = from->z - to->z;
        if (dx * dx + dy * dy + dz * dz <= bond.longest * bond.longest) return true;
      }
    }
  return false;
}

// What a residue is in a written file: a residue of its chain's polymer, a
// ligand (any other residue) or water.
enum class Part { none, polymer, ligand, water };

// The parts of a chain's residues (none where the chain holds no residue),
// and in last the position of its polymer's last residue (-1 without one).
// The polymer runs from the chain's first to its last standard residue,
// waters apart, and on through the residues on either side that continue
// its backbone: caps, D-amino acids and modified residues at its ends, as
// files from the PDB hold them. In a chain without a standard residue it
// starts at the first residue whose backbone the next one continues (a
// peptide of modified residues only); such a chain may have none.
std::vector<Part> chain_parts(mmdb::Chain* chain, int& last) {
  const int n = chain->GetNumberOfResidues();
  std::vector<mmdb::Residue*> residues(n);
  std::vector<Part> parts(n, Part::none);
  for (int r = 0; r < n; ++r) {
    residues[r] = chain->GetResidue(r);
    if (residues[r]) parts[r] = residues[r]->isSolvent() ? Part::water : Part::ligand;
  }
  const auto in_chain = [&](const int r) {  // a residue that is no water
    return r >= 0 && r < n && (parts[r] == Part::ligand || parts[r] == Part::polymer);
  };
  const auto linked = [&](const int r) {  // residue r + 1 continues residue r
    return in_chain(r) && in_chain(r + 1) && continues_backbone(residues[r], residues[r + 1]);
  };
  int first = n;
  last = -1;
  for (int r = 0; r < n; ++r)
    if (parts[r] == Part::ligand && is_standard_residue(residues[r]->name)) {
      first = std::min(first, r);
      last = r;
    }
  for (int r = 0; last < 0 && r + 1 < n; ++r)
    if (linked(r)) first = last = r;
  if (last < 0) return parts;
  for (int r = first; r <= last; ++r)
    if (parts[r] == Part::ligand) parts[r] = Part::polymer;
  for (; linked(last); ++last) parts[last + 1] = Part::polymer;
  for (; linked(first - 1); --first) parts[first - 1] = Part::polymer;
  return parts;
}

// The label_asym_id of the k-th group of a model (from 0), as the PDB
// names them: A to Z, then AA, BA ... ZA, AB ... (the first letter
// running fastest), and so on.
String asym_name(long long k) {
  int width = 1;
  for (long long count = 26; k >= count; count *= 26, ++width) k -= count;
  String name;
  for (int i = 0; i < width; ++i, k /= 26) name += char('A' + k % 26);
  return name;
}

// Sets the mmCIF label ids of a model's residues, as files from the PDB
// give them: the polymer of each chain, each ligand and the waters of each
// chain are groups with label_asym_ids of their own, named in that order
// (all polymers, then all ligands, then all waters, each in model order);
// the entities number the distinct polymer sequences, then the ligands'
// residue names, then water. A polymer residue's label_seq_id follows the
// one before it by 1 where it continues its backbone, and otherwise by as
// much as the residue numbers step (missing residues), at least 1; the
// first is 1. Other residues have none. A residue with kept labels (read
// from mmCIF) keeps them, and gives its group's labels to the group's
// other residues; new names and entities then avoid those kept.
void set_model_labels(mmdb::Model* model, const std::vector<std::vector<Part>>& parts,
                      const bool read_labels) {
  struct Group {
    std::vector<mmdb::Residue*> residues;
    String entity_key;
  };
  std::vector<Group> polymers, ligands, waters;
  for (int c = 0; c < int(parts.size()); ++c) {
    mmdb::Chain* chain = model->GetChain(c);
    Group polymer{{}, "polymer"}, water{{}, "water"};
    for (int r = 0; r < int(parts[c].size()); ++r) {
      mmdb::Residue* residue = chain->GetResidue(r);
      if (parts[c][r] == Part::polymer) {
        polymer.residues.push_back(residue);
        polymer.entity_key += String(" ") + residue->name;
      } else if (parts[c][r] == Part::water) {
        water.residues.push_back(residue);
      } else if (parts[c][r] == Part::ligand) {
        ligands.push_back(Group{{residue}, String("ligand ") + residue->name});
      }
    }
    if (!polymer.residues.empty()) polymers.push_back(polymer);
    if (!water.residues.empty()) waters.push_back(water);
  }
  std::vector<Group> groups = polymers;
  groups.insert(groups.end(), ligands.begin(), ligands.end());
  groups.insert(groups.end(), waters.begin(), waters.end());

  const auto kept = [&](mmdb::Residue* residue) {
    return read_labels && residue->label_asym_id[0] != '\0';
  };
  std::set<String> used_names;
  std::map<String, int> entities;
  int last_entity = 0;
  for (const Group& group : groups)
    for (mmdb::Residue* residue : group.residues)
      if (kept(residue)) {
        used_names.insert(residue->label_asym_id);
        entities.emplace(group.entity_key, residue->label_entity_id);
        last_entity = std::max(last_entity, residue->label_entity_id);
      }
  long long next_name = 0;
  for (const Group& group : groups) {
    const auto with_labels = std::find_if(group.residues.begin(), group.residues.end(), kept);
    String name;
    int entity;
    if (with_labels != group.residues.end()) {
      name = (*with_labels)->label_asym_id;
      entity = (*with_labels)->label_entity_id;
    } else {
      do name = asym_name(next_name++);
      while (used_names.count(name));
      const auto found = entities.emplace(group.entity_key, last_entity + 1);
      if (found.second) ++last_entity;
      entity = found.first->second;
    }
    const bool polymer = group.entity_key.compare(0, 7, "polymer") == 0;
    mmdb::Residue* previous = nullptr;
    for (mmdb::Residue* residue : group.residues) {
      const bool own = kept(residue);
      if (!own) {
        copy_label(residue->label_asym_id, name);
        residue->label_entity_id = entity;
      }
      if (!polymer) {
        if (!own) residue->label_seq_id = mmdb::MinInt4;  // written "."
      } else if (!own || residue->label_seq_id <= 0) {
        long long step = 1;
        if (previous && !continues_backbone(previous, residue))
          step = std::max(1LL, (long long)residue->seqNum - previous->seqNum);
        residue->label_seq_id =
            previous ? int(std::min<long long>(INT_MAX, previous->label_seq_id + step)) : 1;
      }
      previous = residue;
    }
  }
}

// Sets what the text forms write of each atom from the model itself: a
// residue that is no standard residue is written as HETATM, the rest as
// ATOM; the label ids are the atom and residue names, and the chain,
// entity and position labels of set_model_labels. The library leaves
// placeholders in these fields for a model made in memory (".", "---",
// -32767) and labels every residue of a PDB file with its chain id and
// residue number; with read_labels (the last file read was mmCIF) a
// residue keeps the labels it was read with. For the PDB form (pdb) a
// chain without TER record gets one after its polymer.
void set_output_labels(mmdb::Manager& mmdb, const bool read_labels, const bool pdb) {
  bool edited = false;
  for (int m = 1; m <= mmdb.GetNumberOfModels(); ++m) {
    mmdb::Model* model = mmdb.GetModel(m);
    if (!model) continue;
    std::vector<std::vector<Part>> parts(model->GetNumberOfChains());
    for (int c = 0; c < model->GetNumberOfChains(); ++c) {
      mmdb::Chain* chain = model->GetChain(c);
      if (!chain) continue;
      int last;
      parts[c] = chain_parts(chain, last);
      bool has_ter = false;
      for (int r = 0; r < chain->GetNumberOfResidues(); ++r)
        if (mmdb::Residue* residue = chain->GetResidue(r))
          for (int a = 0; a < residue->GetNumberOfAtoms(); ++a)
            has_ter = has_ter || (residue->GetAtom(a) && residue->GetAtom(a)->Ter);
      // Without a TER record readers (gemmi) take each residue of a PDB
      // file's polymer for a molecule of its own.
      if (pdb && last >= 0 && !has_ter) {
        mmdb::Atom* ter = new mmdb::Atom();
        chain->GetResidue(last)->AddAtom(ter);
        ter->MakeTer();
        edited = true;
      }
      for (int r = 0; r < chain->GetNumberOfResidues(); ++r) {
        mmdb::Residue* residue = chain->GetResidue(r);
        if (!residue) continue;
        copy_label(residue->label_comp_id, residue->name);
        const bool het = !is_standard_residue(residue->name);
        for (int a = 0; a < residue->GetNumberOfAtoms(); ++a) {
          mmdb::Atom* atom = residue->GetAtom(a);
          if (!atom || atom->Ter) continue;
          atom->Het = het;
          copy_label(atom->label_atom_id, String(atom->name).trim());
        }
      }
    }
    set_model_labels(model, parts, read_labels);
  }
  if (edited) mmdb.FinishStructEdit();
}

// The block code of an mmCIF file, which the library's writer takes from
// the model's entry id: that id, or when it has none the output's name
// without folder and extension ("out" for dir/out.cif.gz), in the
// characters a block code may hold (letters, digits, "-", "_", "."; others
// become "_") and the 15 the entry id holds; "model" when nothing is left.
// A bare "data_" is no block code: cctbx reads no atom from such a file and
// gemmi takes the next word for the name.
String block_code(const String& entry_id, const String& file) {
  String code = String(entry_id).trim();
  if (code.empty()) {
    code = file.substr(file.rfind('/') == String::npos ? 0 : file.rfind('/') + 1);
    if (ends_with(code, ".gz")) code.resize(code.size() - 3);
    const std::size_t dot = code.rfind('.');
    if (dot != String::npos && dot > 0) code.resize(dot);
  }
  for (char& c : code)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.') c = '_';
  code = code.substr(0, sizeof(mmdb::IDCode) - 1);
  return code.empty() ? String("model") : code;
}

// Gives the model the block code of an mmCIF write as its entry id while
// it lives, and its own id back after.
class Block_code {
 public:
  Block_code(mmdb::Manager& mmdb, const String& file)
      : mmdb_(mmdb), own_(mmdb.GetEntryID() ? mmdb.GetEntryID() : "") {
    mmdb_.SetEntryID(block_code(own_, file).c_str());
  }
  ~Block_code() { mmdb_.SetEntryID(own_.c_str()); }
  Block_code(const Block_code&) = delete;
  Block_code& operator=(const Block_code&) = delete;

 private:
  mmdb::Manager& mmdb_;
  const String own_;
};

// The library writes a TER record (kept from a PDB file) into mmCIF as an
// atom row without name or position, which readers, this library's too,
// take for an atom at the origin. mmCIF has no such records: they are
// removed before an mmCIF write.
void remove_ter_records(mmdb::Manager& mmdb) {
  std::vector<mmdb::Atom*> ters;
  for_each_atom(mmdb, [&](mmdb::Atom* atom) {
    if (atom->Ter && atom->GetResidue()) ters.push_back(atom);
  });
  for (mmdb::Atom* ter : ters) {
    mmdb::Residue* residue = ter->GetResidue();
    for (int a = 0; a < residue->GetNumberOfAtoms(); ++a)
      if (residue->GetAtom(a) == ter) residue->DeleteAtom(a);
  }
  if (!ters.empty()) mmdb.FinishStructEdit();
}

// Work records of an export: the library object of each model node, null
// until found or created.
struct SAtom {
  mmdb::Atom* db_atom = nullptr;
  const MAtom* mm_atom;
};
struct SMono {
  mmdb::Residue* db_residue = nullptr;
  const MMonomer* mm_monomer;
  std::vector<SAtom> atoms;
};
struct SPoly {
  mmdb::Chain* db_chain = nullptr;
  const MPolymer* mm_polymer;
  std::vector<SMono> monomers;
};

// The node's "CID" path, or empty when it has none.
String cid_of(const PropertyManager& node) {
  if (!node.exists_property("CID")) return String();
  return dynamic_cast<const Property<String>&>(node.get_property("CID")).value();
}

// Splits an id at its first ":" into the base id and the code after it.
std::pair<String, String> split_id(const String& id) {
  const std::size_t colon = id.find(':');
  if (colon == String::npos) return {id, String()};
  return {id.substr(0, colon), id.substr(colon + 1)};
}

}  // namespace

void MMDBfile::read_file(const String& file) {
  // The library never returns from reading a directory or a FIFO; refuse
  // anything that is not a regular file before it tries.
  struct stat st;
  const bool exists = stat(file.c_str(), &st) == 0;
  if (!exists || !S_ISREG(st.st_mode))
    refuse_input(file, code_text(mmdb::Error_CantOpenFile) + ": " +
                           (exists ? "not a regular file" : "no such file"));
  // Faults that make the library crash or stop reading silently are
  // refused from the text first.
  const String content = file_content(file);
  const double seconds = child_seconds(content.size());
  const mmdb::word flags = Flags;
  const bool binary = content.compare(0, binary_signature.size(), binary_signature) == 0;
  const bool cif = !binary && reads_as_cif(file, flags);
  if (binary) {
    const Child_outcome verdict = check_in_child(seconds, [&] {
      MMDBfile probe;
      probe.SetFlag(flags);
      if (probe.ReadCoorFile(file.c_str(), mmdb::io::GZM_CHECK) == 0) {
        MiniMol model;
        probe.import_minimol(model, -1);
      }
      return String();
    });
    check_verdict(file, verdict, "the binary form is damaged: ", "it", seconds);
  } else {
    const String fault = line_fault(content, cif);
    if (!fault.empty()) refuse_input(file, fault);
    if (cif) {
      // The child parses, checks, interprets and imports; this process
      // then parses once more and interprets what it parsed.
      const Child_outcome verdict = check_in_child(seconds, [&] {
        MMDBfile probe;
        probe.SetFlag(flags);
        String found;
        Model_atoms rows;
        if (read_cif(probe, file, content, flags, found, rows) == 0 && found.empty()) {
          MiniMol model;
          probe.import_minimol(model, -1);
        }
        return found;
      });
      check_verdict(file, verdict, "", "this mmCIF text", seconds);
    }
  }
  int rc;
  Model_atoms atoms_in_text;
  try {
    if (cif) {
      String found;
      FType = mmdb::MMDB_FILE_CIF;
      rc = read_cif(*this, file, content, flags, found, atoms_in_text);
      if (!found.empty()) refuse_input(file, found);
    } else {
      rc = ReadCoorFile(file.c_str(), mmdb::io::GZM_CHECK);
      if (!binary) atoms_in_text = pdb_model_records(content);
    }
  } catch (const std::exception& e) {  // such as an array sized from a negative count
    refuse_input(file, String("the reader failed: ") + e.what());
  }
  if (rc != 0) read_error(file, rc);
  check_atoms(*this, file);
  check_atom_count(*this, file, atoms_in_text);
}

void MMDBfile::write_file(const String& file, TYPE type) {
  if (type == AS_READ) {
    const int read = GetFileType();
    if (read == PDB || read == CIF || read == BINARY) type = TYPE(read);
  }
  // Nothing is written, and nothing the path names is touched, unless the
  // whole content fits the form and was written to a temporary file first.
  Files::check_output(file, write_who);
  // The library records every write as its last file operation; keep the
  // form of the last read, which is what AS_READ means.
  const int read_type = FType;
  if (type != BINARY) {
    check_output_ids(*this, file, type != CIF);
    set_output_labels(*this, read_type == mmdb::MMDB_FILE_CIF, type != CIF);
  }
  if (type == CIF) remove_ter_records(*this);
  std::optional<Block_code> block;
  if (type == CIF) block.emplace(*this, file);
  // The library keeps the mmCIF data of its last write and adds the next
  // write's rows to it: a second write would hold every atom twice.
  mmdb::mmcif::PData& cif_data = mmdb::Root::CIF;
  if (type == CIF && cif_data) {
    delete cif_data;
    cif_data = nullptr;
  }
  Output_file out(file, write_who);
  // The library's own writes to a file go unchecked (a full disk gives a
  // file cut short, and success). So it renders the file into memory, and
  // the bytes are written with every write checked. mmCIF it renders only
  // while writing a named file: that goes to the new content's place and
  // is then overwritten by the same data rendered into memory.
  struct Memory_file : mmdb::io::File {
    explicit Memory_file(const bool portable) {
      assign(0, 0, nullptr);
      UniBin = portable;  // the binary form is written portable, as to a file
    }
  };
  const auto rendered = [](const bool portable, const auto& render) {
    Memory_file memory(portable);
    memory.rewrite();
    render(memory);
    mmdb::pstr pool = nullptr;
    mmdb::word size = 0;
    memory.takeFilePool(pool, size);
    const String bytes(pool != nullptr ? pool : "", pool != nullptr ? size : 0);
    delete[] pool;
    memory.shut();
    return bytes;
  };
  String content;
  if (type == CIF) {
    const int rc = WriteCIFASCII(out.path().c_str(), mmdb::io::GZM_NONE);
    FType = read_type;
    if (rc != 0) write_error(file, rc);
    const mmdb::mmcif::PData cif = mmdb::Root::CIF;  // the data just written
    if (cif == nullptr) write_error(file, mmdb::Error_CantOpenFile);
    content = rendered(false, [&](mmdb::io::File& f) { cif->WriteMMCIF(f); });
  } else if (type == BINARY) {
    content = rendered(true, [&](mmdb::io::File& f) { WriteMMDBF(f); });
  } else {
    content = rendered(false, [&](mmdb::io::File& f) { WritePDBASCII(f); });
  }
  FType = read_type;
  if (content.empty()) write_error(file, mmdb::Error_CantOpenFile);
  out.write(content);
  // What is written must read back: the text passes the reader's own checks
  // (the library writes some fields wider than it stores them).
  if (type != BINARY) {
    const String fault = text_fault(out.path(), content, Flags);
    if (!fault.empty()) refuse_output(file, "the written file would not read back: " + fault);
  }
  // A file named *.gz is written compressed (gzip), as the library would.
  if (ends_with(file, ".gz")) {
    z_stream z;
    std::memset(&z, 0, sizeof z);
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
      write_error(file, mmdb::Error_CantOpenFile);
    std::vector<unsigned char> packed(deflateBound(&z, uLong(content.size())));
    z.next_in = reinterpret_cast<Bytef*>(&content[0]);
    z.avail_in = uInt(content.size());
    z.next_out = packed.data();
    z.avail_out = uInt(packed.size());
    const bool done = deflate(&z, Z_FINISH) == Z_STREAM_END;
    const std::size_t size = z.total_out;
    deflateEnd(&z);
    if (!done) write_error(file, mmdb::Error_CantOpenFile);
    out.write(String(reinterpret_cast<const char*>(packed.data()), size));
  }
  out.commit();
}

void MMDBfile::import_minimol(MiniMol& model, int selection) {
  model = MiniMol(spacegroup(), cell());

  const int atoms = NewSelection(), residues = NewSelection(), chains = NewSelection(),
            models = NewSelection();
  if (selection < 0)
    SelectAtoms(atoms, 0, 0, mmdb::SKEY_NEW);
  else
    Select(atoms, mmdb::STYPE_ATOM, selection, mmdb::SKEY_NEW);
  Select(residues, mmdb::STYPE_RESIDUE, atoms, mmdb::SKEY_NEW);
  Select(chains, mmdb::STYPE_CHAIN, atoms, mmdb::SKEY_NEW);
  Select(models, mmdb::STYPE_MODEL, atoms, mmdb::SKEY_NEW);

  // Children are appended empty and filled in place, so that no atom is
  // copied more than once.
  // The first model present: a file may number its only model 2, and a
  // file without MODEL records holds model 1.
  mmdb::Model* db_model = nullptr;
  for (int m = 1; m <= GetNumberOfModels() && !db_model; ++m) db_model = GetModel(m);
  char id[id_buffer_size];
  if (db_model) {
    for (int c = 0; c < db_model->GetNumberOfChains(); ++c) {
      mmdb::Chain* db_chain = db_model->GetChain(c);
      if (!db_chain || !db_chain->isInSelection(chains)) continue;
      model.insert(MPolymer(), -1);
      MPolymer& polymer = model[model.size() - 1];
      for (int r = 0; r < db_chain->GetNumberOfResidues(); ++r) {
        mmdb::Residue* db_residue = db_chain->GetResidue(r);
        if (!db_residue || !db_residue->isInSelection(residues)) continue;
        polymer.insert(MMonomer(), -1);
        MMonomer& monomer = polymer[polymer.size() - 1];
        for (int a = 0; a < db_residue->GetNumberOfAtoms(); ++a) {
          mmdb::Atom* db_atom = db_residue->GetAtom(a);
          // A TER record also has its coordinate bit set: test it first.
          if (!db_atom || db_atom->Ter || !db_atom->isInSelection(atoms)) continue;
          const MMDBAtom view(db_atom);
          monomer.insert(MAtom(Atom::null()), -1);
          MAtom& atom = monomer[monomer.size() - 1];
          atom.set_name(view.id(), view.altconf());
          atom.set_element(view.element());
          atom.set_coord_orth(view.coord_orth());
          atom.set_occupancy(view.occupancy());
          atom.set_u_iso(view.u_iso());
          atom.set_u_aniso_orth(view.u_aniso_orth());
          atom.set_property("CID", text_property(db_atom->GetAtomID(id)));
          if (!view.altconf().empty()) atom.set_property("AltConf", text_property(view.altconf()));
        }
        const MMDBResidue view(db_residue);
        monomer.set_seqnum(view.seqnum(), view.inscode());
        monomer.set_type(view.type());
        monomer.set_property("CID", text_property(db_residue->GetResidueID(id)));
      }
      polymer.set_id(MMDBChain(db_chain).id());
      polymer.set_property("CID", text_property(db_chain->GetChainID(id)));
    }
    model.set_property("CID", text_property(db_model->GetModelID(id)));
  }

  for (const int handle : {atoms, residues, chains, models}) DeleteSelection(handle);
}

void MMDBfile::export_minimol(const MiniMol& model) {
  if (!model.spacegroup().is_null()) set_spacegroup(model.spacegroup());
  if (!model.cell().is_null()) set_cell(model.cell());

  std::vector<SPoly> polys(model.size());
  for (int p = 0; p < model.size(); ++p) {
    SPoly& poly = polys[p];
    poly.mm_polymer = &model[p];
    poly.monomers.resize(model[p].size());
    for (int m = 0; m < model[p].size(); ++m) {
      SMono& mono = poly.monomers[m];
      mono.mm_monomer = &model[p][m];
      mono.atoms.resize(model[p][m].size());
      for (int a = 0; a < model[p][m].size(); ++a) mono.atoms[a].mm_atom = &model[p][m][a];
    }
  }

  // Find the library objects the nodes came from; the texts appended make
  // model, chain and residue paths into the atom paths the lookups take.
  mmdb::Model* db_model = nullptr;
  const String model_cid = cid_of(model);
  if (!model_cid.empty()) db_model = GetModel((model_cid + "/A/0/A").c_str());
  if (db_model) {
    for (SPoly& poly : polys) {
      const String chain_cid = cid_of(*poly.mm_polymer);
      if (!chain_cid.empty()) poly.db_chain = GetChain((chain_cid + "/0/A").c_str());
      if (!poly.db_chain) continue;
      for (SMono& mono : poly.monomers) {
        const String residue_cid = cid_of(*mono.mm_monomer);
        if (!residue_cid.empty()) mono.db_residue = GetResidue((residue_cid + "/A").c_str());
        if (!mono.db_residue) continue;
        for (SAtom& atom : mono.atoms) {
          const String atom_cid = cid_of(*atom.mm_atom);
          if (!atom_cid.empty()) atom.db_atom = GetAtom(atom_cid.c_str());
        }
      }
    }
  }

  // Create what is missing, depth first in model order.
  if (!db_model) {
    db_model = new mmdb::Model();
    AddModel(db_model);
  }
  for (SPoly& poly : polys) {
    if (!poly.db_chain) {
      poly.db_chain = new mmdb::Chain();
      db_model->AddChain(poly.db_chain);
    }
    for (SMono& mono : poly.monomers) {
      if (!mono.db_residue) {
        mono.db_residue = new mmdb::Residue();
        poly.db_chain->AddResidue(mono.db_residue);
      }
      for (SAtom& atom : mono.atoms) {
        if (!atom.db_atom) {
          atom.db_atom = new mmdb::Atom();
          mono.db_residue->AddAtom(atom.db_atom);
        }
      }
    }
  }

  // Write the data; name, alternate location and insertion code each go
  // into their own field. Missing numbers leave the library's values alone.
  for (const SPoly& poly : polys) {
    MMDBChain(poly.db_chain).set_id(poly.mm_polymer->id());
    for (const SMono& mono : poly.monomers) {
      MMDBResidue residue(mono.db_residue);
      const MMonomer& mm = *mono.mm_monomer;
      residue.set_seqnum(mm.id().i());
      residue.set_inscode(split_id(mm.id()).second);
      residue.set_type(mm.type());
      for (const SAtom& s : mono.atoms) {
        MMDBAtom atom(s.db_atom);
        const MAtom& ma = *s.mm_atom;
        if (!ma.coord_orth().is_null()) atom.set_coord_orth(ma.coord_orth());
        if (!Util::is_nan(ma.occupancy())) atom.set_occupancy(ma.occupancy());
        if (!Util::is_nan(ma.u_iso())) atom.set_u_iso(ma.u_iso());
        if (!ma.u_aniso_orth().is_null()) atom.set_u_aniso_orth(ma.u_aniso_orth());
        if (!ma.id().empty()) {
          const auto name = split_id(ma.id());
          atom.set_id(name.first);
          atom.set_altconf(name.second);
        }
        if (!ma.element().empty()) atom.set_element(ma.element());
      }
    }
  }
  FinishStructEdit();
}

}  // namespace vantrel
