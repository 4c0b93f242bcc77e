#include "sdk-core/heartbeat/heartbeat_controller.h"

#include <cmath>
#include <vector>

platform::Date HeartbeatController::dayStart(platform::Date date) {
  const double unixSeconds = date.timeIntervalSince1970();
  return platform::Date::fromTimeIntervalSince1970(std::floor(unixSeconds / 86400.0) * 86400.0);
}

HeartbeatController::HeartbeatController(const std::string& id)
    : HeartbeatController(HeartbeatStorage::sharedInstance(id), [] { return dayStart(platform::Date::now()); }) {}

HeartbeatController::HeartbeatController(std::shared_ptr<HeartbeatStorageProtocol> storage,
                                         DateProvider dateProvider)
    : storage_(std::move(storage)), dateProvider_(std::move(dateProvider)) {}

void HeartbeatController::log(const std::string& agent) {
  const platform::Date date = dateProvider_();
  const int64_t capacity = heartbeatsStorageCapacity_;
  storage_->updateAsynchronously([agent, date, capacity](std::optional<HeartbeatsBundle> stored) {
    HeartbeatsBundle bundle = stored ? std::move(*stored) : HeartbeatsBundle(capacity);
    std::vector<TimePeriod> due;
    for (TimePeriod period : allTimePeriods()) {
      auto cached = bundle.lastAddedHeartbeatDates.find(period);
      const platform::Date last =
          cached == bundle.lastAddedHeartbeatDates.end() ? heartbeatDistantPast() : cached->second;
      if (date.timeIntervalSince(last) >= timePeriodSeconds(period)) due.push_back(period);
    }
    if (!due.empty()) bundle.append(Heartbeat(agent, date, due, 0));
    return std::optional<HeartbeatsBundle>(std::move(bundle));
  });
}

HeartbeatsPayload HeartbeatController::flush() {
  const int64_t capacity = heartbeatsStorageCapacity_;
  auto result = storage_->fetchAndReplace([capacity](std::optional<HeartbeatsBundle> stored) {
    if (!stored) return std::optional<HeartbeatsBundle>();
    return std::optional<HeartbeatsBundle>(HeartbeatsBundle(capacity, stored->lastAddedHeartbeatDates));
  });
  if (result.error || !result.previous) return HeartbeatsPayload::emptyPayload();
  return result.previous->toHeartbeatsPayload();
}

HeartbeatsPayload HeartbeatController::flushHeartbeatFromToday() {
  const platform::Date today = dateProvider_();
  std::optional<Heartbeat> removed;
  storage_->updateSynchronously([&](std::optional<HeartbeatsBundle> stored) {
    if (!stored) return std::optional<HeartbeatsBundle>();
    removed = stored->takeHeartbeat(today);
    return stored;
  });
  if (!removed) return HeartbeatsPayload::emptyPayload();
  return removed->toHeartbeatsPayload();
}

std::shared_ptr<TELHeartbeatsPayload> TELHeartbeatController::flush() {
  return std::make_shared<TELHeartbeatsPayload>(heartbeatController_->flush());
}

std::shared_ptr<TELHeartbeatsPayload> TELHeartbeatController::flushHeartbeatFromToday() {
  return std::make_shared<TELHeartbeatsPayload>(heartbeatController_->flushHeartbeatFromToday());
}

std::optional<std::string> TELHeaderValueOfHeartbeatsPayload(const std::shared_ptr<TELHeartbeatsPayload>& payload) {
  if (!payload || payload->isEmpty()) return std::nullopt;
  return payload->headerValue();
}
