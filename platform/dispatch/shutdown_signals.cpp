#include "platform/dispatch/shutdown_signals.h"

#include <pthread.h>

#include <thread>

#include "platform/dispatch/queue.h"
#include "platform/dispatch/thread_labels.h"

namespace platform {

ShutdownSignals::ShutdownSignals() {
  sigemptyset(&set_);
  sigaddset(&set_, SIGINT);
  sigaddset(&set_, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set_, nullptr);
}

void ShutdownSignals::startWatching() {
  std::thread([set = set_] {
    ThreadEntered();
    int received = 0;
    sigwait(&set, &received);
    DispatchQueue::main()->async([] { MainLoop::stop(); });
  }).detach();
}

}  // namespace platform
