#include "foundation/file_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

mode_t current_umask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
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
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) cannot("write", path, who, "not a regular file");
    // A file without any write permission is refused even where the process
    // could override it (as root): it was made read-only to be kept.
    if (access(path.c_str(), W_OK) != 0) cannot("write", path, who, reason(errno));
    if ((st.st_mode & 0222) == 0) cannot("write", path, who, "the file is read-only");
  } else if (errno != ENOENT) {
    cannot("write", path, who, reason(errno));
  }
  const String dir = directory_of(path);
  if (stat(dir.c_str(), &st) != 0) cannot("write", path, who, "no such directory: " + dir);
  if (!S_ISDIR(st.st_mode)) cannot("write", path, who, "not a directory: " + dir);
  if (access(dir.c_str(), W_OK | X_OK) != 0)
    cannot("write", path, who, "directory " + dir + ": " + reason(errno));
}

bool Files::same_file(const String& a, const String& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

String Files::directory_of(const String& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == String::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

Temporary_file::Temporary_file(const String& target, const String& who)
    : target_(target), who_(who) {
  std::vector<char> name(target.begin(), target.end());
  const char suffix[] = ".XXXXXX";
  name.insert(name.end(), suffix, suffix + sizeof(suffix));  // with the terminating NUL
  const int fd = mkstemp(name.data());
  if (fd < 0) cannot("write", target, who, reason(errno));
  close(fd);
  path_ = name.data();
}

Temporary_file::~Temporary_file() {
  if (!committed_) std::remove(path_.c_str());
}

void Temporary_file::commit() {
  // mkstemp creates the file for its owner only; an output should carry the
  // permissions of the file it replaces, or those of any new file.
  struct stat st;
  const mode_t mode =
      stat(target_.c_str(), &st) == 0 ? (st.st_mode & 07777) : (0666 & ~current_umask());
  if (chmod(path_.c_str(), mode) != 0) cannot("write", target_, who_, reason(errno));
  if (std::rename(path_.c_str(), target_.c_str()) != 0)
    cannot("write", target_, who_, reason(errno));
  committed_ = true;
}

}  // namespace vantrel
