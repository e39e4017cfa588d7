#include <gtest/gtest.h>

#include <cstdio>
#include <limits>

#include "foundation/message.h"
#include "foundation/util.h"
#include "foundation/vstring.h"
#include "support/testing.h"

using namespace vantrel;

using Words = std::vector<String>;

TEST(StringParse, LeadingNumbers) {
  EXPECT_EQ(String("12abc").i(), 12);
  EXPECT_EQ(String("3.7").i(), 3);
  EXPECT_EQ(String("  -42 7").l(), -42L);
  EXPECT_DOUBLE_EQ(String(" 3.5x").f(), 3.5);
  EXPECT_FLOAT_EQ(String("1e-3").f32(), 1e-3f);
  EXPECT_DOUBLE_EQ(String("2").rational(), 2.0);
}

TEST(StringText, SplitTrimAndPathParts) {
  EXPECT_EQ(String("  a  b ").split(" "), (Words{"a", "b"}));
  EXPECT_EQ(String("a,,b,").split(","), (Words{"a", "b"}));
  EXPECT_EQ(String("a;b,c").split(",;"), (Words{"a", "b", "c"}));
  EXPECT_TRUE(String(",,,").split(",").empty());
  EXPECT_EQ(String(" \t x y\n").trim(), "x y");
  EXPECT_EQ(String(" \t\n").trim(), "");
  // {path, head, tail, nohead, notail}
  const char* parts[][5] = {
      {"a/b/c", "a", "c", "b/c", "a/b"}, {"abc", "abc", "abc", "", ""}, {"/x", "", "x", "x", ""}};
  for (const auto& p : parts) {
    const String s(p[0]);
    EXPECT_EQ(Words({s.head(), s.tail(), s.nohead(), s.notail()}), Words(p + 1, p + 5)) << p[0];
  }
}

TEST(StringFormat, NumberConstructors) {
  EXPECT_EQ(String(3.14159, 10, 4), "     3.142");
  EXPECT_EQ(String(42, 5), "   42");
  EXPECT_EQ(String(4096, 2), "4096");
  EXPECT_EQ(String(0.5f, 6, 6), "   0.5");
  EXPECT_EQ(String("abcdef", 3), "abc");
  EXPECT_EQ(String("ab\0cd", 4), std::string("ab\0c", 4));
  // General notation agrees with C's %*.*g over a spread of magnitudes.
  char buf[64];
  for (int width : {6, 12})
    for (double v : {0.0, 1.0, 90.0, 17.188733853924695, -2.5e-7, 123456.0, 1234567.0, 1e-4,
                     9.99999e-5, 6.02214e23}) {
      std::snprintf(buf, sizeof buf, "%*.*g", width, 6, v);
      EXPECT_EQ(String(v, width, 6), buf) << v;
    }
}

TEST(StringFormat, RationalText) {
  // Zero, and what rounds to it, is "0" or "+0": never "-0" or "0/7".
  const std::pair<double, const char*> unsigned_texts[] = {
      {0.5, "1/2"}, {1.0 / 3, "1/3"}, {5.0 / 6, "5/6"}, {0.125, "1/8"}, {1.0, "1"}, {0.0, "0"}};
  for (const auto& t : unsigned_texts) EXPECT_EQ(String::rational(t.first, 24), t.second);
  EXPECT_EQ(String::rational(0.0, 7), "0");
  EXPECT_EQ(String::rational(-0.01, 24, true), "+0");
  EXPECT_EQ(String::rational(0.5, 24, true), "+1/2");
  EXPECT_EQ(String::rational(-0.5, 24, true), "-1/2");
  EXPECT_EQ(String::rational(3.0 / 48, 48), "1/16");  // 48ths reduce fully
  EXPECT_EQ(String::rational(16.0 / 48, 48), "1/3");
  // no long holds these: a crash or wrapped text before
  vantrel_testing::Quiet_messages quiet;
  for (const double bad : {Util::nan(), 0x1p63, -1e300, std::numeric_limits<double>::infinity()})
    EXPECT_THROW(String::rational(bad, 24), Message_fatal) << bad;
  EXPECT_THROW(String::rational(0.5, 0), Message_fatal);
  EXPECT_NE(quiet.text().find("String::rational: cannot write nan in 24ths"), std::string::npos);
  // Signed text and parse are inverse over all 24ths.
  for (int n = -24; n <= 24; ++n)
    EXPECT_DOUBLE_EQ(String::rational(n / 24.0, 24, true).rational(), n / 24.0) << n;
}
