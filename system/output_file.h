// Putting an output file in place: its new content is written whole first,
// checked, and only then takes the place of the target, by rename or by a
// copy into the existing file.
//
// The target path is walked once (Files::Output_place) when the output
// begins, for a run when it starts (Pending_outputs::add); every rule is
// judged on that walk and the commit uses it: no name is walked again.
// The new content is a file without a name (O_TMPFILE) in the target's
// folder, or for a copy in place where that folder is closed to the user,
// in $TMPDIR (else /tmp). A library that opens files by name is given
// path(): outputs need /proc. Where the filesystem makes no such files
// (NFS, vfat, CIFS) the content is the file "new" in a private folder made
// there for this user alone, removed should a signal end the process.
//
// No name the output makes stands where another user may change it: the
// content is renamed over a file, and kept while a file is rewritten in
// place, as "new" in a private folder (mode 0700, this user's alone,
// reached only by its descriptor) made in the folder of the content as it
// is put in place. A process killed before its outputs are put in place
// leaves nothing (but the private folder where no file without a name can
// be made); killed while they are, it leaves such a folder ".output.XXXXXX"
// beside each output replaced or rewritten but not yet done, holding its
// whole new content as "new" (empty between a rename and the folder's
// removal), and a file rewritten in place part-written. A new output whose
// name is free is linked there, which leaves nothing.
#ifndef VANTREL_SYSTEM_OUTPUT_FILE_H
#define VANTREL_SYSTEM_OUTPUT_FILE_H

#include <memory>
#include <vector>

#include "foundation/vstring.h"
#include "system/file_access.h"

namespace vantrel {

class Pending_outputs;

//! One output on its way to its target.
/*! Renamed over the target where that is allowed: whatever stands at the
  name then is replaced, never followed, if this process may rename over
  it (a new file's content is linked to the name, or renamed over a file
  made there meanwhile: the later output wins); another user's entry in a
  folder whose sticky bit keeps it, and a folder, fail the output. Copied
  into the file seen at the start instead when its folder may not be
  written but the file may, when the sticky bit keeps it from being
  renamed over (Files::Entry::kept), and when it has more than one name in
  a folder no other user may write, so that every name sees the new
  content; in a folder another user may write (Files::shared_folder) such
  a file is renamed over, which breaks the link, or refused where the
  sticky bit forbids that (Files::output_fault).

  A renamed output gets the owner, group, permissions and access list of
  the file seen at the start as far as no user gains access by it
  (Access_list::carry_over); a copy keeps the file's own. Either loses the
  set-id bits, as a write by an unprivileged process clears them. A new
  file gets what a file made in the target's folder gets (a set-group-ID
  folder's group; Access_list::inherit).

  A copy in place takes an exclusive lock (flock) on the file, waiting at
  most lock_wait seconds (60) for a process that holds one (a lock held
  when the output begins is named in a warning then); where the lock call
  fails for another cause (ENOLCK, EIO) a warning names it and the copy
  goes on unlocked. It starts only once the whole new content is kept
  (named in the private folder and on the disk) and room for it is made in
  the file, and only while that folder still stands at its name; where any
  of these fails, the file is left as it was. So is it by a copy that fails
  before any write of it returns. A copy that fails later gives the file
  its old content back where a reflink of it could be taken (btrfs, XFS),
  and else leaves it empty; where even that fails, the message says what
  the file holds (the new content, unflushed or followed by the end of the
  old content, or part of it). The message says where the new content is
  kept: where another user moved its folder, once the file no longer holds
  its old content.

  Until the output is put in place nothing the target names is touched;
  signals that end the process wait while it is put in place, and the new
  content goes with the object. A renamed output's folder is then flushed
  to the disk. From the first output on, a file size limit makes writes
  fail (EFBIG) rather than end the process (Cleanup_on_signal::install).

  Failures are fatal: "<who>: cannot write <target>: <reason>", the target
  named as given, followed by "; the file is left as it was" (or "empty",
  or what a failed copy left) where it exists, and by "; the new content
  is kept in <path>" when it is, or "... is lost: <why>" where it was to be
  kept and cannot be. An output of pending outputs then also says what
  became of each other one they hold, in their words ("; <target> is left
  as it was", "not written", "; already replaced: <target>, ..."). An
  emptied private folder that cannot be removed is named after the fate of
  its output ("its emptied private folder <path> cannot be removed:
  <reason>"). Warnings are "<who>: warning: ...", who up to its first
  colon: also for an output put in place whose emptied private folder, or
  the kept copy in it, cannot be removed. */
class Output_file {
 public:
  //! Begins an output to target: the one pending holds for it (added and
  //! begun when the run started), else a walk of target made now and
  //! judged (Files::output_fault). Fatal when the target may not be
  //! written or no new content can be made where it would go. who names
  //! the writer in messages; pending, when given, names the program
  //! instead (its who), and must outlive the commit.
  Output_file(const String& target, const String& who, Pending_outputs* pending = nullptr);
  ~Output_file();
  Output_file(const Output_file&) = delete;
  Output_file& operator=(const Output_file&) = delete;

