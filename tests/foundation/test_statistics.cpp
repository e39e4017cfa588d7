#include <gtest/gtest.h>

#include "foundation/message.h"
#include "foundation/statistics.h"
#include "foundation/util.h"
#include "support/testing.h"

using namespace vantrel;

TEST(GenericOrdinal, CumulativeFractionsClampingAndInverse) {
  // Range [0, 10], 10 bins, one value at the centre of every bin.
  Generic_ordinal ord;
  ord.init(Range<double>(0.0, 10.0), 10);
  for (int i = 0; i < 10; ++i) ord.accumulate(i + 0.5);
  ord.prep_ordinal();
  for (int k = 0; k <= 10; ++k) EXPECT_NEAR(ord.ordinal(k), 0.1 * k, 1e-4) << k;
  EXPECT_DOUBLE_EQ(ord.ordinal(5.0), 0.5);
  EXPECT_DOUBLE_EQ(ord.ordinal(-3.0), 0.0);
  for (double top : {10.0, 20.0, Util::nan()}) EXPECT_DOUBLE_EQ(ord.ordinal(top), 0.99999);

  ord.invert();
  EXPECT_NEAR(ord.ordinal(0.5), 5.0, 10.0 / 1024 + 1e-3);
  EXPECT_NEAR(ord.ordinal(0.25), 2.5, 10.0 / 1024 + 1e-3);
  EXPECT_DOUBLE_EQ(ord.ordinal(0.0), 0.0);
}

TEST(GenericOrdinal, OnePassTwoPassAndDegenerateSamples) {
  // The two-pass build widens an empty range from the sample.
  const std::vector<double> values{3.0, 1.0, 4.0, 1.0, 5.0, 9.0, 2.0, 6.0, 5.0, 3.0, 5.0};
  Generic_ordinal one, two, equal, empty;
  one.init(values, 20);
  for (double v : values) two.add_pass_1(v);
  two.init(20);
  for (double v : values) two.add_pass_2(v);
  two.prep_ordinal();
  for (double x = 0.0; x < 10.0; x += 0.25) EXPECT_EQ(one.ordinal(x), two.ordinal(x)) << x;
  // Only the maximum, 9, lies in the last bin, which starts at 8.6.
  EXPECT_NEAR(one.ordinal(8.6), 10.0 / 11.0, 1e-3);

  // Zero width: every value is counted in the top bin, and read there.
  equal.init(std::vector<double>(5, 3.0), 10);
  EXPECT_NEAR(equal.ordinal(3.0), 0.9999, 1e-12);
  EXPECT_EQ(equal.ordinal(2.0), 0.0);
  EXPECT_NEAR(equal.ordinal(4.0), 0.9999, 1e-12);
  empty.init(std::vector<double>(), 10);
  EXPECT_EQ(empty.ordinal(1.0), 0.0);
}

TEST(Histogram, InterpolationSumsAndMismatch) {
  Histogram h(Range<double>(0.0, 4.0), 4);
  for (double x : {0.5, 1.5, 2.5, 3.5}) h.accumulate(x, 2.0);
  const double at[] = {0.5, 2.0, 0.0, 4.0, 0.25, -5.0}, want[] = {2.0, 2.0, 0.0, 0.0, 1.0, 0.0};
  for (int i = 0; i < 6; ++i) EXPECT_DOUBLE_EQ(h.y(at[i]), want[i]) << at[i];
  EXPECT_EQ(h.y(Util::nan()), 0.0);
  h.accumulate(99.0);         // to the last bin
  h.accumulate(Util::nan());  // skipped
  EXPECT_DOUBLE_EQ(h[3], 3.0);
  h += h;
  EXPECT_DOUBLE_EQ(h.sum(), 18.0);

  vantrel_testing::Quiet_messages quiet;
  EXPECT_THROW(h += Histogram(Range<double>(0.0, 4.0), 5), Message_fatal);
  EXPECT_EQ(quiet.text(), "Histogram: sum of unequal histograms\n");
}
