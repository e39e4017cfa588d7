// Work run in a child process: its report, its end, and its two limits,
// which count the processor time it uses and no time it is stopped.
#include "foundation/child_process.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <fstream>
#include <functional>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/testing.h"

using namespace vantrel;

namespace {

// Spins until this process has used the processor for that long.
void spin(const double seconds) {
  for (timespec t = {0, 0}; double(t.tv_sec) + double(t.tv_nsec) * 1e-9 < seconds;)
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
}

// The processor time of this process's reaped children.
double children_seconds() {
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

// True once the process sleeps (state S in /proc), within a minute.
bool sleeps(const pid_t pid) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  for (std::string text; std::chrono::steady_clock::now() < end;) {
    std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), text);
    if (text.find(") S ") != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

}  // namespace

// Each way a child can end, with the processor time it used at least. A
// child that sleeps before it spins is ended by the time it ran, not by
// the time since it started; one that only waits, by the wall bound
// (20 x 0.075 s).
TEST(ChildProcess, OutcomesAndLimits) {
  const String large = String(100000, 'x') + String("\0end", 4);  // more than a pipe holds
  const auto spins = []() -> String {
    for (;;) spin(1e9);
  };
  const std::vector<
      std::tuple<std::function<String()>, double, Child_outcome::Kind, String, double>>
      cases = {
          {[] { return String(); }, 5, Child_outcome::done, "", 0},
          {[&] { return large; }, 5, Child_outcome::done, large, 0},
          {[]() -> String { throw std::runtime_error("x"); }, 5, Child_outcome::crashed, "", 0},
          {[] { return String(raise(SIGTERM)); }, 5, Child_outcome::crashed, "", 0},  // ends there
          {[]() -> String { _exit(0); }, 5, Child_outcome::crashed, "", 0},
          {spins, 0.2, Child_outcome::over_time, "", 0.2},
          {[&] {
             usleep(600000);
             return spins();
           },
           0.3, Child_outcome::over_time, "", 0.3},
          {[]() -> String {
             for (;;) pause();
           },
           0.075, Child_outcome::over_wait, "", 0}};
  for (const auto& [work, limit, kind, text, used] : cases) {
    SCOPED_TRACE(std::to_string(kind) + " " + std::to_string(limit));
    const double before = children_seconds();
    const Child_outcome outcome = run_in_child(work, limit);
    EXPECT_EQ(outcome.kind, kind);
    EXPECT_EQ(outcome.text, text);
    EXPECT_GE(children_seconds() - before, used);
  }
}

// A stop of the child, or of the whole run (as by Ctrl-Z), longer than the
// wall bound (20 x 0.05 s) counts nothing towards it; a child killed while
// its report is on the way (the pipe full, the caller stopped) has crashed.
TEST(ChildProcess, StoppedAndCutRuns) {
  enum Act { stop_child, stop_run, cut_report };
  for (const Act act : {stop_child, stop_run, cut_report}) {
    SCOPED_TRACE(act);
    const pid_t pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      const auto woke = [] {
        usleep(300000);
        return String("woke");
      };
      const Child_outcome outcome = act == cut_report
                                        ? run_in_child([] { return String(1 << 26, 'x'); }, 60)
                                        : run_in_child(woke, 0.05);
      _exit(act == cut_report ? outcome.kind != Child_outcome::crashed || !outcome.text.empty()
                              : outcome.kind != Child_outcome::done || outcome.text != "woke");
    }
    setpgid(pid, pid);
    const pid_t child = first_child_of(pid);
    ASSERT_GT(child, 0);
    const pid_t stopped = act == stop_child ? child : act == stop_run ? -pid : pid;
    ASSERT_EQ(kill(stopped, SIGSTOP), 0);
    if (act == cut_report) {
      EXPECT_TRUE(sleeps(child));  // in a write to the full pipe
      kill(child, SIGKILL);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    }
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
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  munmap(finished, sizeof(std::atomic<bool>));
}
