#include "system/system_call.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vantrel {

String System::reason(const int error) {
  String text = std::strerror(error);
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = char(text[0] - 'A' + 'a');
  return text;
}

String System::fd_path(const int fd) { return "/proc/self/fd/" + std::to_string(fd); }

void System::close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

bool System::write_all(const int fd, const char* data, std::size_t size, std::size_t* written) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n;
    size -= std::size_t(n);
    if (written != nullptr) *written += std::size_t(n);
  }
  return true;
}

}  // namespace vantrel