  //! The name of the new content for a library that opens files by name:
  //! "/proc/self/fd/<N>", N its descriptor (open to read and write, so that
  //! it may be opened again by name), or "/proc/self/fd/<N>/new", N its
  //! private folder's.
  const String& path() const;
  //! The walk of the target that the output keeps to its commit.
  const Files::Output_place& place() const;
  //! Writes bytes as the whole new content, every write checked (fatal as
  //! write_failed).
  void write(const String& bytes);
  //! Flushes every byte of the new content to the disk (fsync), then puts
  //! it in place, or hands it to the pending outputs given at the start,
  //! which put it in place with the others they hold. Fatal on failure.
  void commit();

  //! Fatal: writing the new content failed, error the system's error
  //! number then (or 0): "<who>: cannot write <target>: writing its new
  //! content in <folder> failed[: <reason>]", and "; the file is left as it
  //! was" where the target exists.
  [[noreturn]] void write_failed(int error) const;
  //! Fatal: the writer refuses what it would write; text is its whole
  //! message, naming the target. An output of pending outputs adds what
  //! became of each other one they hold, as in every failure of theirs.
  [[noreturn]] void refuse(const String& text) const;

  struct State;  // one output's steps, in output_file.cpp

 private:
  std::unique_ptr<State> state_;
  Pending_outputs* pending_ = nullptr;
};

//! Outputs begun when a run starts, then written, checked and waiting to
//! be put in place together.
/*! put_in_place() first takes, for all of them, every step that leaves
  their targets untouched: owner and permissions, locks (each new content
  was flushed at its commit); then, with the signals that end the process
  held, the new content named where it must be (Output_file), room made
  for copies in place, and a look at each renamed output's name. Only then
  does it put them in place, copies first, and flush their folders. A
  failure before the first is in place leaves every target as it was; from
  the look at the names on, the new content of each output not put in
  place is kept and named in the message (or said to be lost where it
  cannot be kept), and a failure once one is in place (a rename the system
  still refuses) names each output already replaced. The message says what
  became of every output: "; <target> is left as it was" (or "not
  written", for a new one), with ", its new content kept in <path>" or
  "lost: <why>". Outputs not put in place when the object goes are
  removed: nothing is replaced. */
class Pending_outputs {
 public:
  //! who names the program in the messages of every output it holds; a
  //! copy in place waits at most lock_wait seconds for a lock another
  //! process holds on its target.
  explicit Pending_outputs(const String& who, double lock_wait = 60);
  ~Pending_outputs();
  Pending_outputs(const Pending_outputs&) = delete;
  Pending_outputs& operator=(const Pending_outputs&) = delete;

  const String& who() const { return who_; }
  //! Walks target once and holds the walk, which the output to target
  //! keeps to its commit; nothing is judged yet. The same walk for a
  //! target added before.
  const Files::Output_place& add(const String& target);
  //! Begins every output added: its walk judged (Files::output_fault), its
  //! new content made where it will go (fatal as Output_file), and a
  //! warning for each target to be written in place that another process
  //! holds a lock on.
  void begin();
  //! Puts every output held in place, in the order committed but copies
  //! first (fatal as above).
  void put_in_place();
  //! What became of the outputs put in place, in the words of a failure's
  //! message ("; already replaced: <target>, ..."; "" when none was): for
  //! a failure found once they are in place.
  String fates() const;

 private:
  friend class Output_file;
  friend struct Output_file::State;
  //! The fates of every output held but failing, settled (their new
  //! content removed), for failing's message.
  String fates_besides(const Output_file::State& failing);
  String who_;
  double lock_wait_;
  std::vector<std::unique_ptr<Output_file::State>> added_, held_;
  std::vector<String> placed_;  // the targets put in place
};

}  // namespace vantrel

#endif
