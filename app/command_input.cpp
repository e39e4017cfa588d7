#include "app/command_input.h"

#include <cctype>

namespace {

const char* const blanks = " \t";

}  // namespace

CCP4CommandInput::CCP4CommandInput(int argc, char** argv, bool echo, std::istream& in,
                                   std::ostream& out) {
  for (int arg = 0; arg < argc; ++arg) {
    std::string token = argv[arg];
    if (token == "-stdin") {
      add_keyword_lines(in);
      continue;
    }
    if (token.size() > 2 && token[0] == '-' && token[1] == '-') token.erase(0, 1);
    push_back(token);
  }
  if (!echo) return;
  for (size_t i = 1; i < size(); ++i) {
    const std::string& token = (*this)[i];
    const bool option = token.size() > 0 && token[0] == '-' &&
                        !(token.size() > 1 && std::isdigit(static_cast<unsigned char>(token[1])));
    if (option)
      out << '\n' << token.substr(1);
    else
      out << " \t" << token;
  }
  out << std::endl;
}

void CCP4CommandInput::add_keyword_lines(std::istream& in) {
  std::string line;
  // getline also returns a last line that has no newline.
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const size_t start = line.find_first_not_of(blanks);
    if (start == std::string::npos) continue;
    const size_t end_keyword = line.find_first_of(blanks, start);
    std::string keyword = line.substr(start, end_keyword - start);
    if (keyword[0] != '-') keyword.insert(0, 1, '-');
    push_back(keyword);
    if (end_keyword == std::string::npos) continue;
    const size_t value_start = line.find_first_not_of(blanks, end_keyword);
    if (value_start == std::string::npos) continue;
    const size_t value_end = line.find_last_not_of(blanks);
    push_back(line.substr(value_start, value_end + 1 - value_start));
  }
}
