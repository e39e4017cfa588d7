#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iostream>

#include "app/quelvarn.h"

int main(int argc, char** argv) {
  // A write past a file size limit (ulimit -f) fails (EFBIG) and is reported
  // naming its output, rather than the limit's signal ending the run at
  // whatever step it comes.
  std::signal(SIGXFSZ, SIG_IGN);
  // A caller may start the program with standard descriptors closed. Each
  // closed one is held by /dev/null: no file opened later takes its number
  // (text meant for the terminal could land in it), and an output named as
  // that stream (/dev/stderr) is refused before the run as no regular file,
  // rather than failing at the run's end with its message lost.
  for (int fd = 0; fd <= 2; ++fd)
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF &&
        open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) < 0)
      return 2;
  vantrel::String fates;
  const int status =
      quelvarn_main(argc, argv, std::cin, std::cout, std::cerr, run_quelvarn, &fates);
  // The report is the run's result: a run whose report standard output did
  // not take whole (a full disk) fails, as an output would, saying what
  // became of the outputs, which are in place by then. A pipe closed early
  // ends the run by SIGPIPE instead, as it ends other programs.
  std::cout.flush();
  if (status == 0 && (!std::cout || std::fflush(stdout) != 0 || std::ferror(stdout))) {
    std::cerr << "quelvarn: cannot write the report to standard output" << fates << std::endl;
    return 2;
  }
  return status;
}
