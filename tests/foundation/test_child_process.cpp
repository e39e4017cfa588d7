// Work run in a child process: its report, its end, and its two limits,
// which count the processor time it uses and no time it is stopped.
#include "foundation/child_process.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/testing.h"

using namespace vantrel;

namespace {

double own_cpu_seconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Spins until this process has used the processor for that long.
void spin(const double seconds) {
  while (own_cpu_seconds() < seconds) {
  }
}

// The processor time of this process's reaped children.
double children_cpu_seconds() {
  rusage r;
  getrusage(RUSAGE_CHILDREN, &r);
  return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
         double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) * 1e-6;
}

// The first child that the main thread of a process starts within a minute
// (a wide margin: it starts one at once); 0 when none.
pid_t first_child_of(const pid_t pid) {
  const std::string id = std::to_string(pid),
                    children = "/proc/" + id + "/task/" + id + "/children";
  const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  pid_t child = 0;
  while (!(std::ifstream(children) >> child) && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  return child;
}

// The state letter of a process in /proc (R, S, T, Z ...); 0 when it is gone.
char state_of(const pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  const std::size_t end = text.rfind(')');
  return end == std::string::npos || end + 2 >= text.size() ? 0 : text[end + 2];
}

}  // namespace

// Each way a child can end, with the processor time it used at least. A
// child that sleeps before it spins is ended by the time it ran, not by
// the time since it started; one that only waits, by the wall bound
// (20 x 0.075 s).
TEST(ChildProcess, OutcomesAndLimits) {
  const String large = String(100000, 'x') + String("\0end", 4);  // more than a pipe holds
  struct Case {
    const char* what;
    std::function<String()> work;
    double cpu_seconds;
    Child_outcome::Kind kind;
    String text;
    double used;
  };
  const std::vector<Case> cases = {
      {"nothing found", [] { return String(); }, 5, Child_outcome::done, "", 0},
      {"a large text", [&] { return large; }, 5, Child_outcome::done, large, 0},
      {"an exception", []() -> String { throw std::runtime_error("x"); }, 5, Child_outcome::crashed,
       "", 0},
      {"a signal",
       []() -> String {
         raise(SIGTERM);
         return String();
       },
       5, Child_outcome::crashed, "", 0},
      {"no report", []() -> String { _exit(0); }, 5, Child_outcome::crashed, "", 0},
      {"spins",
       []() -> String {
         for (;;) spin(1e9);
       },
       0.2, Child_outcome::over_time, "", 0.2},
      {"sleeps, then spins",
       []() -> String {
         usleep(600000);
         for (;;) spin(1e9);
       },
       0.3, Child_outcome::over_time, "", 0.3},
      {"waits",
       []() -> String {
         for (;;) pause();
       },
       0.075, Child_outcome::over_wait, "", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const double before = children_cpu_seconds();
    const Child_outcome outcome = run_in_child(c.work, c.cpu_seconds);
    EXPECT_EQ(outcome.kind, c.kind);
    EXPECT_EQ(outcome.text, c.text);
    EXPECT_GE(children_cpu_seconds() - before, c.used);
  }
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
}

// A stop of the child, or of the whole run (as by Ctrl-Z), longer than the
// wall bound (20 x 0.05 s) counts nothing towards it.
TEST(ChildProcess, StopsAreNotCounted) {
  for (const bool whole_run : {false, true}) {
    SCOPED_TRACE(whole_run);
    const pid_t pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      const Child_outcome outcome = run_in_child(
          [] {
            usleep(300000);
            return String("woke");
          },
          0.05);
      _exit(outcome.kind == Child_outcome::done && outcome.text == "woke" ? 0 : 1);
    }
    setpgid(pid, pid);
    const pid_t child = first_child_of(pid);
    ASSERT_GT(child, 0);
    const pid_t stopped = whole_run ? -pid : child;
    ASSERT_EQ(kill(stopped, SIGSTOP), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    kill(stopped, SIGCONT);
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
}

// A failed wait (poll refused once no descriptor is allowed) ends the child
// before its work is done, reaps it and leaves no descriptor open.
TEST(ChildProcess, AFailedWaitKillsTheChild) {
  auto* finished = static_cast<std::atomic<bool>*>(mmap(nullptr, sizeof(std::atomic<bool>),
                                                        PROT_READ | PROT_WRITE,
                                                        MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(finished, MAP_FAILED);
  new (finished) std::atomic<bool>(false);
  rlimit allowed;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &allowed), 0);
  const std::size_t open = vantrel_testing::entries_of("/proc/self/fd").size();
  // The thread lifts the limit again before it ends (the sanitizers' checks
  // at its end need descriptors).
  std::atomic<bool> returned(false);
  std::thread cut([&] {
    const rlimit none = {0, allowed.rlim_max};
    if (first_child_of(getpid()) > 0) setrlimit(RLIMIT_NOFILE, &none);
    while (!returned) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    setrlimit(RLIMIT_NOFILE, &allowed);
  });
  const Child_outcome outcome = run_in_child(
      [&] {
        spin(3);
        *finished = true;
        return String();
      },
      60);
  returned = true;
  cut.join();
  EXPECT_EQ(outcome.kind, Child_outcome::failed);
  EXPECT_EQ(outcome.text, "poll: Invalid argument");
  EXPECT_FALSE(*finished);
  EXPECT_EQ(vantrel_testing::entries_of("/proc/self/fd").size(), open);
  errno = 0;
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  munmap(finished, sizeof(std::atomic<bool>));
}

// A child killed while its report is on the way (here with the pipe full
// and the caller stopped) has crashed: a cut text is no report.
TEST(ChildProcess, ACutReportIsACrash) {
  const pid_t pid = fork();
  if (pid == 0) {
    const Child_outcome outcome = run_in_child([] { return String(1 << 26, 'x'); }, 60);
    _exit(outcome.kind == Child_outcome::crashed && outcome.text.empty() ? 0 : 1);
  }
  const pid_t child = first_child_of(pid);
  ASSERT_GT(child, 0);
  ASSERT_EQ(kill(pid, SIGSTOP), 0);
  // The child can sleep only in a write to the full pipe.
  const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (state_of(child) != 'S' && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(state_of(child), 'S');
  kill(child, SIGKILL);
  kill(pid, SIGCONT);
  int status = -1;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
