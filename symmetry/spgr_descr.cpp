// Space-group descriptor, Hall-symbol parser and operator-code group algebra.
#include "symmetry/spgr_descr.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <unordered_set>

#include "foundation/message.h"
#include "symmetry/spacegroup_tables.h"

namespace vantrel {

char Spgr_descr::pref_12 = '1';
char Spgr_descr::pref_hr = 'H';

namespace {

typedef Spgr_descr::Symop_codes Symop_codes;

Symop_code code_of(const Mat33<double>& rot, const Vec3<double>& trn) {
  return Symop_code(Symop(RTop<double>(rot, trn)));
}

const Symop_code& inversion_code() {
  static const Symop_code code = code_of(data::mat_inv, data::vec_0);
  return code;
}

int determinant(const Symop_code& code) { return code.isymop().rot().det(); }

//! a x b on the 1/24 grid, translation folded by the code.
Symop_code multiply(const Symop_code& a, const Symop_code& b) {
  return Symop_code(a.isymop() * b.isymop());
}

bool contains(const Symop_codes& list, const Symop_code& code) {
  return std::find(list.begin(), list.end(), code) != list.end();
}

//! CRC-32/MPEG-2 over the codes as big-endian 32-bit words.
std::uint32_t crc32_mpeg2(const Symop_codes& codes) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (const Symop_code& code : codes) {
    c ^= std::uint32_t(int(code));
    for (int bit = 0; bit < 32; ++bit) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : (c << 1);
  }
  return c;
}

// Hall-symbol parsing.

//! One operator word of a Hall symbol.
struct Hall_word {
  String text;  // the word as written, for messages
  bool improper = false;
  int order = 0;  // 0: none given
  int screw = 0;
  int axis = -1;        // 0, 1, 2 for x, y, z; -1: none given
  char mark = 0;        // a character from '"' to '*', or 0
  String translations;  // translation letters a..w
};

Hall_word parse_hall_word(const String& word) {
  Hall_word w;
  w.text = word;
  for (char ch : word) {
    const char c = char(std::tolower((unsigned char)ch));
    if (c == '-')
      w.improper = true;
    else if (c >= '1' && c <= '6')
      (w.order == 0 ? w.order : w.screw) = c - '0';
    else if (c >= 'x' && c <= 'z')
      w.axis = c - 'x';
    else if (c >= '"' && c <= '*')
      w.mark = c;
    else if (c >= 'a' && c <= 'w')
      w.translations += c;
  }
  return w;
}

//! Fill in the axes and marks that the Hall notation leaves implicit.
void default_axes(std::vector<Hall_word>& ops) {
  const int n = int(ops.size());
  if (n >= 1 && ops[0].axis < 0) ops[0].axis = 2;
  if (n >= 2 && ops[1].axis < 0) {
    Hall_word& op = ops[1];
    const int prev = ops[0].order;
    if (op.order == 2 && (prev == 2 || prev == 4)) {
      if (op.mark == 0) op.axis = 0;
    } else if (op.order == 2 && (prev == 3 || prev == 6)) {
      op.axis = ops[0].axis;
      if (op.mark == 0) op.mark = '\'';
    } else if (op.order == 3 && (prev == 2 || prev == 4)) {
      if (op.mark == 0) op.mark = '*';
    }
  }
  if (n >= 3 && ops[2].axis < 0 && ops[2].order == 3 && ops[2].mark == 0) ops[2].mark = '*';
  for (Hall_word& op : ops)
    if (op.axis < 0 && (op.order == 1 || op.mark != 0)) op.axis = 2;
}

//! Rotation of an operator word about z, before the move onto its axis.
//! Only the marks ', " and * select a rotation; any other combination of
//! order and mark gives the identity.
Mat33<double> hall_rotation_z(const Hall_word& w) {
  switch (w.order) {
    case 2:
      if (w.mark == 0) return data::mat_2z;
      if (w.mark == '\'') return data::mat_2q;
      if (w.mark == '"') return data::mat_2qq;
      break;
    case 3:
      if (w.mark == 0) return data::mat_3z;
      if (w.mark == '*') return data::mat_3abc;
      break;
    case 4:
      if (w.mark == 0) return data::mat_4z;
      break;
    case 6:
      if (w.mark == 0) return data::mat_6z;
      break;
  }
  return data::mat_i;
}

Vec3<double> hall_translation(const String& letters) {
  Vec3<double> t = data::vec_0;
  for (char c : letters) {
    switch (c) {
      case 'a': t += data::vec_a; break;
      case 'b': t += data::vec_b; break;
      case 'c': t += data::vec_c; break;
      case 'n': t += data::vec_n; break;
      case 'u': t += data::vec_u; break;
      case 'v': t += data::vec_v; break;
      case 'w': t += data::vec_w; break;
      case 'd': t += data::vec_d; break;
    }
  }
  return t;
}

Symop_code hall_operator(const Hall_word& w) {
  Mat33<double> r = hall_rotation_z(w);
  if (w.improper) r = data::mat_inv * r;
  // Carry the rotation from the z axis onto axis p.
  const int p = w.axis;
  Mat33<double> rp;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) rp(i, j) = r((i - p + 5) % 3, (j - p + 5) % 3);
  Vec3<double> t = hall_translation(w.translations);
  t[p] += double(w.screw) / double(w.order);
  return code_of(rp, t);
}

