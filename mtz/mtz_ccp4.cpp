#include "mtz/mtz_ccp4.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "foundation/file_access.h"
#include "foundation/message.h"
#include "symmetry/spgr_descr.h"
#include "symmetry/symop.h"

namespace vantrel {

namespace {

constexpr std::int64_t record_length = 80;  // bytes per header record
constexpr std::int64_t data_start = 80;     // rows start at word 21

// True when text is an operator the library's reader can take: three
// comma-separated sums of signed terms, each term an axis (x, y or z, any
// case) or a number (n, n/m or n.m). The library's reader loops forever on
// some other texts.
bool sound_symop(const char* text, const char* end) {
  auto skip = [&] {
    while (text < end && (*text == ' ' || *text == '\0')) ++text;
  };
  auto digits = [&] {
    const char* start = text;
    while (text < end && *text >= '0' && *text <= '9') ++text;
    return text > start;
  };
  auto term = [&] {
    skip();
    if (text < end && std::strchr("XYZxyz", *text) != nullptr && *text != '\0') {
      ++text;
      return true;
    }
    if (!digits()) return false;
    if (text < end && (*text == '/' || *text == '.')) {
      ++text;
      return digits();
    }
    return true;
  };
  for (int part = 0; part < 3; ++part) {
    skip();
    if (text < end && (*text == '+' || *text == '-')) ++text;
    if (!term()) return false;
    for (skip(); text < end && (*text == '+' || *text == '-'); skip()) {
      ++text;
      if (!term()) return false;
    }
    if (part < 2) {
      if (text >= end || *text != ',') return false;
      ++text;
    }
  }
  skip();
  return text == end;
}

const char* const unmerged = "unmerged MTZ files are not supported";
const char* const damaged = "File missing or corrupted";

// Checks the header records one by one before the library reads them: the
// library trusts their fields (a damaged record can make it crash or loop).
// Each known record must have its fields in the expected form, every
// dataset id used must be declared by a DATASET record, and counts must
// agree; an unknown record is refused. Each rule below names what the
// library does with a header that breaks it.
class Header_check {
 public:
  //! Takes one 80-character record; false when it is unsound.
  bool take(const char* record) {
    const std::string text(record, record_length);
    // The parser cuts a word at a control character (a name "d<tab>1"
    // reads as "d").
    for (const char ch : text)
      if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f) return false;
    std::istringstream in(text);
    std::vector<std::string> f;
    for (std::string w; in >> w;) f.push_back(w);
    // The library reads the keyword from the first column: an indented
    // record is skipped there, and a dataset it declares goes missing (it
    // then crashes).
    if (f.empty() || text[0] == ' ') return false;
    // Keywords are taken exactly as writers write them; the library reads
    // some by their first letters only and then misreads the fields.
    static const char* const keywords[] = {
        "VERS",   "TITLE",  "NCOL",   "CELL", "SORT",    "SYMINF",  "SYMM",    "RESO",  "VALM",
        "COLUMN", "COLSRC", "COLGRP", "NDIF", "PROJECT", "CRYSTAL", "DATASET", "DCELL", "DWAVEL"};
    if (std::find(std::begin(keywords), std::end(keywords), f[0]) == std::end(keywords))
      return false;
    const std::string key = f[0].substr(0, 4);
    const bool names = key == "COLU" || key == "COLS" || key == "COLG" || key == "PROJ" ||
                       key == "CRYS" || key == "DATA";
    long a = 0, b = 0, c = 0;
    // The library's parser ends a record at a comment character: a name
    // loses what follows it, a label leaves the header unreadable (and its
    // records leaked).
    if (key != "TITL" && text.find_first_of("!#") != std::string::npos) return false;
    // A lone "-" or "&" closing a record is the parser's continuation mark:
    // the library drops it and leaks what it parsed (about 800 bytes per
    // read), and a name made of the mark alone comes out empty. A title only
    // loses the mark; a mark that ends a word ("peak-") is read as it stands.
    if (key != "TITL" && (f.back() == "-" || f.back() == "&")) return false;
    // In names and labels the parser splits words at commas and equals signs
    // ("a,b" reads as "a"), and a quote opening a word delimits a string:
    // 'FP' reads as FP, and an unclosed one swallows the rest of the record.
    // A quote inside a word (Ron's, F') is read as it stands.
    if (names) {
      if (text.find_first_of(",=", 6) != std::string::npos) return false;
      for (std::size_t i = 1; i < f.size(); ++i)
        if (f[i][0] == '\'' || f[i][0] == '"') return false;
    }
    // The library leaks what it parses from a version record with more
    // than the version in it, and fails on another major version (leaking
    // its record).
    if (key == "VERS") return f.size() == 2 && f[1].compare(0, 7, "MTZ:V1.") == 0;
    if (key == "TITL") return true;
    if (key == "NCOL") {
      // Merged files only: the third field counts batch headers.
      if (f.size() == 4 && integer(f[3], 1, 1000000000, a)) why = unmerged;
      return f.size() == 4 && integer(f[1], 3, 100000, ncol) &&
             integer(f[2], 0, 1000000000, nref) && integer(f[3], 0, 0, a);
    }
    if (key == "CELL") return !cell++ && f.size() == 7 && finite_numbers(f, 1);
    if (key == "SORT") {
      ++sort;
      return f.size() == 6 && all_integers(f, 1, 0, 100000);
    }
    if (key == "SYMI")
      return !nsym && f.size() >= 5 && integer(f[1], 1, 192, nsym) && integer(f[2], 1, nsym, b) &&
             f[3].size() == 1 && std::isalpha(static_cast<unsigned char>(f[3][0])) &&
             integer(f[4], 0, 100000, c) && sound_quotes(text) && fitting_group_names(text) &&
             parser_words(text) >= 7;
    if (key == "SYMM") {
      const std::size_t at = text.find_first_of(" ", text.find_first_not_of(' '));
      // The library files the operators by the count its SYMINF record
      // gives, and writes beyond its tables without one.
      return ++symm <= nsym && at != std::string::npos &&
             sound_symop(text.c_str() + at, text.c_str() + text.size());
    }
    if (key == "RESO") return f.size() == 3 && finite_numbers(f, 1);
    if (key == "VALM") return f.size() == 2 && (f[1] == "NAN" || finite_numbers(f, 1));
    // Column records hold the label in characters 8 to 37 on their own.
    if (key == "COLU" || key == "COLS" || key == "COLG") {
      if (ndif >= 0 || f.size() < 3 || f[0].size() != 6 || text.size() < 38) return false;
      const std::string field = text.substr(7, 30);
      const std::size_t end = field.find_last_not_of(' ');
      if (end == std::string::npos || field.substr(0, end + 1) != f[1]) return false;
    }
    if (key == "COLU") {
      // Batch numbers (B) and the symmetry flag M/ISYM (Y) mark unmerged
      // data, even without batch headers: its observations of one
      // reflection would be merged silently.
      if (f.size() == 6 && (f[2] == "B" || f[2] == "Y")) {
        why = unmerged;
        return false;
      }
      ++columns;
      index_columns += f.size() > 2 && f[2] == "H";
      labels.insert(f[1]);
      return f.size() == 6 && f[2].size() == 1 && number(f[3]) && number(f[4]) && used(f[5]);
    }
    // Source and group records name a column given before.
    if (key == "COLS") return labels.count(f[1]) && used(f.back());
    if (key == "COLG") return f.size() >= 5 && labels.count(f[1]) && used(f.back());
    if (key == "NDIF") return ndif < 0 && f.size() == 2 && integer(f[1], 1, 1000, ndif);
    // After NDIF, one group per dataset: PROJECT, CRYSTAL (absent in old
    // files, the crystal then takes the project's name), DATASET, DCELL,
    // DWAVEL, all of one id.
    if (ndif < 0 || f.size() < 3 || !integer(f[1], 0, 999, a)) return false;
    // Names are single words (the library misreads a name with blanks).
    if ((key == "PROJ" || key == "CRYS" || key == "DATA") && f.size() != 3) return false;
    if (key == "PROJ") {
      if (group_step != 0 && group_step < 3) return false;
      group_id = a;
      group_step = 1;
      project = crystal = f[2];
      return true;
    }
    if (a != group_id) return false;
    if (key == "CRYS" && group_step == 1) {
      group_step = 2;
      crystal = f[2];
      return true;
    }
    if (key == "DATA" && (group_step == 1 || group_step == 2) && !declared[a]) {
      // The library files a dataset of that name under its own base crystal
      // and writes out of bounds (SIGSEGV) when the dataset's project or
      // crystal has another name.
      if (f[2] == "HKL_base" && (project != "HKL_base" || crystal != "HKL_base")) {
        why = "a dataset named HKL_base belongs to another project or crystal";
        return false;
      }
      declared[a] = true;
      ++datasets;
      group_step = 3;
      return true;
    }
    if (key == "DCEL" && group_step == 3) {
      group_step = 4;
      return f.size() == 8 && finite_numbers(f, 2);
    }
    if (key == "DWAV" && (group_step == 3 || group_step == 4)) {
      group_step = 5;
      return f.size() == 3 && finite_numbers(f, 2);
    }
    return false;
  }
  //! What is wrong, when it is more than damage ("" otherwise).
  std::string why;

