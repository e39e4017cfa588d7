#include "system/gzip_name.h"

#include <cctype>

namespace vantrel {

bool Files::gzip_named(const String& name) {
  const std::size_t n = name.size();
  return n >= 3 && name[n - 3] == '.' &&
         std::tolower(static_cast<unsigned char>(name[n - 2])) == 'g' &&
         std::tolower(static_cast<unsigned char>(name[n - 1])) == 'z';
}

String Files::without_gzip(const String& name) {
  return gzip_named(name) ? String(name.substr(0, name.size() - 3)) : name;
}

}  // namespace vantrel
