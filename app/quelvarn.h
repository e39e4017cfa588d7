// The quelvarn command: program frame, options, run and exit status.
#ifndef QUELVARN_APP_QUELVARN_H
#define QUELVARN_APP_QUELVARN_H

#include <functional>
#include <iostream>

#include "app/run_parameters.h"

//! A run on its parameters, writing its report to the stream.
typedef std::function<void(const Run_parameters&, std::ostream&)> Quelvarn_run;

//! The whole command on an argument vector: banner, notice, tokens and
//! their echo (keyword lines read from in after "-stdin"), options, the run
//! and the closing lines. Report text goes to out, which must be (or be
//! synchronised with) the C standard output that carries the CCP4 banner.
/*! Exit status: 0 after a complete run; 1 when the command cannot run
  (usage text given); 2 when the run fails: the library's fatal message has
  then been written to the message stream, any other error's text to err.
  After a complete run, fates (when given) says what became of the
  outputs, in the words of a failed run's message ("; already replaced:
  <target>, ..."; "" when none was written), for a failure the caller
  finds only then (a report standard output did not take whole). */
int quelvarn_main(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err,
                  const Quelvarn_run& run, vantrel::String* fates = nullptr);

//! The run of the command: reads both structures, derives work phases,
//! degrades the reference data, trains the density targets, and scores and
//! reports every work chain.
void run_quelvarn(const Run_parameters& params, std::ostream& out);

#endif
