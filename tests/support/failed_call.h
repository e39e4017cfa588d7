// One failed system call in a child process: the child runs a function under
// a seccomp filter that stops it at every system call it makes but those
// that cannot fail for a disk, a filesystem or another user (memory,
// signals, process ids, the clock), and this process, its tracer, counts the
// stops and fails the n-th with an error, as a faulty disk, a full
// filesystem or another user's change would. Calls on a file in memory
// (memfd), which no disk holds, are not counted either. A run that fails no
// call records the calls, so that a test can fail each in turn.
#ifndef VANTREL_TESTS_SUPPORT_FAILED_CALL_H
#define VANTREL_TESTS_SUPPORT_FAILED_CALL_H

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "support/testing.h"

namespace vantrel_testing {

//! A system call a traced child made: its number, its first argument, and
//! the file that argument names as a descriptor ("" where it names none).
struct Call {
  long nr = -1;
  unsigned long long arg0 = 0;
  std::string file;
};

//! What a traced child did.
struct Traced_run {
  bool refused = false;      // the system refused to trace it: nothing was run
  int status = 0;            // its wait status
  long calls = 0;            // the calls counted
  bool injected = false;     // the call to fail was made, and failed
  Call failed;               // that call
  std::vector<Call> record;  // every call counted, where asked
};

#if defined(__x86_64__)
constexpr bool can_fail_calls = true;
#else
constexpr bool can_fail_calls = false;  // the registers a result is set in are x86-64's
#endif

//! The name of a system call ("call <nr>" for one not listed).
inline std::string call_name(const long nr) {
  // clang-format off
#define VANTREL_CALL(name) {SYS_##name, #name}
  static const std::pair<long, const char*> names[] = {
      VANTREL_CALL(read), VANTREL_CALL(write), VANTREL_CALL(pread64),
      VANTREL_CALL(pwrite64), VANTREL_CALL(readv), VANTREL_CALL(writev), VANTREL_CALL(openat),
      VANTREL_CALL(open), VANTREL_CALL(close), VANTREL_CALL(lseek), VANTREL_CALL(fstat),
      VANTREL_CALL(newfstatat), VANTREL_CALL(statx), VANTREL_CALL(stat), VANTREL_CALL(lstat),
      VANTREL_CALL(access), VANTREL_CALL(faccessat), VANTREL_CALL(faccessat2), VANTREL_CALL(fcntl),
      VANTREL_CALL(flock), VANTREL_CALL(fsync), VANTREL_CALL(fdatasync), VANTREL_CALL(ftruncate),
      VANTREL_CALL(fallocate), VANTREL_CALL(fchmod), VANTREL_CALL(fchown), VANTREL_CALL(fchmodat),
      VANTREL_CALL(fchownat), VANTREL_CALL(getxattr), VANTREL_CALL(fgetxattr),
      VANTREL_CALL(fsetxattr), VANTREL_CALL(setxattr), VANTREL_CALL(fremovexattr),
      VANTREL_CALL(removexattr), VANTREL_CALL(flistxattr), VANTREL_CALL(linkat), VANTREL_CALL(link),
      VANTREL_CALL(unlinkat), VANTREL_CALL(unlink), VANTREL_CALL(renameat), VANTREL_CALL(renameat2),
      VANTREL_CALL(rename), VANTREL_CALL(mkdirat), VANTREL_CALL(mkdir), VANTREL_CALL(rmdir),
      VANTREL_CALL(getdents64), VANTREL_CALL(readlink), VANTREL_CALL(readlinkat),
      VANTREL_CALL(getcwd), VANTREL_CALL(chdir), VANTREL_CALL(fchdir), VANTREL_CALL(ioctl),
      VANTREL_CALL(inotify_init1), VANTREL_CALL(inotify_add_watch), VANTREL_CALL(copy_file_range),
      VANTREL_CALL(sendfile), VANTREL_CALL(getrandom), VANTREL_CALL(dup), VANTREL_CALL(dup2),
      VANTREL_CALL(dup3), VANTREL_CALL(pipe2), VANTREL_CALL(clone), VANTREL_CALL(clone3),
      VANTREL_CALL(wait4), VANTREL_CALL(execve), VANTREL_CALL(kill), VANTREL_CALL(tgkill),
      VANTREL_CALL(nanosleep), VANTREL_CALL(clock_nanosleep), VANTREL_CALL(prlimit64),
      VANTREL_CALL(sysinfo), VANTREL_CALL(uname)};
  // clang-format on
#undef VANTREL_CALL
  for (const auto& [number, name] : names)
    if (number == nr) return name;
  return "call " + std::to_string(nr);
}

namespace failed_call_detail {

// The calls that are never stopped: they cannot fail for a disk, a
// filesystem or another user, or failing them would only fake a fault of
// memory or of the process itself. Random bits are among them: the C
// library draws them a varying number of times (mkdtemp draws again to
// keep its names fair), which would shift the count of the calls after.
inline const std::vector<long>& unstopped() {
  static const std::vector<long> calls = {
      SYS_brk,           SYS_mmap,         SYS_munmap,         SYS_mprotect,     SYS_madvise,
      SYS_mremap,        SYS_rt_sigaction, SYS_rt_sigprocmask, SYS_rt_sigreturn, SYS_sigaltstack,
      SYS_rt_sigpending, SYS_futex,        SYS_exit,           SYS_exit_group,   SYS_getpid,
      SYS_gettid,        SYS_getppid,      SYS_getuid,         SYS_geteuid,      SYS_getgid,
      SYS_getegid,       SYS_umask,        SYS_times,          SYS_getrusage,    SYS_clock_gettime,
      SYS_gettimeofday,  SYS_time,         SYS_sched_yield,    SYS_getrandom};
  return calls;
}

// The filter: a trace stop for every call but those above.
inline bool install_filter(const __u32 arch) {
  std::vector<sock_filter> filter = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, arch, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
  const std::vector<long>& skip = unstopped();
  for (std::size_t i = 0; i < skip.size(); ++i)  // on a match, jump to the last instruction
    filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __u32(skip[i]), __u8(skip.size() - i), 0));
  filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRACE));
  filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  return with_filter(filter.data(), (unsigned short)filter.size());
}

