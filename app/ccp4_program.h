// The program frame: announcement to the CCP4 library (banner, run timer)
// at the start of a run and its timing line at the end.
#ifndef QUELVARN_APP_CCP4_PROGRAM_H
#define QUELVARN_APP_CCP4_PROGRAM_H

#include <iostream>

//! Brackets a run: construction prints the CCP4 banner and starts the
//! library's timer; destruction writes a newline to the report stream and
//! the library's timing line, unless the run was abandoned.
/*! The banner and timing line go to the C standard output; the report
  stream must be (or be synchronised with) it for the lines to interleave
  in order. */
class CCP4Program {
 public:
  CCP4Program(const char* name, const char* version, const char* date,
              std::ostream& out = std::cout);
  ~CCP4Program();
  CCP4Program(const CCP4Program&) = delete;
  CCP4Program& operator=(const CCP4Program&) = delete;

  //! The run ends early (usage or error): no closing newline or timing.
  void abandon() { closing_ = false; }

 private:
  std::ostream* out_;
  bool closing_ = true;
};

#endif
