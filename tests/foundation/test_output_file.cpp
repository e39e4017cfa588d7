#include "foundation/output_file.h"

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

#include "foundation/file_access.h"
#include "support/testing.h"

using namespace vantrel;
using vantrel_testing::as_unprivileged;
using vantrel_testing::entries_of;
using vantrel_testing::fatal_text;
using vantrel_testing::link_text;
using vantrel_testing::mode_and_owner;
using vantrel_testing::read_bytes;
using vantrel_testing::Scratch_dir;
using vantrel_testing::unprivileged_id;
using vantrel_testing::write_bytes;

namespace {

// A directory in dir with just the given mode, whatever the umask.
std::string made_dir(const Scratch_dir& dir, const std::string& name, const mode_t mode) {
  const std::string path = dir.file(name);
  EXPECT_TRUE(mkdir(path.c_str(), 0) == 0 && chmod(path.c_str(), mode) == 0) << path;
  return path;
}

// What f returns when run in a child process as uid and gid, without
// supplementary groups ("child failed" when it could not be run so).
std::string as_user(const uid_t uid, const gid_t gid, const std::function<std::string()>& f) {
  int fds[2];
  if (pipe(fds) != 0) return "no pipe";
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) _exit(3);
    const std::string text = f();
    _exit(write(fds[1], text.data(), text.size()) == ssize_t(text.size()) ? 0 : 4);
  }
  close(fds[1]);
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? text : "child failed";
}

// What f returns when run in a child process.
std::string in_child(const std::function<std::string()>& f) {
  int fds[2];
  if (pipe(fds) != 0) return "no pipe";
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const std::string text = f();
    _exit(write(fds[1], text.data(), text.size()) == ssize_t(text.size()) ? 0 : 4);
  }
  close(fds[1]);
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? text : "child failed";
}

// The access (rwx as 0 to 7) that the system grants uid and gid to path.
unsigned access_of(const std::string& path, const uid_t uid, const gid_t gid) {
  const std::string seen = as_user(uid, gid, [&] {
    unsigned granted = 0;
    for (const auto& [flag, bit] : {std::pair{R_OK, 4u}, std::pair{W_OK, 2u}, std::pair{X_OK, 1u}})
      granted |= access(path.c_str(), flag) == 0 ? bit : 0;
    return std::to_string(granted);
  });
  return seen == "child failed" ? 99 : unsigned(std::stoi(seen));
}

// An access list as the system stores it, from (tag, permissions, id)
// entries; an id of -1 for the entries that name no one.
std::string acl_bytes(const std::vector<std::array<unsigned, 3>>& entries) {
  std::string bytes = {2, 0, 0, 0};
  for (const auto& [tag, perm, id] : entries)
    for (const unsigned v : {tag, tag >> 8, perm, perm >> 8, id, id >> 8, id >> 16, id >> 24})
      bytes += char(v & 0xff);
  return bytes;
}
constexpr unsigned none = 0xffffffff;

std::string acl_of(const std::string& path, const char* name = "system.posix_acl_access") {
  char bytes[1024];
  const ssize_t n = getxattr(path.c_str(), name, bytes, sizeof bytes);
  return n > 0 ? std::string(bytes, std::size_t(n)) : "";
}

// Writes bytes through an output to target and puts it in place.
void write_output(const std::string& target, const std::string& bytes) {
  Output_file out(target, "T");
  out.write(bytes);
  out.commit();
}

ino_t inode_of(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

}  // namespace