//! Append the pure translations of a lattice letter.
void append_lattice(Symop_codes& codes, char lattice) {
  const Mat33<double>& i = data::mat_i;
  switch (lattice) {
    case 'A': codes.push_back(code_of(i, data::vec_A)); break;
    case 'B': codes.push_back(code_of(i, data::vec_B)); break;
    case 'C': codes.push_back(code_of(i, data::vec_C)); break;
    case 'I': codes.push_back(code_of(i, data::vec_I)); break;
    case 'R': codes.push_back(code_of(i, data::vec_R)); break;
    case 'S':
    case 'Q': codes.push_back(code_of(i, data::vec_S)); break;
    case 'T': codes.push_back(code_of(i, data::vec_T)); break;
    case 'H': codes.push_back(code_of(i, data::vec_H)); break;
    case 'F':
      codes.push_back(code_of(i, data::vec_F1));
      codes.push_back(code_of(i, data::vec_F2));
      break;
  }
}

//! Change of basis: an operator text, or a shift in twelfths of the edges.
RTop_frac change_of_basis(const String& text) {
  if (text.find(',') != String::npos) return RTop_frac(text);
  RTop_frac v = RTop_frac::identity();
  const std::vector<String> words = text.split(" \t");
  for (int i = 0; i < 3 && i < int(words.size()); ++i) v.trn()[i] = words[i].i() / 12.0;
  return v;
}

//! Reject operators that are no crystallographic symmetry: a rotation
//! element outside -1..1, a determinant other than +1 or -1, or a
//! translation that is not a whole number of 24ths (which the code holds).
void check_operator(const Symop& op, const String& text) {
  const Mat33<double>& r = op.rot();
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      if (r(i, j) < -1.0 || r(i, j) > 1.0) fatal("Spgr_descr: invalid symmetry operator:" + text);
  const double d = r.det();
  if (d != 1.0 && d != -1.0) fatal("Spgr_descr: invalid symmetry operator:" + text);
  for (int i = 0; i < 3; ++i)
    if (std::lrint(48.0 * op.trn()[i]) % 2 != 0)
      fatal("Spgr_descr: invalid symmetry operator:" + text);
}

// Space-group names as people write them.

//! The text upper-cased with blanks collapsed to one, or with none at all.
String name_key(const String& text, const bool compact) {
  String key;
  for (const String& word : text.split(" \t")) {
    if (!compact && !key.empty()) key += ' ';
    for (char c : word) key += char(std::toupper((unsigned char)c));
  }
  return key;
}

//! The short form of a monoclinic full symbol, its 1 elements dropped
//! ("P 1 21/c 1" gives "P 21/c"); other symbols unchanged.
String short_hm(const data::Sgdata_row& row) {
  const std::vector<String> words = String(row.hm).split(" ");
  if (row.number < 3 || row.number > 15 || words.size() != 4) return row.hm;
  String result = words[0];
  int kept = 0;
  for (size_t i = 1; i < words.size(); ++i)
    if (words[i] != "1") {
      result += " " + words[i];
      ++kept;
    }
  return kept == 1 ? result : String(row.hm);
}

//! First table row admitted by the preferred settings that matches.
template <class Match> int preferred_row(Match match, char pref_12, char pref_hr) {
  for (int r = 0; r < data::sgdata_size; ++r) {
    const data::Sgdata_row& row = data::sgdata[r];
    const char s = row.setting;
    if ((s == ' ' || s == pref_12 || s == pref_hr) && match(row)) return r;
  }
  return -1;
}