// The exit status of a child whose tracing the system refused.
constexpr int refused_status = 121;

// Makes the call at which the traced process pid is stopped return -error:
// skipped at its seccomp stop, changed at its exit stop.
inline bool set_result(const pid_t pid, const bool skip, const int error) {
#if defined(__x86_64__)
  user_regs_struct regs;
  if (ptrace(PTRACE_GETREGS, pid, nullptr, &regs) != 0) return false;
  if (skip) regs.orig_rax = ~0ull;  // the call is not made
  regs.rax = (unsigned long long)(-(long long)error);
  return ptrace(PTRACE_SETREGS, pid, nullptr, &regs) == 0;
#else
  static_cast<void>(pid), static_cast<void>(skip), static_cast<void>(error);
  return false;
#endif
}

#if defined(__x86_64__)
constexpr __u32 audit_arch = AUDIT_ARCH_X86_64;
#else
constexpr __u32 audit_arch = 0;
#endif

}  // namespace failed_call_detail

//! Runs setup, then body under the filter, in a child process that ends as
//! exit(body()) ends it, traced by this one: the fail_at-th call stopped
//! (from 1; 0 for none) fails with error, and where record is set, every
//! call stopped is recorded. The call fails as the system fails it: without
//! effect, but close, which releases its descriptor whatever it returns.
//! at_call, where given, is called at each call stopped, with its number,
//! before the call is made: what another process does then.
inline Traced_run traced_run(const std::function<void()>& setup, const std::function<int()>& body,
                             const long fail_at, const int error, const bool record,
                             const std::function<void(long)>& at_call = {}) {
  namespace detail = failed_call_detail;
  Traced_run run;
  if (!can_fail_calls) {
    run.refused = true;
    return run;
  }
  std::cout.flush();  // nothing buffered here is written twice
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    setup();
    if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(detail::refused_status);
    raise(SIGSTOP);
    if (!detail::install_filter(detail::audit_arch)) _exit(detail::refused_status);
    std::exit(body());
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status) ||
      ptrace(PTRACE_SETOPTIONS, pid, nullptr,
             PTRACE_O_TRACESECCOMP | PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL) != 0) {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
    run.refused = true;
    return run;
  }
  const auto call_at = [&]() {
    Call call;
    __ptrace_syscall_info info{};
    if (ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof info, &info) > 0 &&
        info.op == PTRACE_SYSCALL_INFO_SECCOMP) {
      call.nr = long(info.seccomp.nr);
      call.arg0 = info.seccomp.args[0];
      if (call.arg0 < 4096)  // a descriptor, where it names one
        call.file = link_text("/proc/" + std::to_string(pid) + "/fd/" + std::to_string(call.arg0));
      if (call.file == "no link") call.file.clear();
    }
    return call;
  };
  int deliver = 0;
  for (int request = PTRACE_CONT; ptrace(__ptrace_request(request), pid, nullptr, deliver) == 0;) {
    request = PTRACE_CONT;
    deliver = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status)) break;
    if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_SECCOMP << 8))) {
      const Call call = call_at();
      if (call.file.compare(0, 7, "/memfd:") == 0) continue;  // a file in memory
      ++run.calls;
      if (record) run.record.push_back(call);
      if (at_call) at_call(run.calls);
      if (run.calls == fail_at) {
        run.failed = call;
        // close releases its descriptor whatever it returns: its result is
        // changed as it returns.
        if (call.nr == SYS_close)
          request = PTRACE_SYSCALL;
        else
          run.injected = detail::set_result(pid, true, error);
      }
    } else if (WSTOPSIG(status) == (SIGTRAP | 0x80)) {  // the exit of the close failed
      run.injected = detail::set_result(pid, false, error);
    } else {
      deliver = WSTOPSIG(status);  // a signal, delivered as it came
    }
  }
  if (!WIFEXITED(status) && !WIFSIGNALED(status)) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  run.status = status;
  run.refused =
      run.calls == 0 && WIFEXITED(status) && WEXITSTATUS(status) == detail::refused_status;
  return run;
}

}  // namespace vantrel_testing

#endif
