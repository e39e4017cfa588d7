// Helpers shared by every test suite: fixture files, fatal-message capture and
// a guard that silences the message stream for its lifetime.
#ifndef VANTREL_TESTS_SUPPORT_TESTING_H
#define VANTREL_TESTS_SUPPORT_TESTING_H

#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "foundation/message.h"

namespace vantrel_testing {

//! Path of a fixture file in tests/data.
inline std::string fixture_path(const std::string& name) {
  return std::string(VANTREL_TEST_DATA) + "/" + name;
}

//! Opens a fixture file in tests/data; a missing file fails the calling test.
inline std::ifstream open_fixture(const std::string& name) {
  std::ifstream in(fixture_path(name));
  if (!in) ADD_FAILURE() << "missing fixture file " << fixture_path(name);
  return in;
}

//! Sends library messages to a private buffer until destroyed, then restores
//! standard error, also when the test throws.
class Quiet_messages {
 public:
  Quiet_messages() { vantrel::Message::set_stream(buffer_); }
  ~Quiet_messages() { vantrel::Message::set_stream(std::cerr); }
  Quiet_messages(const Quiet_messages&) = delete;
  Quiet_messages& operator=(const Quiet_messages&) = delete;
  std::string text() const { return buffer_.str(); }

 private:
  std::ostringstream buffer_;
};

//! The text of the fatal message that operation raises (printed nowhere), or "no error".
template <class F> std::string fatal_text(F&& operation) {
  Quiet_messages quiet;
  try {
    operation();
  } catch (const vantrel::Message_fatal& m) {
    return m.text();
  }
  return "no error";
}

}  // namespace vantrel_testing

#endif
