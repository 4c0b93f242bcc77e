#include "transport/sessions/session_generator.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "platform/foundation/uuid.h"
#include "sdk-core/utilities/logger.h"
#include "transport/sessions/ses_nanopb.h"

SessionInfo SessionGenerator::nextSession() {
  std::string id = platform::UUID::random().lowercaseString();
  id.erase(std::remove(id.begin(), id.end(), '-'), id.end());
  std::lock_guard lock(mutex_);
  if (firstSessionId_.empty()) firstSessionId_ = id;
  if (sessionIndex_ == INT32_MAX) std::abort();  // beyond any real process's life
  ++sessionIndex_;
  thisSession_ = SessionInfo{id, firstSessionId_, collectEvents_, sessionIndex_};
  return *thisSession_;
}

std::optional<SessionInfo> SessionGenerator::thisSession() const {
  std::lock_guard lock(mutex_);
  return thisSession_;
}

SessionInitiator::SessionInitiator(CurrentTime currentTime, std::shared_ptr<SettingsProtocol> settings)
    : currentTime_(std::move(currentTime)), settings_(std::move(settings)) {}

SessionInitiator::~SessionInitiator() {
  for (auto token : observers_) platform::NotificationCenter::defaultCenter().removeObserver(token);
}

void SessionInitiator::startListening(std::function<void()> initiateSessionStart) {
  initiateSessionStart_ = std::move(initiateSessionStart);
  initiateSessionStart_();
  auto& center = platform::NotificationCenter::defaultCenter();
  std::weak_ptr<SessionInitiator> weak = weak_from_this();
  observers_.push_back(center.addObserver(kSessionsDidEnterBackgroundNotification, [weak](const platform::Notification&) {
    if (auto self = weak.lock()) self->appBackgrounded();
  }));
  observers_.push_back(center.addObserver(kSessionsDidBecomeActiveNotification, [weak](const platform::Notification&) {
    if (auto self = weak.lock()) self->appForegrounded();
  }));
}

void SessionInitiator::appBackgrounded() { backgroundTime_ = currentTime_(); }

void SessionInitiator::appForegrounded() {
  if (!backgroundTime_) return;  // elapsed time against the distant future is negative
  const double elapsed = currentTime_().timeIntervalSince(*backgroundTime_);
  if (elapsed > settings_->sessionTimeout()) initiateSessionStart_();
}

void SessionCoordinator::logSessionStart(const std::shared_ptr<SessionStartEvent>& event,
                                         std::function<void(SessionStartResult)> completion) {
  installations_->installationIdentity([event, logger = telLogger_, completion = std::move(completion)](
                                           std::optional<InstallationIdentity> identity,
                                           std::optional<ZadurodaVodovureError> installationsFailure) {
    event->setInstallationID(identity ? identity->installationID : std::string());
    event->setAuthenticationToken(identity ? identity->authToken : std::string());
    logger->logEvent(event, [completion, installationsFailure](std::optional<platform::Error> transportError) {
      if (transportError) {
        completion(ZadurodaVodovureError::carrying(ZadurodaVodovureError::Case::DataTransportError, *transportError));
        return;
      }
      TELLoggerWrapper::logWithLevel(TELLoggerLevel::Debug, kSESLogService, kSESLogCode,
                                     "Successfully logged Session Start event to DiroriVazuZodurozir");
      completion(installationsFailure);
    });
  });
}
