#include "mtz/mtz_header_check.h"

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include "foundation/util.h"

namespace vantrel {

const char* const mtz_damaged = "File missing or corrupted";

std::string cell_fault(const double constants[6]) {
  std::ostringstream why;
  // The records hold each constant as %10.4f: an edge of 1e5 A or more
  // would overrun its field (and the record). No crystal repeats in under
  // 1 A (its atoms are further apart), and a smaller edge would ask index
  // limits of the reflection lists beyond any the data could need.
  for (int i = 0; i < 3; ++i)
    if (!(constants[i] >= 1.0 && constants[i] < 1.0e5)) {
      why << "an edge of " << constants[i] << " A (edges run from 1 A to below 100000 A)";
      return why.str();
    }
  for (int i = 3; i < 6; ++i)
    if (!(constants[i] > 0.0 && constants[i] < 180.0)) {
      why << "an angle of " << constants[i] << " degrees (angles lie between 0 and 180)";
      return why.str();
    }
  const Cell cell(Cell_descr(constants[0], constants[1], constants[2], constants[3], constants[4],
                             constants[5]));
  return cell.is_null() ? "angles that enclose no volume" : "";
}

bool writable_cell(const Cell& cell) {
  const double constants[6] = {cell.a(),         cell.b(),        cell.c(),
                               cell.alpha_deg(), cell.beta_deg(), cell.gamma_deg()};
  return cell_fault(constants).empty();
}

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
const char* const damaged = mtz_damaged;

// The refusal of a file the library cannot read soundly, with what was found.
std::string corrupted(const std::string& what) { return std::string(damaged) + ": " + what; }

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// True when the library's parser reads the word as the number it shows: a
// plain decimal (a sign, digits with at most one point, an exponent "e" or
// "E" with a sign and digits; no point or exponent when integral). The
// parser reads other words as 0 (hexadecimal "0x7fff", "inf", "nan"), and
// some near misses otherwise than written ("1e5.5" as 150000, "1+2" as 12,
// "." and "+" as 0). An exponent from 308 on it reads as 0, printing a
// signal; two digits' worth is all that single precision needs.
bool plain_decimal(const std::string& word, const bool integral) {
  std::size_t i = 0;
  const auto digits = [&] {
    const std::size_t from = i;
    while (i < word.size() && std::isdigit(static_cast<unsigned char>(word[i]))) ++i;
    return i - from;
  };
  if (i < word.size() && (word[i] == '+' || word[i] == '-')) ++i;
  std::size_t mantissa = digits();
  if (!integral && i < word.size() && word[i] == '.') {
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return false;
  if (!integral && i < word.size() && (word[i] == 'e' || word[i] == 'E')) {
    ++i;
    if (i < word.size() && (word[i] == '+' || word[i] == '-')) ++i;
    const std::size_t from = i;
    if (digits() == 0 || std::strtol(word.c_str() + from, nullptr, 10) > 99) return false;
  }
  return i == word.size();
}

// The value the library keeps of a plain decimal: it holds numbers in single
// precision, where a value past its range becomes infinite and one below
// its normal numbers loses its digits (1e-45 becomes 1.4013e-45) or becomes
// 0. False for those.
bool single_precision(const std::string& word, double& value) {
  const double read = std::strtod(word.c_str(), nullptr);
  const float kept = float(read);
  value = kept;
  return std::isfinite(kept) && (read == 0.0 || std::fabs(kept) >= FLT_MIN);
}

// A bound of a column's range: a plain decimal, or NaN for the words C and
// gemmi write for a column without values ("NaN") or an infinite one
// ("inf"), which the library reads as 0. The library keeps the range only
// as a note; the index columns' ranges serve the missing-value check.
bool range_bound(const std::string& word, double& value) {
  static const char* const words[] = {"nan",  "-nan",     "inf",      "-inf",
                                      "+inf", "infinity", "-infinity"};
  std::string lower;
  for (const char ch : word) lower += char(std::tolower(static_cast<unsigned char>(ch)));
  value = Util::nan();
  if (std::find(std::begin(words), std::end(words), lower) != std::end(words)) return true;
  return plain_decimal(word, false) && (value = float(std::strtod(word.c_str(), nullptr)), true);
}

// The library's tables hold this many columns; with more it fails and
// leaks what it read of the header.
constexpr long max_columns = 10000;
// The library copies project, crystal and dataset names into fields of
// this many characters unchecked (a longer name aborts the process).
constexpr std::size_t max_name = 64;

// Checks the header records one by one before the library reads them: the
// library trusts their fields (a damaged record can make it crash or loop).
// Each known record must have its fields in the expected form, every
// dataset id used must be declared by a DATASET record, and counts must
// agree; an unknown record is refused. Each rule below names what the
// library does with a header that breaks it.
class Header_check {
 public:
  //! Takes one 80-character record; false when it is unsound, with the
  //! reason in why.
  bool take(const char* record) {
    const std::string text(record, record_length);
    // The parser cuts a word at a control character (a name "d<tab>1"
    // reads as "d").
    for (const char ch : text)
      if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f)
        return refuse(corrupted("a header record holding a control character"));
    std::istringstream in(text);
    std::vector<std::string> f;
    for (std::string w; in >> w;) f.push_back(w);
    if (f.empty()) return refuse(corrupted("a blank header record"));
    // The library reads the keyword from the first column: an indented
    // record is skipped there, and a dataset it declares goes missing (it
    // then crashes).
    if (text[0] == ' ') return refuse(corrupted("an indented header record " + quoted(f[0])));
    // Keywords are taken exactly as writers write them; the library reads
    // some by their first letters only and then misreads the fields.
    static const char* const keywords[] = {
        "VERS",   "TITLE",  "NCOL",   "CELL", "SORT",    "SYMINF",  "SYMM",    "RESO",  "VALM",
        "COLUMN", "COLSRC", "COLGRP", "NDIF", "PROJECT", "CRYSTAL", "DATASET", "DCELL", "DWAVEL"};
    if (std::find(std::begin(keywords), std::end(keywords), f[0]) == std::end(keywords))
      return refuse(corrupted("an unknown header record " + quoted(f[0])));
    keyword = f[0];
    const std::string key = f[0].substr(0, 4);
    const bool names = key == "COLU" || key == "COLS" || key == "COLG" || key == "PROJ" ||
                       key == "CRYS" || key == "DATA";
    long a = 0, b = 0, c = 0;
    // The library's parser ends a record at a comment character: a name
    // loses what follows it, a label leaves the header unreadable (and its
    // records leaked).
    if (key != "TITL" && text.find_first_of("!#") != std::string::npos)
      return fault("a comment mark (! or #)");
    // A lone "-" or "&" closing a record is the parser's continuation mark:
    // the library drops it and leaks what it parsed (about 800 bytes per
    // read), and a name made of the mark alone comes out empty. A title only
    // loses the mark; a mark that ends a word ("peak-") is read as it stands.
    if (key != "TITL" && (f.back() == "-" || f.back() == "&"))
      return fault("a continuation mark " + quoted(f.back()) + " at its end");
    // In names and labels the parser splits words at commas and equals signs
    // ("a,b" reads as "a"), and a quote opening a word delimits a string:
    // 'FP' reads as FP, and an unclosed one swallows the rest of the record.
    // A quote inside a word (Ron's, F') is read as it stands.
    if (names) {
      const std::size_t at = text.find_first_of(",=", 6);
      if (at != std::string::npos)
        return fault("a name or label holding " + quoted(text.substr(at, 1)));
      for (std::size_t i = 1; i < f.size(); ++i)
        if (f[i][0] == '\'' || f[i][0] == '"')
          return fault("a name or label opening with a quote (" + f[i] + ")");
    }
    // The library leaks what it parses from a version record with more
    // than the version in it, and fails on another major version (leaking
    // its record).
    if (key == "VERS")
      return (f.size() == 2 && f[1].compare(0, 7, "MTZ:V1.") == 0) ||
             fault("other than one version MTZ:V1.n");
    if (key == "TITL") return true;
    if (key == "NCOL") {
      // Merged files only: the third field counts batch headers.
      if (f.size() == 4 && integer(f[3], 1, 1000000000, a)) return refuse(unmerged);
      if (f.size() != 4 || !integer(f[1], 3, 1000000000, ncol) ||
          !integer(f[2], 0, 1000000000, nref) || !integer(f[3], 0, 0, a))
        return fault("not three counts (columns from 3, rows, no batches)");
      return ncol <= max_columns || fault("more than the " + std::to_string(max_columns) +
                                          " columns the CCP4 library holds (" + f[1] + ")");
    }
    if (key == "CELL") {
      if (cell++) return fault("given twice");
      if (f.size() != 7) return fault("not six numbers");
      return numbers(f, 1, global_cell);
    }
    if (key == "SORT") {
      ++sort;
      if (f.size() != 6) return fault("not five column numbers");
      for (std::size_t i = 1; i < f.size(); ++i) {
        if (!integer(f[i], 0, 1000000000, a)) return fault("not five column numbers");
        sort_max = std::max(sort_max, a);
      }
      return true;
    }
    if (key == "SYMI") {
      if (nsym) return fault("given twice");
      if (f.size() < 5 || !integer(f[1], 1, 192, nsym) || !integer(f[2], 1, nsym, b))
        return fault("operator counts outside 1 to 192");
      // A lattice letter, or "?" for a setting that has none (cctbx writes
      // it); the library takes either as it stands.
      if (f[3].size() != 1 || !(std::isalpha(static_cast<unsigned char>(f[3][0])) || f[3] == "?"))
        return fault("a lattice type " + quoted(f[3]) + " other than one letter or \"?\"");
      if (!integer(f[4], 0, 100000, c)) return fault("a space-group number " + quoted(f[4]));
      if (!sound_quotes(text)) return fault("a space-group name not quoted between blanks");
      if (!fitting_group_names(text))
        return fault("a space-group name over 20 or point-group name over 10 characters");
      return parser_words(text) >= 7 || fault("no point-group name");
    }
    if (key == "SYMM") {
      const std::size_t at = text.find_first_of(" ", text.find_first_not_of(' '));
      // The library files the operators by the count its SYMINF record
      // gives, and writes beyond its tables without one.
      if (++symm > nsym) return fault("more operators than the SYMINF record gives");
      return (at != std::string::npos &&
              sound_symop(text.c_str() + at, text.c_str() + text.size())) ||
             fault("an operator the CCP4 library cannot read");
    }
    // The limits are only a note to the library: it reads every row
    // whatever they say (0, negative or swapped limits included).
    if (key == "RESO") {
      double limit;
      if (f.size() != 3) return fault("not two numbers");
      return number(f[1], limit) && number(f[2], limit);
    }
    if (key == "VALM") {
      if (f.size() != 2) return fault("not NAN or one number");
      return f[1] == "NAN" || number(f[1], missing_mark);
    }
    // Column records hold the label in characters 8 to 37 on their own.
    if (key == "COLU" || key == "COLS" || key == "COLG") {
      if (ndif >= 0) return fault("after the NDIF record");
      const std::string field = text.substr(7, 30);
      const std::size_t end = field.find_last_not_of(' ');
      if (f.size() < 3 || end == std::string::npos || field.substr(0, end + 1) != f[1])
        return fault("no label in characters 8 to 37 on its own");
    }
    if (key == "COLU") {
      // Batch numbers (B) and the symmetry flag M/ISYM (Y) mark unmerged
      // data, even without batch headers: its observations of one
      // reflection would be merged silently.
      if (f.size() == 6 && (f[2] == "B" || f[2] == "Y")) return refuse(unmerged);
      ++columns;
      index_columns += f[2] == "H";
      // The reader takes the last column of an index label as the index:
      // another column so labelled would replace the indices.
      if ((f[1] == "H" || f[1] == "K" || f[1] == "L") && labels.count(f[1]))
        return fault("the index label " + f[1] + " given to a second column");
      labels.insert(f[1]);
      if (f.size() != 6 || f[2].size() != 1 || !used(f[5]))
        return fault("not label, one-letter type, range and dataset id");
      double range[2];
      for (int i = 0; i < 2; ++i)
        if (!range_bound(f[3 + i], range[i]))
          return fault("a range bound " + quoted(f[3 + i]) + " that is not plain decimal");
      if (f[2] == "H") index_ranges.push_back({range[0], range[1]});
      return true;
    }
    // Source and group records name a column given before, and have a set
    // number of words: on any other the library fails and leaks the header
    // it read (12 kB and more).
    if (key == "COLS" || key == "COLG") {
      if (!labels.count(f[1])) return fault("a label " + quoted(f[1]) + " no COLUMN record gives");
      if (key == "COLS" && f.size() != 4)
        return fault("other than one word between the label and the dataset id");
      if (key == "COLG" && f.size() != 6)
        return fault("other than three words between the label and the dataset id");
      return used(f.back()) || fault("no dataset id of 0 to 999");
    }
    if (key == "NDIF")
      return (ndif < 0 && f.size() == 2 && integer(f[1], 1, 1000, ndif)) ||
             fault("not one count of 1 to 1000 datasets, once");
    // After NDIF, one group per dataset: PROJECT, CRYSTAL (absent in old
    // files, the crystal then takes the project's name), DATASET, DCELL,
    // DWAVEL, all of one id.
    if (ndif < 0) return fault("before the NDIF record");
    if (f.size() < 3 || !integer(f[1], 0, 999, a)) return fault("no dataset id of 0 to 999");
    if (key == "PROJ" || key == "CRYS" || key == "DATA") {
      // Names are single words (the library keeps the first word of one with
      // blanks).
      if (f.size() != 3) {
        std::string name = f[2];
        for (std::size_t i = 3; i < f.size(); ++i) name += " " + f[i];
        return fault("a name with a blank " + quoted(name));
      }
      if (f[2].size() > max_name)
        return fault("a name longer than the " + std::to_string(max_name) +
                     " characters the CCP4 library holds");
    }
    if (key == "PROJ") {
      if (group_step != 0 && group_step < 3) return out_of_order();
      group_id = a;
      group_step = 1;
      project = crystal = f[2];
      return true;
    }
    if (a != group_id) return fault("a dataset id other than its PROJECT record's");
    if (key == "CRYS" && group_step == 1) {
      group_step = 2;
      crystal = f[2];
      return true;
    }
    if (key == "DATA" && (group_step == 1 || group_step == 2)) {
      if (declared[a]) return fault("dataset id " + f[1] + " declared twice");
      // The library files a dataset of that name under its own base crystal
      // and writes out of bounds (SIGSEGV) when the dataset's project or
      // crystal has another name.
      if (f[2] == "HKL_base" && (project != "HKL_base" || crystal != "HKL_base"))
        return refuse("a dataset named HKL_base belongs to another project or crystal");
      declared[a] = true;
      ++datasets;
      group_step = 3;
      return true;
    }
    if (key == "DCEL" && group_step == 3) {
      group_step = 4;
      has_cell[a] = true;
      double constants[6];
      if (f.size() != 8) return fault("not six numbers");
      return numbers(f, 2, constants) && sound_cell(constants);
    }
    if (key == "DWAV" && (group_step == 3 || group_step == 4)) {
      group_step = 5;
      double wavelength;
      return f.size() == 3 ? number(f[2], wavelength) : fault("not one wavelength");
    }
    return out_of_order();
  }
  //! What is wrong, once take or complete has said false.
  std::string why;

  //! At the END record: the counts agree and every id used is declared
  //! (the library files a column of an undeclared id under the base
  //! dataset, and reads the rows shifted when NCOL and the columns differ).
  bool complete(const std::int64_t header_offset) {
    // Without a SORT record the library indexes the columns by unset
    // memory for the sort order, and crashes (SIGSEGV) in its reader.
    if (!sort) return refuse("the header has no SORT record");
    for (int id = 0; id < 1000; ++id)
      if (referenced[id] && !declared[id])
        return refuse(corrupted("columns of dataset " + std::to_string(id) +
                                " that no DATASET record declares"));
    // The library reads past its tables without the symmetry and cell
    // records, which every writer gives.
    if (nsym == 0) return refuse(corrupted("the header has no SYMINF record"));
    if (symm != nsym)
      return refuse(corrupted("the SYMINF record gives " + std::to_string(nsym) +
                              " operators, the header " + std::to_string(symm)));
    if (cell != 1) return refuse(corrupted("the header has no CELL record"));
    // A dataset without a DCELL record takes the CELL record's cell.
    for (int id = 0; id < 1000; ++id)
      if (declared[id] && !has_cell[id]) {
        keyword = "CELL";
        return sound_cell(global_cell);
      }
    if (ncol < 0) return refuse(corrupted("the header has no NCOL record"));
    if (columns != ncol)
      return refuse(corrupted("the NCOL record gives " + std::to_string(ncol) +
                              " columns, the header " + std::to_string(columns)));
    if (index_columns < 3) return refuse(corrupted("fewer than three index columns (type H)"));
    if (datasets != ndif || (group_step != 0 && group_step < 3))
      return refuse(corrupted("the NDIF record gives " + std::to_string(std::max(ndif, 0L)) +
                              " datasets, the header " + std::to_string(datasets)));
    if (header_offset != data_start + 4 * ncol * nref)
      return refuse(corrupted("the header does not follow the NCOL x NREF words of the rows"));
    // A sort index beyond the columns leaves the library's sort order
    // unset; beyond its tables (10,000) it reads out of bounds (SIGSEGV).
    if (sort_max > ncol)
      return refuse(corrupted("the SORT record names column " + std::to_string(sort_max) + " of " +
                              std::to_string(ncol)));
    // The library marks every value equal to the VALM number missing,
    // indices too: a mark that can be an index makes those rows vanish.
    if (std::floor(missing_mark) == missing_mark)
      for (const auto& range : index_ranges)
        if (missing_mark >= range.first && missing_mark <= range.second)
          return refuse(corrupted("a missing-value mark (VALM " + format(missing_mark) +
                                  ") that is also an index of the file"));
    return true;
  }

 private:
  bool refuse(const std::string& what) {
    why = what;
    return false;
  }
  // A refusal of the record being taken.
  bool fault(const std::string& what) { return refuse(corrupted(keyword + " record: " + what)); }
  bool out_of_order() {
    return fault("its dataset's records out of order (PROJECT, CRYSTAL, DATASET, DCELL, DWAVEL)");
  }
  static std::string format(const double v) {
    std::ostringstream out;
    out << v;
    return out.str();
  }
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
  // A number field: its value as the library keeps it, or false with the
  // record refused for the reason.
  bool number(const std::string& word, double& value) {
    if (!plain_decimal(word, false))
      return fault("a number " + quoted(word) + " that is not plain decimal");
    return single_precision(word, value) ||
           fault("a number " + quoted(word) + " beyond single precision");
  }
  bool numbers(const std::vector<std::string>& f, const std::size_t from, double* values) {
    for (std::size_t i = from; i < f.size(); ++i)
      if (!number(f[i], values[i - from])) return false;
    return true;
  }
  bool sound_cell(const double constants[6]) {
    const std::string why = cell_fault(constants);
    return why.empty() || fault(why);
  }
  static bool integer(const std::string& word, const long lo, const long hi, long& value) {
    if (!plain_decimal(word, true)) return false;
    value = std::strtol(word.c_str(), nullptr, 10);
    return value >= lo && value <= hi;
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
  long sort_max = 0;       // the highest column the SORT record names
  std::set<std::string> labels;
  std::vector<std::pair<double, double>> index_ranges;  // of the type-H columns
  double missing_mark = Util::nan();                    // VALM; NaN for NAN
  std::string keyword;                                  // of the record being taken
  long group_id = -1, group_step = 0;                   // dataset group being read
  std::string project, crystal;                         // names of that group
  bool declared[1000] = {}, referenced[1000] = {}, has_cell[1000] = {};
  double global_cell[6] = {};  // of the CELL record
};

}  // namespace

// The library loops forever on a header without an END record.
std::string mtz_layout_fault(const String& filename, const std::string& stamp) {
  std::ifstream in(filename, std::ios::binary);
  if (!in) return damaged;
  in.seekg(0, std::ios::end);
  const std::int64_t size = in.tellg();
  if (size < data_start + record_length) return corrupted("shorter than an MTZ header");
  unsigned char lead[12];
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(lead), sizeof(lead))) return damaged;
  if (std::memcmp(lead, "MTZ ", 4) != 0) return corrupted("no MTZ stamp");
  // The machine stamp's second byte holds the integer format in its high
  // nibble: 1 is big-endian, anything else is read as little-endian.
  const bool big_endian = (lead[9] >> 4) == 1;
  // Its first byte's high nibble is the float format: the library reads
  // IEEE floats of the integers' byte order (1 big-endian, 4 or 0 little)
  // as they are, and converts the others into values the data never held.
  const int float_format = lead[8] >> 4;
  if (big_endian ? float_format != 1 : float_format != 4 && float_format != 0) {
    char stamp[8];
    std::snprintf(stamp, sizeof(stamp), "0x%02x", lead[8]);
    return corrupted(
        std::string("a machine stamp whose float format the CCP4 library cannot read (") + stamp +
        ")");
  }
  if (!stamp.empty() && std::memcmp(lead + 8, stamp.data(), 4) != 0)
    return corrupted("a machine stamp other than the one its writer writes");
  std::uint32_t word = 0;
  for (int i = 0; i < 4; ++i) word |= std::uint32_t(lead[big_endian ? 7 - i : 4 + i]) << (8 * i);
  const std::int64_t header_word = std::int32_t(word);
  const std::int64_t offset = (header_word - 1) * 4;
  if (header_word <= 0 || offset < data_start || offset + record_length > size)
    return corrupted("a header position outside the file");

  in.seekg(offset);
  Header_check check;
  char record[record_length];
  while (in.read(record, record_length)) {
    if (std::string(record, record_length).find_first_not_of(" ", 3) == std::string::npos &&
        std::strncmp(record, "END", 3) == 0) {
      if (!check.complete(offset)) return check.why;
      // The library then reads on to MTZENDOFHEADERS, looping if there is
      // none. Only history lines (skipped by their count) may come between:
      // the library leaks on other records there.
      while (in.read(record, record_length)) {
        // The library takes only the bare keyword as the end.
        if (std::strncmp(record, "MTZENDOFHEADERS", 15) == 0)
          return std::string(record + 15, record_length - 15).find_first_not_of(' ') ==
                         std::string::npos
                     ? ""
                     : corrupted("text after MTZENDOFHEADERS");
        if (std::strncmp(record, "MTZBATS", 7) == 0) return unmerged;
        if (std::strncmp(record, "MTZHIST", 7) != 0)
          return corrupted("a record other than history between END and MTZENDOFHEADERS");
        // The library takes the line count as it stands: it aborts on a
        // negative one, and on one beyond the records left it reads past
        // the end of the file, taking MTZENDOFHEADERS for history.
        std::istringstream fields(std::string(record + 7, record_length - 7));
        long lines = -1;
        std::string rest;
        if (!(fields >> lines) || (fields >> rest) || lines < 0)
          return corrupted("an MTZHIST record without a line count");
        const std::int64_t left = (size - std::int64_t(in.tellg())) / record_length;
        if (lines > left)
          return corrupted("an MTZHIST record whose line count (" + std::to_string(lines) +
                           ") exceeds the " + std::to_string(left) + " records left in the file");
        in.seekg(lines * record_length, std::ios::cur);
      }
      return corrupted("no MTZENDOFHEADERS record");
    }
    if (!check.take(record)) return check.why;
  }
  return corrupted("no END record");
}

}  // namespace vantrel
