// Running quelvarn in tests: in-process through quelvarn_main, or as the built
// executable (status, signal and combined output), on work structures against
// the shipped 1RX2 reference.
#ifndef QUELVARN_TESTS_APP_RUN_TESTING_H
#define QUELVARN_TESTS_APP_RUN_TESTING_H

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "app/quelvarn.h"
#include "support/testing.h"

namespace run_testing {

typedef std::vector<std::string> Args;

struct Result {
  int status;
  std::string out, messages;
  bool says(const std::string& text) const { return out.find(text) != std::string::npos; }
};

//! The command in-process on the given arguments; library messages and the
//! error stream go to messages.
inline Result quelvarn(Args args) {
  args.insert(args.begin(), "quelvarn");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  std::istringstream in;
  std::ostringstream out, err;
  vantrel_testing::Quiet_messages quiet;
  const int status = quelvarn_main(int(argv.size()), argv.data(), in, out, err, run_quelvarn);
  return {status, out.str(), quiet.text() + err.str()};
}

#ifdef QUELVARN_EXE
//! The streams of an executable that run_exe reads: both, or one of them
//! alone (the other dropped).
enum class Streams { both, out, err };

//! An executable on the given arguments: out holds standard output and error
//! together (or the one stream asked); status is the exit status, or 128 +
//! the signal that ended the process. A prefix runs it under another
//! command (setpriv ...).
inline Result run_exe(const std::string& exe, const Args& args, const std::string& prefix = "",
                      const Streams streams = Streams::both) {
  std::string command = prefix + exe;
  for (const std::string& a : args) command += " '" + a + "'";
  command += streams == Streams::both  ? " 2>&1"
             : streams == Streams::out ? " 2>/dev/null"
                                       : " 2>&1 >/dev/null";
  Result r{0, "", ""};
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) r.out.append(buffer, n);
  const int wait_status = pclose(pipe);
  r.status = WIFSIGNALED(wait_status) ? 128 + WTERMSIG(wait_status) : WEXITSTATUS(wait_status);
  return r;
}

//! The built executable on the given arguments (see run_exe).
inline Result quelvarn_exe(const Args& args, const std::string& prefix = "",
                           const Streams streams = Streams::both) {
  return run_exe(QUELVARN_EXE, args, prefix, streams);
}

//! The built executable run by an unprivileged user when the tests run as
//! root, so that file permissions apply. That user may not reach the
//! checkout (a clone under root's home), so the executable and every
//! existing file an argument names outside dir are copied, open to all,
//! into a scratch directory of their own first; dir itself must be open to
//! that user (Scratch_dir is). A shell prefix (limits, variables) may come
//! before the command.
inline Result quelvarn_exe_unprivileged(Args args, const std::string& dir,
                                        const std::string& prefix = "") {
  if (geteuid() != 0) return quelvarn_exe(args, prefix);
  const vantrel_testing::Scratch_dir copies;
  const auto copy = [&](const std::string& path, const mode_t mode) {
    const std::string name = copies.file(std::to_string(copies.entries().size()) + "_" +
                                         path.substr(path.find_last_of('/') + 1));
    vantrel_testing::write_bytes(name, vantrel_testing::read_bytes(path));
    chmod(name.c_str(), mode);
    return name;
  };
  struct stat st;
  for (std::string& a : args)
    if (a.compare(0, dir.size() + 1, dir + "/") != 0 && stat(a.c_str(), &st) == 0 &&
        S_ISREG(st.st_mode))
      a = copy(a, 0644);
  return run_exe(copy(QUELVARN_EXE, 0755), args,
                 prefix + "setpriv --reuid=65534 --regid=65534 --clear-groups ");
}
#endif

const std::string hl = "/*/*/[HLA,HLB,HLC,HLD]";
// The phase roads: given HL coefficients, calculated, calculated without side chains.
const Args given = {"-colin-wrk-hl", hl}, calculated = {}, omit = {"-side-chain-omit"};
const std::string supports = "The supplied data strongly supports the assigned sequence.";

//! A work structure against 1RX2: fixture names, or paths holding a "/".
inline Args against_1rx2(const std::string& mtz, const std::string& pdb, const Args& road,
                         const Args& more = {}) {
  auto path = [](const std::string& name) {
    return name.find('/') == std::string::npos ? vantrel_testing::fixture_path(name) : name;
  };
  Args args = {"-mtzin-ref",    vantrel_testing::fixture_path("ref_1rx2.mtz"),
               "-pdbin-ref",    vantrel_testing::fixture_path("ref_1rx2.pdb"),
               "-mtzin-wrk",    path(mtz),
               "-pdbin-wrk",    path(pdb),
               "-colin-wrk-fo", "/*/*/[FP,SIGFP]"};
  args.insert(args.end(), road.begin(), road.end());
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

}  // namespace run_testing

#endif