  //! At the END record: the counts agree and every id used is declared
  //! (the library files a column of an undeclared id under the base
  //! dataset, and reads the rows shifted when NCOL and the columns differ).
  bool complete(const std::int64_t header_offset) {
    // Without a SORT record the library indexes the columns by unset
    // memory for the sort order, and crashes (SIGSEGV) in its reader.
    if (!sort) {
      why = "the header has no SORT record";
      return false;
    }
    for (int id = 0; id < 1000; ++id)
      if (referenced[id] && !declared[id]) return false;
    // The library reads past its tables without the symmetry and cell
    // records, which every writer gives.
    return nsym > 0 && symm == nsym && cell == 1 && ncol >= 3 && nref >= 0 && columns == ncol &&
           index_columns >= 3 && datasets == ndif && (group_step == 0 || group_step >= 3) &&
           header_offset == data_start + 4 * ncol * nref;
  }

 private:
  // The space-group name is quoted; the parser takes a quote as one only
  // between blanks, and an unclosed quote swallows the rest of the record.
  static bool sound_quotes(const std::string& text) {
    if (text.find('"') != std::string::npos) return false;
    const std::size_t open = text.find('\'');
    if (open == std::string::npos) return true;
    const std::size_t close = text.find('\'', open + 1);
    return close != std::string::npos && text[open - 1] == ' ' &&
           (close + 1 == text.size() || text[close + 1] == ' ') &&
           text.find('\'', close + 1) == std::string::npos;
  }
  // The words of a record as the library's parser takes them, a quoted
  // text as one. A symmetry record needs seven (keyword, two counts,
  // lattice, number, space-group and point-group names): without the point
  // group the library fails and leaks the header it read (12 kB).
  static std::size_t parser_words(const std::string& text) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size();) {
      if (text[i] == ' ') {
        ++i;
        continue;
      }
      ++n;
      const std::size_t close = text[i] == '\'' ? text.find('\'', i + 1) : std::string::npos;
      i = close != std::string::npos ? close + 1 : std::min(text.size(), text.find(' ', i));
    }
    return n;
  }
  // The library copies the group names into fixed fields without a bound:
  // the space-group name (quoted, or the sixth word) takes 20 characters,
  // every word after it (the point-group name) 10.
  static bool fitting_group_names(const std::string& text) {
    const std::size_t open = text.find('\'');
    std::istringstream rest;
    if (open != std::string::npos) {
      const std::size_t close = text.find('\'', open + 1);
      if (close - open - 1 > 20) return false;
      rest.str(text.substr(close + 1));
    } else {
      std::istringstream words(text);
      std::string word;
      for (int i = 0; i < 6 && words >> word; ++i) continue;
      if (word.size() > 20) return false;
      rest.str(text.substr(std::min(text.size(), std::size_t(words.tellg()))));
    }
    for (std::string word; rest >> word;)
      if (word.size() > 10) return false;
    return true;
  }
  static bool number(const std::string& word) {
    char* end = nullptr;
    std::strtod(word.c_str(), &end);
    return !word.empty() && *end == '\0';
  }
  static bool integer(const std::string& word, const long lo, const long hi, long& value) {
    char* end = nullptr;
    value = std::strtol(word.c_str(), &end, 10);
    return !word.empty() && *end == '\0' && value >= lo && value <= hi;
  }
  static bool finite_numbers(const std::vector<std::string>& f, const std::size_t from) {
    for (std::size_t i = from; i < f.size(); ++i)
      if (!number(f[i]) || !std::isfinite(std::strtod(f[i].c_str(), nullptr))) return false;
    return true;
  }
  static bool all_integers(const std::vector<std::string>& f, const std::size_t from, long lo,
                           long hi) {
    long v;
    for (std::size_t i = from; i < f.size(); ++i)
      if (!integer(f[i], lo, hi, v)) return false;
    return true;
  }
  bool used(const std::string& word) {
    long id;
    if (!integer(word, 0, 999, id)) return false;
    referenced[id] = true;
    return true;
  }

  long ncol = -1, nref = -1, ndif = -1;
  long columns = 0, datasets = 0, symm = 0, nsym = 0, cell = 0, sort = 0;
  long index_columns = 0;  // type H; the library assumes three
  std::set<std::string> labels;
  long group_id = -1, group_step = 0;  // dataset group being read
  std::string project, crystal;        // names of that group
  bool declared[1000] = {}, referenced[1000] = {};
};

