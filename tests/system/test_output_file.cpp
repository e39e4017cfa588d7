#include "system/output_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <vector>
#include <chrono>
#include <csignal>
#include <thread>

#include "support/testing.h"
#include "system/file_access.h"

using namespace vantrel;
using namespace vantrel_testing;

namespace {

// A directory in dir with just the given mode, whatever the umask.
std::string made_dir(const Scratch_dir& dir, const std::string& name, const mode_t mode) {
  const std::string path = dir.file(name);
  EXPECT_TRUE(mkdir(path.c_str(), 0) == 0 && chmod(path.c_str(), mode) == 0) << path;
  return path;
}

// The folder part of a path.
std::string directory_of(const std::string& path) { return path.substr(0, path.rfind('/')); }

ino_t inode_of(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Writes bytes through an output to target and puts it in place, or hands
// it to pending: the fatal text, or "no error".
std::string put(const std::string& target, const std::string& bytes,
                Pending_outputs* pending = nullptr) {
  return fatal_text([&] {
    Output_file out(target, "T", pending);
    out.write(bytes);
    out.commit();
  });
}

// The text with each private folder it names ("<folder>/.output.XXXXXX",
// followed by "/new" where it holds new content) named by its folder
// alone, once removed; new content there is checked to be one of contents
// (else "(not whole)" follows).
std::string without_kept(std::string text, const std::vector<std::string>& contents) {
  const std::string mark = "/.output.";
  for (std::size_t at = 0; (at = text.find(mark, at)) != std::string::npos;) {
    const std::size_t start = text.rfind(' ', at) + 1, end = at + mark.size() + 6;
    const std::string folder = text.substr(start, end - start), file = folder + "/new";
    const bool holds = text.compare(end, 4, "/new") == 0;
    const bool whole =
        std::find(contents.begin(), contents.end(), read_bytes(file)) != contents.end();
    EXPECT_TRUE((!holds || std::remove(file.c_str()) == 0) && rmdir(folder.c_str()) == 0) << folder;
    text.replace(at, end + (holds ? 4 : 0) - at, whole || !holds ? "" : " (not whole)");
  }
  return text;
}

// fatal_text(operation), then each other message it printed (warnings),
// after "|".
template <class F> std::string said(F&& operation) {
  std::ostringstream printed;
  const std::string fatal = fatal_text([&] {
    Message::set_stream(printed);
    operation();
  });
  std::string rest = printed.str(), text = fatal;
  if (const std::size_t at = rest.find(fatal + "\n"); at != std::string::npos)
    rest.erase(at, fatal.size() + 1);
  std::istringstream lines(rest);
  for (std::string line; std::getline(lines, line);) text += "|" + line;
  return text;
}

// put() in a child process run by a user who may not write the test's
// folders (nobody, when the tests run as root), with $TMPDIR tmp and a file
// size limit, its signal at the default, from the start or (late) for the
// commit only, or system calls that fail from the commit on: what
// check_output says and what put() says (said()), joined by "|"; "touched"
// when the target changed first.
std::string attempt(const std::string& target, const std::string& tmp, const std::string& bytes,
                    const rlim_t limit = RLIM_INFINITY, const bool late = false,
                    const std::vector<Failing>& failing = {}) {
  const auto run = [&] {
    setenv("TMPDIR", tmp.c_str(), 1);
    signal(SIGXFSZ, SIG_DFL);
    const struct rlimit limited = {limit, RLIM_INFINITY};
    const std::string before = read_bytes(target);
    std::string text = fatal_text([&] { Files::check_output(target, "T"); }) + "|";
    text += said([&] {
      Output_file out(target, "T");
      if (!late) setrlimit(RLIMIT_FSIZE, &limited);
      out.write(bytes);
      if (read_bytes(target) != before) text += "touched ";
      setrlimit(RLIMIT_FSIZE, &limited);
      if (!failing.empty() && !failing_calls(failing)) text += "no filter ";
      out.commit();
    });
    return text;
  };
  return in_child(run, geteuid() == 0 ? unprivileged_id : -1);
}

// The access (rwx as 0 to 7) that the system grants uid and gid to path.
unsigned access_of(const std::string& path, const int uid, const int gid) {
  const auto granted = [&] {
    unsigned bits = 0;
    for (const auto& [flag, bit] : {std::pair{R_OK, 4u}, std::pair{W_OK, 2u}, std::pair{X_OK, 1u}})
      bits |= access(path.c_str(), flag) == 0 ? bit : 0;
    return std::to_string(bits);
  };
  const std::string seen = in_child(granted, uid, gid);
  return seen == "child failed" ? 99 : unsigned(std::stoi(seen));
}

// The wait status of a child process that runs body, traced by this one,
// which calls step(pid, number, exit, value) at each system call's entry
// (value: its first argument) and exit (its result).
int traced(const std::function<void()>& body,
           const std::function<void(pid_t, long long, bool, long long)>& step) {
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGTERM, SIG_DFL);
    ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    raise(SIGSTOP);
    body();
    _exit(0);
  }
  int status = 0, deliver = 0;
  waitpid(pid, &status, 0);
  ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
  long long nr = -1;
  while (ptrace(PTRACE_SYSCALL, pid, nullptr, deliver) == 0 && waitpid(pid, &status, 0) == pid &&
         WIFSTOPPED(status)) {
    const int sig = WSTOPSIG(status);
    deliver = sig == (SIGTRAP | 0x80) || sig == SIGSTOP ? 0 : sig;
    __ptrace_syscall_info info{};
    if (deliver != 0 || ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof info, &info) <= 0) continue;
    if (info.op == PTRACE_SYSCALL_INFO_ENTRY)
      step(pid, nr = (long long)info.entry.nr, false, (long long)info.entry.args[0]);
    if (info.op == PTRACE_SYSCALL_INFO_EXIT) step(pid, nr, true, info.exit.rval);
  }
  return status;
}

// What body returns, run by user uid of group gid (no other groups) in a
// child process traced by this one (traced, which calls step).
std::string traced_text(const int uid, const int gid, const std::function<std::string()>& body,
                        const std::function<void(pid_t, long long, bool, long long)>& step) {
  int fds[2];
  if (pipe(fds) != 0) return "no pipe";
  traced(
      [&] {
        if (syscall(SYS_setgroups, 0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
          _exit(3);
        const std::string text = body();
        _exit(write(fds[1], text.data(), text.size()) == ssize_t(text.size()) ? 0 : 4);
      },
      step);
  close(fds[1]);
  char text[4096];
  const ssize_t n = read(fds[0], text, sizeof text);
  close(fds[0]);
  return std::string(text, std::size_t(std::max<ssize_t>(n, 0)));
}

// What a run as user uid (root: -1), umask mask, says of outputs of "new"
// to each target that pending outputs begin (their paths walked, judged
// and held) and, once act() has run while the run is stopped, write and
// put in place: the fatal text, or "no error".
std::string run_stopped(const std::vector<std::string>& targets, const int uid, const mode_t mask,
                        const std::function<void()>& act) {
  int fds[2];
  if (pipe(fds) != 0) return "no pipe";
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    if (uid >= 0 &&
        (syscall(SYS_setgroups, 0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0))
      _exit(3);
    umask(mask);
    const std::string text = fatal_text([&] {
      Pending_outputs pending("T");
      for (const std::string& target : targets) pending.add(target);
      pending.begin();
      raise(SIGSTOP);  // the run computes
      for (const std::string& target : targets) EXPECT_EQ(put(target, "new", &pending), "no error");
      pending.put_in_place();
    });
    _exit(write(fds[1], text.data(), text.size()) == ssize_t(text.size()) ? 0 : 4);
  }
  close(fds[1]);
  int status = 0;
  if (waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status)) {
    act();
    kill(pid, SIGCONT);
  }
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
    text.append(buffer, std::size_t(n));
  close(fds[0]);
  waitpid(pid, &status, 0);
  return text;
}

// As user other of group, in the folder shared: each private folder of
// writer's there moved to "stolen<n>" and a folder of other's own put at
// its name, holding a file "new" ("planted"). How many were moved.
int move_private_folders(const std::string& shared, const int writer, const int other,
                         const int group) {
  const std::string moved = in_child(
      [&] {
        int n = 0;
        for (const std::string& name : entries_of(shared)) {
          const std::string path = shared + "/" + name;
          if (name.compare(0, 8, ".output.") == 0 && mode_and_owner(path)[1] == unsigned(writer) &&
              rename(path.c_str(), (shared + "/stolen" + std::to_string(n)).c_str()) == 0 &&
              mkdir(path.c_str(), 0755) == 0)
            n += chmod(write_bytes(path + "/new", "planted").c_str(), 0666) == 0;
        }
        return std::to_string(n);
      },
      other, group);
  return std::atoi(moved.c_str());
}

}  // namespace

