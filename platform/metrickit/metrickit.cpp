#include "platform/metrickit/metrickit.h"

#include <algorithm>

#include "platform/process_state/process_state.h"

namespace platform {

MXMetricManager& MXMetricManager::sharedManager() {
  static MXMetricManager manager;
  return manager;
}

void MXMetricManager::addSubscriber(std::weak_ptr<MXMetricManagerSubscriber> subscriber) {
  addProcessStateReset(this, [this] {
    std::lock_guard lock(mutex_);
    subscribers_.clear();
  });
  std::lock_guard lock(mutex_);
  subscribers_.push_back(std::move(subscriber));
}

size_t MXMetricManager::subscriberCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<size_t>(std::count_if(subscribers_.begin(), subscribers_.end(),
                                            [](const auto& subscriber) { return !subscriber.expired(); }));
}

void MXMetricManager::deliver(const std::vector<std::shared_ptr<MXDiagnosticPayload>>& payloads) {
  std::vector<std::shared_ptr<MXMetricManagerSubscriber>> live;
  {
    std::lock_guard lock(mutex_);
    std::erase_if(subscribers_, [](const auto& subscriber) { return subscriber.expired(); });
    for (const auto& subscriber : subscribers_) {
      if (auto strong = subscriber.lock()) live.push_back(std::move(strong));
    }
  }
  for (const auto& subscriber : live) subscriber->didReceiveDiagnosticPayloads(payloads);
}

}  // namespace platform
