#include "system/output_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <random>
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

const String left_as_it_was = "; the file is left as it was";

// make_private's answer when the folder it opened is not the one it made.
constexpr int folder_swapped = -1;

String reason_of(const int error) {
  return error == folder_swapped
             ? "the folder made for its new content was replaced by another process"
             : reason(error);
}

// A name for the instant between a link and a rename, or for new content
// kept after a failure: hidden, and random so that no other process
// guesses it.
String hidden_name() { return ".output." + std::to_string(std::random_device{}()); }

}  // namespace

// One output's steps. Each step that can fail returns "" or why it failed
// (the text after "cannot write <target>: ").
struct Output_file::State {
  State(const String& target, const String& who, const double lock_wait)
      : target(target), who(who), lock_wait(lock_wait), place(target) {}
  ~State() {
    abandon();
    file_watch.forget();  // before the folders they name entries in are closed
    folder_watch.forget();
    for (int* fd : {&content, &parent, &priv, &out}) close_fd(*fd);
  }

  String target, who;
  double lock_wait;
  Files::Output_place place;  // the one walk: the target's folder, its name, the file seen
  bool in_place = false;      // copied into the target rather than renamed over it
  int content = -1;           // the new content, open to read and write; -1 until begun
  String path;                // its name through /proc
  String folder;              // the folder it is made in, for messages
  int parent = -1;            // and held
  // Where the filesystem makes no unnamed files: the private folder
  // (priv, named priv_name in parent) that holds the content as "new".
  String priv_name;
  int priv = -1;
  Cleanup_on_signal file_watch, folder_watch;
  String kept_at;         // where the content is left for the user, if it is
  int out = -1;           // a copy's target, open for writing
  off_t grown_from = -1;  // its size before room was made in it, while that room stands
  Copy_in_place copy;     // and its old content, kept where it can be
  bool placed = false;

  [[noreturn]] void cannot(const String& why) const {
    fatal(who + ": cannot write " + target + ": " + why);
  }
  String because(const int error) const {
    return reason(error) + (place.exists() ? left_as_it_was : "");
  }
  int open_new(const int flags) const { return open(path.c_str(), flags | O_CLOEXEC); }
  void warn_locked(const String& when) const {
    Message::message(Message_warn(who + ": another process holds a lock on " + target + when));
  }