// An output's new content is reached by path() (opened again by name, and
// cut short, as libraries do) and replaces the target only on commit, made
// without a name in the folder of the file written: a link's end
// (relative to the link's folder, absolute, a chain, or a file not made yet;
// the links stay links), with a name as long as a folder holds. A file of
// several names is rewritten in place, so that every name sees the new
// content. Pending outputs are put in place together by put_in_place().
// An output abandoned, or pending without that, replaces nothing, and
// nothing beside the target changes.
TEST(OutputFile, ReplacesItsTargetOnlyOnCommit) {
  Scratch_dir dir;
  const std::string sub = made_dir(dir, "sub", 0755), real = dir.write("real.mtz", "old");
  const std::string longest(255, 'x');
  ASSERT_EQ(chmod(real.c_str(), 0640), 0);
  dir.write("real.mtz.partial", "someone else's");
  ASSERT_EQ(link(dir.write("hard.mtz", "old").c_str(), dir.file("sub/away.mtz").c_str()), 0);
  // Name written, the link's text (none: no link), and the file it lands on.
  const std::vector<std::array<std::string, 3>> cases = {
      {"real.mtz", "", "real.mtz"},
      {"rel.mtz", "real.mtz", "real.mtz"},
      {"abs.mtz", real, "real.mtz"},
      {"chain.mtz", "abs.mtz", "real.mtz"},
      {"sub/up.mtz", "../real.mtz", "real.mtz"},
      {"dangling.mtz", "sub/fresh.mtz", "sub/fresh.mtz"},
      {"self.mtz", "self.mtz", ""},
      {"hard.mtz", "", "hard.mtz"},
      {longest, "", longest},
      {longest, "", longest}};  // new, then replaced
  for (const auto& [name, text, file] : cases)
    ASSERT_TRUE(text.empty() || symlink(text.c_str(), dir.file(name).c_str()) == 0) << name;
  for (const auto& [name, text, file] : cases) {
    if (file.empty()) continue;
    SCOPED_TRACE(name);
    const ino_t was = inode_of(dir.file(file));
    const std::string target = dir.file(name), lands = dir.file(file),
                      bytes = "new " + name + std::to_string(was);
    EXPECT_EQ(fatal_text([&] { Files::check_output(target, "T"); }), "no error");
    {
      Output_file out(target, "T");
      EXPECT_EQ(out.path().compare(0, 14, "/proc/self/fd/"), 0);
      EXPECT_TRUE(Files::same_file(directory_of(link_text(out.path())), directory_of(lands)));
      write_bytes(out.path(), bytes + " and more, written first");  // opened again, cut short
      write_bytes(out.path(), bytes);
      EXPECT_NE(read_bytes(lands), bytes);
      out.commit();
    }
    {
      Output_file abandoned(target, "T");
      write_bytes(abandoned.path(), "half");
    }
    EXPECT_EQ(read_bytes(lands), bytes);
    EXPECT_EQ(inode_of(lands) == was, name == "hard.mtz");
  }
  EXPECT_EQ(read_bytes(dir.file("sub/away.mtz")), read_bytes(dir.file("hard.mtz")));
  for (const bool release : {false, true}) {
    const std::string before = read_bytes(real);
    {
      Pending_outputs held("T");
      EXPECT_EQ(put(real, "held", &held), "no error");
      EXPECT_EQ(put(dir.file("held.pdb"), "held", &held), "no error");
      EXPECT_EQ(read_bytes(real), before);
      if (release) held.put_in_place();
    }
    EXPECT_EQ(read_bytes(real), release ? "held" : before);
    EXPECT_EQ(read_bytes(dir.file("held.pdb")), release ? "held" : "");
  }
  const std::vector<std::pair<std::string, std::string>> refused = {
      {dir.file("nodir/x"), "no such directory: " + dir.file("nodir")},
      {dir.file("self.mtz"), "too many levels of symbolic links"},
      {dir.path(), "not a regular file"},
      {dir.file(std::string(256, 'x')), "file name too long"}};
  for (const auto& [path, why] : refused)
    EXPECT_EQ(fatal_text([&] { Output_file(path, "T"); }), "T: cannot write " + path + ": " + why);
  for (const auto& [name, text, file] : cases)
    EXPECT_EQ(link_text(dir.file(name)), text.empty() ? "no link" : text);
  EXPECT_EQ(mode_and_owner(real)[0], 0640u);
  EXPECT_EQ(read_bytes(dir.file("real.mtz.partial")), "someone else's");
  EXPECT_EQ(dir.entries(),
            (std::vector<std::string>{"abs.mtz", "chain.mtz", "dangling.mtz", "hard.mtz",
                                      "held.pdb", "real.mtz", "real.mtz.partial", "rel.mtz",
                                      "self.mtz", "sub", longest}));
  EXPECT_EQ(entries_of(sub), (std::vector<std::string>{"away.mtz", "fresh.mtz", "up.mtz"}));
}

// Run by a user who may not write closed/: a file there that the user may
// write (also through a link from elsewhere) is written in place, its
// new content in $TMPDIR, and keeps its owner and permissions; what needs
// closed/ itself is refused. A write that fails (past a file size limit,
// from the start or at the commit, also within the file's old length)
// names the output as given and leaves the file as it was: room is
// reserved before a byte is overwritten. A copy that fails before its
// first write has returned (that write, the first read, the seek; the cut
// back failing too) leaves the file as it was; one that fails once a write
// has returned leaves the file empty, so the message says, and the whole
// new content kept, named there; one whose copy is whole but cannot be cut
// to its length says so. A rewrite in place whose new content cannot be
// kept (its link fails, as on a full disk), there or for a file of two
// names in the writer's own folder, is refused. An output put in place
// whose private folder, or the copy in it, cannot be removed is written,
// with a warning naming what is left; one that fails names it in its
// message.
TEST(OutputFile, InPlaceAndFailedWritesLeaveTheFileAsItWas) {
  Scratch_dir dir;
  const std::string closed = made_dir(dir, "closed", 0755), tmp = made_dir(dir, "tmp", 0777);
  const std::string out = closed + "/out.mtz", link = tmp + "/link.mtz", odd = tmp + "/odd\nname";
  ASSERT_EQ(symlink("../closed/out.mtz", link.c_str()), 0);
  const std::string kept = closed + "/kept.mtz";
  const std::vector<std::tuple<std::string, std::string, mode_t>> olds = {
      {out, "old", 0666},           {kept, "keep", 0444},
      {closed + "/a", "old", 0666}, {closed + "/b", std::string(8000, 'o'), 0666},
      {closed + "/c", "old", 0666}, {closed + "/d", "old and longer", 0666},
      {closed + "/e", "old", 0666}, {closed + "/f", "old", 0666},
      {closed + "/g", "old", 0666}, {closed + "/h", "old", 0666},
      {closed + "/i", "old", 0666}, {closed + "/j", "old", 0666},
      {closed + "/k", "old", 0666}, {odd, "old", 0666}};
  for (const auto& [file, bytes, mode] : olds)
    ASSERT_EQ(chmod(write_bytes(file, bytes).c_str(), mode), 0);
  if (geteuid() != 0) {
    ASSERT_EQ(chmod(closed.c_str(), 0555), 0);
  }
  // A file of two names in a folder of the writer's alone is copied into,
  // one of one name renamed over.
  const std::string own = made_dir(dir, "own", 0755), two = own + "/two", one = own + "/one";
  ASSERT_EQ(chmod(write_bytes(two, "old").c_str(), 0666), 0);
  ASSERT_EQ(::link(two.c_str(), (own + "/two2").c_str()), 0);
  for (const std::string& path : {own, two, write_bytes(one, "old")})
    ASSERT_EQ(chown(path.c_str(), geteuid() == 0 ? unprivileged_id : geteuid(), -1), 0);
  const std::vector<unsigned> was = mode_and_owner(out);
  const std::vector<std::string> in_closed = entries_of(closed);
  const std::string big(5000, 'n'), past_a_write(65536 + 100, 'n'),
      left = "; the file is left as it was", denied = "permission denied",
      unwritten = "input/output error" + left + "; the new content is kept in " + tmp,
      too_large = "writing its new content in " + tmp + " failed: file too large",
      unkept =
          "its new content cannot be kept while the file is rewritten in place: no space "
          "left on device" +
          left;
  // Target, new content, and what fails: a file size limit (4096 bytes) in
  // closed/ for the commit only, elsewhere from the start, when a failed
  // write is kept as the last failure; or, from the commit on, links, every
  // cut of a file's length (ftruncate: the copy whole but longer), the
  // copy's write of 13 bytes (its content; other writes, as the child's
  // report, go on), reads, seeks, that write and cuts, the write of the last
  // 100 bytes (the first 64 kB written), removals (unlinkat), or the room for
  // the copy (fallocate) and folder removals. What check_output says,
  // why the output fails, the warning after "<target> is written, but ",
  // and what the file holds after.
  enum Fault {
    none,
    size_limit,
    no_link,
    no_cut,
    no_write,
    no_read,
    no_seek,
    no_write_or_cut,
    last_write,
    no_removal,
    no_room_nor_rmdir
  };
  const std::vector<Failing> calls[] = {{},
                                        {},
                                        {{SYS_linkat, ENOSPC}},
                                        {{SYS_ftruncate, EIO}},
                                        {{SYS_write, EIO, 13}},
                                        {{SYS_read, EIO}},
                                        {{SYS_lseek, EIO}},
                                        {{SYS_write, EIO, 13}, {SYS_ftruncate, EIO}},
                                        {{SYS_write, EIO, 100}},
                                        {{SYS_unlinkat, EIO}},
                                        {{SYS_fallocate, EIO}, {SYS_unlinkat, EIO, AT_REMOVEDIR}}};
  const std::string unremoved = " cannot be removed: input/output error";
  const std::vector<std::tuple<std::string, std::string, Fault, std::string, std::string,
                               std::string, std::string>>
      cases = {
          {out, "new", none, "", "", "", "new"},
          {link, "newer", none, "", "", "", "newer"},
          {kept, "new", none, denied, denied, "", "keep"},
          {closed + "/new", "new", none, "directory " + closed + ": " + denied,
           "directory " + closed + ": " + denied, "", ""},
          {closed + "/a", big, size_limit, "", "file too large" + left, "", "old"},
          {closed + "/b", big, size_limit, "", "file too large" + left, "", std::string(8000, 'o')},
          {closed + "/c", "", size_limit, "", "", "", ""},
          {odd, std::string(10000, 'n'), size_limit, "", too_large + left, "", "old"},
          {tmp + "/fresh", std::string(10000, 'n'), size_limit, "", too_large, "", ""},
          {out, "newest", no_link, "", unkept, "", "newer"},
          {two, "new", no_link, "", unkept, "", "old"},
          {closed + "/d", "new", no_cut, "",
           "input/output error; the file is left holding the new content, then the end of "
           "its old content; the new content is kept in " +
               tmp,
           "", "new and longer"},
          {closed + "/e", "newer content", no_write, "", unwritten, "", "old"},
          {closed + "/f", "newer content", no_read, "", unwritten, "", "old"},
          {closed + "/g", "newer content", no_seek, "", unwritten, "", "old"},
          {closed + "/h", "newer content", no_write_or_cut, "", unwritten, "", "old"},
          {closed + "/i", past_a_write, last_write, "",
           "input/output error; the file is left empty; the new content is kept in " + tmp, "", ""},
          {closed + "/j", "new", no_removal, "", "",
           "the copy of its new content kept in " + tmp + unremoved, "new"},
          {one, "new", no_removal, "", "", "its emptied private folder " + own + unremoved, "new"},
          {closed + "/k", "new", no_room_nor_rmdir, "",
           "input/output error" + left + "; its emptied private folder " + tmp + unremoved, "",
           "old"}};
  for (const auto& [target, now, fault, check, why, warned, after] : cases) {
    SCOPED_TRACE(target);
    const bool late = target.compare(0, closed.size(), closed) == 0;
    const std::string seen = without_kept(
        attempt(target, tmp, now, fault == size_limit ? 4096 : RLIM_INFINITY, late, calls[fault]),
        {now});
    const auto text = [&](const std::string& reason) {
      return reason.empty() ? "no error" : "T: cannot write " + target + ": " + reason;
    };
    EXPECT_EQ(seen,
              text(check) + "|" + text(why) +
                  (warned.empty() ? "" : "|T: warning: " + target + " is written, but " + warned));
    EXPECT_EQ(read_bytes(target), after);
  }
  ASSERT_EQ(chmod(closed.c_str(), 0755), 0);
  EXPECT_EQ(mode_and_owner(out), was);
  EXPECT_EQ(link_text(link), "../closed/out.mtz");
  EXPECT_EQ(entries_of(closed), in_closed);
  EXPECT_EQ(entries_of(tmp), (std::vector<std::string>{"link.mtz", "odd\nname"}));
  EXPECT_EQ(entries_of(own), (std::vector<std::string>{"one", "two", "two2"}));
}

