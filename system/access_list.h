// POSIX access control lists, and the access given from them to a file
// that replaces another or is made new in a folder: its owner, group,
// permission bits and list.
//
// The system keeps a file's list as an extended attribute, and a folder's
// default list (what a file made in it gets) as another. A file has an
// empty list when it has none beyond its permission bits, or its file
// system keeps none: then the bits alone are read and given. Descriptors
// of the files read from may be O_PATH (their lists are read through
// /proc/self/fd); those of the files changed must be open for reading or
// writing. Each call returns 0, or the system's error number of the step
// that failed: where a step is not this process's to take (EPERM, or EINVAL
// for an id its user namespace has no number for) the narrower access each
// call names is given instead, and any other failure, of a read too (a full
// disk, an I/O error), is returned.
#ifndef VANTREL_SYSTEM_ACCESS_LIST_H
#define VANTREL_SYSTEM_ACCESS_LIST_H

namespace vantrel {

namespace Access_list {

//! Removes the list and the default list of the file or folder open as fd,
//! so that its permission bits alone say who may reach it and what is made
//! in it. A file system without lists has none to remove.
int clear(int fd);

//! Gives the new file open as fd what a file made in the folder open as
//! folder gets: the folder's default list, the owner, group (or mask) and
//! other entries cut to read and write, as for a file made with mode 0666;
//! mode 0666 less the umask where the folder has no default list. Where the
//! list may not be set, the owner's access from it alone.
int inherit(int fd, int folder);

//! Gives the new file open as fd the owner, group, permissions and list of
//! the file open as old, which it replaces, as far as no user gains access
//! by it; the sticky bit is kept and the set-id bits are not. The owner and
//! group are kept where this process may give them (root any owner, others
//! a group they belong to), else the group alone or neither; where one
//! changes, users change class (owner, group, others), and each class gets
//! at most the access of every class its users had, the new owner (this
//! process) what it had to old. Where the list may not be set its named
//! users and groups fall to the group and others, which then get no more
//! than every named entry had.
int carry_over(int fd, int old);

}  // namespace Access_list

}  // namespace vantrel

#endif
