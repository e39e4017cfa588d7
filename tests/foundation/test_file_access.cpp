#include "foundation/file_access.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdlib>
#include <functional>

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

TEST(FileAccess, InputsMustBeReadableRegularFiles) {
  Scratch_dir dir;
  const std::string plain = dir.file("a.txt"), fifo = dir.file("pipe");
  write_bytes(plain, "x");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string missing = dir.file("none");
  EXPECT_EQ(fatal_text([&] { Files::check_input(plain, "T"); }), "no error");
  EXPECT_EQ(fatal_text([&] { Files::check_input(missing, "T"); }),
            "T: cannot read " + missing + ": no such file or directory");
  EXPECT_EQ(fatal_text([&] { Files::check_input(fifo, "T"); }),
            "T: cannot read " + fifo + ": not a regular file");
  EXPECT_EQ(fatal_text([&] { Files::check_input(dir.path(), "T"); }),
            "T: cannot read " + dir.path() + ": not a regular file");
  if (geteuid() != 0) {  // root reads whatever the mode says
    ASSERT_EQ(chmod(plain.c_str(), 0200), 0);
    EXPECT_EQ(fatal_text([&] { Files::check_input(plain, "T"); }),
              "T: cannot read " + plain + ": permission denied");
  }
}

TEST(FileAccess, OutputsAreNewOrWritableRegularFiles) {
  Scratch_dir dir;
  const std::string plain = dir.file("a.txt"), locked = dir.file("ro.txt"), fifo = dir.file("p");
  write_bytes(plain, "x");
  write_bytes(locked, "keep");
  ASSERT_EQ(chmod(locked.c_str(), 0444), 0);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string fresh = dir.file("new.txt"), nodir = dir.file("nodir/x.txt");
  for (const std::string& ok : {plain, fresh})
    EXPECT_EQ(fatal_text([&] { Files::check_output(ok, "T"); }), "no error") << ok;
  EXPECT_EQ(fatal_text([&] { Files::check_output("/dev/null", "T"); }),
            "T: cannot write /dev/null: not a regular file");
  EXPECT_EQ(fatal_text([&] { Files::check_output(fifo, "T"); }),
            "T: cannot write " + fifo + ": not a regular file");
  EXPECT_EQ(fatal_text([&] { Files::check_output(dir.path(), "T"); }),
            "T: cannot write " + dir.path() + ": not a regular file");
  EXPECT_EQ(fatal_text([&] { Files::check_output(nodir, "T"); }),
            "T: cannot write " + nodir + ": no such directory: " + dir.file("nodir"));
  EXPECT_NE(fatal_text([&] { Files::check_output(locked, "T"); }), "no error");
  EXPECT_EQ(Files::directory_of("x.mtz"), ".");
  EXPECT_EQ(Files::directory_of("/x.mtz"), "/");
  EXPECT_EQ(Files::directory_of("a/b/x.mtz"), "a/b");
  EXPECT_TRUE(Files::same_file(plain, dir.path() + "/./a.txt"));
  EXPECT_FALSE(Files::same_file(plain, fresh));
}

TEST(FileAccess, TemporaryFileReplacesOnlyItsTarget) {
  Scratch_dir dir;
  const std::string target = dir.file("out.mtz"), bystander = dir.file("out.mtz.partial");
  write_bytes(target, "old");
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  write_bytes(bystander, "someone else's");
  {
    Temporary_file tmp(target, "T");
    EXPECT_EQ(tmp.path().compare(0, target.size() + 1, target + "."), 0);
    write_bytes(tmp.path(), "new");
    tmp.commit();
    EXPECT_NE(access(tmp.path().c_str(), F_OK), 0);  // renamed away
  }
  EXPECT_EQ(read_bytes(target), "new");
  EXPECT_EQ(read_bytes(bystander), "someone else's");
  struct stat st;
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  std::string abandoned;
  {
    Temporary_file tmp(target, "T");
    abandoned = tmp.path();
    write_bytes(abandoned, "half");
  }
  EXPECT_NE(access(abandoned.c_str(), F_OK), 0);
  EXPECT_EQ(read_bytes(target), "new");
  const std::string nodir = dir.file("nodir/x");
  EXPECT_EQ(fatal_text([&] { Temporary_file tmp(nodir, "T"); }),
            "T: cannot write " + nodir + ": no such file or directory");
}