// Room for a copy in place is made sure of before a byte is overwritten,
// also where the filesystem cannot reserve it (ext2: the room is written
// first). A reservation that fails may still grow the file (ext2) or leave
// blocks allocated past its end (ext4 keeps what it could allocate): the
// file is cut back to what it held, and those blocks go. On small
// filesystems that only this test sees.
TEST(OutputFile, FailedReservationIsCutBack) {
  const std::string full = "no space left on device; the file is left as it was";
  // Filesystem, size of the new content, and why the write fails.
  const std::vector<std::tuple<std::string, int, std::string>> cases = {
      {"ext4", 3 << 20, full}, {"ext2", 5 << 20, full}, {"ext2", 1 << 20, ""}};
  for (const auto& [fs, size, why] : cases) {
    SCOPED_TRACE(fs + " " + std::to_string(size));
    Scratch_dir dir;
    const std::string tmp = made_dir(dir, "tmp", 0777), mnt = made_dir(dir, "mnt", 0755);
    const std::string image = dir.file("fs.img"), target = mnt + "/closed/out";
    const std::string content(std::size_t(size), 'n');
    const std::string seen = in_mount_namespace([&, fs = fs] {
      const std::string setup = "truncate -s 4M " + image + " && mkfs." + fs + " -q -F " + image +
                                " >/dev/null 2>&1 && mount -o loop " + image + " " + mnt +
                                " 2>/dev/null";
      if (std::system(setup.c_str()) != 0 || mkdir((mnt + "/closed").c_str(), 0755) != 0)
        return std::string("no namespace");
      chmod(write_bytes(target, "old").c_str(), 0666);
      const std::string text = attempt(target, tmp, content);
      const std::string now = read_bytes(target);
      struct stat st;
      const bool few = stat(target.c_str(), &st) == 0 && st.st_blocks * 512 < (64 << 10);
      return text + "|" + (now == content ? "new" : now.substr(0, 64)) +  // enough to see it grown
             (few ? "" : " in many blocks");
    });
    if (seen == "no namespace") GTEST_SKIP() << "no loop mount here";
    EXPECT_EQ(seen,
              "no error|" + (why.empty() ? "no error|new in many blocks"
                                         : "T: cannot write " + target + ": " + why + "|old"));
    EXPECT_EQ(entries_of(tmp), std::vector<std::string>{});
  }
}