// The output replaces its target only on commit, through a private folder
// beside it that goes with the output; a library writing by name reaches
// the new content through path(). Nothing else beside the target changes.
TEST(OutputFile, ReplacesOnlyItsTarget) {
  Scratch_dir dir;
  const std::string target = dir.file("out.mtz"), bystander = dir.file("out.mtz.partial");
  write_bytes(target, "old");
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  write_bytes(bystander, "someone else's");
  ASSERT_EQ(symlink("self.mtz", dir.file("self.mtz").c_str()), 0);
  {
    Output_file out(target, "T");
    EXPECT_EQ(out.path().compare(0, 14, "/proc/self/fd/"), 0);
    EXPECT_EQ(out.folder(), dir.path());
    EXPECT_EQ(dir.entries().size(), 4u);  // the private folder besides
    write_bytes(out.path(), "new");
    EXPECT_EQ(read_bytes(target), "old");
    out.commit();
  }
  EXPECT_EQ(read_bytes(target), "new");
  EXPECT_EQ(read_bytes(bystander), "someone else's");
  EXPECT_EQ(mode_and_owner(target)[0], 0640u);
  {
    Output_file abandoned(target, "T");
    write_bytes(abandoned.path(), "half");
  }
  EXPECT_EQ(read_bytes(target), "new");
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"out.mtz", "out.mtz.partial", "self.mtz"}));
  const std::vector<std::pair<std::string, std::string>> refused = {
      {dir.file("nodir/x"), "no such file or directory"},
      {dir.file("self.mtz"), "too many levels of symbolic links"},
      {dir.path(), "not a regular file"}};
  for (const auto& [path, why] : refused)
    EXPECT_EQ(fatal_text([&] { Output_file out(path, "T"); }), "T: cannot write " + path + ": " + why);
}

// An output named through a link (relative to the link's own directory,
// absolute, a chain, or one leading to no file yet) writes the file the link
// leads to, with the private folder beside that file; the links stay links.
TEST(OutputFile, LinkedOutputsWriteTheFileTheLinkLeadsTo) {
  Scratch_dir dir;
  const std::string real = dir.write("real.mtz", "old"), sub = dir.file("sub");
  ASSERT_EQ(chmod(real.c_str(), 0640), 0);
  ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
  // Link name, link text, the file written.
  const std::vector<std::array<std::string, 3>> cases = {
      {"rel.mtz", "real.mtz", real},
      {"abs.mtz", real, real},
      {"chain.mtz", "abs.mtz", real},
      {"sub/up.mtz", "../real.mtz", real},
      {"dangling.mtz", "sub/fresh.mtz", dir.file("sub/fresh.mtz")}};
  for (const auto& [name, text, file] : cases)
    ASSERT_EQ(symlink(text.c_str(), dir.file(name).c_str()), 0) << name;
  for (const auto& [name, text, file] : cases) {
    SCOPED_TRACE(name);
    const std::string link = dir.file(name);
    EXPECT_EQ(fatal_text([&] { Files::check_output(link, "T"); }), "no error");
    {
      Output_file out(link, "T");
      EXPECT_TRUE(Files::same_file(out.folder(), Files::directory_of(file)));
      out.write("new " + name);
      out.commit();
    }
    EXPECT_EQ(link_text(link), text);
    EXPECT_EQ(read_bytes(file), "new " + name);
  }
  EXPECT_EQ(mode_and_owner(real)[0], 0640u);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"abs.mtz", "chain.mtz", "dangling.mtz",
                                                     "real.mtz", "rel.mtz", "sub"}));
  EXPECT_EQ(entries_of(sub), (std::vector<std::string>{"fresh.mtz", "up.mtz"}));
}

