// File-path checks made before the file libraries open a path, and the one
// walk of an output's path that the output keeps until it is put in place
// (Output_file).
//
// An output path is walked one name at a time through descriptors. A path
// that is a symbolic link names the file the link leads to (through any
// chain of links, each relative to the directory that holds it): that file
// is written and the links stay as they are. A link that leads to no file
// yet leads to a new file, made where the link points. In a folder that all
// may write and that has the sticky bit (as /tmp), a link is followed only
// when it is this user's or the folder owner's, as the kernel's rule for
// such folders has it, wherever it is in the path (folders included) and at
// every step of a chain; any other is refused, since another user may have
// planted it. Each link at the end of a path counts one of the system's 40,
// and so does each link in the folders on the way to the next. A link under
// /proc that leads to no regular file (a standard stream on a pipe or a
// terminal) ends the walk at what it leads to.
#ifndef VANTREL_SYSTEM_FILE_ACCESS_H
#define VANTREL_SYSTEM_FILE_ACCESS_H

#include <sys/stat.h>

#include <vector>

#include "foundation/vstring.h"

namespace vantrel {

namespace Files {

//! Fatal unless path names an existing regular file that this process may
//! read. A reader handed a directory, FIFO or device can block or crash, so
//! such paths never reach one. Texts: "<who>: cannot read <path>: <reason>",
//! reasons "no such file or directory", "permission denied", "not a regular
//! file" (or the system's own text).
void check_input(const String& path, const String& who);
//! Opens path to read, close-on-exec, fatal as check_input; the file is
//! judged again through the descriptor, so that a reader given its /proc
//! name (System::fd_path) reads the file judged, whatever stands at path by
//! then. The caller closes the descriptor.
int open_input(const String& path, const String& who);

//! Where a write to a path lands, found once by the walk above. The folder
//! that holds the file is held open (O_PATH), and so is the file when it
//! exists, so nothing another user renames afterwards can move the output
//! elsewhere. A walk that cannot reach that folder says why: "no such
//! directory: <dir>", "not a directory: <dir>", a loop, "the link <link>
//! is another user's, in a folder all may write: not followed", or the
//! system's reason.
class Output_place {
 public:
  explicit Output_place(const String& path);
  ~Output_place();
  Output_place(const Output_place&) = delete;
  Output_place& operator=(const Output_place&) = delete;

  //! The path as given, for messages.
  const String& path() const { return path_; }
  //! Empty, or why the walk stopped short of the folder.
  const String& why() const { return why_; }
  //! The folder that holds the file, open as O_PATH | O_DIRECTORY.
  int dir() const { return dir_; }
  //! That folder as a path, for messages: as reached, with the text of
  //! each link followed in place of the link ("." for the working folder).
  const String& dir_path() const { return dir_path_; }
  //! The file's name in that folder (no link: a link at the end is followed).
  const String& name() const { return name_; }
  //! Whether the file existed when walked, its status then (lstat) and
  //! the file itself, held (O_PATH; -1 when new).
  bool exists() const { return exists_; }
  const struct stat& file() const { return file_; }
  int file_fd() const { return file_fd_; }
  //! The folder's status.
  const struct stat& folder() const { return folder_; }

 private:
  String missing(const std::vector<String>& names) const;
  void start_at(const String& path);
  bool follow(std::vector<String>& names);
  String path_, why_;
  int dir_ = -1, file_fd_ = -1;
  String dir_path_, name_;
  bool exists_ = false;
  struct stat file_ = {}, folder_ = {};
};

//! Why the place walked cannot be written as a regular file, or "" where it
//! can: an existing regular file this process may write (in a folder it may not
//! write too: it is then written in place), or a new file in a folder it
//! may write. Refused: a walk that did not reach the folder, special files
//! and directories, files without write permission (also for root: they
//! were made read-only to be kept), a planted file (entry_rule: "the file
//! is another user's, in a folder all may write"), a file with another
//! name in a folder it may write that others may write too, whose sticky
//! bit keeps it from being renamed over (a copy in place would write
//! through what may be another user's link to a file of this user's
//! elsewhere, and the rename that would break it is forbidden);
//! for root as well a file that is immutable or append-only ("the file is
//! append-only (chattr +a)"), a new file in an immutable folder and any
//! file in an append-only one ("the folder <dir> is immutable (chattr
//! +i)"), and an empty path ("empty file name"). Every output refusal of
//! the place itself is judged here.
String output_fault(const Output_place& place);
//! Fatal with output_fault's reason: "<who>: cannot write <path>:
//! <reason>", path as given; "''" for an empty path.
void check_output(const Output_place& place, const String& who);
//! The same on a walk of path made now.
void check_output(const String& path, const String& who);

//! The kernel's rules for another user's entry of a folder with the sticky
//! bit. planted: in a folder all may write, neither this user's nor the
//! folder owner's, so possibly put there by another user: the kernel
//! follows no such link and opens no such file to create it
//! (fs.protected_symlinks, fs.protected_regular), for root too, and no
//! output does. kept: only its owner, the folder's owner or root may
//! rename over it. free: anything else.
enum class Entry { free, planted, kept };
Entry entry_rule(const struct stat& entry, const struct stat& folder);

//! Whether this process may rename a file over the entry (its status) in
//! the folder (its status), as the kernel allows: no folder, and in a
//! folder with the sticky bit only an entry of this user's, unless it is
//! the folder's owner or root.
bool may_replace(const struct stat& entry, const struct stat& folder);

//! True when users other than the folder's owner may write it: its group
//! or others have write permission (an access list's named entries count
//! through its mask, which the group bits show).
inline bool shared_folder(const struct stat& folder) {
  return (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

//! True when both names exist and are one file (any spelling, links followed).
bool same_file(const String& a, const String& b);

//! True when writes to the places walked land on one file: one existing
//! file, or one name in one directory, known by its device and inode
//! whatever path reaches it (a bind mount, links, "." and ".."), made yet
//! or not. False when a walk failed.
bool same_output(const Output_place& a, const Output_place& b);
//! The same on walks of a and b made now (true too for equal paths).
bool same_output(const String& a, const String& b);

//! True when the two statuses are of one file (one device and inode).
inline bool same_inode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace Files

}  // namespace vantrel

#endif
