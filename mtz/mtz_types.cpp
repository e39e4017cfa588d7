#include "mtz/mtz_types.h"

#include <algorithm>
#include <cstring>

#include "foundation/message.h"
#include "foundation/util.h"

namespace vantrel {

char CCP4MTZ_type_registry::names[max_slots][12];
char CCP4MTZ_type_registry::types[max_slots][4];
float CCP4MTZ_type_registry::scales[max_slots];

CCP4MTZ_type_registry mtz_type_registry;

CCP4MTZ_type_registry::CCP4MTZ_type_registry() {
  for (char* name : names) name[0] = '\0';
  const char* const standard[][2] = {
      {"I", "J"},      {"sigI", "Q"},   {"I+", "K"},    {"sigI+", "M"},  {"I-", "K"},
      {"sigI-", "M"},  {"covI+-", "C"}, {"F", "F"},     {"sigF", "Q"},   {"F+", "G"},
      {"sigF+", "L"},  {"F-", "G"},     {"sigF-", "L"}, {"covF+-", "C"}, {"E", "F"},
      {"sigE", "Q"},   {"E+", "G"},     {"sigE+", "L"}, {"E-", "G"},     {"sigE-", "L"},
      {"covE+-", "C"}, {"A", "A"},      {"B", "A"},     {"C", "A"},      {"D", "A"}};
  for (const auto& row : standard) add_type(row[0], row[1], 1.0f);
  // Degrees per radian, rounded to float: 57.29578.
  add_type("phi", "P", float(Util::rad2d(1.0)));
  add_type("fom", "W", 1.0f);
  add_type("flag", "I", 1.0f);
}

void CCP4MTZ_type_registry::add_type(const String& name, const String& type, const float& scale) {
  for (int i = 0; i < max_slots; ++i) {
    if (names[i][0] != '\0') continue;
    const std::size_t n = std::min<std::size_t>(name.size(), sizeof(names[i]) - 1);
    std::memcpy(names[i], name.data(), n);
    names[i][n] = '\0';
    const std::size_t t = std::min<std::size_t>(type.size(), sizeof(types[i]) - 1);
    std::memcpy(types[i], type.data(), t);
    types[i][t] = '\0';
    scales[i] = scale;
    return;
  }
  fatal("CCP4MTZ_type_registry: registry full.");
}

int CCP4MTZ_type_registry::find(const String& name) {
  for (int i = 0; i < max_slots; ++i)
    if (names[i][0] != '\0' && name == names[i]) return i;
  fatal("CCP4MTZ_type_registry: name not found.");
}

String CCP4MTZ_type_registry::type(const String& name) { return String(types[find(name)]); }

float CCP4MTZ_type_registry::scale(const String& name) { return scales[find(name)]; }

}  // namespace vantrel
