// SPDX-License-Identifier: MIT
#include "io/signal_cleanup.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>

namespace {

// An interrupted run (Ctrl-C, kill, a closed terminal) removes its temporary
// files before it dies: the output's and a side file's may exist at once.
// The handler may run on any thread and uses only async-signal-safe calls:
// it reads paths kept in static storage, each written only while its slot
// is not armed. The spool file of a device output is tmpfile()'s, which has
// no name to remove.
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kCleanupSlots = 4;
enum : int { kSlotFree, kSlotClaimed, kSlotArmed };
struct CleanupSlot {
  char path[PATH_MAX + 1];
  std::atomic<int> state{kSlotFree};
};
CleanupSlot g_cleanup[kCleanupSlots];
static_assert(std::atomic<int>::is_always_lock_free);

void remove_temp_and_die(int sig) {
  for (CleanupSlot& slot : g_cleanup)
    if (slot.state.load(std::memory_order_acquire) == kSlotArmed) unlink(slot.path);
  // The default action of the same signal: the caller sees the interruption.
  signal(sig, SIG_DFL);
  raise(sig);
}

}  // namespace

bool install_signal_cleanup() {
  for (int sig : kCleanupSignals) {
    struct sigaction old {};
    // A signal the caller ignores (nohup) stays ignored.
    if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction sa {};
    sa.sa_handler = remove_temp_and_die;
    sigemptyset(&sa.sa_mask);
    for (int other : kCleanupSignals) sigaddset(&sa.sa_mask, other);
    sigaction(sig, &sa, nullptr);
  }
  return true;
}

int arm_signal_cleanup(const std::string& path) {
  if (path.size() > PATH_MAX) return -1;
  for (int i = 0; i < kCleanupSlots; ++i) {
    int expected = kSlotFree;
    if (!g_cleanup[i].state.compare_exchange_strong(expected, kSlotClaimed, std::memory_order_acq_rel)) continue;
    std::memcpy(g_cleanup[i].path, path.c_str(), path.size() + 1);
    g_cleanup[i].state.store(kSlotArmed, std::memory_order_release);
    return i;
  }
  return -1;
}

void disarm_signal_cleanup(int& slot) {
  if (slot >= 0) g_cleanup[slot].state.store(kSlotFree, std::memory_order_release);
  slot = -1;
}

CleanupSignalsBlocked::CleanupSignalsBlocked() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kCleanupSignals) sigaddset(&set, sig);
  pthread_sigmask(SIG_BLOCK, &set, &old);
}

CleanupSignalsBlocked::~CleanupSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &old, nullptr); }