// An existing file the user may write, in a directory the user may not
// write (also through a link from elsewhere), is written in place: the
// private folder lies in $TMPDIR, the file keeps its owner and permissions,
// and until commit it is untouched. What needs the directory is refused.
TEST(OutputFile, WritableFileInAClosedDirectoryIsWrittenInPlace) {
  Scratch_dir dir;
  const bool root = geteuid() == 0;
  const std::string closed = made_dir(dir, "closed", 0755), tmp = made_dir(dir, "tmp", 0777);
  const std::string out = dir.write("closed/out.mtz", "old"),
                    kept = dir.write("closed/kept.mtz", "keep"), fresh = closed + "/new.mtz",
                    link = tmp + "/link.mtz";
  ASSERT_EQ(symlink("../closed/out.mtz", link.c_str()), 0);
  for (const auto& [file, mode] : {std::pair{out, 0640}, std::pair{kept, 0444}}) {
    ASSERT_EQ(chmod(file.c_str(), mode_t(mode)), 0);
    if (root) {
      ASSERT_EQ(chown(file.c_str(), unprivileged_id, unprivileged_id), 0);
    }
  }
  if (!root) {
    ASSERT_EQ(chmod(closed.c_str(), 0555), 0);
  }
  const std::vector<unsigned> was = mode_and_owner(out);
  const std::vector<std::string> in_closed = entries_of(closed);

  const std::string seen = as_unprivileged([&] {
    setenv("TMPDIR", tmp.c_str(), 1);
    std::string text;
    for (const std::string& path : {out, link, kept, fresh})
      text += fatal_text([&] { Files::check_output(path, "T"); }) + "\n";
    for (const std::string& path : {out, link}) {
      Output_file file(path, "T");
      text += file.folder() + "\n";
      write_bytes(file.path(), "new through " + path);
      text += read_bytes(out) + "\n";  // untouched before commit
      file.commit();
      text += read_bytes(out) + "\n";
    }
    {
      Output_file abandoned(out, "T");
      write_bytes(abandoned.path(), "half");
    }
    text += read_bytes(out) + "\n";
    text += fatal_text([&] { Output_file file(fresh, "T"); }) + "\n";
    unsetenv("TMPDIR");
    return text;
  });
  if (!root) {
    ASSERT_EQ(chmod(closed.c_str(), 0755), 0);
  }
  const std::string denied = "permission denied";
  // The checks of the file, a link to it, a read-only file and a new file;
  // for the file and the link: where the private folder lies, and the file
  // before and after commit; the file after an output abandoned; a new file.
  const std::vector<std::string> lines = {
      "no error",
      "no error",
      "T: cannot write " + kept + ": " + denied,
      "T: cannot write " + fresh + ": directory " + closed + ": " + denied,
      tmp,
      "old",
      "new through " + out,
      tmp,
      "new through " + out,
      "new through " + link,
      "new through " + link,
      "T: cannot write " + fresh + ": " + denied};
  std::string expected;
  for (const std::string& line : lines) expected += line + "\n";
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(read_bytes(out), "new through " + link);
  EXPECT_EQ(mode_and_owner(out), was);
  EXPECT_EQ(link_text(link), "../closed/out.mtz");
  EXPECT_EQ(read_bytes(kept), "keep");
  EXPECT_EQ(entries_of(closed), in_closed);
  EXPECT_EQ(entries_of(tmp), std::vector<std::string>{"link.mtz"});
}

// A file written in place without room for its new content (a file size
// limit, as a full filesystem) keeps what it held. A write that fails once
// room is found leaves it empty, and the whole output in the private
// folder, named in the message. The limit's signal is left at its default:
// the output turns it into a failed write.
TEST(OutputFile, InPlaceWriteWithoutRoomLeavesTheFileAsItWas) {
  Scratch_dir dir;
  const std::string closed = made_dir(dir, "closed", 0755), tmp = made_dir(dir, "tmp", 0777);
  const std::string big(5000, 'n');
  // Name, old content, new content, what the file holds after, the message's end.
  const std::vector<std::array<std::string, 5>> cases = {
      {"a", "old", big, "old", "the file is left as it was"},
      {"b", std::string(8000, 'o'), big, "", "the new content is kept in " + tmp},
      {"c", "old", "", "", ""}};
  for (const auto& c : cases) ASSERT_EQ(chmod(dir.write("closed/" + c[0], c[1]).c_str(), 0666), 0);
  ASSERT_EQ(chmod(closed.c_str(), 0555), 0);
  for (const auto& [name, old, now, after, why] : cases) {
    std::string message = as_unprivileged([&] {
      setenv("TMPDIR", tmp.c_str(), 1);
      signal(SIGXFSZ, SIG_DFL);
      struct rlimit was;
      getrlimit(RLIMIT_FSIZE, &was);
      const std::string text = fatal_text([&] {
        Output_file file(closed + "/" + name, "T");
        write_bytes(file.path(), now);
        const struct rlimit limited = {4096, was.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limited);
        file.commit();
      });
      setrlimit(RLIMIT_FSIZE, &was);
      return text;
    });
    const std::size_t kept = message.find(tmp + "/");
    if (kept != std::string::npos) {
      const std::string file = message.substr(kept);
      EXPECT_EQ(file.compare(file.size() - 4, 4, "/new"), 0) << file;
      EXPECT_EQ(read_bytes(file), now);
      std::remove(file.c_str());
      rmdir(Files::directory_of(file).c_str());
      message.resize(kept + tmp.size());
    }
    EXPECT_EQ(message, why.empty()
                           ? "no error"
                           : "T: cannot write " + closed + "/" + name + ": file too large; " + why);
    EXPECT_EQ(read_bytes(closed + "/" + name), after) << name;
  }
  ASSERT_EQ(chmod(closed.c_str(), 0755), 0);
  EXPECT_EQ(entries_of(tmp), std::vector<std::string>{});
}

