#include "model/mmdb_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <unordered_map>
#include <vector>

#include <mmdb2/mmdb_mmcif_.h>
#include <mmdb2/mmdb_utils.h>

#include "foundation/file_access.h"
#include "foundation/message.h"
#include "foundation/util.h"
#include "model/mmdb_views.h"

namespace vantrel {

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
// and overruns it with a name of about 105 characters after the category.
// Real tags are far shorter; any word that could be a tag (starting with
// "_", anywhere in the text, whatever form it is read as) is held to this
// length.
constexpr std::size_t longest_tag = 80;

// The length of the longest word of the line that starts with "_". Only
// blanks, tabs and line ends part words here: the parser may take other
// control characters (form feeds) into a tag, so they count towards it.
std::size_t longest_tag_in(const String& line) {
  std::size_t longest = 0, length = 0;
  bool in_word = false, tag = false;
  for (const char c : line) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      in_word = false;
      continue;
    }
    if (!in_word) {
      in_word = true;
      tag = c == '_';
      length = 0;
    }
    if (tag) longest = std::max(longest, ++length);
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
// which must finish within 5 seconds and one more per megabyte (a sound
// file takes a small fraction of that: 6 ms for 7MM1's 700 kB); only
// then is it read here. This does not cover a damage that upsets the
// library only now and then (reads of unset memory).
bool reads_cleanly_in_child(const String& file, const std::size_t bytes, const mmdb::word flags) {
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    // What the library or the C library print on the way down is not ours.
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, 1);
      dup2(null, 2);
    }
    alarm(5 + unsigned(bytes / 1000000));
    // The child must end here whatever happens: a fatal message (the file's
    // answer, given again in the parent) is a clean end; an exception the
    // library throws (a size read as negative) is not.
    try {
      MMDBfile probe;
      probe.SetFlag(flags);
      if (probe.ReadCoorFile(file.c_str(), mmdb::io::GZM_CHECK) == 0) {
        MiniMol model;
        probe.import_minimol(model, -1);
      }
    } catch (const Message_fatal&) {
    } catch (...) {
      _exit(1);
    }
    _exit(0);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0)
    if (errno != EINTR) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The library reads mmCIF files as mmCIF when the first line that is not
