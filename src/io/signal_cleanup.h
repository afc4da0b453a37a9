// Temporary files removed when a run is interrupted (Ctrl-C, kill, a closed
// terminal): SIGINT, SIGTERM and SIGHUP remove every armed path, then the
// process dies of the same signal. A signal the caller ignores (nohup) stays
// ignored.
#pragma once

#include <signal.h>

#include <string>

// Installs the handlers; called once, before the first temporary file.
bool install_signal_cleanup();

// The slot that now removes path on a signal, or -1 when none is free.
int arm_signal_cleanup(const std::string& path);
// Frees the slot (and sets it to -1); only once the path is gone.
void disarm_signal_cleanup(int& slot);

// Blocks the cleanup signals in this thread while a temporary file is made
// and armed, so none lands between the two.
struct CleanupSignalsBlocked {
  sigset_t old;
  CleanupSignalsBlocked();
  ~CleanupSignalsBlocked();
  CleanupSignalsBlocked(const CleanupSignalsBlocked&) = delete;
  CleanupSignalsBlocked& operator=(const CleanupSignalsBlocked&) = delete;
};