// A reservation that fails may still grow the file (ext4 keeps what it
// could allocate): the file is cut back and holds what it held. Run on a
// small ext4 filesystem mounted in a mount namespace of a child process.
TEST(OutputFile, FailedReservationLeavesTheFileAsItWas) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a filesystem";
  Scratch_dir dir;
  const std::string tmp = made_dir(dir, "tmp", 0777), mnt = made_dir(dir, "mnt", 0755);
  const std::string image = dir.file("fs.img"), target = mnt + "/closed/out";
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
      _exit(77);
    const std::string setup = "truncate -s 4M " + image + " && mkfs.ext4 -q -F " + image +
                              " >/dev/null 2>&1 && mount -o loop " + image + " " + mnt +
                              " 2>/dev/null";
    if (std::system(setup.c_str()) != 0) _exit(77);
    if (mkdir((mnt + "/closed").c_str(), 0755) != 0) _exit(5);
    write_bytes(target, "old");
    chmod(target.c_str(), 0666);
    const std::string text = as_unprivileged([&] {
      setenv("TMPDIR", tmp.c_str(), 1);
      return fatal_text([&] { write_output(target, std::string(3 << 20, 'n')); });
    });
    const std::string seen = text + "\n" + read_bytes(target);
    _exit(write(fds[1], seen.data(), seen.size()) == ssize_t(seen.size()) ? 0 : 6);
  }
  close(fds[1]);
  std::string seen;
  char buffer[256];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) seen.append(buffer, n);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "no loop mount here";
  EXPECT_EQ(seen, "T: cannot write " + target +
                      ": no space left on device; the file is left as it was\nold");
  EXPECT_EQ(entries_of(tmp), std::vector<std::string>{});
}

