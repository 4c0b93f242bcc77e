#include "platform/data/save_reporter.h"

#include <iostream>

#include "platform/dispatch/queue.h"
#include "platform/foundation/data_notices.h"

namespace platform {

std::string saveFailureMessage(const std::string& reason) {
  std::string text = reason;
  if (!text.empty() && text.back() == '.') text.pop_back();
  return "Your latest changes are not saved yet: " + text +
         ". Brivel keeps them and tries again every few seconds; this message goes away once they are saved.";
}

void showSaveOutcome(const Status& saved) {
  DataNotices& notices = DataNotices::shared();
  if (saved.ok()) {
    if (notices.has(kSaveFailureNoticeKey)) notices.clear(kSaveFailureNoticeKey);
    return;
  }
  // Set once per run of failures: every notice set is also written to standard error.
  if (!notices.has(kSaveFailureNoticeKey)) {
    notices.set(kSaveFailureNoticeKey, saveFailureMessage(saved.error().localizedDescription()), /*dismissable=*/false);
  }
}

Status saveReportingFailure(ModelContext& context) {
  Status saved = context.save();
  if (!saved.ok()) std::cout << "Error saving: " << saved.error().localizedDescription() << std::endl;
  showSaveOutcome(saved);
  return saved;
}

SaveReporter::SaveReporter(std::shared_ptr<ModelContainer> container, Duration retryInterval)
    : container_(std::move(container)), retryInterval_(retryInterval) {}

Status SaveReporter::saveNow() {
  if (!container_) return {};
  ModelContext& context = container_->mainContext();
  Status saved = context.hasChanges() ? saveReportingFailure(context) : Status();
  if (saved.ok()) {
    // Nothing was pending: an automatic save may have written it; the notice goes either way.
    showSaveOutcome(saved);
    failing_ = false;
    return saved;
  }
  failing_ = true;
  scheduleRetry();
  Error described = saved.error();
  described.userInfo[kErrorLocalizedDescriptionKey] = PlistValue(saveFailureMessage(saved.error().localizedDescription()));
  return described;
}

void SaveReporter::scheduleRetry() {
  if (retryScheduled_) return;
  retryScheduled_ = true;
  std::weak_ptr<SaveReporter> weak = weak_from_this();
  DispatchQueue::main()->asyncAfter(retryInterval_, [weak] {
    auto self = weak.lock();
    if (!self) return;
    self->retryScheduled_ = false;
    if (self->failing_) (void)self->saveNow();
  });
}

}  // namespace platform
