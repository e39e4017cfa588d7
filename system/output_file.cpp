#include "system/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>

#include "foundation/message.h"
#include "system/access_list.h"
#include "system/in_place.h"
#include "system/signal_cleanup.h"
#include "system/system_call.h"

namespace vantrel {

namespace {

using System::close_fd;
using System::fd_path;
using System::reason;

// make_folder's answer when the folder it opened is not the one it made,
// and keep's when the private folder's name no longer is the folder held.
constexpr int folder_swapped = -1;

String reason_of(const int error) {
  return error == folder_swapped ? "another user moved the private folder made for its new content"
                                 : reason(error);
}

// Whether a user other than this one (and root) may rename the entries
// this user makes in the folder open as dir: it is shared without the
// sticky bit, or it is another user's.
bool others_may_move(const int dir) {
  struct stat st;
  return fstat(dir, &st) != 0 || (Files::shared_folder(st) && !(st.st_mode & S_ISVTX)) ||
         (st.st_uid != geteuid() && st.st_uid != 0);
}

// The renames of entries in a folder from the watch's start: where an entry
// made there and moved by another process before it could be opened went.
// Set only where others may move entries (others_may_move): elsewhere an
// entry stays at its name, and the watch's end would cost the kernel's
// wait for its readers (about 15 ms).
class Rename_watch {
 public:
  explicit Rename_watch(const int dir)
      : fd_(others_may_move(dir) ? inotify_init1(IN_CLOEXEC | IN_NONBLOCK) : -1) {
    const uint32_t events = IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE;
    if (fd_ >= 0 && inotify_add_watch(fd_, fd_path(dir).c_str(), events) < 0) close_fd(fd_);
  }
  ~Rename_watch() { close_fd(fd_); }
  Rename_watch(const Rename_watch&) = delete;
  Rename_watch& operator=(const Rename_watch&) = delete;

  // The name in the folder of the entry called name at the start, as far
  // as the renames seen tell (name itself without a watch: where no other
  // user may move it, or the folder may not be read): "" where it left
  // the folder, was removed or renamed over, or events were lost.
  String now_at(String name) {
    if (fd_ < 0) return name;
    alignas(inotify_event) char buffer[1 << 16];
    bool moving = false;
    uint32_t cookie = 0;
    for (ssize_t n; (n = read(fd_, buffer, sizeof buffer)) > 0;)
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        at += ssize_t(sizeof(inotify_event) + event->len);
        if (event->mask & IN_Q_OVERFLOW) return "";
        const bool here = event->len > 0 && name == event->name;
        if (moving && (event->mask & IN_MOVED_TO) && event->cookie == cookie) {
          name = event->name;
          moving = false;
        } else if (!moving && here && (event->mask & IN_MOVED_FROM)) {
          moving = true;
          cookie = event->cookie;
        } else if (!moving && here) {
          return "";  // removed, or another entry renamed over it
        }
      }
    return moving ? "" : name;
  }

