#include "system/file_access.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
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
#include <tuple>

#include "support/testing.h"
#include "system/system_call.h"

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

// Checked by name, or opened and judged again through the descriptor: the
// same refusals; the descriptor holds the file judged, whatever takes its
// name afterwards.
TEST(FileAccess, InputsMustBeReadableRegularFiles) {
  Scratch_dir dir;
  const std::string plain = dir.file("a.txt"), fifo = dir.file("pipe");
  write_bytes(plain, "x");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string missing = dir.file("none");
  const std::function<void(const std::string&)> checked = [](const std::string& path) {
    Files::check_input(path, "T");
  };
  const std::function<void(const std::string&)> opened = [](const std::string& path) {
    close(Files::open_input(path, "T"));
  };
  for (const auto& judge : {checked, opened}) {
    EXPECT_EQ(fatal_text([&] { judge(plain); }), "no error");
    EXPECT_EQ(fatal_text([&] { judge(missing); }),
              "T: cannot read " + missing + ": no such file or directory");
    EXPECT_EQ(fatal_text([&] { judge(fifo); }), "T: cannot read " + fifo + ": not a regular file");
    EXPECT_EQ(fatal_text([&] { judge(dir.path()); }),
              "T: cannot read " + dir.path() + ": not a regular file");
    if (geteuid() != 0) {  // root reads whatever the mode says
      ASSERT_EQ(chmod(plain.c_str(), 0200), 0);
      EXPECT_EQ(fatal_text([&] { judge(plain); }),
                "T: cannot read " + plain + ": permission denied");
      ASSERT_EQ(chmod(plain.c_str(), 0644), 0);
    }
  }
  const int fd = Files::open_input(plain, "T");
  ASSERT_EQ(rename(write_bytes(dir.file("b.txt"), "other").c_str(), plain.c_str()), 0);
  EXPECT_EQ(read_bytes(System::fd_path(fd)), "x");
  close(fd);
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
  // The folder and name a walk reaches, as reached.
  for (const auto& [path, folder, name] : {std::array<std::string, 3>{"x.mtz", ".", "x.mtz"},
                                           {"/x.mtz", "/", "x.mtz"},
                                           {dir.path() + "/.//a.txt", dir.path(), "a.txt"}}) {
    const Files::Output_place place(path);
    EXPECT_EQ(place.dir_path() + "|" + place.name(), folder + "|" + name) << path;
  }
  EXPECT_TRUE(Files::same_file(plain, dir.path() + "/./a.txt"));
  EXPECT_FALSE(Files::same_file(plain, fresh));
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
  EXPECT_EQ(read_bytes(kept), "keep");
  EXPECT_EQ(dir.entries(), before);
  EXPECT_TRUE(entries_of(dir.file("sub")).empty());
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
  EXPECT_TRUE(Files::same_output("/y.out", "//y.out"));
  // A path longer than the system resolves at once, through a folder link.
  std::string far = "sublink";
  for (int step = 0; step < 600; ++step) far += "/../sub";
  EXPECT_TRUE(Files::same_output(dir.file(far + "/y.out"), dir.file("sub/y.out")));
  EXPECT_FALSE(Files::same_output(dir.file(far + "/y.out"), dir.file("y.out")));

  // One folder under two paths that no link joins: a working folder too
  // deep for an absolute name (past PATH_MAX), made and removed by a child,
  // which alone can reach that deep; and a bind mount, in a child's own
  // mount namespace so that nothing outlives it (skipped where mounts are
  // not permitted).
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
  const std::string one = made_dir(dir, "one", 0755), two = made_dir(dir, "two", 0755);
  const int bound = in_child([&] {
    if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
        mount(one.c_str(), two.c_str(), nullptr, MS_BIND, nullptr) != 0)
      return 77;
    return int(Files::same_output(one + "/o.out", two + "/o.out") &&
               !Files::same_output(one + "/o.out", two + "/p.out"));
  });
  if (bound == 77) GTEST_SKIP() << "bind mounts are not permitted here";
  EXPECT_EQ(bound, 1);
}