  // Judges the walk, chooses between a copy in place and a rename (see the
  // class), and makes the new content where it will go.
  void begin() {
    if (content >= 0) return;
    Files::check_output(place, who);
    // Libraries that open the new content by name reach it through /proc.
    if (access("/proc/self/fd", X_OK) != 0) cannot("needs /proc, which is not mounted");
    Cleanup_on_signal::install();
    const bool closed = faccessat(place.dir(), ".", W_OK | X_OK, 0) != 0;
    if (place.exists()) {
      const Files::Entry rule = Files::entry_rule(place.file(), place.folder());
      const bool names = place.file().st_nlink > 1, shared = Files::shared_folder(place.folder());
      if (!closed && names && shared && rule == Files::Entry::kept)
        cannot("the file has another name, and the sticky bit of its folder " + place.dir_path() +
               " keeps it from being replaced (which would break the link)");
      in_place = closed || rule == Files::Entry::kept || (names && !shared);
    }
    if (in_place) {
      out = open(fd_path(place.file_fd()).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (out < 0) cannot(reason(errno));
      if (flock(out, LOCK_EX | LOCK_NB) != 0)
        warn_locked("; its output waits for it when the run ends");
      flock(out, LOCK_UN);
    }
    int error = closed ? EACCES : make_content(place.dir(), place.dir_path());
    if (error == 0) return;
    if (!in_place || (error != EACCES && error != EPERM)) cannot(reason_of(error));
    // The file's folder is closed to this process but the file is not: the
    // output is made elsewhere and copied into it.
    const char* const tmpdir = std::getenv("TMPDIR");
    for (const char* where : {tmpdir, "/tmp"}) {
      if (where == nullptr || *where == 0) continue;
      int fd = open(where, O_PATH | O_DIRECTORY | O_CLOEXEC);
      error = fd < 0 ? errno : make_content(fd, where);
      close_fd(fd);
      if (error == 0) return;
    }
    cannot("no temporary file can be made: " + reason_of(error));
  }

  // Makes the new content in the folder open as in (in_path its name for
  // messages), held with that folder (parent): a file without a name, or
  // where the filesystem makes none, the file "new" in a private folder,
  // reached by name through the folder. 0, or the error number (or
  // folder_swapped), and then nothing made is left and nothing held.
  int make_content(const int in, const String& in_path) {
    folder = in_path;
    content = openat(in, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (content < 0 && (errno == EOPNOTSUPP || errno == EISDIR)) return make_private(in);
    path = fd_path(content);
    // The folder's default list reached the new file: a replaced file gets
    // its own list, a new one its folder's (at prepare).
    const int error = content < 0 || (parent = fcntl(in, F_DUPFD_CLOEXEC, 0)) < 0
                          ? errno
                          : Access_list::clear(content);
    if (error != 0)
      for (int* fd : {&content, &parent}) close_fd(*fd);
    return error;
  }

  // Makes the private folder in the folder open as in, and the new content
  // in it (seal_private).
  int make_private(const int in) {
    const Signals_held held;  // made and watched as one step
    String made = fd_path(in) + "/.output.XXXXXX";
    if (mkdtemp(&made[0]) == nullptr) return errno;
    priv_name = made.substr(made.rfind('/') + 1);
    parent = fcntl(in, F_DUPFD_CLOEXEC, 0);
    if (parent >= 0)
      priv = openat(parent, priv_name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    int error = priv < 0 || fstat(priv, &st) != 0 ? errno : 0;
    // Only the folder mkdtemp made is this user's and closed to others: in a
    // folder others may write, another user may have put one in its place,
    // where nothing is changed.
    if (error == 0 && (st.st_uid != geteuid() || !S_ISDIR(st.st_mode) || (st.st_mode & 077) != 0))
      error = folder_swapped;
    if (error == 0) error = seal_private();
    if (error == 0) return 0;
    if (priv >= 0 && error != folder_swapped)
      remove_private();
    else if (priv < 0)  // nothing but the empty folder was made
      unlinkat(parent >= 0 ? parent : in, priv_name.c_str(), AT_REMOVEDIR);
    close_fd(priv);
    close_fd(parent);
    kept_at.clear();  // a folder that could not be removed is no longer this output's
    return error;
  }

  // Watches the private folder, closes it to other users and makes the empty
  // new content in it, watched too: 0 or the error number. An access list
  // inherited from the folder it is in would reach its files; a set-group-ID
  // bit it inherited stays, so that the new file gets the group a file made
  // in that folder gets.
  int seal_private() {
    folder_watch.watch_folder(parent, priv_name, priv);
    struct stat st;
    if (fstat(priv, &st) != 0 || fchmod(priv, 0700 | (st.st_mode & S_ISGID)) != 0) return errno;
    if (const int error = Access_list::clear(priv); error != 0) return error;
    content = openat(priv, "new", O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (content < 0) return errno;
    file_watch.watch(priv, "new");
    path = fd_path(priv) + "/new";
    return 0;
  }

  // Removes the new content and the private folder (while its name is still
  // the folder held), unless kept; true when nothing is left.
  bool remove_private() {
    if (priv < 0 || !kept_at.empty()) return priv < 0;
    bool gone = unlinkat(priv, "new", 0) == 0 || errno == ENOENT;
    struct stat st, now;
    if (fstat(priv, &st) == 0 &&
        fstatat(parent, priv_name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
        Files::same_inode(st, now))
      gone = unlinkat(parent, priv_name.c_str(), AT_REMOVEDIR) == 0 && gone;
    if (!gone) keep();
    return gone;
  }

  // Leaves the new content for the user, also should a signal end the
  // process later: where it is kept, or "" when it cannot be (a file without
  // a name is linked into its folder under a hidden name).
  String keep() {
    file_watch.forget();
    folder_watch.forget();
    const String name = priv >= 0 ? priv_name + "/new" : hidden_name();
    if (kept_at.empty() &&
        (priv >= 0 || linkat(AT_FDCWD, path.c_str(), parent, name.c_str(), AT_SYMLINK_FOLLOW) == 0))
      kept_at = folder + "/" + name;
    return kept_at;
  }

  // Gives up an output not put in place: the room made for a copy goes, and
  // so does the new content; true when nothing is left.
  bool abandon() {
    if (out >= 0 && grown_from >= 0 && ftruncate(out, grown_from) == 0) grown_from = -1;
    return kept_at.empty() && remove_private();
  }

  // What can fail before the target is touched, but the room for a copy:
  // for a rename the new file's owner, permissions and list, from the file
  // seen when the output began (or its folder); for a copy the lock, held
  // from before the room is made to the last byte, waiting for one another
  // process holds (signals still end the process meanwhile).
  String prepare() {
    if (!in_place) {
      const int error = place.exists() ? Access_list::carry_over(content, place.file_fd())
                                       : Access_list::inherit(content, place.dir());
      return error == 0 ? "" : because(error);
    }
    const auto start = std::chrono::steady_clock::now();
    for (bool told = false; flock(out, LOCK_EX | LOCK_NB) != 0; told = true) {
      if (errno != EWOULDBLOCK && errno != EINTR) return because(errno);
      const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - start;
      if (waited.count() >= lock_wait)
        return "another process holds a lock on it (waited " + String(int(lock_wait)) + " s)" +
               left_as_it_was;
      if (!told) warn_locked("; waiting for it, at most " + String(int(lock_wait)) + " s");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return "";
  }

  // Room for the whole new content in the file copied into.
  String reserve() {
    if (!in_place) return "";
    struct stat was, from;
    if (fstat(out, &was) != 0 || fstat(content, &from) != 0) return because(errno);
    const String why = copy.prepare(out, was.st_size, from.st_size, {place.dir(), parent});
    if (!why.empty()) return why + left_as_it_was;
    grown_from = was.st_size;
    return "";
  }

  String place_it() {
    const String why = in_place ? copy_into() : rename_over();
    placed = why.empty();
    if (placed) remove_private();
    return why;
  }

  // A new file is linked at the target's name, else linked under a hidden
  // name and renamed over whatever stands at the name now.
  String rename_over() {
    const int dir = place.dir();
    const char* name = place.name().c_str();
    if (priv >= 0) return renameat(priv, "new", dir, name) == 0 ? "" : because(errno);
    if (!place.exists() && linkat(AT_FDCWD, path.c_str(), dir, name, AT_SYMLINK_FOLLOW) == 0)
      return "";
    if (!place.exists() && errno != EEXIST) return because(errno);
    const String hidden = hidden_name();
    if (linkat(AT_FDCWD, path.c_str(), dir, hidden.c_str(), AT_SYMLINK_FOLLOW) != 0)
      return because(errno);
    if (renameat(dir, hidden.c_str(), dir, name) == 0) return "";
    const int error = errno;
    unlinkat(dir, hidden.c_str(), 0);
    return because(error);
  }

  // Copies the new content into the target, locked with room made. The whole
  // new content is named until the copy is done, so that a kill or a crash
  // meanwhile leaves it for the user.
  String copy_into() {
    const String at = keep();
    int in = open_new(O_RDONLY);
    if (in < 0) return because(errno);
    const int error = Copy_in_place::copy(in, out);
    String why = error == 0 ? "" : reason(error);
    close_fd(in);
    // Set-id bits go as a write by an unprivileged process makes them go
    // (one that may not change the mode had them cleared by the write).
    const struct stat& old_st = place.file();
    if (why.empty() && (old_st.st_mode & (S_ISUID | S_ISGID)) != 0 &&
        fchmod(out, old_st.st_mode & 01777) != 0 && errno != EPERM)
      why = reason(errno);
    if (why.empty() && fsync(out) != 0) why = reason(errno);
    const bool restored = !why.empty() && copy.restore(out);
    if (!why.empty() && !restored && ftruncate(out, 0) != 0) why += " (left part-written)";
    if (close(out) != 0 && why.empty()) why = reason(errno);  // also ends the lock
    out = -1;
    // Given back, the old content stands as it was: nothing is kept.
    const bool done = why.empty() || restored;
    if (done && priv < 0 && !at.empty()) unlinkat(parent, at.substr(folder.size() + 1).c_str(), 0);
    if (done) kept_at.clear();
    if (restored) return why + left_as_it_was;
    return why.empty() || at.empty() ? why : why + "; the new content is kept in " + at;
  }

  // A folder this user may not read cannot be flushed; the rename stands.
  String flush_folder() {
    if (in_place) return "";
    int dir = openat(place.dir(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int error = dir < 0 ? (errno == EACCES ? 0 : errno) : fsync(dir) != 0 ? errno : 0;
    close_fd(dir);
    return error == 0 ? "" : "flushing its folder failed: " + reason(error);
  }
};

namespace {

using States = std::vector<std::unique_ptr<Output_file::State>>;

States::iterator find(States& states, const String& target) {
  return std::find_if(states.begin(), states.end(),
                      [&](const auto& s) { return s->target == target; });
}

// Fatal: output at of outputs failed (why); every output not put in place
// is removed, or where it is kept is said, and those put in place are named.
[[noreturn]] void failed(States& outputs, const std::size_t at, const String& why) {
  String text = outputs[at]->who + ": cannot write " + outputs[at]->target + ": " + why;
  String replaced;
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    Output_file::State& s = *outputs[i];
    if (s.placed) {
      replaced += (replaced.empty() ? "" : ", ") + s.target;
    } else if (!s.abandon() && why.find(s.keep()) == String::npos) {
      text += "; the new content" + (i == at ? String() : " of " + s.target) + " is kept in " +
              s.keep();
    }
  }
  if (!replaced.empty()) text += "; already replaced: " + replaced;
  fatal(text);
}

// Takes each step for every output in turn; fatal at the first that fails.
void take_steps(States& outputs, std::initializer_list<String (Output_file::State::*)()> steps) {
  for (const auto step : steps)
    for (std::size_t i = 0; i < outputs.size(); ++i)
      if (const String why = ((*outputs[i]).*step)(); !why.empty()) failed(outputs, i, why);
}

// Puts the outputs in place as Pending_outputs::put_in_place says.
void put_all(States outputs) {
  using State = Output_file::State;
  std::stable_partition(outputs.begin(), outputs.end(), [](const auto& s) { return s->in_place; });
  take_steps(outputs, {&State::prepare});
  const Signals_held held;
  take_steps(outputs, {&State::reserve, &State::place_it, &State::flush_folder});
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
  state_->who = who;
  state_->begin();
}

Output_file::~Output_file() = default;

const String& Output_file::path() const { return state_->path; }

const Files::Output_place& Output_file::place() const { return state_->place; }

void Output_file::write(const String& bytes) {
  const int fd = state_->open_new(O_WRONLY | O_TRUNC);
  if (fd < 0) write_failed(errno);
  const int error = System::write_all(fd, bytes.data(), bytes.size()) ? 0 : errno;
  if (close(fd) != 0 || error != 0) write_failed(error != 0 ? error : errno);
}

void Output_file::write_failed(const int error) const {
  String why = "writing its new content in " + state_->folder + " failed";
  // Only a reason that a failed write or open gives: the number may be stale.
  if (error == ENOSPC || error == EDQUOT || error == EFBIG || error == EIO || error == EMFILE ||
      error == ENFILE)
    why += ": " + reason(error);
  state_->cannot(why + (state_->place.exists() ? left_as_it_was : ""));
}

void Output_file::commit() {
  // A write the system fails only at the flush (a full disk behind a cache,
  // a network filesystem) fails here; a copy in place flushes the target.
  if (!state_->in_place && fsync(state_->content) != 0) write_failed(errno);
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
  if (it == added_.end()) it = added_.emplace(it, new Output_file::State(target, who_, lock_wait_));
  return (*it)->place;
}

void Pending_outputs::begin() {
  for (const auto& s : added_) s->begin();
}

void Pending_outputs::put_in_place() { put_all(std::exchange(held_, {})); }

}  // namespace vantrel
