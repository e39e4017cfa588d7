#include <gtest/gtest.h>

#include <cstdio>

#include "foundation/vstring.h"

using namespace vantrel;

using Words = std::vector<String>;

TEST(StringParse, LeadingNumbers) {
  EXPECT_EQ(String("12abc").i(), 12);
  EXPECT_EQ(String("3.7").i(), 3);
  EXPECT_EQ(String("  -42 7").l(), -42L);
  EXPECT_DOUBLE_EQ(String(" 3.5x").f(), 3.5);
  EXPECT_FLOAT_EQ(String("1e-3").f32(), 1e-3f);
  EXPECT_DOUBLE_EQ(String("2").rational(), 2.0);
  EXPECT_DOUBLE_EQ(String("1/4").rational(), 0.25);
  EXPECT_DOUBLE_EQ(String("-1/3").rational(), -1.0 / 3.0);
}

TEST(StringText, SplitAndTrim) {
  EXPECT_EQ(String("  a  b ").split(" "), (Words{"a", "b"}));
  EXPECT_EQ(String("a,,b,").split(","), (Words{"a", "b"}));
  EXPECT_EQ(String("a;b,c").split(",;"), (Words{"a", "b", "c"}));
  EXPECT_TRUE(String(",,,").split(",").empty());
  EXPECT_EQ(String(" \t x y\n").trim(), "x y");
  EXPECT_EQ(String(" \t\n").trim(), "");
}

TEST(StringText, PathParts) {
  const String p("a/b/c");
  EXPECT_EQ(p.head(), "a");
  EXPECT_EQ(p.tail(), "c");
  EXPECT_EQ(p.nohead(), "b/c");
  EXPECT_EQ(p.notail(), "a/b");
  const String q("abc");
  EXPECT_EQ(q.head(), "abc");
  EXPECT_EQ(q.tail(), "abc");
  EXPECT_EQ(q.nohead(), "");
  EXPECT_EQ(q.notail(), "");
  EXPECT_EQ(String("/x").head(), "");
  EXPECT_EQ(String("/x").nohead(), "x");
}

TEST(StringFormat, NumberConstructors) {
  EXPECT_EQ(String(3.14159, 10, 4), "     3.142");
  EXPECT_EQ(String(42, 5), "   42");
  EXPECT_EQ(String(4096, 2), "4096");
  EXPECT_EQ(String(90.0, 6, 6), "    90");
  EXPECT_EQ(String(17.188733853924695, 6, 6), "17.1887");
  EXPECT_EQ(String(0.5f, 6, 6), "   0.5");
  EXPECT_EQ(String("abcdef", 3), "abc");
  EXPECT_EQ(String(3, '-'), "---");
  EXPECT_EQ(String("ab\0cd", 4), std::string("ab\0c", 4));

  // General notation must agree with C's %*.*g over a spread of magnitudes.
  char buf[64];
  for (double v : {0.0, 1.0, -2.5e-7, 123456.0, 1234567.0, 1e-4, 9.99999e-5, 6.02214e23}) {
    std::snprintf(buf, sizeof buf, "%*.*g", 12, 6, v);
    EXPECT_EQ(String(v, 12, 6), buf) << v;
  }
}

TEST(StringFormat, RationalText) {
  EXPECT_EQ(String::rational(0.5, 24), "1/2");
  EXPECT_EQ(String::rational(1.0 / 3.0, 24), "1/3");
  EXPECT_EQ(String::rational(5.0 / 6.0, 24), "5/6");
  EXPECT_EQ(String::rational(0.125, 24), "1/8");
  EXPECT_EQ(String::rational(1.0, 24), "1");
  EXPECT_EQ(String::rational(0.5, 24, true), "+1/2");
  EXPECT_EQ(String::rational(-0.5, 24, true), "-1/2");
  // Zero, and what rounds to it, is unsigned or "+0": never "-0" or "0/7".
  EXPECT_EQ(String::rational(0.0, 24), "0");
  EXPECT_EQ(String::rational(-0.01, 24, true), "+0");
  EXPECT_EQ(String::rational(0.0, 7), "0");
  // Text and parse are inverse over all 24ths.
  for (int n = -24; n <= 24; ++n)
    EXPECT_DOUBLE_EQ(String::rational(n / 24.0, 24, true).rational(), n / 24.0) << n;
}
