// MTZ column-type registry: for every data component name ("F", "sigF",
// "phi", "A" ...) the MTZ column type it is stored as and the factor between
// the value in memory and the value in the file.
#ifndef VANTREL_MTZ_MTZ_TYPES_H
#define VANTREL_MTZ_MTZ_TYPES_H

#include "foundation/vstring.h"

namespace vantrel {

//! The process-wide table from component names to MTZ column types and scales.
/*! All storage is static, so every instance sees the same table. The global
  instance mtz_type_registry fills the 28 standard rows at start-up; the only
  scale other than 1 is that of "phi": phases are held in radians and stored
  in degrees (file value = memory value x scale). Lookups are exact and
  case-sensitive; the first row of a name wins. */
class CCP4MTZ_type_registry {
 public:
  //! Frees every slot, then adds the standard rows.
  CCP4MTZ_type_registry();
  //! Puts a row in the first free slot; names are cut to 11 characters and
  //! types to 3. Fatal when all slots are in use.
  static void add_type(const String& name, const String& type, const float& scale);
  //! The MTZ column type of a component; fatal for an unknown name.
  static String type(const String& name);
  //! The file/memory scale of a component; fatal for an unknown name.
  static float scale(const String& name);

 private:
  static constexpr int max_slots = 200;
  static int find(const String& name);  // slot of the name; fatal when absent

  static char names[max_slots][12];  // an empty name marks a free slot
  static char types[max_slots][4];
  static float scales[max_slots];
};

//! The registry instance that fills the standard rows before main runs.
extern CCP4MTZ_type_registry mtz_type_registry;

}  // namespace vantrel

#endif
