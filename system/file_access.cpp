#include "system/file_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include "foundation/message.h"
#include "system/system_call.h"

namespace vantrel {

namespace {

using System::reason;

[[noreturn]] void cannot(const String& verb, const String& path, const String& who,
                         const String& why) {
  fatal(who + ": cannot " + verb + " " + path + ": " + why);
}

// The system's limit on links followed in one path.
constexpr int max_links = 40;

// A path joined from a folder's ("" for the working folder) and a name.
String joined(const String& dir, const String& name) {
  return dir.empty() ? name : dir == "/" ? String("/" + name) : String(dir + "/" + name);
}

// True when the entry of the given status is in a folder that everyone may
// write and that has the sticky bit (as /tmp), and is neither this user's
// nor the folder owner's: another user could have planted it. The kernel
// then follows no such link (fs.protected_symlinks) and opens no such file
// to create it (fs.protected_regular), for root too. The rule holds here
// whatever the system's setting: links are followed by hand, where the
// kernel would not check them.
bool planted(const struct stat& entry, const struct stat& folder) {
  const mode_t shared = S_ISVTX | S_IWOTH;
  return (folder.st_mode & shared) == shared && entry.st_uid != geteuid() &&
         entry.st_uid != folder.st_uid;
}

// Puts the names of a path on the stack of names still to walk, its first
// name on top. Empty names and "." are dropped, but a path that ends in
// "/" or "." ends in "." (the folder itself, which must then be one).
void push_names(std::vector<String>& names, const String& path) {
  std::vector<String> parts;
  for (std::size_t start = 0;;) {
    const std::size_t slash = path.find('/', start);
    const String part = path.substr(start, slash == String::npos ? String::npos : slash - start);
    if (!part.empty() && part != ".") parts.push_back(part);
    if (slash == String::npos) {
      if (part.empty() || part == ".") parts.push_back(".");
      break;
    }
    start = slash + 1;
  }
  names.insert(names.end(), parts.rbegin(), parts.rend());
}

// The walk of a path to the folder that holds its last name: each name is
// opened through the folder before it (O_PATH, O_NOFOLLOW), and a link,
// wherever it is in the path, is read through its own descriptor and its
// text put in its place (absolute text starts again at "/"). A link at the
// end is followed to the end of its chain; that end need not exist. Each
// link at the end counts one of the system's 40, and so does each link in
// the folders on the way to the next: the system's own limit holds for
// every path a link leads to.
struct Walk {
  int dir = -1;           // the folder reached, O_PATH | O_DIRECTORY
  String dir_path, name;  // that folder for messages ("" the working one), the name in it
  bool exists = false;    // whether the name is there, and its status then
  struct stat file {};
  String why;  // empty, or why the walk stopped

