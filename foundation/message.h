// Diagnostic channel of the library: message classes with fixed levels, and
// the static channel that prints them and throws those at the fatal level.
#ifndef VANTREL_FOUNDATION_MESSAGE_H
#define VANTREL_FOUNDATION_MESSAGE_H

#include <iostream>
#include <string>

namespace vantrel {

//! Empty base of every message class.
class Message_base {};

//! The text of a message whose class has the fixed level L.
template <int L> class Message_text : public Message_base {
 public:
  static constexpr int level = L;
  const std::string& text() const { return text_; }

 protected:
  explicit Message_text(const std::string& text) : text_(text) {}

 private:
  std::string text_;
};

//! Fatal error: printed and thrown at the default levels.
class Message_fatal : public Message_text<9> {
 public:
  Message_fatal(const std::string& text) : Message_text(text) {}
};

//! Warning: printed but not thrown at the default levels.
class Message_warn : public Message_text<5> {
 public:
  Message_warn(const std::string& text) : Message_text(text) {}
};

//! Construction trace; the stored text is "+" followed by the argument.
class Message_ctor : public Message_text<2> {
 public:
  Message_ctor(const std::string& text) : Message_text("+" + text) {}
};

//! Destruction trace; the stored text is "-" followed by the argument.
class Message_dtor : public Message_text<2> {
 public:
  Message_dtor(const std::string& text) : Message_text("-" + text) {}
};

//! The static diagnostic channel.
/*! A message is written, with a newline, when its class level is at least
  the print level; a written message is then thrown as its own class when its
  level is at least the fatal level. The print level stays in
  [1, fatal level] and the fatal level in [print level, 9]. All state is
  constant-initialised (levels 5 and 9, stream std::cerr), so messages work
  from any static initialiser. */
class Message {
 public:
  //! Resets the levels to 5 and 9 and the stream to standard error.
  Message();

  template <class T> static void message(const T& m) {
    if (message_level_ <= T::level) {
      *stream_ << m.text() << '\n';
      if (fatal_level_ <= T::level) throw m;
    }
  }

  static int message_level() { return message_level_; }
  static int fatal_level() { return fatal_level_; }
  static void set_message_level(const int& level);
  static void set_fatal_level(const int& level);
  static void set_stream(std::ostream& stream) { stream_ = &stream; }
  static std::ostream& stream() { return *stream_; }

 private:
  static int message_level_;
  static int fatal_level_;
  static std::ostream* stream_;
};

//! The library's global channel object.
extern Message message;

//! Reports a fatal error: prints text on the message stream and throws it as
//! Message_fatal. The one way the library fails.
[[noreturn]] void fatal(const std::string& text);
//! Reports a fatal error held in a message object, as fatal(text) does.
[[noreturn]] void fatal(const Message_fatal& m);

}  // namespace vantrel

#endif
