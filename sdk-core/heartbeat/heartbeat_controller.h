// The daily heartbeats: a record that the SDK ran on a given UTC day, tagged with the SDK's
// user agent, kept per app identifier and sent in the "X-telemetry-client" header of the
// installations requests.
//
// `HeartbeatController` holds the logic over the identifier's `HeartbeatStorage`: `log`
// adds at most one heartbeat per UTC day, `flush` hands out and empties the store,
// `flushHeartbeatFromToday` takes out only today's heartbeat. It keeps nothing itself; the
// storage keeps the bundle in memory and writes it when it changes.
//
// `TELHeartbeatController` and `TELHeartbeatsPayload` are the faces the SDK's other classes
// use; `TELHeartbeatLogger` is the per-app logger that `TELApp` creates, bound to a provider
// of the user-agent string.
//
// Threads: `log` may be called from any thread and returns at once (the work runs on the
// storage's queue). `flush` and `flushHeartbeatFromToday` wait for that queue, so a `log`
// issued earlier is stored before they read; never call them from the storage's queue.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/date.h"
#include "sdk-core/heartbeat/heartbeat_storage.h"
#include "sdk-core/heartbeat/heartbeats_payload.h"

class HeartbeatController {
 public:
  using DateProvider = std::function<platform::Date()>;
  static constexpr int64_t kHeartbeatsStorageCapacity = 30;

  // 00:00:00 UTC of the date's day.
  static platform::Date dayStart(platform::Date date);

  // Over the shared storage of `id`, dated by the platform clock reduced to its day.
  explicit HeartbeatController(const std::string& id);
  // Over any storage, dated by `dateProvider` (already reduced to its day).
  HeartbeatController(std::shared_ptr<HeartbeatStorageProtocol> storage, DateProvider dateProvider);

  void log(const std::string& agent);
  HeartbeatsPayload flush();
  HeartbeatsPayload flushHeartbeatFromToday();

  const std::shared_ptr<HeartbeatStorageProtocol>& storage() const { return storage_; }

 private:
  std::shared_ptr<HeartbeatStorageProtocol> storage_;
  int64_t heartbeatsStorageCapacity_ = kHeartbeatsStorageCapacity;
  DateProvider dateProvider_;
};

class TELHeartbeatsPayload final : public HTTPHeaderRepresentable {
 public:
  explicit TELHeartbeatsPayload(HeartbeatsPayload payload) : heartbeatsPayload_(std::move(payload)) {}
  TELHeartbeatsPayload() = delete;

  std::string headerValue() const override { return heartbeatsPayload_.headerValue(); }
  bool isEmpty() const { return heartbeatsPayload_.isEmpty(); }
  const HeartbeatsPayload& heartbeatsPayload() const { return heartbeatsPayload_; }

 private:
  const HeartbeatsPayload heartbeatsPayload_;
};

class TELHeartbeatController {
 public:
  explicit TELHeartbeatController(const std::string& id)
      : heartbeatController_(std::make_shared<HeartbeatController>(id)) {}
  explicit TELHeartbeatController(std::shared_ptr<HeartbeatController> controller)
      : heartbeatController_(std::move(controller)) {}
  TELHeartbeatController() = delete;

  void log(const std::string& agent) { heartbeatController_->log(agent); }
  std::shared_ptr<TELHeartbeatsPayload> flush();
  std::shared_ptr<TELHeartbeatsPayload> flushHeartbeatFromToday();

  const std::shared_ptr<HeartbeatController>& heartbeatController() const { return heartbeatController_; }

 private:
  const std::shared_ptr<HeartbeatController> heartbeatController_;
};

// What the installations service and the app need of a heartbeat logger.
class TELHeartbeatLoggerProtocol {
 public:
  virtual ~TELHeartbeatLoggerProtocol() = default;
  virtual void log() = 0;
  virtual std::shared_ptr<TELHeartbeatsPayload> flushHeartbeatsIntoPayload() = 0;
  // 2 when today's heartbeat was there (it is consumed), else 0.
  virtual int64_t heartbeatCodeForToday() = 0;
};

class TELHeartbeatLogger final : public TELHeartbeatLoggerProtocol {
 public:
  using UserAgentProvider = std::function<std::string()>;

  // `userAgentProvider` answers the user agent at each log (the app hands in its own).
  TELHeartbeatLogger(const std::string& appID, UserAgentProvider userAgentProvider)
      : heartbeatController_(std::make_shared<TELHeartbeatController>(appID)),
        userAgentProvider_(std::move(userAgentProvider)) {}
  TELHeartbeatLogger(std::shared_ptr<TELHeartbeatController> controller, UserAgentProvider userAgentProvider)
      : heartbeatController_(std::move(controller)), userAgentProvider_(std::move(userAgentProvider)) {}

  void log() override { heartbeatController_->log(userAgentProvider_()); }
  std::shared_ptr<TELHeartbeatsPayload> flushHeartbeatsIntoPayload() override {
    return heartbeatController_->flush();
  }
  int64_t heartbeatCodeForToday() override {
    return heartbeatController_->flushHeartbeatFromToday()->isEmpty() ? 0 : 2;
  }

  const std::shared_ptr<TELHeartbeatController>& heartbeatController() const { return heartbeatController_; }
  const UserAgentProvider& userAgentProvider() const { return userAgentProvider_; }

 private:
  const std::shared_ptr<TELHeartbeatController> heartbeatController_;
  const UserAgentProvider userAgentProvider_;
};

// The "X-telemetry-client" value of a payload, or std::nullopt (send no header) when it is
// empty or absent.
std::optional<std::string> TELHeaderValueOfHeartbeatsPayload(const std::shared_ptr<TELHeartbeatsPayload>& payload);
