#include "model/coordinate_faults.h"

#include <mmdb2/mmdb_utils.h>

#include "foundation/message.h"
#include "system/output_file.h"

namespace vantrel::mmdb_internal {

namespace {
const char* const read_who = "MMDBfile: read_file error";
}

const char* const write_who = "MMDBfile: write_file error";

String code_text(const int code) {
  String text = mmdb::GetErrorDescription(mmdb::ERROR_CODE(code));
  if (!text.empty() && text.back() == '.') text.pop_back();
  return String(code, 4) + " (" + text + ")";
}

void read_error(const String& file, const int code) {
  fatal(String(read_who) + ": " + file + " : " + code_text(code));
}

void write_error(const Output_file& out, const String& file, const int code) {
  refuse_output(out, file, code_text(code));
}

void refuse_input(const String& file, const String& what) {
  fatal(String(read_who) + ": " + file + " : " + what);
}

void refuse_output(const Output_file& out, const String& file, const String& what) {
  out.refuse(String(write_who) + ": " + file + " : " + what);
}

}  // namespace vantrel::mmdb_internal