// A file replaced by rename keeps its owner and group where the writer may
// set them, its permissions and its access control list. In a sticky
// directory (as /tmp) a user may write another user's file but not rename
// over it: that file is written in place, the user's own replaced.
TEST(OutputFile, ReplacedFileKeepsOwnerGroupAndAccess) {
  if (geteuid() != 0) GTEST_SKIP() << "needs files of two users";
  Scratch_dir dir;
  made_dir(dir, "open", 0777);
  made_dir(dir, "sticky", 01777);
  // owner rw, user 65534 rw, owning group r, mask rw, others none.
  const std::string acl = acl_bytes(
      {{0x01, 6, none}, {0x02, 6, 65534}, {0x04, 4, none}, {0x10, 6, none}, {0x20, 0, none}});
  const unsigned nobody = unprivileged_id;
  // File, written by root or not, replaced or written in place; mode, owner
  // and group before and after; its access list. Where nobody takes root's
  // file, each class keeps no more than nobody and the old classes had.
  const struct {
    std::string name;
    bool by_root, replaced;
    std::vector<unsigned> before, after;
    std::string acl;
  } cases[] = {{"open/roots", false, true, {0665, 0, 0}, {0544, nobody, nobody}, ""},
               {"sticky/roots", false, false, {0666, 0, 0}, {0666, 0, 0}, ""},
               {"sticky/own", false, true, {0640, nobody, nobody}, {0640, nobody, nobody}, ""},
               {"open/listed", true, true, {0660, nobody, nobody}, {0660, nobody, nobody}, acl}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir.write(c.name, "old");
    ASSERT_EQ(chown(file.c_str(), c.before[1], c.before[2]), 0);
    ASSERT_EQ(chmod(file.c_str(), c.before[0]), 0);
    if (!c.acl.empty() &&
        setxattr(file.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0)
      GTEST_SKIP() << "no access lists here";  // the last case
    const ino_t was = inode_of(file);
    const auto write = [&] {
      write_output(file, "new");
      return read_bytes(file);
    };
    EXPECT_EQ(c.by_root ? write() : as_unprivileged(write), "new");
    EXPECT_EQ(mode_and_owner(file), c.after);
    EXPECT_EQ(inode_of(file) != was, c.replaced);
    EXPECT_EQ(acl_of(file), c.acl);
  }
}

// Where the owner or group cannot be kept (another user's file replaced in
// the writer's own folder), no user gains access: the system's own verdict
// for each user before and after, among them the old owner, a member of the
// old group, a member of the writer's group, a user the list names, and
// the writer.
TEST(OutputFile, NoUserGainsAccessWhenOwnerOrGroupChange) {
  if (geteuid() != 0) GTEST_SKIP() << "needs files of several users";
  Scratch_dir dir;
  const std::string own = made_dir(dir, "own", 0755);
  ASSERT_EQ(chown(own.c_str(), unprivileged_id, unprivileged_id), 0);
  // Owner rw, user 1240 rw, owning group rw, mask rw, others r.
  const std::string listed = acl_bytes(
      {{0x01, 6, none}, {0x02, 6, 1240}, {0x04, 6, none}, {0x10, 6, none}, {0x20, 4, none}});
  const std::vector<std::pair<uid_t, gid_t>> users = {
      {1234, 1234}, {1235, 1234}, {1236, 1236}, {1240, 1240}, {1241, 65534}, {65534, 65534}};
  // Old mode, its list, the new mode (nobody's file then).
  const std::vector<std::tuple<mode_t, std::string, mode_t>> cases = {
      {0606, "", 0600}, {0066, "", 0600}, {0666, "", 0666}, {0664, listed, 0464}};
  for (const auto& [mode, acl, after] : cases) {
    SCOPED_TRACE(std::to_string(mode) + (acl.empty() ? "" : " listed"));
    const std::string file = dir.write("own/out", "old");
    ASSERT_EQ(chown(file.c_str(), 1234, 1234), 0);
    ASSERT_EQ(chmod(file.c_str(), mode), 0);
    if (!acl.empty() && setxattr(file.c_str(), "system.posix_acl_access", acl.data(), acl.size(),
                                 0) != 0)
      GTEST_SKIP() << "no access lists here";
    std::vector<unsigned> before;
    for (const auto& [uid, gid] : users) before.push_back(access_of(file, uid, gid));
    EXPECT_EQ(as_unprivileged([&] { return fatal_text([&] { write_output(file, "new"); }); }),
              "no error");
    EXPECT_EQ(read_bytes(file), "new");
    EXPECT_EQ(mode_and_owner(file), (std::vector<unsigned>{unsigned(after), unprivileged_id,
                                                           unprivileged_id}));
    for (std::size_t u = 0; u < users.size(); ++u)
      EXPECT_EQ(access_of(file, users[u].first, users[u].second) & ~before[u], 0u)
          << "user " << users[u].first << " had " << before[u];
    std::remove(file.c_str());
  }
}

// A folder's default access list reaches new files, but never a file that
// replaces one without a list: the new content is made in a folder with
// no list of its own.
TEST(OutputFile, InheritedAccessListsGrantNothingNew) {
  if (geteuid() != 0) GTEST_SKIP() << "needs another user to read";
  Scratch_dir dir;
  const std::string shared = made_dir(dir, "shared", 0755);
  const std::string kept = dir.write("shared/kept.txt", "old");
  ASSERT_EQ(chmod(kept.c_str(), 0640), 0);
  // As setfacl -d -m u:nobody:rw: owner rwx, nobody rw, group r-x, mask rwx, others none.
  const std::string defaults = acl_bytes(
      {{0x01, 7, none}, {0x02, 6, 65534}, {0x04, 5, none}, {0x10, 7, none}, {0x20, 0, none}});
  if (setxattr(shared.c_str(), "system.posix_acl_default", defaults.data(), defaults.size(), 0) != 0)
    GTEST_SKIP() << "no access lists here";
  // File, what nobody may do with it after, and whether it has a list.
  const std::vector<std::tuple<std::string, unsigned, bool>> cases = {
      {kept, 0, false}, {shared + "/fresh.txt", 6, true}};
  for (const auto& [file, nobody, has_list] : cases) {
    SCOPED_TRACE(file);
    write_output(file, "new");
    EXPECT_EQ(read_bytes(file), "new");
    EXPECT_EQ(access_of(file, unprivileged_id, unprivileged_id), nobody);
    EXPECT_EQ(!acl_of(file).empty(), has_list);
  }
  EXPECT_EQ(mode_and_owner(kept)[0], 0640u);
}

// Another user who may write the output's folder swaps every entry there
// (but the target) for a link to a file of the writer's while the output
// is under way; nothing but the target changes, and it gets the whole
// output with its own permissions.
TEST(OutputFile, AnotherUserCannotSteerTheOutput) {
  if (geteuid() != 0) GTEST_SKIP() << "needs two users";
  // Writer and the other user.
  const std::vector<std::pair<uid_t, uid_t>> cases = {{0, 65534}, {65534, 65533}};
  for (const auto& [writer, other] : cases) {
    SCOPED_TRACE(writer);
    Scratch_dir dir;
    const std::string shared = made_dir(dir, "shared", 0777), hidden = made_dir(dir, "hidden", 0700);
    const std::string precious = dir.write("hidden/precious", "precious"),
                      target = dir.write("shared/out.mtz", "old");
    for (const std::string& path : {hidden, precious, target})
      ASSERT_EQ(chown(path.c_str(), writer, writer), 0);
    ASSERT_TRUE(chmod(precious.c_str(), 0600) == 0 && chmod(target.c_str(), 0640) == 0);
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
    // Each entry, and each one inside an entry the other user may enter.
    const std::string swapped = as_user(other, other, [&] {
      int n = 0;
      const auto swap = [&](const std::string& folder, const std::string& name) {
        const std::string path = folder + "/" + name;
        n += rename(path.c_str(), (folder + "/stolen" + name).c_str()) == 0 &&
             symlink(precious.c_str(), path.c_str()) == 0;
      };
      for (const std::string& name : entries_of(shared)) {
        if (name == "out.mtz") continue;
        std::error_code error;
        for (const auto& inner : std::filesystem::directory_iterator(shared + "/" + name, error))
          swap(shared + "/" + name, inner.path().filename().string());
        swap(shared, name);
      }
      return std::to_string(n);
    });
    EXPECT_EQ(swapped, "1");
    kill(pid, SIGCONT);
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(read_bytes(precious), "precious");
    EXPECT_EQ(mode_and_owner(precious), (std::vector<unsigned>{0600, writer, writer}));
    EXPECT_EQ(mode_and_owner(hidden), (std::vector<unsigned>{0700, writer, writer}));
    EXPECT_EQ(read_bytes(target), "new");
    EXPECT_EQ(mode_and_owner(target), (std::vector<unsigned>{0640, writer, writer}));
  }
}

// A file of several names is rewritten in place, so that every name sees
// the new content, wherever the other names lie.
TEST(OutputFile, HardLinkedOutputIsRewrittenInPlace) {
  Scratch_dir dir;
  made_dir(dir, "other", 0755);
  for (const std::string name : {"same.mtz", "other/away.mtz"}) {
    SCOPED_TRACE(name);
    const std::string target = dir.write("out.mtz", "old"), second = dir.file(name);
    ASSERT_EQ(link(target.c_str(), second.c_str()), 0);
    const ino_t was = inode_of(target);
    write_output(target, "new for " + name);
    EXPECT_EQ(read_bytes(second), "new for " + name);
    EXPECT_EQ(inode_of(target), was);
    std::remove(second.c_str());
    std::remove(target.c_str());
  }
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"other"});
}

