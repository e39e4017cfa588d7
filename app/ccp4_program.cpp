#include "app/ccp4_program.h"

#include <ccp4/ccp4_general.h>
#include <ccp4/ccp4_program.h>

CCP4Program::CCP4Program(const char* name, const char* version, const char* date, std::ostream& out)
    : out_(&out) {
  CCP4::ccp4ProgramName(name);
  CCP4::ccp4_prog_vers(version);
  // The library appends each date text to the last one in a fixed buffer,
  // so the date is given once per process (a test may run many programs).
  static bool dated = false;
  if (!dated) CCP4::ccp4RCSDate(date);
  dated = true;
  CCP4::ccp4_banner();
  CCP4::ccp4ProgramTime(1);
}

CCP4Program::~CCP4Program() {
  if (!closing_) return;
  *out_ << '\n' << std::flush;
  CCP4::ccp4ProgramTime(0);
}
