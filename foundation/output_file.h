// Putting an output file in place: its new content is written whole in a
// private folder first, checked, and only then takes the place of the
// target, by rename or by a copy into the existing file.
//
// The target path follows links as Files::link_target does: the file a
// chain of links leads to is written and the links stay as they are.
//
// No name that another user may change is followed once the output is
// begun. The target's folder and the private folder are held open, and
// every step works through those descriptors: the private folder (mode
// 0700, with no access list of its own) is made beside the target, or for
// a copy in place, where that folder is closed to the user, in $TMPDIR
// (else /tmp); the new content is the file "new" in it, whatever the
// target's name, so long names fit. A library that opens files by name is
// given path(), which reaches that file through the held descriptor.
#ifndef VANTREL_FOUNDATION_OUTPUT_FILE_H
#define VANTREL_FOUNDATION_OUTPUT_FILE_H

#include <memory>
#include <vector>

#include "foundation/vstring.h"

namespace vantrel {

//! One output on its way to its target.
/*! Renamed over the target where that is allowed; copied into the existing
  file instead when the target's folder may not be written but the file
  may, when the folder is sticky (as /tmp) and the file another user's, and
  when the file has more than one name (hard links), so that every name
  sees the new content.

  A replaced file's owner, group, permissions and access control list are
  carried over through the new file's descriptor as far as this process
  may set them (root any owner; others a group they belong to). Where the
  owner or group cannot be kept a user may change class (owner, group,
  others), and each class then gets at most the access of every class its
  users had: no user gains access. A new file gets the permissions a file
  made in the target's folder would get (its default access list, or mode
  0666 less the umask). A copy in place keeps the file as it is but for
  its content; it holds an exclusive lock (flock) on the file from before
  room is reserved to the last byte, so that two writers never mix, and a
  second one waits for the first.

  Until commit nothing the target names is touched; just before it, the
  target must still be the file that was there when the output began (or
  still be absent). The private folder goes when the object is destroyed
  (or committed), and when a signal that ends the process arrives first
  (Cleanup_on_signal); the commit defers those signals until it is done.
  While any output is open a file size limit makes writes fail (EFBIG)
  rather than end the process.

  Failures are fatal: "<who>: cannot write <target>: <reason>", the target
  named as given, followed by "; the file is left as it was" where that is
  so. */
class Output_file {
 public:
  //! Begins an output to target; fatal when no private folder can be made
  //! where it would go, or the target's folder cannot be reached.
  Output_file(const String& target, const String& who);
  ~Output_file();
  Output_file(const Output_file&) = delete;
  Output_file& operator=(const Output_file&) = delete;

  //! Makes and removes the private folder target would use (fatal as the
  //! constructor is): a check before a run's work of what would otherwise
  //! fail only at its end.
  static void probe(const String& target, const String& who);

  //! The name of the new content for a library that opens files by name:
  //! "/proc/self/fd/<N>/new", N the private folder's descriptor.
  const String& path() const;
  //! The folder that holds the private folder, as a path (for messages).
  const String& folder() const;
  //! Writes bytes as the whole new content, every write checked (fatal as
  //! write_failed).
  void write(const String& bytes);
  //! Puts the new content in place: first every byte is flushed to the
  //! disk (fsync), then the file is renamed or copied. Fatal on failure; a
  //! copy that fails after it has begun leaves the file empty rather than
  //! part-written, and the whole new content is kept, named in the
  //! message. While an Outputs_held exists in this thread the output is
  //! only checked here, and put in place by its release().
  void commit();

  //! Why writing the new content failed, error the system's error number
  //! then (or 0): "writing its new content in <folder> failed[: <reason>]",
  //! and "; the file is left as it was" where the target exists. Also kept
  //! for last_failure().
  String failure(int error) const;
  //! Fatal: "<who>: cannot write <target>: " and failure(error).
  [[noreturn]] void write_failed(int error) const;
  //! failure() of the last output of target that failed in this thread,
  //! for a caller that tells it in its own words; empty when none did.
  static String last_failure(const String& target);

  struct State;

 private:
  std::unique_ptr<State> state_;
};

//! While one exists, outputs committed in this thread are written and
//! checked, but put in place only by release(), in the order committed; so
//! several outputs of one run are put in place together, after all were
//! written. Destroyed before release(), it removes them: nothing is
//! replaced. Holds do not nest.
class Outputs_held {
 public:
  Outputs_held();
  ~Outputs_held();
  Outputs_held(const Outputs_held&) = delete;
  Outputs_held& operator=(const Outputs_held&) = delete;
  //! Puts every held output in place (fatal as Output_file::commit).
  void release();

 private:
  friend class Output_file;
  std::vector<std::unique_ptr<Output_file::State>> held_;
};

}  // namespace vantrel

#endif