// Writers in place take turns: while another process holds the file's
// lock, a commit waits (the system lists it as waiting for the lock) and
// leaves the file alone; then it writes its whole content.
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
    _exit(fatal_text([&] { write_output(target, content); }) == "no error" ? 0 : 4);
  }
  // A wide bound: the child may wait long for a processor on a busy machine.
  bool waiting = false, ended = false;
  int status = 0;
  const auto start = std::chrono::steady_clock::now();
  while (!waiting && !ended && std::chrono::steady_clock::now() - start < std::chrono::seconds(120)) {
    const std::string locks = read_bytes("/proc/locks");
    waiting = locks.find("-> FLOCK  ADVISORY  WRITE " + std::to_string(pid) + " ") !=
              std::string::npos;
    ended = waitpid(pid, &status, WNOHANG) == pid;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(waiting);
  EXPECT_EQ(read_bytes(target), "old");
  close(held);
  if (!ended) waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(read_bytes(target), content);
}

// A write that fails (here past a file size limit, its signal at the
// default) is fatal, naming the output as given whatever its characters,
// and the folder where its new content was written; the target stays.
TEST(OutputFile, FailedWritesNameTheOutput) {
  Scratch_dir dir;
  const std::string old = dir.write("with\nnewline.mtz", "old");
  const std::string fresh = dir.file("fresh.mtz");
  const std::string why = "writing its new content in " + dir.path() + " failed: file too large";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {old, why + "; the file is left as it was"}, {fresh, why}};
  for (const auto& [target, message] : cases) {
    const std::string seen = in_child([&] {
      signal(SIGXFSZ, SIG_DFL);
      const struct rlimit limited = {4096, RLIM_INFINITY};
      setrlimit(RLIMIT_FSIZE, &limited);
      const std::string text = fatal_text([&] { write_output(target, std::string(10000, 'n')); });
      return text + "|" + Output_file::last_failure(target);
    });
    EXPECT_EQ(seen, "T: cannot write " + target + ": " + message + "|" + message);
  }
  EXPECT_EQ(read_bytes(old), "old");
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"with\nnewline.mtz"});
}

