// Every single failed system call of a run: the smallest run the test data
// allow, with both outputs, made once for each call it makes from main on,
// that call failed (EIO, and where VANTREL_FAILED_CALL_ERRORS asks, the
// errors its manual page names for a disk, a filesystem or another user):
// with the outputs new, replacing another user's files, rewriting files in
// place, and rewriting them in place while another user moves the private
// folder of their new content away. The calls are those of one plain run
// in the same setting, so a new call is tried without a change here. After
// each run, the promise of docs/outputs.md: exit 0 only with both outputs
// new and whole and nothing left over; otherwise each output as it was, or
// as the message says, its whole content kept where the message names it;
// a failed read of an input ends the run naming it; and the run ends within
// its limits. Each setting is split into shards of interleaved calls, which
// ctest runs side by side.
//
// VANTREL_FAILED_CALL=n tries the n-th call alone, to reproduce a failure.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "mtz/mtz_testing.h"
#include "support/failed_call.h"
#include "support/testing.h"

// The program's main under another name, so that the traced child runs
// exactly what the executable runs.
#define main quelvarn_executable_main
#include "app/main.cpp"
#undef main

using namespace vantrel_testing;
using mtz_testing::without_times;

namespace {

// ---------------------------------------------------------------- the settings

// What stands at the outputs' names when the run starts, and what another
// user does meanwhile.
enum class Setting { new_files, replaced, in_place, moved_away };

const char* const setting_names[] = {"NewFiles", "ReplacedFiles", "RewrittenInPlace",
                                     "PrivateFolderMovedAway"};

// An output: its name in the run's folder, its second name in a rewrite in
// place, and the content it has before the run where it exists.
struct Output {
  std::string name, second, old;
};
const Output outputs[] = {{"out.mtz", "second.mtz", "old MTZ file\n"},
                          {"out.pdb", "second.pdb", "old model\n"}};

// The other user (where the tests run as root): the owner of the files
// replaced, and the one who moves a private folder away. The run's own
// user, where it may not write the outputs' folder.
constexpr unsigned other_user = 2001;
constexpr int run_user = unprivileged_id;

// Who may reach a file: owner, group, permission bits and access list.
struct Access {
  unsigned uid = 0, gid = 0, mode = 0;
  std::string list;
  bool operator==(const Access& o) const {
    return uid == o.uid && gid == o.gid && mode == o.mode && list == o.list;
  }
};

Access access_of(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return {};
  return {unsigned(st.st_uid), unsigned(st.st_gid), unsigned(st.st_mode & 07777), acl_of(path)};
}

// A replaced file's access: the other user's where the tests run as root,
// mode 0640 and a list that names a third user.
const Access replaced_access = {geteuid() == 0 ? other_user : unsigned(geteuid()),
                                geteuid() == 0 ? 3000u : unsigned(getegid()), 0640,
                                acl(6, 2002, 4, 4, 4, 0)};

// The inputs of the smallest run (1DUR as reference, 5E5Z as work
// structure), copied into a folder open to all: a run as another user may
// not reach the checkout.
struct Inputs {
  Scratch_dir dir;
  std::vector<std::string> paths;
  Inputs() {
    for (const char* name : {"sm_1dur.mtz", "sm_1dur.pdb", "tiny_5e5z.mtz", "tiny_5e5z.pdb"})
      paths.push_back(dir.write(name, read_bytes(fixture_path(name))));
  }
  // The run's arguments: phases calculated, both outputs in its folder.
  std::vector<std::string> arguments() const {
    const std::pair<const char*, std::string> options[] = {
        {"-mtzin-ref", paths[0]},
        {"-pdbin-ref", paths[1]},
        {"-colin-ref-fo", "/*/*/[FP,SIGFP]"},
        {"-colin-ref-hl", "/*/*/[HLA,HLB,HLC,HLD]"},
        {"-mtzin-wrk", paths[2]},
        {"-pdbin-wrk", paths[3]},
        {"-colin-wrk-fo", "/*/*/[FP,SIGFP]"},
        {"-mtzout-wrk", outputs[0].name},
        {"-pdbout-wrk", outputs[1].name},
    };
    std::vector<std::string> args = {"quelvarn"};
    for (const auto& [option, value] : options) args.insert(args.end(), {option, value});
    return args;
  }
};

// One run's scratch folder: work/, the outputs' folder and the run's
// current folder; tmp/, its $TMPDIR; and its standard output and error.
struct Run_folder {
  Setting setting;
  Scratch_dir dir;
  std::string work = dir.file("work"), tmp = dir.file("tmp");