//! The first table row named by text written with other blanks or case,
//! compactly ("P212121"; only with compact), in the short monoclinic form
//! ("P 21/c", "C2"), with an H lattice for the hexagonal axes of a
//! rhombohedral group ("H 3"), or with a setting after a colon ("R 3:R",
//! "F d -3 m :1"); -1 when none.
int row_of_name(const String& text, const bool compact, char pref_12, char pref_hr) {
  String name = text;
  const size_t colon = text.find(':');
  if (colon != String::npos) {
    const String setting = name_key(text.substr(colon + 1), true);
    if (setting.size() != 1 || String("12HR").find(setting[0]) == String::npos) return -1;
    (setting[0] == '1' || setting[0] == '2' ? pref_12 : pref_hr) = setting[0];
    name = text.substr(0, colon);
  }
  String key = name_key(name, compact);
  if (!key.empty() && key[0] == 'H') {
    if (colon != String::npos && pref_hr != 'H') return -1;
    key[0] = 'R';
    pref_hr = 'H';
  }
  if (key.empty()) return -1;
  return preferred_row(
      [&](const data::Sgdata_row& row) {
        return name_key(row.hm, compact) == key || name_key(short_hm(row), compact) == key;
      },
      pref_12, pref_hr);
}

//! The row of a name as the table spells it, else as row_of_name finds it
//! written otherwise (not compact); -1 when none.
int spelled_row(const String& text, char pref_12, char pref_hr) {
  const int row =
      preferred_row([&text](const data::Sgdata_row& r) { return text == r.hm; }, pref_12, pref_hr);
  return row >= 0 ? row : row_of_name(text, false, pref_12, pref_hr);
}

//! True when text is a complete Hall symbol: a lattice word (an optional
//! '-' and one lattice letter), up to four operator words (an optional
//! '-', an order 1, 2, 3, 4 or 6, an optional screw digit below it, then
//! axis, mark and translation letters), and an optional change of basis in
//! one pair of parentheses at the end: an operator text or up to three
//! whole numbers.
bool is_hall_symbol(const String& text) {
  const size_t open = text.find('(');
  String ops = text, basis;
  if (open != String::npos) {
    if (text.back() != ')' || text.find_first_of("()", open + 1) != text.size() - 1) return false;
    ops = text.substr(0, open);
    basis = text.substr(open + 1, text.size() - open - 2);
  } else if (text.find(')') != String::npos) {
    return false;
  }
  const std::vector<String> words = ops.split(" \t");
  if (words.empty() || words.size() > 5) return false;
  const String& lattice = words[0];
  const size_t l = lattice[0] == '-' ? 1 : 0;
  if (lattice.size() != l + 1 ||
      String("PABCIRSTFHQ").find(char(std::toupper((unsigned char)lattice[l]))) == String::npos)
    return false;
  for (size_t i = 1; i < words.size(); ++i) {
    const String& w = words[i];
    size_t p = w[0] == '-' ? 1 : 0;
    if (p >= w.size() || String("12346").find(w[p]) == String::npos) return false;
    const int order = w[p++] - '0';
    if (p < w.size() && std::isdigit((unsigned char)w[p])) {
      const int screw = w[p++] - '0';
      if (screw < 1 || screw >= order) return false;
    }
    for (; p < w.size(); ++p)
      if (String("xyzXYZ'\"*abcnuvwdABCNUVWD").find(w[p]) == String::npos) return false;
  }
  if (basis.find(',') != String::npos) return true;  // an operator text, read strictly later
  const std::vector<String> shifts = basis.split(" \t");
  if (shifts.size() > 3) return false;
  for (const String& n : shifts)
    if (n.find_first_not_of("+-0123456789") != String::npos ||
        n.find_first_of("0123456789") == String::npos)
      return false;
  return true;
}

//! True when the text is a whole number, perhaps signed.
bool is_number(const String& text) {
  const size_t first = text.find_first_not_of("+-");
  return first <= 1 && first < text.size() &&
         text.find_first_not_of("0123456789", first) == String::npos;
}

//! First table row with the given group hash, or -1.
int row_of_hash(std::uint32_t hash) {
  for (int r = 0; r < data::sgdata_size; ++r)
    if (data::sgdata[r].hash() == hash) return r;
  return -1;
}

}  // namespace

// Symop_codes