// Names as long as a folder holds fit: the new content's name does not
// grow with the target's; a longer name is refused by the probe, which
// leaves nothing behind.
TEST(OutputFile, LongNamesFit) {
  Scratch_dir dir;
  const std::string longest = dir.file(std::string(255, 'x')), longer = dir.file(std::string(256, 'x'));
  for (const std::string& target : {longest, longest}) {  // new, then replaced
    EXPECT_EQ(fatal_text([&] { Output_file::probe(target, "T"); }), "no error");
    EXPECT_EQ(fatal_text([&] { write_output(target, "new"); }), "no error");
  }
  EXPECT_EQ(read_bytes(longest), "new");
  EXPECT_EQ(fatal_text([&] { Output_file::probe(longer, "T"); }),
            "T: cannot write " + longer + ": file name too long");
  EXPECT_EQ(dir.entries(), std::vector<std::string>{std::string(255, 'x')});
}

// Outputs committed while a hold exists are put in place together by its
// release; a hold that ends without release replaces nothing.
TEST(OutputFile, HeldOutputsArePutInPlaceTogether) {
  Scratch_dir dir;
  const std::string a = dir.write("a.mtz", "old a"), b = dir.file("b.pdb");
  {
    Outputs_held held;
    write_output(a, "new a");
    write_output(b, "new b");
    EXPECT_EQ(read_bytes(a), "old a");
    EXPECT_EQ(dir.entries().size(), 3u);  // a.mtz and the two private folders
    held.release();
  }
  EXPECT_EQ(read_bytes(a), "new a");
  EXPECT_EQ(read_bytes(b), "new b");
  {
    Outputs_held held;
    write_output(a, "newer a");
    write_output(b, "newer b");
  }
  EXPECT_EQ(read_bytes(a), "new a");
  EXPECT_EQ(read_bytes(b), "new b");
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.mtz", "b.pdb"}));
}