  explicit Run_folder(const Setting setting) : setting(setting) {
    // Moved away: the outputs' folder closed to the run, which makes their
    // new content in $TMPDIR, a folder all may write (no sticky bit).
    const mode_t tmp_mode = setting == Setting::moved_away ? 0777 : 0700;
    EXPECT_TRUE(mkdir(work.c_str(), 0755) == 0 && mkdir(tmp.c_str(), 0) == 0 &&
                chmod(tmp.c_str(), tmp_mode) == 0);
    if (setting == Setting::new_files) return;
    for (const Output& o : outputs) {
      const std::string path = write_bytes(work + "/" + o.name, o.old);
      // A second name, in a folder no other user may write; or a file the
      // run may write in a folder it may not.
      const bool ready = setting == Setting::in_place
                             ? link(path.c_str(), (work + "/" + o.second).c_str()) == 0
                             : setting != Setting::moved_away || chmod(path.c_str(), 0666) == 0;
      EXPECT_TRUE(ready) << path;
      if (setting != Setting::replaced) continue;
      const Access& a = replaced_access;
      EXPECT_TRUE(chown(path.c_str(), a.uid, a.gid) == 0 && chmod(path.c_str(), a.mode) == 0 &&
                  setxattr(path.c_str(), acl_access, a.list.data(), a.list.size(), 0) == 0);
    }
  }
  // Where a path the run names (from its own folder) is.
  std::string at(const std::string& path) const {
    return path[0] == '/' ? path
                          : work + "/" + (path.compare(0, 2, "./") == 0 ? path.substr(2) : path);
  }
  // The run's private folders in tmp/.
  std::vector<std::string> private_folders() const {
    std::vector<std::string> found;
    for (const std::string& entry : entries_of(tmp))
      if (entry.compare(0, 8, ".output.") == 0 &&
          mode_and_owner(tmp + "/" + entry)[1] != other_user)
        found.push_back(entry);
    return found;
  }
  // The other user moves the run's private folders away, to other names in
  // tmp/ (moved_1, ...), and makes a folder of their own at each name.
  void move_private_folders() const {
    for (const std::string& name : private_folders()) {
      const std::string path = tmp + "/" + name;
      EXPECT_TRUE(rename(path.c_str(),
                         (tmp + "/moved_" + std::to_string(planted.size() + 1)).c_str()) == 0 &&
                  mkdir(path.c_str(), 0700) == 0 &&
                  chown(path.c_str(), other_user, other_user) == 0);
      planted.push_back(name);
    }
  }
  mutable std::vector<std::string> planted;  // the other user's folders
};

// A run's limits: processor time and the size of any file it writes (its
// report and messages included), and, as a wide bound for a run that
// waits, its time.
constexpr rlim_t cpu_seconds = 10, file_bytes = 1 << 20;
constexpr unsigned wall_seconds = 120;

// The program run in folder, the call-th call it makes failed with error
// (or, moved away, the private folder moved before it, failed or not: error
// 0); the calls recorded where record, and at_call called at each.
Traced_run run_in(const Run_folder& folder, const Inputs& inputs, const long call, const int error,
                  const bool record, const std::function<void(long)>& at_call = {}) {
  const auto enter = [&] {  // in the child, before its calls are traced
    const auto to = [](const std::string& path, const int fd, const int flags) {
      const int opened = open(path.c_str(), flags, 0644);
      if (opened < 0 || dup2(opened, fd) != fd) _exit(120);
      close(opened);
    };
    to("/dev/null", 0, O_RDONLY);
    to(folder.dir.file("stdout"), 1, O_WRONLY | O_CREAT | O_TRUNC);
    to(folder.dir.file("stderr"), 2, O_WRONLY | O_CREAT | O_TRUNC);
    syscall(SYS_close_range, 3, ~0u, 0);  // as a process started afresh
    const rlimit cpu = {cpu_seconds, cpu_seconds + 2}, size = {file_bytes, file_bytes};
    if (chdir(folder.work.c_str()) != 0 || setenv("TMPDIR", folder.tmp.c_str(), 1) != 0 ||
        setrlimit(RLIMIT_CPU, &cpu) != 0 || setrlimit(RLIMIT_FSIZE, &size) != 0 ||
        (folder.setting == Setting::moved_away && (syscall(SYS_setgroups, 0, nullptr) != 0 ||
                                                   setgid(run_user) != 0 || setuid(run_user) != 0)))
      _exit(120);
    alarm(wall_seconds);
  };
  const auto program = [&] {
    std::vector<std::string> args = inputs.arguments();
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    return quelvarn_executable_main(int(args.size()), argv.data());
  };
  const bool moves = folder.setting == Setting::moved_away && call > 0;
  const auto event = [&](const long n) {
    if (moves && n == call) folder.move_private_folders();
    if (at_call) at_call(n);
  };
  return traced_run(enter, program, error == 0 ? 0 : call, error, record, event);
}

// ---------------------------------------------------------------- errors

const std::map<std::string, int> error_numbers = {
    {"EIO", EIO},       {"ENOSPC", ENOSPC}, {"EDQUOT", EDQUOT},         {"EFBIG", EFBIG},
    {"EACCES", EACCES}, {"EPERM", EPERM},   {"EXDEV", EXDEV},           {"ENOLCK", ENOLCK},
    {"EINTR", EINTR},   {"EROFS", EROFS},   {"EOPNOTSUPP", EOPNOTSUPP}, {"ENODATA", ENODATA},
    {"EMFILE", EMFILE}};

std::string error_name(const int error) {
  if (error == 0) return "no error";
  for (const auto& [name, number] : error_numbers)
    if (number == error) return name;
  return std::to_string(error);
}

// Beyond EIO, the errors each call's manual page names for a disk, a
// filesystem or another user.
const std::map<long, std::vector<int>> manual_errors = {
    {SYS_read, {EINTR}},
    {SYS_pread64, {EINTR}},
    {SYS_write, {ENOSPC, EDQUOT, EFBIG, EINTR}},
    {SYS_pwrite64, {ENOSPC, EDQUOT, EFBIG, EINTR}},
    {SYS_openat, {EACCES, EPERM, ENOSPC, EDQUOT, EROFS, EOPNOTSUPP, EINTR, EMFILE}},
    {SYS_close, {EINTR, ENOSPC, EDQUOT}},
    {SYS_newfstatat, {EACCES}},
    {SYS_statx, {EACCES}},
    {SYS_access, {EACCES, EROFS}},
    {SYS_faccessat2, {EACCES, EPERM, EROFS}},
    {SYS_fsync, {ENOSPC, EDQUOT, EROFS}},
    {SYS_fdatasync, {ENOSPC, EDQUOT}},
    {SYS_ftruncate, {EPERM, EFBIG, EINTR}},
    {SYS_fallocate, {ENOSPC, EDQUOT, EOPNOTSUPP, EPERM, EFBIG, EINTR}},
    {SYS_fchmod, {EPERM, EROFS}},
    {SYS_fchown, {EPERM, EROFS}},
    {SYS_fgetxattr, {EOPNOTSUPP, ENODATA}},
    {SYS_getxattr, {EOPNOTSUPP, ENODATA, EACCES}},
    {SYS_fsetxattr, {ENOSPC, EDQUOT, EOPNOTSUPP, EPERM}},
    {SYS_fremovexattr, {EOPNOTSUPP, ENODATA, EPERM}},
    {SYS_flock, {ENOLCK, EINTR}},
    {SYS_linkat, {EXDEV, ENOSPC, EDQUOT, EPERM, EACCES, EROFS}},
    {SYS_renameat, {EXDEV, ENOSPC, EDQUOT, EPERM, EACCES, EROFS}},
    {SYS_renameat2, {EXDEV, ENOSPC, EDQUOT, EPERM, EACCES, EROFS}},
    {SYS_unlinkat, {EPERM, EACCES, EROFS}},
    {SYS_mkdir, {ENOSPC, EDQUOT, EPERM, EACCES, EROFS}},
    {SYS_mkdirat, {ENOSPC, EDQUOT, EPERM, EACCES, EROFS}},
    {SYS_ioctl, {EXDEV, EOPNOTSUPP, EPERM}},
    {SYS_inotify_init1, {EMFILE}},
    {SYS_inotify_add_watch, {ENOSPC, EACCES}}};

// The errors tried at a call: EIO, and where VANTREL_FAILED_CALL_ERRORS
// lists them ("all" for every one), those its manual page names; where the
// private folder is moved away, also none.
std::vector<int> errors_for(const long nr, const Setting setting) {
  const char* asked = std::getenv("VANTREL_FAILED_CALL_ERRORS");
  const std::string list = asked == nullptr ? "EIO" : asked;
  std::vector<int> errors = {EIO};
  if (setting == Setting::moved_away) errors.insert(errors.begin(), 0);
  if (const auto found = manual_errors.find(nr); found != manual_errors.end())
    for (const int e : found->second)
      if (list == "all" || ("," + list + ",").find("," + error_name(e) + ",") != std::string::npos)
        errors.push_back(e);
  return errors;
}

// ---------------------------------------------------------------- the judgement

// What a file holds, against what it held before the run (nothing, for a
// new output) and the run's new content.
enum class Holds { as_it_was, new_content, nothing, old_then_zeros, other };

const char* const holds_names[] = {"as it was", "the new content", "nothing (empty)",
                                   "its old content then zeros",
                                   "neither its old nor its new content"};

// The new content of each output, as the plain run wrote it (without_times).
typedef std::array<std::string, 2> New_content;

Holds holds(const std::string& path, const bool existed, const std::size_t which,
            const New_content& made) {
  const std::string& old = outputs[which].old;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return existed ? Holds::other : Holds::as_it_was;
  const std::string bytes = read_bytes(path);
  if (existed && bytes == old) return Holds::as_it_was;
  if (without_times(bytes) == made[which]) return Holds::new_content;
  if (bytes.empty()) return Holds::nothing;
  if (existed && bytes.compare(0, old.size(), old) == 0 &&
      bytes.find_first_not_of('\0', old.size()) == std::string::npos)
    return Holds::old_then_zeros;
  return Holds::other;
}

// The program's words for each state of a file, the longer first where one
// begins another.
const std::pair<const char*, Holds> sayings[] = {
    {"already replaced", Holds::new_content},
    {"left as it was, but longer", Holds::old_then_zeros},
    {"left as it was", Holds::as_it_was},
    {"not written", Holds::as_it_was},
    {"left empty", Holds::nothing},
    {"left holding the new content, not flushed", Holds::new_content},
    {"left holding the new content, then", Holds::other},
    {"part-written", Holds::other}};

// What the messages say of an output.
struct Said {
  bool named = false, stated = false;
  Holds state = Holds::as_it_was;  // as it was where nothing is stated
  std::string kept;                // where its content is said to be kept
};

// The messages, clause by clause ("; "): a clause that names outputs is
// about them, one that names none about those named before it on its line.
std::array<Said, 2> what_is_said(const std::string& messages) {
  std::array<Said, 2> said;
  std::istringstream lines(messages);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::size_t> subject;
    for (std::size_t from = 0; from <= line.size();) {
      const std::size_t end = std::min(line.find("; ", from), line.size());
      const std::string clause = line.substr(from, end - from);
      from = end + 2;
      std::vector<std::size_t> named;
      for (std::size_t i = 0; i < 2; ++i)
        if (clause.find(outputs[i].name) != std::string::npos) named.push_back(i);
      if (!named.empty()) subject = named;
      for (const std::size_t i : subject) {
        said[i].named = true;
        for (const auto& [words, state] : sayings)
          if (clause.find(words) != std::string::npos) {
            said[i].stated = true;
            said[i].state = state;
            break;
          }
        if (const std::size_t at = clause.find(" kept in "); at != std::string::npos)
          said[i].kept = clause.substr(at + 9, clause.find_first_of(",; ", at + 9) - at - 9);
      }
    }
  }
  return said;
}

