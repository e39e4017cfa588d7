#include "model/coordinate_text_checks.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include <mmdb2/mmdb_utils.h>

#include "model/coordinate_faults.h"
#include "model/mmdb_hierarchy.h"
#include "system/gzip_name.h"

namespace vantrel::mmdb_internal {

namespace {

bool ends_with(const String& text, const String& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
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

const Cif_limit cif_limits[] = {
    {"asym_id", "chain id", 8},     {"comp_id", "residue name", 18},
    {"mon_id", "residue name", 18}, {"ins_code", "insertion code", 8},
    {"atom_id", "atom name", 18},   {"alt_id", "alternate location", 18},
    {"type_symbol", "element", 8}};

// A model number as given: the number its text starts with, blanks before
// it allowed, as strtod reads it (so "1.0", "1e0" and "0x1" are 1, "2x" is
// 2 and "-0.6" is -1), rounded half up. None when the text starts with no
// number, or with one that rounds to no int ("x", "99999999999"): the
// library refuses such a MODEL record, and reads such an mmCIF row into the
// model of the row before. It holds the numbers from 1; those below 1 it is
// brought to hold by Model_numbering.
std::optional<int> given_model_number(const String& text) {
  const char* start = text.c_str();
  char* end = nullptr;
  const double value = std::floor(std::strtod(start, &end) + 0.5);
  if (end == start || !(value >= INT_MIN && value <= INT_MAX)) return std::nullopt;
  return int(value);
}

// True for a PDB record that the library takes for a MODEL record: "MODEL "
// in columns 1-6, in capitals.
bool is_model_record(const String& line) {
  return line.compare(0, 5, "MODEL") == 0 && (line.size() == 5 || line[5] == ' ');
}

// The number a PDB MODEL record gives in columns 11-14, where the library
// reads it.
std::optional<int> model_record_number(const String& line) {
  return given_model_number((line + "              ").substr(10, 4));
}

// Calls f with each line of a PDB text (without its line end) and its
// number from 1, up to an END record, where the library stops reading.
template <class F> void for_each_pdb_line(const String& content, F f) {
  int number = 0;
  String line;  // one buffer for every line: no allocation per line
  for (std::size_t at = 0; at < content.size();) {
    std::size_t end = content.find('\n', at);
    if (end == String::npos) end = content.size();
    line.assign(content, at, end - at);
    std::size_t first = 0, last = std::min<std::size_t>(6, line.size());  // columns 1-6, trimmed
    while (first < last && std::isspace(static_cast<unsigned char>(line[first]))) ++first;
    while (last > first && std::isspace(static_cast<unsigned char>(line[last - 1]))) --last;
    if (line.compare(first, last - first, "END") == 0) return;
    f(line, ++number);
    at = end + 1;
  }
}

// The numbering of the models of an mmCIF atom loop, from its model numbers.
Model_numbering cif_numbering(mmdb::mmcif::Loop& loop) {
  Model_numbering numbering;
  int rc;
  for (int row = 0; row < loop.GetLoopLength(); ++row) {
    const char* value = loop.GetString("pdbx_PDB_model_num", row, rc);
    if (const auto number = given_model_number(value ? value : "")) numbering.give(*number);
  }
  return numbering;
}

// True for a PDB record that readers take for an atom (pdb_model_records).
bool is_atom_record(const String& line) {
  String name = (line.substr(0, 6) + "      ").substr(0, 6);
  for (char& c : name) c = char(std::toupper(static_cast<unsigned char>(c)));
  const auto serial = [](const char c) {
    return c == ' ' || std::isdigit(static_cast<unsigned char>(c));
  };
  return name == "HETATM" ||
         (name.compare(0, 4, "ATOM") == 0 && serial(name[4]) && serial(name[5]));
}

// The library's file object reading a text held here, opened for reading:
// its readers then take the text as they take a file of it, with nothing on
// disk. The library reads the pool given and does not free it.
class Text_in_memory : public mmdb::io::File {
 public:
  explicit Text_in_memory(const String& content) : pool_(new char[content.size() + 1]) {
    std::memcpy(pool_.get(), content.data(), content.size());
    pool_[content.size()] = '\0';
    assign(mmdb::word(content.size()), 0, pool_.get());
    reset(true);
  }
  ~Text_in_memory() override { shut(); }

 private:
  std::unique_ptr<char[]> pool_;
};

// The library's code for what its mmCIF parser returned.
int cif_read_code(const int w) {
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

void parse_settings(mmdb::mmcif::Data& cif, const mmdb::word flags) {
  cif.SetStopOnWarning(true);
  cif.SetPrintWarnings((flags & mmdb::MMDBF_PrintCIFWarnings) != 0);
}

}  // namespace

mmdb::io::GZ_MODE read_mode(const String& file) {
  return Files::gzip_named(file) ? mmdb::io::GZM_ENFORCE_GZIP : mmdb::io::GZM_NONE;
}

String file_content(const String& file) {
  String content;
  if (Files::gzip_named(file)) {
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

bool reads_as_cif(const String& content, const mmdb::word flags) {
  Text_in_memory pdb_test(content), cif_test(content);
  return mmdb::isPDB(pdb_test, (flags & mmdb::MMDBF_IgnoreBlankLines) != 0) != 0 &&
         mmdb::mmcif::isCIF(cif_test) == 0;
}

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

const Cif_limit* cif_limit(const String& tag) {
  for (const Cif_limit& limit : cif_limits)
    if (ends_with(tag, limit.tag_end)) return &limit;
  return nullptr;
}

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

int parse_cif(mmdb::mmcif::Data& cif, const String& file, const mmdb::word flags) {
  parse_settings(cif, flags);
  return cif_read_code(cif.ReadMMCIFData(file.c_str(), read_mode(file)));
}

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

String text_fault(const String& content, const mmdb::word flags) {
  const bool cif = reads_as_cif(content, flags);
  const String fault = line_fault(content, cif);
  if (!fault.empty() || !cif) return fault;
  mmdb::mmcif::Data data;
  parse_settings(data, flags);
  Text_in_memory text(content);
  // The parser's window onto the text: longer than any line it takes.
  std::vector<char> window(2 * (longest_line + 1), '\0');
  int lines = 0;
  const int rc = cif_read_code(data.ReadMMCIFData(text, window.data(), lines));
  return rc == 0 ? cif_field_fault(data) : String();
}

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

Model_numbering pdb_numbering(const String& content) {
  Model_numbering numbering;
  for_each_pdb_line(content, [&](const String& line, int) {
    if (is_model_record(line))
      if (const auto number = model_record_number(line)) numbering.give(*number);
  });
  return numbering;
}

void number_cif_models(mmdb::mmcif::Data& cif) {
  mmdb::mmcif::Loop* loop = cif.GetLoop("_atom_site");
  if (!loop) return;
  const Model_numbering numbering = cif_numbering(*loop);
  if (!numbering.renumbers()) return;
  int rc;
  for (int row = 0; row < loop->GetLoopLength(); ++row) {
    const char* value = loop->GetString("pdbx_PDB_model_num", row, rc);
    if (const auto number = given_model_number(value ? value : ""))
      loop->PutInteger(numbering.held(*number), "pdbx_PDB_model_num", row);
  }
}

String pdb_models_numbered(const String& content, const Model_numbering& numbering,
                           const String& file) {
  String numbered;
  numbered.reserve(content.size());
  std::size_t at = 0;  // the end of the lines copied
  for_each_pdb_line(content, [&](const String& line, const int line_number) {
    const std::size_t next = at + line.size() + 1;
    const auto number = is_model_record(line) ? model_record_number(line) : std::nullopt;
    if (!number) {
      numbered += content.substr(at, std::min(next, content.size()) - at);
    } else {
      const int held = numbering.held(*number);
      if (held > 9999)
        refuse_input(file, "line " + String(line_number) + ": model " + String(*number) +
                               " would be read as model " + String(held) +
                               " (the file's models are numbered from 1, as it gives one below "
                               "1), which columns 11-14 cannot hold");
      // Columns 11-14 take the number; a carriage return stays at the end.
      const bool cr = !line.empty() && line.back() == '\r';
      String record = line.substr(0, line.size() - (cr ? 1 : 0));
      if (record.size() < 14) record.resize(14, ' ');
      numbered += record.replace(10, 4, String(held, 4)) + (cr ? "\r" : "") +
                  (next <= content.size() ? "\n" : "");
    }
    at = std::min(next, content.size());
  });
  return numbered + content.substr(at);
}

int read_pdb_text(mmdb::Manager& mmdb, const String& content) {
  Text_in_memory text(content);
  return mmdb.ReadCoorFile(text);
}

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
    if (const auto given = given_model_number(text("pdbx_PDB_model_num", row))) number = *given;
    if (text("group_PDB", row) != "TER") rows.add(number);
  }
  return rows;
}

std::vector<Record_kind> cif_record_kinds(mmdb::mmcif::Data& cif) {
  std::vector<Record_kind> kinds;
  mmdb::mmcif::Loop* loop = cif.GetLoop("_atom_site");
  if (!loop) return kinds;
  kinds.reserve(std::size_t(loop->GetLoopLength()));
  int rc;
  for (int row = 0; row < loop->GetLoopLength(); ++row) {
    const char* value = loop->GetString("group_PDB", row, rc);
    const String kind = value ? String(value).trim() : String();
    kinds.push_back(kind == "ATOM"     ? Record_kind::atom
                    : kind == "HETATM" ? Record_kind::hetatm
                                       : Record_kind::none);
  }
  return kinds;
}

void mark_record_kinds(mmdb::Manager& mmdb, const std::vector<Record_kind>& kinds) {
  if (std::size_t(mmdb.GetNumberOfAtoms()) != kinds.size()) return;
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    mmdb::Atom* atom = mmdb.GetAtomI(int(i) + 1);
    if (atom && kinds[i] != Record_kind::none) atom->Het = kinds[i] == Record_kind::hetatm;
  }
}

Model_atoms pdb_model_records(const String& content, const Model_numbering& numbering) {
  Model_atoms records;
  int number = 1, model_line = 0;
  int given = 1;                 // the number the text gives the current model
  bool block_has_atoms = false;  // atoms in the part since the last MODEL record
  std::set<int> held;            // model numbers whose atoms earlier parts give
  bool models = false;           // a MODEL record seen
  bool in_block = false;         // after a MODEL record and before its ENDMDL
  String stray;                  // the first atom's record before any MODEL record
  for_each_pdb_line(content, [&](const String& line, const int line_number) {
    const String record = line.substr(0, 6);
    const bool atom = is_atom_record(line);
    if (!in_block && (atom || record == "ANISOU" || record == "SIGATM" || record == "SIGUIJ")) {
      String& fault = models ? records.outside : stray;
      if (fault.empty()) {
        String what = "an atom";
        if (!atom) what = (record[0] == 'A' ? "an " : "a ") + record;
        fault = "line " + String(line_number) + ": " + what +
                " record outside every MODEL ... ENDMDL block of the file";
      }
    }
    if (atom) {
      if (!block_has_atoms && held.count(number) && records.repeated_line == 0) {
        records.repeated = given;
        records.repeated_line = model_line;
      }
      block_has_atoms = true;
      records.add(number);
    } else if (is_model_record(line)) {
      if (!models) records.outside = stray;
      models = in_block = true;
      if (block_has_atoms) held.insert(number);
      block_has_atoms = false;
      model_line = line_number;
      if (const auto n = model_record_number(line)) {
        given = *n;
        number = numbering.held(given);
      }
    } else if (record == "ENDMDL") {
      in_block = false;
    }
  });
  return records;
}

void check_atom_count(mmdb::Manager& mmdb, const String& file, const Model_atoms& in_text) {
  if (in_text.repeated_line != 0)
    refuse_input(file, "line " + String(in_text.repeated_line) + ": model " +
                           String(in_text.repeated) +
                           " is given a second time (the reader would take both as one model)");
  // The atoms held and those the text gives, by model number.
  std::map<int, std::pair<std::size_t, std::size_t>> counts;
  for (const auto& [number, given] : in_text.by_number) counts[number].second = given;
  for (int m = 1; m <= mmdb.GetNumberOfModels(); ++m)
    if (mmdb::Model* model = mmdb.GetModel(m))
      counts[model->GetSerNum()].first = std::size_t(model->GetNumberOfAtoms(false));
  for (const auto& [number, count] : counts) {
    const auto [held, given] = count;
    if (held < given)
      refuse_input(file, "the reader takes " + String(int(held)) + " of the " + String(int(given)) +
                             " atoms the text holds for model " + String(number));
    if (held > given)
      refuse_input(file, "the reader takes " + String(int(held)) + " atoms into model " +
                             String(number) + ", where the text holds " + String(int(given)));
  }
}

}  // namespace vantrel::mmdb_internal