// What keeps the library from reading the file, or "" when it has the
// layout the library relies on: the "MTZ " stamp, a header position inside
// the file right after NCOL x NREF row words, and sound header records up
// to an END record (the library loops forever on a header without one).
std::string layout_fault(const String& filename) {
  std::ifstream in(filename, std::ios::binary);
  if (!in) return damaged;
  in.seekg(0, std::ios::end);
  const std::int64_t size = in.tellg();
  if (size < data_start + record_length) return damaged;
  unsigned char lead[12];
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(lead), sizeof(lead))) return damaged;
  if (std::memcmp(lead, "MTZ ", 4) != 0) return damaged;
  // The machine stamp's second byte holds the integer format in its high
  // nibble: 1 is big-endian, anything else is read as little-endian.
  const bool big_endian = (lead[9] >> 4) == 1;
  std::uint32_t word = 0;
  for (int i = 0; i < 4; ++i) word |= std::uint32_t(lead[big_endian ? 7 - i : 4 + i]) << (8 * i);
  const std::int64_t header_word = std::int32_t(word);
  if (header_word <= 0) return damaged;
  const std::int64_t offset = (header_word - 1) * 4;
  if (offset < data_start || offset + record_length > size) return damaged;

  in.seekg(offset);
  Header_check check;
  char record[record_length];
  while (in.read(record, record_length)) {
    if (std::string(record, record_length).find_first_not_of(" ", 3) == std::string::npos &&
        std::strncmp(record, "END", 3) == 0) {
      if (!check.complete(offset)) return check.why.empty() ? damaged : check.why;
      // The library then reads on to MTZENDOFHEADERS, looping if there is
      // none. Only history lines (skipped by their count) may come between:
      // the library leaks on other records there.
      while (in.read(record, record_length)) {
        // The library takes only the bare keyword as the end.
        if (std::strncmp(record, "MTZENDOFHEADERS", 15) == 0)
          return std::string(record + 15, record_length - 15).find_first_not_of(' ') ==
                         std::string::npos
                     ? ""
                     : damaged;
        if (std::strncmp(record, "MTZBATS", 7) == 0) return unmerged;
        if (std::strncmp(record, "MTZHIST", 7) != 0) return damaged;
        std::istringstream fields(std::string(record + 7, record_length - 7));
        long lines = -1;
        std::string rest;
        if (!(fields >> lines) || (fields >> rest) || lines < 0 || lines > 1000) return damaged;
        in.seekg(lines * record_length, std::ios::cur);
      }
      return damaged;
    }
    if (!check.take(record)) return check.why.empty() ? damaged : check.why;
  }
  return damaged;
}

