#include "system/access_list.h"

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "system/system_call.h"

namespace vantrel {

namespace Access_list {

namespace {

// A list as the system stores it: a 4-byte version, then 8-byte entries
// (tag, permissions, id; 16, 16 and 32 bits, little-endian).
const char* const access_name = "system.posix_acl_access";
const char* const default_name = "system.posix_acl_default";
constexpr unsigned acl_user_obj = 0x01, acl_user = 0x02, acl_group_obj = 0x04, acl_group = 0x08,
                   acl_mask = 0x10, acl_other = 0x20;  // the entries' tags

struct List {
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
    const unsigned char* through = entry(acl_mask);
    unsigned common = 7;
    for (std::size_t at = 4; at + 8 <= bytes.size(); at += 8)
      if ((bytes[at] == acl_user || bytes[at] == acl_group) && bytes[at + 1] == 0)
        common &= bytes[at + 2] & (through ? *through : 7u);
    return common;
  }
  // Gives the list to the file open as fd: 0, or the error number.
  int set(const int fd) const {
    return fsetxattr(fd, access_name, bytes.data(), bytes.size(), 0) == 0 ? 0 : errno;
  }
};

// Reads the list named name of the file or folder open as fd into list,
// empty where it has none or its file system keeps none: 0, or the error
// number.
int read_list(const int fd, const char* name, List& list) {
  for (std::size_t size = 1024;; size *= 4) {
    list.bytes.resize(size);
    const ssize_t n = getxattr(System::fd_path(fd).c_str(), name, list.bytes.data(), size);
    const int error = n < 0 ? errno : 0;
    if (error != ERANGE) {
      list.bytes.resize(n >= 0 ? std::size_t(n) : 0);
      return error == ENODATA || error == EOPNOTSUPP ? 0 : error;
    }
  }
}

// Whether a step failed because it is not this process's to take: an owner
// or group it may not give (EPERM), an id its user namespace has no number
// for (EINVAL). The narrower access is then given; any other failure (a
// full disk, an I/O error) is the caller's.
bool not_allowed(const int error) { return error == EPERM || error == EINVAL; }

mode_t current_umask() {
  const mode_t was = umask(0);
  umask(was);
  return was;
}

// Permission bits of a class within a mode, as 0 to 7.
unsigned bits(const mode_t mode, const int shift) { return unsigned(mode >> shift) & 7u; }

// The access the calling process has to the file open as fd, as 0 to 7.
unsigned own_access(const int fd) {
  unsigned granted = 0;
  for (const auto& [flag, bit] : {std::pair{R_OK, 4u}, std::pair{W_OK, 2u}, std::pair{X_OK, 1u}})
    if (access(System::fd_path(fd).c_str(), flag) == 0) granted |= bit;
  return granted;
}

int chmod_error(const int fd, const mode_t mode) { return fchmod(fd, mode) != 0 ? errno : 0; }

}  // namespace

int clear(const int fd) {
  for (const char* name : {access_name, default_name})
    if (fremovexattr(fd, name) != 0 && errno != ENODATA && errno != EOPNOTSUPP) return errno;
  return 0;
}

int inherit(const int fd, const int folder) {
  List list;
  if (const int error = read_list(folder, default_name, list); error != 0) return error;
  if (list.empty()) return chmod_error(fd, 0666 & ~current_umask());
  // As the system makes a file with mode 0666 in a folder with a default list.
  unsigned char* group_class =
      list.entry(acl_mask) ? list.entry(acl_mask) : list.entry(acl_group_obj);
  for (unsigned char* p : {list.entry(acl_user_obj), group_class, list.entry(acl_other)})
    if (p != nullptr) *p &= 6;
  if (const int error = list.set(fd); error == 0 || !not_allowed(error)) return error;
  const unsigned char* owner = list.entry(acl_user_obj);
  return chmod_error(fd, mode_t(owner ? *owner : 6u) << 6);
}

int carry_over(const int fd, const int old) {
  struct stat was, now;
  if (fstat(old, &was) != 0) return errno;
  List list;
  if (const int error = read_list(old, access_name, list); error != 0) return error;
  int error = fchown(fd, was.st_uid, was.st_gid) != 0 ? errno : 0;
  if (not_allowed(error)) error = fchown(fd, uid_t(-1), was.st_gid) != 0 ? errno : 0;
  if (error != 0 && !not_allowed(error)) return error;
  if (fstat(fd, &now) != 0) return errno;

  // Each class's access before: the owning group's through the mask.
  unsigned char* group_entry = list.entry(acl_group_obj);
  const unsigned char* through = list.entry(acl_mask);
  const unsigned owner0 = bits(was.st_mode, 6), other0 = bits(was.st_mode, 0);
  const unsigned group0 = group_entry ? *group_entry : bits(was.st_mode, 3);
  const unsigned group_class0 = group0 & (through ? *through : 7u);
  const unsigned named = list.named_at_most();
  unsigned owner = owner0, group = group0, other = other0;
  // A user who leaves a class lands in another: members of the old group
  // fall to others (or a named group), the old owner to the group or
  // others; the new group's members come from others, the old group or a
  // named group.
  if (now.st_gid != was.st_gid) {
    other &= group_class0;
    group &= other0 & group_class0 & named;
  }
  if (now.st_uid != was.st_uid) {
    owner = own_access(old);
    other &= owner0;
    group &= owner0;
  }
  const mode_t sticky = was.st_mode & S_ISVTX;

  if (!list.empty()) {
    if (unsigned char* owners = list.entry(acl_user_obj)) *owners = (unsigned char)owner;
    if (group_entry) *group_entry = (unsigned char)group;
    if (unsigned char* others = list.entry(acl_other)) *others = (unsigned char)other;
    const unsigned group_bits = through ? *through : group;
    error = list.set(fd);
    if (error == 0) return chmod_error(fd, sticky | mode_t(owner << 6 | group_bits << 3 | other));
    if (!not_allowed(error)) return error;
    group &= named;  // the named users and groups fall to these
    other &= named;
  }
  return chmod_error(fd, sticky | mode_t(owner << 6 | group << 3 | other));
}

}  // namespace Access_list

}  // namespace vantrel
