#include "foundation/signal_cleanup.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "foundation/file_access.h"
#include "support/testing.h"

using namespace vantrel;
using namespace vantrel_testing;

// The wait status of a child process that runs body with the three signals
// at their defaults (whatever the test runner set), then exits.
static int status_of_child(const std::function<void()>& body) {
  const pid_t pid = fork();
  if (pid == 0) {
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) signal(sig, SIG_DFL);
    body();
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

// Each signal removes the temporaries (nested ones, one named relative to a
// directory left since) and ends the process as it would; not when a forked
// child gets it, nor before a hold on it ends.
TEST(SignalCleanup, TemporariesGoWithTheSignalThatEndsTheProcess) {
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    Scratch_dir dir;
    const std::string target = dir.write("o.mtz", "old");
    const int status = status_of_child([&] {
      const Temporary_file beside(target, "T"), nested(beside.path(), "T");
      if (chdir(dir.path().c_str()) != 0) _exit(4);
      const Temporary_file relative("r.mtz", "T");
      if (chdir("/") != 0) _exit(4);
      if (fork() == 0) {
        raise(sig);
        _exit(0);
      }
      wait(nullptr);
      if (dir.entries().size() != 4) _exit(5);
      const Signals_held held;
      raise(sig);
      write_bytes(target, "written while held");
    });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig << " " << status;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"o.mtz"}) << sig;
    EXPECT_EQ(read_bytes(target), "written while held") << sig;
  }
}

// A signal the caller ignores or handles stays so while a file is watched,
// and removes nothing; the dispositions are the caller's again after.
TEST(SignalCleanup, CallersDispositionsStay) {
  static int handled = 0;
  const sighandler_t count = [](int) { ++handled; };
  const int status = status_of_child([&] {
    signal(SIGHUP, SIG_IGN);
    signal(SIGINT, count);
    Scratch_dir dir;
    {
      const Temporary_file file(dir.file("o.mtz"), "T");
      if (raise(SIGHUP) != 0 || raise(SIGINT) != 0 || dir.entries().size() != 1 || handled != 1)
        _exit(5);
    }
    if (signal(SIGHUP, SIG_DFL) != SIG_IGN || signal(SIGINT, SIG_DFL) != count ||
        signal(SIGTERM, SIG_DFL) != SIG_DFL)
      _exit(6);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// A file written in place (its directory closed to the user) is copied from
// the temporary, here a FIFO whose writer sends a signal halfway: the
// process ends only once the file holds the whole new text.
TEST(SignalCleanup, ACommitIsNotCutShort) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make a file another user owns";
  Scratch_dir dir;
  const std::string target = dir.write("o.mtz", "old"), tmpdir = dir.file("tmp");
  ASSERT_TRUE(mkdir(tmpdir.c_str(), 0) == 0 && chmod(tmpdir.c_str(), 0777) == 0 &&
              chmod(target.c_str(), 0666) == 0);
  const int status = status_of_child([&] {
    if (setgid(unprivileged_id) != 0 || setuid(unprivileged_id) != 0) _exit(4);
    setenv("TMPDIR", tmpdir.c_str(), 1);
    Temporary_file file(target, "T");
    if (unlink(file.path().c_str()) != 0 || mkfifo(file.path().c_str(), 0600) != 0) _exit(5);
    if (fork() == 0) {
      const int out = open(file.path().c_str(), O_WRONLY);  // once the copy opens it
      if (out < 0 || write(out, "new ", 4) != 4 || kill(getppid(), SIGTERM) != 0) _exit(1);
      usleep(100000);
      _exit(write(out, "text", 4) == 4 ? 0 : 1);
    }
    file.commit();
  });
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_EQ(read_bytes(target), "new text");
}
