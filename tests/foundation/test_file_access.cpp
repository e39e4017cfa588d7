#include "foundation/file_access.h"

#include <limits.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdlib>

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

// Two names land on one file when their links, their directories' links,
// "." and ".." lead to one place, whether or not the file exists yet; an
// existing file also under another (hard) link.
TEST(FileAccess, OutputsLandingOnOneFile) {
  Scratch_dir dir;
  const std::string sub = dir.file("sub");
  ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
  ASSERT_EQ(symlink("sub", dir.file("sublink").c_str()), 0);
  ASSERT_EQ(symlink("x.out", dir.file("a.lnk").c_str()), 0);
  ASSERT_EQ(symlink("sub/../x.out", dir.file("b.lnk").c_str()), 0);
  ASSERT_EQ(symlink("loop.lnk", dir.file("loop.lnk").c_str()), 0);
  const std::string hard = dir.write("hard.out", "x");
  ASSERT_EQ(link(hard.c_str(), dir.file("hard2.out").c_str()), 0);
  // Two names (in the scratch directory), and whether they land on one file.
  const struct {
    std::string a, b;
    bool same;
  } cases[] = {{"y.out", "./y.out", true},
               {"y.out", "sub/../y.out", true},
               {"sub/y.out", "sublink/y.out", true},
               {"sub/y.out", "sublink/./y.out", true},
               {"a.lnk", "x.out", true},
               {"a.lnk", "b.lnk", true},
               {"hard.out", "hard2.out", true},
               {"y.out", "z.out", false},
               {"y.out", "sub/y.out", false},
               {"a.lnk", "sub/x.out", false},
               {"loop.lnk", "y.out", false},
               {"nodir/y.out", "nodir/z.out", false}};
  for (const auto& c : cases) {
    EXPECT_EQ(Files::same_output(dir.file(c.a), dir.file(c.b)), c.same) << c.a << " " << c.b;
    EXPECT_EQ(Files::same_output(dir.file(c.b), dir.file(c.a)), c.same) << c.b << " " << c.a;
  }
  char real[PATH_MAX];
  ASSERT_NE(realpath(dir.path().c_str(), real), nullptr);
  EXPECT_EQ(Files::output_file(dir.file("sublink/../a.lnk")), std::string(real) + "/x.out");
  EXPECT_EQ(Files::output_file("/y.out"), "/y.out");
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.lnk", "b.lnk", "hard.out", "hard2.out",
                                                     "loop.lnk", "sub", "sublink"}));
}

// Runs f with writes limited to limit bytes a file (a write past it fails
// rather than ending the process), then lifts the limit again, also when f
// throws.
template <class F> void with_file_size_limit(const rlim_t limit, F&& f) {
  struct Limit {
    struct rlimit was;
    sighandler_t handler;
    explicit Limit(const rlim_t limit) : handler(signal(SIGXFSZ, SIG_IGN)) {
      getrlimit(RLIMIT_FSIZE, &was);
      struct rlimit now = was;
      now.rlim_cur = limit;
      setrlimit(RLIMIT_FSIZE, &now);
    }
    ~Limit() {
      setrlimit(RLIMIT_FSIZE, &was);
      signal(SIGXFSZ, handler);
    }
  } limited(limit);
  f();
}