// In a folder that all may write and that has the sticky bit (as /tmp), a
// link is followed only when it is the user's own or the folder owner's,
// wherever it is in the path and at each step of a chain; any other is
// refused, naming it. A file there of another user is refused too.
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
  ASSERT_EQ(chown(made_dir(dir, "nobodys", 0755).c_str(), nobody, nobody), 0);
  const auto link = [&](const std::string& name) {
    return "the link " + dir.file(name) +
           " is another user's, in a folder all may write: not followed";
  };
  const std::string file = "the file is another user's, in a folder all may write";
  // Entry, its link text ("": a file, mode 0666), its owner; the path
  // written ("": the entry) and why root may not write it ("": it may).
  const struct {
    std::string name, text;
    unsigned owner;
    std::string written, why;
  } cases[] = {{"tmp/planted.mtz", "../private/precious", nobody, "", link("tmp/planted.mtz")},
               {"tmp/own.mtz", "../private/precious", 0, "", ""},
               {"theirs/planted.mtz", "../private/precious", nobody, "", ""},
               {"group/planted.mtz", "../private/precious", nobody, "", ""},
               {"open/planted.mtz", "../private/precious", nobody, "", ""},
               {"chain.mtz", "tmp/planted.mtz", 0, "", link("tmp/planted.mtz")},
               {"tmp/work", "../nobodys", nobody, "tmp/work/out.mtz", link("tmp/work")},
               {"tmp/mine", "../nobodys", 0, "tmp/mine/out.mtz", ""},
               {"theirs/work", "../nobodys", nobody, "theirs/work/out.mtz", ""},
               {"through.mtz", "tmp/work/out.mtz", 0, "", link("tmp/work")},
               {"tmp/nobodys.mtz", "", nobody, "", file},
               {"tmp/roots.mtz", "", 0, "", ""},
               {"theirs/nobodys.mtz", "", nobody, "", ""},
               {"open/nobodys.mtz", "", nobody, "", ""},
               {"tmp/to_nobodys.mtz", "nobodys.mtz", 0, "", file}};
  for (const auto& c : cases) {
    const std::string entry = dir.file(c.name);
    ASSERT_TRUE(c.text.empty() ? chmod(dir.write(c.name, "theirs").c_str(), 0666) == 0
                               : symlink(c.text.c_str(), entry.c_str()) == 0)
        << c.name;
    ASSERT_EQ(lchown(entry.c_str(), c.owner, c.owner), 0) << c.name;
  }
  // Where the kernel applies the rule (fs.protected_symlinks) its own answer
  // is the oracle for each link; for files (fs.protected_regular), an open
  // that would create them.
  const auto kernel_rule = [](const std::string& name) {
    return read_bytes("/proc/sys/fs/protected_" + name).substr(0, 1) == "1";
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string written = dir.file(c.written.empty() ? c.name : c.written);
    EXPECT_EQ(fatal_text([&] { Files::check_output(written, "T"); }),
              c.why.empty() ? "no error" : "T: cannot write " + written + ": " + c.why);
    struct stat st;
    const std::string entry = dir.file(c.name);
    if (!c.text.empty() && kernel_rule("symlinks")) {
      EXPECT_EQ(stat(entry.c_str(), &st) == 0, c.why.compare(0, 8, "the link") != 0);
    } else if (c.text.empty() && kernel_rule("regular")) {
      const int fd = open(entry.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
      EXPECT_EQ(fd >= 0, c.why.empty());
      if (fd >= 0) close(fd);
    }
  }
  EXPECT_TRUE(entries_of(dir.file("nobodys")).empty());
  EXPECT_EQ(read_bytes(precious), "keep");
}

// A file that may not be changed (chattr +i, +a) is refused up front,
// naming the flag, and so is a new file in an immutable folder and any in
// an append-only one (whose names cannot be taken away); an existing file
// in an immutable folder is written in place, as in a closed folder.
TEST(FileAccess, ImmutableAndAppendOnlyTargetsAreRefused) {
  Scratch_dir dir;
  const std::string fixed = made_dir(dir, "fixed", 0755), grows = made_dir(dir, "grows", 0755);
  // Sets path's flags of these two to flags: false where that cannot be done here.
  const auto set_fixed = [](const std::string& path, const int flags) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    int now = 0;
    bool done = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &now) == 0;
    now = (now & ~(FS_IMMUTABLE_FL | FS_APPEND_FL)) | flags;
    done = done && ioctl(fd, FS_IOC_SETFLAGS, &now) == 0;
    return (fd < 0 || close(fd) == 0) && done;
  };
  // File, its flags (-1: not made), and why it is refused.
  const std::vector<std::tuple<std::string, int, std::string>> cases = {
      {"a.mtz", FS_APPEND_FL, "the file is append-only (chattr +a)"},
      {"i.mtz", FS_IMMUTABLE_FL, "the file is immutable (chattr +i)"},
      {"fixed/old.mtz", 0, ""},
      {"fixed/new.mtz", -1, "the folder " + fixed + " is immutable (chattr +i)"},
      {"grows/old.mtz", 0, "the folder " + grows + " is append-only (chattr +a)"},
      {"grows/new.mtz", -1, "the folder " + grows + " is append-only (chattr +a)"}};
  for (const auto& [name, flags, why] : cases)
    if (flags >= 0 && !set_fixed(dir.write(name, "old"), flags)) GTEST_SKIP() << "no chattr here";
  ASSERT_TRUE(set_fixed(fixed, FS_IMMUTABLE_FL) && set_fixed(grows, FS_APPEND_FL));
  for (const auto& [name, flags, why] : cases)
    EXPECT_EQ(fatal_text([&] { Files::check_output(dir.file(name), "T"); }),
              why.empty() ? "no error" : "T: cannot write " + dir.file(name) + ": " + why);
  bool cleared = set_fixed(fixed, 0) && set_fixed(grows, 0);
  for (const auto& [name, flags, why] : cases)
    cleared = (flags <= 0 || set_fixed(dir.file(name), 0)) && cleared;
  EXPECT_TRUE(cleared);
}
