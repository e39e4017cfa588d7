#include "foundation/file_access.h"

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
}
