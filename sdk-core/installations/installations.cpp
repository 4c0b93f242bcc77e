#include "sdk-core/installations/installations.h"

#include <mutex>

#include "platform/foundation/keyed_archiver.h"
#include "sdk-core/core/app.h"
#include "sdk-core/installations/installations_errors.h"
#include "sdk-core/installations/installations_iid_store.h"
#include "sdk-core/installations/installations_item.h"
#include "sdk-core/installations/installations_logger.h"

namespace {

constexpr size_t kAPIKeyLength = 39;
constexpr const char* kDocumentationAddress = "https://docs.telemetry.invalid/installations/current-registration-token";

std::string joined(const std::vector<std::string>& parts) {
  std::string out;
  for (const auto& part : parts) out += (out.empty() ? "" : ", ") + part;
  return out;
}

bool isEmpty(const std::optional<std::string>& value) { return !value || value->empty(); }

[[noreturn]] void raise(const std::string& reason) {
  throw platform::Exception(kTELInstallationsExceptionName, reason);
}

std::shared_ptr<TELInstallationsItem> itemOf(const PRMObject& value) {
  const auto* item = value.get<std::shared_ptr<TELInstallationsItem>>();
  return item ? *item : nullptr;
}

}  // namespace

const TELProtocol& TELInstallationsInstanceProviderProtocol() {
  static const TELProtocol protocol =
      TELProtocol::of<TELInstallationsInstanceProvider>("TELInstallationsInstanceProvider");
  return protocol;
}

// ---- Creation and checks ---------------------------------------------------------------

TELInstallations::TELInstallations(const TELApp& app)
    : TELInstallations(app.options(), app.name(), TELInstallationsIDController::initWithApp(app), false) {}

TELInstallations::TELInstallations(const std::shared_ptr<TELOptions>& appOptions, const std::string& appName,
                                   std::shared_ptr<TELInstallationsIDController> installationsIDController,
                                   bool prefetchAuthToken) {
  validateAppOptions(*appOptions, appName);
  assertCompatibleIIDVersion();
  appOptions_ = appOptions->copy();
  appName_ = appName;
  installationsIDController_ = std::move(installationsIDController);
  if (prefetchAuthToken) authTokenWithCompletion([](auto, auto) {});
}

void TELInstallations::validateAppOptions(const TELOptions& appOptions, const std::string& appName) {
  std::vector<std::string> missing;
  if (appName.empty()) missing.push_back("`TelemetryApp.name`");
  if (isEmpty(appOptions.APIKey())) missing.push_back("`TelemetryOptions.APIKey`");
  if (isEmpty(appOptions.zidezaAppID())) missing.push_back("`TelemetryOptions.zidezaAppID`");
  if (isEmpty(appOptions.projectID())) missing.push_back("`TelemetryOptions.projectID`");
  if (!missing.empty()) {
    raise(std::string(kTELInstallationsLoggerService) +
          "[I-TIS008000] Could not configure Telemetry Installations due to invalid TelemetryApp options. The "
          "following parameters are nil or empty: " +
          joined(missing) +
          ". If you use TelemetryServices-Info.plist please download the most recent version from the Telemetry "
          "Console. If you configure Telemetry in code, please make sure you specify all required parameters.");
  }
  const auto findings = validateAPIKey(appOptions.APIKey());
  if (!findings.empty()) {
    raise(std::string(kTELInstallationsLoggerService) +
          "[I-TIS008000] Could not configure Telemetry Installations due to invalid TelemetryApp options. "
          "`TelemetryOptions.APIKey` doesn't match the expected format: " +
          joined(findings) +
          ". If you use TelemetryServices-Info.plist please download the most recent version from the Telemetry "
          "Console. If you configure Telemetry in code, please make sure you specify all required parameters.");
  }
}

std::vector<std::string> TELInstallations::validateAPIKey(const std::optional<std::string>& APIKey) {
  const std::string key = APIKey.value_or("");
  std::vector<std::string> findings;
  if (key.size() != kAPIKeyLength) {
    findings.push_back("API Key length must be " + std::to_string(kAPIKeyLength) + " characters");
  }
  if (key.empty() || key.front() != 'A') findings.push_back("API Key must start with `A`");
  for (char c : key) {
    const bool allowed =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    if (!allowed) {
      findings.push_back("API Key must contain only base64 url-safe characters characters");
      break;
    }
  }
  return findings;
}

