#include "foundation/output_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

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

// Makes room for size bytes in the file open as fd before any byte of it is
// overwritten, so that a full filesystem or a size limit leaves the file as
// it was: "" when there is room, else the reason. A reservation that fails
// may still have grown the file (ext4 keeps what it could allocate): it is
// cut back to old_size. A filesystem that cannot reserve space is written
// all the same. The system call, not posix_fallocate: that one emulates a
// reservation by reading the file, which a descriptor open for writing
// only cannot do.
String reserve(const int fd, const off_t old_size, const off_t size) {
  if (size == 0 || fallocate(fd, 0, 0, size) == 0 || errno == EOPNOTSUPP) return "";
  const String why = reason(errno);
  struct stat st;
  if (fstat(fd, &st) == 0 && st.st_size > old_size && ftruncate(fd, old_size) != 0)
    return why + " (left longer than it was)";
  return why;
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

}  // namespace

// ---------------------------------------------------------------- state

struct Output_file::State {
  String target, who;
  String folder;      // the folder that holds the private folder, as a path
  String path;        // the new content, by the private folder's descriptor
  int dir = -1;       // the target's folder (O_PATH)
  String name;        // the target's name in it
  int old = -1;       // the existing target (O_PATH), or -1 for a new file
  struct stat old_st; // as it was when the output began
  int parent = -1;    // the folder holding the private folder (O_PATH)
  int priv = -1;      // the private folder
  String priv_name;
  bool in_place = false, kept = false, checked = false;
  Cleanup_on_signal file_watch, folder_watch;

  ~State();
  [[noreturn]] void cannot(const String& why) const {
    fatal(who + ": cannot write " + target + ": " + why);
  }
  String failure(int error) const;
  int make_private(int in, const String& in_path);
  void check();
  void put_in_place();
  void replace();
  void carry_access(int fd);
  void copy_in_place();
  bool target_unchanged() const;
};

namespace {

thread_local Outputs_held* active_hold = nullptr;
thread_local String failed_target, failed_why;

// True when this process may write the file but not replace it: a sticky
// folder (as /tmp) lets only the file's owner, the folder's owner and root
// rename over a file in it.
bool replace_forbidden(const int dir, const struct stat& file) {
  struct stat st;
  return geteuid() != 0 && fstat(dir, &st) == 0 && (st.st_mode & S_ISVTX) != 0 &&
         file.st_uid != geteuid() && st.st_uid != geteuid();
}

}  // namespace

