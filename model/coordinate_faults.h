// How MMDBfile's reads and writes fail: fatal messages that name the file,
// with the coordinate library's error code or the fault found.
//
// Internal to the model code. The texts are those MMDBfile documents:
// "MMDBfile: read_file error: <file> : <what>" and
// "MMDBfile: write_file error: <file> : <what>".
#ifndef VANTREL_MODEL_COORDINATE_FAULTS_H
#define VANTREL_MODEL_COORDINATE_FAULTS_H

#include "foundation/vstring.h"

namespace vantrel {
class Output_file;
}

namespace vantrel::mmdb_internal {

//! The start of every write fault ("MMDBfile: write_file error"), also the
//! caller named by the output checks.
extern const char* const write_who;

//! The library's error code right-aligned in 4 characters, and its own
//! description of it without a final full stop: "  15 (Cannot open file)".
String code_text(int code);

//! A read the library itself reported failed with its code.
[[noreturn]] void read_error(const String& file, int code);
//! A fault found before or after the library's read; what names the line
//! or atom and what is wrong with it.
[[noreturn]] void refuse_input(const String& file, const String& what);

//! A write to file, by out, that the library reported failed with its
//! code, or refused for a fault in what it would hold (what as above).
//! Refused through out (Output_file::refuse), which says what became of
//! the outputs it is put in place with.
[[noreturn]] void write_error(const Output_file& out, const String& file, int code);
[[noreturn]] void refuse_output(const Output_file& out, const String& file, const String& what);

}  // namespace vantrel::mmdb_internal

#endif