// Point-group symbol of each space-group number 0..230, as runs of equal
// entries (last number of the run, symbol), oriented like the group's
// Hermann-Mauguin symbol; 0 stands for a group without a number.
const char* point_group_symbol(const int number) {
  static const struct {
    int last;
    const char* symbol;
  } runs[] = {
      {0, "?"},     {1, "1"},      {2, "-1"},     {5, "2"},      {9, "m"},       {15, "2/m"},
      {24, "222"},  {46, "mm2"},   {74, "mmm"},   {80, "4"},     {82, "-4"},     {88, "4/m"},
      {98, "422"},  {110, "4mm"},  {114, "-42m"}, {120, "-4m2"}, {122, "-42m"},  {142, "4/mmm"},
      {146, "3"},   {148, "-3"},   {149, "312"},  {150, "321"},  {151, "312"},   {152, "321"},
      {153, "312"}, {155, "321"},  {156, "3m1"},  {157, "31m"},  {158, "3m1"},   {159, "31m"},
      {161, "3m1"}, {163, "-31m"}, {167, "-3m1"}, {173, "6"},    {174, "-6"},    {176, "6/m"},
      {182, "622"}, {186, "6mm"},  {188, "-6m2"}, {190, "-62m"}, {194, "6/mmm"}, {199, "23"},
      {206, "m-3"}, {214, "432"},  {220, "-43m"}, {230, "m-3m"}};
  for (const auto& run : runs)
    if (number <= run.last) return number < 0 ? "?" : run.symbol;
  return "?";
}

