#include "foundation/file_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
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

// The last part of path: the name within its directory.
String name_of(const String& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == String::npos ? path : String(path.substr(slash + 1));
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

// True when this process may write file but not replace it: a sticky
// directory (as /tmp) lets only the file's owner, the directory's owner
// and root rename over a file in it.
bool replace_forbidden(const String& file) {
  struct stat st, dir;
  return geteuid() != 0 && stat(file.c_str(), &st) == 0 &&
         stat(Files::directory_of(file).c_str(), &dir) == 0 && (dir.st_mode & S_ISVTX) != 0 &&
         st.st_uid != geteuid() && dir.st_uid != geteuid();
}

// Makes room for size bytes in the file open as fd before any byte of it is
// overwritten, so that a full filesystem or a size limit leaves the file as
// it was: "" when there is room, else the reason (the file cut back to
// old_size should the attempt have grown it). A filesystem that cannot
// reserve space is written all the same (see copy_in_place). The system
// call, not posix_fallocate: that one emulates a reservation by reading the
// file, which a descriptor open for writing only cannot do.
String reserve(const int fd, const off_t old_size, const off_t size) {
  if (size == 0 || fallocate(fd, 0, 0, size) == 0 || errno == EOPNOTSUPP) return "";
  const String why = reason(errno);
  struct stat st;
  if (fstat(fd, &st) == 0 && st.st_size > old_size && ftruncate(fd, old_size) != 0)
    return why + " (left longer than it was)";
  return why;
}

// A file's POSIX access control list, as the system stores it: a 4-byte
// version, then 8-byte entries (tag, permissions, id; 16, 16 and 32 bits,
// little-endian). Empty when the file has none beyond its permission bits.
const char* const acl_name = "system.posix_acl_access";
constexpr unsigned acl_group_owner = 0x04, acl_other = 0x20;

std::vector<unsigned char> access_acl(const String& file) {
  std::vector<unsigned char> acl(1024);
  for (;;) {
    const ssize_t n = getxattr(file.c_str(), acl_name, acl.data(), acl.size());
    if (n >= 0) {
      acl.resize(std::size_t(n));
      return acl;
    }
    if (errno != ERANGE) return {};
    acl.resize(acl.size() * 4);
  }
}

// The permissions byte of the list's entry with the given tag (one that
// names no user or group), or null.
unsigned char* acl_permissions(std::vector<unsigned char>& acl, const unsigned tag) {
  for (std::size_t at = 4; at + 8 <= acl.size(); at += 8)
    if (acl[at] == tag && acl[at + 1] == 0) return &acl[at + 2];
  return nullptr;
}

// mode with its group bits cut to at most permissions (rwx as 0 to 7).
mode_t group_at_most(const mode_t mode, const unsigned permissions) {
  return mode & (~mode_t(070) | mode_t(permissions << 3));
}

// Gives the new file at path the owner and group of the replaced file, as
// far as this process may (root any; others a group they belong to).
// False when the group could not be kept.
bool take_owner(const String& path, const struct stat& old) {
  return chown(path.c_str(), old.st_uid, old.st_gid) == 0 ||
         chown(path.c_str(), uid_t(-1), old.st_gid) == 0;
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
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
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
         stat(directory_of(file_b).c_str(), &dir_b) == 0 && dir_a.st_dev == dir_b.st_dev &&
         dir_a.st_ino == dir_b.st_ino;
}

String Files::directory_of(const String& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == String::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

Temporary_file::Temporary_file(const String& target, const String& who)
    : target_(target), who_(who), file_(Files::link_target(target, who)) {
  const Signals_held held;  // made and watched as one step
  int fd = -1, beside = EPERM;
  if (!replace_forbidden(file_)) {
    fd = make_unique(file_, path_);
    beside = errno;
  }
  if (fd < 0 && (beside == EACCES || beside == EPERM) && writable_file(file_)) {
    // The file's directory is closed to this process but the file is not:
    // the output is made elsewhere and copied into it on commit.
    const char* tmpdir = std::getenv("TMPDIR");
    const String name = name_of(file_);
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
  // owner, group, permissions and access list of the file it replaces, or
  // the permissions of any new file.
  struct stat st;
  mode_t mode = 0666 & ~current_umask();
  std::vector<unsigned char> acl;
  if (stat(file_.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
    acl = access_acl(file_);
    if (!take_owner(path_, st)) {
      // Another group now holds the file: it gets no more than others had.
      mode = group_at_most(mode, mode & 07);
      const unsigned char* other = acl_permissions(acl, acl_other);
      if (unsigned char* group = acl_permissions(acl, acl_group_owner))
        *group = other != nullptr ? *group & *other : 0;
    }
    // Until the list is set, the group bits speak for the owning group alone
    // (with a list they hold its mask, which may grant more).
    if (const unsigned char* group = acl_permissions(acl, acl_group_owner))
      mode = group_at_most(mode, *group & 07);
  }
  if (chmod(path_.c_str(), mode) != 0) cannot("write", target_, who_, reason(errno));
  // Should the list not take, the file keeps the narrower permissions.
  if (!acl.empty()) setxattr(path_.c_str(), acl_name, acl.data(), acl.size(), 0);
  if (std::rename(path_.c_str(), file_.c_str()) != 0) cannot("write", target_, who_, reason(errno));
  committed_ = true;
  cleanup_.forget();
}

void Temporary_file::write_failed(const int error) const {
  String why = "writing its new content in " + Files::directory_of(path_) + " failed";
  // Only a reason that a failed write gives: the number may be stale.
  if (error == ENOSPC || error == EDQUOT || error == EFBIG || error == EIO)
    why += ": " + reason(error);
  struct stat st;
  if (stat(file_.c_str(), &st) == 0) why += "; the file is left as it was";
  cannot("write", target_, who_, why);
}

void Temporary_file::copy_in_place() {
  const int in = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) cannot("write", target_, who_, reason(errno));
  // Not touched before it is known to be a regular file still; a FIFO put
  // in its place refuses a non-blocking open instead of waiting.
  const int out = open(file_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (out < 0) {
    const int error = errno;
    close(in);
    cannot("write", target_, who_, reason(error));
  }
  String why;
  struct stat st, from;
  if (fstat(out, &st) != 0 || fstat(in, &from) != 0)
    why = reason(errno);
  else if (!S_ISREG(st.st_mode))
    why = "not a regular file";
  else
    why = reserve(out, st.st_size, from.st_size);
  if (!why.empty()) {
    close(in);
    close(out);
    cannot("write", target_, who_, why + "; the file is left as it was");
  }
  char buffer[65536];
  off_t copied = 0;
  for (ssize_t n = 1; why.empty() && n != 0;) {
    n = read(in, buffer, sizeof(buffer));
    if (n < 0 && errno != EINTR) why = reason(errno);
    if (n > 0 && !write_all(out, buffer, std::size_t(n))) why = reason(errno);
    if (n > 0) copied += n;
  }
  close(in);
  // Cut to what was copied: the file may have been longer, and the
  // reservation is only as long as the temporary was when measured.
  if (why.empty() && ftruncate(out, copied) != 0) why = reason(errno);
  // A copy cut short leaves the file empty, never part of an output that
  // might pass for the whole of one; the whole output stays in the
  // temporary, which is kept for the user.
  if (!why.empty() && ftruncate(out, 0) != 0) why += " (left part-written)";
  if (close(out) != 0 && why.empty()) why = reason(errno);
  if (!why.empty()) {
    committed_ = true;  // kept, also should a signal end the run later
    cleanup_.forget();
    cannot("write", target_, who_, why + "; the new content is kept in " + path_);
  }
}

}  // namespace vantrel
