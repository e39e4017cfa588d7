#include "system/signal_cleanup.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>

#include "support/testing.h"
#include "system/output_file.h"

using namespace vantrel;
using namespace vantrel_testing;

namespace {

// Every signal whose default action ends the process, but SIGKILL, the
// faults, and SIGXFSZ (ignored once a file is watched).
std::vector<int> ending_signals() {
  std::vector<int> list = {SIGHUP,  SIGINT,  SIGQUIT,   SIGPIPE, SIGALRM,   SIGTERM, SIGUSR1,
                           SIGUSR2, SIGXCPU, SIGVTALRM, SIGPROF, SIGSTKFLT, SIGIO,   SIGPWR};
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) list.push_back(sig);
  return list;
}

// The wait status of a child process that runs body with every signal at
// its default (whatever the test runner set), then exits; it dumps no core.
// Its outputs' new content is made in private folders, as on filesystems
// that make no files without a name (exit 7 where that cannot be had).
int status_of_child(const std::function<void()>& body) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (!without_unnamed_files()) _exit(7);
    prctl(PR_SET_DUMPABLE, 0);
    for (int sig = 1; sig < NSIG; ++sig)
      if (sig != SIGKILL && sig != SIGSTOP) signal(sig, SIG_DFL);
    body();
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

bool ended_by(const int status, const int sig) {
  return WIFSIGNALED(status) && WTERMSIG(status) == sig;
}

// True once sig waits, held, for the process pid, or that process has ended.
bool held_or_ended(const pid_t pid, const int sig) {
  const std::string status = read_bytes("/proc/" + std::to_string(pid) + "/status");
  const std::size_t at = status.find("ShdPnd:\t");
  if (at == std::string::npos || status.find("State:\tZ") != std::string::npos) return true;
  return (std::stoull(status.substr(at + 8, 16), nullptr, 16) >> (sig - 1) & 1) != 0;
}

// A chain of folders below a test's folder whose absolute path is longer
// than a path may be: 22 steps of 201 characters.
const std::string step(200, 'd');
constexpr int depth = 22;

// Goes down the chain from the current folder, making what is missing.
bool go_deep() {
  for (int i = 0; i < depth; ++i)
    if ((mkdir(step.c_str(), 0755) != 0 && errno != EEXIST) || chdir(step.c_str()) != 0)
      return false;
  return true;
}

// The names the deepest folder of the chain below dir holds, each followed
// by a space.
std::string deepest(const Scratch_dir& dir) {
  return in_child([&] {
    std::string names = chdir(dir.path().c_str()) == 0 && go_deep() ? "" : "no chain";
    for (const std::string& name : entries_of(".")) names += name + " ";
    return names;
  });
}

}  // namespace

// Each signal removes the outputs' private folders (also of an output
// nested in another's, and of one begun relative to a folder left since,
// whose absolute path is longer than a path may be) and ends the process
// as it would; not when a forked child gets it, nor before a hold on it ends.
TEST(SignalCleanup, TemporariesGoWithTheSignalThatEndsTheProcess) {
  for (const int sig : ending_signals()) {
    Scratch_dir dir;
    const std::string target = dir.write("o.mtz", "old");
    const int status = status_of_child([&] {
      const Output_file beside(target, "T"), nested(beside.path(), "T");
      if (chdir(dir.path().c_str()) != 0 || !go_deep()) _exit(4);
      const Output_file deep("r.mtz", "T");
      if (chdir("/") != 0) _exit(4);
      if (fork() == 0) {
        raise(sig);
        _exit(0);
      }
      wait(nullptr);
      if (dir.entries().size() != 3) _exit(5);
      const Signals_held held;
      raise(sig);
      write_bytes(target, "written while held");
    });
    EXPECT_TRUE(ended_by(status, sig)) << sig << " " << status;
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{step, "o.mtz"})) << sig;
    EXPECT_EQ(read_bytes(target), "written while held") << sig;
    EXPECT_EQ(deepest(dir), "") << sig;
  }
}

// The disposition of sig (a handler, SIG_DFL or SIG_IGN).
void (*disposition(const int sig))(int) {
  struct sigaction now;
  return sigaction(sig, nullptr, &now) == 0 ? now.sa_handler : nullptr;
}

// From the first output on a file size limit's signal is ignored (the write
// fails instead); a signal the caller ignores or handles stays so, and
// removes nothing. The handlers are installed once and stay: fifty entries
// watched and forgotten in turn leave every disposition as the first set
// it, and a signal with nothing watched then ends the process as it would,
// removing nothing.
TEST(SignalCleanup, CallersDispositionsStay) {
  static int handled = 0;
  void (*const count)(int) = [](int) { ++handled; };
  Scratch_dir dir;
  const std::string forgotten = dir.write("forgotten", "");
  const int status = status_of_child([&] {
    signal(SIGHUP, SIG_IGN);
    signal(SIGINT, count);
    {
      const Output_file file(dir.file("o.mtz"), "T");
      if (raise(SIGHUP) != 0 || raise(SIGINT) != 0 || raise(SIGXFSZ) != 0 ||
          dir.entries().size() != 2 || handled != 1)
        _exit(5);
    }
    std::vector<int> all = ending_signals();
    all.push_back(SIGXFSZ);
    std::vector<void (*)(int)> installed;
    for (const int sig : all) installed.push_back(disposition(sig));
    if (disposition(SIGHUP) != SIG_IGN || disposition(SIGINT) != count ||
        disposition(SIGXFSZ) != SIG_IGN || disposition(SIGTERM) == SIG_DFL)
      _exit(6);
    const int fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < 50; ++i) {
      Cleanup_on_signal watched;
      watched.watch(fd, "forgotten");
      for (std::size_t s = 0; s < all.size(); ++s)
        if (disposition(all[s]) != installed[s]) _exit(7);
    }
    for (std::size_t s = 0; s < all.size(); ++s)
      if (disposition(all[s]) != installed[s]) _exit(8);
    raise(SIGTERM);
  });
  EXPECT_TRUE(ended_by(status, SIGTERM)) << status;
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"forgotten"});
}

// A file written in place (it has a second name) is copied from its new
// content, here a FIFO whose writer sends a signal halfway and goes on once
// the signal is held: the process ends only once the file holds the whole
// new text.
TEST(SignalCleanup, ACommitIsNotCutShort) {
  for (const int sig : {SIGTERM, SIGQUIT, SIGPIPE, SIGUSR1, SIGALRM, SIGRTMIN + 3}) {
    Scratch_dir dir;
    const std::string target = dir.write("o.mtz", "old");
    ASSERT_EQ(link(target.c_str(), dir.file("p.mtz").c_str()), 0);
    const int status = status_of_child([&] {
      Output_file file(target, "T");
      if (unlink(file.path().c_str()) != 0 || mkfifo(file.path().c_str(), 0600) != 0) _exit(5);
      if (fork() == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // not left waiting should the copy never open it
        const pid_t copy = getppid();
        const int out = open(file.path().c_str(), O_WRONLY);  // once the copy opens it
        if (out < 0 || write(out, "new ", 4) != 4 || kill(copy, sig) != 0) _exit(1);
        while (!held_or_ended(copy, sig)) usleep(1000);
        _exit(write(out, "text", 4) == 4 ? 0 : 1);
      }
      file.commit();
    });
    EXPECT_TRUE(ended_by(status, sig)) << sig << " " << status;
    EXPECT_EQ(read_bytes(target), "new text") << sig;
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"o.mtz", "p.mtz"})) << sig;
  }
}
