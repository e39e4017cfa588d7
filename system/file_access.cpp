#include "system/file_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "foundation/message.h"
#include "system/system_call.h"

namespace vantrel {

namespace {

using System::close_fd;
using System::reason;

[[noreturn]] void cannot(const String& verb, const String& path, const String& who,
                         const String& why) {
  fatal(who + ": cannot " + verb + " " + path + ": " + why);
}

// The system's limit on links followed in one path.
constexpr int max_links = 40;
constexpr long proc_magic = 0x9fa0;  // the /proc filesystem's type

// A path joined from a folder's ("" for the working folder) and a name.
String joined(const String& dir, const String& name) {
  return dir.empty() ? name : dir == "/" ? String("/" + name) : String(dir + "/" + name);
}

// Puts the names of a path on the stack of names still to walk, its first
// name on top. Empty names and "." are dropped, but a path that ends in
// "/" or "." ends in "." (the folder itself, which must then be one).
void push_names(std::vector<String>& names, const String& path) {
  std::vector<String> parts;
  std::istringstream in(path);
  for (std::string part; std::getline(in, part, '/');)
    if (!part.empty() && part != ".") parts.push_back(part);
  const String last = path.substr(path.rfind('/') + 1);
  if (last.empty() || last == ".") parts.push_back(".");
  names.insert(names.end(), parts.rbegin(), parts.rend());
}

const char* const immutable = "immutable (chattr +i)";
const char* const append_only = "append-only (chattr +a)";

// The flag that keeps the entry (name in dir, or dir itself for "") from
// being changed, immutable or append_only, or null; null too where the
// filesystem has no such flags. Read by statx, which needs no read
// permission and opens nothing.
const char* fixed_by(const int dir, const char* name) {
  struct statx st;
  if (statx(dir, name, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, 0, &st) != 0) return nullptr;
  const auto flag = [&](const std::uint64_t bit) {
    return (st.stx_attributes_mask & st.stx_attributes & bit) != 0;
  };
  if (flag(STATX_ATTR_IMMUTABLE)) return immutable;
  if (flag(STATX_ATTR_APPEND)) return append_only;
  return nullptr;
}

}  // namespace

void Files::check_input(const String& path, const String& who) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) cannot("read", path, who, reason(errno));
  if (!S_ISREG(st.st_mode)) cannot("read", path, who, "not a regular file");
  if (access(path.c_str(), R_OK) != 0) cannot("read", path, who, reason(errno));
}

int Files::open_input(const String& path, const String& who) {
  check_input(path, who);  // by its name first: a device is never opened
  // Not blocking, should a FIFO have taken the name since.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) cannot("read", path, who, reason(errno));
  struct stat st;
  const int error = fstat(fd, &st) != 0 ? errno : 0;
  if (error != 0 || !S_ISREG(st.st_mode)) {
    const String why = error != 0 ? reason(error) : String("not a regular file");
    close(fd);
    cannot("read", path, who, why);
  }
  return fd;
}

Files::Entry Files::entry_rule(const struct stat& entry, const struct stat& folder) {
  if ((folder.st_mode & S_ISVTX) == 0 || entry.st_uid == geteuid()) return Entry::free;
  if ((folder.st_mode & S_IWOTH) != 0 && entry.st_uid != folder.st_uid) return Entry::planted;
  return geteuid() == 0 || folder.st_uid == geteuid() ? Entry::free : Entry::kept;
}

bool Files::may_replace(const struct stat& entry, const struct stat& folder) {
  return !S_ISDIR(entry.st_mode) &&
         (entry_rule(entry, folder) == Entry::free || geteuid() == 0 || folder.st_uid == geteuid());
}

String Files::output_fault(const Output_place& place) {
  if (place.path().empty()) return "empty file name";
  if (!place.why().empty()) return place.why();
  const char* const name = place.name().c_str();
  if (place.exists()) {
    if (!S_ISREG(place.file().st_mode)) return "not a regular file";
    if (const char* flag = fixed_by(place.file_fd(), "")) return "the file is " + String(flag);
    if (faccessat(place.dir(), name, W_OK, AT_SYMLINK_NOFOLLOW) != 0) return reason(errno);
    if ((place.file().st_mode & 0222) == 0) return "the file is read-only";
    if (entry_rule(place.file(), place.folder()) == Entry::planted)
      return "the file is another user's, in a folder all may write";
  }
  // An append-only folder takes a new name but lets none go, as a replaced
  // file's name would; an immutable one takes neither, but its files may
  // still be written in place.
  const char* const flag = fixed_by(place.dir(), "");
  if (flag != nullptr && (!place.exists() || flag == append_only))
    return "the folder " + place.dir_path() + " is " + flag;
  const bool open_folder = faccessat(place.dir(), ".", W_OK | X_OK, 0) == 0;
  if (!place.exists() && !open_folder)
    return "directory " + place.dir_path() + ": " + reason(errno);
  if (place.exists() && open_folder && place.file().st_nlink > 1 && shared_folder(place.folder()) &&
      entry_rule(place.file(), place.folder()) == Entry::kept)
    return "the file has another name, and the sticky bit of its folder " + place.dir_path() +
           " keeps it from being replaced (which would break the link)";
  return "";
}