// One run to judge: its folder, the inputs, the call failed and its error,
// and the plain run's calls (their files named from its scratch folder)
// and new content.
struct Case {
  const Run_folder& folder;
  const Inputs& inputs;
  const Traced_run& run;
  long call;  // from 1; 0 for none
  int error;
  const std::vector<Call>& plain_calls;
  const New_content& made;
};

// Whether a write of the plain run into the file at name in the run's
// folder returned before its call-th call.
bool written_before(const Case& c, const std::string& name, const long call) {
  for (long i = 0; i + 1 < call && i < long(c.plain_calls.size()); ++i) {
    const Call& k = c.plain_calls[std::size_t(i)];
    if ((k.nr == SYS_write || k.nr == SYS_pwrite64 || k.nr == SYS_writev) &&
        k.file == "work/" + name)
      return true;
  }
  return false;
}

// What the run did that docs/outputs.md does not promise: "" when nothing.
std::string broken_promises(const Case& c) {
  std::string wrong;
  const auto fault = [&](const std::string& what) { wrong += "\n  - " + what; };
  const Run_folder& f = c.folder;
  const int status = c.run.status;
  const std::string out = read_bytes(f.dir.file("stdout")), err = read_bytes(f.dir.file("stderr"));

  // The run ends within its limits, with status 0 or 2, and says why it fails.
  if (WIFSIGNALED(status))
    fault("ended by signal " + std::to_string(WTERMSIG(status)) + " (" +
          strsignal(WTERMSIG(status)) + "); the limits are " + std::to_string(cpu_seconds) +
          " s of processor time and " + std::to_string(wall_seconds) + " s");
  if (out.size() >= file_bytes || err.size() >= file_bytes)
    fault("wrote " + std::to_string(out.size() + err.size()) + " bytes of report and messages");
  const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (WIFEXITED(status) && !ok && WEXITSTATUS(status) != 2)
    fault("exit status " + std::to_string(WEXITSTATUS(status)));
  if (WIFEXITED(status) && !ok && err.empty()) fault("failed without a message");
  // A failed read of an input (but one interrupted, which is tried again)
  // ends the run, naming the input.
  const Call* failed = c.call > 0 ? &c.plain_calls[std::size_t(c.call - 1)] : nullptr;
  const std::vector<std::string>& inputs = c.inputs.paths;
  if (failed != nullptr && c.error != 0 && c.error != EINTR &&
      (failed->nr == SYS_read || failed->nr == SYS_pread64 || failed->nr == SYS_lseek) &&
      std::find(inputs.begin(), inputs.end(), failed->file) != inputs.end() &&
      !(WIFEXITED(status) && WEXITSTATUS(status) == 2 &&
        err.find(failed->file) != std::string::npos))
    fault("a failed read of " + failed->file + " does not end the run with a message naming it");
  // No other process holds a lock here, and no other user acts but to move
  // a private folder away.
  if (err.find("another process holds a lock") != std::string::npos)
    fault("says another process holds a lock");
  if (f.setting != Setting::moved_away && err.find("another user") != std::string::npos)
    fault("says another user acted");

  const std::array<Said, 2> said = what_is_said(err);
  std::set<std::string> expected;  // the entries the run's folders may hold
  for (std::size_t i = 0; i < 2; ++i) {
    const Output& o = outputs[i];
    const bool existed = f.setting != Setting::new_files;
    const Holds now = holds(f.at(o.name), existed, i, c.made);
    const std::string name = o.name + " ";
    if (existed || now != Holds::as_it_was) expected.insert(o.name);
    // Exit 0 only with both outputs new; otherwise what is said of each is
    // what it holds (nothing said: as it was). A file neither old nor new
    // has its whole new content kept where the message says, and lost its
    // old content only to the copy's writes.
    if (ok && now != Holds::new_content)
      fault("exit 0, but " + name + "holds " + holds_names[int(now)]);
    if (!ok && now != said[i].state)
      fault(name + "holds " + holds_names[int(now)] + ", the message says " +
            (said[i].stated ? holds_names[int(said[i].state)] : "nothing (as it was)"));
    if (!ok && now != Holds::as_it_was && now != Holds::new_content) {
      if (said[i].kept.empty())
        fault(name + "holds " + holds_names[int(now)] + ", and no whole copy is named");
      if (now != Holds::old_then_zeros && !written_before(c, o.name, c.call))
        fault(name + "lost its old content before a write of the copy into it returned");
    }
    if (!said[i].kept.empty()) {
      const std::string kept = f.at(said[i].kept);
      if (without_times(read_bytes(kept)) != c.made[i] && read_bytes(kept) != o.old)
        fault(name + "is said to be kept in " + said[i].kept + ", which holds no whole content");
      for (const std::string& folder : {f.work + "/", f.tmp + "/"})
        if (kept.compare(0, folder.size(), folder) == 0)
          expected.insert(
              kept.substr(folder.size(), kept.find('/', folder.size()) - folder.size()));
    }
    // A replaced file's access is the old file's, but where the system
    // refused to give it (EPERM); a file rewritten in place keeps its second name.
    if (f.setting == Setting::replaced && now == Holds::new_content && c.error != EPERM &&
        !(access_of(f.at(o.name)) == replaced_access))
      fault(name +
            "does not have the owner, group, permissions and access list of the file it "
            "replaced");
    if (f.setting == Setting::in_place) {
      struct stat first, second;
      expected.insert(o.second);
      if (stat(f.at(o.name).c_str(), &first) != 0 || stat(f.at(o.second).c_str(), &second) != 0 ||
          first.st_ino != second.st_ino)
        fault(name + "and " + o.second + " are no longer one file");
    }
  }
  // A failure that names an output says what became of each.
  if (!ok && said[0].named != said[1].named)
    fault("the message does not say what became of " + outputs[said[0].named ? 1 : 0].name);
  // Nothing is left over but what a message names, and the other user's
  // folders, which are theirs alone: an empty one put at the name of the
  // run's folder between its look and its removal by name goes with it,
  // as the message says.
  for (const std::string& name : f.planted) {
    expected.insert(name);
    if (mode_and_owner(f.tmp + "/" + name)[1] != other_user &&
        err.find(name + " was removed in its place") == std::string::npos)
      fault("the other user's folder tmp/" + name + " is gone");
  }
  for (const std::string& folder : {f.work, f.tmp})
    for (const std::string& entry : entries_of(folder))
      if (!expected.count(entry) && err.find(entry) == std::string::npos)
        fault("left over, unnamed: " + folder.substr(f.dir.path().size() + 1) + "/" + entry);
  if (wrong.empty()) return "";
  return wrong + "\n  status " + std::to_string(status) + "; messages:\n" + err.substr(0, 2000) +
         (out.size() > 4000 ? "\n  report (end): " + out.substr(out.size() - 1000) : "");
}

