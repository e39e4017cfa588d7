// Removal of temporary files when SIGINT, SIGTERM or SIGHUP ends the
// process, and the deferral of those signals across a step that must not
// be cut short.
//
// While any file is watched, each of the three signals whose disposition
// is the default one ends the process through a handler that first
// removes every watched file and then ends the process as the signal
// would (default disposition, signal raised again). A signal the caller
// ignores stays ignored, and one the caller handles stays the caller's:
// then nothing is removed. When the last file is forgotten the dispositions
// are the caller's again. Only the process that watched a file removes it,
// never a child forked meanwhile. At most 16 files are watched at once; a
// file beyond that is simply left where it is should a signal end the
// process.
#ifndef VANTREL_FOUNDATION_SIGNAL_CLEANUP_H
#define VANTREL_FOUNDATION_SIGNAL_CLEANUP_H

#include <signal.h>

#include "foundation/vstring.h"

namespace vantrel {

//! One file to remove should one of the signals end the process, from
//! watch() until forget() or destruction.
class Cleanup_on_signal {
 public:
  Cleanup_on_signal() = default;
  ~Cleanup_on_signal() { forget(); }
  Cleanup_on_signal(const Cleanup_on_signal&) = delete;
  Cleanup_on_signal& operator=(const Cleanup_on_signal&) = delete;

  //! Watches path (made absolute against the current directory, so that a
  //! later change of directory does not matter), in place of any path
  //! watched before.
  void watch(const String& path);
  //! Stops watching; the file itself is not touched.
  void forget();
  //! Whether a path is watched (false also when the registry was full).
  bool watching() const { return slot_ >= 0; }

 private:
  int slot_ = -1;
};

//! Blocks SIGINT, SIGTERM and SIGHUP in the calling thread for its
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
