#include "foundation/signal_cleanup.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <tuple>

#include "foundation/file_access.h"
#include "support/testing.h"

using namespace vantrel;
using vantrel_testing::entries_of;
using vantrel_testing::read_bytes;
using vantrel_testing::Scratch_dir;
using vantrel_testing::unprivileged_id;
using vantrel_testing::write_bytes;

namespace {

// The wait status of a child process that runs body with the three signals
// at their defaults and unblocked (whatever the test runner set), then exits.
int status_of_child(const std::function<void()>& body) {
  const pid_t pid = fork();
  if (pid == 0) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) signal(sig, SIG_DFL);
    body();
    _exit(0);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

sighandler_t handler_of(const int sig) {
  struct sigaction now;
  sigaction(sig, nullptr, &now);
  return now.sa_handler;
}

int handled = 0;
void count_signal(int) { ++handled; }

}  // namespace

TEST(SignalCleanup, TemporariesGoWithTheSignalThatEndsTheProcess) {
  // Left after the signal (names and contents): the targets as they were.
  using Files = std::vector<std::pair<std::string, std::string>>;
  const std::vector<std::tuple<int, std::string, Files>> cases = {
      {SIGTERM, "beside", {{"o.mtz", "old"}}},
      {SIGINT, "nested", {{"o.mtz", "old"}}},  // as the MTZ output: o.mtz.XXXXXX.YYYYYY
      {SIGHUP, "relative", {{"o.mtz", "old"}}},
      {SIGTERM, "committed", {{"a.pdb", "new"}, {"o.mtz", "old"}}},
      {SIGINT, "held", {{"o.mtz", "written while held"}}},
      {SIGHUP, "forked", {{"o.mtz", "old"}}}};
  for (const auto& [sig, layout, left] : cases) {
    Scratch_dir dir;
    const std::string target = dir.write("o.mtz", "old");
    const int status = status_of_child([&, sig = sig, layout = layout] {
      std::vector<std::unique_ptr<Temporary_file>> made;
      const auto make = [&](const std::string& name) {
        made.emplace_back(new Temporary_file(name, "T"));
        return write_bytes(made.back()->path(), "new");
      };
      const std::string first = make(layout == "committed" ? dir.file("a.pdb") : target);
      if (layout == "nested") make(first);
      if (layout == "committed") made[0]->commit(), make(target);
      if (layout == "relative") {  // removed whatever the current directory is then
        if (chdir(dir.path().c_str()) != 0) _exit(4);
        make("o.mtz");
        if (chdir("/") != 0) _exit(4);
      }
      if (layout == "held") {
        const Signals_held held;
        raise(sig);
        write_bytes(target, "written while held");
      }
      if (layout == "forked") {
        // A child forked meanwhile leaves the parent's file alone.
        const pid_t child = fork();
        if (child == 0) {
          raise(sig);
          _exit(0);
        }
        waitpid(child, nullptr, 0);
        if (access(first.c_str(), F_OK) != 0) _exit(5);
      }
      raise(sig);
    });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << layout << " " << status;
    Files found;
    for (const std::string& name : dir.entries())
      found.push_back({name, read_bytes(dir.file(name))});
    EXPECT_EQ(found, left) << layout;
  }
}

TEST(SignalCleanup, CallersDispositionsStay) {
  // A signal the caller ignores or handles removes nothing and does not end
  // the process; one at its default is taken over only while a file is made.
  const std::vector<std::pair<int, sighandler_t>> cases = {
      {SIGHUP, SIG_IGN}, {SIGINT, count_signal}, {SIGTERM, SIG_DFL}, {SIGINT, SIG_DFL}};
  for (const auto& [sig, before] : cases) {
    const int status = status_of_child([&, sig = sig, before = before] {
      signal(sig, before);
      Scratch_dir dir;
      {
        Temporary_file file(dir.file("o.mtz"), "T");
        if ((handler_of(sig) != before) != (before == SIG_DFL)) _exit(4);
        if (before != SIG_DFL && (raise(sig) != 0 || dir.entries().size() != 1)) _exit(5);
      }
      if (handler_of(sig) != before || handled != (before == count_signal ? 1 : 0)) _exit(6);
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << sig << " " << status;
  }
}

TEST(SignalCleanup, ACommitIsNotCutShort) {
  // A file written in place (its directory closed to the user) is copied
  // from the temporary, here a FIFO whose writer sends the signal halfway:
  // the process ends only once the file holds the whole new text.
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make a file another user owns";
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    Scratch_dir dir;
    const std::string target = dir.write("o.mtz", "old"), tmpdir = dir.file("tmp");
    ASSERT_EQ(mkdir(tmpdir.c_str(), 0700), 0);
    ASSERT_EQ(chown(tmpdir.c_str(), unprivileged_id, unprivileged_id), 0);
    ASSERT_EQ(chown(target.c_str(), unprivileged_id, unprivileged_id), 0);
    const int status = status_of_child([&] {
      if (setgid(unprivileged_id) != 0 || setuid(unprivileged_id) != 0) _exit(4);
      setenv("TMPDIR", tmpdir.c_str(), 1);
      Temporary_file file(target, "T");
      if (unlink(file.path().c_str()) != 0 || mkfifo(file.path().c_str(), 0600) != 0) _exit(5);
      const pid_t copier = getpid();
      if (fork() == 0) {
        const int out = open(file.path().c_str(), O_WRONLY);  // once the copy opens it
        signal(SIGPIPE, SIG_IGN);
        if (out < 0 || write(out, "new ", 4) != 4 || kill(copier, sig) != 0) _exit(1);
        usleep(100000);
        _exit(write(out, "text", 4) == 4 ? 0 : 1);
      }
      file.commit();
    });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig << " " << status;
    EXPECT_EQ(read_bytes(target), "new text") << sig;
    EXPECT_TRUE(entries_of(tmpdir).empty()) << sig;
  }
}
