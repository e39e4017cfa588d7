// The number readers and writers of String, and its text operations.
#include <cmath>

#include "foundation/vstring.h"
#include "fuzz_input.h"

using namespace vantrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vantrel_fuzz::Input in(data, size);
  const double f = in.number();
  const int b = in.in_range(-2, 100);
  const bool sign = in.take<std::uint8_t>() & 1;
  const int width = in.in_range(0, 30), prec = in.in_range(0, 20);
  const String text(in.rest());
  vantrel_fuzz::run([&] {
    text.i();
    text.l();
    text.f32();
    text.f();
    text.rational();
    text.split(", /");
    text.trim();
    text.head();
    text.tail();
    text.nohead();
    text.notail();
    String(text.c_str(), int(text.size()));
  });
  vantrel_fuzz::run([&] {
    const String written = String::rational(f, b, sign);
    // The text is a reduced fraction over b that reads back within half a step.
    vantrel_fuzz::require(std::fabs(std::fabs(written.rational()) - std::fabs(f)) <=
                          0.5 / b + 1e-9 * std::fabs(f));
  });
  vantrel_fuzz::run([&] {
    String(f, width, prec);
    String(long(std::fabs(f) < 9e18 ? f : 0.0), width);
  });
  return 0;
}
