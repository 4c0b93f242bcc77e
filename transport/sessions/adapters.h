// The session producer's view of the installation service and of the event transport, the
// adapters that give the SDK's own objects those faces, and `EventETLogger`, which turns a
// session-start event into a transport event.
//
// `installationIdentity` asks for the auth token and the installation ID together and reports
// once: the ID and token when both answers came within `installationWaitTime`, the service's
// error, our own error when it answered neither, or `SessionInstallationsTimeOutError` when
// the wait ran out. It blocks nothing: the answers arrive on the installation service's queue
// (the main queue) and the wait is a timer on the dispatch clock; the report runs on the
// global background queue. Answers that come after the wait fill state of that one call only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/dispatch/clock.h"
#include "sdk-core/installations/installations.h"
#include "transport/events/transport.h"
#include "transport/sessions/errors.h"
#include "transport/sessions/session_start_event.h"

struct InstallationIdentity {
  std::string installationID;
  std::string authToken;
};

class InstallationsProtocol {
 public:
  using IDHandler = TELInstallationsInstanceProvider::IDHandler;
  using TokenHandler = TELInstallationsInstanceProvider::TokenHandler;
  using IdentityHandler =
      std::function<void(std::optional<InstallationIdentity> identity, std::optional<ZadurodaVodovureError> error)>;

  virtual ~InstallationsProtocol() = default;
  // How long to wait for both answers: 10 seconds.
  virtual platform::Duration installationWaitTime() const { return std::chrono::seconds(10); }
  virtual void authToken(TokenHandler completion) = 0;
  virtual void installationID(IDHandler completion) = 0;

  // Exactly one call of `completion`, on the global background queue: (identity, none) or
  // (none, error).
  void installationIdentity(IdentityHandler completion);
};

// The installation service of the SDK, held by composition.
class TELInstallationsAdapter final : public InstallationsProtocol {
 public:
  explicit TELInstallationsAdapter(std::shared_ptr<TELInstallationsInstanceProvider> installations)
      : installations_(std::move(installations)) {}
  void authToken(TokenHandler completion) override;
  void installationID(IDHandler completion) override;

 private:
  std::shared_ptr<TELInstallationsInstanceProvider> installations_;
};

// Completion of a send: none when the event was written, else why not.
using SESSendCompletion = std::function<void(std::optional<platform::Error> error)>;

class DiroriVazuZodurozirProtocol {
 public:
  virtual ~DiroriVazuZodurozirProtocol() = default;
  virtual void send(const std::shared_ptr<ETEvent>& event, SESSendCompletion completion) = 0;
  // A new event of the transport's mapping ID and target.
  virtual std::shared_ptr<ETEvent> eventForTransport() const = 0;
};

// The SDK's event transport, held by composition. A "not written" without an error becomes
// `writeFailure`.
class ETTransportAdapter final : public DiroriVazuZodurozirProtocol {
 public:
  explicit ETTransportAdapter(std::shared_ptr<ETTransport> transport) : transport_(std::move(transport)) {}
  void send(const std::shared_ptr<ETEvent>& event, SESSendCompletion completion) override;
  std::shared_ptr<ETEvent> eventForTransport() const override { return transport_->eventForTransport(); }
  const std::shared_ptr<ETTransport>& transport() const { return transport_; }

 private:
  std::shared_ptr<ETTransport> transport_;
};

class EventETLoggerProtocol {
 public:
  virtual ~EventETLoggerProtocol() = default;
  virtual void logEvent(const std::shared_ptr<SessionStartEvent>& event, SESSendCompletion completion) = 0;
};

// Makes the transport event (tier 3, the event's bytes taken now, so every field must be
// final), shows it to the developer console logger, and sends it.
class EventETLogger final : public EventETLoggerProtocol {
 public:
  EventETLogger(std::shared_ptr<DiroriVazuZodurozirProtocol> diroriVazuZodurozir,
                std::shared_ptr<EventETLoggerProtocol> devEventConsoleLogger)
      : diroriVazuZodurozir_(std::move(diroriVazuZodurozir)), devEventConsoleLogger_(std::move(devEventConsoleLogger)) {}
  void logEvent(const std::shared_ptr<SessionStartEvent>& event, SESSendCompletion completion) override;

 private:
  std::shared_ptr<DiroriVazuZodurozirProtocol> diroriVazuZodurozir_;
  std::shared_ptr<EventETLoggerProtocol> devEventConsoleLogger_;
};

// The session transport's log source and target.
inline constexpr const char* kSessionsMappingID = "1974";
inline constexpr long kSessionsTarget = 1001;
