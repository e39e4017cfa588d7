#include "system/output_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "system/access_list.h"
#include "system/file_access.h"
#include "system/in_place.h"
#include "foundation/message.h"
#include "system/signal_cleanup.h"
#include "system/system_call.h"

namespace vantrel {

namespace {

using Files::same_inode;
using System::fd_path;
using System::reason;
using System::write_all;

void close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

const String left_as_it_was = "; the file is left as it was";
const char* const changed =
    "the file was changed by another process while its new content was written; it is left as "
    "it is";

// make_private's answer when the folder it opened is not the one it made.
constexpr int folder_swapped = -1;

String reason_of(const int error) {
  return error == folder_swapped
             ? "the folder made for its new content was replaced by another process"
             : reason(error);
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

// True when this process may write the file but not replace it: a sticky
// folder (as /tmp) lets only the file's owner, the folder's owner and root
// rename over a file in it.
bool replace_forbidden(const struct stat& dir, const struct stat& file) {
  return geteuid() != 0 && (dir.st_mode & S_ISVTX) != 0 && file.st_uid != geteuid() &&
         dir.st_uid != geteuid();
}

}  // namespace

// ---------------------------------------------------------------- state

// Each step that can fail returns "" or why it failed (the text after
// "cannot write <target>: ").
struct Output_file::State {
  State(const String& target, const String& who) : target(target), who(who), place(target, who) {}
  ~State();

  String target, who;
  Files::Output_place place;  // the target's folder, held, and its name there
  int old = -1;               // the existing target (O_PATH), or -1 for a new file
  struct stat old_st {};      // as it was when the output began
  bool in_place = false;      // copied into the target rather than renamed over it
  double lock_wait = 60;
  // The private folder (priv), the folder that holds it (parent; folder its
  // path, for messages), and the new content, "new" in it (path).
  String folder, priv_name, path;
  int parent = -1, priv = -1;
  bool kept = false;  // left for the user, not removed
  Cleanup_on_signal file_watch, folder_watch;
  int out = -1;           // a copy's target, open for writing and locked
  off_t old_size = 0;     // its size when locked
  bool reserved = false;  // room made in it for the new content
  Copy_in_place copy;     // and its old content, kept where it can be
  bool placed = false;

  [[noreturn]] void cannot(const String& why) const {
    fatal(who + ": cannot write " + target + ": " + why);
  }
  String because(const int error) const { return reason(error) + (old >= 0 ? left_as_it_was : ""); }
  String kept_at() const { return folder + "/" + priv_name + "/new"; }
  int open_new(const int flags) const {
    return openat(priv, "new", flags | O_NOFOLLOW | O_CLOEXEC, 0600);
  }

