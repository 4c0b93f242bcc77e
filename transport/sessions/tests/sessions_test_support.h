// Fakes for the session producer's tests: an installation service with a chosen answer, a
// transport and a logger that record, fixed settings and time, and a subscriber.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/queue.h"
#include "sdk-core/core/tests/sdk_test_support.h"
#include "transport/sessions/adapters.h"
#include "transport/sessions/application_info.h"
#include "transport/sessions/sessions.h"
#include "transport/sessions/ses_nanopb.h"
#include "transport/sessions/settings_protocol.h"

// Answers on the main queue, as the SDK's installation service does.
class FakeInstallations final : public InstallationsProtocol {
 public:
  enum class Mode { AtOnce, TokenAfter11Seconds, Never, Error, Nothing, TokenError };
  explicit FakeInstallations(Mode mode, std::string id = "fid-123", std::string token = "token-abc")
      : mode_(mode), id_(std::move(id)), token_(std::move(token)) {}

  void authToken(TokenHandler completion) override {
    ++tokenRequests;
    auto answer = [completion, mode = mode_, token = token_] {
      if (mode == Mode::TokenError) {
        completion(std::nullopt, platform::Error::described("ruv.telemetry.installations", 2, "no token"));
      } else if (mode == Mode::Nothing || mode == Mode::Error) {
        completion(std::nullopt, std::nullopt);
      } else {
        completion(TELInstallationsAuthTokenResult{token, platform::Date::now().addingTimeInterval(3600)}, std::nullopt);
      }
    };
    if (mode_ == Mode::Never) return;
    if (mode_ == Mode::TokenAfter11Seconds) {
      platform::DispatchQueue::main()->asyncAfter(std::chrono::seconds(11), answer);
    } else {
      platform::DispatchQueue::main()->async(answer);
    }
  }
  void installationID(IDHandler completion) override {
    if (mode_ == Mode::Never) return;
    platform::DispatchQueue::main()->async([completion, mode = mode_, id = id_] {
      if (mode == Mode::Error) {
        completion(std::nullopt, platform::Error::described("ruv.telemetry.installations", 1, "server said no"));
      } else if (mode == Mode::Nothing) {
        completion(std::nullopt, std::nullopt);
      } else {
        completion(id, std::nullopt);
      }
    });
  }

  std::atomic<int> tokenRequests{0};

 private:
  Mode mode_;
  std::string id_;
  std::string token_;
};

class FakeSettings final : public SettingsProtocol {
 public:
  bool sessionsEnabled() const override { return enabled; }
  double sessionTimeout() const override { return timeout; }
  double samplingRate() const override {
    ++rateReads;
    return rate;
  }
  void updateSettings() override { ++updates; }

  std::atomic<bool> enabled{true};
  std::atomic<double> timeout{1800};
  std::atomic<double> rate{1.0};
  std::atomic<int> updates{0};
  mutable std::atomic<int> rateReads{0};
};

class FakeNetwork final : public NetworkInfoProtocol {
 public:
  int networkType() const override { return 1; }
  std::string mobileSubtype() const override { return CTRadioAccessTechnologyLTE; }
};

class FakeSubscriber final : public TELSessionsSubscriber {
 public:
  FakeSubscriber(int64_t name, bool enabled) : name_(name), enabled_(enabled) {}
  void onSessionChanged(const TELSessionDetails& session) override {
    std::lock_guard lock(mutex_);
    told_.push_back(session.sessionId());
  }
  bool isDataCollectionEnabled() const override { return enabled_; }
  int64_t sessionsSubscriberName() const override { return name_; }
  std::vector<std::optional<std::string>> told() const {
    std::lock_guard lock(mutex_);
    return told_;
  }

 private:
  int64_t name_;
  bool enabled_;
  mutable std::mutex mutex_;
  std::vector<std::optional<std::string>> told_;
};

// Records what it is handed and answers with a chosen result.
class RecordingCoordinator final : public SessionCoordinatorProtocol {
 public:
  void logSessionStart(const std::shared_ptr<SessionStartEvent>& event,
                       std::function<void(SessionStartResult)> completion) override {
    {
      std::lock_guard lock(mutex_);
      events_.push_back(event);
    }
    completion(std::nullopt);
  }
  std::vector<std::shared_ptr<SessionStartEvent>> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<SessionStartEvent>> events_;
};

class RecordingLogger final : public EventETLoggerProtocol {
 public:
  void logEvent(const std::shared_ptr<SessionStartEvent>& event, SESSendCompletion completion) override {
    {
      std::lock_guard lock(mutex_);
      events_.push_back(event);
    }
    if (completion) completion(failure);
  }
  std::vector<std::shared_ptr<SessionStartEvent>> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::optional<platform::Error> failure;

 private:
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<SessionStartEvent>> events_;
};

// Collects results from any thread.
class ResultLog {
 public:
  void add(SessionStartResult result) {
    std::lock_guard lock(mutex_);
    results_.push_back(std::move(result));
  }
  std::vector<SessionStartResult> all() const {
    std::lock_guard lock(mutex_);
    return results_;
  }
  size_t size() const {
    std::lock_guard lock(mutex_);
    return results_.size();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<SessionStartResult> results_;
};

// Pumps the main queue until `condition` holds (5 s of real time at most).
template <class Condition>
bool pumpUntil(Condition condition) {
  return platform::MainLoop::runUntil(condition, std::chrono::seconds(5));
}