// Makes the private folder in the folder open as in (in_path its name for
// messages) and the empty new content in it, both watched; 0, or the
// error number.
int Output_file::State::make_private(const int in, const String& in_path) {
  const Signals_held held;  // made and watched as one step
  String made = proc_path(in) + "/.output.XXXXXX";
  if (mkdtemp(&made[0]) == nullptr) return errno;
  const String made_name = name_of(made);
  const int fd = openat(in, made_name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat st;
  // Another user may rename entries of a shared folder, but not make a
  // folder that is this user's.
  if (fstat(fd, &st) != 0 || st.st_uid != geteuid()) {
    close(fd);
    return EEXIST;
  }
  priv = fd;
  priv_name = made_name;
  parent = fcntl(in, F_DUPFD_CLOEXEC, 0);
  folder = in_path;
  folder_watch.watch_folder(parent, priv_name, priv);
  // The folder is for this user alone: an access list inherited from the
  // folder it is in would reach its files.
  fchmod(priv, 0700);
  fremovexattr(priv, acl_access);
  fremovexattr(priv, acl_default);
  const int file = openat(priv, "new", O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (file < 0) return errno;
  close(file);
  file_watch.watch(priv, "new");
  path = proc_path(priv) + "/new";
  return 0;
}

Output_file::State::~State() {
  if (priv >= 0 && !kept) {
    unlinkat(priv, "new", 0);
    struct stat st, now;
    if (fstat(priv, &st) == 0 && fstatat(parent, priv_name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
        same_inode(st, now))
      unlinkat(parent, priv_name.c_str(), AT_REMOVEDIR);
  }
  file_watch.forget();
  folder_watch.forget();
  for (const int fd : {dir, old, parent, priv})
    if (fd >= 0) close(fd);
}

// ---------------------------------------------------------------- Output_file

Output_file::Output_file(const String& target, const String& who) : state_(new State) {
  State& s = *state_;
  if (failed_target == target) failed_target.clear();
  s.target = target;
  s.who = who;
  const String file = Files::link_target(target, who);
  const String dir_path = Files::directory_of(file);
  s.name = name_of(file);
  s.dir = open(dir_path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (s.dir < 0) s.cannot(reason(errno));
  struct stat st;
  bool forced = false;
  if (fstatat(s.dir, s.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (!S_ISREG(st.st_mode)) s.cannot("not a regular file");
    s.old = openat(s.dir, s.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (s.old < 0 || fstat(s.old, &s.old_st) != 0) s.cannot(reason(errno));
    if (!same_inode(st, s.old_st)) s.cannot("the file changed while it was opened");
    // A file of several names is rewritten so that all of them see the
    // new content.
    forced = s.old_st.st_nlink > 1 || replace_forbidden(s.dir, s.old_st);
  } else if (errno != ENOENT) {
    s.cannot(reason(errno));
  }
  const int beside = s.make_private(s.dir, dir_path);
  if (beside == 0) {
    s.in_place = forced;
    return;
  }
  const bool closed = beside == EACCES || beside == EPERM;
  if (!closed || s.old < 0 || faccessat(s.dir, s.name.c_str(), W_OK, 0) != 0)
    s.cannot(reason(beside));
  // The file's folder is closed to this process but the file is not: the
  // output is made elsewhere and copied into it on commit.
  s.in_place = true;
  const char* tmpdir = std::getenv("TMPDIR");
  int error = 0;
  for (const String& where : {String(tmpdir != nullptr ? tmpdir : ""), String("/tmp")}) {
    if (where.empty()) continue;
    const int fd = open(where.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    error = fd < 0 ? errno : s.make_private(fd, where);
    if (fd >= 0) close(fd);
    if (error == 0) return;
  }
  s.cannot("no temporary file can be made: " + reason(error));
}

Output_file::~Output_file() = default;

void Output_file::probe(const String& target, const String& who) { Output_file(target, who); }

const String& Output_file::path() const { return state_->path; }

const String& Output_file::folder() const { return state_->folder; }

void Output_file::write(const String& bytes) {
  const int fd = openat(state_->priv, "new", O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) write_failed(errno);
  if (!write_all(fd, bytes.data(), bytes.size())) {
    const int error = errno;
    close(fd);
    write_failed(error);
  }
  if (close(fd) != 0) write_failed(errno);
}

void Output_file::commit() {
  state_->check();
  if (active_hold != nullptr) {
    active_hold->held_.push_back(std::move(state_));
    return;
  }
  state_->put_in_place();
  state_.reset();
}

String Output_file::failure(const int error) const { return state_->failure(error); }

void Output_file::write_failed(const int error) const { state_->cannot(failure(error)); }

String Output_file::last_failure(const String& target) {
  return failed_target == target ? failed_why : String();
}

// ---------------------------------------------------------------- commit

String Output_file::State::failure(const int error) const {
  String why = "writing its new content in " + folder + " failed";
  // Only a reason that a failed write gives: the number may be stale.
  if (error == ENOSPC || error == EDQUOT || error == EFBIG || error == EIO)
    why += ": " + reason(error);
  if (old >= 0) why += "; the file is left as it was";
  failed_target = target;
  failed_why = why;
  return why;
}

// Every byte of the new content on the disk before it replaces the target:
// a failed write the system reports only now (a full disk behind a cache, a
// network filesystem) fails the output here. A copy in place reads the
// content back and flushes the target instead.
void Output_file::State::check() {
  if (checked || in_place) return;
  const int fd = openat(priv, "new", O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 || fsync(fd) != 0) {
    const int error = errno;
    if (fd >= 0) close(fd);
    cannot(failure(error));
  }
  close(fd);
  checked = true;
}

// True when the target is still the file it was when the output began, or
// still absent.
bool Output_file::State::target_unchanged() const {
  struct stat now;
  if (fstatat(dir, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) return old < 0 && errno == ENOENT;
  return old >= 0 && same_inode(now, old_st);
}

void Output_file::State::put_in_place() {
  if (in_place)
    copy_in_place();
  else
    replace();
}

void Output_file::State::replace() {
  const Signals_held held;  // the target is replaced once begun
  const int fd = openat(priv, "new", O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) cannot(reason(errno));
  carry_access(fd);
  close(fd);
  if (!target_unchanged())
    cannot("the file was changed by another process while its new content was written; it is "
           "left as it is");
  int done = renameat2(priv, "new", dir, name.c_str(), old < 0 ? RENAME_NOREPLACE : 0);
  if (done != 0 && errno == EINVAL) done = renameat(priv, "new", dir, name.c_str());
  if (done != 0) cannot(errno == EEXIST ? "a file of that name was made by another process while "
                                          "its new content was written; it is left as it is"
                                        : reason(errno));
}

// Gives the new file open as fd the owner, group, permissions and access
// list of the file it replaces, as far as no user gains access by it; or,
// for a new file, what a file made in the target's folder would get.
void Output_file::State::carry_access(const int fd) {
  if (old < 0) {
    Acl acl = read_acl(proc_path(dir), acl_default);
    if (acl.empty()) {
      if (fchmod(fd, 0666 & ~current_umask()) != 0) cannot(reason(errno));
      return;
    }
    // As the system makes a file in a folder with a default list: the
    // list, its classes cut to the mode asked for (0666).
    unsigned char* group = acl.entry(acl_mask) ? acl.entry(acl_mask) : acl.entry(acl_group_obj);
    for (unsigned char* p : {acl.entry(acl_user_obj), group, acl.entry(acl_other)})
      if (p != nullptr) *p &= 6;
    if (fsetxattr(fd, acl_access, acl.bytes.data(), acl.bytes.size(), 0) != 0) {
      const unsigned char* owner = acl.entry(acl_user_obj);
      if (fchmod(fd, mode_t(owner ? *owner : 6u) << 6) != 0) cannot(reason(errno));
    }
    return;
  }
  struct stat was, now;
  if (fstat(old, &was) != 0) cannot(reason(errno));
  Acl acl = read_acl(proc_path(old), acl_access);
  // Owner and group where this process may give them, else the group only.
  if (fchown(fd, was.st_uid, was.st_gid) != 0) fchown(fd, uid_t(-1), was.st_gid);
  if (fstat(fd, &now) != 0) cannot(reason(errno));
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
  mode_t special = was.st_mode & 07000;
  if (owner_changed || group_changed) special &= S_ISVTX;

  if (!acl.empty()) {
    if (unsigned char* owners = acl.entry(acl_user_obj)) *owners = (unsigned char)owner;
    if (group_entry) *group_entry = (unsigned char)group;
    if (unsigned char* others = acl.entry(acl_other)) *others = (unsigned char)other;
    const unsigned group_bits = mask ? *mask : group;
    if (fsetxattr(fd, acl_access, acl.bytes.data(), acl.bytes.size(), 0) == 0) {
      if (fchmod(fd, special | mode_t(owner << 6 | group_bits << 3 | other)) != 0)
        cannot(reason(errno));
      return;
    }
    // Without the list its named users and groups fall to the group and
    // others, which then get no more than any of them had.
    group &= named;
    other &= named;
  }
  if (fchmod(fd, special | mode_t(owner << 6 | group << 3 | other)) != 0) cannot(reason(errno));
}

void Output_file::State::copy_in_place() {
  // Not touched before it is known to be the file that was checked; a FIFO
  // put in its place refuses a non-blocking open instead of waiting.
  const int out = openat(dir, name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (out < 0) cannot(reason(errno));
  struct stat st;
  if (fstat(out, &st) != 0 || !same_inode(st, old_st)) {
    close(out);
    cannot("the file was changed by another process while its new content was written; it is "
           "left as it is");
  }
  // One writer at a time, from before the reservation to the last byte; a
  // second waits (signals still end it, and its temporary goes).
  if (flock(out, LOCK_EX | LOCK_NB) != 0) {
    Message::message(Message_warn(who + ": waiting for another process to finish writing " +
                                  target));
    while (flock(out, LOCK_EX) != 0)
      if (errno != EINTR) {
        const int error = errno;
        close(out);
        cannot(reason(error) + "; the file is left as it was");
      }
  }
  const Signals_held held;  // the file is written whole once begun
  const int in = openat(priv, "new", O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in < 0) {
    const int error = errno;
    close(out);
    cannot(reason(error));
  }
  String why;
  struct stat from;
  if (fstat(out, &st) != 0 || fstat(in, &from) != 0)
    why = reason(errno);
  else
    why = reserve(out, st.st_size, from.st_size);
  if (!why.empty()) {
    close(in);
    close(out);
    cannot(why + "; the file is left as it was");
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
  if (why.empty() && fsync(out) != 0) why = reason(errno);
  // A copy cut short leaves the file empty, never part of an output that
  // might pass for the whole of one; the whole output stays in the
  // temporary, which is kept for the user.
  if (!why.empty() && ftruncate(out, 0) != 0) why += " (left part-written)";
  if (close(out) != 0 && why.empty()) why = reason(errno);  // also ends the lock
  if (!why.empty()) {
    kept = true;  // also should a signal end the run later
    file_watch.forget();
    folder_watch.forget();
    cannot(why + "; the new content is kept in " + folder + "/" + priv_name + "/new");
  }
}

// ---------------------------------------------------------------- Outputs_held

Outputs_held::Outputs_held() { active_hold = this; }

Outputs_held::~Outputs_held() {
  if (active_hold == this) active_hold = nullptr;
}

void Outputs_held::release() {
  if (active_hold == this) active_hold = nullptr;
  std::vector<std::unique_ptr<Output_file::State>> held;
  held.swap(held_);
  for (std::unique_ptr<Output_file::State>& state : held) {
    state->put_in_place();
    state.reset();
  }
}

}  // namespace vantrel
