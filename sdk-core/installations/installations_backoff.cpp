#include "sdk-core/installations/installations_backoff.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "platform/foundation/error.h"

namespace {

constexpr double kUnrecoverableErrorBackoffTime = 24 * 60 * 60;
constexpr double kMaximumBackoffTime = 30 * 60;

}  // namespace

// ---- Single-operation cache ------------------------------------------------------------

TELInstallationsSingleOperationPromiseCache::TELInstallationsSingleOperationPromiseCache(
    NewOperationHandler newOperationHandler)
    : newOperationHandler_(std::move(newOperationHandler)) {
  if (!newOperationHandler_) {
    throw platform::Exception(platform::kInvalidArgumentException, "`newOperationHandler` must not be `nil`.");
  }
}

PRMPromise::Ptr TELInstallationsSingleOperationPromiseCache::getExistingPendingOrCreateNewPromise() {
  std::lock_guard lock(mutex_);
  if (!pendingPromise_) {
    pendingPromise_ = newOperationHandler_();
    std::weak_ptr<TELInstallationsSingleOperationPromiseCache> weakSelf = weak_from_this();
    std::weak_ptr<PRMPromise> settled = pendingPromise_;
    auto clear = [weakSelf, settled] {
      auto self = weakSelf.lock();
      if (!self) return;
      std::lock_guard lock(self->mutex_);
      // Only the promise that settled is cleared: a newer operation may already be pending.
      if (self->pendingPromise_ && self->pendingPromise_ == settled.lock()) self->pendingPromise_ = nullptr;
    };
    pendingPromise_->then([clear](const PRMObject& value) {
      clear();
      return value;
    });
    pendingPromise_->catch_([clear](const platform::Error&) { clear(); });
  }
  return pendingPromise_;
}

PRMPromise::Ptr TELInstallationsSingleOperationPromiseCache::getExistingPendingPromise() {
  std::lock_guard lock(mutex_);
  return pendingPromise_;
}

// ---- Back-off --------------------------------------------------------------------------

TELInstallationsBackoffEventData::TELInstallationsBackoffEventData(int64_t eventType, platform::Date lastEventDate,
                                                                   int64_t eventCount,
                                                                   const RandomMilliseconds& randomMilliseconds)
    : eventType_(eventType),
      lastEventDate_(lastEventDate),
      eventCount_(eventCount),
      backoffTimeInterval_(backoffTimeIntervalWithEvent(eventType, eventCount, randomMilliseconds)) {}

double TELInstallationsBackoffEventData::backoffTimeIntervalWithEvent(int64_t eventType, int64_t eventCount,
                                                                      const RandomMilliseconds& randomMilliseconds) {
  switch (eventType) {
    case TELInstallationsBackoffEventUnrecoverableFailure:
      return kUnrecoverableErrorBackoffTime;
    case TELInstallationsBackoffEventRecoverableFailure:
      return recoverableErrorBackoffTimeForAttemptNumber(eventCount, randomMilliseconds);
    default:
      return 0;
  }
}

double TELInstallationsBackoffEventData::recoverableErrorBackoffTimeForAttemptNumber(
    int64_t attempt, const RandomMilliseconds& randomMilliseconds) {
  const double random =
      randomMilliseconds ? randomMilliseconds() : TELInstallationsBackoffEventData::randomMilliseconds();
  // 2^64 and beyond is far past the cap; keep the power finite.
  const double power = std::pow(2.0, static_cast<double>(std::min<int64_t>(attempt, 64)));
  return std::min(power + random, kMaximumBackoffTime);
}

double TELInstallationsBackoffEventData::randomMilliseconds() {
  static thread_local std::mt19937 generator{std::random_device{}()};
  const uint32_t random = generator();
  return static_cast<double>(random % 1000) * 0.001;
}

TELInstallationsBackoffController::TELInstallationsBackoffController()
    : TELInstallationsBackoffController([] { return platform::Date::now(); }) {}

TELInstallationsBackoffController::TELInstallationsBackoffController(
    CurrentDateProvider currentDateProvider, TELInstallationsBackoffEventData::RandomMilliseconds randomMilliseconds)
    : currentDateProvider_(std::move(currentDateProvider)), randomMilliseconds_(std::move(randomMilliseconds)) {}

bool TELInstallationsBackoffController::isNextRequestAllowed() {
  std::lock_guard lock(mutex_);
  if (!lastEventData_) return true;
  const double sinceLastEvent = currentDateProvider_().timeIntervalSince(lastEventData_->lastEventDate());
  return sinceLastEvent >= lastEventData_->backoffTimeInterval();
}

void TELInstallationsBackoffController::registerEvent(int64_t event) {
  std::lock_guard lock(mutex_);
  const platform::Date now = currentDateProvider_();
  const int64_t count = lastEventData_ && lastEventData_->eventType() == event ? lastEventData_->eventCount() + 1 : 1;
  lastEventData_.emplace(event, now, count, randomMilliseconds_);
}

std::optional<TELInstallationsBackoffEventData> TELInstallationsBackoffController::lastEventData() const {
  std::lock_guard lock(mutex_);
  return lastEventData_;
}
