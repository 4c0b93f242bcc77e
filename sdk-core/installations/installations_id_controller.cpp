#include "sdk-core/installations/installations_id_controller.h"

#include "platform/foundation/notifications.h"
#include "sdk-core/core/app.h"
#include "sdk-core/utilities/logger.h"
#include "sdk-core/installations/installations_errors.h"
#include "sdk-core/installations/installations_logger.h"

namespace {

using ItemPtr = std::shared_ptr<TELInstallationsItem>;

ItemPtr itemOf(const PRMObject& value) {
  const auto* item = value.get<ItemPtr>();
  return item ? *item : nullptr;
}

// A promise already settled with `value`.
PRMPromise::Ptr resolved(PRMObject value) { return PRMPromise::resolvedWith(std::move(value)); }

}  // namespace

// ---- Construction ----------------------------------------------------------------------

std::shared_ptr<TELInstallationsIDController> TELInstallationsIDController::initWithApp(const TELApp& app) {
  auto options = app.options();
  const std::string appID = options->zidezaAppID().value_or("");
  auto keychainStorage = std::make_shared<UTLKeychainStorage>(keychainServiceWithAppID(appID));
  auto store = std::make_shared<TELInstallationsStore>(keychainStorage, options->appGroupID());
  auto service = std::make_shared<TELInstallationsAPIService>(options->APIKey().value_or(""),
                                                              options->projectID().value_or(""), app.heartbeatLogger());
  auto IIDStore = std::make_shared<TELInstallationsIIDStore>();
  auto IIDTokenStore = std::make_shared<TELInstallationsIIDTokenStore>(options->PushSenderID());
  auto backoff = std::make_shared<TELInstallationsBackoffController>();
  return make(appID, app.name(), store, service, IIDStore, IIDTokenStore, backoff);
}

std::shared_ptr<TELInstallationsIDController> TELInstallationsIDController::make(
    std::string appID, std::string appName, std::shared_ptr<TELInstallationsStore> installationsStore,
    std::shared_ptr<TELInstallationsAPIService> APIService, std::shared_ptr<TELInstallationsIIDStore> IIDStore,
    std::shared_ptr<TELInstallationsIIDTokenStore> IIDTokenStore,
    std::shared_ptr<TELInstallationsBackoffControllerProtocol> backoffController, CurrentDateProvider currentDate) {
  auto controller = std::make_shared<TELInstallationsIDController>(
      PrivateTag{}, std::move(appID), std::move(appName), std::move(installationsStore), std::move(APIService),
      std::move(IIDStore), std::move(IIDTokenStore), std::move(backoffController), std::move(currentDate));
  controller->getInstallationPromiseCache_ =
      controller->makeCache([](TELInstallationsIDController& self) { return self.createGetInstallationItemPromise(); });
  controller->authTokenPromiseCache_ = controller->makeCache([](TELInstallationsIDController& self) {
    return self.installationWithValidAuthTokenForcingRefresh(false, Regeneration::Allowed);
  });
  controller->authTokenForcingRefreshPromiseCache_ = controller->makeCache([](TELInstallationsIDController& self) {
    return self.installationWithValidAuthTokenForcingRefresh(true, Regeneration::Allowed);
  });
  controller->deleteInstallationPromiseCache_ =
      controller->makeCache([](TELInstallationsIDController& self) { return self.createDeleteInstallationPromise(); });
  return controller;
}

TELInstallationsIDController::TELInstallationsIDController(
    PrivateTag, std::string appID, std::string appName, std::shared_ptr<TELInstallationsStore> installationsStore,
    std::shared_ptr<TELInstallationsAPIService> APIService, std::shared_ptr<TELInstallationsIIDStore> IIDStore,
    std::shared_ptr<TELInstallationsIIDTokenStore> IIDTokenStore,
    std::shared_ptr<TELInstallationsBackoffControllerProtocol> backoffController, CurrentDateProvider currentDate)
    : appID_(std::move(appID)),
      appName_(std::move(appName)),
      installationsStore_(std::move(installationsStore)),
      IIDStore_(std::move(IIDStore)),
      IIDTokenStore_(std::move(IIDTokenStore)),
      APIService_(std::move(APIService)),
      backoffController_(std::move(backoffController)),
      currentDate_(currentDate ? std::move(currentDate) : CurrentDateProvider([] { return platform::Date::now(); })) {}

