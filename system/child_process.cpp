#include "system/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <ctime>
#include <string>

#include "system/system_call.h"

namespace vantrel {

namespace {

// True while the process is stopped (by a signal or a tracer), from its
// state in /proc; false when that cannot be read.
bool is_stopped(const pid_t pid) {
  const std::string name = "/proc/" + std::to_string(pid) + "/stat";
  const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[512];
  const ssize_t n = read(fd, text, sizeof text - 1);
  close(fd);
  if (n <= 0) return false;
  text[n] = 0;
  // The state follows the command name, which is in parentheses and may
  // itself hold any character.
  const char* end = std::strrchr(text, ')');
  return end && end[1] == ' ' && (end[2] == 'T' || end[2] == 't');
}

// The processor time the process has used, in seconds; -1 when it cannot
// be read.
double cpu_seconds_of(const clockid_t clock) {
  timespec t;
  return clock_gettime(clock, &t) == 0 ? double(t.tv_sec) + double(t.tv_nsec) * 1e-9 : -1;
}

Child_outcome failure(const char* call, const int error) {
  return {Child_outcome::failed, String(call) + ": " + std::strerror(error)};
}

// The report a child sends: "D", the length of the text in decimal, ":"
// and the text, so that a report cut short (the child killed while
// writing it) is told from a whole one.
String report_of(const String& text) { return "D" + std::to_string(text.size()) + ":" + text; }

bool parse_report(const String& report, String& text) {
  const std::size_t colon = report.find(':');
  if (report.compare(0, 1, "D") != 0 || colon == String::npos) return false;
  text = report.substr(colon + 1);
  return report.substr(1, colon - 1) == std::to_string(text.size());
}

// The signals that a fault of the work itself raises; any other signal
// that ends the child came from outside.
bool is_fault(const int sig) {
  return sig == SIGSEGV || sig == SIGBUS || sig == SIGFPE || sig == SIGILL || sig == SIGABRT ||
         sig == SIGTRAP || sig == SIGSYS;
}

// How a child that sent no whole report ended, from its wait status (none
// when it could not be reaped, as under an ignored SIGCHLD). A signal from
// outside interrupted it; a fault, SIGKILL (the memory killer's) or SIGXCPU
// (a processor-time limit it inherited) is a crash.
Child_outcome unreported(const bool reaped, const int status) {
  if (reaped && WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    if (!is_fault(sig) && sig != SIGKILL && sig != SIGXCPU)
      return {Child_outcome::interrupted, String(), sig};
  }
  return {Child_outcome::crashed, String()};
}

// The child's side: it runs work, reports on out and ends.
[[noreturn]] void run_child(const std::function<String()>& work, const pid_t parent, const int out,
                            sigset_t caller_mask) {
  // Dies with the caller, also when that died before this line.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(1);
  // The caller's handlers go back to the default (a run under nohup, or a
  // script's trap '' INT, keeps what it ignores); all signals are blocked
  // until here (see run_in_child).
  for (int s = 1; s < NSIG; ++s) {
    struct sigaction now;
    if (sigaction(s, nullptr, &now) != 0) continue;
    if (is_fault(s)) sigdelset(&caller_mask, s);
    if (is_fault(s) || (now.sa_flags & SA_SIGINFO) != 0 || now.sa_handler != SIG_IGN)
      signal(s, SIG_DFL);
  }
  sigprocmask(SIG_SETMASK, &caller_mask, nullptr);
  // What the work or the C library print on the way down is not the caller's.
  const int null = open("/dev/null", O_WRONLY);
  if (null >= 0) {
    dup2(null, 1);
    dup2(null, 2);
  }
  String report;
  try {
    report = report_of(work());
  } catch (...) {
    _exit(1);
  }
  _exit(System::write_all(out, report.data(), report.size()) ? 0 : 1);
}

}  // namespace

Child_outcome run_in_child(const std::function<String()>& work, const double cpu_seconds) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return failure("pipe", errno);
  // The pipe is kept above the standard descriptors: a caller started with
  // any of them closed would otherwise give it one, which the child's
  // /dev/null over 1 and 2 would then close.
  int error = 0;
  for (int& end : fds) {
    const int moved = end > 2 ? end : fcntl(end, F_DUPFD_CLOEXEC, 3);
    if (moved < 0) error = errno;
    if (moved != end) close(end);
    end = moved;
  }
  if (error != 0) {
    for (int& end : fds) System::close_fd(end);
    return failure("pipe", error);
  }
  const pid_t parent = getpid();
  // No signal is taken between the fork and the child's own dispositions,
  // where it would run a handler of the caller's in the child.
  sigset_t all, caller_mask;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &caller_mask);
  const pid_t child = fork();
  error = errno;
  if (child == 0) {
    close(fds[0]);
    run_child(work, parent, fds[1], caller_mask);
  }
  pthread_sigmask(SIG_SETMASK, &caller_mask, nullptr);
  if (child < 0) {
    for (int& end : fds) System::close_fd(end);
    return failure("fork", error);
  }
  close(fds[1]);
  // Without a clock (the child already gone, and reaped under an ignored
  // SIGCHLD) only the wall bound applies, until the pipe shows its end.
  clockid_t clock;
  const bool has_clock = clock_getcpuclockid(child, &clock) == 0;
  const double wall_seconds = child_wall_factor * cpu_seconds;
  // The wall bound counts the time the child may run, not the time it is
  // stopped: the wait goes in slices of at most 0.1 s, each counted at no
  // more than its length (so a run stopped whole, as by Ctrl-Z, counts
  // none of its stop) and not at all when it ends with the child stopped.
  // What waits in the pipe is read before a limit can be found passed.
  String report;
  Child_outcome::Kind passed = Child_outcome::done;  // the limit passed, if any
  int poll_error = 0;
  double waited_for = 0;
  for (char buffer[4096];;) {
    // Read before the wait: a wait that sees neither data nor the pipe's
    // end shows that the child had not yet ended (its end of the pipe
    // closes before it can be reaped and its number given to another
    // process), so the time read is the child's.
    const double used = has_clock ? cpu_seconds_of(clock) : -1;
    const double left = std::min(0.1, std::max(0.0, wall_seconds - waited_for));
    const int slice = std::max(1, int(std::ceil(left * 1000)));
    const auto start = std::chrono::steady_clock::now();
    pollfd in = {fds[0], POLLIN, 0};
    const int ready = poll(&in, 1, slice);
    if (ready > 0) {
      const ssize_t n = read(fds[0], buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      report.append(buffer, std::size_t(n));
      continue;
    }
    if (ready < 0) {
      if (errno == EINTR) continue;
      poll_error = errno;
      break;
    }
    const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - start;
    if (!is_stopped(child)) waited_for += std::min(waited.count(), slice / 1000.0);
    if (used >= cpu_seconds || waited_for >= wall_seconds) {
      passed = used >= cpu_seconds ? Child_outcome::over_time : Child_outcome::over_wait;
      break;
    }
  }
  close(fds[0]);
  // A child that is still running is killed before the wait, whatever ended
  // the watch: a failed poll must not leave the caller waiting on it.
  if (passed != Child_outcome::done || poll_error) kill(child, SIGKILL);
  // Under an ignored SIGCHLD the child is reaped by the system and waitpid
  // fails (ECHILD) once it is gone; either way it has ended here.
  int status = 0;
  pid_t reaped;
  while ((reaped = waitpid(child, &status, 0)) < 0 && errno == EINTR) {
  }
  if (poll_error) return failure("poll", poll_error);
  if (passed != Child_outcome::done) return {passed, String()};
  String text;
  if (!parse_report(report, text)) return unreported(reaped == child, status);
  return {Child_outcome::done, text};
}

}  // namespace vantrel