// An output named through a link (relative to the link's own directory,
// absolute, a chain, or one leading to no file yet) writes the file the link
// leads to, with the temporary beside that file; the links stay links.
TEST(FileAccess, LinkedOutputsWriteTheFileTheLinkLeadsTo) {
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
      Temporary_file tmp(link, "T");
      EXPECT_TRUE(Files::same_file(Files::directory_of(tmp.path()), Files::directory_of(file)));
      write_bytes(tmp.path(), "new " + name);
      tmp.commit();
    }
    EXPECT_EQ(link_text(link), text);
    EXPECT_EQ(read_bytes(file), "new " + name);
  }
  EXPECT_EQ(mode_and_owner(real)[0], 0640u);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"abs.mtz", "chain.mtz", "dangling.mtz",
                                                     "real.mtz", "rel.mtz", "sub"}));
  EXPECT_EQ(entries_of(sub), (std::vector<std::string>{"fresh.mtz", "up.mtz"}));
}

// A link is no way round a refusal: it is judged by what it leads to, and
// links that lead round in a loop are refused; nothing is made anywhere.
TEST(FileAccess, LinksToWhatMayNotBeWrittenAreRefused) {
  Scratch_dir dir;
  const std::string kept = dir.write("kept.mtz", "keep"), fifo = dir.file("pipe");
  ASSERT_EQ(chmod(kept.c_str(), 0444), 0);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
  const std::string loop = "too many levels of symbolic links";
  // Link name, link text, the reason given.
  const std::vector<std::array<std::string, 3>> cases = {
      {"to_dir.mtz", "sub", "not a regular file"},
      {"to_null.mtz", "/dev/null", "not a regular file"},
      {"to_fifo.mtz", "pipe", "not a regular file"},
      {"to_kept.mtz", "kept.mtz", geteuid() == 0 ? "the file is read-only" : "permission denied"},
      {"to_nodir.mtz", "nodir/x.mtz", "no such directory: " + dir.file("nodir")},
      {"self.mtz", "self.mtz", loop},
      {"loop_a.mtz", "loop_b.mtz", loop},
      {"loop_b.mtz", "loop_a.mtz", loop}};
  for (const auto& [name, text, why] : cases)
    ASSERT_EQ(symlink(text.c_str(), dir.file(name).c_str()), 0) << name;
  const std::vector<std::string> before = dir.entries();
  for (const auto& [name, text, why] : cases) {
    const std::string link = dir.file(name);
    EXPECT_EQ(fatal_text([&] { Files::check_output(link, "T"); }),
              "T: cannot write " + link + ": " + why);
    EXPECT_EQ(link_text(link), text) << name;
  }
  EXPECT_EQ(fatal_text([&] { Temporary_file tmp(dir.file("self.mtz"), "T"); }),
            "T: cannot write " + dir.file("self.mtz") + ": " + loop);
  EXPECT_EQ(read_bytes(kept), "keep");
  EXPECT_EQ(dir.entries(), before);
  EXPECT_TRUE(entries_of(dir.file("sub")).empty());
}

// An existing file the user may write, in a directory the user may not
// write (also through a link from elsewhere), is written in place: the
// temporary lies in $TMPDIR, the file keeps its owner and permissions, and
// until commit it is untouched. What needs the directory is still refused.
TEST(FileAccess, WritableFileInAClosedDirectoryIsWrittenInPlace) {
  Scratch_dir dir;
  const bool root = geteuid() == 0;
  const std::string closed = dir.file("closed"), tmp = dir.file("tmp");
  ASSERT_EQ(mkdir(closed.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(tmp.c_str(), 0777), 0);
  ASSERT_EQ(chmod(tmp.c_str(), 0777), 0);
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
    const char* old_tmpdir = std::getenv("TMPDIR");
    const std::string saved = old_tmpdir != nullptr ? old_tmpdir : "";
    setenv("TMPDIR", tmp.c_str(), 1);
    std::string text;
    for (const std::string& path : {out, link, kept, fresh})
      text += fatal_text([&] { Files::check_output(path, "T"); }) + "\n";
    for (const std::string& path : {out, link}) {
      Temporary_file file(path, "T");
      text += Files::directory_of(file.path()) + "\n";
      write_bytes(file.path(), "new through " + path);
      text += read_bytes(out) + "\n";  // untouched before commit
      file.commit();
      text += read_bytes(out) + "\n";
    }
    {
      Temporary_file abandoned(out, "T");
      write_bytes(abandoned.path(), "half");
    }
    text += read_bytes(out) + "\n";
    text += fatal_text([&] { Temporary_file file(fresh, "T"); }) + "\n";
    if (old_tmpdir != nullptr)
      setenv("TMPDIR", saved.c_str(), 1);
    else
      unsetenv("TMPDIR");
    return text;
  });
  if (!root) {
    ASSERT_EQ(chmod(closed.c_str(), 0755), 0);
  }
  const std::string denied = "permission denied";
  // The checks of the file, a link to it, a read-only file and a new file;
  // for the file and the link: where the temporary lies, and the file before
  // and after commit; the file after a temporary abandoned; a new temporary.
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