  explicit Walk(const String& path) {
    std::vector<String> names;
    push_names(names, path);
    start_at(path);
    for (int hops = 0, nested = 0; why.empty() && !names.empty();) {
      name = names.back();
      names.pop_back();
      const bool last = names.empty();
      const int fd = openat(dir, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
      if (fd < 0 || fstat(fd, &file) != 0) {
        if (errno == ENOENT && last) break;
        why = errno == ENOENT ? "no such directory: " + missing(names) : reason(errno);
      } else if (S_ISLNK(file.st_mode)) {
        nested = last ? 0 : nested + 1;
        if ((last ? ++hops : nested) > max_links)
          why = reason(ELOOP);
        else
          follow(fd, names);
      } else if (last) {
        exists = true;
      } else if (!S_ISDIR(file.st_mode)) {
        why = "not a directory: " + joined(dir_path, name);
      } else {
        close(dir);
        dir = fd;
        dir_path = joined(dir_path, name);
        continue;
      }
      if (fd >= 0) close(fd);
    }
  }
  ~Walk() {
    if (dir >= 0) close(dir);
  }
  Walk(const Walk&) = delete;
  Walk& operator=(const Walk&) = delete;

  // The folder path of a name not found, the names still to walk but the
  // last one after it.
  String missing(const std::vector<String>& names) const {
    String path = joined(dir_path, name);
    for (std::size_t i = names.size(); i-- > 1;) path = joined(path, names[i]);
    return path;
  }

  // The folder reached as a path the system can resolve.
  String folder() const { return dir_path.empty() ? "." : dir_path; }

  // Holds the folder a path (or a link's text) starts from.
  void start_at(const String& path) {
    const bool root = !path.empty() && path[0] == '/';
    if (dir >= 0) close(dir);
    dir = open(root ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (root) dir_path = "/";
    if (dir < 0) why = reason(errno);
  }

  // Puts the text of the link open as fd, the entry name of the folder
  // held, in its place, where the shared-folder rule lets it be followed.
  void follow(const int fd, std::vector<String>& names) {
    struct stat folder;
    if (fstat(dir, &folder) != 0) {
      why = reason(errno);
    } else if (planted(file, folder)) {
      why = "the link " + joined(dir_path, name) +
            " is another user's, in a folder all may write: not followed";
    } else {
      char text[PATH_MAX];
      const ssize_t n = readlinkat(fd, "", text, sizeof(text));
      if (n <= 0 || std::size_t(n) == sizeof(text)) {
        why = reason(n < 0 ? errno : n == 0 ? ENOENT : ENAMETOOLONG);
      } else {
        const String next(text, std::size_t(n));
        push_names(names, next);
        if (next[0] == '/') start_at(next);
      }
    }
  }
};

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

void Files::check_output(const String& path, const String& who) {
  if (path.empty()) cannot("write", "''", who, "empty file name");
  const Output_place place(path, who);
  const auto refuse = [&](const String& why) { cannot("write", path, who, why); };
  const char* const name = place.name().c_str();
  if (place.exists()) {
    if (!S_ISREG(place.file().st_mode)) refuse("not a regular file");
    if (const char* flag = fixed_by(place.dir(), name)) refuse("the file is " + String(flag));
    // A file without any write permission is refused even where the process
    // could override it (as root): it was made read-only to be kept.
    if (faccessat(place.dir(), name, W_OK, 0) != 0) refuse(reason(errno));
    if ((place.file().st_mode & 0222) == 0) refuse("the file is read-only");
    if (planted(place.file(), place.folder()))
      refuse("the file is another user's, in a folder all may write");
  }
  // An existing file is written in place where its folder may not be
  // changed (closed to this process, or immutable); a new one needs the
  // folder. An append-only folder takes a new name but lets none go, and
  // a replaced file's name or the writer's private folder would.
  const char* const flag = fixed_by(place.dir(), "");
  if (flag != nullptr && (!place.exists() || flag == append_only))
    refuse("the folder " + place.dir_path() + " is " + flag);
  if (!place.exists() && faccessat(place.dir(), ".", W_OK | X_OK, 0) != 0)
    refuse("directory " + place.dir_path() + ": " + reason(errno));
}

bool Files::same_file(const String& a, const String& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && same_inode(sa, sb);
}

String Files::output_file(const String& path) {
  const Walk walk(path);
  char dir[PATH_MAX];
  if (!walk.why.empty() || realpath(walk.folder().c_str(), dir) == nullptr)
    return walk.why.empty() ? joined(walk.dir_path, walk.name) : path;
  return joined(dir, walk.name);
}

bool Files::same_output(const String& a, const String& b) {
  if (a == b || same_file(a, b)) return true;
  // One name in one folder, the folder known by device and inode: no
  // spelling of its path (bind mounts, links, a path too long to resolve)
  // can make two folders of one or one of two.
  const Walk walk_a(a), walk_b(b);
  struct stat dir_a, dir_b;
  if (!walk_a.why.empty() || !walk_b.why.empty()) return false;
  if (walk_a.exists && walk_b.exists) return same_inode(walk_a.file, walk_b.file);
  return walk_a.name == walk_b.name && fstat(walk_a.dir, &dir_a) == 0 &&
         fstat(walk_b.dir, &dir_b) == 0 && same_inode(dir_a, dir_b);
}

Files::Output_place::Output_place(const String& path, const String& who) {
  Walk walk(path);
  if (!walk.why.empty()) cannot("write", path, who, walk.why);
  std::swap(dir_, walk.dir);
  dir_path_ = walk.folder();
  name_ = walk.name;
  exists_ = walk.exists;
  if (exists_) file_ = walk.file;
  if (fstat(dir_, &folder_) != 0) cannot("write", path, who, reason(errno));
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