// A file written in place that has no room for its new content (here a
// limit on file size, as a full filesystem) keeps what it held, and the
// temporary goes; one that has room is overwritten and cut to length. A
// write that fails once the room is found (the limit reached within the
// old file's length) leaves the file empty, never part-written, and keeps
// the whole output in the temporary, named in the message.
TEST(FileAccess, InPlaceWriteWithoutRoomLeavesTheFileAsItWas) {
  Scratch_dir dir;
  const bool root = geteuid() == 0;
  const std::string closed = dir.file("closed"), tmp = dir.file("tmp");
  ASSERT_EQ(mkdir(closed.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(tmp.c_str(), 0777), 0);
  ASSERT_EQ(chmod(tmp.c_str(), 0777), 0);
  const std::string big(5000, 'n'), longer(8000, 'o'), no_room = "file too large; ";
  // The file's content, the new content, what the file holds after, and
  // the end of the message ("kept in" followed by the temporary's name).
  const std::vector<std::array<std::string, 4>> cases = {
      {"old text", big, "old text", no_room + "the file is left as it was"},
      {"", big, "", no_room + "the file is left as it was"},
      {longer, big, "", no_room + "the new content is kept in"},
      {longer, "new", "new", ""},
      {"old", "newer text", "newer text", ""},
      {"old", "", "", ""}};
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string out = dir.write("closed/out" + std::to_string(i) + ".mtz", cases[i][0]);
    if (root) {
      ASSERT_EQ(chown(out.c_str(), unprivileged_id, unprivileged_id), 0);
    }
  }
  if (!root) {
    ASSERT_EQ(chmod(closed.c_str(), 0555), 0);
  }
  const std::string seen = as_unprivileged([&] {
    setenv("TMPDIR", tmp.c_str(), 1);
    std::string text;
    for (std::size_t i = 0; i < cases.size(); ++i) {
      const std::string out = closed + "/out" + std::to_string(i) + ".mtz";
      std::string message = fatal_text([&] {
        Temporary_file file(out, "T");
        write_bytes(file.path(), cases[i][1]);
        with_file_size_limit(4096, [&] { file.commit(); });
      });
      const std::size_t kept = message.find(" kept in ");
      if (kept != std::string::npos) {
        const std::string path = message.substr(kept + 9);
        message.resize(kept + 8);
        message += path.compare(0, tmp.size() + 1, tmp + "/") == 0 &&
                           read_bytes(path) == cases[i][1] && std::remove(path.c_str()) == 0
                       ? " the whole output"
                       : " " + path;
      }
      text += message + "|" + read_bytes(out) + "\n";
    }
    return text;
  });
  if (!root) {
    ASSERT_EQ(chmod(closed.c_str(), 0755), 0);
  }
  std::string expected;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string& why = cases[i][3];
    expected += why.empty()
                    ? "no error"
                    : "T: cannot write " + closed + "/out" + std::to_string(i) + ".mtz: " + why;
    expected += (why.find("kept in") != std::string::npos ? " the whole output|" : "|") +
                cases[i][2] + "\n";
  }
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(entries_of(tmp), std::vector<std::string>{});
}

// In a sticky directory open to all (as /tmp) a user may write another
// user's writable file but not rename over it: such a file is written in
// place, while the user's own file there is replaced as usual.
TEST(FileAccess, AnotherUsersFileInAStickyDirectoryIsWrittenInPlace) {
  if (geteuid() != 0) GTEST_SKIP() << "needs files of two users";
  Scratch_dir dir;
  const std::string shared = dir.file("shared"), tmp = dir.file("tmp");
  for (const std::string& d : {shared, tmp}) {
    ASSERT_EQ(mkdir(d.c_str(), 0777), 0);
    ASSERT_EQ(chmod(d.c_str(), d == shared ? 01777 : 0777), 0);
  }
  // File, owner, and where its temporary is made.
  const std::vector<std::pair<std::string, int>> cases = {{"root.mtz", 0},
                                                          {"mine.mtz", unprivileged_id}};
  for (const auto& [name, owner] : cases) {
    const std::string file = dir.write("shared/" + name, "old");
    ASSERT_EQ(chmod(file.c_str(), 0666), 0);
    ASSERT_EQ(chown(file.c_str(), uid_t(owner), gid_t(owner)), 0);
  }
  const std::string seen = as_unprivileged([&] {
    setenv("TMPDIR", tmp.c_str(), 1);
    std::string text;
    for (const auto& [name, owner] : cases) {
      const std::string file = shared + "/" + name;
      text += fatal_text([&] {
        Temporary_file out(file, "T");
        text += Files::directory_of(out.path()) + " ";
        write_bytes(out.path(), "new " + name);
        out.commit();
      });
      text += " " + read_bytes(file) + "\n";
    }
    return text;
  });
  EXPECT_EQ(seen, tmp + " no error new root.mtz\n" + shared + " no error new mine.mtz\n");
  for (const auto& [name, owner] : cases)
    EXPECT_EQ(mode_and_owner(shared + "/" + name),
              (std::vector<unsigned>{0666, unsigned(owner), unsigned(owner)}))
        << name;
  EXPECT_EQ(entries_of(shared), (std::vector<std::string>{"mine.mtz", "root.mtz"}));
  EXPECT_TRUE(entries_of(tmp).empty());
}

