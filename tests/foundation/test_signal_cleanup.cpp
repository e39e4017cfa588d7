#include "foundation/signal_cleanup.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "foundation/file_access.h"
#include "support/testing.h"

using namespace vantrel;
using vantrel_testing::read_bytes;
using vantrel_testing::entries_of;
using vantrel_testing::Scratch_dir;
using vantrel_testing::unprivileged_id;
using vantrel_testing::write_bytes;

namespace {

constexpr int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP};

// The wait status of a child process that runs body with the three signals
// at their defaults and unblocked (whatever the test runner set), then
// exits 0; 3 when body throws.
int status_of_child(const std::function<void()>& body) {
  const pid_t pid = fork();
  if (pid == 0) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (const int sig : cleanup_signals) signal(sig, SIG_DFL);
    try {
      body();
    } catch (...) {
      _exit(3);
    }
    _exit(0);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// The handler now in force for sig.
sighandler_t handler_of(const int sig) {
  struct sigaction now;
  sigaction(sig, nullptr, &now);
  return now.sa_handler;
}

int handled = 0;
void count_signal(int) { ++handled; }

}  // namespace

TEST(SignalCleanup, TemporariesGoWithTheSignalThatEndsTheProcess) {
  // What is left in the directory after the signal (names and contents):
  // the targets as they were, none of the temporaries.
  using Files_left = std::vector<std::pair<std::string, std::string>>;
  struct Case {
    int sig;
    const char* layout;
    Files_left left;
  };
  const std::vector<Case> cases = {
      {SIGTERM, "beside", {{"o.mtz", "old"}}},
      {SIGINT, "nested", {}},
      {SIGHUP, "relative", {}},
      {SIGTERM, "one committed", {{"a.pdb", "new"}, {"o.mtz", "old"}}},
      {SIGINT, "held", {{"o.mtz", "written while held"}}},
  };
  for (const Case& c : cases) {
    Scratch_dir dir;
    write_bytes(dir.file("o.mtz"), "old");
    const std::string layout = c.layout;
    const int status = status_of_child([&] {
      std::vector<std::unique_ptr<Temporary_file>> made;
      const auto make = [&](const std::string& target) {
        made.emplace_back(new Temporary_file(target, "T"));
        write_bytes(made.back()->path(), "new");
        return made.back()->path();
      };
      if (layout == "beside") {
        make(dir.file("o.mtz"));
      } else if (layout == "nested") {
        // The MTZ output: a temporary of the run, and the writer's
        // temporary of that ("o.mtz.XXXXXX.YYYYYY").
        std::remove(dir.file("o.mtz").c_str());
        make(make(dir.file("o.mtz")));
      } else if (layout == "relative") {
        std::remove(dir.file("o.mtz").c_str());
        if (chdir(dir.path().c_str()) != 0) _exit(4);
        make("x.pdb");
        if (chdir("/") != 0) _exit(4);
      } else if (layout == "one committed") {
        make(dir.file("a.pdb"));
        made.back()->commit();
        make(dir.file("o.mtz"));
      } else if (layout == "held") {
        // A signal that comes while held ends the process once released.
        const Signals_held held;
        make(dir.file("o.mtz"));
        raise(c.sig);
        write_bytes(dir.file("o.mtz"), "written while held");
      }
      raise(c.sig);
    });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.sig) << c.layout << " " << status;
    Files_left left;
    for (const std::string& name : dir.entries()) left.push_back({name, read_bytes(dir.file(name))});
    EXPECT_EQ(left, c.left) << c.layout;
  }
}

