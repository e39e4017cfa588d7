// The library's string: a standard string with number parsing, word
// splitting, trimming, slash-separated path parts and number formatting.
#ifndef VANTREL_FOUNDATION_VSTRING_H
#define VANTREL_FOUNDATION_VSTRING_H

#include <string>
#include <vector>

namespace vantrel {

class String : public std::string {
 public:
  String() = default;
  String(const char* s) : std::string(s) {}
  String(const std::string& s) : std::string(s) {}
  String(std::string&& s) : std::string(std::move(s)) {}
  //! Exactly the first n characters of s (NULs included); empty for n <= 0.
  String(const char* s, int n);
  //! n copies of the character c.
  String(int n, char c) : std::string(std::size_t(n > 0 ? n : 0), c) {}
  //! Decimal text of v, right-aligned in at least width characters.
  explicit String(int v, int width = 0);
  explicit String(long v, int width = 0);
  //! v in default (general) notation with prec significant digits,
  //! right-aligned in at least width characters.
  explicit String(double v, int width = 0, int prec = 6);
  explicit String(float v, int width = 0, int prec = 6);

  // Parsing: the leading number of the text (formatted stream extraction);
  // no error is reported.
  int i() const;
  long l() const;
  float f32() const;
  double f64() const;
  double f() const { return f64(); }
  //! "a/b" as a divided by b; text without "/" as f().
  double rational() const;

  //! Words of the text; every character of sep is a separator.
  std::vector<String> split(const String& sep) const;
  //! The text without leading and trailing white space.
  String trim() const;
  //! Part before the first "/" (whole text when none).
  String head() const;
  //! Part after the last "/" (whole text when none).
  String tail() const;
  //! Part after the first "/" (empty when none).
  String nohead() const;
  //! Part before the last "/" (empty when none).
  String notail() const;

  //! f as a reduced fraction over the denominator b ("1/2", "-3/4", "1");
  //! with sign, positive values and zero get a leading "+" ("+0"). Fatal
  //! unless b > 0 and b * f is finite and well inside the range of a long.
  static String rational(const double f, const int b, const bool sign = false);
};

}  // namespace vantrel

#endif
