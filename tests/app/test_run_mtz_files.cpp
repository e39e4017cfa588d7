// MTZ files the program must refuse or must copy faithfully, run through the
// built executable: a refused run ends with status 2 and one message line
// naming the file, never a signal, and leaves no output or temporary file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "app/run_testing.h"
#include "mtz/mtz_file.h"
#include "mtz/mtz_testing.h"

using namespace run_testing;
using mtz_testing::cell_records;
using vantrel_testing::fixture_path;
using vantrel_testing::lines_with;
using vantrel_testing::read_bytes;
using vantrel_testing::Scratch_dir;
using vantrel_testing::write_bytes;

#ifdef QUELVARN_EXE
namespace {

// A copy of the shipped 1DUR work file with texts replaced by texts of the
// same length (every occurrence).
std::string edited_1dur(const Scratch_dir& dir, const std::string& name,
                        const std::vector<std::pair<std::string, std::string>>& edits) {
  std::string bytes = read_bytes(fixture_path("sm_1dur.mtz"));
  for (const auto& e : edits) bytes = mtz_testing::with_text(bytes, e.first, e.second);
  const std::string path = dir.file(name);
  write_bytes(path, bytes);
  return path;
}

// 1DUR against 1RX2 on calculated phases, work file and output given.
Args run_1dur(const std::string& work_mtz, const std::string& out = "NONE") {
  return against_1rx2(work_mtz, "sm_1dur.pdb", calculated, {"-mtzout-wrk", out});
}

// The same with the reference file given instead.
Args run_1dur_ref(const std::string& ref_mtz) {
  Args args = run_1dur(fixture_path("sm_1dur.mtz"));
  args.at(1) = ref_mtz;
  return args;
}

// A refused run: status 2, the message once on a line of its own, no signal.
void expect_refused(const Result& r, const std::string& message) {
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("\n" + message + "\n"), std::string::npos) << r.out;
  EXPECT_EQ(lines_with(r.out, message.substr(0, message.find(':') + 1)), 1) << r.out;
  EXPECT_FALSE(r.says("CHAIN")) << r.out;
}

// The names in a scratch directory.
std::set<std::string> entries(const Scratch_dir& dir) {
  const std::vector<std::string> names = dir.entries();
  return {names.begin(), names.end()};
}

const std::string dcell1 = "DCELL         1    30.5200   37.7500";

}  // namespace

// ---------------------------------------------------------------- outputs

