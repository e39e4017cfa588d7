// Helpers over the system's calls, shared by the file and process code: the
// text of an error number as this library's messages give it, the name of a
// descriptor, its closing, and a write that goes on until every byte is written.
#ifndef VANTREL_SYSTEM_SYSTEM_CALL_H
#define VANTREL_SYSTEM_SYSTEM_CALL_H

#include <cstddef>

#include "foundation/vstring.h"

namespace vantrel {

namespace System {

//! The system's text for an error number, starting in lower case as the
//! library's own reasons do ("no such file or directory").
String reason(int error);

//! A name that reaches what the descriptor holds ("/proc/self/fd/<fd>"), for
//! calls that take names; it needs /proc.
String fd_path(int fd);

//! Closes the descriptor fd unless it is negative, and sets it to -1.
void close_fd(int& fd);

//! Writes size bytes from data to the descriptor fd, going on after a write
//! cut short or interrupted; false on failure, errno set (EIO when a write
//! takes nothing). written, when given, gains the bytes written, also on
//! failure. Safe in a child process between fork and exit.
bool write_all(int fd, const char* data, std::size_t size, std::size_t* written = nullptr);

}  // namespace System

}  // namespace vantrel

#endif