// A directory in dir with just the given mode, whatever the umask.
static std::string made_dir(const Scratch_dir& dir, const std::string& name, const mode_t mode) {
  const std::string path = dir.file(name);
  EXPECT_TRUE(mkdir(path.c_str(), 0) == 0 && chmod(path.c_str(), mode) == 0) << path;
  return path;
}

// What f returns (0 to 125), run in a child process; -1 should the child fail.
static int in_child(const std::function<int()>& f) {
  const pid_t pid = fork();
  if (pid == 0) _exit(f());
  int status = 0;
  return waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Names land on one file when links (also of their directories), "." and
// ".." lead to one place, made yet or not, or when they are hard links.
TEST(FileAccess, OutputsLandingOnOneFile) {
  Scratch_dir dir;
  made_dir(dir, "sub", 0755);
  const char* const links[][2] = {{"sublink", "sub"}, {"a.lnk", "x.out"}, {"loop", "loop"}};
  for (const auto& l : links) ASSERT_EQ(symlink(l[1], dir.file(l[0]).c_str()), 0);
  ASSERT_EQ(link(dir.write("hard", "x").c_str(), dir.file("hard2").c_str()), 0);
  const struct {
    std::string a, b;
    bool same;
  } cases[] = {{"y.out", "./y.out", true},           {"sub/y.out", "sublink/y.out", true},
               {"sublink/../a.lnk", "x.out", true},  {"hard", "hard2", true},
               {"y.out", "sub/y.out", false},        {"loop", "y.out", false},
               {"nodir/y.out", "nodir/z.out", false}};
  for (const auto& c : cases)
    EXPECT_EQ(Files::same_output(dir.file(c.a), dir.file(c.b)), c.same) << c.a << " " << c.b;
  EXPECT_EQ(Files::output_file("/y.out"), "/y.out");

  // A working folder too deep for an absolute name (past PATH_MAX): a bare
  // name, "./" and a path through the parent still name one folder. Made
  // and removed by a child, which alone can reach that deep.
  const std::string part(200, 'd');
  EXPECT_EQ(in_child([&] {
              if (chdir(dir.path().c_str()) != 0) return 2;
              for (int depth = 0; depth < 22; ++depth)
                if (mkdir(part.c_str(), 0755) != 0 || chdir(part.c_str()) != 0) return 2;
              const bool right = Files::same_output("x.out", "./x.out") &&
                                 Files::same_output("x.out", "../" + part + "/x.out") &&
                                 !Files::same_output("x.out", "../x.out");
              for (int depth = 0; depth < 22; ++depth)
                if (chdir("..") != 0 || rmdir(part.c_str()) != 0) return 3;
              return right ? 0 : 1;
            }),
            0);

  // A bind mount gives one folder two paths that no link joins. Mounted in
  // a child's own mount namespace, so nothing outlives it; skipped where
  // mounts are not permitted.
  const std::string one = made_dir(dir, "one", 0755), two = made_dir(dir, "two", 0755);
  const int bound = in_child([&] {
    if (unshare(CLONE_NEWNS) != 0 ||
        mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(one.c_str(), two.c_str(), nullptr, MS_BIND, nullptr) != 0)
      return 77;
    return Files::same_output(one + "/o.out", two + "/o.out") &&
                   !Files::same_output(one + "/o.out", two + "/p.out")
               ? 0
               : 1;
  });
  if (bound == 77) GTEST_SKIP() << "bind mounts are not permitted here";
  EXPECT_EQ(bound, 0);
}

// In a folder that all may write and that has the sticky bit (as /tmp), a
// link is followed only when it is the user's own or the folder owner's, at
// each step of a chain; any other is refused, naming it. Where the kernel
// applies that rule (fs.protected_symlinks), its own answer is the oracle.
TEST(FileAccess, LinksInSharedFoldersAreFollowedOnlyAsTheKernelWould) {
  if (geteuid() != 0) GTEST_SKIP() << "needs links of two users";
  Scratch_dir dir;
  const unsigned nobody = unprivileged_id;
  made_dir(dir, "private", 0700);
  const std::string precious = dir.write("private/precious", "keep");
  ASSERT_EQ(chmod(precious.c_str(), 0600), 0);
  made_dir(dir, "tmp", 01777);  // root's, as /tmp
  ASSERT_EQ(chown(made_dir(dir, "theirs", 01777).c_str(), nobody, nobody), 0);
  made_dir(dir, "group", 01775);  // sticky, but not open to all
  made_dir(dir, "open", 0777);    // open to all, but not sticky
  // Link, its text, its owner, and whether root follows it.
  const struct {
    std::string name, text;
    unsigned owner;
    bool followed;
  } cases[] = {{"tmp/planted.mtz", "../private/precious", nobody, false},
               {"tmp/own.mtz", "../private/precious", 0, true},
               {"theirs/planted.mtz", "../private/precious", nobody, true},
               {"theirs/own.mtz", "../private/precious", 0, true},
               {"group/planted.mtz", "../private/precious", nobody, true},
               {"open/planted.mtz", "../private/precious", nobody, true},
               {"chain.mtz", "tmp/planted.mtz", 0, false}};
  for (const auto& c : cases) {
    const std::string link = dir.file(c.name);
    ASSERT_EQ(symlink(c.text.c_str(), link.c_str()), 0) << c.name;
    ASSERT_EQ(lchown(link.c_str(), c.owner, c.owner), 0) << c.name;
  }
  const bool kernel_rule = read_bytes("/proc/sys/fs/protected_symlinks").substr(0, 1) == "1";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string link = dir.file(c.name);
    const std::string refused = "T: cannot write " + link + ": the link " +
                                dir.file("tmp/planted.mtz") +
                                " is another user's, in a folder all may write: not followed";
    const std::string expected = c.followed ? "no error" : refused;
    EXPECT_EQ(fatal_text([&] { Files::link_target(link, "T"); }), expected);
    EXPECT_EQ(fatal_text([&] { Files::check_output(link, "T"); }), expected);
    struct stat st;
    if (kernel_rule) {
      EXPECT_EQ(stat(link.c_str(), &st) == 0, c.followed);
    }
  }
  EXPECT_EQ(read_bytes(precious), "keep");
}