std::shared_ptr<TELInstallationsSingleOperationPromiseCache> TELInstallationsIDController::makeCache(
    std::function<PRMPromise::Ptr(TELInstallationsIDController&)> operation) {
  std::weak_ptr<TELInstallationsIDController> weakSelf = weak_from_this();
  return std::make_shared<TELInstallationsSingleOperationPromiseCache>([weakSelf, operation]() -> PRMPromise::Ptr {
    auto self = weakSelf.lock();
    if (!self) {
      return TELInstallationsErrorUtil::rejectedPromiseWithError(TELInstallationsErrorUtil::installationsErrorWithCode(
          TELInstallationsErrorCodeUnknown, "The installations controller is gone.", std::nullopt));
    }
    return operation(*self);
  });
}

std::string TELInstallationsIDController::keychainServiceWithAppID(const std::string&) {
  return "ruv.telemetry.TELInstallations.installations";
}

bool TELInstallationsIDController::isDefaultApp() const { return appName_ == kTELDefaultAppName; }

// ---- Get or create ---------------------------------------------------------------------

PRMPromise::Ptr TELInstallationsIDController::getInstallationItem() {
  if (auto pending = getInstallationPromiseCache_->getExistingPendingPromise()) return pending;
  if (auto ready = knownReadyInstallation()) return resolved(ready);
  return getInstallationPromiseCache_->getExistingPendingOrCreateNewPromise();
}

std::shared_ptr<TELInstallationsItem> TELInstallationsIDController::knownReadyInstallation() const {
  auto item = installationsStore_->knownInstallationForAppID(appID_, appName_);
  if (!item || !item->isValid() || item->registrationStatus != TELInstallationStatusRegistered) return nullptr;
  return hasFreshAuthToken(*item) ? item : nullptr;
}

bool TELInstallationsIDController::hasFreshAuthToken(const TELInstallationsItem& item) const {
  const auto expiration = item.authToken ? item.authToken->expirationDate() : std::nullopt;
  return expiration && expiration->timeIntervalSince(currentDate_()) >= kTELInstallationsTokenExpirationThreshold;
}

PRMPromise::Ptr TELInstallationsIDController::createGetInstallationItemPromise() {
  TELLoggerLogDebug(kTELInstallationsLoggerService, "I-TIS002000", "%s, appName: %s",
                    "-[TELInstallationsIDController createGetInstallationItemPromise]", appName_.c_str());
  auto self = shared_from_this();
  auto installation = getStoredInstallation()->recover(
      [self](const platform::Error&) -> PRMObject { return self->createAndSaveInstID(); });
  // Prefetch an auth token once the installation is there; its result is not awaited.
  installation->then([self](const PRMObject& value) {
    self->getAuthTokenForcingRefresh(false);
    return value;
  });
  return installation;
}

PRMPromise::Ptr TELInstallationsIDController::getStoredInstallation() {
  return installationsStore_->installationForAppID(appID_, appName_)->validate([](const PRMObject& value) {
    auto item = itemOf(value);
    platform::Error error;
    const bool valid = item && item->isValid(&error);
    if (!valid) {
      TELLoggerLogWarning(
          kTELInstallationsLoggerService, "I-TIS002004", "Stored installation validation error: %s",
          TELInstallationsErrorUtil::failureReason(error).value_or(error.localizedDescription()).c_str());
    }
    return valid;
  });
}

PRMPromise::Ptr TELInstallationsIDController::createAndSaveInstID() {
  auto self = shared_from_this();
  return migrateOrGenerateInstallation()
      ->then([self](const PRMObject& value) -> PRMObject { return self->saveInstallation(itemOf(value)); })
      ->then([self](const PRMObject& value) {
        self->postInstIDDidChangeNotification();
        return value;
      });
}

PRMPromise::Ptr TELInstallationsIDController::migrateOrGenerateInstallation() {
  auto self = shared_from_this();
  if (!isDefaultApp()) {
    return resolved(createInstallationWithInstID(TELInstallationsItem::generateInstID(), std::nullopt));
  }
  return PRMPromise::all({IIDStore_->existingIID(), IIDTokenStore_->existingIIDDefaultToken()})
      ->then([self](const PRMObject& value) -> PRMObject {
        const auto& results = *value.array();
        return self->createInstallationWithInstID(*results.at(0).get<std::string>(), *results.at(1).get<std::string>());
      })
      ->recover([self](const platform::Error&) -> PRMObject {
        return self->createInstallationWithInstID(TELInstallationsItem::generateInstID(), std::nullopt);
      });
}

std::shared_ptr<TELInstallationsItem> TELInstallationsIDController::createInstallationWithInstID(
    const std::string& InstID, const std::optional<std::string>& IIDDefaultToken) {
  auto item = std::make_shared<TELInstallationsItem>(appID_, appName_);
  item->telemetryInstallationID = InstID;
  item->IIDDefaultToken = IIDDefaultToken;
  item->registrationStatus = TELInstallationStatusUnregistered;
  return item;
}

