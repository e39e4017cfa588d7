#include "foundation/vstring.h"

#include <cctype>
#include <cmath>
#include <numeric>
#include <sstream>

#include "foundation/message.h"

namespace vantrel {

namespace {

template <class T> T parse_leading(const std::string& s) {
  std::istringstream is(s);
  T v = T(0);
  is >> v;
  return v;
}

// v written by an output string stream with the given field width and
// precision (the precision does not affect integers).
template <class T> std::string write_field(const T& v, int width, int prec = 6) {
  std::ostringstream os;
  os.precision(prec);
  os.width(width);
  os << v;
  return os.str();
}

}  // namespace

String::String(const char* s, int n) : std::string(n > 0 ? std::string(s, n) : std::string()) {}

String::String(int v, int width) : std::string(write_field(v, width)) {}

String::String(long v, int width) : std::string(write_field(v, width)) {}

String::String(double v, int width, int prec) : std::string(write_field(v, width, prec)) {}

String::String(float v, int width, int prec) : String(double(v), width, prec) {}

int String::i() const { return parse_leading<int>(*this); }
long String::l() const { return parse_leading<long>(*this); }
float String::f32() const { return parse_leading<float>(*this); }
double String::f64() const { return parse_leading<double>(*this); }

double String::rational() const {
  const size_type slash = find('/');
  if (slash == npos) return f();
  return String(substr(0, slash)).f() / String(substr(slash + 1)).f();
}

std::vector<String> String::split(const String& sep) const {
  std::vector<String> words;
  size_type start = find_first_not_of(sep);
  while (start != npos) {
    const size_type end = find_first_of(sep, start);
    words.push_back(substr(start, end == npos ? npos : end - start));
    if (end == npos) break;
    start = find_first_not_of(sep, end);
  }
  return words;
}

String String::trim() const {
  const auto is_space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  size_type first = 0;
  while (first < size() && is_space((*this)[first])) ++first;
  size_type last = size();
  while (last > first && is_space((*this)[last - 1])) --last;
  return substr(first, last - first);
}

String String::head() const {
  const size_type p = find('/');
  return p == npos ? *this : String(substr(0, p));
}

String String::tail() const {
  const size_type p = rfind('/');
  return p == npos ? *this : String(substr(p + 1));
}

String String::nohead() const {
  const size_type p = find('/');
  return p == npos ? String() : String(substr(p + 1));
}

String String::notail() const {
  const size_type p = rfind('/');
  return p == npos ? String() : String(substr(0, p));
}

String String::rational(const double f, const int b, const bool sign) {
  // b * |f| must round to a long: a bound well inside 2^63.
  const double scaled = std::fabs(double(b) * f);
  if (b <= 0 || !(scaled < 0x1p62))
    fatal("String::rational: cannot write " + String(f, 0, 17) + " in " + String(b, 0) + "ths");
  long n = std::lrint(scaled);
  const long d = b / std::gcd(n, long(b));
  n /= std::gcd(n, long(b));
  // Zero (or a value that rounds to it) has no minus sign.
  std::string text = f > 0.0 || n == 0 ? (sign ? "+" : "") : "-";
  text += std::to_string(n);
  if (n != 0 && d != 1) text += "/" + std::to_string(d);
  return text;
}

}  // namespace vantrel
