// Work run in a child process: its report, its end, and its two limits,
// which count the processor time it uses and no time it is stopped.
#include "system/child_process.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <functional>
#include <stdexcept>
#include <thread>
#include <tuple>
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

}  // namespace

// Each way a child can end, with the processor time it used (at least the
// given one, and less than 5 s); none leaves a descriptor open or a child
// unreaped. A child whose report is cut short has crashed. A child that
// sleeps before it spins is ended by the time it ran, not by the time since
// it started; one that only waits, by the wall bound (20 x 0.075 s); one
// whose caller's wait fails (poll refused once the child allows its caller
// no descriptor), at once.
TEST(ChildProcess, OutcomesAndLimits) {
  const String large = String(100000, 'x') + String("\0end", 4);  // more than a pipe holds
  const auto spins = []() -> String {
    for (;;) spin(1e9);
  };
  rlimit allowed;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &allowed), 0);
  const std::size_t open = vantrel_testing::entries_of("/proc/self/fd").size();
  // As under nohup, beside a handler of SIGINT, an ignored SIGSEGV and a
  // blocked SIGUSR1.
  struct sigaction old[3];
  const std::pair<int, void (*)(int)> settings[3] = {
      {SIGHUP, SIG_IGN}, {SIGSEGV, SIG_IGN}, {SIGINT, [](int) {}}};
  for (int i = 0; i < 3; ++i) {
    struct sigaction set = {};
    set.sa_handler = settings[i].second;
    ASSERT_EQ(sigaction(settings[i].first, &set, &old[i]), 0);
  }
  sigset_t user, old_mask;
  sigemptyset(&user);
  sigaddset(&user, SIGUSR1);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &user, &old_mask), 0);
  const std::vector<
      std::tuple<std::function<String()>, double, Child_outcome::Kind, String, double>>
      cases = {
          {[] { return String(); }, 5, Child_outcome::done, "", 0},
          {[&] { return large; }, 5, Child_outcome::done, large, 0},
          {[]() -> String { throw std::runtime_error("x"); }, 5, Child_outcome::crashed, "", 0},
          // Faults and an uncatchable end are crashes; a signal from outside,
          // at its default in the caller or handled there, interrupts (its
          // number follows the text); one the caller ignores or blocks,
          // changes nothing.
          {[] { return String(raise(SIGTERM)); }, 5, Child_outcome::interrupted, " 15", 0},
          {[] { return String(raise(SIGINT)); }, 5, Child_outcome::interrupted, " 2", 0},
          {[] { return raise(SIGHUP), String("on"); }, 5, Child_outcome::done, "on", 0},
          {[] { return raise(SIGUSR1), String("on"); }, 5, Child_outcome::done, "on", 0},
          {[]() -> String { abort(); }, 5, Child_outcome::crashed, "", 0},
          {[] { return String(raise(SIGSEGV)); }, 5, Child_outcome::crashed, "", 0},
          {[] { return String(raise(SIGKILL)); }, 5, Child_outcome::crashed, "", 0},
          {[]() -> String { _exit(0); }, 5, Child_outcome::crashed, "", 0},
          {[] {  // a report cut short: its write stops once the pipe is full
             for (int fd = 3; fd < 100; ++fd)
               if (struct stat st; fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode))
                 fcntl(fd, F_SETFL, O_NONBLOCK);
             return String(1 << 26, 'x');
           },
           5, Child_outcome::crashed, "", 0},
          {spins, 0.2, Child_outcome::over_time, "", 0.2},
          {[&] { return usleep(600000), spins(); }, 0.3, Child_outcome::over_time, "", 0.3},
          {[]() -> String {
             for (;;) pause();
           },
           0.075, Child_outcome::over_wait, "", 0},
          {[&] {
             const rlimit none = {0, allowed.rlim_max};
             prlimit(getppid(), RLIMIT_NOFILE, &none, nullptr);
             spin(5);
             return String();
           },
           60, Child_outcome::failed, "poll: Invalid argument", 0}};
  for (const auto& [work, limit, kind, text, used] : cases) {
    SCOPED_TRACE(std::to_string(kind) + " " + std::to_string(limit));
    const double before = children_seconds();
    const Child_outcome outcome = run_in_child(work, limit);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &allowed), 0);
    EXPECT_EQ(outcome.kind, kind);
    EXPECT_EQ(
        outcome.text + (outcome.signal_number ? " " + std::to_string(outcome.signal_number) : ""),
        text);
    EXPECT_GE(children_seconds() - before, used);
    EXPECT_LT(children_seconds() - before, 5);
    EXPECT_EQ(vantrel_testing::entries_of("/proc/self/fd").size(), open);
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  }
  for (int i = 0; i < 3; ++i) sigaction(settings[i].first, &old[i], nullptr);
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
}

// A stop of the child, or of the whole run (as by Ctrl-Z), longer than the
// wall bound (20 x 0.05 s) counts nothing towards it.
TEST(ChildProcess, StopsDoNotCount) {
  for (const bool whole_run : {false, true}) {
    const pid_t pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      const Child_outcome outcome =
          run_in_child([] { return usleep(300000), String("woke"); }, 0.05);
      _exit(outcome.kind != Child_outcome::done || outcome.text != "woke");
    }
    setpgid(pid, pid);
    const pid_t child = vantrel_testing::first_child_of(pid);
    ASSERT_GT(child, 0);
    ASSERT_EQ(kill(whole_run ? -pid : child, SIGSTOP), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    kill(whole_run ? -pid : child, SIGCONT);
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << whole_run << " " << status;
  }
}