// ---------------------------------------------------------------- the check

// A call as a developer finds it again: its number, its name and
// occurrence, and the file it works on.
std::string call_text(const std::vector<Call>& calls, const long n) {
  const Call& call = calls[std::size_t(n - 1)];
  long occurrence = 0;
  for (long i = 0; i < n; ++i) occurrence += calls[std::size_t(i)].nr == call.nr;
  return "call " + std::to_string(n) + " of " + std::to_string(calls.size()) + ", " +
         call_name(call.nr) + " #" + std::to_string(occurrence) +
         (call.file.empty() ? "" : " on " + call.file);
}

constexpr int shards = 8;

class FailedCalls : public ::testing::TestWithParam<std::tuple<Setting, int>> {};

// The plain run, checked and recorded, then each call of the shard failed
// with each error tried.
TEST_P(FailedCalls, KeepThePromiseOfTheOutputs) {
  if (!can_fail_calls) GTEST_SKIP() << "failing calls is written for x86-64 only";
  const auto [setting, shard] = GetParam();
  if (setting == Setting::moved_away && geteuid() != 0)
    GTEST_SKIP() << "another user moves the private folder: the tests must run as root";
  const Inputs inputs;
  std::vector<Call> calls;
  std::vector<bool> folder_made;  // where moved away: the private folder stands at the call
  New_content made;
  {
    const Run_folder folder(setting);
    const Traced_run plain = run_in(folder, inputs, 0, 0, true, [&](long) {
      if (setting == Setting::moved_away) folder_made.push_back(!folder.private_folders().empty());
    });
    if (plain.refused) GTEST_SKIP() << "the system refuses to trace a child (ptrace or seccomp)";
    ASSERT_TRUE(WIFEXITED(plain.status) && WEXITSTATUS(plain.status) == 0)
        << plain.status << read_bytes(folder.dir.file("stderr"));
    // The plain run's outputs, read back: the MTZ file with its stamps (that
    // of IEEE floats and integers in this machine's byte order) and every
    // row and column, the model with every atom.
    const std::string mtz = read_bytes(folder.at(outputs[0].name));
    const std::string stamp =
        htonl(1) == 1 ? std::string("\x11\x11\0\0", 4) : std::string("\x44\x41\0\0", 4);
    EXPECT_EQ(mtz.substr(0, 4), "MTZ ");
    EXPECT_EQ(mtz.substr(8, 4), stamp);
    // Read in a child: the MTZ library's state here stays that of a fresh
    // process for the runs forked from this one.
    const auto rows_and_columns = [](const std::string& path) {
      return in_child([&] {
        const mtz_testing::Raw_mtz file(path);
        return file.get() == nullptr ? std::string("unreadable")
                                     : std::to_string(file.nref()) + " rows, " +
                                           std::to_string(file.columns().size()) + " columns";
      });
    };
    const std::string in = rows_and_columns(inputs.paths[2]);
    EXPECT_EQ(rows_and_columns(folder.at(outputs[0].name)),
              in.substr(0, in.find(',')) + ", " +
                  std::to_string(std::stoi(in.substr(in.find(", ") + 2)) + 6) + " columns");
    const auto atoms = [](const std::string& pdb) {
      return lines_with("\n" + pdb, "\nATOM  ") + lines_with("\n" + pdb, "\nHETATM");
    };
    EXPECT_EQ(atoms(read_bytes(folder.at(outputs[1].name))), atoms(read_bytes(inputs.paths[3])));
    for (std::size_t i = 0; i < 2; ++i)
      made[i] = without_times(read_bytes(folder.at(outputs[i].name)));
    const std::string scratch = folder.dir.path() + "/";
    for (Call call : plain.record) {
      if (call.file.compare(0, scratch.size(), scratch) == 0) call.file.erase(0, scratch.size());
      calls.push_back(call);
    }
    ASSERT_EQ(broken_promises({folder, inputs, plain, 0, 0, calls, made}), "");
  }
  ASSERT_GT(calls.size(), 300u) << "the run made too few calls to be the one meant";

  long first = 1, last = long(calls.size());
  if (const char* only = std::getenv("VANTREL_FAILED_CALL")) first = last = std::atol(only);
  int tried = 0;
  for (long n = first; n <= last; ++n) {
    if ((n % shards != shard && first != last) ||
        (setting == Setting::moved_away && !folder_made[std::size_t(n - 1)]))
      continue;
    for (const int error : errors_for(calls[std::size_t(n - 1)].nr, setting)) {
      const Run_folder folder(setting);
      const Traced_run run = run_in(folder, inputs, n, error, true);
      ++tried;
      const std::string call =
          call_text(calls, n) +
          (setting == Setting::moved_away ? ", the private folder moved away before it" : "") +
          (error != 0 ? ", failed with " + error_name(error) : "");
      // The run made the plain run's calls up to the one failed.
      const auto same = [](const Call& a, const Call& b) { return a.nr == b.nr; };
      if ((error != 0 && !run.injected) || run.record.size() < std::size_t(n) ||
          !std::equal(calls.begin(), calls.begin() + n, run.record.begin(), same)) {
        ADD_FAILURE() << call << ": the run made other calls than the plain run";
        continue;
      }
      const std::string wrong = broken_promises({folder, inputs, run, n, error, calls, made});
      if (!wrong.empty()) ADD_FAILURE() << call << " (VANTREL_FAILED_CALL=" << n << "):" << wrong;
    }
  }
  EXPECT_GT(tried, 0);
}

INSTANTIATE_TEST_SUITE_P(Run, FailedCalls,
                         ::testing::Combine(::testing::Values(Setting::new_files, Setting::replaced,
                                                              Setting::in_place,
                                                              Setting::moved_away),
                                            ::testing::Range(0, shards)),
                         [](const ::testing::TestParamInfo<FailedCalls::ParamType>& info) {
                           return std::string(setting_names[int(std::get<0>(info.param))]) + "_" +
                                  std::to_string(std::get<1>(info.param));
                         });

}  // namespace