// Outputs that are special files, read-only files or directories, or named
// as gzip files (MTZ files are written uncompressed), are refused before
// anything is read, with nothing written or replaced; the MTZ writer
// refuses a gzip name (in any case) itself too.
TEST(RunMtzFiles, OutputsThatMayNotBeReplaced) {
  const Scratch_dir dir;
  const std::string fifo = dir.file("fifo.mtz"), kept = dir.file("kept.mtz"),
                    sub = dir.file("sub.mtz");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
  write_bytes(kept, "read-only");
  ASSERT_EQ(chmod(kept.c_str(), 0444), 0);
  const std::set<std::string> before = entries(dir);
  const std::pair<std::string, std::string> cases[] = {
      {"/dev/null", "not a regular file"},
      {fifo, "not a regular file"},
      {sub, "not a regular file"},
      {kept, geteuid() == 0 ? "the file is read-only" : "permission denied"},
      {dir.file("out.mtz.gz"), "gzip"},
      {dir.file("OUT.MTZ.Gz"), "gzip"}};
  for (const auto& [path, why] : cases) {
    const Result r = quelvarn_exe(run_1dur(fixture_path("sm_1dur.mtz"), path));
    if (why == "gzip")
      EXPECT_TRUE(
          r.status == 1 &&
          r.says("\nMTZ output is written uncompressed; name it without .gz:\t-mtzout-wrk " + path +
                 "\n") &&
          r.says("\nUsage: quelvarn\n"))
          << r.out;
    else
      expect_refused(r, "quelvarn: cannot write " + path + ": " + why);
  }
  struct stat st;
  EXPECT_TRUE(stat("/dev/null", &st) == 0 && S_ISCHR(st.st_mode));
  EXPECT_TRUE(stat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
  EXPECT_EQ(read_bytes(kept), "read-only");
  for (const char* operation : {"open_append", "open_write"}) {
    vantrel::CCP4MTZfile mtz;
    const std::string out = dir.file("out.mtz.GZ");
    EXPECT_EQ(
        vantrel_testing::fatal_text([&] {
          if (operation == std::string("open_append"))
            mtz.open_append(fixture_path("sm_1dur.mtz"), out);
          else
            mtz.open_write(out);
        }),
        "CCP4MTZfile: " + std::string(operation) +
            " - Compressed files are not written (nor read); name the output without .gz: " + out);
  }
  EXPECT_EQ(entries(dir), before);
}

// An existing output written in place (its folder closed to the user) whose
// new content cannot be written where temporaries go (a file size limit, as
// a full filesystem) is named as the user gave it, and keeps what it held.
TEST(RunMtzFiles, OutputWrittenInPlaceKeepsItsContentWhenNoneCanBeWritten) {
  const Scratch_dir dir;
  const std::string closed = dir.file("closed"), tmp = dir.file("tmp");
  ASSERT_TRUE(mkdir(closed.c_str(), 0755) == 0 && mkdir(tmp.c_str(), 0) == 0 &&
              chmod(tmp.c_str(), 0777) == 0);
  const std::string out = write_bytes(closed + "/out.mtz", "old");
  ASSERT_TRUE(chmod(out.c_str(), 0666) == 0 && chmod(closed.c_str(), 0555) == 0);
  const Result r = quelvarn_exe_unprivileged(run_1dur(fixture_path("sm_1dur.mtz"), out), dir.path(),
                                             "trap '' XFSZ; ulimit -f 64; TMPDIR=" + tmp + " ");
  ASSERT_EQ(chmod(closed.c_str(), 0755), 0);
  expect_refused(r, "quelvarn: cannot write " + out + ": writing its new content in " + tmp +
                        " failed: file too large; the file is left as it was");
  EXPECT_EQ(read_bytes(out), "old");
  EXPECT_TRUE(vantrel_testing::entries_of(tmp).empty());
}

// Files beside the output, also links, are left alone; the copy keeps each
// crystal's own cell.
TEST(RunMtzFiles, OutputIsWrittenFaithfully) {
  const Scratch_dir dir;
  const std::string in =
      edited_1dur(dir, "cells.mtz", {{dcell1, "DCELL         1    30.6200   37.8500"}});
  const std::string out = dir.file("out.mtz"), target = dir.file("target");
  write_bytes(target, "the link's target");
  ASSERT_EQ(symlink(target.c_str(), (out + ".partial").c_str()), 0);
  write_bytes(out + ".tmp", "mine");
  const Result r = quelvarn_exe(run_1dur(in, out));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(read_bytes(target), "the link's target");
  EXPECT_EQ(read_bytes(out + ".tmp"), "mine");
  EXPECT_EQ(entries(dir), (std::set<std::string>{"cells.mtz", "out.mtz", "out.mtz.partial",
                                                 "out.mtz.tmp", "target"}));
  const std::vector<std::string> records = cell_records(in);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_NE(records[1].substr(16), records[2].substr(16));
  EXPECT_EQ(cell_records(out), records);
}

// Outputs named through links, one to a file that exists and one to a file
// not made yet, write the files the links lead to; the links stay links.
TEST(RunMtzFiles, LinkedOutputsKeepTheirLinks) {
  const Scratch_dir dir;
  const std::string real = dir.file("real");
  ASSERT_EQ(mkdir(real.c_str(), 0755), 0);
  write_bytes(dir.file("real/work.pdb"), "old\n");
  const std::string mtz_link = dir.file("out.mtz"), pdb_link = dir.file("out.pdb");
  ASSERT_EQ(symlink("real/work.mtz", mtz_link.c_str()), 0);
  ASSERT_EQ(symlink(dir.file("real/work.pdb").c_str(), pdb_link.c_str()), 0);
  Args args = run_1dur(fixture_path("sm_1dur.mtz"), mtz_link);
  args.insert(args.end(), {"-pdbout-wrk", pdb_link});
  const Result r = quelvarn_exe(args);
  EXPECT_EQ(r.status, 0) << r.out;
  struct stat st;
  for (const std::string& link : {mtz_link, pdb_link})
    EXPECT_TRUE(lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) << link;
  const mtz_testing::Raw_mtz in(fixture_path("sm_1dur.mtz")), out(dir.file("real/work.mtz"));
  ASSERT_TRUE(out.get() != nullptr);
  EXPECT_EQ(out.nref(), in.nref());
  EXPECT_EQ(out.columns().size(), in.columns().size() + 6);  // F, phi and four HL
  EXPECT_GT(lines_with(read_bytes(dir.file("real/work.pdb")), "ATOM  "), 100);
  EXPECT_EQ(entries(dir), (std::set<std::string>{"out.mtz", "out.pdb", "real"}));
  EXPECT_EQ(mtz_testing::directory_entries(real),
            (std::vector<std::string>{"work.mtz", "work.pdb"}));
}

// ---------------------------------------------------------------- inputs

// Inputs that are no readable regular file, as work or reference file.
TEST(RunMtzFiles, InputsThatCannotBeRead) {
  const Scratch_dir dir;
  const std::string fifo = dir.file("fifo.mtz"), locked = dir.file("locked.mtz");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  write_bytes(locked, read_bytes(fixture_path("sm_1dur.mtz")));
  ASSERT_EQ(chmod(locked.c_str(), 0600), 0);
  const std::string not_regular = "CCP4MTZfile: cannot read " + fifo + ": not a regular file";
  expect_refused(quelvarn_exe(run_1dur(fifo, dir.file("out.mtz"))), not_regular);
  expect_refused(quelvarn_exe(run_1dur_ref(fifo)), not_regular);

  // An unreadable file, run by a user without root's override.
  const Result r = quelvarn_exe_unprivileged(run_1dur(locked), dir.path());
  expect_refused(r, "CCP4MTZfile: cannot read " + locked + ": permission denied");
  EXPECT_EQ(entries(dir), (std::set<std::string>{"fifo.mtz", "locked.mtz"}));
}

// A CCP4 logical name, an environment variable named as the work file or
// as any name the output's new content may be opened by (/proc/self/fd/N),
// is not looked up: the run reads the file named and writes the output
// named, and the file a variable names is neither read nor made.
TEST(RunMtzFiles, LogicalNamesAreNotLookedUp) {
  const Scratch_dir dir;
  const std::string in = write_bytes(dir.file("w.mtz"), read_bytes(fixture_path("sm_1dur.mtz"))),
                    out = dir.file("out.mtz"), decoy = dir.file("decoy.mtz");
  std::string descriptors;
  for (int fd = 0; fd < 64; ++fd)
    descriptors += "'/proc/self/fd/" + std::to_string(fd) + "=" + decoy + "' ";
  for (const std::string& variables :
       {"'" + in + "=" + fixture_path("wrk_7mm1.mtz") + "' ", descriptors}) {
    SCOPED_TRACE(variables.substr(0, 80));
    const Result r = quelvarn_exe(run_1dur(in, out), "env " + variables);
    EXPECT_EQ(r.status, 0) << r.out;
    const mtz_testing::Raw_mtz read(in), written(out);
    ASSERT_TRUE(written.get() != nullptr);
    EXPECT_EQ(written.nref(), read.nref());
    EXPECT_EQ(cell_records(out), cell_records(in));
    EXPECT_EQ(entries(dir), (std::set<std::string>{"out.mtz", "w.mtz"}));
    std::remove(out.c_str());
  }
}

// ---------------------------------------------------------------- file formats

// Work and reference files the library cannot take, or would write back
// wrongly, or whose symmetry does not fit their cell.
TEST(RunMtzFiles, UnsoundFilesAreRefused) {
  const Scratch_dir dir;
  const struct {
    const char* name;
    std::vector<std::pair<std::string, std::string>> edits;
    std::string message;  // the file name follows
  } cases[] = {{"hkl_base.mtz",
                {{"DATASET       1 native  ", "DATASET       1 HKL_base"}},
                "CCP4MTZfile: open_read - a dataset named HKL_base belongs to another project or crystal: "},
               {"edge.mtz",
                {{dcell1, "DCELL         1 100000.000   37.7500"}},
                "CCP4MTZfile: open_read - File missing or corrupted: DCELL record: an edge of "
                "100000 A (edges run from 1 A to below 100000 A): "},
               {"unmerged.mtz",
                {{"NCOL       11         3256        0", "NCOL       11         3256        1"}},
                "CCP4MTZfile: open_read - unmerged MTZ files are not supported: "},
               {"gamma120.mtz",
                {{"90.0000   90.0000   90.0000", "90.0000   90.0000  120.0000"}},
                "CCP4MTZfile: open_read - Symmetry does not fit crystal HKL_base in: "},
               {"not_a_group.mtz",
                {{"SYMM X+1/2,-Y+1/2,-Z", "SYMM X+1/2,-Y+1/2,Z "}},
                "CCP4MTZfile: open_read - Symmetry does not fit crystal HKL_base in: "},
               // The sixth column would give the indices: a verdict on a
               // third of the reflections.
               {"second_h.mtz",
                {{"COLUMN HLA ", "COLUMN H   "}},
                "CCP4MTZfile: open_read - File missing or corrupted: COLUMN record: the index label "
                "H given to a second column: "}};
  for (const auto& c : cases) {
    const std::string path = edited_1dur(dir, c.name, c.edits);
    for (const Args& args : {run_1dur(path, dir.file("out.mtz")), run_1dur_ref(path)}) {
      const Result r = quelvarn_exe(args);
      EXPECT_EQ(r.status, 2) << r.out;
      EXPECT_NE(r.out.find("\n" + c.message + path), std::string::npos) << r.out;
      EXPECT_EQ(lines_with(r.out, "CCP4MTZfile"), 1) << r.out;
    }
  }
  // A machine stamp the library cannot read the rows by: one message.
  std::string bytes = read_bytes(fixture_path("sm_1dur.mtz"));
  bytes.replace(8, 4, "\xff\xff\xff\xff");
  const std::string stamp = dir.file("stamp.mtz");
  write_bytes(stamp, bytes);
  expect_refused(quelvarn_exe(run_1dur(stamp, dir.file("out.mtz"))),
                 "CCP4MTZfile: open_read - File missing or corrupted: a machine stamp whose float "
                 "format the CCP4 library cannot read (0xff): " +
                     stamp);
  std::set<std::string> inputs = {"stamp.mtz"};
  for (const auto& c : cases) inputs.insert(c.name);
  EXPECT_EQ(entries(dir), inputs);
}

// A label list that does not name every component never gives a verdict.
TEST(RunMtzFiles, ShortLabelListsGiveNoVerdict) {
  for (const char* list : {"/*/*/[FP]", "/*/*/[FP,SIGFP,FC]"}) {
    Args args = run_1dur(fixture_path("sm_1dur.mtz"));
    for (std::size_t i = 0; i + 1 < args.size(); ++i)
      if (args[i] == "-colin-wrk-fo") args[i + 1] = list;
    const Result r = quelvarn_exe(args);
    EXPECT_EQ(r.status, 1) << r.out;  // a usage error, before anything is read
    EXPECT_TRUE(r.says(std::string("Invalid value:\t-colin-wrk-fo ") + list)) << r.out;
    EXPECT_FALSE(r.says("CHAIN")) << r.out;
  }
}

namespace {

// The built executable run on args, its output and messages to log, and
// stopped (SIGSTOP) once it holds an output's new content, a file without
// a name in dir, the signal sig at its default: its process id, or 0 when
// it ended first.
pid_t stopped_holding_output(const Args& args, const std::string& dir, const std::string& log,
                             const int sig) {
  std::string command = "exec " QUELVARN_EXE;
  for (const std::string& a : args) command += " '" + a + "'";
  const pid_t pid = fork();
  if (pid == 0) {
    signal(sig, SIG_DFL);
    execl("/bin/sh", "sh", "-c", (command + " >'" + log + "' 2>&1").c_str(), nullptr);
    _exit(127);
  }
  const auto temporary = [&] {
    std::error_code error;
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd", made = dir + "/#";
    for (const auto& fd : std::filesystem::directory_iterator(fds, error))
      if (vantrel_testing::link_text(fd.path().string()).compare(0, made.size(), made) == 0)
        return true;
    return false;
  };
  int status = 0, ended = 0;
  while ((ended = waitpid(pid, &status, WNOHANG)) == 0 && !temporary()) {
  }
  if (ended != 0) return 0;
  kill(pid, SIGSTOP);
  if (waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status) && temporary()) return pid;
  kill(pid, SIGCONT);
  waitpid(pid, &status, 0);
  return 0;
}

}  // namespace

