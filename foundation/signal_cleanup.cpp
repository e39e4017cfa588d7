#include "foundation/signal_cleanup.h"

#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <mutex>

namespace vantrel {

namespace {

constexpr int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int signal_count = sizeof(cleanup_signals) / sizeof(cleanup_signals[0]);

// Slot states: the handler reads only a slot marked in use, whose path was
// written whole before the mark.
enum : int { slot_free, slot_filling, slot_in_use };

struct Slot {
  std::atomic<int> state{slot_free};
  pid_t owner = 0;
  char path[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free, "the handler reads the states");

constexpr int slot_count = 16;
Slot slots[slot_count];

// The caller's dispositions, saved when the first file is watched; only
// signals left at the default are taken over.
std::mutex installing;
int watched = 0;
bool taken[signal_count] = {};
struct sigaction previous[signal_count];

void remove_watched(const int sig) {
  // Only calls that are safe in a signal handler from here on.
  const pid_t self = getpid();
  for (Slot& slot : slots)
    if (slot.state.load(std::memory_order_acquire) == slot_in_use && slot.owner == self)
      unlink(slot.path);
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

void take_signals() {
  for (int i = 0; i < signal_count; ++i) {
    if (sigaction(cleanup_signals[i], nullptr, &previous[i]) != 0) continue;
    if ((previous[i].sa_flags & SA_SIGINFO) != 0 || previous[i].sa_handler != SIG_DFL) continue;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = remove_watched;
    // The other two wait while the files are removed.
    sigemptyset(&action.sa_mask);
    for (const int sig : cleanup_signals) sigaddset(&action.sa_mask, sig);
    taken[i] = sigaction(cleanup_signals[i], &action, nullptr) == 0;
  }
}

void give_back_signals() {
  for (int i = 0; i < signal_count; ++i) {
    if (!taken[i]) continue;
    taken[i] = false;
    // A disposition the caller set meanwhile is the caller's to keep.
    struct sigaction now;
    if (sigaction(cleanup_signals[i], nullptr, &now) == 0 && (now.sa_flags & SA_SIGINFO) == 0 &&
        now.sa_handler == remove_watched)
      sigaction(cleanup_signals[i], &previous[i], nullptr);
  }
}

}  // namespace

void Cleanup_on_signal::watch(const String& path) {
  forget();
  String full = path;
  char dir[PATH_MAX];
  if (!path.empty() && path[0] != '/' && getcwd(dir, sizeof dir) != nullptr)
    full = String(dir) + "/" + path;
  if (path.empty() || full.size() >= PATH_MAX) return;
  const Signals_held held;
  for (int i = 0; i < slot_count && slot_ < 0; ++i) {
    int expected = slot_free;
    if (slots[i].state.compare_exchange_strong(expected, slot_filling)) slot_ = i;
  }
  if (slot_ < 0) return;
  Slot& slot = slots[slot_];
  std::memcpy(slot.path, full.c_str(), full.size() + 1);
  slot.owner = getpid();
  slot.state.store(slot_in_use, std::memory_order_release);
  const std::lock_guard<std::mutex> lock(installing);
  if (watched++ == 0) take_signals();
}

void Cleanup_on_signal::forget() {
  if (slot_ < 0) return;
  const Signals_held held;
  slots[slot_].state.store(slot_free, std::memory_order_release);
  slot_ = -1;
  const std::lock_guard<std::mutex> lock(installing);
  if (--watched == 0) give_back_signals();
}

Signals_held::Signals_held() {
  sigset_t block;
  sigemptyset(&block);
  for (const int sig : cleanup_signals) sigaddset(&block, sig);
  sigprocmask(SIG_BLOCK, &block, &previous_);
}

Signals_held::~Signals_held() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

}  // namespace vantrel
