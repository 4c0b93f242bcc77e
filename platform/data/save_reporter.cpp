#include "platform/data/save_reporter.h"

#include "platform/dispatch/queue.h"
#include "platform/foundation/data_notices.h"

namespace platform {

std::string saveFailureMessage(const std::string& reason) {
  std::string text = reason;
  if (!text.empty() && text.back() == '.') text.pop_back();
  return "Your latest changes are not saved yet: " + text +
         ". Brivel keeps them and tries again every few seconds; this message goes away once they are saved.";
}

SaveReporter::SaveReporter(std::shared_ptr<ModelContainer> container, Duration retryInterval)
    : container_(std::move(container)), retryInterval_(retryInterval) {}

std::optional<std::string> SaveReporter::saveNow() {
  if (!container_) return std::nullopt;
  ModelContext& context = container_->mainContext();
  std::optional<Error> error = context.hasChanges() ? context.save() : std::nullopt;
  if (!error) {
    if (failing_) DataNotices::shared().clear(kSaveFailureNoticeKey);
    failing_ = false;
    return std::nullopt;
  }
  std::string message = saveFailureMessage(error->localizedDescription());
  if (!failing_ || !DataNotices::shared().has(kSaveFailureNoticeKey)) {
    DataNotices::shared().set(kSaveFailureNoticeKey, message, /*dismissable=*/false);
  }
  failing_ = true;
  scheduleRetry();
  return message;
}

void SaveReporter::scheduleRetry() {
  if (retryScheduled_) return;
  retryScheduled_ = true;
  std::weak_ptr<SaveReporter> weak = weak_from_this();
  DispatchQueue::main()->asyncAfter(retryInterval_, [weak] {
    auto self = weak.lock();
    if (!self) return;
    self->retryScheduled_ = false;
    if (self->failing_) self->saveNow();
  });
}

}  // namespace platform
