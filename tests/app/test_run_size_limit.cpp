// A file size limit and its signal (SIGXFSZ) in runs of the built executable.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "app/run_testing.h"

using namespace run_testing;
using vantrel_testing::read_bytes;
using vantrel_testing::Scratch_dir;

#ifdef QUELVARN_EXE
namespace {

// Waits until done() or the process pid has ended (a wide bound: it may wait
// long for a processor on a busy machine); true when done() was seen.
bool wait_for(const pid_t pid, const std::function<bool()>& done) {
  const auto start = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - start < std::chrono::seconds(120)) {
    if (done()) return true;
    siginfo_t ended{};
    if (waitid(P_PID, id_t(pid), &ended, WEXITED | WNOHANG | WNOWAIT) != 0 || ended.si_pid != 0)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

}  // namespace

// The limit's signal sent by another process never ends a run, whether it
// comes while the run reads its keywords (before any output is begun) or
// while its output is under way: the run completes. A write past a limit
// the shell set (ulimit -f) fails instead, and the output is named and left
// as it was.
TEST(RunSizeLimit, TheLimitsSignalNeverEndsTheRun) {
  const std::string reading_keywords = std::to_string(SYS_read) + " 0x0 ";
  for (const bool early : {true, false}) {
    SCOPED_TRACE(early ? "reading keywords" : "writing the output");
    const Scratch_dir dir;
    const std::string out = dir.write("o.mtz", "old");
    const Args args = against_1rx2("sm_1dur.mtz", "sm_1dur.pdb", calculated, {"-mtzout-wrk", out});
    std::string keywords;
    for (std::size_t i = 0; i + 1 < args.size(); i += 2)
      keywords += args[i].substr(1) + " " + args[i + 1] + "\n";
    int input[2];
    ASSERT_EQ(pipe(input), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      signal(SIGXFSZ, SIG_DFL);
      const int null = open("/dev/null", O_WRONLY);
      if (dup2(input[0], 0) != 0 || dup2(null, 1) != 1 || dup2(null, 2) != 2) _exit(126);
      close(input[1]);
      execl(QUELVARN_EXE, "quelvarn", "-stdin", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(input[0]);
    const std::string proc = "/proc/" + std::to_string(pid);
    // Blocked reading its standard input, or holding a file in the output's folder.
    const auto moment = [&] {
      const std::string call = read_bytes(proc + "/syscall"), inside = dir.path() + "/";
      if (early) return call.compare(0, reading_keywords.size(), reading_keywords) == 0;
      std::error_code error;
      for (const auto& fd : std::filesystem::directory_iterator(proc + "/fd", error))
        if (std::filesystem::read_symlink(fd.path(), error).string().rfind(inside, 0) == 0)
          return true;
      return false;
    };
    if (early) {
      EXPECT_TRUE(wait_for(pid, moment) && kill(pid, SIGXFSZ) == 0);
    }
    EXPECT_EQ(write(input[1], keywords.data(), keywords.size()), ssize_t(keywords.size()));
    close(input[1]);
    if (!early && wait_for(pid, moment)) kill(pid, SIGXFSZ);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(read_bytes(out).compare(0, 4, "MTZ "), 0);
    EXPECT_EQ(dir.entries(), Args{"o.mtz"});
  }

  const Scratch_dir dir;
  const std::string out = dir.write("o.mtz", "old");
  const Result r =
      quelvarn_exe(against_1rx2("sm_1dur.mtz", "sm_1dur.pdb", calculated, {"-mtzout-wrk", out}),
                   "ulimit -f 16; exec ");  // 8 kB
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_TRUE(r.says("\nquelvarn: cannot write " + out + ": writing its new content in " +
                     dir.path() + " failed: file too large; the file is left as it was\n"))
      << r.out;
  EXPECT_EQ(read_bytes(out), "old");
  EXPECT_EQ(dir.entries(), Args{"o.mtz"});
}
#endif
