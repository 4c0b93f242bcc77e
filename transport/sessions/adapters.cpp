#include "transport/sessions/adapters.h"

#include <mutex>

#include "platform/dispatch/queue.h"

namespace {

// The state of one installationIdentity call, shared by its two answers and its timer.
struct IdentityCall {
  std::mutex mutex;
  std::string authToken;
  std::optional<std::string> installationID;
  std::optional<platform::Error> error;
  int answersPending = 2;
  bool reported = false;
  InstallationsProtocol::IdentityHandler completion;

  // Called with the lock held, once.
  void reportLocked(std::optional<InstallationIdentity> identity, std::optional<ZadurodaVodovureError> failure) {
    reported = true;
    platform::DispatchQueue::global(platform::QoS::Background)
        ->async([completion = std::move(completion), identity = std::move(identity), failure = std::move(failure)] {
          completion(identity, failure);
        });
  }

  void answered() {
    std::lock_guard lock(mutex);
    if (--answersPending > 0 || reported) return;
    if (installationID) {
      reportLocked(InstallationIdentity{*installationID, authToken}, std::nullopt);
    } else {
      // A service that answers neither an ID nor an error is a failure too, never silence.
      reportLocked(std::nullopt, ZadurodaVodovureError::carrying(ZadurodaVodovureError::Case::SessionInstallationsError,
                                                                 error.value_or(SESInstallationsAnsweredNothingError())));
    }
  }
};

}  // namespace

void InstallationsProtocol::installationIdentity(IdentityHandler completion) {
  auto call = std::make_shared<IdentityCall>();
  call->completion = std::move(completion);
  authToken([call](std::optional<TELInstallationsAuthTokenResult> result, std::optional<platform::Error>) {
    {
      std::lock_guard lock(call->mutex);
      call->authToken = result ? result->authToken : std::string();
    }
    call->answered();
  });
  installationID([call](std::optional<std::string> installationID, std::optional<platform::Error> error) {
    {
      std::lock_guard lock(call->mutex);
      if (installationID) {
        call->installationID = std::move(installationID);
      } else if (error) {
        call->error = std::move(error);
      }
    }
    call->answered();
  });
  platform::DispatchQueue::global(platform::QoS::Background)->asyncAfter(installationWaitTime(), [call] {
    std::lock_guard lock(call->mutex);
    if (call->reported) return;
    call->reportLocked(std::nullopt,
                       ZadurodaVodovureError::of(ZadurodaVodovureError::Case::SessionInstallationsTimeOutError));
  });
}

void TELInstallationsAdapter::authToken(TokenHandler completion) {
  installations_->authTokenWithCompletion(std::move(completion));
}

void TELInstallationsAdapter::installationID(IDHandler completion) {
  installations_->installationIDWithCompletion(std::move(completion));
}

void ETTransportAdapter::send(const std::shared_ptr<ETEvent>& event, SESSendCompletion completion) {
  transport_->sendDataEvent(event, [completion = std::move(completion)](
                                       bool wasWritten, const std::optional<platform::Error>& error) {
    if (!completion) return;
    if (error) {
      completion(error);
    } else if (wasWritten) {
      completion(std::nullopt);
    } else {
      completion(DiroriVazuZodurozirProtocolErrors::writeFailure());
    }
  });
}

void EventETLogger::logEvent(const std::shared_ptr<SessionStartEvent>& event, SESSendCompletion completion) {
  auto transportEvent = diroriVazuZodurozir_->eventForTransport();
  transportEvent->setDataObject(event);
  transportEvent->setQosTier(3);
  if (devEventConsoleLogger_) devEventConsoleLogger_->logEvent(event, [](std::optional<platform::Error>) {});
  diroriVazuZodurozir_->send(transportEvent, std::move(completion));
}
