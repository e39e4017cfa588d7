// Reflection lists asked for at a missing resolution, or far too large to
// hold: a null list or a message stating the count, before any work.
#include <gtest/gtest.h>

#include <string>

#include "foundation/message.h"
#include "reflections/hkl_info.h"
#include "support/testing.h"

using namespace vantrel;
using vantrel_testing::fatal_text;

namespace {

Cell cubic(double a) { return Cell(Cell_descr(a, a, a, 90, 90, 90)); }

bool starts_with(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}

}  // namespace

TEST(BadReflectionList, MissingResolutionGivesANullList) {
  const Spacegroup p1(Spgr_descr("P 1"));
  const HKL_info list(p1, cubic(50), Resolution(Util::nan()), true);
  EXPECT_TRUE(list.is_null());
  EXPECT_EQ(list.num_reflections(), 0);
  // a usable list beside it, so the test cannot pass on an empty one
  EXPECT_GT(HKL_info(p1, cubic(50), Resolution(5.0), true).num_reflections(), 1000);
}

// A 1e-9 A limit overflowed the index conversion; a/d >= 500 ran out of
// memory after seconds, a/d = 1e4 would have enumerated for a month.
TEST(BadReflectionList, TooLargeIsFatalBeforeWork) {
  const Spacegroup p1(Spgr_descr("P 1"));
  for (const auto& c :
       {std::make_pair(10.0, 1e-9), std::make_pair(1000.0, 2.0), std::make_pair(1e4, 1.0)}) {
    const std::string text =
        fatal_text([&] { HKL_info(p1, cubic(c.first), Resolution(c.second), true); });
    EXPECT_TRUE(starts_with(text, "HKL_info: reflection list too large: about ")) << text;
  }
  // through a sampling: checked before the resolution walk
  const HKL_sampling fine(cubic(400), Resolution(1.0));
  const std::string text = fatal_text([&] { HKL_info().init(p1, cubic(400), fine, true); });
  EXPECT_TRUE(starts_with(text, "HKL_info: reflection list too large: about ")) << text;
}
