#include "system/signal_cleanup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>

namespace vantrel {

namespace {

// The signals of the header, the real-time ones counted at run time
// (SIGRTMIN leaves out those the C library keeps for itself).
sigset_t ending_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int sig : {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGALRM, SIGTERM, SIGUSR1, SIGUSR2,
                        SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGSTKFLT, SIGPWR, SIGIO})
    sigaddset(&set, sig);
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) sigaddset(&set, sig);
  return set;
}

// Slot states: the handler reads only a slot marked in use, whose fields
// were written whole before the mark.
enum : int { slot_free, slot_filling, slot_in_use };

struct Slot {
  std::atomic<int> state{slot_free};
  pid_t owner = 0;
  int dir = -1;
  bool folder = false;
  dev_t dev = 0;  // a folder's, to remove it only while the name holds it
  ino_t ino = 0;
  char name[NAME_MAX + 1];
};
static_assert(std::atomic<int>::is_always_lock_free, "the handler reads the states");

constexpr int slot_count = 32;
Slot slots[slot_count];

void remove_watched(const int sig) {
  // Only calls that are safe in a signal handler from here on. Files go
  // first, then the folders that held them, inner ones before outer ones:
  // passes until one removes nothing.
  const pid_t self = getpid();
  const auto mine = [self](const Slot& slot) {
    return slot.state.load(std::memory_order_acquire) == slot_in_use && slot.owner == self;
  };
  for (Slot& slot : slots)
    if (mine(slot) && !slot.folder) unlinkat(slot.dir, slot.name, 0);
  for (bool removed = true; removed;) {
    removed = false;
    for (Slot& slot : slots) {
      struct stat st;
      if (mine(slot) && slot.folder &&
          fstatat(slot.dir, slot.name, &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == slot.dev &&
          st.st_ino == slot.ino && unlinkat(slot.dir, slot.name, AT_REMOVEDIR) == 0)
        removed = true;
    }
  }
  signal(sig, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, sig);
  raise(sig);  // pending while the handler runs, delivered once unblocked
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
}

// The process that installed the handlers: a child forked since installs
// them again at its first watch, for dispositions it may have set meanwhile.
std::atomic<pid_t> installed_in{0};

}  // namespace

void Cleanup_on_signal::take_slot(const int dir_fd, const String& name, const bool folder,
                                  const int folder_fd) {
  forget();
  struct stat st;
  if (name.empty() || name.size() > NAME_MAX || (folder && fstat(folder_fd, &st) != 0)) return;
  for (int i = 0; i < slot_count && slot_ < 0; ++i) {
    int expected = slot_free;
    if (slots[i].state.compare_exchange_strong(expected, slot_filling)) slot_ = i;
  }
  if (slot_ < 0) return;
  Slot& slot = slots[slot_];
  std::memcpy(slot.name, name.c_str(), name.size() + 1);
  slot.owner = getpid();
  slot.dir = dir_fd;
  slot.folder = folder;
  slot.dev = folder ? st.st_dev : 0;
  slot.ino = folder ? st.st_ino : 0;
  slot.state.store(slot_in_use, std::memory_order_release);
  install();
}

// A handler for each signal left at its default disposition (SIGXFSZ is
// ignored instead), the others waiting while it removes the entries.
void Cleanup_on_signal::install() {
  const pid_t self = getpid();
  if (installed_in.load() == self) return;  // threads that race install the same
  struct sigaction action = {};
  action.sa_mask = ending_signals();
  for (int sig = 1; sig < NSIG; ++sig) {
    struct sigaction now;
    if (!sigismember(&action.sa_mask, sig) || sigaction(sig, nullptr, &now) != 0 ||
        (now.sa_flags & SA_SIGINFO) != 0 || now.sa_handler != SIG_DFL)
      continue;
    action.sa_handler = sig == SIGXFSZ ? SIG_IGN : remove_watched;
    sigaction(sig, &action, nullptr);
  }
  installed_in.store(self);
}

void Cleanup_on_signal::forget() {
  if (slot_ < 0) return;
  slots[slot_].state.store(slot_free, std::memory_order_release);
  slot_ = -1;
}

Signals_held::Signals_held() {
  sigset_t block = ending_signals();
  // Not SIGXFSZ: where the caller has it end the process, it does so at
  // once, as a file size limit's signal would.
  sigdelset(&block, SIGXFSZ);
  sigprocmask(SIG_BLOCK, &block, &previous_);
}

Signals_held::~Signals_held() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

}  // namespace vantrel
