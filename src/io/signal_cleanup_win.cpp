// SPDX-License-Identifier: MIT
// The Windows side of signal_cleanup.h: a console control handler. Windows
// runs it on a thread of its own; it removes the armed paths and returns
// FALSE, so the next handler (the system's, which ends the process) runs.
#include <windows.h>

#include <atomic>
#include <string>

#include "io/signal_cleanup.h"
#include "io/win_path.h"

namespace {

constexpr int kCleanupSlots = 4;
constexpr size_t kPathMax = 32768;
enum : int { kSlotFree, kSlotClaimed, kSlotArmed };
struct CleanupSlot {
  wchar_t path[kPathMax];
  std::atomic<int> state{kSlotFree};
};
CleanupSlot g_cleanup[kCleanupSlots];

BOOL WINAPI remove_temp_files(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      for (CleanupSlot& slot : g_cleanup)
        if (slot.state.load(std::memory_order_acquire) == kSlotArmed) DeleteFileW(slot.path);
      break;
    default:
      break;
  }
  return FALSE;
}

}  // namespace

bool install_signal_cleanup() { return SetConsoleCtrlHandler(remove_temp_files, TRUE) != 0; }

int arm_signal_cleanup(const std::string& path) {
  const std::wstring w = wide_from_utf8(path);
  if (w.size() >= kPathMax) return -1;
  for (int i = 0; i < kCleanupSlots; ++i) {
    int expected = kSlotFree;
    if (!g_cleanup[i].state.compare_exchange_strong(expected, kSlotClaimed, std::memory_order_acq_rel)) continue;
    w.copy(g_cleanup[i].path, w.size());
    g_cleanup[i].path[w.size()] = L'\0';
    g_cleanup[i].state.store(kSlotArmed, std::memory_order_release);
    return i;
  }
  return -1;
}

void disarm_signal_cleanup(int& slot) {
  if (slot >= 0) g_cleanup[slot].state.store(kSlotFree, std::memory_order_release);
  slot = -1;
}

CleanupSignalsBlocked::CleanupSignalsBlocked() = default;
CleanupSignalsBlocked::~CleanupSignalsBlocked() = default;