  void open_target();
  int make_private(int in, const String& in_path);
  int check_private() const;
  int seal_private();
  bool remove_private();
  void keep();
  bool abandon();
  String failure(int error) const;
  String flush();
  bool target_unchanged() const;
  String prepare();
  String lock();
  String reserve();
  String place_it();
  String rename_over();
  String copy_into();
  String flush_folder();
};

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
// messages) and the empty new content in it: 0, or the error number (or
// folder_swapped), and then nothing made is left and no descriptor of it
// kept.
int Output_file::State::make_private(const int in, const String& in_path) {
  const Signals_held held;  // made and watched as one step
  String made = fd_path(in) + "/.output.XXXXXX";
  if (mkdtemp(&made[0]) == nullptr) return errno;
  priv_name = Files::name_of(made);
  folder = in_path;
  parent = fcntl(in, F_DUPFD_CLOEXEC, 0);
  if (parent >= 0)
    priv = openat(parent, priv_name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  int error = priv < 0 ? errno : check_private();
  if (error == 0) error = seal_private();
  if (error == 0) {
    path = fd_path(priv) + "/new";
    return 0;
  }
  if (priv >= 0 && error != folder_swapped)  // one swapped is not this process's to remove
    remove_private();
  else if (priv < 0)  // nothing but the empty folder was made
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

// Watches the private folder, closes it to other users and makes the empty
// new content in it, watched too: 0 or the error number. An access list
// inherited from the folder it is in would reach its files; a set-group-ID
// bit it inherited stays, so that the new file gets the group a file made
// in that folder gets.
int Output_file::State::seal_private() {
  folder_watch.watch_folder(parent, priv_name, priv);
  struct stat st;
  if (fstat(priv, &st) != 0 || fchmod(priv, 0700 | (st.st_mode & S_ISGID)) != 0) return errno;
  if (const int error = Access_list::clear(priv); error != 0) return error;
  const int file = open_new(O_WRONLY | O_CREAT | O_EXCL);
  if (file < 0) return errno;
  close(file);
  file_watch.watch(priv, "new");
  return 0;
}

// Removes the new content and the private folder (while its name is still
// the folder held), unless kept; true when nothing is left, else kept.
bool Output_file::State::remove_private() {
  if (priv < 0 || kept) return priv < 0;
  bool gone = unlinkat(priv, "new", 0) == 0 || errno == ENOENT;
  struct stat st, now;
  if (fstat(priv, &st) == 0 && fstatat(parent, priv_name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
      same_inode(st, now))
    gone = unlinkat(parent, priv_name.c_str(), AT_REMOVEDIR) == 0 && gone;
  keep();
  kept = !gone;
  return gone;
}

// Leaves the private folder and the new content where they are, also
// should a signal end the process later.
void Output_file::State::keep() {
  kept = true;
  file_watch.forget();
  folder_watch.forget();
}

// Gives up an output not put in place: the room made for a copy goes (the
// target cut back to its size), and so do the private folder and the new
// content; true when neither is left.
bool Output_file::State::abandon() {
  if (out >= 0 && reserved && ftruncate(out, old_size) == 0) reserved = false;
  return remove_private();
}

Output_file::State::~State() {
  abandon();
  file_watch.forget();  // before the folders they name entries in are closed
  folder_watch.forget();
  for (int* fd : {&old, &parent, &priv, &out}) close_fd(*fd);
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
  if (in_place) return "";
  int fd = open_new(O_RDONLY);
  const int error = fd < 0 || fsync(fd) != 0 ? errno : 0;
  close_fd(fd);
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

// What can fail before the target is touched, but the room for a copy:
// for a rename the new file's owner, permissions and list, for a copy the
// target opened and locked; both then check that the target is unchanged.
String Output_file::State::prepare() {
  if (in_place) return lock();
  int fd = open_new(O_RDONLY);
  const int error = fd < 0    ? errno
                    : old < 0 ? Access_list::inherit(fd, place.dir())
                              : Access_list::carry_over(fd, old);
  close_fd(fd);
  if (error != 0) return because(error);
  return target_unchanged() ? "" : changed;
}

// Opens the target for the copy, once known to be the file that was
// checked (a FIFO put in its place refuses a non-blocking open instead of
// waiting), and takes its lock: one writer at a time, from before the room
// is made to the last byte. A lock another process holds (any reader's
// flock) is waited for, lock_wait seconds at most; signals still end the
// process meanwhile, and its temporaries go.
String Output_file::State::lock() {
  out = openat(place.dir(), place.name().c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat st;
  if (out < 0 || fstat(out, &st) != 0) return because(errno);
  if (!same_inode(st, old_st)) return changed;
  const auto start = std::chrono::steady_clock::now();
  for (bool told = false; flock(out, LOCK_EX | LOCK_NB) != 0; told = true) {
    if (errno != EWOULDBLOCK && errno != EINTR) return because(errno);
    const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - start;
    if (waited.count() >= lock_wait)
      return "another process holds a lock on it (waited " + String(int(lock_wait)) + " s)" +
             left_as_it_was;
    if (!told)
      Message::message(
          Message_warn(who + ": waiting for another process to finish writing " + target));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (fstat(out, &st) != 0) return because(errno);
  old_size = st.st_size;
  return "";
}

// Room for the whole new content in the file copied into.
String Output_file::State::reserve() {
  if (!in_place) return "";
  struct stat from;
  if (fstatat(priv, "new", &from, AT_SYMLINK_NOFOLLOW) != 0) return because(errno);
  const String why = copy.prepare(out, old_size, from.st_size, {place.dir(), priv});
  reserved = why.empty();
  return reserved ? "" : why + left_as_it_was;
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
  return because(errno);
}

// Copies the new content into the target, locked with room made; a copy
// cut short gives the file its old content back where a reflink kept it,
// else leaves it empty, never part of an output that might pass for the
// whole of one, with the whole output kept for the user.
String Output_file::State::copy_into() {
  int in = open_new(O_RDONLY);
  if (in < 0) return because(errno);
  const int error = Copy_in_place::copy(in, out);
  String why = error == 0 ? "" : reason(error);
  close_fd(in);
  // Set-id bits go as a write by an unprivileged process makes them go
  // (one that may not change the mode had them cleared by the write).
  if (why.empty() && (old_st.st_mode & (S_ISUID | S_ISGID)) != 0 &&
      fchmod(out, old_st.st_mode & 01777) != 0 && errno != EPERM)
    why = reason(errno);
  if (why.empty() && fsync(out) != 0) why = reason(errno);
  const bool restored = !why.empty() && copy.restore(out);
  if (!why.empty() && !restored && ftruncate(out, 0) != 0) why += " (left part-written)";
  if (close(out) != 0 && why.empty()) why = reason(errno);  // also ends the lock
  out = -1;
  if (why.empty() || restored) return why + (restored ? left_as_it_was : "");
  keep();
  return why + "; the new content is kept in " + kept_at();
}

// The folder of a renamed output flushed, so that the rename is on the
// disk. A folder this user may not read cannot be flushed; the rename
// stands.
String Output_file::State::flush_folder() {
  if (in_place) return "";
  int dir = openat(place.dir(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int error = dir < 0 ? (errno == EACCES ? 0 : errno) : fsync(dir) != 0 ? errno : 0;
  close_fd(dir);
  return error == 0 ? "" : "flushing its folder failed: " + reason(error);
}

// ---------------------------------------------------------------- Output_file

Output_file::Output_file(const String& target, const String& who, Pending_outputs* pending)
    : state_(new State(target, who)), pending_(pending) {
  State& s = *state_;
  if (pending != nullptr) s.lock_wait = pending->lock_wait_;
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

Output_file::~Output_file() = default;

void Output_file::probe(const String& target, const String& who) {
  Files::check_output(target, who);
  Output_file(target, who);
}

const String& Output_file::path() const { return state_->path; }

void Output_file::write(const String& bytes) {
  const int fd = state_->open_new(O_WRONLY | O_TRUNC);
  if (fd < 0) write_failed(errno);
  const int error = write_all(fd, bytes.data(), bytes.size()) ? 0 : errno;
  if (close(fd) != 0 || error != 0) write_failed(error != 0 ? error : errno);
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

// Takes the step for each output in turn; fatal at the first that fails.
void take_step(States& outputs, String (Output_file::State::*step)()) {
  for (std::size_t i = 0; i < outputs.size(); ++i)
    if (const String why = ((*outputs[i]).*step)(); !why.empty()) failed(outputs, i, why);
}

// Puts the outputs in place, copies first: every step that can fail first,
// for all, then the copies and renames with the ending signals held, then
// their folders flushed.
void put_all(States& outputs) {
  std::stable_partition(outputs.begin(), outputs.end(),
                        [](const std::unique_ptr<Output_file::State>& s) { return s->in_place; });
  take_step(outputs, &Output_file::State::prepare);
  const Signals_held held;
  take_step(outputs, &Output_file::State::reserve);
  take_step(outputs, &Output_file::State::place_it);
  take_step(outputs, &Output_file::State::flush_folder);
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