void Files::check_output(const Output_place& place, const String& who) {
  if (const String why = output_fault(place); !why.empty())
    cannot("write", place.path().empty() ? String("''") : place.path(), who, why);
}

void Files::check_output(const String& path, const String& who) {
  check_output(Output_place(path), who);
}

bool Files::same_file(const String& a, const String& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && same_inode(sa, sb);
}

bool Files::same_output(const Output_place& a, const Output_place& b) {
  if (!a.why().empty() || !b.why().empty()) return false;
  if (a.exists() && b.exists()) return same_inode(a.file(), b.file());
  return a.name() == b.name() && same_inode(a.folder(), b.folder());
}

bool Files::same_output(const String& a, const String& b) {
  return a == b || same_output(Output_place(a), Output_place(b));
}

// The walk: each name is opened through the folder before it (O_PATH,
// O_NOFOLLOW), and a link is read through its own descriptor and its text
// put in its place.
Files::Output_place::Output_place(const String& path) : path_(path) {
  std::vector<String> names;
  push_names(names, path);
  start_at(path);
  for (int hops = 0, nested = 0; why_.empty() && !names.empty();) {
    name_ = names.back();
    names.pop_back();
    const bool last = names.empty();
    file_fd_ = openat(dir_, name_.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (file_fd_ < 0 || fstat(file_fd_, &file_) != 0) {
      if (errno == ENOENT && last) break;
      why_ = errno == ENOENT ? "no such directory: " + missing(names) : reason(errno);
    } else if (S_ISLNK(file_.st_mode)) {
      nested = last ? 0 : nested + 1;
      if ((last ? ++hops : nested) > max_links)
        why_ = reason(ELOOP);
      else if (follow(names))
        break;
    } else if (last) {
      exists_ = true;
      break;
    } else if (!S_ISDIR(file_.st_mode)) {
      why_ = "not a directory: " + joined(dir_path_, name_);
    } else {
      std::swap(dir_, file_fd_);
      dir_path_ = joined(dir_path_, name_);
    }
    close_fd(file_fd_);
  }
  if (dir_path_.empty()) dir_path_ = ".";
  if (why_.empty() && fstat(dir_, &folder_) != 0) why_ = reason(errno);
}

Files::Output_place::~Output_place() {
  close_fd(dir_);
  close_fd(file_fd_);
}

// The folder path of a name not found, the names still to walk but the
// last one after it.
String Files::Output_place::missing(const std::vector<String>& names) const {
  String path = joined(dir_path_, name_);
  for (std::size_t i = names.size(); i-- > 1;) path = joined(path, names[i]);
  return path;
}

// Holds the folder a path (or a link's text) starts from.
void Files::Output_place::start_at(const String& path) {
  const bool root = !path.empty() && path[0] == '/';
  close_fd(dir_);
  dir_ = open(root ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  dir_path_ = root ? "/" : "";
  if (dir_ < 0) why_ = reason(errno);
}

// Puts the text of the link held (file_fd_, name_ in the folder held) in
// its place, where the shared-folder rule lets it be followed. A link of
// /proc that leads to no regular file has no text to follow: the walk
// ends at what it leads to (true).
bool Files::Output_place::follow(std::vector<String>& names) {
  struct stat folder;
  struct statfs fs;
  char text[PATH_MAX];
  if (fstat(dir_, &folder) != 0) {
    why_ = reason(errno);
  } else if (entry_rule(file_, folder) == Entry::planted) {
    why_ = "the link " + joined(dir_path_, name_) +
           " is another user's, in a folder all may write: not followed";
  } else if (fstatfs(dir_, &fs) == 0 && fs.f_type == proc_magic &&
             fstatat(dir_, name_.c_str(), &file_, 0) == 0 && !S_ISREG(file_.st_mode) &&
             !S_ISDIR(file_.st_mode)) {
    return exists_ = true;
  } else if (const ssize_t n = readlinkat(file_fd_, "", text, sizeof(text));
             n <= 0 || std::size_t(n) == sizeof(text)) {
    why_ = reason(n < 0 ? errno : n == 0 ? ENOENT : ENAMETOOLONG);
  } else {
    const String next(text, std::size_t(n));
    push_names(names, next);
    if (next[0] == '/') start_at(next);
  }
  return false;
}

}  // namespace vantrel