// Copies at most n - 1 characters of text into a fixed field, NUL-terminated.
template <std::size_t N> void copy_field(char (&field)[N], const std::string& text, std::size_t n) {
  n = std::min(n, N - 1);
  const std::size_t k = std::min(n, text.size());
  std::memcpy(field, text.data(), k);
  field[k] = '\0';
}

}  // namespace

Mtz_ptr mtz_get_header(const String& filename, const String& operation) {
  const String where = "CCP4MTZfile: " + operation + " - ";
  // A path that is no readable regular file (a FIFO would block the
  // reader) is refused with the reason; a missing one is "missing".
  struct stat st;
  if (stat(filename.c_str(), &st) == 0 || errno != ENOENT)
    Files::check_input(filename, "CCP4MTZfile");
  const std::string fault = layout_fault(filename);
  if (!fault.empty()) fatal(where + fault + ": " + filename);
  Mtz_ptr mtz(CMtz::MtzGet(filename.c_str(), 0));
  if (!mtz) fatal(where + damaged + ": " + filename);
  CMtz::MtzAssignHKLtoBase(mtz.get());
  return mtz;
}

bool writable_cell(const Cell& cell) {
  // The header holds each constant as %10.4f: an edge of 1e5 A or more
  // would overrun its field (and the record).
  const double edges[3] = {cell.a(), cell.b(), cell.c()};
  const double angles[3] = {cell.alpha_deg(), cell.beta_deg(), cell.gamma_deg()};
  for (int i = 0; i < 3; ++i)
    if (!(edges[i] > 0.0 && edges[i] < 1.0e5 && angles[i] > 0.0 && angles[i] < 180.0)) return false;
  return !cell.is_null();
}

String mtz_col_path(CMtz::MTZ* mtz, CMtz::MTZCOL* column) {
  char* path = CMtz::MtzColPath(mtz, column);
  const String result(path);
  std::free(path);
  return result;
}

