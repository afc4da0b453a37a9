// SPDX-License-Identifier: MIT
// Temporary files removed when a run is interrupted (Ctrl-C, kill, a closed
// terminal): SIGINT, SIGTERM and SIGHUP remove every armed path, then the
// process dies of the same signal. A signal the caller ignores (nohup) stays
// ignored. On Windows a console control handler (Ctrl-C, Ctrl-Break, the
// console closed) removes them, then the run ends as it would have
// (signal_cleanup_win.cpp).
#pragma once

#ifndef _WIN32
#include <signal.h>
#endif

#include <string>

// Installs the handlers; called once, before the first temporary file.
bool install_signal_cleanup();

// The slot that now removes path on a signal, or -1 when none is free.
int arm_signal_cleanup(const std::string& path);
// Frees the slot (and sets it to -1); only once the path is gone.
void disarm_signal_cleanup(int& slot);

// Blocks the cleanup signals in this thread while a temporary file is made
// and armed, so none lands between the two. (Nothing on Windows: the handler
// runs on a thread of its own, and a file made but not yet armed is left.)
struct CleanupSignalsBlocked {
#ifndef _WIN32
  sigset_t old;
#endif
  CleanupSignalsBlocked();
  ~CleanupSignalsBlocked();
  CleanupSignalsBlocked(const CleanupSignalsBlocked&) = delete;
  CleanupSignalsBlocked& operator=(const CleanupSignalsBlocked&) = delete;
};
