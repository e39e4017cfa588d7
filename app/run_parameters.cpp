#include "app/run_parameters.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "system/file_access.h"
#include "system/gzip_name.h"

const char* const usage_text =
    "\n"
    "Usage: quelvarn\n"
    "\t-mtzin-ref <filename>\t\tCOMPULSORY\n"
    "\t-pdbin-ref <filename>\t\tCOMPULSORY\n"
    "\t-mtzin-wrk <filename>\t\tCOMPULSORY\n"
    "\t-pdbin-wrk <filename>\t\tCOMPULSORY\n"
    "\t-mtzout-wrk <filename>\n"
    "\t-pdbout-wrk <filename>\n"
    "\t-colin-ref-fo <colpath>\n"
    "\t-colin-ref-hl <colpath>\n"
    "\t-colin-wrk-fo <colpath>\t\tCOMPULSORY\n"
    "\t-colin-wrk-hl <colpath>\n"
    "\t-resolution <resolution/A>\n"
    "\t-side-chain-likelihood-radius <radius/A>\n"
    "\t-side-chain-omit\n"
    "\t-correlation-mode\n"
    "Validate sequence against structure factors.\n"
    "An input pdb and mtz are required for the reference structure, and \n"
    "an input mtz file for the work structure.\n"
    "Experimental phases are used if provided, otherwise phases are calculated\n"
    "from the model omitting the side chains.\n";

namespace {

// The whole text as a finite number; false for anything else ("2A", "", "nan").
bool parse_number(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (*end != '\0' || errno == ERANGE || !std::isfinite(v)) return false;
  value = v;
  return true;
}

bool fail(std::ostream& out, const std::string& what, const std::string& detail) {
  out << '\n' << what << ":\t" << detail << std::endl;
  return false;
}

// True unless the path's label is a bracket list that does not name exactly
// `columns` non-empty labels ("[FP,SIGFP]" for an amplitude and its sigma).
bool bracket_list_fits(const vantrel::String& path, const int columns) {
  const std::string label = path.substr(path.rfind('/') + 1);
  if (label.empty() || label[0] != '[') return true;
  if (label.back() != ']') return false;
  int named = 0;
  for (size_t start = 1;; ++named) {
    const size_t comma = label.find(',', start);
    const size_t end = comma == std::string::npos ? label.size() - 1 : comma;
    if (end == start) return false;
    if (comma == std::string::npos) return named + 1 == columns;
    start = comma + 1;
  }
}

}  // namespace

bool valid_column_path(const vantrel::String& path) {
  if (path.empty() || path[0] != '/') return false;
  int parts = 0;
  for (size_t start = 1;; ++parts) {
    const size_t slash = path.find('/', start);
    const size_t end = slash == std::string::npos ? path.size() : slash;
    if (end == start) return false;
    if (slash == std::string::npos) return parts + 1 == 3;
    start = slash + 1;
  }
}