std::vector<CMtz::MTZCOL*> build_lookup(CMtz::MTZ* mtz) {
  std::vector<CMtz::MTZCOL*> lookup;
  for (int x = 0; x < CMtz::MtzNxtal(mtz); ++x) {
    CMtz::MTZXTAL* xtal = CMtz::MtzIxtal(mtz, x);
    for (int s = 0; s < CMtz::MtzNsetsInXtal(xtal); ++s) {
      CMtz::MTZSET* set = CMtz::MtzIsetInXtal(xtal, s);
      for (int c = 0; c < CMtz::MtzNcolsInSet(set); ++c)
        lookup.push_back(CMtz::MtzIcolInSet(set, c));
    }
  }
  return lookup;
}

void read_hierarchy(CMtz::MTZ* mtz, std::vector<CCP4MTZfile::crystalinf>& crystals) {
  crystals.clear();
  for (int x = 0; x < CMtz::MtzNxtal(mtz); ++x) {
    CMtz::MTZXTAL* xtal = CMtz::MtzIxtal(mtz, x);
    const float* c = xtal->cell;
    const Cell cell(Cell_descr(c[0], c[1], c[2], c[3], c[4], c[5]));
    crystals.push_back({MTZcrystal(xtal->xname, xtal->pname, cell), {}});
    for (int s = 0; s < CMtz::MtzNsetsInXtal(xtal); ++s) {
      CMtz::MTZSET* set = CMtz::MtzIsetInXtal(xtal, s);
      crystals.back().datasets.push_back({MTZdataset(set->dname, set->wavelength), {}});
      for (int k = 0; k < CMtz::MtzNcolsInSet(set); ++k) {
        const CMtz::MTZCOL* col = CMtz::MtzIcolInSet(set, k);
        crystals.back().datasets.back().columns.push_back({col->label, col->type});
      }
    }
  }
}

std::vector<Symop> read_symops(CMtz::MTZ* mtz) {
  const CMtz::SYMGRP& symm = mtz->mtzsymm;
  if (symm.nsym <= 0 || symm.nsym > 192) return {};
  std::vector<Symop> ops;
  for (int s = 0; s < symm.nsym; ++s) {
    double mat[4][4];
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) mat[i][j] = symm.sym[s][i][j];
    // A rotation must be integral and a translation finite; anything else
    // is a damaged header, not an operator.
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j)
        if (mat[i][j] != -1.0 && mat[i][j] != 0.0 && mat[i][j] != 1.0) return {};
      // Translations are fractions of a cell; 1000 cells is already absurd.
      if (!std::isfinite(mat[i][3]) || std::fabs(mat[i][3]) > 1.0e3) return {};
    }
    ops.push_back(Symop(mat));
  }
  return ops;
}

void read_spacegroup(CMtz::MTZ* mtz, Spacegroup& spacegroup) {
  const std::vector<Symop> ops = read_symops(mtz);
  if (ops.empty()) fatal("CCP4MTZfile: invalid symmetry operators");
  String text;
  for (const Symop& op : ops) text += op.format() + ";";
  spacegroup.init(Spgr_descr(text, Spgr_descr::Symops));
}

bool row_hkl(const float* values, const int* missing, const int pos[3], HKL& hkl) {
  // Far beyond any real reflection list, yet well inside an int.
  constexpr float max_index = 100000.0f;
  for (int i = 0; i < 3; ++i) {
    const float v = values[pos[i]];
    if (missing[pos[i]] != 0 || !(std::fabs(v) <= max_index)) return false;
    hkl[i] = int(std::lrint(v));
  }
  return true;
}

void index_positions(const std::vector<CMtz::MTZCOL*>& lookup, int hkl[3]) {
  hkl[0] = 0;
  hkl[1] = 1;
  hkl[2] = 2;
  for (int p = 0; p < int(lookup.size()); ++p) {
    const String label(lookup[p]->label);
    if (label == "H") hkl[0] = p;
    if (label == "K") hkl[1] = p;
    if (label == "L") hkl[2] = p;
  }
}