// A run ended by SIGTERM, SIGINT or SIGHUP while it makes its MTZ output
// ends by that signal and leaves nothing beside the output. The run is
// stopped once it holds the output's new content, a file without a name in
// the output's folder (one that ends first is made again).
TEST(RunMtzFiles, ASignalLeavesNoTemporary) {
  for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
    bool caught = false;
    for (int attempt = 0; attempt < 10 && !caught; ++attempt) {
      const Scratch_dir dir;
      const pid_t pid = stopped_holding_output(
          run_1dur(fixture_path("sm_1dur.mtz"), dir.file("o.mtz")), dir.path(), "/dev/null", sig);
      caught = pid != 0;
      if (!caught) continue;
      kill(pid, sig);
      kill(pid, SIGCONT);
      int status = 0;
      waitpid(pid, &status, 0);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig << " " << status;
      EXPECT_EQ(entries(dir), std::set<std::string>{}) << sig;
    }
    EXPECT_TRUE(caught) << "no run was stopped while making its output: " << sig;
  }
}

// Standard output that does not take the report: on a full disk the run
// fails once its outputs are in place, saying so; a pipe closed early
// (| head -c1) ends the run by SIGPIPE, as it ends other programs, with
// both outputs as they were or both whole (the signal waits while they are
// put in place). Whole is what a run to a working standard output writes,
// but for the time the MTZ output stamps on its columns.
TEST(RunMtzFiles, AReportNotTakenLeavesTheOutputsWhole) {
  const auto args = [](const std::string& mtz, const std::string& pdb) {
    return against_1rx2("sm_1dur.mtz", "sm_1dur.pdb", calculated,
                        {"-mtzout-wrk", mtz, "-pdbout-wrk", pdb});
  };
  const auto unstamped = [](const std::string& path) {
    static const std::regex stamp("CREATED_[0-9/]{10}_[0-9:]{8}");
    return std::regex_replace(read_bytes(path), stamp, "CREATED");
  };
  const Scratch_dir reference;
  const std::string ref_mtz = reference.file("o.mtz"), ref_pdb = reference.file("o.pdb");
  ASSERT_EQ(quelvarn_exe(args(ref_mtz, ref_pdb)).status, 0);
  const mtz_testing::Raw_mtz in(fixture_path("sm_1dur.mtz")), written(ref_mtz);
  ASSERT_TRUE(written.get() != nullptr);
  EXPECT_EQ(written.nref(), in.nref());
  EXPECT_GT(lines_with(read_bytes(ref_pdb), "ATOM  "), 100);
  const std::string whole = unstamped(ref_mtz) + "|" + read_bytes(ref_pdb);
  // The command's prefix, its status, and its messages (%m and %p the outputs).
  const std::vector<std::tuple<std::string, int, std::string>> cases = {
      {"sh -c '\"$@\" >/dev/full' sh ", 2,
       "quelvarn: cannot write the report to standard output; already replaced: %m, %p\n"},
      {"bash -c '\"$@\" | head -c1 >/dev/null; exit ${PIPESTATUS[0]}' bash ", 128 + SIGPIPE, ""}};
  for (const auto& [prefix, status, message] : cases) {
    SCOPED_TRACE(prefix);
    const Scratch_dir dir;
    const std::string mtz = write_bytes(dir.file("o.mtz"), "old"),
                      pdb = write_bytes(dir.file("o.pdb"), "old");
    const Result r = quelvarn_exe(args(mtz, pdb), prefix, Streams::err);
    std::string said = message;
    for (const auto& [mark, path] : {std::pair{"%m", mtz}, {"%p", pdb}})
      if (const std::size_t at = said.find(mark); at != std::string::npos)
        said.replace(at, 2, path);
    EXPECT_EQ(r.status, status);
    EXPECT_EQ(r.out, said);
    const std::string now = unstamped(mtz) + "|" + read_bytes(pdb);
    EXPECT_TRUE(now == whole || (status != 2 && now == "old|old")) << now.substr(0, 16);
    EXPECT_EQ(entries(dir), (std::set<std::string>{"o.mtz", "o.pdb"}));
  }
}

