#include "foundation/message.h"

namespace vantrel {

// Constant-initialised: valid before any dynamic initialiser runs.
int Message::message_level_ = 5;
int Message::fatal_level_ = 9;
std::ostream* Message::stream_ = &std::cerr;

Message message;

Message::Message() {
  message_level_ = 5;
  fatal_level_ = 9;
  set_stream(std::cerr);
}

void Message::set_message_level(const int& level) {
  if (level <= 0)
    message_level_ = 1;
  else if (level > fatal_level_)
    message_level_ = fatal_level_;
  else
    message_level_ = level;
}

void Message::set_fatal_level(const int& level) {
  if (level < message_level_)
    fatal_level_ = message_level_;
  else if (level > 9)
    fatal_level_ = 9;
  else
    fatal_level_ = level;
}

void fatal(const std::string& text) { fatal(Message_fatal(text)); }

void fatal(const Message_fatal& m) {
  Message::message(m);
  throw m;  // the fatal level never exceeds 9, so message() has thrown already
}

}  // namespace vantrel