TEST(SignalCleanup, CallersDispositionsStay) {
  // A signal the caller ignores or handles is not taken over: it does not
  // end the process and removes nothing. One at its default is taken over
  // only while a file is watched.
  struct Case {
    int sig;
    sighandler_t before;
    bool taken;
  };
  const std::vector<Case> cases = {
      {SIGHUP, SIG_IGN, false},      {SIGINT, SIG_IGN, false},
      {SIGTERM, count_signal, false}, {SIGHUP, count_signal, false},
      {SIGTERM, SIG_DFL, true},       {SIGINT, SIG_DFL, true},
  };
  sigset_t three, runner_mask;
  sigemptyset(&three);
  for (const int sig : cleanup_signals) sigaddset(&three, sig);
  sigprocmask(SIG_UNBLOCK, &three, &runner_mask);
  for (const Case& c : cases) {
    struct sigaction runner;
    sigaction(c.sig, nullptr, &runner);
    signal(c.sig, c.before);
    handled = 0;
    Scratch_dir dir;
    {
      Temporary_file file(dir.file("o.mtz"), "T");
      EXPECT_EQ(handler_of(c.sig) != c.before, c.taken) << c.sig;
      if (!c.taken) {
        raise(c.sig);
        EXPECT_EQ(handled, c.before == count_signal ? 1 : 0) << c.sig;
        EXPECT_EQ(dir.entries().size(), 1u) << c.sig;
      }
    }
    EXPECT_EQ(handler_of(c.sig), c.before) << c.sig;
    EXPECT_TRUE(dir.entries().empty()) << c.sig;
    sigaction(c.sig, &runner, nullptr);
  }
  sigprocmask(SIG_SETMASK, &runner_mask, nullptr);
}

TEST(SignalCleanup, OnlyTheWatchingProcessRemoves) {
  // A child forked while a temporary exists (as for a read in a separate
  // process) and ended by a signal leaves the parent's file alone.
  Scratch_dir dir;
  const int status = status_of_child([&] {
    Temporary_file file(dir.file("o.mtz"), "T");
    const pid_t child = fork();
    if (child == 0) {
      raise(SIGTERM);
      _exit(0);
    }
    int inner = 0;
    waitpid(child, &inner, 0);
    if (!WIFSIGNALED(inner) || WTERMSIG(inner) != SIGTERM) _exit(5);
    if (access(file.path().c_str(), F_OK) != 0) _exit(6);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(dir.entries().empty());
}

TEST(SignalCleanup, FilesBeyondTheRegistryAreLeft) {
  Scratch_dir dir;
  const int status = status_of_child([&] {
    std::vector<std::unique_ptr<Cleanup_on_signal>> watched;
    for (int i = 0; i < 20; ++i) {
      const std::string name = dir.file("f" + std::to_string(100 + i));
      write_bytes(name, "x");
      watched.emplace_back(new Cleanup_on_signal);
      watched.back()->watch(name);
      if (watched.back()->watching() != (i < 16)) _exit(5);
    }
    // A freed slot is taken again.
    watched[3]->forget();
    watched[19]->watch(dir.file("f103"));
    if (!watched[19]->watching()) _exit(6);
    raise(SIGTERM);
  });
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"f116", "f117", "f118", "f119"}));
}

TEST(SignalCleanup, ACommitIsNotCutShort) {
  // A file written in place (its directory closed to the user) is copied
  // from the temporary; a signal sent while the copy is under way ends the
  // process only once the file holds the whole new text. The temporary is
  // made a FIFO whose writer sends the signal halfway, so that it comes
  // during the copy.
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make a file another user owns";
  for (const int sig : cleanup_signals) {
    Scratch_dir dir;
    const std::string target = dir.write("o.mtz", "old"), tmpdir = dir.file("tmp");
    ASSERT_EQ(mkdir(tmpdir.c_str(), 0700), 0);
    ASSERT_EQ(chown(tmpdir.c_str(), unprivileged_id, unprivileged_id), 0);
    ASSERT_EQ(chown(target.c_str(), unprivileged_id, unprivileged_id), 0);
    const int status = status_of_child([&] {
      if (setgid(unprivileged_id) != 0 || setuid(unprivileged_id) != 0) _exit(4);
      setenv("TMPDIR", tmpdir.c_str(), 1);
      Temporary_file file(target, "T");
      if (file.path().rfind(tmpdir, 0) != 0) _exit(5);  // not in place
      if (unlink(file.path().c_str()) != 0 || mkfifo(file.path().c_str(), 0600) != 0) _exit(6);
      const pid_t copier = getpid();
      if (fork() == 0) {
        // Opened once the copy opens the temporary.
        const int out = open(file.path().c_str(), O_WRONLY);
        signal(SIGPIPE, SIG_IGN);
        if (out < 0 || write(out, "new ", 4) != 4) _exit(1);
        kill(copier, sig);
        usleep(100000);
        _exit(write(out, "text", 4) == 4 ? 0 : 1);
      }
      file.commit();
      pause();
    });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig << " " << status;
    EXPECT_EQ(read_bytes(target), "new text") << sig;
    EXPECT_TRUE(entries_of(tmpdir).empty()) << sig;
  }
}
