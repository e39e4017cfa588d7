#include <gtest/gtest.h>

#include "foundation/message.h"
#include "foundation/property.h"
#include "foundation/vstring.h"
#include "support/testing.h"

using namespace vantrel;

namespace {

int int_value(const PropertyManager& m, const std::string& label) {
  return dynamic_cast<const Property<int>&>(m.get_property(label)).value();
}

PropertyManager numbered(const std::string& label, int count) {
  PropertyManager m;
  for (int i = 0; i < count; ++i) m.set_property(label + std::to_string(i), Property<int>(i));
  return m;
}

}  // namespace

TEST(PropertyManager, RepeatedLabelsFoundInOrderAndMissingOnesFatal) {
  PropertyManager m;
  m.set_property("TAG", Property<int>(1));
  m.set_property("TAG", Property<int>(2));
  EXPECT_EQ(int_value(m, "TAG"), 1);
  EXPECT_TRUE(m.delete_property("TAG"));
  EXPECT_EQ(int_value(m, "TAG"), 2);
  EXPECT_TRUE(m.delete_property("TAG"));
  EXPECT_FALSE(m.exists_property("TAG"));
  EXPECT_FALSE(m.delete_property("TAG"));
  EXPECT_FALSE(numbered("TAG", 1).exists_property("TAG"));  // labels match whole
  vantrel_testing::Quiet_messages quiet;
  EXPECT_THROW(m.get_property("TAG"), Message_fatal);
  EXPECT_EQ(quiet.text(), "PropertyManager: label not found.\n\n");
}

TEST(PropertyManager, CopiesAreDeepAndReplaceTheTarget) {
  PropertyManager a;
  a.set_property("CID", Property<String>(String("/1/A/12")));
  PropertyManager b(a);
  a.delete_property("CID");
  EXPECT_EQ(dynamic_cast<const Property<String>&>(b.get_property("CID")).value(), "/1/A/12");

  PropertyManager five = numbered("five", 5);
  const PropertyManager three = numbered("three", 3);
  five = three;
  EXPECT_FALSE(five.exists_property("five0"));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(int_value(five, "three" + std::to_string(i)), i);
  five.delete_property("three0");
  EXPECT_TRUE(three.exists_property("three0"));
  const PropertyManager& alias = five;
  five = alias;
  EXPECT_EQ(int_value(five, "three1"), 1);
}
