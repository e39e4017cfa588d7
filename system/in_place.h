// An output copied into its existing file (in place), the file's inode kept:
// room for the new content made before a byte is overwritten, and the old
// content kept where the filesystem can share its blocks (a reflink, as on
// btrfs and XFS), so that a copy cut short can give it back.
#ifndef VANTREL_SYSTEM_IN_PLACE_H
#define VANTREL_SYSTEM_IN_PLACE_H

#include <sys/types.h>

#include <initializer_list>

namespace vantrel {

//! One copy in place, into a file open for writing (and locked) as fd.
class Copy_in_place {
 public:
  Copy_in_place() = default;
  ~Copy_in_place();
  Copy_in_place(const Copy_in_place&) = delete;
  Copy_in_place& operator=(const Copy_in_place&) = delete;

  //! Before the file, old_size bytes long, is overwritten by size bytes:
  //! its old content reflinked into an unnamed file in the first of folders
  //! on its filesystem where one can be, then room made for size bytes over
  //! its holes and past its end, so that a full filesystem or a size limit
  //! leaves it as it was. The room is reserved without changing the file's
  //! length where the filesystem can; where it cannot (no fallocate: ext2,
  //! NFS 3) zeros are written, and the file grows to size unless it was
  //! longer. 0 when there is room, else the error number. Either way the
  //! caller cuts the file back to old_size should no copy follow: that
  //! gives back what a failed attempt left, a reservation past the end too.
  int prepare(int fd, off_t old_size, off_t size, std::initializer_list<int> folders);
  //! Copies what the descriptor from reads (from its offset; it may be a
  //! pipe) over the file open as fd from its start, cut to what was copied
  //! where it was longer: 0, or the error number. copied counts the bytes
  //! written, also on failure: none means the file is untouched, every byte
  //! of the content that it holds it whole (longer, where the cut failed).
  static int copy(int from, int fd, off_t& copied);
  //! After a failed copy, the old content given back from its reflink:
  //! false when none was taken or it could not be given back.
  bool restore(int fd);

 private:
  int old_ = -1;  // the old content, reflinked, or -1
};

}  // namespace vantrel

#endif
