// File-path checks made before the file libraries open a path, and the
// temporary file through which outputs are written whole or not at all.
#ifndef VANTREL_FOUNDATION_FILE_ACCESS_H
#define VANTREL_FOUNDATION_FILE_ACCESS_H

#include "foundation/vstring.h"

namespace vantrel {

namespace Files {

//! Fatal unless path names an existing regular file that this process may
//! read. A reader handed a directory, FIFO or device can block or crash, so
//! such paths never reach one. Texts: "<who>: cannot read <path>: <reason>",
//! reasons "no such file or directory", "permission denied", "not a regular
//! file" (or the system's own text).
void check_input(const String& path, const String& who);

//! Fatal unless path can be written as a regular file: its directory exists
//! and may be written, and where path exists it is a regular file this
//! process may write. Special files (devices, FIFOs, sockets) and
//! directories are never replaced. Text: "<who>: cannot write <path>: <reason>".
void check_output(const String& path, const String& who);

//! True when both names exist and are one file (any spelling, links followed).
bool same_file(const String& a, const String& b);

//! The directory part of path ("." for a bare name, "/" for a name at the root).
String directory_of(const String& path);

}  // namespace Files

//! A new empty file with a name nobody else holds, beside a target path
//! ("<target>.XXXXXX", created exclusively), for writing an output whole
//! before it replaces the target. Removed when destroyed unless committed;
//! nothing else is touched, whatever already exists beside the target.
class Temporary_file {
 public:
  //! Fatal ("<who>: cannot write <target>: <reason>") when it cannot be made.
  Temporary_file(const String& target, const String& who);
  ~Temporary_file();
  Temporary_file(const Temporary_file&) = delete;
  Temporary_file& operator=(const Temporary_file&) = delete;

  const String& path() const { return path_; }
  //! Gives the file the permissions a newly created file would have (those of
  //! the target when it exists) and renames it over the target. Fatal on failure.
  void commit();

 private:
  String target_, who_, path_;
  bool committed_ = false;
};

}  // namespace vantrel

#endif
