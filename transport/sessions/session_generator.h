// The small parts the sessions component drives.
//
// `SessionGenerator` makes session IDs and counts the process's sessions. `SessionInitiator`
// starts the first session when told to listen and a new one whenever the application becomes
// active after more than the settings' time-out in the background. `SessionCoordinator` fills
// the installation fields of a session-start event and hands it to the transport logger.
// `TELSessionDetails` is what subscribers are told.
//
// Threads: the generator and the initiator run on the main thread (construction and the
// application's notifications); the generator's current session may be read from any thread.
// The coordinator runs on the global background queue and blocks nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/date.h"
#include "platform/foundation/notifications.h"
#include "transport/sessions/adapters.h"
#include "transport/sessions/session_info.h"
#include "transport/sessions/settings_protocol.h"

// 64 random bits from the system (getrandom).
uint64_t SESSystemRandomWord();

class SessionGenerator {
 public:
  // `collectEvents`: the process's sampling decision, copied into every session.
  explicit SessionGenerator(bool collectEvents) : collectEvents_(collectEvents) {}

  // A new session: a new ID, the first ID of the process, the next index (0 first).
  SessionInfo nextSession();
  // The current session; none before the first.
  std::optional<SessionInfo> thisSession() const;
  bool collectEvents() const { return collectEvents_; }

 private:
  mutable std::mutex mutex_;
  std::optional<SessionInfo> thisSession_;
  std::string firstSessionId_;
  int32_t sessionIndex_ = -1;
  const bool collectEvents_;
};

inline constexpr const char* kSessionsDidEnterBackgroundNotification = "UIApplicationDidEnterBackgroundNotification";
inline constexpr const char* kSessionsDidBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";

class SessionInitiator : public std::enable_shared_from_this<SessionInitiator> {
 public:
  using CurrentTime = std::function<platform::Date()>;

  SessionInitiator(CurrentTime currentTime, std::shared_ptr<SettingsProtocol> settings);
  ~SessionInitiator();

  // Keeps the routine, runs it once at once (the process's first session), then follows the
  // application's background and active notifications on the default centre.
  void startListening(std::function<void()> initiateSessionStart);

  void appBackgrounded();
  // A new session when the time since the last background notice is strictly more than the
  // time-out. The background time is not reset, so each activation compares with it.
  void appForegrounded();

 private:
  CurrentTime currentTime_;
  std::shared_ptr<SettingsProtocol> settings_;
  // None: the distant future (no background notice yet).
  std::optional<platform::Date> backgroundTime_;
  std::function<void()> initiateSessionStart_ = [] {};
  std::vector<platform::NotificationCenter::ObserverToken> observers_;
};

class SessionCoordinatorProtocol {
 public:
  virtual ~SessionCoordinatorProtocol() = default;
  virtual void logSessionStart(const std::shared_ptr<SessionStartEvent>& event,
                               std::function<void(SessionStartResult)> completion) = 0;
};

class SessionCoordinator final : public SessionCoordinatorProtocol {
 public:
  SessionCoordinator(std::shared_ptr<InstallationsProtocol> installations, std::shared_ptr<EventETLoggerProtocol> telLogger)
      : installations_(std::move(installations)), telLogger_(std::move(telLogger)) {}

  // Fills the installation ID and token (empty text when the lookup failed) and sends the
  // event in every case. The result: a transport failure, else the installations failure,
  // else success.
  void logSessionStart(const std::shared_ptr<SessionStartEvent>& event,
                       std::function<void(SessionStartResult)> completion) override;

 private:
  std::shared_ptr<InstallationsProtocol> installations_;
  std::shared_ptr<EventETLoggerProtocol> telLogger_;
};

// What a subscriber is told of the current session.
class TELSessionDetails {
 public:
  explicit TELSessionDetails(std::optional<std::string> sessionId) : sessionId_(std::move(sessionId)) {}
  const std::optional<std::string>& sessionId() const { return sessionId_; }
  void setSessionId(std::optional<std::string> sessionId) { sessionId_ = std::move(sessionId); }

 private:
  std::optional<std::string> sessionId_;
};