// Writes of the outputs that fail (a seccomp filter fails the call): the
// MTZ output's first write, its 8-byte stamp, of which the library tells
// only on the console before it goes on, for a new output, one replaced
// and one rewritten in place (a second name); the opening of the
// coordinate output's new content to write it, the MTZ output's held; or
// every link, which both new outputs need to be put in place, and their new
// content to be kept. The run fails naming the output, the old file stays
// whole under both names, nothing is left beside it, and the message says
// what became of each output and its new content.
TEST(RunMtzFiles, FailedWritesOfTheOutputsAreNamed) {
  enum Fault { stamp, model_open, links };
  enum Old { none, one_name, two_names };
  // The fault, what stands at the MTZ output's name, whether a coordinate
  // output is written too, and the message after "cannot write " (%m the
  // MTZ output, %p the coordinate output, %d their folder).
  const std::vector<std::tuple<Fault, Old, bool, std::string>> cases = {
      {stamp, none, false, "%m: writing its new content in %d failed"},
      {stamp, one_name, false,
       "%m: writing its new content in %d failed; the file is left as it was"},
      {stamp, two_names, false,
       "%m: writing its new content in %d failed; the file is left as it was"},
      {stamp, one_name, true,
       "%m: writing its new content in %d failed; the file is left as it was; %p is not written"},
      {model_open, one_name, true,
       "%p: writing its new content in %d failed: input/output error; %m is left as it was"},
      {links, none, true,
       "%m: no space left on device; the new content is lost: no space left on device; %p is not "
       "written, its new content lost: no space left on device"}};
  for (const auto& [fault, old, pdb_too, said] : cases) {
    SCOPED_TRACE(std::to_string(fault) + " " + std::to_string(old));
    const Scratch_dir dir;
    const std::string mtz = dir.file("out.mtz"), pdb = dir.file("out.pdb"),
                      second = dir.file("second");
    if (old != none) write_bytes(mtz, "old");
    if (old == two_names) {
      ASSERT_EQ(link(mtz.c_str(), second.c_str()), 0);
    }
    Args more = {"-mtzout-wrk", mtz};
    if (pdb_too) more.insert(more.end(), {"-pdbout-wrk", pdb});
    const std::string seen = vantrel_testing::in_child([&, fault = fault] {
      // The stamp is the run's only write of 8 bytes.
      sock_filter on_stamp[] = {BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
                                BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_write, 0, 3),
                                BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])),
                                BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 8, 0, 1),
                                BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSPC),
                                BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW)};
      // The coordinate writer's is the run's only open with these flags.
      sock_filter on_model_open[] = {
          BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
          BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat, 0, 3),
          BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])),
          BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, O_WRONLY | O_TRUNC | O_CLOEXEC, 0, 1),
          BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EIO),
          BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW)};
      if (fault == stamp        ? !vantrel_testing::with_filter(on_stamp, 6)
          : fault == model_open ? !vantrel_testing::with_filter(on_model_open, 6)
                                : !vantrel_testing::failing_call(SYS_linkat, ENOSPC))
        return std::string("no filter");
      const Result r = quelvarn(against_1rx2("sm_1dur.mtz", "sm_1dur.pdb", calculated, more));
      return std::to_string(r.status) + " " + r.messages;
    });
    std::string message = "quelvarn: cannot write " + said;
    for (const auto& [mark, path] : {std::pair{"%d", dir.path()}, {"%m", mtz}, {"%p", pdb}})
      if (const std::size_t at = message.find(mark); at != std::string::npos)
        message.replace(at, 2, path);
    ASSERT_NE(seen, "no filter");
    EXPECT_EQ(seen.compare(0, 2, "2 "), 0) << seen;
    EXPECT_NE(seen.find(message + "\n"), std::string::npos) << seen;
    EXPECT_EQ(lines_with(seen, "cannot write"), 1) << seen;
    EXPECT_EQ(read_bytes(mtz), old == none ? "" : "old");
    EXPECT_EQ(read_bytes(second), old == two_names ? "old" : "");
    std::set<std::string> left;
    if (old != none) left.insert("out.mtz");
    if (old == two_names) left.insert("second");
    EXPECT_EQ(entries(dir), left);
  }
}

