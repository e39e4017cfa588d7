// File-path checks made before the file libraries open a path (outputs are
// then put in place by Output_file).
//
// An output path that is a symbolic link names the file the link leads to
// (through any chain of links, each relative to the directory that holds
// it): that file is written and the links stay as they are. A link that
// leads to no file yet leads to a new file, made where the link points.
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

//! Fatal unless path (links followed, as above) can be written as a regular
//! file. Accepted: an existing regular file this process may write, and a
//! new file in an existing directory this process may write. An existing
//! writable file in a directory this process may not write is accepted too:
//! it is then written in place (see Output_file). Refused: special files
//! (devices, FIFOs, sockets) and directories, files without write
//! permission (also for root: they were made read-only to be kept), a
//! missing directory, a new file in a directory this process may not write,
//! and links that lead round in a loop. Text:
//! "<who>: cannot write <path>: <reason>", path as given.
void check_output(const String& path, const String& who);

//! The file a write to path lands on, links followed (as above); it need
//! not exist. Fatal ("<who>: cannot write <path>: <reason>") when the chain
//! of links has no end or passes a link that may not be followed.
String link_target(const String& path, const String& who);

//! True when both names exist and are one file (any spelling, links followed).
bool same_file(const String& a, const String& b);

//! The file a write to path lands on, whether or not it exists yet: links
//! followed (as above), its directory made absolute and free of links, "."
//! and "..". Unresolved (links followed as far as they go) when the chain
//! of links has no end or the directory does not exist.
String output_file(const String& path);

//! True when writes to a and b land on one file: the same file a write
//! would make or replace (output_file), or one existing file (same_file).
bool same_output(const String& a, const String& b);

//! The directory part of path ("." for a bare name, "/" for a name at the root).
String directory_of(const String& path);

}  // namespace Files

}  // namespace vantrel

#endif
