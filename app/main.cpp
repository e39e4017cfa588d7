#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "app/quelvarn.h"

int main(int argc, char** argv) {
  // A caller may start the program with standard descriptors closed; a file
  // opened later would then take one, and text meant for the terminal could
  // land in an output. Each closed one is held by /dev/null instead.
  for (int fd = 0; fd <= 2; ++fd)
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF && open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) < 0)
      return 2;
  return quelvarn_main(argc, argv, std::cin, std::cout, std::cerr, run_quelvarn);
}
