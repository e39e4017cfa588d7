// Space-group descriptor, Hall-symbol parser and operator-code group algebra.
#include "symmetry/spgr_descr.h"

#include <algorithm>
#include <cctype>
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
//! element outside -1..1 or a determinant other than +1 or -1.
void check_operator(const Symop& op, const String& text) {
  const Mat33<double>& r = op.rot();
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      if (r(i, j) < -1.0 || r(i, j) > 1.0) fatal("Spgr_descr: invalid symmetry operator:" + text);
  const double d = r.det();
  if (d != 1.0 && d != -1.0) fatal("Spgr_descr: invalid symmetry operator:" + text);
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
    if (t.find_first_of("()") != String::npos)
      type = Hall;
    else if (t.find(',') != String::npos)
      type = Symops;
    else if (t.find_first_of("ABCFHIPRSTQ") == String::npos)
      type = Number;
  }
  Symop_codes ops;
  switch (type) {
    case Hall: ops.init_hall(t); break;
    case Symops: ops.init_symops(t); break;
    case Number: *this = Spgr_descr(t.i()); return;
    case HM:
    case Detect: {
      const int row =
          preferred_row([&t](const data::Sgdata_row& r) { return t == r.hm; }, pref_12, pref_hr);
      if (row >= 0)
        ops.init_hall(data::sgdata[row].hall);
      else if (type == HM)
        fatal("Spgr_descr: No such HM symbol");
      else
        ops.init_hall(t);
      break;
    }
    default: fatal("Spgr_descr: Unknown space-group text type");
  }
  init(ops);
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
