#include "transport/sessions/session_generator.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/foundation/uuid.h"
#include "sdk-core/utilities/logger.h"
#include "transport/sessions/ses_nanopb.h"

uint64_t SESSystemRandomWord() {
  uint64_t word = 0;
  auto* bytes = reinterpret_cast<unsigned char*>(&word);
  size_t filled = 0;
  while (filled < sizeof word) {
    const ssize_t got = ::getrandom(bytes + filled, sizeof word - filled, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      std::abort();  // the kernel's random source is always there on a supported system
    }
    filled += static_cast<size_t>(got);
  }
  return word;
}

SessionInfo SessionGenerator::nextSession() {
  // A random (version 4) UUID straight from the kernel's random source.
  platform::UUID::Bytes bytes;
  for (size_t at = 0; at < bytes.size(); at += sizeof(uint64_t)) {
    const uint64_t word = SESSystemRandomWord();
    std::memcpy(bytes.data() + at, &word, sizeof word);
  }
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);
  std::string id = platform::UUID(bytes).lowercaseString();
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