bool TELInstallations::isIIDVersionCompatible() {
  // A legacy instance-ID class would have to answer "usesTIS"; no class of this program does.
  return !TELClassRegistry::classExists("TELInstanceID");
}

void TELInstallations::assertCompatibleIIDVersion() {
  if (isIIDVersionCompatible()) return;
  raise(std::string("Telemetry Instance ID is not compatible with Telemetry 8.x+. Please remove the dependency from "
                    "the app. See the documentation at ") +
        kDocumentationAddress);
}

std::shared_ptr<TELInstallations> TELInstallations::installations() {
  auto app = TELApp::defaultApp();
  if (!app) {
    raise(
        "The default TelemetryApp instance must be configured before the defaultTelemetryApp instance can be "
        "initialized. One way to ensure this is to call `TelemetryApp.configure()` in the App  Delegate's "
        "`application(_:didFinishLaunchingWithOptions:)` (or the `@main` struct's initializer in SwiftUI).");
  }
  return installationsWithApp(*app);
}

std::shared_ptr<TELInstallations> TELInstallations::installationsWithApp(const TELApp& app) {
  return TELComponentType<TELInstallations>::instanceForProtocol(TELInstallationsInstanceProviderProtocol(),
                                                                 app.container());
}

// ---- Public calls ----------------------------------------------------------------------

void TELInstallations::installationIDWithCompletion(IDHandler completion) {
  installationsIDController_->getInstallationItem()->observeOnQueue(
      PRMPromise::defaultDispatchQueue(),
      [completion](const PRMObject& value) { completion(itemOf(value)->telemetryInstallationID, std::nullopt); },
      [completion](const platform::Error& error) {
        completion(std::nullopt, TELInstallationsErrorUtil::publicDomainErrorWithError(error));
      });
}

void TELInstallations::authTokenWithCompletion(TokenHandler completion) {
  authTokenForcingRefresh(false, std::move(completion));
}

void TELInstallations::authTokenForcingRefresh(bool forceRefresh, TokenHandler completion) {
  installationsIDController_->getAuthTokenForcingRefresh(forceRefresh)
      ->observeOnQueue(
          PRMPromise::defaultDispatchQueue(),
          [completion](const PRMObject& value) {
            auto item = itemOf(value);
            const auto& token = item->authToken;
            completion(TELInstallationsAuthTokenResult{token ? token->token().value_or("") : std::string(),
                                                       token ? token->expirationDate().value_or(platform::Date{})
                                                             : platform::Date{}},
                       std::nullopt);
          },
          [completion](const platform::Error& error) {
            completion(std::nullopt, TELInstallationsErrorUtil::publicDomainErrorWithError(error));
          });
}

void TELInstallations::deleteWithCompletion(DeleteHandler completion) {
  installationsIDController_->deleteInstallation()->observeOnQueue(
      PRMPromise::defaultDispatchQueue(), [completion](const PRMObject&) { completion(std::nullopt); },
      [completion](const platform::Error& error) {
        completion(TELInstallationsErrorUtil::publicDomainErrorWithError(error));
      });
}

// ---- Registration ----------------------------------------------------------------------

std::vector<TELComponent> TELInstallationsLibrary::componentsToRegister() const {
  return {TELComponent::componentWithProtocol(
      TELInstallationsInstanceProviderProtocol(), TELInstantiationTiming::alwaysEager, {},
      [](TELComponentContainer& container, bool* isCacheable) -> std::shared_ptr<TELComponentInstance> {
        *isCacheable = true;
        auto app = container.app();
        if (!app) return nullptr;
        return std::make_shared<TELInstallations>(*app);
      })};
}

void TELInstallationsRegisterArchiveClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    platform::KeyedClassRegistry::registerClass<TELInstallationsStoredAuthToken>();
    platform::KeyedClassRegistry::registerClass<TELInstallationsStoredItem>();
    platform::KeyedClassRegistry::registerClass<TELInstallationsIIDTokenInfo>();
  });
}

void TELInstallationsRegister() {
  TELInstallationsRegisterArchiveClasses();
  TELApp::registerInternalLibrary(std::make_shared<TELInstallationsLibrary>(), kTELInstallationsLibraryName);
}
