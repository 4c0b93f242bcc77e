// Saving with the failure told: the one way the screens' own saves and the save after each
// posted action save the store.
//
// saveReportingFailure(context) saves what is pending. When the save fails it prints one line
// on standard output, "Error saving: " and the error's description, and shows a lasting
// notice (platform::DataNotices, key kSaveFailureNoticeKey) that says what failed and that
// the changes are kept; memory keeps the changes (the store is as before) and the next save
// writes them. The first save that goes through takes the notice away. The automatic saves of
// a context show and take away the same notice (their console line goes to standard error).
//
// SaveReporter saves a container's main context the same way when asked and, while saves
// fail, tries again in the background until one goes through.
//
//   if (!platform::saveReportingFailure(context).ok()) return;     // the user has been told
//
//   auto reporter = std::make_shared<SaveReporter>(container);
//   front.setCommit([reporter] { return reporter->saveNow(); });
//
// Threads: main thread.
#pragma once

#include <memory>
#include <string>

#include "platform/data/model_container.h"
#include "platform/dispatch/clock.h"
#include "platform/foundation/expected.h"

namespace platform {

inline constexpr const char* kSaveFailureNoticeKey = "store.save";

// Saves `context`, telling the user of a failure as above. Answers the save's own status.
Status saveReportingFailure(ModelContext& context);

// Shows the notice of a failed save, or takes it away after one that went through.
void showSaveOutcome(const Status& saved);

class SaveReporter : public std::enable_shared_from_this<SaveReporter> {
 public:
  explicit SaveReporter(std::shared_ptr<ModelContainer> container,
                        Duration retryInterval = std::chrono::seconds(2));

  // Saves what is pending through saveReportingFailure. On failure the error is described
  // as the user reads it (saveFailureMessage) and a retry is scheduled.
  Status saveNow();
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