namespace {

// An access control list as the system stores it (see file_access.cpp):
// owner rw, the given user rw, the owning group r, mask rw, others none.
std::string acl_granting(const unsigned user) {
  std::string acl("\x02\0\0\0", 4);
  const auto entry = [&](const unsigned tag, const unsigned perm, const unsigned id) {
    for (const unsigned v : {tag, tag >> 8, perm, perm >> 8, id, id >> 8, id >> 16, id >> 24})
      acl += char(v & 0xff);
  };
  entry(0x01, 6, ~0u);
  entry(0x02, 6, user);
  entry(0x04, 4, ~0u);
  entry(0x10, 6, ~0u);
  entry(0x20, 0, ~0u);
  return acl;
}

// A file's access control list; empty when it has none.
std::string acl_of(const std::string& path) {
  char buffer[1024];
  const ssize_t n = getxattr(path.c_str(), "system.posix_acl_access", buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, std::size_t(n)) : "";
}

}  // namespace

// A file replaced by rename keeps its owner and group where the writer may
// set them, its permissions and its access control list; where the group
// cannot be kept the new group gets no more than others had.
TEST(FileAccess, ReplacedFileKeepsOwnerGroupAndAccess) {
  if (geteuid() != 0) GTEST_SKIP() << "needs files of two users";
  Scratch_dir dir;
  const std::string open_dir = dir.file("open");
  ASSERT_EQ(mkdir(open_dir.c_str(), 0777), 0);
  ASSERT_EQ(chmod(open_dir.c_str(), 0777), 0);
  const unsigned nobody = unprivileged_id;
  const std::string acl = acl_granting(nobody);
  const struct {
    std::string name;
    bool by_root;
    std::vector<unsigned> before;  // mode, owner, group
    bool with_acl;
    std::vector<unsigned> after;
  } cases[] = {
      {"nobody.mtz", true, {0640, nobody, nobody}, false, {0640, nobody, nobody}},
      {"group.mtz", true, {0660, 0, nobody}, false, {0660, 0, nobody}},
      {"listed.mtz", true, {0660, nobody, nobody}, true, {0660, nobody, nobody}},
      // Written by nobody: root's group loses what others lacked.
      {"roots.mtz", false, {0664, 0, 0}, false, {0644, nobody, nobody}},
      {"closed.mtz", false, {0666 & ~0060u, 0, 0}, false, {0606, nobody, nobody}},
  };
  bool lists = true;
  for (const auto& c : cases) {
    const std::string file = dir.write("open/" + c.name, "old");
    ASSERT_EQ(chown(file.c_str(), c.before[1], c.before[2]), 0);
    ASSERT_EQ(chmod(file.c_str(), c.before[0]), 0);
    if (c.with_acl && setxattr(file.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0))
      lists = false;  // a filesystem without access lists
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.with_acl && !lists) continue;
    const std::string file = open_dir + "/" + c.name;
    const auto write = [&] {
      Temporary_file out(file, "T");
      write_bytes(out.path(), "new");
      out.commit();
      return read_bytes(file);
    };
    EXPECT_EQ(c.by_root ? write() : vantrel_testing::as_unprivileged(write), "new");
    EXPECT_EQ(mode_and_owner(file), c.after);
    EXPECT_EQ(acl_of(file), c.with_acl ? acl : "");
  }
  // Through a link: the file the link leads to keeps them.
  const std::string link = open_dir + "/link.mtz";
  ASSERT_EQ(symlink("nobody.mtz", link.c_str()), 0);
  {
    Temporary_file out(link, "T");
    write_bytes(out.path(), "through the link");
    out.commit();
  }
  EXPECT_EQ(link_text(link), "nobody.mtz");
  EXPECT_EQ(mode_and_owner(open_dir + "/nobody.mtz"), cases[0].after);
  EXPECT_EQ(entries_of(open_dir).size(), std::size(cases) + 1);
}
