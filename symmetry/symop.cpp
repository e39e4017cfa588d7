#include "symmetry/symop.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <set>

#include "foundation/message.h"

namespace vantrel {

namespace {

// A component of an operator text read from one term of a field: the axis
// letter it names (-1 for none) and its number text.
struct Term {
  int axis = -1;
  String number;
};

int axis_of(const char c) {
  switch (c) {
    case 'x':
    case 'X': return 0;
    case 'y':
    case 'Y': return 1;
    case 'z':
    case 'Z': return 2;
    default: return -1;
  }
}

bool is_number_char(const char c) {
  return (c >= '0' && c <= '9') || c == '-' || c == '/' || c == '.';
}

// Cuts a field into terms: a new term starts at every sign, which belongs
// to it. Characters other than axis letters and number characters
// (blanks, "+", "*") are skipped.
std::vector<Term> terms_of(const String& field) {
  std::vector<Term> terms(1);
  for (const char c : field) {
    if (c == '+' || c == '-') terms.emplace_back();
    const int axis = axis_of(c);
    if (axis >= 0)
      terms.back().axis = axis;
    else if (is_number_char(c))
      terms.back().number += c;
  }
  return terms;
}

// Largest magnitude of an operator number: far beyond any operator of a
// crystal or change of basis, and well inside what the integer forms of
// an operator and the text form hold.
constexpr double max_operator_number = 1048576.0;  // 2^20

bool valid_number(const double& v) { return std::fabs(v) <= max_operator_number; }  // NaN fails

// Reads one field of an operator text into row r: a term with an axis sets
// a rotation coefficient (1 when no number is given), a term without one
// sets the translation. A later term replaces an earlier one. A number cut
// short ("1/"), divided by zero or out of range fails the whole text.
void read_row(const String& field, const int r, Mat33<double>& rot, Vec3<double>& trn,
              const String& text) {
  for (Term& term : terms_of(field)) {
    const bool bare = term.number.empty() || term.number == "-";
    if (bare) term.number += term.axis >= 0 ? "1" : "0";
    const double v = term.number.rational();
    if (!valid_number(v)) fatal("RTop_frac: invalid string:" + text);
    if (term.axis >= 0)
      rot(r, term.axis) = v;
    else
      trn[r] = v;
  }
}

// Fatal unless every element of op is a finite number in range.
void check_numbers(const RTop<double>& op) {
  bool ok = true;
  for (int i = 0; i < 3; ++i) {
    ok = ok && valid_number(op.trn()[i]);
    for (int j = 0; j < 3; ++j) ok = ok && valid_number(op.rot()(i, j));
  }
  if (!ok) fatal("Symop: operator element not finite or out of range");
}

// A translation component snapped to the nearest 48th (ties to even) and
// reduced into [0, 1).
double reduce_48ths(const double& t) { return double(Util::mod(std::lrint(48.0 * t), 48L)) / 48.0; }

Vec3<double> reduce_48ths(const Vec3<double>& t) {
  return Vec3<double>(reduce_48ths(t[0]), reduce_48ths(t[1]), reduce_48ths(t[2]));
}

}  // namespace

// ---------------------------------------------------------------------------
// RTop_frac

RTop_frac::RTop_frac(const String& s)
    : RTop<double>(Mat33<double>(0, 0, 0, 0, 0, 0, 0, 0, 0), Vec3<double>::zero()) {
  const std::vector<String> fields = s.split(",");
  if (fields.size() != 3) fatal("RTop_frac: invalid string:" + s);
  for (int r = 0; r < 3; ++r) read_row(fields[r], r, rot(), trn(), s);
}

RTop_orth RTop_frac::rtop_orth(const Cell& cell) const {
  return RTop_orth(RTop<double>(cell.orth_matrix()) * (*this) * RTop<double>(cell.frac_matrix()));
}

// ---------------------------------------------------------------------------
// Symop

Symop::Symop(const RTop<double>& op) {
  check_numbers(op);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) rot()(i, j) = std::rint(op.rot()(i, j));
  trn() = reduce_48ths(op.trn());
}

Symop::Symop(const double mat[4][4]) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) rot()(i, j) = mat[i][j];
  trn() = Vec3<double>(mat[0][3], mat[1][3], mat[2][3]);
  check_numbers(*this);
  trn() = reduce_48ths(trn());
}

String Symop::format() const {
  static const char* const axes[3] = {"x", "y", "z"};
  String result;
  for (int r = 0; r < 3; ++r) {
    String row;
    for (int c = 0; c < 3; ++c) {
      const double v = rot()(r, c);
      if (v == 0.0) continue;
      row += v > 0.0 ? "+" : "-";
      if (std::lrint(std::fabs(v)) != 1) row += String::rational(std::fabs(v), 24, false);
      row += axes[c];
    }
    // Translations are held in 48ths: written so, they read back exactly.
    if (trn()[r] != 0.0) row += String::rational(trn()[r], 48, true);
    if (row.empty())
      row = "0";
    else if (row[0] == '+')
      row.erase(0, 1);
    result += row;
    if (r < 2) result += ", ";
  }
  return result;
}

