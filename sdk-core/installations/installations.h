// TELInstallations: the installation identity of an SDK app, its InstID and a short-lived
// auth token issued for it by the installations service; session events and crash reports
// read both.
//
// One instance per configured app, created eagerly by the app's component container (the
// library registers as "tel-install" from the SDK's start-up registrations). Creating it
// checks the app's options and raises "ruv.telemetry.installations" when they cannot work.
// Every completion runs on the promise library's default queue (the main queue) and
// receives errors of the domain "ruv.telemetry.installations".
//
//   TELInstallations::installations()->installationIDWithCompletion(
//       [](std::optional<std::string> InstID, std::optional<platform::Error> error) { ... });
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "sdk-core/core/component.h"
#include "sdk-core/core/library.h"
#include "sdk-core/core/options.h"
#include "sdk-core/installations/installations_id_controller.h"

class TELApp;

inline constexpr const char* kTELInstallationsExceptionName = "ruv.telemetry.installations";
inline constexpr const char* kTELInstallationsLibraryName = "tel-install";

struct TELInstallationsAuthTokenResult {
  std::string authToken;
  platform::Date expirationDate;
};

// The protocol the component provides.
class TELInstallationsInstanceProvider : public TELComponentInstance {
 public:
  using IDHandler = std::function<void(std::optional<std::string>, std::optional<platform::Error>)>;
  using TokenHandler =
      std::function<void(std::optional<TELInstallationsAuthTokenResult>, std::optional<platform::Error>)>;
  using DeleteHandler = std::function<void(std::optional<platform::Error>)>;

  virtual void installationIDWithCompletion(IDHandler completion) = 0;
  virtual void authTokenWithCompletion(TokenHandler completion) = 0;
  virtual void authTokenForcingRefresh(bool forceRefresh, TokenHandler completion) = 0;
  virtual void deleteWithCompletion(DeleteHandler completion) = 0;
};

const TELProtocol& TELInstallationsInstanceProviderProtocol();

class TELInstallations final : public TELInstallationsInstanceProvider {
 public:
  explicit TELInstallations(const TELApp& app);
  // Raises "ruv.telemetry.installations" for unusable options.
  TELInstallations(const std::shared_ptr<TELOptions>& appOptions, const std::string& appName,
                   std::shared_ptr<TELInstallationsIDController> installationsIDController, bool prefetchAuthToken);

  // The default app's instance; raises when there is no default app.
  static std::shared_ptr<TELInstallations> installations();
  static std::shared_ptr<TELInstallations> installationsWithApp(const TELApp& app);

  void installationIDWithCompletion(IDHandler completion) override;
  void authTokenWithCompletion(TokenHandler completion) override;
  void authTokenForcingRefresh(bool forceRefresh, TokenHandler completion) override;
  void deleteWithCompletion(DeleteHandler completion) override;

  const std::shared_ptr<TELOptions>& appOptions() const { return appOptions_; }
  const std::string& appName() const { return appName_; }
  const std::shared_ptr<TELInstallationsIDController>& installationsIDController() const {
    return installationsIDController_;
  }

  static void validateAppOptions(const TELOptions& appOptions, const std::string& appName);
  // The findings about an API key, in order; empty when it is well formed.
  static std::vector<std::string> validateAPIKey(const std::optional<std::string>& APIKey);
  static void assertCompatibleIIDVersion();
  static bool isIIDVersionCompatible();

 private:
  std::shared_ptr<TELOptions> appOptions_;
  std::string appName_;
  std::shared_ptr<TELInstallationsIDController> installationsIDController_;
};

// The library face the app's registry knows ("tel-install", one always-eager component).
class TELInstallationsLibrary final : public TELLibrary {
 public:
  std::string className() const override { return "TELInstallations"; }
  std::vector<TELComponent> componentsToRegister() const override;
};

// The start-up registration: the archive classes of the installation record and legacy
// token, then the library with TELApp under "tel-install".
void TELInstallationsRegister();
// Only the archive classes (for tests and tools that use the store on its own). Idempotent.
void TELInstallationsRegisterArchiveClasses();