// Another user makes a folder at the coordinate output's name, in a folder
// all may write, while the run computes: the run fails before either
// output is put in place, in the program's words, saying why, and keeps
// the new content of both, named in the message.
TEST(RunMtzFiles, AnEntryThatCannotBeReplacedKeepsBothOutputs) {
  if (geteuid() != 0) GTEST_SKIP() << "needs two users";
  bool caught = false;
  for (int attempt = 0; attempt < 10 && !caught; ++attempt) {
    const Scratch_dir dir, logs;
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    const std::string mtz = dir.file("o.mtz"), pdb = dir.file("o.pdb"), log = logs.file("log");
    const pid_t pid = stopped_holding_output(against_1rx2("sm_1dur.mtz", "sm_1dur.pdb", calculated,
                                                          {"-mtzout-wrk", mtz, "-pdbout-wrk", pdb}),
                                             dir.path(), log, SIGTERM);
    if (pid == 0) continue;
    caught = vantrel_testing::in_child([&] { return std::to_string(mkdir(pdb.c_str(), 0755)); },
                                       vantrel_testing::unprivileged_id) == "0";
    kill(pid, SIGCONT);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!caught) continue;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
    const std::string out = read_bytes(log),
                      head = "\nquelvarn: cannot write " + pdb +
                             ": another user's folder stands at its name and cannot be replaced; "
                             "the new content is kept in ",
                      between = "; " + mtz + " is not written, its new content kept in ";
    const std::size_t at = out.find(head), split = out.find(between, at);
    ASSERT_TRUE(at != std::string::npos && split != std::string::npos) << out;
    const std::size_t from = at + head.size(), to = split + between.size();
    const std::string kept_pdb = out.substr(from, split - from),
                      kept_mtz = out.substr(to, out.find('\n', to) - to);
    EXPECT_NE(read_bytes(kept_pdb).find("\nATOM  "), std::string::npos) << kept_pdb;
    EXPECT_EQ(read_bytes(kept_mtz).substr(0, 4), "MTZ ") << kept_mtz;
    EXPECT_EQ(lines_with(out, "cannot write"), 1) << out;
    EXPECT_FALSE(std::ifstream(mtz).good());
  }
  EXPECT_TRUE(caught) << "no run was stopped while making its outputs";
}
#endif
