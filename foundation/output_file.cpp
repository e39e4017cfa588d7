#include "foundation/output_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "foundation/file_access.h"
#include "foundation/message.h"
#include "foundation/signal_cleanup.h"
#include "foundation/system_call.h"

namespace vantrel {

namespace {

using Files::name_of;
using Files::same_inode;
using System::reason;
using System::write_all;

// A name that reaches what the descriptor holds, for calls that take names.
String proc_path(const int fd) { return "/proc/self/fd/" + std::to_string(fd); }

mode_t current_umask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

void close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

const String left_as_it_was = "; the file is left as it was";

// Writes zeros from the end of the file open as fd, from bytes long, to
// size bytes, and flushes them: room made by writing it where the
// filesystem cannot reserve it. The old bytes are not touched. 0, or the
// error number.
int write_room(const int fd, const off_t from, const off_t size) {
  static const char zeros[65536] = {};
  for (off_t at = from; at < size;) {
    const ssize_t n = pwrite(fd, zeros, std::size_t(std::min<off_t>(sizeof zeros, size - at)), at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    at += n;
  }
  return size > from && fdatasync(fd) != 0 ? errno : 0;
}

// Makes sure of room for size bytes in the file open as fd, old_size bytes
// long, before any byte of it is overwritten, so that a full filesystem or
// a size limit leaves the file as it was: "" when there is room, else the
// reason. The file grows to size (the tail reads as zeros) unless it was
// longer, so that a size limit counts too; where the filesystem cannot
// reserve (ext2, vfat, NFS 3) the room is written instead. What a failed
// attempt allocated or wrote is cut back. The system call, not
// posix_fallocate: that one emulates a reservation by reading the file,
// which a descriptor open for writing only cannot do.
String make_room(const int fd, const off_t old_size, const off_t size) {
  if (size == 0 || fallocate(fd, 0, 0, size) == 0) return "";
  int error = errno;
  if (error == EOPNOTSUPP || error == ENOSYS) error = write_room(fd, old_size, size);
  if (error == 0) return "";
  const String why = reason(error);
  return ftruncate(fd, old_size) != 0 ? String(why + " (left longer than it was)") : why;
}

// True when the folder open as fd is empty.
bool empty_folder(const int fd) {
  alignas(8) char buffer[4096];
  const long n = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
  bool empty = n >= 0;
  for (long at = 0; empty && at < n;) {
    const char* name = buffer + at + 19;  // after inode, offset, length and type
    empty = std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
    at += *reinterpret_cast<const unsigned short*>(buffer + at + 16);
  }
  return empty && lseek(fd, 0, SEEK_SET) == 0;
}

// ---------------------------------------------------------------- access lists

// A POSIX access control list as the system stores it: a 4-byte version,
// then 8-byte entries (tag, permissions, id; 16, 16 and 32 bits,
// little-endian). Empty when the file has none beyond its permission bits.
const char* const acl_access = "system.posix_acl_access";
const char* const acl_default = "system.posix_acl_default";
enum : unsigned {
  acl_user_obj = 0x01,
  acl_user = 0x02,
  acl_group_obj = 0x04,
  acl_group = 0x08,
  acl_mask = 0x10,
  acl_other = 0x20
};

struct Acl {
  std::vector<unsigned char> bytes;
  bool empty() const { return bytes.size() < 4 + 8; }
  // The permissions (rwx as 0 to 7) of the entry with the given tag (one
  // that names no user or group), or null.
  unsigned char* entry(const unsigned tag) {
    for (std::size_t at = 4; at + 8 <= bytes.size(); at += 8)
      if (bytes[at] == tag && bytes[at + 1] == 0) return &bytes[at + 2];
    return nullptr;
  }
  // The permissions shared by every entry naming a user or group, as the
  // mask lets them through (7 when there is none).
  unsigned named_at_most() {
    const unsigned char* mask = entry(acl_mask);
    unsigned common = 7;
    for (std::size_t at = 4; at + 8 <= bytes.size(); at += 8)
      if ((bytes[at] == acl_user || bytes[at] == acl_group) && bytes[at + 1] == 0)
        common &= bytes[at + 2] & (mask ? *mask : 7u);
    return common;
  }
};

// The list named name of the file or folder at path (a /proc name of a
// descriptor), empty when it has none.
Acl read_acl(const String& path, const char* name) {
  Acl acl;
  acl.bytes.resize(1024);
  for (;;) {
    const ssize_t n = getxattr(path.c_str(), name, acl.bytes.data(), acl.bytes.size());
    if (n >= 0) {
      acl.bytes.resize(std::size_t(n));
      return acl;
    }
    acl.bytes.clear();
    if (errno != ERANGE) return acl;
    acl.bytes.resize(acl.bytes.size() * 4 + 1024);
  }
}

// Permission bits of a class within a mode, as 0 to 7.
unsigned bits(const mode_t mode, const int shift) { return unsigned(mode >> shift) & 7u; }

// The access the calling process had to the file at path, as 0 to 7.
unsigned own_access(const String& path) {
  unsigned granted = 0;
  for (const auto& [flag, bit] : {std::pair{R_OK, 4u}, std::pair{W_OK, 2u}, std::pair{X_OK, 1u}})
    if (access(path.c_str(), flag) == 0) granted |= bit;
  return granted;
}

// make_private's answer when the folder it opened is not the one it made.
constexpr int folder_swapped = -1;

String reason_of(const int error) {
  return error == folder_swapped
             ? "the folder made for its new content was replaced by another process"
             : reason(error);
}

}  // namespace

// ---------------------------------------------------------------- state

struct Output_file::State {
  State(const String& target, const String& who) : target(target), who(who), place(target, who) {}
  ~State();

