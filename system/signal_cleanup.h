// Removal of temporary files and folders when a signal ends the process,
// and the deferral of such signals across a step that must not be cut short.
//
// The signals are those whose default action ends the process, other than
// SIGKILL and the faults (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP,
// SIGSYS): SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGALRM, SIGTERM, SIGUSR1,
// SIGUSR2, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGSTKFLT, SIGIO, SIGPWR and
// the real-time signals. The first entry a process watches (or install())
// installs, once, a handler for each of them whose disposition is then the
// default one; it stays installed. It removes every entry watched at that moment (none may
// be) and then ends the process as the signal would (default disposition,
// signal raised again). SIGXFSZ is ignored from then on instead, so that a
// write past a file size limit fails (EFBIG) for the writer to report. A
// signal the caller ignores stays ignored, and one the caller handles (also
// one set after the first watch) stays the caller's: then nothing is
// removed. Only the process that watched an entry removes it, never a child
// forked meanwhile.
//
// Entries are named within folders held open by descriptor (unlinkat), so
// neither the length of their absolute paths nor a change of the current
// folder matters. At most 32 entries are watched at once; one beyond that
// is simply left where it is should a signal end the process.
#ifndef VANTREL_SYSTEM_SIGNAL_CLEANUP_H
#define VANTREL_SYSTEM_SIGNAL_CLEANUP_H

#include <signal.h>

#include "foundation/vstring.h"

namespace vantrel {

//! One entry to remove should one of the signals end the process, from
//! watch() until forget() or destruction.
class Cleanup_on_signal {
 public:
  Cleanup_on_signal() = default;
  ~Cleanup_on_signal() { forget(); }
  Cleanup_on_signal(const Cleanup_on_signal&) = delete;
  Cleanup_on_signal& operator=(const Cleanup_on_signal&) = delete;

  //! Watches the file name in the folder open as dir_fd, in place of
  //! anything watched before. The descriptor must stay open while watched.
  void watch(int dir_fd, const String& name) { take_slot(dir_fd, name, false, -1); }
  //! Watches a folder: removed, once empty, after every watched file, and
  //! only while name is still the folder open as folder_fd.
  void watch_folder(int dir_fd, const String& name, int folder_fd) {
    take_slot(dir_fd, name, true, folder_fd);
  }
  //! Stops watching; the entry itself is not touched.
  void forget();
  //! Installs the handlers, as the first watch does, where this process
  //! has not yet: from then on SIGXFSZ is ignored.
  static void install();

 private:
  void take_slot(int dir_fd, const String& name, bool folder, int folder_fd);
  int slot_ = -1;
};

//! Blocks the signals above but SIGXFSZ in the calling thread for its
//! lifetime; one that arrives meanwhile is delivered when it ends. Signals
//! the caller had blocked stay blocked.
class Signals_held {
 public:
  Signals_held();
  ~Signals_held();
  Signals_held(const Signals_held&) = delete;
  Signals_held& operator=(const Signals_held&) = delete;

 private:
  sigset_t previous_;
};

}  // namespace vantrel

#endif