// A file written in place without room for its new content (a file size
// limit, as a full filesystem) keeps what it held. A write that fails once
// room is found leaves it empty, and the whole output in the temporary,
// named in the message.
TEST(FileAccess, InPlaceWriteWithoutRoomLeavesTheFileAsItWas) {
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
      signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails
      struct rlimit was;
      getrlimit(RLIMIT_FSIZE, &was);
      const std::string text = fatal_text([&] {
        Temporary_file file(closed + "/" + name, "T");
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
      EXPECT_EQ(read_bytes(message.substr(kept)), now);
      std::remove(message.substr(kept).c_str());
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

// A file replaced by rename keeps its owner and group where the writer may
// set them, its permissions and its access control list; where the group
// cannot be kept the new group gets no more than both it and others had. In
// a sticky directory (as /tmp) a user may write another user's file but not
// rename over it: that file is written in place, the user's own replaced.
TEST(FileAccess, ReplacedFileKeepsOwnerGroupAndAccess) {
  if (geteuid() != 0) GTEST_SKIP() << "needs files of two users";
  Scratch_dir dir;
  made_dir(dir, "open", 0777);
  made_dir(dir, "sticky", 01777);
  // An access list as the system stores it (version; tag, permissions, id):
  // owner rw, user 65534 rw, owning group r, mask rw, others none.
  using namespace std::string_literals;
  const std::string acl = "\x02\0\0\0"s + "\x01\0\x06\0\xff\xff\xff\xff"s +
                          "\x02\0\x06\0\xfe\xff\0\0"s + "\x04\0\x04\0\xff\xff\xff\xff"s +
                          "\x10\0\x06\0\xff\xff\xff\xff"s + "\x20\0\0\0\xff\xff\xff\xff"s;
  const unsigned nobody = unprivileged_id;
  // File, written by root or not, replaced or written in place; mode, owner
  // and group before and after; its access list.
  const struct {
    std::string name;
    bool by_root, replaced;
    std::vector<unsigned> before, after;
    std::string acl;
  } cases[] = {{"open/roots", false, true, {0665, 0, 0}, {0645, nobody, nobody}, ""},
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
    struct stat was, now;
    ASSERT_EQ(stat(file.c_str(), &was), 0);
    const auto write = [&] {
      Temporary_file out(file, "T");
      write_bytes(out.path(), "new");
      out.commit();
      return read_bytes(file);
    };
    EXPECT_EQ(c.by_root ? write() : as_unprivileged(write), "new");
    EXPECT_EQ(mode_and_owner(file), c.after);
    EXPECT_EQ(stat(file.c_str(), &now) == 0 && now.st_ino != was.st_ino, c.replaced);
    char kept[1024];
    const ssize_t n = getxattr(file.c_str(), "system.posix_acl_access", kept, sizeof kept);
    EXPECT_EQ(std::string(kept, std::size_t(std::max(n, ssize_t(0)))), c.acl);
  }
}