// Fills the filesystem mounted at mnt, then frees room bytes of it (the
// filler file's tail), flushed so that the room counts: false on failure.
bool leave_room(const std::string& mnt, const off_t room) {
  const int fd = open((mnt + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  static const char ones[1 << 16] = {1};
  off_t size = 0;
  for (std::size_t chunk = sizeof ones; fd >= 0 && chunk >= 4096;) {
    const ssize_t n = write(fd, ones, chunk);
    if (n > 0) size += n;
    if (n < 0 && (errno != ENOSPC || fsync(fd) != 0 || (chunk /= 2) == 0)) return false;
  }
  const bool done = fd >= 0 && size > room && ftruncate(fd, size - room) == 0 && fsync(fd) == 0 &&
                    syncfs(fd) == 0;
  close(fd);
  return done;
}

// A copy in place onto a nearly full filesystem, run by nobody, where room
// for the new length is not all it needs. On ext2 (no reservation) the old
// file's holes need room too, and are written first. On btrfs each block
// overwritten needs a new one: the old content, reflinked where the
// target's folder or $TMPDIR is on its filesystem, is given back; without
// a reflink the file is left empty. Either way the new content is kept
// (beside the file, or in $TMPDIR where its folder is closed). On small
// filesystems that only this test sees.
TEST(OutputFile, AFullDiskLeavesTheOldContent) {
  const std::string full = "no space left on device", kept = "; the new content is kept in ",
                    left = full + "; the file is left as it was";
  // Filesystem; the old file's size (a hole between "old" and "end" on ext2,
  // else all 'o'); the room left, in kB; whether the target has a second
  // name in a folder the writer alone may write (else it is in one closed to it)
  // and whether $TMPDIR is on the filesystem; the new content's size; why
  // it fails, and what the file holds after.
  const std::vector<std::tuple<std::string, int, int, bool, bool, int, std::string, std::string>>
      cases = {{"ext2", 3 << 20, 256, false, false, 1 << 20, left, "old"},
               {"ext2", 3 << 20, 2048, false, false, 1 << 20, "", "new"},
               {"btrfs", 16 << 20, 24 << 10, true, false, 16 << 20, left + kept, "old"},
               {"btrfs", 16 << 20, 24 << 10, false, true, 16 << 20, left + kept, "old"},
               {"btrfs", 16 << 20, 8 << 10, false, false, 16 << 20,
                full + "; the file is left empty" + kept, ""}};
  for (const auto& [fs, old_size, room, second, tmp_inside, size, why, after] : cases) {
    SCOPED_TRACE(fs + " " + std::to_string(room) + " " + std::to_string(second + 2 * tmp_inside));
    Scratch_dir dir;
    const std::string host_tmp = made_dir(dir, "tmp", 0777), mnt = made_dir(dir, "mnt", 0755);
    const std::string image = dir.file("fs.img"),
                      target = mnt + (second ? "/open/out" : "/closed/out");
    const std::string tmp = tmp_inside ? mnt + "/tmp" : host_tmp;
    const std::string content(std::size_t(size), 'n');
    std::string old(std::size_t(old_size), fs == "ext2" ? '\0' : 'o');
    if (fs == "ext2") old.replace(0, 3, "old").replace(old.size() - 3, 3, "end");
    const std::string seen = in_mount_namespace([&, fs = fs, room = room, second = second] {
      const std::string setup = "truncate -s " + std::string(fs == "ext2" ? "4M " : "128M ") +
                                image + " && mkfs." + fs + (fs == "ext2" ? " -q -F " : " -q -f ") +
                                image + " >/dev/null 2>&1 && mount -o loop " + image + " " + mnt +
                                " 2>/dev/null";
      if (std::system(setup.c_str()) != 0) return std::string("no namespace");
      // "/open" is the writer's alone: a file of two names there is copied into.
      for (const auto& [name, mode] : {std::pair{"/closed", 0755}, {"/open", 0755}, {"/tmp", 01777}})
        if (mkdir((mnt + name).c_str(), 0) != 0 || chmod((mnt + name).c_str(), mode) != 0 ||
            (name[1] == 'o' && chown((mnt + name).c_str(), unprivileged_id, unprivileged_id) != 0))
          return std::string("no folders");
      const int fd = open(target.c_str(), O_WRONLY | O_CREAT, 0666);
      const bool made =  // "old" and "end" written alone leave a hole between
          fs == "ext2" ? pwrite(fd, "old", 3, 0) == 3 && pwrite(fd, "end", 3, old_size - 3) == 3
                       : write(fd, old.data(), old.size()) == ssize_t(old.size());
      close(fd);
      if (!made || chmod(target.c_str(), 0666) != 0 ||
          (second && link(target.c_str(), (mnt + "/open/second").c_str()) != 0) ||
          !leave_room(mnt, off_t(room) << 10))
        return std::string("no setup");
      const std::string text = without_kept(attempt(target, tmp, content), {content});
      const std::string now = read_bytes(target);
      return text + "|" + (now == content ? "new" : now == old ? "old" : now.substr(0, 8));
    });
    if (seen == "no namespace") GTEST_SKIP() << "no loop mount of " << fs << " here";
    EXPECT_EQ(seen, "no error|" +
                        (why.empty() ? "no error" : "T: cannot write " + target + ": " + why) +
                        (why.find(kept) != std::string::npos ? second ? mnt + "/open" : tmp : "") +
                        "|" + after);
  }
}

// Written by nobody: a file replaced keeps its owner and group where the
// writer may set them, its permissions and its access list. Where the owner
// or group cannot be kept (another user's file in the writer's folder) users
// change class, and each class gets no more than every class its users came
// from. In a sticky folder another user's file is written in place. A new
// file gets its folder's default list cut to mode 0666, but a file replaced
// gets no list it did not have. By the system's verdict, no user gains access.
TEST(OutputFile, NoUserGainsAccess) {
  if (geteuid() != 0) GTEST_SKIP() << "needs files of several users";
  Scratch_dir dir;
  made_dir(dir, "open", 0777);
  made_dir(dir, "sticky", 01777);
  const std::string own = made_dir(dir, "own", 0755), shared = made_dir(dir, "shared", 0777);
  ASSERT_EQ(chown(own.c_str(), unprivileged_id, unprivileged_id), 0);
  const std::string defaults = acl(7, 65534, 6, 5, 7, 0);  // as setfacl -d -m u:nobody:rw
  if (setxattr(shared.c_str(), "system.posix_acl_default", defaults.data(), defaults.size(), 0))
    GTEST_SKIP() << "no access lists here";
  const std::string named = acl(6, 65534, 6, 4, 6, 0), listed = acl(7, 1240, 7, 7, 7, 6),
                    narrowed = acl(6, 1240, 7, 6, 7, 6), inherited = acl(6, 65534, 6, 5, 6, 0),
                    long_list = acl(6, 65534, 6, 4, 6, 0, 200);  // past the first read's 1 kB
  // The old owner and group, members of them, of the writer's group and of
  // none, a user a list names, and the writer.
  const std::vector<std::pair<int, int>> users = {{1234, 1234},  {1235, 1234}, {1237, 0},
                                                  {1236, 1236},  {1240, 1240}, {1241, 65534},
                                                  {65534, 65534}};
  const unsigned nobody = unprivileged_id;
  // File; its mode, owner, group and list before (none: a new file) and after.
  const std::vector<std::tuple<std::string, std::vector<unsigned>, std::string,
                               std::vector<unsigned>, std::string>>
      cases = {{"open/roots", {0667, 0, 0}, "", {0766, nobody, nobody}, ""},
               {"sticky/roots", {0666, 0, 0}, "", {0666, 0, 0}, ""},
               {"sticky/own", {0640, nobody, nobody}, "", {0640, nobody, nobody}, ""},
               {"open/listed", {0660, nobody, nobody}, named, {0660, nobody, nobody}, named},
               {"open/long", {0660, nobody, nobody}, long_list, {0660, nobody, nobody}, long_list},
               {"own/a", {06606, 1234, 1234}, "", {0600, nobody, nobody}, ""},
               {"own/b", {0066, 1234, 1234}, "", {0600, nobody, nobody}, ""},
               {"own/c", {0666, 1234, 1234}, "", {0666, nobody, nobody}, ""},
               {"own/d", {0776, 1234, 1234}, listed, {0676, nobody, nobody}, narrowed},
               {"shared/kept", {0640, nobody, nobody}, "", {0640, nobody, nobody}, ""},
               {"shared/fresh", {}, "", {0660, nobody, nobody}, inherited}};
  for (const auto& [name, before, list, after, list_after] : cases) {
    SCOPED_TRACE(name);
    const std::string file = dir.file(name);
    if (!before.empty()) {
      write_bytes(file, "old");
      ASSERT_TRUE(chown(file.c_str(), before[1], before[2]) == 0 &&
                  chmod(file.c_str(), before[0]) == 0);
      removexattr(file.c_str(), acl_access);  // none but its own, also in shared/
      ASSERT_TRUE(list.empty() ||
                  setxattr(file.c_str(), acl_access, list.data(), list.size(), 0) == 0);
    }
    std::vector<unsigned> had;
    for (const auto& [uid, gid] : users) had.push_back(access_of(file, uid, gid));
    const ino_t was = inode_of(file);
    EXPECT_EQ(in_child([&] { return put(file, "new"); }, int(nobody)), "no error");
    EXPECT_EQ(read_bytes(file), "new");
    EXPECT_EQ(mode_and_owner(file), after);
    EXPECT_EQ(inode_of(file) == was, name == "sticky/roots");  // written in place
    EXPECT_EQ(acl_of(file), list_after);
    for (std::size_t u = 0; u < users.size() && !before.empty(); ++u)
      EXPECT_EQ(access_of(file, users[u].first, users[u].second) & ~had[u], 0u)
          << "user " << users[u].first << " had " << had[u];
  }
  // Run by root over another user's file (2001:3000, 0640, u:2002:r): a
  // failure to read its list or give the new file its owner or list fails
  // the output, the file left whole with its owner, mode and list, and
  // nothing left beside it; a call refused (EPERM) gives the narrower
  // access instead: the new file root's, or without the list, its named
  // user falling to the others.
  const std::string theirs = acl(6, 2002, 4, 4, 4, 0),
                    cannot_give =
                        "its new content cannot be given the file's owner, group, "
                        "permissions and access list: ";
  // The call that fails, its error; why the output fails, and the file's
  // mode, owner, group and list after.
  const std::vector<std::tuple<unsigned, unsigned, std::string, std::vector<unsigned>, std::string>>
      faults = {{SYS_fsetxattr, ENOSPC, "no space left on device", {0640, 2001, 3000}, theirs},
                {SYS_fsetxattr, EIO, "input/output error", {0640, 2001, 3000}, theirs},
                {SYS_fchown, EIO, "input/output error", {0640, 2001, 3000}, theirs},
                {SYS_getxattr, EIO, "input/output error", {0640, 2001, 3000}, theirs},
                {SYS_fchown, EPERM, "", {0640, 0, 0}, acl(6, 2002, 4, 0, 4, 0)},
                {SYS_fsetxattr, EPERM, "", {0640, 2001, 3000}, ""}};
  dir.write("open/theirs", "old");
  const std::vector<std::string> in_open = entries_of(dir.file("open"));
  for (const auto& [nr, error, why, after, list_after] : faults) {
    SCOPED_TRACE(std::to_string(nr) + " " + std::to_string(error));
    const std::string file = dir.write("open/theirs", "old");
    ASSERT_TRUE(chown(file.c_str(), 2001, 3000) == 0 && chmod(file.c_str(), 0640) == 0 &&
                setxattr(file.c_str(), acl_access, theirs.data(), theirs.size(), 0) == 0);
    const std::string seen = in_child([&, nr = nr, error = error] {
      return failing_call(nr, error) ? put(file, "new") : "no filter";
    });
    EXPECT_EQ(seen, why.empty() ? "no error"
                                : "T: cannot write " + file + ": " + cannot_give + why +
                                      "; the file is left as it was");
    EXPECT_EQ(read_bytes(file), why.empty() ? "new" : "old");
    EXPECT_EQ(mode_and_owner(file), after);
    EXPECT_EQ(acl_of(file), list_after);
    EXPECT_EQ(entries_of(dir.file("open")), in_open);
  }
  // So for a new file that cannot be given its folder's default list.
  const std::string refused = shared + "/refused";
  EXPECT_EQ(in_child([&] { return failing_call(SYS_fsetxattr, EIO) ? put(refused, "new") : ""; }),
            "T: cannot write " + refused +
                ": its new content cannot be given the access a file made in its folder gets: "
                "input/output error");
  EXPECT_EQ(entries_of(shared), (std::vector<std::string>{"fresh", "kept"}));

  // Where the list cannot be set (root in a user namespace that has no id
  // for the user it names), the group and others get no more than that user.
  const std::string file = dir.write("open/unnamed", "old"), list = acl(6, 1240, 4, 6, 6, 6);
  ASSERT_EQ(setxattr(file.c_str(), acl_access, list.data(), list.size(), 0), 0);
  const std::string seen = in_child([&] {
    if (unshare(CLONE_NEWUSER) != 0) return std::string("no namespace");
    write_bytes("/proc/self/uid_map", "0 0 1\n");
    write_bytes("/proc/self/gid_map", "0 0 1\n");
    return put(file, "new");
  });
  if (seen == "no namespace") GTEST_SKIP() << "no user namespace for a list that cannot be set";
  EXPECT_EQ(seen, "no error");
  EXPECT_EQ(mode_and_owner(file), (std::vector<unsigned>{0644, 0, 0}));
  EXPECT_EQ(acl_of(file), "");
}

// Another user who may write the output's folder swaps every entry there,
// and each one inside an entry it may enter, for a link to a file of the
// writer's while the output is under way: nothing but the target changes,
// and it gets the whole output with the permissions of the file seen when
// the output began. A target swapped for the other user's file is
// replaced by rename, whether or not it had a second name (a folder all
// may write), and gives the output nothing of its own.
TEST(OutputFile, AnotherUserCannotSteerTheOutput) {
  if (geteuid() != 0) GTEST_SKIP() << "needs two users";
  // Writer (the other user is the next lower id), whether the target has a
  // second name, and whether the other user swaps the target too.
  const std::vector<std::tuple<unsigned, bool, bool>> cases = {
      {0, false, false}, {65534, false, false}, {0, false, true}, {65534, true, true}};
  for (const auto& [writer, second, swap_target] : cases) {
    SCOPED_TRACE(std::to_string(writer) + " " + std::to_string(second + 2 * swap_target));
    const int other = writer == 0 ? 65534 : int(writer) - 1;
    Scratch_dir dir;
    const std::string shared = made_dir(dir, "shared", 0777),
                      hidden = made_dir(dir, "hidden", 0700);
    const std::string precious = dir.write("hidden/precious", "precious"),
                      target = dir.write("shared/out.mtz", "old");
    for (const std::string& path : {hidden, precious, target})
      ASSERT_EQ(chown(path.c_str(), writer, writer), 0);
    ASSERT_TRUE(chmod(precious.c_str(), 0600) == 0 && chmod(target.c_str(), 0640) == 0);
    ASSERT_TRUE(!second || link(target.c_str(), dir.file("second").c_str()) == 0);
    const pid_t pid = fork();
    if (pid == 0) {
      if (setgid(writer) != 0 || setuid(writer) != 0) _exit(3);
      Output_file out(target, "T");
      raise(SIGSTOP);  // the other user acts now
      write_bytes(out.path(), "new");
      _exit(fatal_text([&] { out.commit(); }) == "no error" ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, WUNTRACED), pid);
    ASSERT_TRUE(WIFSTOPPED(status));
    const auto swap_all = [&] {
      int n = 0;
      const auto swap = [&](const std::string& folder, const std::string& name) {
        const std::string path = folder + "/" + name;
        n += rename(path.c_str(), (folder + "/stolen" + name).c_str()) == 0 &&
             (name == "out.mtz" ? chmod(write_bytes(path, "planted").c_str(), 0666)
                                : symlink(precious.c_str(), path.c_str())) == 0;
      };
      for (const std::string& name : entries_of(shared)) {
        if (name == "out.mtz" && !swap_target) continue;
        std::error_code error;
        for (const auto& inner : std::filesystem::directory_iterator(shared + "/" + name, error))
          swap(shared + "/" + name, inner.path().filename().string());
        swap(shared, name);
      }
      return std::to_string(n);
    };
    EXPECT_EQ(in_child(swap_all, other, other), swap_target ? "1" : "0");
    kill(pid, SIGCONT);
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(read_bytes(precious), "precious");
    EXPECT_EQ(mode_and_owner(precious), (std::vector<unsigned>{0600, writer, writer}));
    EXPECT_EQ(mode_and_owner(hidden), (std::vector<unsigned>{0700, writer, writer}));
    EXPECT_EQ(read_bytes(target), "new");
    EXPECT_EQ(mode_and_owner(target), (std::vector<unsigned>{0640u, writer, writer}));
    EXPECT_EQ(read_bytes(dir.file("second")), second ? "old" : "");  // the link broken
    EXPECT_EQ(read_bytes(shared + "/stolenout.mtz"), swap_target ? "old" : "");
  }
}

// Another member of a folder others may write without a sticky bit (0777,
// or a lab folder of their group, 2775) replaces every name there but the
// output's with a file of its own, and every name in each folder there it
// may enter, the moment the writer renames its output into place (the
// writer stopped at the rename). The output put in place is the writer's,
// over a file that existed at the start or over the other member's file
// at a new output's name, taken just before the writer linked it there.
TEST(OutputFile, NamesReplacedAtTheRenameAreNotPutInPlace) {
  if (geteuid() != 0) GTEST_SKIP() << "needs two users: run as root";
  const int writer = 1234, other = 1235, lab = 1240;
  // The folder's mode and group, and whether the output existed at the start.
  const std::vector<std::tuple<mode_t, int, bool>> cases = {
      {0777, 0, true}, {02775, lab, true}, {0777, 0, false}, {02775, lab, false}};
  for (const auto& [mode, group, existed] : cases) {
    SCOPED_TRACE(std::to_string(mode) + " " + std::to_string(existed));
    Scratch_dir dir;
    const std::string shared = made_dir(dir, "shared", 0), target = shared + "/out.mtz";
    ASSERT_TRUE(chown(shared.c_str(), 0, group) == 0 && chmod(shared.c_str(), mode) == 0);
    if (existed) {
      ASSERT_EQ(chown(write_bytes(target, "old").c_str(), writer, lab), 0);
    }
    // The other member's moves: its own file at the output's name, or at
    // every other name (what stood there kept as "stolen<name>").
    const auto as_other = [&](const bool at_target) {
      return in_child(
          [&] {
            int n = 0;
            const auto plant = [&](const std::string& path) {
              n += chmod(write_bytes(path, "planted").c_str(), 0666) == 0;
            };
            if (at_target) plant(target);
            for (const std::string& name :
                 at_target ? std::vector<std::string>{} : entries_of(shared)) {
              const std::string path = shared + "/" + name;
              std::error_code error;  // a folder it may not enter has no entries for it
              for (const auto& inner : std::filesystem::directory_iterator(path, error))
                if (rename(inner.path().c_str(), (path + "/stolen").c_str()) == 0)
                  plant(inner.path());
              if (name != "out.mtz" &&
                  rename(path.c_str(), (shared + "/stolen" + name).c_str()) == 0)
                plant(path);
            }
            return std::to_string(n);
          },
          other, lab);
    };
    bool taken = existed;
    int replaced = 0;
    const auto step = [&](pid_t, const long long nr, const bool exit, long long) {
      if (!exit && nr == SYS_linkat && !taken) taken = as_other(true) == "1";
      if (!exit && (nr == SYS_renameat || nr == SYS_renameat2))
        replaced += std::atoi(as_other(false).c_str());
    };
    EXPECT_EQ(traced_text(
                  writer, lab, [&] { return put(target, "new"); }, step),
              "no error");
    EXPECT_TRUE(taken);
    EXPECT_GE(replaced, 1);
    EXPECT_EQ(read_bytes(target), "new");
    EXPECT_EQ(mode_and_owner(target)[1], unsigned(writer));
  }
}

// Another user who may write the output's folder puts something at the
// output's name while the run computes: a link to a file of the writer's
// in a folder only the writer reaches, or a file of its own; or, before
// the run, a second name for a file of the writer's. The output is put in
// place from the walk made when the run began: whatever stands at the name
// is replaced, never followed, and gives the new file nothing (its owner,
// group and mode are the file's seen at the start, or a new file's). An
// entry that cannot be replaced (another's in a sticky folder, a folder)
// fails the run before its first output is in place, saying so, with the
// new content of both kept. A file of several names in a folder another
// user may write is replaced by rename, which breaks the link, or refused
// where the sticky bit forbids that.
TEST(OutputFile, WhatAnotherUserPutsAtTheNameIsReplacedNotFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs two users";
  const int user = 1234, other = unprivileged_id;
  enum Plant { link_to_thesis, own_file, own_folder, second_name };
  const std::string kept =
      " stands at its name and cannot be replaced; the new content is kept in %s; %s/first.mtz "
      "is not written, its new content kept in %s";
  // The folder's mode, owner and group, the writer, its umask, whether the target is the writer's
  // (0640) at the start, what the other user puts there; why the output fails, and the target after
  // (its content, or the link's text; mode, owner, group).
  const struct {
    mode_t mode;
    int owner, group, writer;
    mode_t mask;
    bool existed;
    Plant plant;
    std::string why, after;
    std::vector<unsigned> mode_owner;
  } cases[] = {
      {02775, user, other, user, 022, false, link_to_thesis, "", "new", {0644, user, 65534}},
      {02775, user, other, user, 022, true, link_to_thesis, "", "new", {0640, user, user}},
      {0777, 0, 0, 0, 022, false, own_file, "", "new", {0644, 0, 0}},
      {01777, 0, 0, 0, 022, false, own_file, "", "new", {0644, 0, 0}},
      {01777,
       0,
       0,
       user,
       022,
       false,
       own_file,
       "another user's file" + kept,
       "planted",
       {0666, 65534, 65534}},
      {01777, 0, 0, user, 022, false, link_to_thesis, "another user's link" + kept, "", {}},
      {0777, 0, 0, user, 022, false, own_folder, "another user's folder" + kept, "", {}},
      {01777, 0, 0, user, 077, true, second_name, "", "new", {0666, user, user}},
      {01775,
       0,
       user,
       user,
       022,
       true,
       second_name,
       "the file has another name, and the sticky bit of its folder %s keeps it from being "
       "replaced (which would break the link); %s/first.mtz is not written",
       "old",
       {0666, 0, 0}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.mode) + " " + std::to_string(c.writer) + " " +
                 std::to_string(c.plant));
    Scratch_dir dir;
    const std::string home = made_dir(dir, "home", 0700), pub = made_dir(dir, "pub", 0755),
                      shared = made_dir(dir, "shared", 0);
    const std::string thesis = dir.write("home/thesis.tex", "thesis"),
                      notes = dir.write("pub/notes.txt", "notes"), target = shared + "/out.pdb";
    for (const std::string& path : {home, pub, thesis, notes})
      ASSERT_EQ(chown(path.c_str(), user, user), 0);
    ASSERT_TRUE(chmod(thesis.c_str(), 0600) == 0 && chmod(notes.c_str(), 0666) == 0);
    ASSERT_TRUE(chown(shared.c_str(), c.owner, c.group) == 0 && chmod(shared.c_str(), c.mode) == 0);
    if (c.plant == second_name && c.mode & S_IWOTH) {  // by the other user, as the kernel allows
      EXPECT_EQ(
          in_child([&] { return std::to_string(link(notes.c_str(), target.c_str())); }, other),
          "0");
    } else if (c.plant == second_name) {  // a file of the folder's owner, with a second name
      ASSERT_EQ(chmod(dir.write("shared/out.pdb", "old").c_str(), 0666), 0);
      ASSERT_EQ(link(target.c_str(), (shared + "/second").c_str()), 0);
    } else if (c.existed) {
      ASSERT_EQ(chmod(dir.write("shared/out.pdb", "old").c_str(), 0640), 0);
      ASSERT_EQ(chown(target.c_str(), user, user), 0);
    }
    const auto plant = [&] {
      const bool done =
          in_child(
              [&] {
                rename(target.c_str(), (target + ".was").c_str());
                return std::to_string(
                    c.plant == link_to_thesis ? symlink(thesis.c_str(), target.c_str())
                    : c.plant == own_folder   ? mkdir(target.c_str(), 0755)
                                            : chmod(write_bytes(target, "planted").c_str(), 0666));
              },
              other) == "0";
      EXPECT_TRUE(done);
    };
    // A new output committed before the target.
    const std::string first = shared + "/first.mtz";
    const std::string text =
        run_stopped({first, target}, c.writer == 0 ? -1 : c.writer, c.mask, [&] {
          if (c.plant != second_name) plant();
        });
    char why[1024];
    std::snprintf(why, sizeof why, c.why.c_str(), shared.c_str(), shared.c_str(), shared.c_str());
    EXPECT_EQ(without_kept(text, {"new"}),
              c.why.empty() ? "no error" : "T: cannot write " + target + ": " + why);
    EXPECT_EQ(read_bytes(first), c.why.empty() ? "new" : "");
    EXPECT_EQ(read_bytes(thesis) + read_bytes(notes), "thesisnotes");
    EXPECT_EQ(mode_and_owner(thesis), (std::vector<unsigned>{0600, user, user}));
    if (c.plant == own_folder) {
      EXPECT_TRUE(std::filesystem::is_directory(target));
    } else if (c.mode_owner.empty()) {
      EXPECT_EQ(link_text(target), thesis);
    } else {
      EXPECT_EQ(link_text(target), "no link");
      EXPECT_EQ(read_bytes(target), c.after);
      EXPECT_EQ(mode_and_owner(target), c.mode_owner);
    }
    for (const std::string& name : entries_of(shared)) EXPECT_NE(name.substr(0, 8), ".output.");
  }
}

// A run killed (SIGKILL) once its outputs' new content is written, before
// they are put in place or at the rename of a replaced one, leaves nothing
// beside a new output and at most its private folder beside the replaced
// one, the whole new content in it; killed as it begins to copy into the
// first of two files of two names, it leaves the whole new content of both
// there too, and both files their old length, the room made for the
// copies reserved past their ends. Two runs begun
// together on the same two outputs, new or existing, both succeed, and
// each output holds the whole output of one of them (the later rename
// wins).
TEST(OutputFile, KilledAndConcurrentRuns) {
  const std::string content(3 << 20, 'n');
  enum Kill { before_commit, at_rename, in_copy };
  for (const Kill when : {before_commit, at_rename, in_copy}) {
    SCOPED_TRACE(when);
    Scratch_dir dir;
    const std::string old = dir.write("old.pdb", "old"), fresh = dir.file("new.pdb");
    const std::vector<std::string> copied =
        when == in_copy ? std::vector<std::string>{old, write_bytes(fresh, "old")}
                        : std::vector<std::string>{};
    for (const std::string& file : copied) ASSERT_EQ(link(file.c_str(), (file + "2").c_str()), 0);
    const auto body = [&] {
      Pending_outputs pending("T");
      pending.add(old);
      pending.add(fresh);
      pending.begin();
      put(old, content, &pending);
      put(fresh, content, &pending);
      if (when == before_commit) raise(SIGKILL);
      pending.put_in_place();
    };
    int killed = -1;  // the wait status of a run killed at a rename or a copy's first write
    bool named = false;
    const auto step = [&](const pid_t pid, const long long nr, const bool exit, long long value) {
      named = named || (exit && nr == SYS_linkat && value == 0);
      const bool rename = nr == SYS_renameat || nr == SYS_renameat2;
      if (!exit && (when == at_rename ? rename : when == in_copy && named && nr == SYS_write) &&
          kill(pid, SIGKILL) == 0)
        waitpid(pid, &killed, 0);
    };
    const int traced_status = traced(body, step);
    const int status = when == before_commit ? traced_status : killed;
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    // Beside the old files, a private folder with the whole new content
    // for each output not put in place but a new one.
    std::size_t folders = 0;
    for (const std::string& name : dir.entries())
      if (name.compare(0, 8, ".output.") == 0) {
        ++folders;
        EXPECT_EQ(entries_of(dir.file(name)), std::vector<std::string>{"new"});
        EXPECT_EQ(read_bytes(dir.file(name + "/new")), content);
      }
    EXPECT_EQ(folders, std::size_t(when));
    EXPECT_EQ(dir.entries().size(), folders + (when == in_copy ? 4 : 1));
    EXPECT_EQ(read_bytes(old), "old");
    for (const std::string& file : copied) {
      struct stat st;
      EXPECT_EQ(read_bytes(file), "old");
      EXPECT_TRUE(stat(file.c_str(), &st) == 0 && st.st_blocks * 512 >= off_t(content.size()))
          << file;
    }
  }

  for (const bool existing : {false, true}) {
    SCOPED_TRACE(existing);
    Scratch_dir dir;
    const std::string a = dir.file("a.mtz"), b = dir.file("b.pdb");
    for (const std::string& file : {a, b})
      if (existing) write_bytes(file, "old");
    int begun[2], go[2];
    ASSERT_TRUE(pipe(begun) == 0 && pipe(go) == 0);
    std::vector<pid_t> runs;
    for (const char mark : {'1', '2'}) {
      const pid_t pid = fork();
      if (pid == 0) {
        char byte = 0;
        const std::string text = fatal_text([&] {
          Pending_outputs pending("T");
          pending.add(a);
          pending.add(b);
          pending.begin();
          if (write(begun[1], &mark, 1) != 1 || read(go[0], &byte, 1) != 1) _exit(3);
          for (const std::string& file : {a, b})
            if (put(file, std::string(1 << 20, mark), &pending) != "no error") _exit(4);
          pending.put_in_place();
        });
        _exit(text == "no error" ? 0 : 5);
      }
      runs.push_back(pid);
    }
    char bytes[2];
    ssize_t got = 0;  // a byte from each run once it has begun
    for (ssize_t n = 1; got < 2 && n > 0; got += n) n = read(begun[0], bytes, 2 - std::size_t(got));
    EXPECT_EQ(got, 2);
    EXPECT_EQ(write(go[1], "gg", 2), 2);
    for (const pid_t pid : runs) {
      int status = 0;
      EXPECT_EQ(waitpid(pid, &status, 0), pid);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    for (const int fd : {begun[0], begun[1], go[0], go[1]}) close(fd);
    for (const std::string& file : {a, b}) {
      const std::string now = read_bytes(file);
      EXPECT_TRUE(now == std::string(1 << 20, '1') || now == std::string(1 << 20, '2')) << file;
    }
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.mtz", "b.pdb"}));
  }
}

// Writers in place take turns: while another process holds the file's
// lock, a commit waits (holding the file open) and leaves the file alone;
// then it writes its whole content.
TEST(OutputFile, InPlaceWritersTakeTurns) {
  Scratch_dir dir;
  const std::string target = dir.write("out.mtz", "old");
  ASSERT_EQ(link(target.c_str(), dir.file("second.mtz").c_str()), 0);  // written in place
  const int held = open(target.c_str(), O_RDONLY);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  const std::string content(1 << 20, 'n');
  const pid_t pid = fork();
  if (pid == 0) {
    close(held);  // a lock belongs to the open file, which the child shares
    _exit(put(target, content) == "no error" ? 0 : 4);
  }
  // A wide bound: the child may wait long for a processor on a busy machine.
  bool waiting = false, ended = false;
  int status = 0;
  const auto start = std::chrono::steady_clock::now();
  while (!waiting && !ended &&
         std::chrono::steady_clock::now() - start < std::chrono::seconds(120)) {
    std::error_code error;  // the target open to write it
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    for (const auto& fd : std::filesystem::directory_iterator(fds, error))
      waiting = waiting || link_text(fd.path().string()) == target;
    ended = waitpid(pid, &status, WNOHANG) == pid;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(waiting);
  EXPECT_EQ(read_bytes(target), "old");
  close(held);
  if (!ended) waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(read_bytes(target), content);

  // A reader's lock held when the output begins is named then, in a warning
  // worded as one whatever the writers' prefix of failures; the commit
  // waits for it no longer than allowed, and fails with the pending
  // outputs' prefix (the program's), not the writer's own.
  const int reader = open(target.c_str(), O_RDONLY);
  ASSERT_EQ(flock(reader, LOCK_SH), 0);
  std::string warned, text;
  {
    Quiet_messages quiet;
    Pending_outputs pending("W: write error", 0);  // as a writer's own prefix reads
    pending.add(target);
    pending.begin();
    warned = quiet.text();
    text = fatal_text([&] {
      put(target, "newer", &pending);
      pending.put_in_place();
    });
  }
  close(reader);
  EXPECT_NE(warned.find("W: warning: another process holds a lock on " + target +
                        "; its output waits for it when the run ends"),
            std::string::npos)
      << warned;
  EXPECT_EQ(text, "W: write error: cannot write " + target +
                      ": another process holds a lock on it (waited 0 s); the file is left as it "
                      "was");
  EXPECT_EQ(read_bytes(target), content);

  // Where every lock call fails for another cause (ENOLCK, as on NFS
  // without a lock service; EIO), no lock is waited for: one warning says
  // what failed, and the file is rewritten unlocked.
  for (const auto& [error, why] :
       {std::pair{ENOLCK, "no locks available"}, {EIO, "input/output error"}}) {
    const std::string seen = in_child([&, error = error] {
      if (!failing_call(SYS_flock, unsigned(error))) return std::string("no filter");
      const Quiet_messages quiet;
      Pending_outputs pending("W: write error");
      pending.add(target);
      pending.begin();
      Output_file out(target, "W", &pending);
      out.write("unlocked");
      out.commit();
      pending.put_in_place();  // a failure ends the child
      return quiet.text();
    });
    EXPECT_EQ(seen, "W: warning: cannot lock " + target + ": " + why +
                        "; it is rewritten in place without a lock\n");
    EXPECT_EQ(read_bytes(target), "unlocked");
  }
}

// Run as root with umask 002: a new file in a set-group-ID folder of
// another group gets what a file the system makes there gets (its group
// and mode); a replaced file loses its set-id bits, renamed or copied in
// place (a second name).
TEST(OutputFile, GroupOfTheFolderAndNoSetIdBits) {
  if (geteuid() != 0) GTEST_SKIP() << "needs a folder of another group";
  Scratch_dir dir;
  const std::string project = made_dir(dir, "project", 02770);
  ASSERT_TRUE(chown(project.c_str(), 0, 1234) == 0 && chmod(project.c_str(), 02770) == 0);
  const std::string renamed = dir.write("renamed", "old"), copied = dir.write("copied", "old");
  ASSERT_EQ(link(copied.c_str(), dir.file("second").c_str()), 0);
  for (const std::string& file : {renamed, copied}) ASSERT_EQ(chmod(file.c_str(), 06755), 0);
  const std::string seen = in_child([&] {
    umask(002);
    close(open((project + "/touched").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666));
    return put(project + "/fresh", "new") + put(renamed, "new") + put(copied, "new");
  });
  EXPECT_EQ(seen, "no errorno errorno error");
  EXPECT_EQ(mode_and_owner(project + "/fresh"), (std::vector<unsigned>{0664, 0, 1234}));
  EXPECT_EQ(mode_and_owner(project + "/touched"), (std::vector<unsigned>{0664, 0, 1234}));
  for (const std::string& file : {renamed, copied})
    EXPECT_EQ(mode_and_owner(file), (std::vector<unsigned>{0755, 0, 0})) << file;
  EXPECT_EQ(read_bytes(renamed) + read_bytes(copied), "newnew");
}

// Outputs put in place together: another process that puts its own file
// at a target's name meanwhile is outrun (the later rename wins); a step
// that fails for one (a lock not given up as a reader's, once the time
// allowed is past) leaves every target as it was, and one that fails once
// another is in place (the folder of a new output gone) names it. A
// target on a filesystem made read-only is refused before the output
// begins, and outputs without /proc are refused plainly.
TEST(OutputFile, PendingOutputsFailTogether) {
  enum Change { swapped, locked, folder_gone };
  // Whether both are written in place (second names), what is done to b's
  // target once written, why b fails (and what becomes of each), and a and
  // b after.
  const std::vector<std::tuple<bool, Change, std::string, std::string>> cases = {
      {false, swapped, "", "new anew b"},
      {true, locked,
       "another process holds a lock on it (waited 0 s); the file is left as it was; %a is left "
       "as it was",
       "old aold b"},
      {false, folder_gone,
       "no such file or directory; the new content is lost: no such file or directory; already "
       "replaced: %a",
       "new a"}};
  for (const auto& [in_place, change, why, after] : cases) {
    SCOPED_TRACE(why);
    Scratch_dir dir;
    const std::string a = dir.write("a", "old a"), sub = made_dir(dir, "sub", 0755);
    const std::string b = change == folder_gone ? sub + "/b" : dir.write("b", "old b");
    for (const std::string& file : {a, b})
      ASSERT_TRUE(!in_place || link(file.c_str(), (file + "2").c_str()) == 0);
    const int held = open(b.c_str(), O_RDONLY);
    alarm(120);  // ends the tests should the wait for the lock not end
    const std::string text = fatal_text([&, change = change] {
      Pending_outputs pending("T", 0);
      EXPECT_EQ(put(a, "new a", &pending), "no error");
      Output_file out(b, "T", &pending);
      out.write("new b");
      EXPECT_TRUE(change == swapped
                      ? rename(write_bytes(b + ".x", "other's").c_str(), b.c_str()) == 0
                  : change == locked ? flock(held, LOCK_SH) == 0
                                     : rmdir(sub.c_str()) == 0);
      out.commit();
      pending.put_in_place();
    });
    alarm(0);
    if (held >= 0) close(held);
    std::string said = why;  // %a: a's path
    if (const std::size_t at = said.find("%a"); at != std::string::npos) said.replace(at, 2, a);
    EXPECT_EQ(text, why.empty() ? "no error" : "T: cannot write " + b + ": " + said);
    EXPECT_EQ(read_bytes(a) + read_bytes(b), after);
    EXPECT_EQ(dir.entries().size(), change == folder_gone ? 1u : 3u + 2 * in_place);
  }

  Scratch_dir dir;
  const std::string mnt = made_dir(dir, "mnt", 0755), out = mnt + "/out";
  const std::string seen = in_mount_namespace([&] {
    if (mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=1m") != 0) return std::string("no namespace");
    write_bytes(out, "old");
    mount(nullptr, mnt.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr);
    const std::string text = fatal_text([&] { Output_file file(out, "T"); });
    umount2("/proc", MNT_DETACH);
    return text + "|" + fatal_text([&] { Output_file(dir.file("fresh"), "T"); });
  });
  if (seen == "no namespace") GTEST_SKIP() << "no tmpfs mount here";
  EXPECT_EQ(seen, "T: cannot write " + out + ": read-only file system|T: cannot write " +
                      dir.file("fresh") + ": needs /proc, which is not mounted");
}

// Out of descriptors at any step (ulimit -n): refused with that cause up to
// the limit a write needs, written from it on, and nothing left behind.
TEST(OutputFile, OutOfDescriptorsLeavesNothing) {
  Scratch_dir dir;
  const std::string target = dir.write("out", "old");
  const std::string seen = in_child([&] {
    // A message made once before: the undefined-behaviour sanitizer checks a
    // stream's type on its first use, and needs a descriptor for it.
    put(dir.file("none/out"), "new");
    rlimit limited;
    getrlimit(RLIMIT_NOFILE, &limited);
    limited.rlim_cur = entries_of("/proc/self/fd").size() - 1;  // less its own listing
    std::string text;
    for (int more = 0; more < 8; ++more, ++limited.rlim_cur) {
      if (setrlimit(RLIMIT_NOFILE, &limited) != 0) return std::string("no limit");
      const std::string seen = put(target, "new");
      text += seen.find("T: cannot write " + target + ": ") == 0 &&
                      seen.find("too many open files") != std::string::npos
                  ? "r"
              : seen == "no error" ? "w"
                                   : "|" + seen + "|";
      if (entries_of(dir.path()).size() != 1) text += "|left behind|";
    }
    return text;
  });
  // Reads, then writes: one or more of each, never mixed.
  const std::size_t w = seen.find('w');
  EXPECT_TRUE(w != 0 && w != std::string::npos && seen.find_first_not_of('r') == w &&
              seen.find_first_not_of('w', w) == std::string::npos)
      << seen;
  EXPECT_EQ(read_bytes(target), "new");
}

// A private folder is made for the new content where the filesystem makes
// no files without a name, and for the rename over an existing file. In a
// folder others may write, another user swaps the folder an output has
// just made (the writer stopped right after its mkdir) for one of the
// writer's own: the output is refused, the writer's folder keeps its mode
// and content, and the folder the output made is removed where it was
// moved to.
TEST(OutputFile, AFolderSwappedOnceMadeIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs two users";
  for (const bool unnamed : {false, true}) {
    SCOPED_TRACE(unnamed);
    Scratch_dir dir;
    const std::string shared = made_dir(dir, "shared", 0777),
                      own = made_dir(dir, "shared/own", 0755), out = shared + "/out";
    write_bytes(own + "/keep", "kept");
    if (unnamed) write_bytes(out, "old");
    bool swapped = false;
    const auto swap = [&](pid_t, const long long nr, const bool exit, const long long result) {
      if (swapped || !exit || result != 0 || (nr != SYS_mkdir && nr != SYS_mkdirat)) return;
      swapped =
          in_child(
              [&] {
                for (const std::string& name : entries_of(shared))
                  if (name.compare(0, 8, ".output.") == 0 &&
                      rename((shared + "/" + name).c_str(), (shared + "/stolen").c_str()) == 0 &&
                      rename(own.c_str(), (shared + "/" + name).c_str()) == 0)
                    return std::string("swapped");
                return std::string();
              },
              unprivileged_id) == "swapped";
    };
    traced(
        [&] {
          write_bytes(dir.file("text"),
                      unnamed || without_unnamed_files() ? put(out, "new") : "no filter");
        },
        swap);
    EXPECT_EQ(read_bytes(dir.file("text")),
              "T: cannot write " + out +
                  ": another user moved the private folder made for its new content" +
                  (unnamed ? "; the file is left as it was" : ""));
    EXPECT_TRUE(swapped);
    EXPECT_EQ(read_bytes(out), unnamed ? "old" : "");
    const std::vector<std::string> names = entries_of(shared);
    ASSERT_EQ(names.size(), 1u + unnamed);
    EXPECT_EQ(entries_of(shared + "/" + names[0]), std::vector<std::string>{"keep"});
    EXPECT_EQ(mode_and_owner(shared + "/" + names[0]), (std::vector<unsigned>{0755, 0, 0}));
  }
}

// Another member of a folder others may write without a sticky bit moves
// the private folder an output makes there, and puts a folder of their
// own (holding a file "new") at its name: once the output has named its
// new content in it (slower), or right after the mkdir (faster: for an
// output to replace, when the run puts its outputs in place; for a new
// one, when its new content is to be kept). They also put a folder at the
// second output's name, which fails the run. The message names no folder
// of theirs as holding new content: the new content of an output whose
// folder was moved is said to be lost, and nothing the run made is left,
// neither at the names the other member chose nor in their folders.
TEST(OutputFile, AMovedPrivateFolderIsNeverNamed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs two users: run as root";
  const int writer = 1234, other = 1235, lab = 1240;
  const std::string moved = "another user moved its private folder";
  // The folder's mode, whether a existed, whether the other member acts
  // at each mkdir (else at the first link), and the message after a's
  // and b's names: %a for a's path, %b for b's.
  const std::vector<std::tuple<mode_t, bool, bool, std::string>> cases = {
      {0777, true, false,
       "cannot write %b: another user's folder stands at its name and cannot be replaced; the "
       "new content is kept in %s; %a is left as it was, its new content lost: " +
           moved},
      {02775, true, false,
       "cannot write %b: another user's folder stands at its name and cannot be replaced; the "
       "new content is kept in %s; %a is left as it was, its new content lost: " +
           moved},
      {0777, false, true,
       "cannot write %b: another user's folder stands at its name and cannot be replaced; the "
       "new content is lost: " +
           moved + "; %a is not written, its new content lost: " + moved},
      {02775, true, true,
       "cannot write %a: another user moved the private folder made for its new content; the "
       "file is left as it was; %b is not written"}};
  for (const auto& [mode, existed, at_mkdir, message] : cases) {
    SCOPED_TRACE(std::to_string(mode) + " " + std::to_string(existed + 2 * at_mkdir));
    Scratch_dir dir;
    const std::string shared = made_dir(dir, "shared", 0), a = shared + "/a", b = shared + "/b";
    ASSERT_TRUE(chown(shared.c_str(), 0, lab) == 0 && chmod(shared.c_str(), mode) == 0);
    if (existed) {
      ASSERT_EQ(chown(write_bytes(a, "old").c_str(), writer, lab), 0);
    }
    // The other member's moves (move_private_folders), and a folder at b's
    // name.
    int moves = 0;
    bool planted = false;
    const auto step = [&](pid_t, const long long nr, const bool exit, const long long result) {
      if (!exit && nr == SYS_fsync && !planted)
        planted =
            in_child([&] { return std::to_string(mkdir(b.c_str(), 0755)); }, other, lab) == "0";
      const bool made = nr == SYS_mkdir || nr == SYS_mkdirat;
      if (exit && result == 0 && (at_mkdir ? made : nr == SYS_linkat && moves == 0))
        moves += move_private_folders(shared, writer, other, lab);
    };
    const std::string text = traced_text(
        writer, lab,
        [&] {
          return fatal_text([&] {
            Pending_outputs pending("T");
            for (const std::string& target : {a, b}) pending.add(target);
            pending.begin();
            for (const std::string& target : {a, b}) put(target, "new", &pending);
            pending.put_in_place();
          });
        },
        step);
    std::string said = "T: " + message;
    for (const auto& [mark, path] : {std::pair{"%a", a}, {"%b", b}, {"%s", shared}})
      if (const std::size_t at = said.find(mark); at != std::string::npos)
        said.replace(at, 2, path);
    EXPECT_EQ(without_kept(text, {"new"}), said);
    EXPECT_TRUE(planted);
    EXPECT_GE(moves, 1);
    EXPECT_EQ(read_bytes(a), existed ? "old" : "");
    // Left: a, the other member's folders, and in each of theirs only
    // their own file.
    for (const std::string& name : entries_of(shared)) {
      SCOPED_TRACE(name);
      const std::string path = shared + "/" + name;
      EXPECT_EQ(mode_and_owner(path)[1], unsigned(name == "a" ? writer : other));
      if (name.compare(0, 8, ".output.") == 0) {
        EXPECT_EQ(entries_of(path), std::vector<std::string>{"new"});
        EXPECT_EQ(read_bytes(path + "/new"), "planted");
      }
    }
  }
}

// A file rewritten in place from a private folder in $TMPDIR, shared
// without a sticky bit (the file's own folder closed to the writer).
// Another member moves that folder away and puts one of their own at its
// name: once room is made in the file, just before the copy, or as the
// copy's first write begins. Moved before, the copy does not start, even
// where its first write would fail: the file is left as it was, the
// message says why, and nothing the run made is left. Moved during it, a
// copy that fails once bytes are written (at its second write) leaves the
// new content where the folder went, named in the message; one that fails
// at its first write leaves the file as it was and removes what the run
// made, and so does one that comes through, the file written.
TEST(OutputFile, APrivateFolderMovedAroundACopyInPlace) {
  if (geteuid() != 0) GTEST_SKIP() << "needs two users: run as root";
  const int writer = 1234, other = 1235, lab = 1240;
  const std::string content(65536 + 7, 'n'),
      lost =
          "; the file is left as it was; the new content is lost: another user moved its "
          "private folder";
  // Whether the other member acts as the copy's first write begins (else
  // once room is made), the size of the write that fails (0: none), the
  // message (%t the target, %s $TMPDIR; "" for none), the file after, and
  // whether the new content is kept where the folder went.
  const std::vector<std::tuple<bool, long, std::string, std::string, bool>> cases = {
      {false, 65536, "another user moved the private folder made for its new content" + lost, "old",
       false},
      {true, 7,
       "input/output error; the file is left empty; the new content is kept in %s/stolen0/new "
       "(another user moved its private folder there)",
       "", true},
      {true, 65536, "input/output error" + lost, "old", false},
      {true, 0, "", content, false}};
  for (const auto& [at_write, failing, message, after, kept] : cases) {
    SCOPED_TRACE(std::to_string(at_write) + " " + std::to_string(failing));
    Scratch_dir dir;
    const std::string closed = made_dir(dir, "closed", 0755),
                      shared = made_dir(dir, "shared", 0777), target = closed + "/out";
    ASSERT_EQ(chmod(write_bytes(target, "old").c_str(), 0666), 0);
    int moves = 0;
    bool room = false;
    const auto step = [&, at_write = at_write](pid_t, const long long nr, const bool exit,
                                               long long) {
      room = room || (exit && nr == SYS_fallocate);
      if (room && moves == 0 && (at_write ? !exit && nr == SYS_write : exit))
        moves += move_private_folders(shared, writer, other, lab);
    };
    const std::string text = traced_text(
        writer, lab,
        [&, failing = failing] {
          setenv("TMPDIR", shared.c_str(), 1);
          return said([&] {
            Output_file out(target, "T");
            out.write(content);
            if (failing == 0 || failing_calls({{SYS_write, EIO, failing}})) out.commit();
          });
        },
        step);
    std::string expected = message.empty() ? "no error" : "T: cannot write %t: " + message;
    for (const auto& [mark, path] : {std::pair{"%t", target}, {"%s", shared}})
      if (const std::size_t at = expected.find(mark); at != std::string::npos)
        expected.replace(at, 2, path);
    EXPECT_EQ(text, expected);
    EXPECT_EQ(moves, 1);
    EXPECT_EQ(read_bytes(target), after);
    // Left: the other member's folder, its own file alone in it, and the
    // writer's moved folder only where it keeps the new content.
    const std::vector<std::string> names = entries_of(shared);
    ASSERT_FALSE(names.empty());
    std::vector<std::string> left = {names[0]};
    EXPECT_EQ(read_bytes(shared + "/" + left[0] + "/new"), "planted");
    if (kept) {
      left.push_back("stolen0");
      EXPECT_EQ(entries_of(shared + "/stolen0"), std::vector<std::string>{"new"});
      EXPECT_EQ(read_bytes(shared + "/stolen0/new"), content);
    }
    EXPECT_EQ(names, left);
  }
}

// Outputs put in place together: a signal that ends the process (SIGPIPE
// too, as a reader of its standard output gone sends it), sent right
// after the first link, waits until the second is in place; the folder is
// flushed (fsync) once the outputs are there.
TEST(OutputFile, OutputsArePutInPlaceWhole) {
  for (const int sig : {SIGTERM, SIGPIPE}) {
    SCOPED_TRACE(sig);
    Scratch_dir dir;
    const std::string a = dir.write("a", "old"), b = dir.file("b");
    int renames = 0;
    bool flushed = false;
    const auto step = [&](const pid_t pid, const long long nr, const bool exit,
                          const long long value) {
      // a's content is linked under a hidden name and renamed over a; b's,
      // new, is linked to b.
      const bool placing = nr == SYS_renameat2 || nr == SYS_renameat || nr == SYS_linkat;
      if (exit && value == 0 && placing && ++renames == 1) kill(pid, sig);
      flushed = flushed || (!exit && nr == SYS_fsync && renames == 3 &&
                            link_text("/proc/" + std::to_string(pid) + "/fd/" +
                                      std::to_string(value)) == dir.path());
    };
    const int status = traced(
        [&] {
          Pending_outputs pending("T");
          put(a, "new a", &pending);
          put(b, "new b", &pending);
          pending.put_in_place();
        },
        step);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    EXPECT_EQ(renames, 3);
    EXPECT_TRUE(flushed);
    EXPECT_EQ(read_bytes(a) + read_bytes(b), "new anew b");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a", "b"}));
  }
}
