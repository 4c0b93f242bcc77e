// SaveReporter: saves a container's main context when asked, and keeps the user told while
// saves fail.
//
// A failed save leaves the changes in memory (the store is as before); the reporter then
// shows a lasting notice (platform::DataNotices, key kSaveFailureNoticeKey) that says what
// failed and that the changes are kept, and tries again in the background until a save goes
// through, which takes the notice away.
//
//   auto reporter = std::make_shared<SaveReporter>(container);
//   front.setCommit([reporter] { return reporter->saveNow(); });
//
// Threads: main thread.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/data/model_container.h"
#include "platform/dispatch/clock.h"

namespace platform {

inline constexpr const char* kSaveFailureNoticeKey = "store.save";

class SaveReporter : public std::enable_shared_from_this<SaveReporter> {
 public:
  explicit SaveReporter(std::shared_ptr<ModelContainer> container,
                        Duration retryInterval = std::chrono::seconds(2));

  // Saves what is pending. Nothing when everything is saved; else what failed, as the user
  // reads it.
  std::optional<std::string> saveNow();
  bool failing() const { return failing_; }

 private:
  void scheduleRetry();

  std::shared_ptr<ModelContainer> container_;
  Duration retryInterval_;
  bool failing_ = false;
  bool retryScheduled_ = false;
};

// The sentence a failed save shows the user, for a reason such as "the disk is full".
std::string saveFailureMessage(const std::string& reason);

}  // namespace platform
