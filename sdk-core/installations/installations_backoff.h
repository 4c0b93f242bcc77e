// Two small helpers of the installations ID controller.
//
// TELInstallationsSingleOperationPromiseCache hands every caller the promise of the
// operation in flight, or starts a new one from its handler when none is pending; the
// pending promise is cleared by steps that run when it settles (on the promise library's
// default queue), so a caller may still receive a promise that has just settled.
//
// TELInstallationsBackoffController remembers the outcome of the last requests to the
// installations service and says whether the next may be sent: after an unrecoverable
// failure (400, 403) 24 hours; after the n-th recoverable failure in a row
// min(2^n s + random 0-0.999 s, 1800 s); any other event type, success included, starts a
// new run. It lives in memory only. The clock and the random milliseconds are injected.
//
// Threads: both guard their state with a lock of their own; any thread may call them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/foundation/date.h"
#include "sdk-core/promises/promise.h"

class TELInstallationsSingleOperationPromiseCache
    : public std::enable_shared_from_this<TELInstallationsSingleOperationPromiseCache> {
 public:
  using NewOperationHandler = std::function<PRMPromise::Ptr()>;

  // Raises NSInvalidArgumentException "`newOperationHandler` must not be `nil`." for an
  // empty handler.
  explicit TELInstallationsSingleOperationPromiseCache(NewOperationHandler newOperationHandler);

  PRMPromise::Ptr getExistingPendingOrCreateNewPromise();
  PRMPromise::Ptr getExistingPendingPromise();

 private:
  NewOperationHandler newOperationHandler_;
  std::mutex mutex_;
  PRMPromise::Ptr pendingPromise_;
};

enum TELInstallationsBackoffEvent : int64_t {
  TELInstallationsBackoffEventSuccess = 0,
  TELInstallationsBackoffEventRecoverableFailure = 1,
  TELInstallationsBackoffEventUnrecoverableFailure = 2,
};

class TELInstallationsBackoffEventData {
 public:
  using RandomMilliseconds = std::function<double()>;

  TELInstallationsBackoffEventData(int64_t eventType, platform::Date lastEventDate, int64_t eventCount,
                                   const RandomMilliseconds& randomMilliseconds = nullptr);

  int64_t eventType() const { return eventType_; }
  platform::Date lastEventDate() const { return lastEventDate_; }
  int64_t eventCount() const { return eventCount_; }
  double backoffTimeInterval() const { return backoffTimeInterval_; }

  static double backoffTimeIntervalWithEvent(int64_t eventType, int64_t eventCount,
                                             const RandomMilliseconds& randomMilliseconds = nullptr);
  static double recoverableErrorBackoffTimeForAttemptNumber(int64_t attempt,
                                                            const RandomMilliseconds& randomMilliseconds = nullptr);
  // (a uniformly random 32-bit integer mod 1000) × 0.001 s.
  static double randomMilliseconds();

 private:
  int64_t eventType_;
  platform::Date lastEventDate_;
  int64_t eventCount_;
  double backoffTimeInterval_;
};

class TELInstallationsBackoffControllerProtocol {
 public:
  virtual ~TELInstallationsBackoffControllerProtocol() = default;
  virtual bool isNextRequestAllowed() = 0;
  virtual void registerEvent(int64_t event) = 0;
};

class TELInstallationsBackoffController final : public TELInstallationsBackoffControllerProtocol {
 public:
  using CurrentDateProvider = std::function<platform::Date()>;

  // Dated by platform::Date::now(), random milliseconds from the system's generator.
  TELInstallationsBackoffController();
  explicit TELInstallationsBackoffController(
      CurrentDateProvider currentDateProvider,
      TELInstallationsBackoffEventData::RandomMilliseconds randomMilliseconds = nullptr);

  bool isNextRequestAllowed() override;
  void registerEvent(int64_t event) override;
  std::optional<TELInstallationsBackoffEventData> lastEventData() const;

 private:
  CurrentDateProvider currentDateProvider_;
  TELInstallationsBackoffEventData::RandomMilliseconds randomMilliseconds_;
  mutable std::mutex mutex_;
  std::optional<TELInstallationsBackoffEventData> lastEventData_;
};