void reference_cols(CMtz::MTZ* mtz, const std::vector<CMtz::MTZCOL*>& lookup,
                    const std::vector<std::vector<CCP4MTZfile::hkldatacol>>& cols,
                    std::vector<std::vector<int>>& positions,
                    std::vector<std::vector<double>>& scales) {
  std::vector<String> paths;
  for (CMtz::MTZCOL* col : lookup) paths.push_back(mtz_col_path(mtz, col));
  positions.assign(cols.size(), {});
  scales.assign(cols.size(), {});
  for (std::size_t j = 0; j < cols.size(); ++j) {
    positions[j].assign(cols[j].size(), -1);
    scales[j].assign(cols[j].size(), 1.0);
    for (std::size_t k = 0; k < cols[j].size(); ++k) {
      if (is_virtual_col(cols[j][k].path)) continue;
      const auto found = std::find(paths.begin(), paths.end(), cols[j][k].path);
      if (found == paths.end()) fatal("CCP4MTZfile - internal error");
      positions[j][k] = int(found - paths.begin());
      scales[j][k] = cols[j][k].scale;
    }
  }
}

std::size_t widest(const std::vector<std::vector<int>>& positions) {
  std::size_t width = 0;
  for (const std::vector<int>& p : positions) width = std::max(width, p.size());
  return width;
}

void write_hierarchy(CMtz::MTZ* mtz, const std::vector<CCP4MTZfile::crystalinf>& crystals) {
  for (const CCP4MTZfile::crystalinf& xi : crystals) {
    const MTZcrystal& c = xi.crystal;
    float cell[6] = {float(c.a()),         float(c.b()),        float(c.c()),
                     float(c.alpha_deg()), float(c.beta_deg()), float(c.gamma_deg())};
    if (!writable_cell(c))
      fatal("CCP4MTZfile: Invalid cell of crystal " + c.crystal_name() + ": " + c.format());
    CMtz::MTZXTAL* xtal =
        CMtz::MtzAddXtal(mtz, c.crystal_name().c_str(), c.project_name().c_str(), cell);
    if (xtal == nullptr) fatal("CCP4MTZfile - internal error");
    for (const CCP4MTZfile::datasetinf& si : xi.datasets) {
      CMtz::MTZSET* set = CMtz::MtzAddDataset(mtz, xtal, si.dataset.dataset_name().c_str(),
                                              float(si.dataset.wavelength()));
      if (set == nullptr) fatal("CCP4MTZfile - internal error");
      for (const CCP4MTZfile::datacolinf& ci : si.columns)
        if (CMtz::MtzAddColumn(mtz, set, ci.label.c_str(), ci.type.c_str()) == nullptr)
          fatal("CCP4MTZfile - internal error");
    }
  }
}

void write_spacegroup(CMtz::MTZ* mtz, const Spacegroup& spacegroup) {
  const String hm = spacegroup.symbol_hm();
  const int number = spacegroup.spacegroup_number();
  const String pg = String("PG") + point_group_symbol(number);
  String name;
  for (const char ch : hm) {
    if (ch == ':') break;
    if (ch != ' ') name += ch;
  }
  CMtz::SYMGRP& symm = mtz->mtzsymm;
  symm.spcgrp = number;
  symm.nsym = spacegroup.op_count();
  symm.nsymp = spacegroup.primitive_count();
  symm.symtyp = hm.empty() ? 'P' : hm[0];
  copy_field(symm.spcgrpname, name, 11);
  copy_field(symm.pgname, pg, 10);
  for (int s = 0; s < spacegroup.op_count(); ++s) {
    const Symop& op = spacegroup.symop(s);
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) symm.sym[s][i][j] = float(op.rot()(i, j));
      symm.sym[s][i][3] = float(op.trn()[i]);
    }
  }
}

}  // namespace vantrel