 private:
  int fd_;
};

// Removes the empty folder held as dir where it stands now: found, by its
// device and inode, in the folder its ".." names. For a folder another
// process moved away from the name it was made at. 0, or the error number
// (ENOENT where it is not found).
int remove_moved(const int dir) {
  struct stat st;
  const int up = openat(dir, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* list = up < 0 ? nullptr : fdopendir(up);
  if (list == nullptr) {
    const int error = errno;
    if (up >= 0) close(up);
    return error;
  }
  int error = fstat(dir, &st) == 0 ? ENOENT : errno;
  for (const dirent* entry; error == ENOENT && (entry = readdir(list)) != nullptr;) {
    struct stat now;
    if (fstatat(dirfd(list), entry->d_name, &now, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(now.st_mode) && Files::same_inode(now, st))
      error = unlinkat(dirfd(list), entry->d_name, AT_REMOVEDIR) == 0 ? 0 : errno;
  }
  closedir(list);
  return error;
}

// The outputs put in place, as a failure's message names them: "; already
// replaced: <target>, <target>", or "" for none.
String already_replaced(const std::vector<String>& targets) {
  String text;
  for (const String& target : targets)
    text += (text.empty() ? "; already replaced: " : ", ") + target;
  return text;
}

// Flushes the entries of the folder open as dir (O_PATH will do) to the
// disk: 0, or the error number. A folder this user may not read cannot be
// flushed, which is no error.
int flush_entries(const int dir) {
  int fd = openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int error = fd < 0 ? (errno == EACCES ? 0 : errno) : fsync(fd) != 0 ? errno : 0;
  close_fd(fd);
  return error;
}

}  // namespace

// Where one output's new content is. It is made without a name (O_TMPFILE)
// in a folder, or where the filesystem makes no such files, as "new" in a
// private folder made there. It is named "new" in the private folder when
// a name is needed: as the source of a rename over a file that exists, as
// the kept copy of a rewrite in place, as what a failure leaves for the
// user (kept). The private folder is made by this process, closed to every
// other user (mode 0700) and reached only by its descriptor, so no other
// user can change, replace or read what is named in it, whatever they do
// to the folder's own name. Every step changes this record through its
// calls, and every message says where the content is from it.
struct New_content {
  int fd = -1;         // open to read and write; -1 until made
  String path;         // its name through /proc, for libraries that open files by name
  String folder;       // the folder it is made in, as a path for messages
  int parent = -1;     // that folder, held
  String priv_name;    // the private folder in parent, "" while there is none
  int priv = -1;       // and held
  bool named = false;  // "new" in the private folder
  bool kept = false;   // left there for the user, also should a signal end the process
  String moved_to;     // where another user moved the private folder so kept, or ""
  String left;         // what a removal left or took that was not the run's, and why, or ""
  Cleanup_on_signal file_watch, folder_watch;

  ~New_content() {
    if (!kept) remove();
    file_watch.forget();  // before the folders they name entries in are closed
    folder_watch.forget();
    for (int* held : {&fd, &priv, &parent}) close_fd(*held);
  }

  String kept_at() const {
    return (moved_to.empty() ? String(folder + "/" + priv_name) : moved_to) + "/new";
  }

  // Whether the private folder's name in parent is still the folder held:
  // 0, folder_swapped where it is not, or the error number of a look that
  // failed. In a folder others may write, another user may move it and put
  // their own at its name, which nothing this process made may then be
  // said to be in.
  int folder_at_name() const {
    struct stat st, now;
    if (priv < 0) return folder_swapped;
    if (fstat(priv, &st) != 0) return errno;
    if (fstatat(parent, priv_name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0)
      return errno == ENOENT ? folder_swapped : errno;
    return Files::same_inode(st, now) ? 0 : folder_swapped;
  }
  bool folder_in_place() const { return folder_at_name() == 0; }

  // Where the private folder stands now, as the system names it (a name
  // that follows its renames): "" where it cannot say.
  String folder_now() const {
    char text[4096];
    const ssize_t n = priv < 0 ? -1 : readlink(fd_path(priv).c_str(), text, sizeof text);
    return n > 0 && std::size_t(n) < sizeof text ? String(text, std::size_t(n)) : String();
  }

  // Makes the empty content in the folder open as in (in_path its name for
  // messages): 0, or the error number (or folder_swapped), and then
  // nothing made is left and nothing held.
  int make(const int in, const String& in_path) {
    folder = in_path;
    parent = fcntl(in, F_DUPFD_CLOEXEC, 0);
    const int error = parent < 0 ? errno : make_in_parent();
    if (error == 0) return 0;
    remove();
    for (int* held : {&fd, &parent}) close_fd(*held);
    return error;
  }

  // Names the content "new" in the private folder, made now unless it was:
  // 0, or the error number (or folder_swapped).
  int name() {
    if (named) return 0;
    if (priv < 0)
      if (const int error = make_folder(); error != 0) return error;
    const Signals_held held;  // linked and watched as one step
    if (linkat(AT_FDCWD, path.c_str(), priv, "new", AT_SYMLINK_FOLLOW) != 0) return errno;
    named = true;
    file_watch.watch(priv, "new");
    return 0;
  }

  // Leaves the content named for the user, in its private folder while
  // that folder stands at its name, or, when anywhere, where another user
  // moved it (moved_to): "", or why it cannot be, and then what was made
  // for it is removed.
  String keep(const bool anywhere) {
    int error = name();
    if (error == 0 && !folder_in_place()) {
      moved_to = anywhere ? folder_now() : String();
      if (moved_to.empty()) error = folder_swapped;
    }
    if (error == 0) {
      kept = true;
      file_watch.forget();
      folder_watch.forget();
      return "";
    }
    kept = false;
    remove();
    return error == folder_swapped ? "another user moved its private folder" : reason_of(error);
  }

  // Removes the named content and the private folder, unless kept. Content
  // that cannot be removed is kept where its folder stands at its name;
  // what is left is said in left.
  void remove() {
    if (kept) return;
    if (named && unlinkat(priv, "new", 0) != 0 && errno != ENOENT) {
      const int error = errno;
      kept = folder_in_place();
      if (kept) {
        file_watch.forget();
        folder_watch.forget();
        left = "the copy of its new content kept in " + kept_at() +
               " cannot be removed: " + reason(error);
      }
      return;
    }
    named = false;
    file_watch.forget();
    remove_folder();
  }

  // Renames the named content to name in the folder open as dir, and
  // removes the private folder: 0, or the error number.
  int rename_to(const int dir, const char* name) {
    if (renameat(priv, "new", dir, name) != 0) return errno;
    named = false;
    file_watch.forget();
    remove_folder();
    return 0;
  }

 private:
  int make_in_parent() {
    fd = openat(parent, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) {
      path = fd_path(fd);
      // The folder's default list reached the new file: a replaced file gets
      // its own list, a new one its folder's (at prepare).
      return Access_list::clear(fd);
    }
    if (errno != EOPNOTSUPP && errno != EISDIR) return errno;
    // The filesystem makes no files without a name (NFS, vfat, CIFS).
    if (const int error = make_folder(); error != 0) return error;
    const Signals_held held;  // made and watched as one step
    fd = openat(priv, "new", O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return errno;
    named = true;
    file_watch.watch(priv, "new");
    path = fd_path(priv) + "/new";
    return 0;
  }

  // Makes the private folder in parent: 0, or the error number (or
  // folder_swapped), and then nothing made is left.
  int make_folder() {
    const Signals_held held;  // made and watched as one step
    Rename_watch moves(parent);
    String made = fd_path(parent) + "/.output.XXXXXX";
    if (mkdtemp(&made[0]) == nullptr) return errno;
    priv_name = made.substr(made.rfind('/') + 1);
    priv = openat(parent, priv_name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    int error = priv < 0 || fstat(priv, &st) != 0 ? errno : 0;
    // Only the folder mkdtemp made is this user's and closed to others: in a
    // folder others may write, another user may have moved it and put one
    // in its place, where nothing is changed.
    if (error == 0 && (st.st_uid != geteuid() || !S_ISDIR(st.st_mode) || (st.st_mode & 077) != 0))
      error = folder_swapped;
    if (error == 0) {
      folder_watch.watch_folder(parent, priv_name, priv);
      // An access list inherited from parent would reach the folder's
      // files; a set-group-ID bit it inherited stays, so that the content
      // gets the group a file made in parent gets.
      error = fchmod(priv, 0700 | (st.st_mode & S_ISGID)) != 0 ? errno : Access_list::clear(priv);
    }
    if (error == 0) return 0;
    if (priv < 0 || error == folder_swapped) {
      // The folder made was not opened: it is removed where the renames
      // seen took it, if a folder of this user's stands there that is not
      // the one swapped in (which is not this process's to remove).
      const String at = moves.now_at(priv_name);
      struct stat now;
      if (!at.empty() && fstatat(parent, at.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISDIR(now.st_mode) && now.st_uid == geteuid() &&
          (priv < 0 || !Files::same_inode(now, st)))
        unlinkat(parent, at.c_str(), AT_REMOVEDIR);
    } else {
      remove_folder();
    }
    folder_watch.forget();
    close_fd(priv);
    priv_name.clear();
    return error;
  }

  // Removes the empty private folder: at its name while that is still the
  // folder held, else where another user moved it. One that stays is said
  // in left (not one already gone).
  void remove_folder() {
    String at, swapped;
    int error = 0;
    bool moved = !folder_in_place();
    if (!moved) {
      at = folder + "/" + priv_name;
      error = unlinkat(parent, priv_name.c_str(), AT_REMOVEDIR) == 0 ? 0 : errno;
      // Between the look and the removal by name another user may move the
      // folder and put one of theirs at its name. The folder held then
      // still has a name, and is removed where it went; an empty folder of
      // theirs is removed in its place (a folder is removed by name only),
      // which is said.
      struct stat st;
      const bool linked = priv >= 0 && fstat(priv, &st) == 0 && st.st_nlink > 0;
      if (error == 0 && linked)
        swapped = "another user moved its private folder, and the empty folder they put at " + at +
                  " was removed in its place";
      moved = linked && (error == 0 || !folder_in_place());
    }
    if (moved && priv >= 0) {
      at = folder_now();
      error = remove_moved(priv);
    }
    if (error != 0 && error != ENOENT && !at.empty())
      left = "its emptied private folder " + at + " cannot be removed: " + reason(error);
    if (!swapped.empty()) left = swapped + (left.empty() ? "" : "; " + left);
    folder_watch.forget();
    close_fd(priv);
    priv_name.clear();
  }
};

// One output's steps. Each step that can fail returns "" or why it failed
// (the text after "cannot write <target>: "); what the failure leaves is
// said by settle().
struct Output_file::State {
  State(const String& target, const String& who, const double lock_wait)
      : target(target), who(who), lock_wait(lock_wait), place(target) {}
  ~State() {
    cut_back();
    close_fd(out);
  }

  String target, who;
  double lock_wait;
  // The outputs it is one of, whose fates its failures say.
  Pending_outputs* pending = nullptr;
  Files::Output_place place;  // the one walk: the target's folder, its name, the file seen
  bool in_place = false;      // copied into the target rather than renamed over it
  New_content content;
  int out = -1;         // a copy's target, open for writing
  off_t old_size = -1;  // its length before room was made in it, while that room stands
  Copy_in_place copy;   // and its old content, kept where it can be
  // What became of the file (or the new one's name): a copy that failed
  // may leave it holding the new content (unflushed), that and the end of
  // its old content, or part of it.
  enum class File {
    as_it_was,
    longer,
    emptied,
    holds_new,
    new_then_old,
    part_written,
    replaced
  } file = File::as_it_was;

  bool placed() const { return file == File::replaced; }
  // Whether a copy has begun to overwrite the file: its new content is then
  // kept wherever its private folder went.
  bool overwritten() const {
    return file != File::as_it_was && file != File::longer && file != File::replaced;
  }
  // Fatal: the output failed (why), before it was put in place; the
  // message says what became of the other outputs it is put in place with.
  [[noreturn]] void cannot(const String& why) const {
    fail(who + ": cannot write " + (target.empty() ? String("''") : target) + ": " + why);
  }
  // Fatal: text, and what became of the other outputs.
  [[noreturn]] void fail(const String& text) const {
    fatal(text + (pending != nullptr ? pending->fates_besides(*this) : String()));
  }
  void warn(const String& what) const {
    Message::message(Message_warn(who.substr(0, who.find(':')) + ": warning: " + what));
  }

  // Judges the walk, chooses between a copy in place and a rename (see the
  // class), and makes the new content where it will go.
  void begin() {
    if (content.fd >= 0) return;
    if (const String why = Files::output_fault(place); !why.empty()) cannot(why);
    // Libraries that open the new content by name reach it through /proc.
    if (access("/proc/self/fd", X_OK) != 0) cannot("needs /proc, which is not mounted");
    Cleanup_on_signal::install();
    const bool closed = faccessat(place.dir(), ".", W_OK | X_OK, 0) != 0;
    if (place.exists())
      in_place = closed || Files::entry_rule(place.file(), place.folder()) == Files::Entry::kept ||
                 (place.file().st_nlink > 1 && !Files::shared_folder(place.folder()));
    if (in_place) {
      out = open(fd_path(place.file_fd()).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (out < 0) cannot(reason(errno));
      if (flock(out, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        warn("another process holds a lock on " + target +
             "; its output waits for it when the run ends");
      flock(out, LOCK_UN);
    }
    int error = closed ? EACCES : content.make(place.dir(), place.dir_path());
    if (error == 0) return;
    if (!in_place || (error != EACCES && error != EPERM)) cannot(reason_of(error));
    // The file's folder is closed to this process but the file is not: the
    // output is made elsewhere and copied into it.
    const char* const tmpdir = std::getenv("TMPDIR");
    for (const char* where : {tmpdir, "/tmp"}) {
      if (where == nullptr || *where == 0) continue;
      int fd = open(where, O_PATH | O_DIRECTORY | O_CLOEXEC);
      error = fd < 0 ? errno : content.make(fd, where);
      close_fd(fd);
      if (error == 0) return;
    }
    cannot("no temporary file can be made: " + reason_of(error));
  }

  // What can fail before the target is touched, but the room for a copy:
  // for a rename the new file's owner, permissions and list, from the file
  // seen when the output began (or its folder); for a copy the lock, held
  // from before the room is made to the last byte, waiting for one another
  // process holds (signals still end the process meanwhile). A lock call
  // that fails for another cause (ENOLCK on NFS without a lock service,
  // where no process can hold one; EIO) leaves the copy unlocked, with a
  // warning: the lock only has writers in place take turns, and no other
  // guard of the copy rests on it.
  String prepare() {
    if (!in_place) {
      const int error = place.exists() ? Access_list::carry_over(content.fd, place.file_fd())
                                       : Access_list::inherit(content.fd, place.dir());
      if (error == 0) return "";
      return (place.exists() ? "its new content cannot be given the file's owner, group, "
                               "permissions and access list: "
                             : "its new content cannot be given the access a file made in its "
                               "folder gets: ") +
             reason(error);
    }
    const auto start = std::chrono::steady_clock::now();
    for (bool told = false; flock(out, LOCK_EX | LOCK_NB) != 0;) {
      const int error = errno;
      if (error != EWOULDBLOCK && error != EINTR) {
        warn("cannot lock " + target + ": " + reason(error) +
             "; it is rewritten in place without a lock");
        return "";
      }
      const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - start;
      if (waited.count() >= lock_wait)
        return "another process holds a lock on it (waited " + String(int(lock_wait)) + " s)";
      if (!told && error == EWOULDBLOCK)
        warn("another process holds a lock on " + target + "; waiting for it, at most " +
             String(int(lock_wait)) + " s");
      told = told || error == EWOULDBLOCK;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return "";
  }

  // The new content named in the private folder where the output needs it:
  // to be renamed over a file, and as the kept copy of a rewrite in place,
  // on the disk before a byte of the file is overwritten. A new file is
  // linked at its name instead (check_name).
  String stage() {
    if (!in_place && !place.exists()) return "";
    int error = content.name();
    if (error == 0 && in_place && fsync(content.priv) != 0) error = errno;
    if (error == 0 && in_place) error = flush_entries(content.parent);
    if (error == 0) return "";
    return in_place ? "its new content cannot be kept while the file is rewritten in place: " +
                          reason_of(error)
                    : reason_of(error);
  }

  // Room for the whole new content in the file copied into.
  String reserve() {
    if (!in_place) return "";
    struct stat was, from;
    if (fstat(out, &was) != 0 || fstat(content.fd, &from) != 0) return reason(errno);
    old_size = was.st_size;
    const int error = copy.prepare(out, was.st_size, from.st_size, {place.dir(), content.parent});
    return error == 0 ? "" : reason(error);
  }

  // What stands at a renamed output's name now: the file seen at the start,
  // nothing, or an entry this process may rename over (from the private
  // folder, then). Another user's entry in a folder whose sticky bit keeps
  // it, and a folder, cannot be replaced.
  String check_name() {
    if (in_place) return "";
    struct stat now, folder;
    if (fstatat(place.dir(), place.name().c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0)
      return errno == ENOENT ? "" : reason(errno);
    if (place.exists() && Files::same_inode(now, place.file())) return "";
    if (fstat(place.dir(), &folder) != 0) return reason(errno);
    if (!Files::may_replace(now, folder)) {
      const String kind = S_ISDIR(now.st_mode)   ? "folder"
                          : S_ISLNK(now.st_mode) ? "link"
                          : S_ISREG(now.st_mode) ? "file"
                                                 : "entry";
      return (now.st_uid == geteuid() ? "a " : "another user's ") + kind +
             " stands at its name and cannot be replaced";
    }
    const int error = content.name();
    return error == 0 ? "" : reason_of(error);
  }

  String place_it() {
    const String why = in_place ? copy_into() : rename_over();
    if (!why.empty()) return why;
    file = File::replaced;
    content.remove();
    if (!content.left.empty()) warn(target + " is written, but " + content.left);
    return "";
  }

  // A new file is linked at the target's name; a named content is renamed
  // over whatever stands at the name now.
  String rename_over() {
    const int dir = place.dir();
    const char* name = place.name().c_str();
    if (!content.named) {
      if (linkat(AT_FDCWD, content.path.c_str(), dir, name, AT_SYMLINK_FOLLOW) == 0) return "";
      if (errno != EEXIST) return reason(errno);
      // The name was taken since it was looked at.
      if (const int error = content.name(); error != 0) return reason_of(error);
    }
    const int error = content.rename_to(dir, name);
    return error == 0 ? "" : reason(error);
  }

  // Copies the new content into the target, locked with room made and its
  // kept copy named, once that copy's folder is seen at its name: one
  // another user moved could not be named should the copy fail. A copy
  // that fails before its first byte is written leaves the file as it was,
  // the room given back; one that fails later gives the file its old
  // content back where a reflink of it was taken, else empties it rather
  // than leave it part-written.
  String copy_into() {
    if (const int error = content.folder_at_name(); error != 0) return reason_of(error);
    int in = open(content.path.c_str(), O_RDONLY | O_CLOEXEC);  // what the writer's name holds
    if (in < 0) return reason(errno);
    off_t copied = 0;
    int error = Copy_in_place::copy(in, out, copied);
    close_fd(in);
    const bool touched = error == 0 || copied > 0;
    if (touched) old_size = -1;  // the file's length is the copy's from now on
    // Set-id bits go as a write by an unprivileged process makes them go
    // (one that may not change the mode had them cleared by the write).
    const struct stat& old_st = place.file();
    if (error == 0 && (old_st.st_mode & (S_ISUID | S_ISGID)) != 0 &&
        fchmod(out, old_st.st_mode & 01777) != 0 && errno != EPERM)
      error = errno;
    if (error == 0 && fsync(out) != 0) error = errno;
    struct stat whole, now;
    if (!touched)
      cut_back();
    else if (error != 0)
      file = copy.restore(out)        ? File::as_it_was
             : ftruncate(out, 0) == 0 ? File::emptied
             : fstat(content.fd, &whole) != 0 || fstat(out, &now) != 0 || copied < whole.st_size
                 ? File::part_written
             : now.st_size == copied ? File::holds_new
                                     : File::new_then_old;
    close_fd(out);  // also ends the lock; the flush above carried every write
    return error == 0 ? "" : reason(error);
  }

  String flush_folder() {
    if (in_place) return "";
    const int error = flush_entries(place.dir());
    return error == 0 ? "" : "flushing its folder failed: " + reason(error);
  }

  // Cuts the file copied into back to its length, while the room made
  // stands: a reservation past its end goes too. Where the cut fails, the
  // file is longer only if the room grew it.
  void cut_back() {
    if (out < 0 || old_size < 0) return;
    struct stat now;
    file = ftruncate(out, old_size) == 0 || (fstat(out, &now) == 0 && now.st_size == old_size)
               ? File::as_it_was
               : File::longer;
    old_size = -1;
  }

  // Settles an output not put in place when the outputs fail: the room
  // made for its copy goes, and its new content, unless keep or it is kept
  // already. What became of it, for the failure's message: of the file
  // when own (the output that failed), else of the target named; and where
  // its new content is kept, or why it is lost where it was to be kept.
  String settle(const bool keep, const bool own) {
    cut_back();
    String lost;
    if (keep || content.kept)
      lost = content.keep(overwritten());
    else
      content.remove();
    const String fate = !place.exists()           ? "not written"
                        : file == File::as_it_was ? "left as it was"
                        : file == File::longer    ? "left as it was, but longer (zeros at its end)"
                        : file == File::emptied   ? "left empty"
                        : file == File::holds_new
                            ? "left holding the new content, not flushed to the disk"
                        : file == File::new_then_old
                            ? "left holding the new content, then the end of its old content"
                            : "left part-written";
    String text =
        own ? place.exists() ? "; the file is " + fate : String() : "; " + target + " is " + fate;
    const String of = own ? "; the new content" : ", its new content";
    if (content.kept)
      text += of + (own ? " is" : "") + " kept in " + content.kept_at() +
              (content.moved_to.empty() ? "" : " (another user moved its private folder there)");
    else if (!lost.empty())
      text += of + (own ? " is" : "") + " lost: " + lost;
    // A private folder left behind, as an output put in place warns of it.
    if (!content.kept && !content.left.empty()) text += (own ? "; " : ", ") + content.left;
    return text;
  }
};

namespace {

using States = std::vector<std::unique_ptr<Output_file::State>>;

States::iterator find(States& states, const String& target) {
  return std::find_if(states.begin(), states.end(),
                      [&](const auto& s) { return s->target == target; });
}

// Fatal: output at of outputs failed (why). Every output not put in place
// is settled, its new content kept when keep, and those put in place are
// named.
[[noreturn]] void failed(States& outputs, const std::size_t at, const String& why,
                         const bool keep) {
  Output_file::State& failing = *outputs[at];
  String text = failing.who + ": cannot write " + failing.target + ": " + why;
  if (!failing.placed()) text += failing.settle(keep, true);
  std::vector<String> replaced;
  for (const auto& s : outputs)
    if (s->placed())
      replaced.push_back(s->target);
    else if (s.get() != &failing)
      text += s->settle(keep, false);
  fatal(text + already_replaced(replaced));
}

// Takes each step for every output in turn; fatal at the first that
// fails, the new content kept when keep.
void take_steps(States& outputs, std::initializer_list<String (Output_file::State::*)()> steps,
                const bool keep) {
  for (const auto step : steps)
    for (std::size_t i = 0; i < outputs.size(); ++i)
      if (const String why = ((*outputs[i]).*step)(); !why.empty()) failed(outputs, i, why, keep);
}

// Puts the outputs in place as Pending_outputs::put_in_place says. From
// the look at their names on, a failure is one of putting outputs in
// place, and the new content of each not in place is kept.
void put_all(States outputs) {
  using State = Output_file::State;
  std::stable_partition(outputs.begin(), outputs.end(), [](const auto& s) { return s->in_place; });
  take_steps(outputs, {&State::prepare}, false);
  const Signals_held held;
  take_steps(outputs, {&State::stage, &State::reserve}, false);
  take_steps(outputs, {&State::check_name, &State::place_it, &State::flush_folder}, true);
}

}  // namespace

Output_file::Output_file(const String& target, const String& who, Pending_outputs* pending)
    : pending_(pending) {
  // The output begun for target when the run started, else one begun now.
  if (pending != nullptr)
    if (const auto it = find(pending->added_, target); it != pending->added_.end()) {
      state_ = std::move(*it);
      pending->added_.erase(it);
    }
  if (!state_) state_.reset(new State(target, who, pending ? pending->lock_wait_ : 60));
  state_->who = pending != nullptr ? pending->who() : who;
  state_->pending = pending;
  state_->begin();
}

Output_file::~Output_file() = default;

const String& Output_file::path() const { return state_->content.path; }

const Files::Output_place& Output_file::place() const { return state_->place; }

void Output_file::write(const String& bytes) {
  const int fd = open(path().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) write_failed(errno);
  const int error = System::write_all(fd, bytes.data(), bytes.size()) ? 0 : errno;
  if (close(fd) != 0 || error != 0) write_failed(error != 0 ? error : errno);
}

void Output_file::write_failed(const int error) const {
  String why = "writing its new content in " + state_->content.folder + " failed";
  // Only a reason that a failed write or open gives: the number may be stale.
  if (error == ENOSPC || error == EDQUOT || error == EFBIG || error == EIO || error == EMFILE ||
      error == ENFILE)
    why += ": " + reason(error);
  state_->cannot(why + state_->settle(false, true));
}

void Output_file::refuse(const String& text) const { state_->fail(text); }

void Output_file::commit() {
  // A write the system fails only at the flush (a full disk behind a cache,
  // a network filesystem) fails here. The content is on the disk before it
  // replaces the target, or stands as the kept copy of a rewrite in place.
  if (fsync(state_->content.fd) != 0) write_failed(errno);
  if (pending_ != nullptr) {
    pending_->held_.push_back(std::move(state_));
    return;
  }
  States one;
  one.push_back(std::move(state_));
  put_all(std::move(one));
}

Pending_outputs::Pending_outputs(const String& who, const double lock_wait)
    : who_(who), lock_wait_(lock_wait) {}

Pending_outputs::~Pending_outputs() = default;

const Files::Output_place& Pending_outputs::add(const String& target) {
  auto it = find(added_, target);
  if (it == added_.end()) {
    it = added_.emplace(it, new Output_file::State(target, who_, lock_wait_));
    (*it)->pending = this;
  }
  return (*it)->place;
}

void Pending_outputs::begin() {
  for (const auto& s : added_) s->begin();
}

void Pending_outputs::put_in_place() {
  States outputs = std::exchange(held_, {});
  std::vector<String> targets;
  for (const auto& s : outputs) targets.push_back(s->target);
  put_all(std::move(outputs));
  placed_.insert(placed_.end(), targets.begin(), targets.end());
}

String Pending_outputs::fates() const { return already_replaced(placed_); }

String Pending_outputs::fates_besides(const Output_file::State& failing) {
  String text;
  for (States* outputs : {&added_, &held_})
    for (const auto& s : *outputs)
      if (s.get() != &failing) text += s->settle(false, false);
  return text + already_replaced(placed_);
}

}  // namespace vantrel
