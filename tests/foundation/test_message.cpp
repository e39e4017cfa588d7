#include <gtest/gtest.h>

#include <sstream>

#include "foundation/message.h"

using namespace vantrel;

namespace {

// A warning from a static initialiser, before anything set the stream, must
// already reach standard error.
std::string early_output() {
  std::ostringstream capture;
  std::streambuf* saved = std::cerr.rdbuf(capture.rdbuf());
  Message::message(Message_warn("early warning"));
  std::cerr.rdbuf(saved);
  return capture.str();
}
const std::string early_text = early_output();

class MessageTest : public ::testing::Test {
 protected:
  void SetUp() override { Message::set_stream(out); }
  void TearDown() override { Message(); }  // back to 5, 9, std::cerr
  std::ostringstream out;
};

}  // namespace

TEST(MessageStartup, StreamIsStandardErrorDuringStaticInitialisation) {
  EXPECT_EQ(early_text, "early warning\n");
}

TEST_F(MessageTest, LevelSettersClamp) {
  // {print level set, fatal level set, print level read, fatal level read}
  const int rows[][4] = {{-3, 9, 1, 9}, {12, 9, 9, 9}, {5, 3, 5, 5}, {5, 10, 5, 9}, {8, 7, 8, 8}};
  for (const auto& r : rows) {
    Message::set_message_level(r[0]);
    Message::set_fatal_level(r[1]);
    EXPECT_EQ(Message::message_level(), r[2]) << r[0] << ", " << r[1];
    EXPECT_EQ(Message::fatal_level(), r[3]) << r[0] << ", " << r[1];
  }
  // The print level is held to a fatal level below 9.
  Message::set_message_level(5);
  Message::set_fatal_level(7);
  Message::set_message_level(8);
  EXPECT_EQ(Message::message_level(), 7);
}

TEST_F(MessageTest, LevelsDecideWhatIsPrintedAndThrown) {
  // Defaults 5 and 9: warnings print, fatals print and throw, traces are silent.
  EXPECT_NO_THROW(Message::message(Message_warn("careful")));
  try {
    Message::message(Message_fatal("broken"));
    FAIL() << "fatal message did not throw";
  } catch (const Message_fatal& e) {
    EXPECT_EQ(e.text(), "broken");
  }
  Message::message(Message_ctor(" [Xmap: constructed]"));
  Message::set_message_level(2);
  Message::message(Message_ctor(" [Xmap: constructed]"));
  Message::message(Message_dtor("<gone]"));
  Message::set_fatal_level(5);
  EXPECT_THROW(Message::message(Message_warn("now fatal")), Message_warn);
  EXPECT_EQ(out.str(), "careful\nbroken\n+ [Xmap: constructed]\n-<gone]\nnow fatal\n");
}
