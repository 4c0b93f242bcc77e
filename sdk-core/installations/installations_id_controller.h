// TELInstallationsIDController: the flows behind TELInstallations for one SDK app.
//
// Get or create the installation (taking over the legacy instance ID in the default app),
// register it with the installations service unless the back-off forbids a request, keep
// its auth token fresh (a token expiring within 3600 s is refreshed), regenerate the
// installation when the service no longer knows it (401/404), delete it, and announce
// every change of the InstID with "TELInstallationIDDidChangeNotification".
//
// Concurrent callers of one operation share its promise through four single-operation
// caches (get installation, auth token, forced auth token, delete). A regeneration happens
// at most once per auth-token operation: the operation it re-enters does not regenerate
// again, so a service that keeps answering 401/404 ends the call with that error instead
// of a create-and-register loop.
//
// Threads: public calls may come from any thread; every step without a named queue runs
// on the promise library's default queue (the main queue). The caches' handlers hold the
// controller weakly; a chain in flight keeps it alive.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/date.h"
#include "sdk-core/installations/installations_api_service.h"
#include "sdk-core/installations/installations_backoff.h"
#include "sdk-core/installations/installations_iid_store.h"
#include "sdk-core/installations/installations_store.h"
#include "sdk-core/promises/promise.h"

class TELApp;

inline constexpr const char* kTELInstallationIDDidChangeNotification = "TELInstallationIDDidChangeNotification";
inline constexpr const char* kTELInstallationIDDidChangeNotificationAppNameKey =
    "TELInstallationIDDidChangeNotification";
// The auth token is refreshed when it expires within this many seconds.
inline constexpr double kTELInstallationsTokenExpirationThreshold = 60 * 60;

class TELInstallationsIDController : public std::enable_shared_from_this<TELInstallationsIDController> {
 public:
  using CurrentDateProvider = std::function<platform::Date()>;

  // Builds the collaborators from the app: keychain storage and store, API service with
  // the app's heartbeat logger, legacy readers, back-off controller.
  static std::shared_ptr<TELInstallationsIDController> initWithApp(const TELApp& app);
  static std::shared_ptr<TELInstallationsIDController> make(
      std::string appID, std::string appName, std::shared_ptr<TELInstallationsStore> installationsStore,
      std::shared_ptr<TELInstallationsAPIService> APIService, std::shared_ptr<TELInstallationsIIDStore> IIDStore,
      std::shared_ptr<TELInstallationsIIDTokenStore> IIDTokenStore,
      std::shared_ptr<TELInstallationsBackoffControllerProtocol> backoffController,
      CurrentDateProvider currentDate = nullptr);

  // A promise of std::shared_ptr<TELInstallationsItem>. When no get-installation is in
  // flight and the store already holds a registered installation whose token stays fresh
  // (so the token prefetch would have nothing to do), the promise is settled at once with it.
  PRMPromise::Ptr getInstallationItem();
  // A promise of an item with a valid auth token.
  PRMPromise::Ptr getAuthTokenForcingRefresh(bool forceRefresh);
  // A promise of the deleted item.
  PRMPromise::Ptr deleteInstallation();

  static std::string keychainServiceWithAppID(const std::string& appID);
  bool isDefaultApp() const;

  const std::string& appID() const { return appID_; }
  const std::string& appName() const { return appName_; }
  const std::shared_ptr<TELInstallationsStore>& installationsStore() const { return installationsStore_; }
  const std::shared_ptr<TELInstallationsAPIService>& APIService() const { return APIService_; }
  const std::shared_ptr<TELInstallationsBackoffControllerProtocol>& backoffController() const {
    return backoffController_;
  }

  struct PrivateTag {};
  TELInstallationsIDController(PrivateTag, std::string appID, std::string appName,
                               std::shared_ptr<TELInstallationsStore> installationsStore,
                               std::shared_ptr<TELInstallationsAPIService> APIService,
                               std::shared_ptr<TELInstallationsIIDStore> IIDStore,
                               std::shared_ptr<TELInstallationsIIDTokenStore> IIDTokenStore,
                               std::shared_ptr<TELInstallationsBackoffControllerProtocol> backoffController,
                               CurrentDateProvider currentDate);

 private:
  enum class Regeneration { Allowed, AlreadyDone };

  PRMPromise::Ptr createGetInstallationItemPromise();
  // The store's known record when it is valid, registered and its token is fresh.
  std::shared_ptr<TELInstallationsItem> knownReadyInstallation() const;
  bool hasFreshAuthToken(const TELInstallationsItem& item) const;
  PRMPromise::Ptr getStoredInstallation();
  PRMPromise::Ptr createAndSaveInstID();
  PRMPromise::Ptr migrateOrGenerateInstallation();
  std::shared_ptr<TELInstallationsItem> createInstallationWithInstID(const std::string& InstID,
                                                                     const std::optional<std::string>& IIDDefaultToken);
  PRMPromise::Ptr saveInstallation(const std::shared_ptr<TELInstallationsItem>& item);
  PRMPromise::Ptr registerInstallationIfNeeded(const std::shared_ptr<TELInstallationsItem>& item);
  PRMPromise::Ptr installationWithValidAuthTokenForcingRefresh(bool forceRefresh, Regeneration regeneration);
  PRMPromise::Ptr refreshAuthTokenForInstallation(const std::shared_ptr<TELInstallationsItem>& item);
  PRMPromise::Ptr regenerateInstIDOnRefreshTokenErrorIfNeeded(const platform::Error& error, Regeneration regeneration);
  PRMPromise::Ptr createDeleteInstallationPromise();
  PRMPromise::Ptr mostRecentInstallationOperation();
  PRMPromise::Ptr sendDeleteInstallationRequestIfNeeded(const std::shared_ptr<TELInstallationsItem>& item);
  PRMPromise::Ptr deleteInstallationLocally(const std::shared_ptr<TELInstallationsItem>& item);
  PRMPromise::Ptr deleteExistingIIDIfNeeded();
  void postInstIDDidChangeNotification();
  void updateBackoffWithSuccess(bool success, const std::optional<platform::Error>& APIError);
  static bool doesRegistrationErrorRequireConfigChange(const platform::Error& error);
  // A cache whose handler calls `operation` on this controller while it lives.
  std::shared_ptr<TELInstallationsSingleOperationPromiseCache> makeCache(
      std::function<PRMPromise::Ptr(TELInstallationsIDController&)> operation);

  std::string appID_;
  std::string appName_;
  std::shared_ptr<TELInstallationsStore> installationsStore_;
  std::shared_ptr<TELInstallationsIIDStore> IIDStore_;
  std::shared_ptr<TELInstallationsIIDTokenStore> IIDTokenStore_;
  std::shared_ptr<TELInstallationsAPIService> APIService_;
  std::shared_ptr<TELInstallationsBackoffControllerProtocol> backoffController_;
  CurrentDateProvider currentDate_;
  std::shared_ptr<TELInstallationsSingleOperationPromiseCache> getInstallationPromiseCache_;
  std::shared_ptr<TELInstallationsSingleOperationPromiseCache> authTokenPromiseCache_;
  std::shared_ptr<TELInstallationsSingleOperationPromiseCache> authTokenForcingRefreshPromiseCache_;
  std::shared_ptr<TELInstallationsSingleOperationPromiseCache> deleteInstallationPromiseCache_;
};
