// File-path checks made before the file libraries open a path (outputs are
// then put in place by Output_file).
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
// and so does each link in the folders on the way to the next.
#ifndef VANTREL_SYSTEM_FILE_ACCESS_H
#define VANTREL_SYSTEM_FILE_ACCESS_H

#include <sys/stat.h>

#include "foundation/vstring.h"

namespace vantrel {

namespace Files {

//! Fatal unless path names an existing regular file that this process may
//! read. A reader handed a directory, FIFO or device can block or crash, so
//! such paths never reach one. Texts: "<who>: cannot read <path>: <reason>",
//! reasons "no such file or directory", "permission denied", "not a regular
//! file" (or the system's own text).
void check_input(const String& path, const String& who);

//! Fatal unless path (links followed, as above) can be written as a regular
//! file. Accepted: an existing regular file this process may write, and a
//! new file in an existing directory this process may write. An existing
//! writable file in a directory this process may not write is accepted too:
//! it is then written in place (see Output_file). Refused: special files
//! (devices, FIFOs, sockets) and directories, files without write
//! permission (also for root: they were made read-only to be kept), a
//! missing directory, a new file in a directory this process may not write,
//! links that lead round in a loop, and another user's link in a shared
//! folder (as above; the reason names the link). Refused too, for root as
//! well: an existing file in such a shared folder that is neither this
//! user's nor the folder owner's ("the file is another user's, in a folder
//! all may write"), as the kernel refuses it to a program that would create
//! it (fs.protected_regular); a file that is immutable or append-only ("the
//! file is append-only (chattr +a)"), a new file in an immutable folder, and
//! any file in an append-only folder ("the folder <dir> is immutable (chattr
//! +i)"), where no name may be replaced or removed. An existing file in an
//! immutable folder is accepted: it is written in place. Text:
//! "<who>: cannot write <path>: <reason>", path as given; "''" for an empty
//! path ("empty file name").
void check_output(const String& path, const String& who);

//! True when both names exist and are one file (any spelling, links followed).
bool same_file(const String& a, const String& b);

//! The file a write to path lands on, whether or not it exists yet: links
//! followed (as above), its directory made absolute and free of links, "."
//! and "..". path itself when its folder cannot be reached (as
//! Output_place), and that folder as reached (links followed, not
//! absolute) when it has no absolute name within PATH_MAX.
String output_file(const String& path);

//! True when writes to a and b land on one file: one existing file
//! (same_file), or one name, links followed (as above), in one directory,
//! known by its device and inode whatever path reaches it (a bind mount,
//! links, "." and ".."), made yet or not.
bool same_output(const String& a, const String& b);

//! The directory part of path ("." for a bare name, "/" for a name at the root).
String directory_of(const String& path);

//! The last part of path: the name within its directory (all of a bare name).
String name_of(const String& path);

//! Where a write to a path lands, found by a walk that opens the path one
//! name at a time through descriptors, following links (as above) in every
//! folder of the path, not only at its end. The folder that holds the file
//! is held open (O_PATH), so nothing another user renames afterwards can
//! move the output elsewhere. Fatal ("<who>: cannot write <path>:
//! <reason>", path as given) when the walk cannot reach that folder: a
//! missing folder ("no such directory: <dir>"), a name in the path that is
//! no folder ("not a directory: <dir>"), a loop, a link the shared-folder
//! rule forbids ("the link <link> is another user's, in a folder all may
//! write: not followed"), or the system's reason.
class Output_place {
 public:
  Output_place(const String& path, const String& who);
  ~Output_place();
  Output_place(Output_place&& other) noexcept;
  Output_place& operator=(Output_place&&) = delete;
  Output_place(const Output_place&) = delete;

  //! The folder that holds the file, open as O_PATH | O_DIRECTORY.
  int dir() const { return dir_; }
  //! That folder as a path, for messages: as reached, with the text of
  //! each link followed in place of the link ("." for the working folder).
  const String& dir_path() const { return dir_path_; }
  //! The file's name in that folder (no link: a link at the end is followed).
  const String& name() const { return name_; }
  //! Whether the file existed when walked, and its status then (lstat).
  bool exists() const { return exists_; }
  const struct stat& file() const { return file_; }
  //! The folder's status.
  const struct stat& folder() const { return folder_; }

 private:
  int dir_ = -1;
  String dir_path_, name_;
  bool exists_ = false;
  struct stat file_ {}, folder_ {};
};

//! True when the two statuses are of one file (one device and inode).
inline bool same_inode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace Files

}  // namespace vantrel

#endif
