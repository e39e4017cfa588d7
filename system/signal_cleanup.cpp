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
constexpr int max_signals = 64;

int cleanup_signals(int (&list)[max_signals]) {
  int n = 0;
  for (const int sig : {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGALRM, SIGTERM, SIGUSR1, SIGUSR2,
                        SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF,
#ifdef SIGSTKFLT
                        SIGSTKFLT,
#endif
#ifdef SIGPWR
                        SIGPWR,
#endif
                        SIGIO})
    list[n++] = sig;
  for (int sig = SIGRTMIN; sig <= SIGRTMAX && n < max_signals; ++sig) list[n++] = sig;
  return n;
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
  for (Slot& slot : slots)
    if (slot.state.load(std::memory_order_acquire) == slot_in_use && slot.owner == self &&
        !slot.folder)
      unlinkat(slot.dir, slot.name, 0);
  for (bool removed = true; removed;) {
    removed = false;
    for (Slot& slot : slots) {
      struct stat st;
      if (slot.state.load(std::memory_order_acquire) == slot_in_use && slot.owner == self &&
          slot.folder && fstatat(slot.dir, slot.name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
          st.st_dev == slot.dev && st.st_ino == slot.ino &&
          unlinkat(slot.dir, slot.name, AT_REMOVEDIR) == 0)
        removed = true;
    }
  }
  struct sigaction dfl;
  std::memset(&dfl, 0, sizeof dfl);
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, sig);
  raise(sig);  // pending while the handler runs, delivered once unblocked
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
}

// Installs the handler for each signal left at its default disposition
// (SIGXFSZ is ignored instead); they stay installed.
void install_handlers() {
  int signals[max_signals];
  const int n = cleanup_signals(signals);
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  // The others wait while the entries are removed.
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < n; ++i) sigaddset(&action.sa_mask, signals[i]);
  for (int i = 0; i < n; ++i) {
    struct sigaction now;
    if (sigaction(signals[i], nullptr, &now) != 0 || (now.sa_flags & SA_SIGINFO) != 0 ||
        now.sa_handler != SIG_DFL)
      continue;
    action.sa_handler = signals[i] == SIGXFSZ ? SIG_IGN : remove_watched;
    sigaction(signals[i], &action, nullptr);
  }
}

// The process that installed them: a child forked since installs them
// again at its first watch, for dispositions it may have set meanwhile.
std::atomic<pid_t> installed_in{0};

}  // namespace

void Cleanup_on_signal::watch(const int dir_fd, const String& name) {
  take_slot(dir_fd, name, false, -1);
}

void Cleanup_on_signal::watch_folder(const int dir_fd, const String& name, const int folder_fd) {
  take_slot(dir_fd, name, true, folder_fd);
}

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

void Cleanup_on_signal::install() {
  const pid_t self = getpid();
  if (installed_in.load() != self) {  // threads that race install the same
    install_handlers();
    installed_in.store(self);
  }
}

void Cleanup_on_signal::forget() {
  if (slot_ < 0) return;
  slots[slot_].state.store(slot_free, std::memory_order_release);
  slot_ = -1;
}

Signals_held::Signals_held() {
  int list[max_signals];
  const int n = cleanup_signals(list);
  sigset_t block;
  sigemptyset(&block);
  // Not SIGXFSZ: where the caller has it end the process, it does so at
  // once, as a file size limit's signal would.
  for (int i = 0; i < n; ++i)
    if (list[i] != SIGXFSZ) sigaddset(&block, list[i]);
  sigprocmask(SIG_BLOCK, &block, &previous_);
}

Signals_held::~Signals_held() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

}  // namespace vantrel
