// Fuzzer bytes read as the numbers and texts a fuzz target needs, and the
// quiet, fatal-tolerant frame every target runs in.
#ifndef VANTREL_TESTS_FUZZ_FUZZ_INPUT_H
#define VANTREL_TESTS_FUZZ_FUZZ_INPUT_H

#include <cstdint>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>

#include "foundation/message.h"

namespace vantrel_fuzz {

//! Takes values off the front of the input; past its end every value is 0.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  template <class T> T take() {
    T v{};
    const std::size_t n = sizeof(T) < size_ ? sizeof(T) : size_;
    std::memcpy(&v, data_, n);
    data_ += n;
    size_ -= n;
    return v;
  }
  //! A whole number in lo..hi.
  int in_range(int lo, int hi) { return lo + int(take<std::uint16_t>() % unsigned(hi - lo + 1)); }
  //! A double: any bit pattern, an ordinary size, or a special value, so
  //! that both the checks and the work behind them are reached.
  double number() {
    static const double special[] = {std::numeric_limits<double>::quiet_NaN(),
                                     std::numeric_limits<double>::infinity(),
                                     -std::numeric_limits<double>::infinity(),
                                     0.0,
                                     -0.0,
                                     std::numeric_limits<double>::denorm_min(),
                                     1e-300,
                                     1e300,
                                     2147483648.0,
                                     -2147483649.0,
                                     9.3e18};
    switch (take<std::uint8_t>() % 4) {
      case 0: return take<double>();
      case 1: return special[take<std::uint8_t>() % (sizeof(special) / sizeof(double))];
      case 2: return take<std::int16_t>() / 16.0;
      default: return 1.0 + take<std::uint16_t>() / 64.0;
    }
  }
  //! The rest of the input as text.
  std::string rest() {
    std::string s(reinterpret_cast<const char*>(data_), size_);
    size_ = 0;
    return s;
  }
  std::size_t remaining() const { return size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

//! Runs f. A fatal message is the library's answer to bad input, so it
//! counts as success; anything else escaping (a crash, a sanitizer report,
//! another exception) is a finding.
template <class F> void run(F f) {
  static std::ostringstream sink;  // messages are not the finding
  vantrel::Message::set_stream(sink);
  sink.str("");
  try {
    f();
  } catch (const vantrel::Message_fatal&) {
  }
}

//! Stops the run on a broken property, as a crash would.
inline void require(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace vantrel_fuzz

#endif
