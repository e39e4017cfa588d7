// How MMDBfile's reads and writes fail: fatal messages that name the file,
// with the coordinate library's error code or the fault found.
//
// Internal to the model code. The texts are those MMDBfile documents:
// "MMDBfile: read_file error: <file> : <what>" and
// "MMDBfile: write_file error: <file> : <what>".
#ifndef VANTREL_MODEL_COORDINATE_FAULTS_H
#define VANTREL_MODEL_COORDINATE_FAULTS_H

#include "foundation/vstring.h"

namespace vantrel::mmdb_internal {

//! The start of every write fault ("MMDBfile: write_file error"), also the
//! caller named by the output checks.
extern const char* const write_who;

//! The library's error code right-aligned in 4 characters, and its own
//! description of it without a final full stop: "  15 (Cannot open file)".
String code_text(int code);

//! A read or write the library itself reported failed with its code.
[[noreturn]] void read_error(const String& file, int code);
[[noreturn]] void write_error(const String& file, int code);

//! A fault found before or after the library's read, or in what a write
//! would hold; what names the line or atom and what is wrong with it.
[[noreturn]] void refuse_input(const String& file, const String& what);
[[noreturn]] void refuse_output(const String& file, const String& what);

}  // namespace vantrel::mmdb_internal

#endif
