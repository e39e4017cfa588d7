// A piece of work run in a child process that reports a text over a pipe,
// limited by the processor time it uses, and ended and reaped by the caller.
//
// The child keeps the signals the caller ignores or blocks ignored or
// blocked, takes every other signal, and every fault, at its default, has
// its standard output and error on /dev/null, and dies with the calling
// thread. Its verdict comes over a pipe (kept above descriptors 0-2, so a
// caller started with any of them closed loses nothing), so it depends
// neither on its exit status nor on the caller's signal settings: an
// ignored SIGCHLD, or a blocked or ignored SIGALRM, change nothing. Only a
// child without a whole report is judged by how it ended: interrupted when
// a signal from outside ended it, a crash otherwise (and when that cannot
// be known, as under an ignored SIGCHLD).
//
// Two limits end the child (SIGKILL): its processor time (its CPU clock,
// which a busy machine does not advance while the child waits for a
// processor), and a wall-clock bound of child_wall_factor times as long,
// for a child that waits without running. The wall bound counts no time
// during which the child, or the caller, is stopped (as by Ctrl-Z).
#ifndef VANTREL_SYSTEM_CHILD_PROCESS_H
#define VANTREL_SYSTEM_CHILD_PROCESS_H

#include <functional>

#include "foundation/vstring.h"

namespace vantrel {

//! How a piece of work run in a child process ended.
struct Child_outcome {
  enum Kind {
    done,        //!< the work returned; text is what it returned (maybe empty)
    crashed,     //!< it ended without a whole report: a fault, an exception, an exit, or
                 //!< a signal whose source cannot be told
    over_time,   //!< it used more processor time than allowed, and was killed
    over_wait,   //!< it did not finish within the wall-clock bound, and was killed
    failed,      //!< it could not be run or watched; text: "<call>: <system's reason>"
    interrupted  //!< a signal from outside (not a fault of the work) ended it
  } kind;
  String text;
  int signal_number = 0;  //!< the signal that interrupted it
};

//! The wall-clock bound of a child, in multiples of its processor-time limit.
/*! A child on a machine with twice as many busy processes as processors,
    beside a parallel test run, gets a third of a processor or more; 20
    leaves that a sixfold margin, while a child that hangs without running
    (a lock never released) is still ended within 100 s of a 5 s limit. */
constexpr double child_wall_factor = 20;

//! Runs work in a forked child and returns how it ended, once the child has
//! ended and been reaped. cpu_seconds (> 0) limits the processor time the
//! child uses; the wall bound is child_wall_factor * cpu_seconds. Any
//! exception leaving work counts as a crash.
Child_outcome run_in_child(const std::function<String()>& work, double cpu_seconds);

}  // namespace vantrel

#endif
