#include "system/in_place.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "system/system_call.h"

namespace vantrel {

namespace {

// Writes zeros over every hole of the file open as fd, old_size bytes long,
// below size, and over its tail up to size, then flushes them: room made by
// writing it where the filesystem cannot reserve it (ext2, vfat, NFS 3). A
// hole read gives zeros, so the content is unchanged. 0, or the error number.
int write_room(const int fd, const off_t old_size, const off_t size) {
  static const char zeros[65536] = {};
  bool wrote = false;
  for (off_t at = 0; at < size;) {
    const off_t hole = at < old_size ? lseek(fd, at, SEEK_HOLE) : at;
    if (hole < 0) return errno;
    if (hole >= size) break;
    const off_t data = hole < old_size ? lseek(fd, hole, SEEK_DATA) : size;
    if (data < 0 && errno != ENXIO) return errno;  // ENXIO: no data after the hole
    const off_t end = data < 0 ? size : std::min(data, size);
    for (at = hole; at < end;) {
      const ssize_t n = pwrite(fd, zeros, std::size_t(std::min<off_t>(sizeof zeros, end - at)), at);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return n < 0 ? errno : EIO;
      at += n;
      wrote = true;
    }
  }
  return wrote && fdatasync(fd) != 0 ? errno : 0;
}

}  // namespace

Copy_in_place::~Copy_in_place() { System::close_fd(old_); }

// The system call, not posix_fallocate: that one emulates a reservation by
// reading the file, which a descriptor open for writing only cannot do.
// fallocate reserves the holes too, and with FALLOC_FL_KEEP_SIZE the room
// past the end without moving it, so that a process killed before its copy
// leaves the file's length as it was. A filesystem that writes every block
// anew (btrfs) may still run out during the copy, which the reflink covers.
int Copy_in_place::prepare(const int fd, const off_t old_size, const off_t size,
                           const std::initializer_list<int> folders) {
  // The copy's writes are held to the file size limit wherever they land,
  // within the old length too; a reservation that keeps the length is not.
  struct rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      rlim_t(size) > limit.rlim_cur)
    return EFBIG;
  // The reflink's source must be open for reading: the file opened again.
  const int in = open(System::fd_path(fd).c_str(), O_RDONLY | O_CLOEXEC);
  for (const int folder : folders) {
    if (in < 0 || folder < 0) break;
    old_ = openat(folder, ".", O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
    if (old_ >= 0 && ioctl(old_, FICLONE, in) == 0) break;
    const int error = errno;
    System::close_fd(old_);
    if (error != EXDEV && error != EACCES && error != EPERM) break;  // no other folder helps
  }
  if (in >= 0) close(in);
  if (size == 0 || fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size) == 0) return 0;
  const int error = errno;
  return error == EOPNOTSUPP || error == ENOSYS ? write_room(fd, old_size, size) : error;
}

int Copy_in_place::copy(const int from, const int fd, off_t& copied) {
  char buffer[65536];
  copied = 0;
  if (lseek(fd, 0, SEEK_SET) != 0) return errno;  // moved by the search for holes
  for (ssize_t n; (n = read(from, buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    std::size_t written = 0;
    const bool whole = System::write_all(fd, buffer, std::size_t(n), &written);
    copied += off_t(written);  // a write cut short counts: those bytes are overwritten
    if (!whole) return errno;
  }
  // Cut to what was copied where the file was longer.
  struct stat st;
  if (fstat(fd, &st) != 0) return errno;
  return st.st_size == copied || ftruncate(fd, copied) == 0 ? 0 : errno;
}

// A whole-file clone onto a longer file fails unless the old size is a
// whole number of blocks, and onto an empty one makes it the old size, so
// the file is emptied first; that needs no room, and neither does the
// clone, which shares the old blocks. The old content is then the file's
// whether or not its flush succeeds.
bool Copy_in_place::restore(const int fd) {
  if (old_ < 0 || ftruncate(fd, 0) != 0 || ioctl(fd, FICLONE, old_) != 0) return false;
  fsync(fd);
  return true;
}

}  // namespace vantrel