namespace {

// The program's own stream an output would overwrite, or null: where its
// standard output or error goes (a file, a pipe, a terminal, or /dev/null
// holding a stream the caller closed), which the report or the messages
// would then overwrite, or a failure be told nowhere. Judged on the
// output's one walk; what the place itself admits is the writer's to
// judge (Files::check_output).
const char* stream_fault(const vantrel::Files::Output_place& place) {
  if (!place.exists()) return nullptr;
  struct stat stream;
  for (const int fd : {1, 2})
    if (fstat(fd, &stream) == 0 && vantrel::Files::same_inode(stream, place.file()))
      return fd == 1 ? "Output would overwrite the standard output"
                     : "Output would overwrite the standard error";
  return nullptr;
}

// One option: where its value goes (a text, a number or a flag; none for
// "-verbose", whose value is read and ignored).
struct Option {
  const char* name;
  vantrel::String* text;
  double* number;
  bool* flag;
};

// The checks of a complete set of options; false after saying what failed.
bool check(Run_parameters& p, std::ostream& out) {
  if (!(p.resolution > 0.0))
    return fail(out, "Invalid value", "-resolution " + vantrel::String(p.resolution));
  if (!(p.side_chain_radius > 0.0))
    return fail(out, "Invalid value",
                "-side-chain-likelihood-radius " + vantrel::String(p.side_chain_radius));
  const std::pair<const char*, const vantrel::String*> compulsory[] = {
      {"-mtzin-ref", &p.mtzin_ref},
      {"-pdbin-ref", &p.pdbin_ref},
      {"-mtzin-wrk", &p.mtzin_wrk},
      {"-pdbin-wrk", &p.pdbin_wrk},
      {"-colin-wrk-fo", &p.colin_wrk_fo}};
  for (const auto& c : compulsory)
    if (*c.second == "NONE") return fail(out, "Missing compulsory option", c.first);
  // The work HL path alone may stay "NONE": phases are then calculated.
  // Each path with the number of columns of its data: F and sigF, or A to D.
  const struct {
    const char* option;
    const vantrel::String* path;
    int columns;
  } paths[] = {{"-colin-ref-fo", &p.colin_ref_fo, 2},
               {"-colin-ref-hl", &p.colin_ref_hl, 4},
               {"-colin-wrk-fo", &p.colin_wrk_fo, 2},
               {"-colin-wrk-hl", &p.colin_wrk_hl, 4}};
  for (const auto& c : paths) {
    if (c.path == &p.colin_wrk_hl && *c.path == "NONE") continue;
    if (!valid_column_path(*c.path))
      return fail(out, "Invalid column path", c.option + (" " + *c.path));
    if (!bracket_list_fits(*c.path, c.columns))
      return fail(out, "Invalid value",
                  c.option + (" " + *c.path) + " (a bracket list names " +
                      vantrel::String(c.columns) + " columns here)");
  }
  const std::pair<const char*, const vantrel::String*> outputs[] = {{"-mtzout-wrk", &p.mtzout_wrk},
                                                                    {"-pdbout-wrk", &p.pdbout_wrk}};
  // The MTZ writer writes no compressed file, nor does the reader read one:
  // a name that says gzip would hold plain MTZ data.
  if (p.mtzout_wrk != "NONE" && vantrel::Files::gzip_named(p.mtzout_wrk))
    return fail(out, "MTZ output is written uncompressed; name it without .gz",
                "-mtzout-wrk " + p.mtzout_wrk);
  // Each output's path is walked once, here; the run keeps the walk.
  p.outputs = std::make_shared<vantrel::Pending_outputs>("quelvarn");
  for (const auto& o : outputs) {
    if (*o.second == "NONE") continue;
    if (o.second->empty()) return fail(out, "Output name is empty", o.first);
    const vantrel::Files::Output_place& place = p.outputs->add(*o.second);
    if (const char* fault = stream_fault(place))
      return fail(out, fault, o.first + (" " + *o.second));
    for (const vantrel::String* input : {&p.mtzin_ref, &p.pdbin_ref, &p.mtzin_wrk, &p.pdbin_wrk})
      if (*o.second == *input ||
          vantrel::Files::same_output(place, vantrel::Files::Output_place(*input)))
        return fail(out, "Output would overwrite an input file", o.first + (" " + *o.second));
  }
  // Compared as the files the writes land on, made yet or not: one output
  // would otherwise silently replace the other.
  if (p.mtzout_wrk != "NONE" && p.pdbout_wrk != "NONE" &&
      (p.mtzout_wrk == p.pdbout_wrk ||
       vantrel::Files::same_output(p.outputs->add(p.mtzout_wrk), p.outputs->add(p.pdbout_wrk))))
    return fail(out, "Outputs name the same file", "-pdbout-wrk " + p.pdbout_wrk);
  return true;
}

}  // namespace

bool read_options(const CCP4CommandInput& tokens, Run_parameters& p, std::ostream& out) {
  const Option options[] = {
      {"-title", &p.title, nullptr, nullptr},
      {"-mtzin-ref", &p.mtzin_ref, nullptr, nullptr},
      {"-pdbin-ref", &p.pdbin_ref, nullptr, nullptr},
      {"-mtzin-wrk", &p.mtzin_wrk, nullptr, nullptr},
      {"-pdbin-wrk", &p.pdbin_wrk, nullptr, nullptr},
      {"-colin-ref-fo", &p.colin_ref_fo, nullptr, nullptr},
      {"-colin-ref-hl", &p.colin_ref_hl, nullptr, nullptr},
      {"-colin-wrk-fo", &p.colin_wrk_fo, nullptr, nullptr},
      {"-colin-wrk-hl", &p.colin_wrk_hl, nullptr, nullptr},
      {"-mtzout-wrk", &p.mtzout_wrk, nullptr, nullptr},
      {"-pdbout-wrk", &p.pdbout_wrk, nullptr, nullptr},
      {"-resolution", nullptr, &p.resolution, nullptr},
      {"-side-chain-likelihood-radius", nullptr, &p.side_chain_radius, nullptr},
      {"-side-chain-omit", nullptr, nullptr, &p.side_chain_omit},
      {"-correlation-mode", nullptr, nullptr, &p.correlation_mode},
      {"-verbose", nullptr, nullptr, nullptr}};

  if (tokens.size() <= 1) return false;
  for (size_t i = 1; i < tokens.size(); ++i) {
    const Option* option = nullptr;
    for (const Option& o : options)
      if (tokens[i] == o.name) option = &o;
    if (!option) return fail(out, "Unrecognized", tokens[i]);
    if (option->flag) {
      *option->flag = true;
      continue;
    }
    if (i + 1 >= tokens.size()) return fail(out, "Missing value", tokens[i]);
    const std::string& value = tokens[++i];
    if (option->text) *option->text = value;
    if (option->number && !parse_number(value, *option->number))
      return fail(out, "Invalid value", tokens[i - 1] + " " + value);
  }
  return check(p, out);
}