PRMPromise::Ptr TELInstallationsIDController::saveInstallation(const std::shared_ptr<TELInstallationsItem>& item) {
  return installationsStore_->saveInstallation(item)->then([item](const PRMObject&) -> PRMObject { return item; });
}

// ---- Registration ----------------------------------------------------------------------

PRMPromise::Ptr TELInstallationsIDController::registerInstallationIfNeeded(
    const std::shared_ptr<TELInstallationsItem>& item) {
  if (item->registrationStatus == TELInstallationStatusRegistered) return resolved(item);
  if (!backoffController_->isNextRequestAllowed()) {
    return TELInstallationsErrorUtil::rejectedPromiseWithError(TELInstallationsErrorUtil::backoffIntervalWaitError());
  }
  auto self = shared_from_this();
  return APIService_->registerInstallation(item)
      ->catch_([self](const platform::Error& error) {
        self->updateBackoffWithSuccess(false, error);
        if (doesRegistrationErrorRequireConfigChange(error)) {
          TELLoggerLogError(kTELInstallationsLoggerService, "I-TIS002003",
                            "Telemetry Installation registration failed for app with name: %s, error:\n%s\nPlease "
                            "make sure you use valid TelemetryService-Info.plist",
                            self->appName_.c_str(),
                            TELInstallationsErrorUtil::failureReason(error).value_or("(null)").c_str());
        }
      })
      ->then([self](const PRMObject& value) -> PRMObject {
        self->updateBackoffWithSuccess(true, std::nullopt);
        return self->saveInstallation(itemOf(value));
      })
      ->then([self, sentInstID = item->telemetryInstallationID](const PRMObject& value) {
        if (itemOf(value)->telemetryInstallationID != sentInstID) self->postInstIDDidChangeNotification();
        return value;
      });
}

bool TELInstallationsIDController::doesRegistrationErrorRequireConfigChange(const platform::Error& error) {
  return TELInstallationsErrorUtil::isAPIError(error, 400) || TELInstallationsErrorUtil::isAPIError(error, 403) ||
         TELInstallationsErrorUtil::isAPIError(error, 404);
}

// ---- Auth token ------------------------------------------------------------------------

PRMPromise::Ptr TELInstallationsIDController::getAuthTokenForcingRefresh(bool forceRefresh) {
  if (forceRefresh) return authTokenForcingRefreshPromiseCache_->getExistingPendingOrCreateNewPromise();
  if (auto forced = authTokenForcingRefreshPromiseCache_->getExistingPendingPromise()) return forced;
  return authTokenPromiseCache_->getExistingPendingOrCreateNewPromise();
}

PRMPromise::Ptr TELInstallationsIDController::installationWithValidAuthTokenForcingRefresh(bool forceRefresh,
                                                                                           Regeneration regeneration) {
  TELLoggerLogDebug(kTELInstallationsLoggerService, "I-TIS002001",
                    "-[TELInstallationsIDController installationWithValidAuthTokenForcingRefresh:%d], appName: %s",
                    forceRefresh ? 1 : 0, appName_.c_str());
  auto self = shared_from_this();
  return getInstallationItem()
      ->then([self](const PRMObject& value) -> PRMObject { return self->registerInstallationIfNeeded(itemOf(value)); })
      ->then([self, forceRefresh](const PRMObject& value) -> PRMObject {
        auto item = itemOf(value);
        if (!forceRefresh && self->hasFreshAuthToken(*item)) return item;
        return self->refreshAuthTokenForInstallation(item);
      })
      ->recover([self, regeneration](const platform::Error& error) -> PRMObject {
        return self->regenerateInstIDOnRefreshTokenErrorIfNeeded(error, regeneration);
      });
}

PRMPromise::Ptr TELInstallationsIDController::refreshAuthTokenForInstallation(
    const std::shared_ptr<TELInstallationsItem>& item) {
  if (!backoffController_->isNextRequestAllowed()) {
    return TELInstallationsErrorUtil::rejectedPromiseWithError(TELInstallationsErrorUtil::backoffIntervalWaitError());
  }
  auto self = shared_from_this();
  return APIService_->refreshAuthTokenForInstallation(item)
      ->catch_([self](const platform::Error& error) { self->updateBackoffWithSuccess(false, error); })
      ->then([self](const PRMObject& value) -> PRMObject {
        self->updateBackoffWithSuccess(true, std::nullopt);
        return self->saveInstallation(itemOf(value));
      });
}