  String target, who;
  Files::Output_place place;  // the target's folder, held, and its name there
  int old = -1;               // the existing target (O_PATH), or -1 for a new file
  struct stat old_st {};      // as it was when the output began
  String folder;              // the folder that holds the private folder, as a path
  int parent = -1;            // that folder
  int priv = -1;              // the private folder
  String priv_name, path;
  bool in_place = false, kept = false, placed = false, flushed = false;
  double lock_wait = 60;
  int out = -1;           // in place: the target, open for writing and locked
  off_t old_size = 0;     // its size when locked
  bool reserved = false;  // room made for the new content
  Cleanup_on_signal file_watch, folder_watch;

  [[noreturn]] void cannot(const String& why) const {
    fatal(who + ": cannot write " + target + ": " + why);
  }
  void open_target();
  int make_private(int in, const String& in_path);
  int check_private() const;
  bool remove_private();
  bool abandon();
  String kept_at() const { return folder + "/" + priv_name + "/new"; }
  String failure(int error) const;
  String flush();
  String prepare();
  String lock();
  String reserve();
  String place_it();
  String rename_over();
  String copy_into();
  String carry_access(int fd);
  bool target_unchanged() const;
};

namespace {

// True when this process may write the file but not replace it: a sticky
// folder (as /tmp) lets only the file's owner, the folder's owner and root
// rename over a file in it.
bool replace_forbidden(const struct stat& dir, const struct stat& file) {
  return geteuid() != 0 && (dir.st_mode & S_ISVTX) != 0 && file.st_uid != geteuid() &&
         dir.st_uid != geteuid();
}

}  // namespace

// The existing target, held (O_PATH) as the walk found it.
void Output_file::State::open_target() {
  struct stat st;
  if (!place.exists()) {
    if (fstatat(place.dir(), place.name().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 &&
        errno != ENOENT)
      cannot(reason(errno));
    return;
  }
  if (!S_ISREG(place.file().st_mode)) cannot("not a regular file");
  old = openat(place.dir(), place.name().c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (old < 0 || fstat(old, &old_st) != 0) cannot(reason(errno));
  if (!same_inode(place.file(), old_st)) cannot("the file changed while it was opened");
  // A file of several names is rewritten so that all of them see the new
  // content.
  in_place = old_st.st_nlink > 1 || replace_forbidden(place.folder(), old_st);
}

// Makes the private folder in the folder open as in (in_path its name for
// messages) and the empty new content in it, both watched: 0, or the error
// number (folder_swapped), and then nothing made is left and no descriptor
// of it kept.
int Output_file::State::make_private(const int in, const String& in_path) {
  const Signals_held held;  // made and watched as one step
  String made = proc_path(in) + "/.output.XXXXXX";
  if (mkdtemp(&made[0]) == nullptr) return errno;
  priv_name = name_of(made);
  folder = in_path;
  parent = fcntl(in, F_DUPFD_CLOEXEC, 0);
  int error = parent < 0 ? errno : 0;
  if (error == 0) {
    priv = openat(parent, priv_name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    error = priv < 0 ? errno : check_private();
  }
  if (error == folder_swapped) {  // not this process's to change or remove
    close_fd(priv);
    close_fd(parent);
    return error;
  }
  if (error == 0) {
    folder_watch.watch_folder(parent, priv_name, priv);
    // The folder is for this user alone: an access list inherited from the
    // folder it is in would reach its files. A set-group-ID bit it
    // inherited stays, so that the new file gets the group a file made in
    // that folder gets.
    struct stat st;
    if (fstat(priv, &st) != 0 || fchmod(priv, 0700 | (st.st_mode & S_ISGID)) != 0) error = errno;
    for (const char* list : {acl_access, acl_default})
      if (error == 0 && fremovexattr(priv, list) != 0 && errno != ENODATA && errno != EOPNOTSUPP)
        error = errno;
  }
  if (error == 0) {
    int file = openat(priv, "new", O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (file < 0) error = errno;
    close_fd(file);
  }
  if (error == 0) {
    file_watch.watch(priv, "new");
    path = proc_path(priv) + "/new";
    return 0;
  }
  if (priv >= 0)
    remove_private();
  else  // nothing but the empty folder was made
    unlinkat(parent >= 0 ? parent : in, priv_name.c_str(), AT_REMOVEDIR);
  close_fd(priv);
  close_fd(parent);
  kept = false;  // a folder that could not be removed is no longer this output's
  return error;
}

// Whether the folder just opened is the one mkdtemp made, so that nothing
// is changed in a folder another user put in its place (in a folder others
// may write): this user's, closed to others, empty. 0, or folder_swapped
// (or an error number).
int Output_file::State::check_private() const {
  struct stat st;
  if (fstat(priv, &st) != 0) return errno;
  return st.st_uid == geteuid() && S_ISDIR(st.st_mode) && (st.st_mode & 077) == 0 &&
                 empty_folder(priv)
             ? 0
             : folder_swapped;
}

// Removes the new content and the private folder (while its name is still
// the folder held), unless kept; true when nothing is left.
bool Output_file::State::remove_private() {
  if (priv < 0 || kept) return priv < 0;
  bool gone = unlinkat(priv, "new", 0) == 0 || errno == ENOENT;
  struct stat st, now;
  if (fstat(priv, &st) == 0 && fstatat(parent, priv_name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
      same_inode(st, now))
    gone = unlinkat(parent, priv_name.c_str(), AT_REMOVEDIR) == 0 && gone;
  file_watch.forget();
  folder_watch.forget();
  if (!gone) kept = true;
  return gone;
}

// Gives up an output not put in place: the room made for a copy goes (the
// target cut back to its size), and so do the private folder and the new
// content; true when neither is left.
bool Output_file::State::abandon() {
  if (out >= 0 && reserved && !placed && ftruncate(out, old_size) == 0) reserved = false;
  return remove_private();
}

Output_file::State::~State() {
  abandon();
  file_watch.forget();
  folder_watch.forget();
  for (int* fd : {&old, &parent, &priv, &out}) close_fd(*fd);
}

// ---------------------------------------------------------------- Output_file

Output_file::Output_file(const String& target, const String& who) : state_(new State(target, who)) {
  State& s = *state_;
  // Libraries that open the new content by name reach it through /proc.
  if (access("/proc/self/fd", X_OK) != 0) s.cannot("needs /proc, which is not mounted");
  s.open_target();
  const int beside = s.make_private(s.place.dir(), s.place.dir_path());
  if (beside == 0) return;
  const bool closed = beside == EACCES || beside == EPERM;
  if (!closed || s.old < 0 || faccessat(s.place.dir(), s.place.name().c_str(), W_OK, 0) != 0)
    s.cannot(reason_of(beside));
  // The file's folder is closed to this process but the file is not: the
  // output is made elsewhere and copied into it.
  s.in_place = true;
  const char* tmpdir = std::getenv("TMPDIR");
  int error = 0;
  for (const String& where : {String(tmpdir != nullptr ? tmpdir : ""), String("/tmp")}) {
    if (where.empty()) continue;
    int fd = open(where.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    error = fd < 0 ? errno : s.make_private(fd, where);
    close_fd(fd);
    if (error == 0) return;
  }
  s.cannot("no temporary file can be made: " + reason_of(error));
}

Output_file::Output_file(const String& target, const String& who, Pending_outputs* pending)
    : Output_file(target, who) {
  pending_ = pending;
  if (pending != nullptr) state_->lock_wait = pending->lock_wait_;
}

Output_file::~Output_file() = default;

void Output_file::probe(const String& target, const String& who) {
  Files::check_output(target, who);
  Output_file(target, who);
}

const String& Output_file::path() const { return state_->path; }

void Output_file::write(const String& bytes) {
  int fd = openat(state_->priv, "new", O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) write_failed(errno);
  if (!write_all(fd, bytes.data(), bytes.size())) {
    const int error = errno;
    close_fd(fd);
    write_failed(error);
  }
  if (close(fd) != 0) write_failed(errno);
}

void Output_file::write_failed(const int error) const { state_->cannot(state_->failure(error)); }

namespace {

using States = std::vector<std::unique_ptr<Output_file::State>>;

// Fatal: output at of outputs failed (why); every output not put in place
// is removed, or where it is kept is said, and those put in place are named.
[[noreturn]] void failed(States& outputs, const std::size_t at, const String& why) {
  String text = outputs[at]->who + ": cannot write " + outputs[at]->target + ": " + why;
  String replaced;
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    Output_file::State& s = *outputs[i];
    if (s.placed) {
      replaced += (replaced.empty() ? "" : ", ") + s.target;
    } else if (!s.abandon() && why.find(s.kept_at()) == String::npos) {
      text += "; the new content" + (i == at ? String() : " of " + s.target) + " is kept in " +
              s.kept_at();
    }
  }
  if (!replaced.empty()) text += "; already replaced: " + replaced;
  fatal(text);
}

// Puts the outputs in place: every step that can fail first, for all, then
// the copies and renames with the ending signals held, then their folders
// flushed.
void put_all(States& outputs) {
  std::stable_partition(outputs.begin(), outputs.end(),
                        [](const std::unique_ptr<Output_file::State>& s) { return s->in_place; });
  for (std::size_t i = 0; i < outputs.size(); ++i)
    if (const String why = outputs[i]->prepare(); !why.empty()) failed(outputs, i, why);
  const Signals_held held;
  for (std::size_t i = 0; i < outputs.size(); ++i)
    if (const String why = outputs[i]->reserve(); !why.empty()) failed(outputs, i, why);
  for (std::size_t i = 0; i < outputs.size(); ++i)
    if (const String why = outputs[i]->place_it(); !why.empty()) failed(outputs, i, why);
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    Output_file::State& s = *outputs[i];
    if (s.in_place) continue;
    int dir = openat(s.place.dir(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // A folder this user may not read cannot be flushed; the rename stands.
    const int error = dir < 0 ? (errno == EACCES ? 0 : errno) : fsync(dir) != 0 ? errno : 0;
    close_fd(dir);
    if (error != 0) failed(outputs, i, "flushing its folder failed: " + reason(error));
  }
}

}  // namespace

void Output_file::commit() {
  if (const String why = state_->flush(); !why.empty()) state_->cannot(why);
  if (pending_ != nullptr) {
    pending_->held_.push_back(std::move(state_));
    return;
  }
  States one;
  one.push_back(std::move(state_));
  put_all(one);
}

// ---------------------------------------------------------------- the steps

String Output_file::State::failure(const int error) const {
  String why = "writing its new content in " + folder + " failed";
  // Only a reason that a failed write or open gives: the number may be
  // stale.
  if (error == ENOSPC || error == EDQUOT || error == EFBIG || error == EIO || error == EMFILE ||
      error == ENFILE)
    why += ": " + reason(error);
  if (old >= 0) why += left_as_it_was;
  return why;
}

// Every byte of the new content on the disk before it replaces the target:
// a failed write the system reports only now (a full disk behind a cache, a
// network filesystem) fails the output here. A copy in place reads the
// content back and flushes the target instead.
String Output_file::State::flush() {
  if (flushed || in_place) return "";
  int fd = openat(priv, "new", O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  const int error = fd < 0 || fsync(fd) != 0 ? errno : 0;
  close_fd(fd);
  flushed = error == 0;
  return error == 0 ? "" : failure(error);
}

// True when the target is still the file it was when the output began, or
// still absent.
bool Output_file::State::target_unchanged() const {
  struct stat now;
  if (fstatat(place.dir(), place.name().c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0)
    return old < 0 && errno == ENOENT;
  return old >= 0 && same_inode(now, old_st);
}

const char* const changed =
    "the file was changed by another process while its new content was written; it is left as "
    "it is";

// What can fail before the target is touched, but the room for a copy:
// for a rename the new file's owner, permissions and list, for a copy the
// target opened and locked; both then check that the target is unchanged.
String Output_file::State::prepare() {
  if (in_place) return lock();
  int fd = openat(priv, "new", O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  String why = fd < 0 ? reason(errno) + left_as_it_was : carry_access(fd);
  close_fd(fd);
  if (why.empty() && !target_unchanged()) why = changed;
  return why;
}

// Opens the target for the copy, once known to be the file that was
// checked (a FIFO put in its place refuses a non-blocking open instead of
// waiting), and takes its lock: one writer at a time, from before the room
// is made to the last byte. A lock another process holds (any reader's
// flock) is waited for, lock_wait seconds at most; signals still end the
// process meanwhile, and its temporaries go.
String Output_file::State::lock() {
  out = openat(place.dir(), place.name().c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (out < 0) return reason(errno) + left_as_it_was;
  struct stat st;
  if (fstat(out, &st) != 0) return reason(errno) + left_as_it_was;
  if (!same_inode(st, old_st)) return changed;
  const auto start = std::chrono::steady_clock::now();
  for (bool told = false; flock(out, LOCK_EX | LOCK_NB) != 0;) {
    if (errno != EWOULDBLOCK && errno != EINTR) return reason(errno) + left_as_it_was;
    const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - start;
    if (waited.count() >= lock_wait)
      return "another process holds a lock on it (waited " + String(int(lock_wait)) + " s)" +
             left_as_it_was;
    if (!told)
      Message::message(
          Message_warn(who + ": waiting for another process to finish writing " + target));
    told = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (fstat(out, &st) != 0) return reason(errno) + left_as_it_was;
  old_size = st.st_size;
  return "";
}

// Room for the whole new content in the file copied into.
String Output_file::State::reserve() {
  if (!in_place) return "";
  struct stat from;
  if (fstatat(priv, "new", &from, AT_SYMLINK_NOFOLLOW) != 0) return reason(errno) + left_as_it_was;
  const String why = make_room(out, old_size, from.st_size);
  if (!why.empty()) return why + left_as_it_was;
  reserved = true;
  return "";
}

String Output_file::State::place_it() {
  const String why = in_place ? copy_into() : rename_over();
  placed = why.empty();
  if (placed) remove_private();
  return why;
}

String Output_file::State::rename_over() {
  const int dir = place.dir();
  const char* name = place.name().c_str();
  int done = renameat2(priv, "new", dir, name, old < 0 ? RENAME_NOREPLACE : 0);
  if (done != 0 && errno == EINVAL) done = renameat(priv, "new", dir, name);
  if (done == 0) return "";
  if (errno == EEXIST)
    return "a file of that name was made by another process while its new content was written; "
           "it is left as it is";
  return reason(errno) + (old >= 0 ? left_as_it_was : "");
}

// Copies the new content into the target, locked with room made; a copy
// cut short leaves the file empty, never part of an output that might pass
// for the whole of one, and the whole output is kept for the user.
String Output_file::State::copy_into() {
  int in = openat(priv, "new", O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in < 0) return reason(errno) + left_as_it_was;
  String why;
  char buffer[65536];
  off_t copied = 0;
  for (ssize_t n = 1; why.empty() && n != 0;) {
    n = read(in, buffer, sizeof(buffer));
    if (n < 0 && errno != EINTR) why = reason(errno);
    if (n > 0 && !write_all(out, buffer, std::size_t(n))) why = reason(errno);
    if (n > 0) copied += n;
  }
  close_fd(in);
  // Cut to what was copied: the file may have been longer.
  if (why.empty() && ftruncate(out, copied) != 0) why = reason(errno);
  // Set-id bits go as a write by an unprivileged process makes them go
  // (one that may not change the mode had them cleared by the write).
  if (why.empty() && (old_st.st_mode & (S_ISUID | S_ISGID)) != 0 &&
      fchmod(out, old_st.st_mode & 01777) != 0 && errno != EPERM)
    why = reason(errno);
  if (why.empty() && fsync(out) != 0) why = reason(errno);
  if (!why.empty() && ftruncate(out, 0) != 0) why += " (left part-written)";
  if (close(out) != 0 && why.empty()) why = reason(errno);  // also ends the lock
  out = -1;
  if (why.empty()) return "";
  kept = true;  // also should a signal end the run later
  file_watch.forget();
  folder_watch.forget();
  return why + "; the new content is kept in " + kept_at();
}

// Gives the new file open as fd the owner, group, permissions and access
// list of the file it replaces, as far as no user gains access by it, and
// no set-id bit; or, for a new file, what a file made in the target's
// folder would get. "" or why not.
String Output_file::State::carry_access(const int fd) {
  if (old < 0) {
    Acl acl = read_acl(proc_path(place.dir()), acl_default);
    if (acl.empty()) return fchmod(fd, 0666 & ~current_umask()) != 0 ? reason(errno) : "";
    // As the system makes a file in a folder with a default list: the
    // list, its classes cut to the mode asked for (0666).
    unsigned char* group = acl.entry(acl_mask) ? acl.entry(acl_mask) : acl.entry(acl_group_obj);
    for (unsigned char* p : {acl.entry(acl_user_obj), group, acl.entry(acl_other)})
      if (p != nullptr) *p &= 6;
    if (fsetxattr(fd, acl_access, acl.bytes.data(), acl.bytes.size(), 0) == 0) return "";
    const unsigned char* owner = acl.entry(acl_user_obj);
    return fchmod(fd, mode_t(owner ? *owner : 6u) << 6) != 0 ? reason(errno) : "";
  }
  const auto fail = [&] { return reason(errno) + left_as_it_was; };
  struct stat was, now;
  if (fstat(old, &was) != 0) return fail();
  Acl acl = read_acl(proc_path(old), acl_access);
  // Owner and group where this process may give them, else the group only.
  if (fchown(fd, was.st_uid, was.st_gid) != 0) fchown(fd, uid_t(-1), was.st_gid);
  if (fstat(fd, &now) != 0) return fail();
  const bool owner_changed = now.st_uid != was.st_uid, group_changed = now.st_gid != was.st_gid;

  // Each class's access before: the owning group's through the mask.
  unsigned char* group_entry = acl.entry(acl_group_obj);
  const unsigned char* mask = acl.entry(acl_mask);
  const unsigned owner0 = bits(was.st_mode, 6), other0 = bits(was.st_mode, 0);
  const unsigned group0 = group_entry ? *group_entry : bits(was.st_mode, 3);
  const unsigned group_class0 = group0 & (mask ? *mask : 7u);
  const unsigned named = acl.named_at_most();
  unsigned owner = owner0, group = group0, other = other0;
  // A user who leaves a class lands in another: members of the old group
  // fall to others (or a named group), the old owner to the group or
  // others; the new group's members come from others, the old group or a
  // named group; the new owner, this process, keeps what it had.
  if (group_changed) {
    other &= group_class0;
    group &= other0 & group_class0 & named;
  }
  if (owner_changed) {
    owner = own_access(proc_path(old));
    other &= owner0;
    group &= owner0;
  }
  const mode_t sticky = was.st_mode & S_ISVTX;

  if (!acl.empty()) {
    if (unsigned char* owners = acl.entry(acl_user_obj)) *owners = (unsigned char)owner;
    if (group_entry) *group_entry = (unsigned char)group;
    if (unsigned char* others = acl.entry(acl_other)) *others = (unsigned char)other;
    const unsigned group_bits = mask ? *mask : group;
    if (fsetxattr(fd, acl_access, acl.bytes.data(), acl.bytes.size(), 0) == 0)
      return fchmod(fd, sticky | mode_t(owner << 6 | group_bits << 3 | other)) != 0 ? fail() : "";
    // Without the list its named users and groups fall to the group and
    // others, which then get no more than any of them had.
    group &= named;
    other &= named;
  }
  return fchmod(fd, sticky | mode_t(owner << 6 | group << 3 | other)) != 0 ? fail() : "";
}

// ---------------------------------------------------------------- Pending_outputs

Pending_outputs::Pending_outputs(const String& who, const double lock_wait)
    : who_(who), lock_wait_(lock_wait) {}

Pending_outputs::~Pending_outputs() = default;

void Pending_outputs::put_in_place() {
  States held;
  held.swap(held_);
  put_all(held);
}

}  // namespace vantrel
