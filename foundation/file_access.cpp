#include "foundation/file_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "foundation/message.h"
#include "foundation/system_call.h"

namespace vantrel {

namespace {

using System::reason;

[[noreturn]] void cannot(const String& verb, const String& path, const String& who,
                         const String& why) {
  fatal(who + ": cannot " + verb + " " + path + ": " + why);
}

// The system's limit on links followed in one path.
constexpr int max_links = 40;

// True when the kernel's rule for links in shared folders (fs.protected_symlinks)
// forbids following the link of the given status: in a folder that everyone
// may write and that has the sticky bit (as /tmp), a link is followed only
// when it is this user's or the folder owner's. Another user could plant
// any link there. The rule holds whatever the system's setting: links are
// followed by hand here, where the kernel would not check them.
bool shared_folder_forbids(const struct stat& link, const struct stat& folder) {
  const mode_t shared = S_ISVTX | S_IWOTH;
  return (folder.st_mode & shared) == shared && link.st_uid != geteuid() &&
         link.st_uid != folder.st_uid;
}

// The end of the chain of symbolic links from path (path itself when it is
// no link), each link relative to the directory holding it; such an end
// need not exist. why is empty, or the reason the chain is not followed to
// its end (a loop, a link that cannot be read, or one the shared-folder rule
// forbids): the link reached then is returned.
String follow_links(const String& path, String& why) {
  String file = path;
  why.clear();
  for (int hops = 0;; ++hops) {
    struct stat st, folder;
    if (lstat(file.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return file;
    if (hops == max_links) {
      why = reason(ELOOP);
      return file;
    }
    const String dir = Files::directory_of(file);
    if (stat(dir.c_str(), &folder) != 0) {
      why = reason(errno);
      return file;
    }
    if (shared_folder_forbids(st, folder)) {
      why = "the link " + file + " is another user's, in a folder all may write: not followed";
      return file;
    }
    char text[PATH_MAX];
    const ssize_t n = readlink(file.c_str(), text, sizeof(text));
    if (n <= 0 || std::size_t(n) == sizeof(text)) {
      why = reason(n < 0 ? errno : n == 0 ? ENOENT : ENAMETOOLONG);
      return file;
    }
    String next(text, std::size_t(n));
    if (next[0] != '/' && file.find('/') != String::npos)
      next = (dir == "/" ? String("/") : dir + "/") + next;
    file = next;
  }
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
  String why;
  const String file = follow_links(path, why);
  if (!why.empty()) cannot("write", path, who, why);
  return file;
}

bool Files::same_file(const String& a, const String& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && same_inode(sa, sb);
}

String Files::output_file(const String& path) {
  String why;
  const String file = follow_links(path, why);
  char dir[PATH_MAX];
  if (!why.empty() || realpath(directory_of(file).c_str(), dir) == nullptr) return file;
  const String name = name_of(file);
  return dir[1] == '\0' ? "/" + name : String(dir) + "/" + name;
}

bool Files::same_output(const String& a, const String& b) {
  if (a == b || same_file(a, b)) return true;
  // One name in one folder, the folder known by device and inode: no
  // spelling of its path (bind mounts, links, a path too long to resolve)
  // can make two folders of one or one of two.
  String why;
  const String file_a = follow_links(a, why), file_b = follow_links(b, why);
  struct stat dir_a, dir_b;
  return name_of(file_a) == name_of(file_b) && stat(directory_of(file_a).c_str(), &dir_a) == 0 &&
         stat(directory_of(file_b).c_str(), &dir_b) == 0 && same_inode(dir_a, dir_b);
}

// A first form of the walk: the links are followed by name, then the folder
// is opened.
Files::Output_place::Output_place(const String& path, const String& who) {
  const String file = link_target(path, who);
  dir_path_ = directory_of(file);
  name_ = name_of(file);
  dir_ = open(dir_path_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (dir_ < 0) cannot("write", path, who, reason(errno));
  if (fstat(dir_, &folder_) != 0) cannot("write", path, who, reason(errno));
  exists_ = fstatat(dir_, name_.c_str(), &file_, AT_SYMLINK_NOFOLLOW) == 0;
}

Files::Output_place::~Output_place() {
  if (dir_ >= 0) close(dir_);
}

Files::Output_place::Output_place(Output_place&& other) noexcept
    : dir_(other.dir_), dir_path_(other.dir_path_), name_(other.name_), exists_(other.exists_),
      file_(other.file_), folder_(other.folder_) {
  other.dir_ = -1;
}

String Files::directory_of(const String& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == String::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

String Files::name_of(const String& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == String::npos ? path : String(path.substr(slash + 1));
}

}  // namespace vantrel