// blank and no comment opens a data block.
bool is_cif_text(const String& content) {
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
// buffer and no tag longer than its mmCIF parser takes; in PDB form no
// anisotropic or standard-deviation record before the first atom record of
// its model (the library attaches such a record to the atom before it, and
// crashes without one), no SEQRES record without a residue count, and no
// HETNAM, HETSYN or FORMUL record beyond 80 columns (the library gathers
// their text into fixed buffers).
String line_fault(const String& content, const bool cif) {
  bool atom_seen = false;
  std::size_t at = 0;
  for (int number = 1; at < content.size(); ++number) {
    std::size_t end = content.find('\n', at);
    if (end == String::npos) end = content.size();
    const std::size_t length = end - at;
    if (length > longest_line)
      return "line " + String(number) + ": a line of " + String(int(length)) +
             " characters, longer than the reader takes (" + String(int(longest_line)) + ")";
    const std::size_t tag = longest_tag_in(content.substr(at, length));
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
// reader takes safely; longer ones overrun its fixed buffers. Matched on
// the end of the tag in every category, as the same identifiers recur
// (label_asym_id, auth_asym_id, beg_label_asym_id ...).
struct Cif_limit {
  const char* tag_end;
  const char* what;
  std::size_t longest;
};
const Cif_limit cif_limits[] = {{"asym_id", "chain id", 8},    {"comp_id", "residue name", 8},
                                {"mon_id", "residue name", 8}, {"ins_code", "insertion code", 4},
                                {"atom_id", "atom name", 8},   {"alt_id", "alternate location", 4},
                                {"type_symbol", "element", 4}};

const Cif_limit* cif_limit(const String& tag) {
  for (const Cif_limit& limit : cif_limits)
    if (ends_with(tag, limit.tag_end)) return &limit;
  return nullptr;
}

// The first identifier of an mmCIF file that the library cannot hold, with
// its category and tag; empty when none. A text its own parser rejects is
// left to the library to report.
String cif_field_fault(const String& file) {
  mmdb::mmcif::Data cif;
  if (cif.ReadMMCIFData(file.c_str(), mmdb::io::GZM_CHECK) < 0) return String();
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

// The first fault that the library's reader could not survive or would
// read wrongly, in a text of either form; empty when none.
String text_fault(const String& file, const String& content) {
  const bool cif = is_cif_text(content);
  const String fault = line_fault(content, cif);
  return !fault.empty() || !cif ? fault : cif_field_fault(file);
}

// Large enough for any identifier path the library writes: the longest
// path joins a model number and fixed fields of at most 20 bytes each.
constexpr int id_buffer_size = 256;

Property<String> text_property(const String& text) { return Property<String>(text); }

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
// wrong atoms. Re-reads the loop and attaches each row to the atoms whose
// serial number is the row's atom id; atoms without a row have no tensor.
void attach_anisotropic_rows(mmdb::Manager& mmdb, const String& file) {
  mmdb::mmcif::Data cif;
  // The library has just read the same file, so this read succeeds too.
  if (cif.ReadMMCIFData(file.c_str(), mmdb::io::GZM_CHECK) < 0) return;
  mmdb::mmcif::Loop* loop = cif.GetLoop("_atom_site_anisotrop");
  if (!loop) return;
  std::unordered_map<int, std::vector<mmdb::Atom*>> by_serial;
  for_each_atom(mmdb, [&](mmdb::Atom* atom) {
    atom->WhatIsSet &= mmdb::word(~(mmdb::ASET_Anis_tFac | mmdb::ASET_Anis_tFSigma));
    if (!atom->Ter) by_serial[atom->serNum].push_back(atom);
  });
  static const char* const u_tags[6] = {"U[1][1]", "U[2][2]", "U[3][3]",
                                        "U[1][2]", "U[1][3]", "U[2][3]"};
  static const char* const b_tags[6] = {"B[1][1]", "B[2][2]", "B[3][3]",
                                        "B[1][2]", "B[1][3]", "B[2][3]"};
  for (int row = 0; row < loop->GetLoopLength(); ++row) {
    int id;
    if (loop->GetInteger(id, "id", row) != mmdb::mmcif::CIFRC_Ok) continue;
    const auto atoms = by_serial.find(id);
    if (atoms == by_serial.end()) continue;
    double u[6];
    bool ok = true;
    for (int i = 0; i < 6 && ok; ++i) ok = loop->GetReal(u[i], u_tags[i], row) == 0;
    if (!ok) {  // the B form of the tensor, B = 8 pi^2 U
      ok = true;
      for (int i = 0; i < 6 && ok; ++i) {
        ok = loop->GetReal(u[i], b_tags[i], row) == 0;
        u[i] /= Util::eightpi2();
      }
    }
    if (!ok) continue;
    for (mmdb::Atom* atom : atoms->second)
      MMDBAtom(atom).set_u_aniso_orth(U_aniso_orth(u[0], u[1], u[2], u[3], u[4], u[5]));
  }
}

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

// Why an identifier cannot be written in the form, or empty when it can.
// Both forms are line-based text of printable ASCII. The library's mmCIF
// writer quotes a value with blanks but not one that starts like a tag, a
// comment, a text field or a reserved word, nor one holding a quote, so the
// reader would take those for something else.
String unwritable(const String& value, const bool pdb) {
  for (const char c : value)
    if (c < 0x20 || c > 0x7e) return "holds a character that is not printable ASCII";
  if (pdb) return String();
  const String text = value.trim();  // written without the blanks around it
  if (text.find_first_of("'\"") != String::npos) return "holds a quote";
  if (!text.empty() && String("_#$;[]").find(text[0]) != String::npos)
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
// cannot read back. Numbers of a PDB record must fit its columns too.
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
      check(residue->GetResName(), "residue name", pdb ? 3 : 8);
      check(residue->GetInsCode(), "insertion code", pdb ? 1 : 4);
      if (pdb && !fits(residue->GetSeqNum(), -999, 9999))
        refuse_output(file, "the residue number " + String(residue->GetSeqNum()) +
                                " does not fit the 4 columns of the PDB form");
    }
    if (atom->Ter) return;
    check(atom->name, "atom name", pdb ? 4 : 8);
    check(atom->altLoc, "alternate location", pdb ? 1 : 4);
    check(atom->element, "element", pdb ? 2 : 4);
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
  if (content.compare(0, binary_signature.size(), binary_signature) == 0) {
    if (!reads_cleanly_in_child(file, content.size(), Flags))
      refuse_input(file, "the binary form is damaged: the reader does not survive it");
  } else {
    const String fault = text_fault(file, content);
    if (!fault.empty()) refuse_input(file, fault);
    if (is_cif_text(content) && !reads_cleanly_in_child(file, content.size(), Flags))
      refuse_input(file, "the reader does not survive this mmCIF text");
  }
  int rc;
  try {
    rc = ReadCoorFile(file.c_str(), mmdb::io::GZM_CHECK);
  } catch (const std::exception& e) {  // such as an array sized from a negative count
    refuse_input(file, String("the reader failed: ") + e.what());
  }
  if (rc != 0) read_error(file, rc);
  check_atoms(*this, file);
  if (GetFileType() == mmdb::MMDB_FILE_CIF) attach_anisotropic_rows(*this, file);
}

void MMDBfile::write_file(const String& file, TYPE type) {
  if (type == AS_READ) {
    const int read = GetFileType();
    if (read == PDB || read == CIF || read == BINARY) type = TYPE(read);
  }
  // Nothing is written, and nothing the path names is touched, unless the
  // whole content fits the form and was written to a temporary file first.
  Files::check_output(file, write_who);
  if (type != BINARY) check_output_ids(*this, file, type != CIF);
  Temporary_file out(file, write_who);
  // The library records every write as its last file operation; keep the
  // form of the last read, which is what AS_READ means.
  const int read_type = FType;
  int rc;
  if (type == CIF)
    rc = WriteCIFASCII(out.path().c_str(), mmdb::io::GZM_NONE);
  else if (type == BINARY)
    rc = WriteMMDBF(out.path().c_str(), mmdb::io::GZM_NONE);
  else
    rc = WritePDBASCII(out.path().c_str(), mmdb::io::GZM_NONE);
  FType = read_type;
  if (rc != 0) write_error(file, rc);
  // The library writes mmCIF without reporting a failed write.
  struct stat st;
  if (stat(out.path().c_str(), &st) != 0 || st.st_size == 0)
    write_error(file, mmdb::Error_CantOpenFile);
  // What is written must read back: the text passes the reader's own checks
  // (the library writes some fields wider than it stores them).
  if (type != BINARY) {
    const String fault = text_fault(out.path(), file_content(out.path()));
    if (!fault.empty()) refuse_output(file, "the written file would not read back: " + fault);
  }
  // The library compresses a file named *.gz; the temporary's name does not
  // say so, so the compressed form is made here.
  if (ends_with(file, ".gz")) {
    Temporary_file packed(file, write_who);
    const String content = file_content(out.path());
    gzFile gz = gzopen(packed.path().c_str(), "wb");
    const bool ok =
        gz && gzwrite(gz, content.data(), unsigned(content.size())) == int(content.size());
    if ((gz && gzclose(gz) != Z_OK) || !ok) write_error(file, mmdb::Error_CantOpenFile);
    packed.commit();
    return;
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