// ---------------------------------------------------------------------------
// Isymop

Isymop::Isymop(const Symop& op, const Grid& g) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) rot()(i, j) = int(std::lrint(op.rot()(i, j)));
  for (int i = 0; i < 3; ++i) trn()[i] = int(std::lrint(g[i] * op.trn()[i]));
}

// ---------------------------------------------------------------------------
// Symop_code

namespace {
constexpr int identity_digits = 0x4064;  // base-3 digits of the identity
}

void Symop_code::init(const Isymop& op) {
  // Only elements -1, 0 and 1 have a code digit.
  for (int k = 0; k < 9; ++k)
    if (op.rot()(k / 3, k % 3) < -1 || op.rot()(k / 3, k % 3) > 1) {
      String rows;
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
          rows += String(op.rot()(i, j), 0) + (j < 2 ? " " : i < 2 ? "; " : "");
      fatal("Symop_code: rotation element outside -1..1 in operator (" + rows + ")");
    }
  int translation = 0;
  for (int i = 0, weight = 1; i < 3; ++i, weight *= 24)
    translation += Util::mod(op.trn()[i], 24) * weight;
  int digits = 0;
  for (int k = 0, weight = 1; k < 9; ++k, weight *= 3)
    digits += Util::mod(op.rot()(k / 3, k % 3) + 1, 3) * weight;
  code_ = ((digits ^ identity_digits) << 16) + translation;
}

Isymop Symop_code::isymop() const {
  Isymop op;
  const int translation = code_ & 0xffff;
  for (int i = 0, weight = 1; i < 3; ++i, weight *= 24)
    op.trn()[i] = Util::mod(translation / weight, 24);
  const int digits = int(std::int16_t(code_ >> 16)) ^ identity_digits;
  for (int k = 0, weight = 1; k < 9; ++k, weight *= 3)
    op.rot()(k / 3, k % 3) = Util::mod(digits / weight, 3) - 1;
  return op;
}

Symop Symop_code::symop() const {
  const Isymop op = isymop();
  const Vec3<double> trn(op.trn()[0] / 24.0, op.trn()[1] / 24.0, op.trn()[2] / 24.0);
  return Symop(RTop<double>(Mat33<double>(op.rot()), trn));
}

String symop_metric_fault(const std::vector<Symop>& ops, const Cell& cell, const double tolerance) {
  const Metric_tensor& m = cell.real_metric();
  // The metric as a full symmetric matrix (the tensor keeps cross terms doubled).
  Mat33<double> g;
  g(0, 0) = m.m00();
  g(1, 1) = m.m11();
  g(2, 2) = m.m22();
  g(0, 1) = g(1, 0) = 0.5 * m.m01();
  g(0, 2) = g(2, 0) = 0.5 * m.m02();
  g(1, 2) = g(2, 1) = 0.5 * m.m12();
  const double scale = std::max(g(0, 0), std::max(g(1, 1), g(2, 2)));
  for (const Symop& op : ops) {
    const Mat33<double> kept = op.rot().transpose() * g * op.rot();
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        if (!(std::fabs(kept(i, j) - g(i, j)) <= tolerance * scale))
          return "operator " + op.format() + " does not fit the cell " + cell.format();
  }
  return "";
}

String symop_group_fault(const std::vector<Symop>& ops) {
  if (ops.empty()) return "no operators";
  // Each operator by its exact rotation and translation, for lookup.
  typedef std::array<double, 12> Key;
  auto key = [](const Symop& op) {
    Key k;
    for (int i = 0; i < 3; ++i) {
      k[4 * i + 3] = op.trn()[i];
      for (int j = 0; j < 3; ++j) k[4 * i + j] = op.rot()(i, j);
    }
    return k;
  };
  std::set<Key> listed;
  for (const Symop& op : ops) listed.insert(key(op));
  for (const Symop& a : ops)
    for (const Symop& b : ops) {
      const Symop ab(RTop<double>(a) * RTop<double>(b));
      if (!listed.count(key(ab)))
        return "the operators do not form a group: " + a.format() + " times " + b.format() +
               " gives " + ab.format();
    }
  return "";
}

String symop_set_fault(const std::vector<Symop>& ops, const Cell& cell, const double tolerance) {
  if (ops.empty()) return "no operators";
  const String metric = symop_metric_fault(ops, cell, tolerance);
  return metric.empty() ? symop_group_fault(ops) : metric;
}

}  // namespace vantrel