void Symop_codes::init_hall(const String& symbol) {
  const std::vector<String> parts = symbol.split("()");
  const std::vector<String> words =
      parts.empty() ? std::vector<String>() : parts[0].trim().split(" \t");
  if (words.empty()) fatal("Spacegroup: Empty Hall symbol");

  bool centric = false;
  char lattice = 'P';
  for (char ch : words[0]) {
    const char c = char(std::toupper((unsigned char)ch));
    if (c == '-')
      centric = true;
    else
      lattice = c;
  }
  std::vector<Hall_word> ops;
  for (size_t i = 1; i < words.size(); ++i) ops.push_back(parse_hall_word(words[i]));
  default_axes(ops);
  for (const Hall_word& op : ops) {
    if (op.axis < 0) fatal("Spacegroup: Missing x/y/z in Hall symb:" + op.text);
    if (op.order == 0) fatal("Spacegroup: Missing order in Hall symb:" + op.text);
  }

  clear();
  push_back(Symop_code(0));
  if (centric) push_back(inversion_code());
  for (const Hall_word& op : ops) push_back(hall_operator(op));
  append_lattice(*this, lattice);

  if (parts.size() > 1) {
    const RTop_frac v = change_of_basis(parts[1].trim());
    const RTop_frac vinv = v.inverse();
    for (Symop_code& code : *this)
      code = Symop_code(Symop(RTop<double>(v) * RTop<double>(code.symop()) * RTop<double>(vinv)));
  }
}

void Symop_codes::init_symops(const String& symops) {
  clear();
  for (const String& text : symops.split(";")) {
    const Symop op{RTop_frac(text)};
    check_operator(op, text);
    push_back(Symop_code(op));
  }
}

Symop_codes Symop_codes::expand() const {
  Symop_codes result;
  result.push_back(Symop_code(0));
  std::unordered_set<int> seen{0};
  for (const Symop_code& code : *this)
    if (int(code) != 0 && determinant(code) * determinant(code) != 1)
      fatal("Spgr_descr: invalid symmetry operator:" + code.symop().format());
  for (bool grown = true; grown;) {
    grown = false;
    const size_t m = result.size();
    for (const Symop_code& code : *this) {
      if (int(code) == 0) continue;
      for (size_t j = 0; j < m; ++j) {
        const Symop_code p = multiply(code, result[j]);
        if (!seen.insert(int(p)).second) continue;
        result.push_back(p);
        grown = true;
        if (int(result.size()) > max_group_size)
          fatal("Spgr_descr: operators generate more than 192 operators");
      }
    }
  }
  return result;
}

std::uint32_t Symop_codes::hash() const { return crc32_mpeg2(Util::sorted(expand())); }

Symop_codes Symop_codes::product(const Symop_codes& other) const {
  Symop_codes result(*this);
  const size_t m = size();
  for (const Symop_code& op : other) {
    if (int(op) == 0) continue;
    for (size_t j = 0; j < m; ++j) result.push_back(multiply((*this)[j], op));
  }
  return result;
}

Symop_codes Symop_codes::inversion_ops() const {
  Symop_codes result;
  result.push_back(Symop_code(0));
  for (const Symop_code& code : *this)
    if (code.code_rot() == inversion_code()) {
      result.push_back(code);
      break;
    }
  return result;
}

Symop_codes Symop_codes::primitive_ops() const {
  Symop_codes result, rotations;
  result.push_back(Symop_code(0));
  rotations.push_back(Symop_code(0));
  for (const Symop_code& code : *this)
    if (!contains(rotations, code.code_rot())) {
      rotations.push_back(code.code_rot());
      result.push_back(code);
    }
  return result;
}

Symop_codes Symop_codes::primitive_noninversion_ops() const {
  const Symop_codes prim = primitive_ops();
  if (inversion_ops().size() != 2) return prim;
  Symop_codes result;
  for (const Symop_code& code : prim)
    if (determinant(code) > 0) result.push_back(code);
  return result;
}

Symop_codes Symop_codes::centering_ops() const {
  Symop_codes result;
  for (const Symop_code& code : *this)
    if (int(code.code_rot()) == 0) result.push_back(code);
  return result;
}

Symop_codes Symop_codes::laue_ops() const {
  Symop_codes ops;
  ops.push_back(inversion_code());
  for (const Symop_code& code : *this) ops.push_back(code.code_rot());
  return ops.expand();
}

Symop_codes Symop_codes::pgrp_ops() const {
  Symop_codes ops;
  for (const Symop_code& code : *this) ops.push_back(code.code_rot());
  return ops.expand();
}

Symop_codes Symop_codes::patterson_ops() const {
  Symop_codes ops;
  ops.push_back(inversion_code());
  for (const Symop_code& code : *this)
    ops.push_back(int(code.code_rot()) != 0 ? code.code_rot() : code);
  return ops.expand();
}

