// ShutdownSignals: ends a program's main loop cleanly on SIGINT or SIGTERM.
//
// Construct it first in main(), before any thread starts, so that every thread inherits the
// blocked signals; then startWatching() waits for one on a thread of its own and stops the
// main loop, which lets main() close what it opened.
#pragma once

#include <signal.h>

namespace platform {

class ShutdownSignals {
 public:
  ShutdownSignals();
  ShutdownSignals(const ShutdownSignals&) = delete;
  ShutdownSignals& operator=(const ShutdownSignals&) = delete;

  // Starts the waiting thread (detached: it ends with the process).
  void startWatching();

 private:
  sigset_t set_{};
};

}  // namespace platform
