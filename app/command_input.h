// Command input: the command line, with keyword lines from standard input
// after "-stdin", turned into a list of tokens and echoed.
#ifndef QUELVARN_APP_COMMAND_INPUT_H
#define QUELVARN_APP_COMMAND_INPUT_H

#include <iostream>
#include <string>
#include <vector>

//! The tokens of a command: token 0 is the program path, options follow.
/*! An argument "--name" becomes "-name" (a bare "--" stays). The argument
  "-stdin" is replaced by the keyword lines read from the input stream to
  its end: per line a trailing carriage return is dropped; empty lines,
  lines beginning with "#" and lines of blanks (space, tab) are skipped;
  otherwise the first word, with "-" put in front when it lacks one, is a
  token, and the rest of the line, trimmed of blanks, another. */
class CCP4CommandInput : public std::vector<std::string> {
 public:
  //! Builds the tokens and, when echo is true, writes them to out: an
  //! option ("-" and not a digit next) on a new line without its "-",
  //! anything else after a space and a tab; then a newline.
  CCP4CommandInput(int argc, char** argv, bool echo, std::istream& in = std::cin,
                   std::ostream& out = std::cout);

 private:
  void add_keyword_lines(std::istream& in);
};

#endif