PRMPromise::Ptr TELInstallationsIDController::regenerateInstIDOnRefreshTokenErrorIfNeeded(const platform::Error& error,
                                                                                          Regeneration regeneration) {
  const bool unknownInstallation =
      TELInstallationsErrorUtil::isAPIError(error, 404) || TELInstallationsErrorUtil::isAPIError(error, 401);
  if (!unknownInstallation || regeneration == Regeneration::AlreadyDone) {
    return TELInstallationsErrorUtil::rejectedPromiseWithError(error);
  }
  auto self = shared_from_this();
  return getInstallationItem()
      ->then([self](const PRMObject& value) -> PRMObject { return self->deleteInstallationLocally(itemOf(value)); })
      ->then([self](const PRMObject&) -> PRMObject {
        return self->installationWithValidAuthTokenForcingRefresh(false, Regeneration::AlreadyDone);
      });
}

// ---- Deletion --------------------------------------------------------------------------

PRMPromise::Ptr TELInstallationsIDController::deleteInstallation() {
  return deleteInstallationPromiseCache_->getExistingPendingOrCreateNewPromise();
}

PRMPromise::Ptr TELInstallationsIDController::createDeleteInstallationPromise() {
  TELLoggerLogDebug(kTELInstallationsLoggerService, "I-TIS002002", "%s, appName: %s",
                    "-[TELInstallationsIDController createDeleteInstallationPromise]", appName_.c_str());
  auto self = shared_from_this();
  PRMPromise::Ptr start = mostRecentInstallationOperation();
  if (!start) start = getStoredInstallation();
  return start
      ->then([self](const PRMObject& value) -> PRMObject {
        return self->sendDeleteInstallationRequestIfNeeded(itemOf(value));
      })
      ->then([self](const PRMObject& value) -> PRMObject { return self->deleteInstallationLocally(itemOf(value)); });
}

PRMPromise::Ptr TELInstallationsIDController::mostRecentInstallationOperation() {
  if (auto forced = authTokenForcingRefreshPromiseCache_->getExistingPendingPromise()) return forced;
  if (auto plain = authTokenPromiseCache_->getExistingPendingPromise()) return plain;
  return getInstallationPromiseCache_->getExistingPendingPromise();
}

PRMPromise::Ptr TELInstallationsIDController::sendDeleteInstallationRequestIfNeeded(
    const std::shared_ptr<TELInstallationsItem>& item) {
  if (item->registrationStatus <= TELInstallationStatusUnregistered) return resolved(item);
  return APIService_->deleteInstallation(item)->recover([item](const platform::Error& error) -> PRMObject {
    if (TELInstallationsErrorUtil::isAPIError(error, 404)) return item;
    return error;
  });
}

PRMPromise::Ptr TELInstallationsIDController::deleteInstallationLocally(
    const std::shared_ptr<TELInstallationsItem>& item) {
  auto self = shared_from_this();
  return installationsStore_->removeInstallationForAppID(item->appID(), item->telemetryAppName())
      ->then([self](const PRMObject&) -> PRMObject { return self->deleteExistingIIDIfNeeded(); })
      ->then([self, item](const PRMObject&) -> PRMObject {
        self->postInstIDDidChangeNotification();
        return item;
      });
}

PRMPromise::Ptr TELInstallationsIDController::deleteExistingIIDIfNeeded() {
  if (isDefaultApp()) return IIDStore_->deleteExistingIID();
  return resolved(PRMObject::null());
}

// ---- Notifications and back-off --------------------------------------------------------

void TELInstallationsIDController::postInstIDDidChangeNotification() {
  platform::NotificationCenter::defaultCenter().post(
      kTELInstallationIDDidChangeNotification, {},
      {{kTELInstallationIDDidChangeNotificationAppNameKey, platform::PlistValue(appName_)}});
}

void TELInstallationsIDController::updateBackoffWithSuccess(bool success,
                                                            const std::optional<platform::Error>& APIError) {
  if (success) {
    backoffController_->registerEvent(TELInstallationsBackoffEventSuccess);
    return;
  }
  if (!APIError) return;
  const auto status = TELInstallationsHTTPError::statusCode(*APIError);
  if (!status) return;  // a network or parse failure says nothing about the service's wishes
  switch (*status) {
    case 400:
    case 403:
      backoffController_->registerEvent(TELInstallationsBackoffEventUnrecoverableFailure);
      break;
    case 401:
    case 404:
      break;
    default:
      backoffController_->registerEvent(TELInstallationsBackoffEventRecoverableFailure);
      break;
  }
}
