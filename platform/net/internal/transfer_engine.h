// The libcurl engine behind every URLSession: one thread driving a curl multi handle.
//
// Sessions hand it tasks (start, cancel); everything else happens on the engine thread:
// building the easy handle, idle time-outs, redirects (asking the session's delegate on
// its queue), and completing the task, whose handler is posted to the delegate queue.
// The engine lives for the whole process and is never destroyed.
#pragma once

#include <memory>

namespace platform {
class URLSessionTask;
}

namespace platform::net_internal {

class TransferEngine {
 public:
  static TransferEngine& instance();

  // Starts a task that was just resumed.
  void start(std::shared_ptr<URLSessionTask> task);
  // Cancels a running task; a task that already completed is left alone.
  void cancel(std::shared_ptr<URLSessionTask> task);

 private:
  TransferEngine();
  struct State;
  State* state_;
};

}  // namespace platform::net_internal
