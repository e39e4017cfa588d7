#include "foundation/file_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "foundation/message.h"

namespace vantrel {

namespace {

// The system's text for an error number, starting in lower case as the
// library's own reasons do.
String reason(const int error) {
  String text = std::strerror(error);
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = char(text[0] - 'A' + 'a');
  return text;
}

[[noreturn]] void cannot(const String& verb, const String& path, const String& who,
                         const String& why) {
  fatal(who + ": cannot " + verb + " " + path + ": " + why);
}

// The system's limit on links followed in one path.
constexpr int max_links = 40;

// The end of the chain of symbolic links from path (path itself when it is
// no link), each link relative to the directory holding it; such an end
// need not exist. error is 0, or the reason the chain has no end.
String follow_links(const String& path, int& error) {
  String file = path;
  error = 0;
  for (int hops = 0;; ++hops) {
    struct stat st;
    if (lstat(file.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return file;
    if (hops == max_links) {
      error = ELOOP;
      return file;
    }
    char text[PATH_MAX];
    const ssize_t n = readlink(file.c_str(), text, sizeof(text));
    if (n <= 0 || std::size_t(n) == sizeof(text)) {
      error = n < 0 ? errno : n == 0 ? ENOENT : ENAMETOOLONG;
      return file;
    }
    String next(text, std::size_t(n));
    if (next[0] != '/' && file.find('/') != String::npos) {
      const String dir = Files::directory_of(file);
      next = (dir == "/" ? String("/") : dir + "/") + next;
    }
    file = next;
  }
}

// The last part of path: the name within its directory.
String name_of(const String& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == String::npos ? path : String(path.substr(slash + 1));
}

}  // namespace

void Files::check_input(const String& path, const String& who) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) cannot("read", path, who, reason(errno));
  if (!S_ISREG(st.st_mode)) cannot("read", path, who, "not a regular file");
  if (access(path.c_str(), R_OK) != 0) cannot("read", path, who, reason(errno));
}

void Files::check_output(const String& path, const String& who) {
  if (path.empty()) cannot("write", "''", who, "empty file name");
  const String file = Files::link_target(path, who);
  struct stat st;
  const bool exists = stat(file.c_str(), &st) == 0;
  if (exists) {
    if (!S_ISREG(st.st_mode)) cannot("write", path, who, "not a regular file");
    // A file without any write permission is refused even where the process
    // could override it (as root): it was made read-only to be kept.
    if (access(file.c_str(), W_OK) != 0) cannot("write", path, who, reason(errno));
    if ((st.st_mode & 0222) == 0) cannot("write", path, who, "the file is read-only");
  } else if (errno != ENOENT) {
    cannot("write", path, who, reason(errno));
  }
  const String dir = directory_of(file);
  if (stat(dir.c_str(), &st) != 0) cannot("write", path, who, "no such directory: " + dir);
  if (!S_ISDIR(st.st_mode)) cannot("write", path, who, "not a directory: " + dir);
  // An existing file is written in place where its directory may not be
  // written; a new one needs the directory.
  if (!exists && access(dir.c_str(), W_OK | X_OK) != 0)
    cannot("write", path, who, "directory " + dir + ": " + reason(errno));
}

String Files::link_target(const String& path, const String& who) {
  int error = 0;
  const String file = follow_links(path, error);
  if (error != 0) cannot("write", path, who, reason(error));
  return file;
}

bool Files::same_file(const String& a, const String& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

String Files::output_file(const String& path) {
  int error = 0;
  const String file = follow_links(path, error);
  char dir[PATH_MAX];
  if (error != 0 || realpath(directory_of(file).c_str(), dir) == nullptr) return file;
  const String name = name_of(file);
  return dir[1] == '\0' ? "/" + name : String(dir) + "/" + name;
}

bool Files::same_output(const String& a, const String& b) {
  return a == b || output_file(a) == output_file(b) || same_file(a, b);
}

String Files::directory_of(const String& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == String::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace vantrel
