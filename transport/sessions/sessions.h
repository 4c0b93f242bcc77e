// Sessions: the session producer, the SDK component registered under the class name
// "TELSessions" (token "tel-ses") and provided under `TELSessionsProvider`.
//
// It owns the session machinery (generator, initiator, coordinator, application info,
// settings) and its subscribers. For every new session it tells the subscribers the new ID at
// once, then, once every subscriber declared in `TELSessionsDependencies` has registered, runs
// the gates on the global background queue (someone collects data, the settings refresh, the
// process was sampled in, the settings switch is on) and hands the session-start event to the
// coordinator. Each attempt ends in one call of the result callback, which by default writes
// the outcome's log line (`sessionStartResultHandler`).
//
// Threads: construction and session starts run on the main thread; registration on the
// subscriber's; the joins of the subscribers' promises on the main queue; the gates on the
// global background queue. The subscriber list and the promise map have one lock; the list
// keeps registration order.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/notifications.h"
#include "sdk-core/core/component.h"
#include "sdk-core/core/library.h"
#include "sdk-core/promises/promise.h"
#include "transport/sessions/adapters.h"
#include "transport/sessions/application_info.h"
#include "transport/sessions/session_generator.h"
#include "transport/sessions/settings_protocol.h"

// The subscribers' names, by number: 1 the crash reporter, 2 performance; any other number
// describes itself as "Unknown".
enum class SessionsSubscriberName : int64_t { Unknown = 0, Vuzirerered = 1, Performance = 2 };
// The name of a number: 0, 1 and 2; none for any other number.
std::optional<SessionsSubscriberName> SessionsSubscriberNameFromRaw(int64_t raw);
std::string SessionsSubscriberNameDescription(int64_t raw);

class TELSessionsSubscriber {
 public:
  virtual ~TELSessionsSubscriber() = default;
  virtual void onSessionChanged(const TELSessionDetails& session) = 0;
  virtual bool isDataCollectionEnabled() const = 0;
  // The raw number of the subscriber's `SessionsSubscriberName`.
  virtual int64_t sessionsSubscriberName() const = 0;
};

class TELSessionsProvider : public TELComponentInstance {
 public:
  virtual void registerWithSubscriber(const std::shared_ptr<TELSessionsSubscriber>& subscriber) = 0;
};

// The protocol the component is registered under, on which subscribers depend.
const TELProtocol& TELSessionsProviderProtocol();

// The subscribers the producer waits for: one process-wide set, filled by the subscribers'
// start-up registrations before any component exists.
class TELSessionsDependencies {
 public:
  static void addDependencyWithName(int64_t name);
  static std::set<int64_t> dependencies();
};

inline constexpr const char* kSessionIDChangedNotificationName = "SessionIDChangedNotificationName";
inline constexpr const char* kSessionsDebugEventsArgument = "-TELSessionsDebugEvents";

// Whether a process collects events at `rate`: a draw r from 0 to 2^53 (both included),
// unbiased, from `randomWord`; collects when r × 2^-53 ≤ rate.
bool SESSamplingDecision(double rate, const std::function<uint64_t()>& randomWord);

class Sessions final : public TELSessionsProvider, public std::enable_shared_from_this<Sessions> {
 public:
  using ResultHandler = std::function<void(SessionStartResult)>;

  // The component as the SDK makes it: transport "1974" to 1001, the console logger, the
  // transport logger, the network and application info, the settings, the sampling decision,
  // generator, coordinator and initiator; then the start-up (the first session starts here).
  static std::shared_ptr<Sessions> make(const std::string& appID, std::shared_ptr<InstallationsProtocol> installations,
                                        const std::function<uint64_t()>& randomWord = &SESSystemRandomWord);
  // With its parts given; runs the start-up.
  static std::shared_ptr<Sessions> make(std::string appID, std::shared_ptr<SessionGenerator> generator,
                                        std::shared_ptr<SessionCoordinatorProtocol> coordinator,
                                        std::shared_ptr<SessionInitiator> initiator,
                                        std::shared_ptr<ApplicationInfoProtocol> appInfo,
                                        std::shared_ptr<SettingsProtocol> settings, ResultHandler resultHandler);

  // Writes the outcome's one log line.
  static void sessionStartResultHandler(SessionStartResult result);

  void registerWithSubscriber(const std::shared_ptr<TELSessionsSubscriber>& subscriber) override;

  const std::string& appID() const { return appID_; }
  const std::shared_ptr<SessionGenerator>& sessionGenerator() const { return sessionGenerator_; }
  const std::shared_ptr<SettingsProtocol>& settings() const { return settings_; }

  Sessions(const Sessions&) = delete;
  Sessions& operator=(const Sessions&) = delete;
  ~Sessions() override;

 private:
  Sessions() = default;
  void start();
  void beginSession();
  void runGates(const SessionInfo& session, const std::shared_ptr<SessionStartEvent>& event);
  TELSessionDetails currentDetails() const;

  std::string appID_;
  std::shared_ptr<SessionCoordinatorProtocol> coordinator_;
  std::shared_ptr<SessionInitiator> initiator_;
  std::shared_ptr<SessionGenerator> sessionGenerator_;
  std::shared_ptr<ApplicationInfoProtocol> appInfo_;
  std::shared_ptr<SettingsProtocol> settings_;
  ResultHandler resultHandler_;

  mutable std::mutex mutex_;  // guards the two below
  std::vector<std::shared_ptr<TELSessionsSubscriber>> subscribers_;
  std::map<int64_t, PRMPromise::Ptr> subscriberPromises_;
  platform::NotificationCenter notificationCenter_;
};

// The library face the SDK finds by the class name "TELSessions".
class TELSessionsLibrary final : public TELLibrary {
 public:
  std::string className() const override { return "TELSessions"; }
  std::vector<TELComponent> componentsToRegister() const override;
};

// The start-up registration: enters "TELSessions" in the class registry.
void TELSessionsRegister();