Symop_codes Symop_codes::generator_ops() const {
  const Symop_codes all = Util::sorted(expand());
  const Symop_codes cen = all.centering_ops();
  const Symop_codes prim = all.primitive_ops();
  Symop_codes gens;
  Symop_codes grp = gens.expand();
  // Add operators that the group so far lacks until it reaches size.
  const auto extend = [&](const Symop_codes& candidates, size_t size) {
    for (size_t i = 1; i < candidates.size() && grp.size() < size; ++i) {
      if (contains(grp, candidates[i])) continue;
      gens.push_back(candidates[i]);
      grp = gens.expand();
    }
  };
  extend(cen, cen.size());
  const size_t k = gens.size();
  extend(prim, all.size());
  // Drop rotation generators that the others make redundant.
  for (size_t j = k; j < gens.size();) {
    Symop_codes trial(gens);
    trial.erase(trial.begin() + j);
    if (trial.expand().size() == all.size()) {
      gens = trial;
      j = k;
    } else {
      ++j;
    }
  }
  return gens;
}

// Spgr_descr

Spgr_descr::Spgr_descr(const String& text, TYPE type) {
  const String t = text.trim();
  if (type == Detect) {
    if (t.find_first_of("()") != String::npos) {
      if (!is_hall_symbol(t))
        fatal("Spgr_descr: No such space-group name or Hall symbol: \"" + t + "\"");
      type = Hall;
    } else if (t.find(',') != String::npos)
      type = Symops;
    else if (is_number(t))
      type = Number;
  }
  Symop_codes ops;
  switch (type) {
    case Hall: ops.init_hall(t); break;
    case Symops: ops.init_symops(t); break;
    case Number: *this = Spgr_descr(t.i()); return;
    case HM:
    case Detect: {
      // The table's own spelling first, then other spellings of a name;
      // a Hall symbol before the compact names, which can look alike.
      int row = spelled_row(t, pref_12, pref_hr);
      if (row < 0 && type == Detect && is_hall_symbol(t)) {
        ops.init_hall(t);
        break;
      }
      if (row < 0) row = row_of_name(t, true, pref_12, pref_hr);
      if (row >= 0)
        ops.init_hall(data::sgdata[row].hall);
      else if (type == HM)
        fatal("Spgr_descr: No such HM symbol");
      else
        fatal("Spgr_descr: No such space-group name or Hall symbol: \"" + t + "\"");
      break;
    }
    default: fatal("Spgr_descr: Unknown space-group text type");
  }
  init(ops);
}

bool Spgr_descr::is_hm_name(const String& text) {
  const String t = text.trim();
  return spelled_row(t, pref_12, pref_hr) >= 0 || row_of_name(t, true, pref_12, pref_hr) >= 0;
}

Spgr_descr::Spgr_descr(const int& number) {
  const int row = preferred_row([number](const data::Sgdata_row& r) { return r.number == number; },
                                pref_12, pref_hr);
  if (row < 0) fatal("Spgr_descr: No such SG number");
  Symop_codes ops;
  ops.init_hall(data::sgdata[row].hall);
  init(ops);
}

Spgr_descr::Spgr_descr(const Symop_codes& ops) { init(ops); }

void Spgr_descr::init(const Symop_codes& ops) {
  hash_ = ops.hash();
  generators_ = ops.generator_ops();
}

int Spgr_descr::spacegroup_number() const {
  const int row = row_of_hash(hash_);
  return row < 0 ? 0 : data::sgdata[row].number;
}

String Spgr_descr::symbol_hall() const {
  const int row = row_of_hash(hash_);
  return row < 0 ? String("Unknown") : String(data::sgdata[row].hall);
}

String Spgr_descr::symbol_hm() const {
  const int row = row_of_hash(hash_);
  return row < 0 ? String("Unknown") : String(data::sgdata[row].hm);
}

void Spgr_descr::set_preferred(const char& c) {
  if (c == '1' || c == '2') pref_12 = c;
  if (c == 'H' || c == 'R') pref_hr = c;
}

// Hashes of the fixed tables, computed on first use.

std::uint32_t data::Sgdata_row::hash() const {
  static const std::vector<std::uint32_t> hashes = [] {
    std::vector<std::uint32_t> h;
    for (const Sgdata_row& row : sgdata) {
      Symop_codes ops;
      ops.init_hall(row.hall);
      h.push_back(ops.hash());
    }
    return h;
  }();
  return hashes[this - sgdata];
}

std::uint32_t data::Lgdata_row::hash() const {
  static const std::vector<std::uint32_t> hashes = [] {
    std::vector<std::uint32_t> h;
    for (const Lgdata_row& row : lgdata) {
      Symop_codes ops;
      ops.init_symops(row.generators);
      ops.push_back(inversion_code());
      h.push_back(ops.hash());
    }
    return h;
  }();
  return hashes[this - lgdata];
}

}  // namespace vantrel
