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

mode_t current_umask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

// The system's limit on links followed in one path.
constexpr int max_links = 40;

// The file a write to path lands on: path itself unless it is a symbolic
// link, else the end of the chain of links, each relative to the directory
// holding it. Such an end need not exist. Fatal on a loop.
String link_target(const String& path, const String& who) {
  String file = path;
  for (int hops = 0;; ++hops) {
    struct stat st;
    if (lstat(file.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return file;
    if (hops == max_links) cannot("write", path, who, reason(ELOOP));
    char text[PATH_MAX];
    const ssize_t n = readlink(file.c_str(), text, sizeof(text));
    if (n < 0) cannot("write", path, who, reason(errno));
    if (n == 0 || std::size_t(n) == sizeof(text))
      cannot("write", path, who, reason(n == 0 ? ENOENT : ENAMETOOLONG));
    String next(text, std::size_t(n));
    if (next[0] != '/' && file.find('/') != String::npos) {
      const String dir = Files::directory_of(file);
      next = (dir == "/" ? String("/") : dir + "/") + next;
    }
    file = next;
  }
}

// True when file is a regular file this process may write (and one that
// is not read-only for everyone).
bool writable_file(const String& file) {
  struct stat st;
  return stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) != 0 &&
         access(file.c_str(), W_OK) == 0;
}

// A new file "<stem>.XXXXXX" created exclusively: its open descriptor, and
// its name in made; -1 with errno set when it cannot be made.
int make_unique(const String& stem, String& made) {
  std::vector<char> name(stem.begin(), stem.end());
  const char suffix[] = ".XXXXXX";
  name.insert(name.end(), suffix, suffix + sizeof(suffix));  // with the terminating NUL
  const int fd = mkstemp(name.data());
  if (fd >= 0) made = name.data();
  return fd;
}

// Writes the whole buffer; false on failure, errno set.
bool write_all(const int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n;
    size -= std::size_t(n);
  }
  return true;
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
  const String file = link_target(path, who);
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
    : target_(target), who_(who), file_(link_target(target, who)) {
  const Signals_held held;  // made and watched as one step
  int fd = make_unique(file_, path_);
  const int beside = errno;
  if (fd < 0 && (beside == EACCES || beside == EPERM) && writable_file(file_)) {
    // The file's directory is closed to this process but the file is not:
    // the output is made elsewhere and copied into it on commit.
    const char* tmpdir = std::getenv("TMPDIR");
    const std::size_t slash = file_.find_last_of('/');
    const String name = slash == String::npos ? file_ : file_.substr(slash + 1);
    if (tmpdir != nullptr && *tmpdir != '\0') fd = make_unique(String(tmpdir) + "/" + name, path_);
    if (fd < 0) fd = make_unique("/tmp/" + name, path_);
    if (fd < 0) cannot("write", target, who, "no temporary file can be made: " + reason(errno));
    in_place_ = true;
  }
  if (fd < 0) cannot("write", target, who, reason(beside));
  close(fd);
  cleanup_.watch(path_);
}

Temporary_file::~Temporary_file() {
  if (!committed_) std::remove(path_.c_str());
}

void Temporary_file::commit() {
  const Signals_held held;  // the target is written whole once begun
  if (in_place_) {
    copy_in_place();
    committed_ = true;
    std::remove(path_.c_str());
    cleanup_.forget();
    return;
  }
  // mkstemp creates the file for its owner only; an output should carry the
  // permissions of the file it replaces, or those of any new file.
  struct stat st;
  const mode_t mode =
      stat(file_.c_str(), &st) == 0 ? (st.st_mode & 07777) : (0666 & ~current_umask());
  if (chmod(path_.c_str(), mode) != 0) cannot("write", target_, who_, reason(errno));
  if (std::rename(path_.c_str(), file_.c_str()) != 0) cannot("write", target_, who_, reason(errno));
  committed_ = true;
  cleanup_.forget();
}

void Temporary_file::copy_in_place() {
  const int in = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) cannot("write", target_, who_, reason(errno));
  // Not truncated before it is known to be a regular file still; a FIFO
  // put in its place refuses a non-blocking open instead of waiting.
  const int out = open(file_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (out < 0) {
    const int error = errno;
    close(in);
    cannot("write", target_, who_, reason(error));
  }
  String why;
  struct stat st;
  bool truncated = false;
  if (fstat(out, &st) != 0)
    why = reason(errno);
  else if (!S_ISREG(st.st_mode))
    why = "not a regular file";
  else if (ftruncate(out, 0) != 0)
    why = reason(errno);
  else
    truncated = true;
  char buffer[65536];
  for (ssize_t n = 1; why.empty() && n != 0;) {
    n = read(in, buffer, sizeof(buffer));
    if (n < 0 && errno != EINTR) why = reason(errno);
    if (n > 0 && !write_all(out, buffer, std::size_t(n))) why = reason(errno);
  }
  close(in);
  // A copy cut short leaves the file empty, never part of an output that
  // might pass for the whole of one.
  if (!why.empty() && truncated && ftruncate(out, 0) != 0) why += " (left part-written)";
  if (close(out) != 0 && why.empty()) why = reason(errno);
  if (!why.empty()) cannot("write", target_, who_, why);
}

}  // namespace vantrel
