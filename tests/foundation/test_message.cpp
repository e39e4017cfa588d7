#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

#include "foundation/message.h"

using namespace vantrel;

namespace {

// A warning issued from a static initialiser, before anything has set the
// stream, must already reach standard error.
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
  Message::set_message_level(-3);
  EXPECT_EQ(Message::message_level(), 1);
  Message::set_message_level(12);
  EXPECT_EQ(Message::message_level(), 9);
  Message::set_message_level(5);
  Message::set_fatal_level(3);
  EXPECT_EQ(Message::fatal_level(), 5);
  Message::set_fatal_level(10);
  EXPECT_EQ(Message::fatal_level(), 9);
  Message::set_fatal_level(7);
  Message::set_message_level(8);
  EXPECT_EQ(Message::message_level(), 7);
}

TEST_F(MessageTest, DefaultLevelsPrintWarningsAndThrowFatals) {
  EXPECT_NO_THROW(Message::message(Message_warn("careful")));
  try {
    Message::message(Message_fatal("broken"));
    FAIL() << "fatal message did not throw";
  } catch (const Message_fatal& e) {
    EXPECT_EQ(e.text(), "broken");
  }
  Message::message(Message_ctor(" [Xmap: constructed]"));
  Message::message(Message_dtor("<Container: destroyed /a]"));
  EXPECT_EQ(out.str(), "careful\nbroken\n");
}

TEST_F(MessageTest, LoweredLevelsPrintTracesAndThrowWarnings) {
  Message::set_message_level(2);
  Message::message(Message_ctor(" [Xmap: constructed]"));
  Message::message(Message_dtor("<gone]"));
  Message::set_fatal_level(5);
  EXPECT_THROW(Message::message(Message_warn("now fatal")), Message_warn);
  EXPECT_EQ(out.str(), "+ [Xmap: constructed]\n-<gone]\nnow fatal\n");
}
