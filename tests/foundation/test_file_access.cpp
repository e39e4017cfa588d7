#include "foundation/file_access.h"

#include <sys/stat.h>
#include <unistd.h>

#include "support/testing.h"

using namespace vantrel;
using vantrel_testing::fatal_text;
using vantrel_testing::read_bytes;
using vantrel_testing::Scratch_dir;
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
