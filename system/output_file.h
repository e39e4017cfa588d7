// Putting an output file in place: its new content is written whole in a
// private folder first, checked, and only then takes the place of the
// target, by rename or by a copy into the existing file.
//
// The target path is walked as Files::Output_place walks it: the file a
// chain of links leads to is written, the links stay as they are, and the
// target's folder is held open from then on.
//
// No name that another user may change is followed once the output is
// begun. The target's folder and the private folder are held open, and
// every step works through those descriptors: the private folder (for this
// user alone) is made beside the target, or for a copy in place, where that
// folder is closed to the user, in $TMPDIR (else /tmp); the new content is
// the file "new" in it, whatever the target's name, so long names fit. A
// library that opens files by name is given path(), which reaches that file
// through the held descriptor: outputs need /proc.
#ifndef VANTREL_SYSTEM_OUTPUT_FILE_H
#define VANTREL_SYSTEM_OUTPUT_FILE_H

#include <memory>
#include <vector>

#include "foundation/vstring.h"

namespace vantrel {

class Pending_outputs;

//! One output on its way to its target.
/*! Renamed over the target where that is allowed; copied into the existing
  file instead when the target's folder may not be written but the file
  may, when the folder is sticky (as /tmp) and the file another user's, and
  when the file has more than one name (hard links), so that every name
  sees the new content.

  A renamed output gets the owner, group, permissions and access list of
  the file it replaces as far as no user gains access by it
  (Access_list::carry_over); a copy keeps the file's own. Either loses the
  set-user-ID and set-group-ID bits, as a write by an unprivileged process
  clears them. A new file gets the group, permissions and access list a
  file made in the target's folder gets (a set-group-ID folder's group;
  Access_list::inherit).

  A copy in place keeps the file but for its content. It takes an
  exclusive lock (flock) on the file, waiting at most lock_wait seconds
  (60) for a process that holds one, and makes sure of room for the new
  content before a byte is overwritten; a full disk or a size limit then
  leaves the file as it was. Once begun, a copy that fails leaves the file
  empty rather than part-written, and the whole new content is kept and
  named in the message. A process killed (SIGKILL) or a machine that stops
  during the copy leaves new bytes followed by the old tail, with the whole
  new content in the private folder.

  Until the output is put in place nothing the target names is touched;
  just before, the target must still be the file that was there when the
  output began (or still be absent). The private folder goes when the
  object is destroyed (or put in place), and when a signal that ends the
  process arrives first (Cleanup_on_signal); such signals wait while
  outputs are put in place. Once renamed there, the target's folder is
  flushed to the disk. While any output is open a file size limit makes
  writes fail (EFBIG) rather than end the process.

  Failures are fatal: "<who>: cannot write <target>: <reason>", the target
  named as given, followed by "; the file is left as it was" where that is
  so, and by where the new content is kept when it could not be removed. */
class Output_file {
 public:
  //! Begins an output to target; fatal when no private folder can be made
  //! where it would go, or the target's folder cannot be reached. commit()
  //! hands it to pending, when given, which puts it in place with the
  //! others it holds; pending must outlive the commit.
  Output_file(const String& target, const String& who, Pending_outputs* pending = nullptr);
  ~Output_file();
  Output_file(const Output_file&) = delete;
  Output_file& operator=(const Output_file&) = delete;

  //! Whether target can be written, before a run's work, of what would
  //! otherwise fail only at its end: Files::check_output, then the private
  //! folder target would use made and removed (fatal as the constructor).
  static void probe(const String& target, const String& who);

  //! The name of the new content for a library that opens files by name:
  //! "/proc/self/fd/<N>/new", N the private folder's descriptor.
  const String& path() const;
  //! Writes bytes as the whole new content, every write checked (fatal as
  //! write_failed).
  void write(const String& bytes);
  //! Flushes every byte of the new content to the disk (fsync), then puts
  //! it in place, or hands it to the pending outputs given at the start.
  //! Fatal on failure.
  void commit();

  //! Fatal: writing the new content failed, error the system's error
  //! number then (or 0): "<who>: cannot write <target>: writing its new
  //! content in <folder> failed[: <reason>]", and "; the file is left as it
  //! was" where the target exists.
  [[noreturn]] void write_failed(int error) const;

  struct State;  // one output's steps, in output_file.cpp

 private:
  std::unique_ptr<State> state_;
  Pending_outputs* pending_ = nullptr;
};

//! Outputs written, checked and waiting to be put in place together.
/*! put_in_place() first takes every step that can fail for all of them
  (owner and permissions, locks, the checks that the targets did not
  change, room for copies in place; each new content was flushed at its
  commit), and only then puts them in place, copies first, with the
  signals that end the process held from the room on. A failure before
  the first is in place leaves every target as it was; one after names
  each output already replaced. Outputs not put in place when the object
  goes are removed: nothing is replaced. */
class Pending_outputs {
 public:
  //! who names the program in messages of writers whose own words do not
  //! give a write's cause; a copy in place waits at most lock_wait seconds
  //! for a lock another process holds on its target.
  explicit Pending_outputs(const String& who, double lock_wait = 60);
  ~Pending_outputs();
  Pending_outputs(const Pending_outputs&) = delete;
  Pending_outputs& operator=(const Pending_outputs&) = delete;

  const String& who() const { return who_; }
  //! Puts every output held in place, in the order committed but copies
  //! first (fatal as above).
  void put_in_place();

 private:
  friend class Output_file;
  String who_;
  double lock_wait_;
  std::vector<std::unique_ptr<Output_file::State>> held_;
};

}  // namespace vantrel

#endif
