#include "sdk-core/core/app.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdio>
#include <vector>

#include "platform/dispatch/once.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/defaults.h"
#include "platform/process_state/process_state.h"
#include "sdk-core/utilities/environment.h"
#include "sdk-core/utilities/logger.h"
#include "sdk-core/heartbeat/heartbeat_controller.h"

namespace {

constexpr const char* kService = "[TelemetryCore]";
constexpr const char* kDocumentationAddress = "https://docs.telemetry.invalid/setup";

struct AppRegistry {
  std::recursive_mutex lock;
  std::shared_ptr<TELApp> defaultApp;
  std::optional<TELApp::AppDictionary> apps;
  std::vector<std::shared_ptr<TELLibrary>> configureWithAppList;
  platform::OnceFlag registrationByName;
  std::mutex infoPlistMutex;
  bool infoPlistRead = false;
  std::optional<bool> infoPlistDataCollection;
};

void resetRegistry();

AppRegistry& registry() {
  static AppRegistry* made = [] {
    platform::addProcessStateReset(&resetRegistry);
    return new AppRegistry();  // apps may still be released at exit
  }();
  return *made;
}

std::string format(const char* pattern, const std::string& a = {}, const std::string& b = {},
                   const std::string& c = {}, const std::string& d = {}) {
  std::string out;
  const std::string* args[] = {&a, &b, &c, &d};
  size_t next = 0;
  for (const char* p = pattern; *p; ++p) {
    if (p[0] == '%' && p[1] == 's' && next < 4) {
      out += *args[next++];
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

[[noreturn]] void raise(const std::string& reason) { throw platform::Exception(TELAppErrorDomain, reason); }

// Unicode letters, marks and digits, plus the extra ASCII characters given.
bool containsOnly(const std::string& text, const char* extra) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const int32_t length = static_cast<int32_t>(text.size());
  int32_t index = 0;
  while (index < length) {
    UChar32 c;
    U8_NEXT(bytes, index, length, c);
    if (c < 0) return false;
    const int32_t mask = U_MASK(u_charType(c));
    if (mask & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) continue;
    bool allowed = false;
    for (const char* e = extra; *e; ++e) allowed = allowed || c == static_cast<UChar32>(*e);
    if (!allowed) return false;
  }
  return true;
}

bool numberTruth(const platform::PlistValue& value) {
  if (auto b = value.asBool()) return *b;
  if (auto d = value.toDouble()) return *d != 0.0;
  return value.asUnsignedInteger() != nullptr;
}

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Scanners over `text` from `pos`, each advancing it on success.
bool scanInteger(const std::string& text, size_t& pos) {
  size_t p = pos;
  if (p < text.size() && (text[p] == '+' || text[p] == '-')) ++p;
  const size_t start = p;
  while (p < text.size() && isDigit(text[p])) ++p;
  if (p == start) return false;
  pos = p;
  return true;
}

bool scanHexNumber(const std::string& text, size_t& pos) {
  size_t p = pos;
  if (p + 1 < text.size() && text[p] == '0' && (text[p + 1] == 'x' || text[p + 1] == 'X') &&
      p + 2 < text.size() && isHexDigit(text[p + 2])) {
    p += 2;
  }
  const size_t start = p;
  while (p < text.size() && isHexDigit(text[p])) ++p;
  if (p == start) return false;
  pos = p;
  return true;
}

bool scanLiteral(const std::string& text, size_t& pos, char c) {
  if (pos < text.size() && text[pos] == c) {
    ++pos;
    return true;
  }
  return false;
}

}  // namespace

// ---- Configuration ------------------------------------------------------------------------

void TELApp::configure() {
  auto options = TELOptions::defaultOptions();
  if (!options) {
    raise(format("`TelemetryApp.configure()` could not find a valid TelemetryService-Info.plist in your project. "
                 "Please download one from %s.",
                 kTELConsoleAddress));
  }
  configureWithOptions(options);
}

void TELApp::configureWithOptions(const std::shared_ptr<TELOptions>& options) {
  if (!options) raise("Options is nil. Please pass a valid options.");
  configureWithName(std::string(kTELDefaultAppName), options);
}

void TELApp::configureWithName(const std::optional<std::string>& name, const std::shared_ptr<TELOptions>& options) {
  if (!name || !options) raise("Neither name nor options can be nil.");
  if (name->empty()) raise("Name cannot be empty.");

  auto& state = registry();
  const bool isDefault = *name == kTELDefaultAppName;
  if (!isDefault && !containsOnly(*name, "-_")) {
    raise("App name can only contain alphanumeric, hyphen (-), and underscore (_) characters");
  }

  // The check for an existing app and the creation happen under one hold of the class lock,
  // so two threads configuring the same name cannot both get past the check.
  std::lock_guard lock(state.lock);
  if (isDefault) {
    if (state.defaultApp) {
      appWasConfiguredTwice(state.defaultApp, options);
      return;
    }
    TELLoggerLogDebug(kService, "I-COR000001", "Configuring the default app.");
  } else {
    if (state.apps) {
      if (auto it = state.apps->find(*name); it != state.apps->end()) {
        appWasConfiguredTwice(it->second, options);
        return;
      }
    }
    TELLoggerLogDebug(kService, "I-COR000002", "Configuring app named %s", name->c_str());
  }

  state.registrationByName.call([] { registerSwiftComponents(); });

  auto app = initInstanceWithName(*name, options);
  if (app->isDefaultApp()) state.defaultApp = app;
  addAppToAppDictionary(app);
  app->container()->instantiateEagerComponents();
  sendNotificationsToSDKs(app);
}

void TELApp::appWasConfiguredTwice(const std::shared_ptr<TELApp>& app, const std::shared_ptr<TELOptions>& options) {
  if (!UTLAppEnvironmentUtil::isAppExtension()) {
    if (app->isDefaultApp()) raise("Default app has already been configured.");
    raise(format("App named %s has already been configured.", app->name()));
  }
  if (app->options_->isEqualToOptions(*options)) {
    TELLoggerLogDebug(kService, "I-COR000035", "Ignoring second `configure` call in an extension.");
    return;
  }
  raise(format("App named %s has already been configured.", app->name()));
}

void TELApp::addAppToAppDictionary(const std::shared_ptr<TELApp>& app) {
  auto& state = registry();
  std::lock_guard lock(state.lock);
  if (!state.apps) state.apps.emplace();
  if (!app->configureCore()) {
    // Leave nothing half-configured behind, so that a corrected configure can follow.
    if (state.defaultApp == app) state.defaultApp.reset();
    state.apps->erase(app->name());
    raise("Configuration fails. It may be caused by an invalid ZIDEZA_APP_ID in TelemetryService-Info.plist or set "
          "in the customized options.");
  }
  (*state.apps)[app->name()] = app;
}

std::shared_ptr<TELApp> TELApp::initInstanceWithName(const std::string& name,
                                                     const std::shared_ptr<TELOptions>& options) {
  auto app = std::make_shared<TELApp>(PrivateTag{}, name, options);
  app->container_ = std::make_unique<TELComponentContainer>(app);
  app->heartbeatLogger_ = std::make_shared<TELHeartbeatLogger>(app->options_->zidezaAppID().value_or(""),
                                                               [] { return TELApp::telemetryUserAgent(); });
  return app;
}

TELApp::TELApp(PrivateTag, const std::string& name, const std::shared_ptr<TELOptions>& options)
    : isDefaultApp_(name == kTELDefaultAppName), options_(options->copy()), name_(name) {
  options_->setEditingLocked(true);
}

TELApp::~TELApp() {
  if (didBecomeActiveObserver_) platform::NotificationCenter::defaultCenter().removeObserver(*didBecomeActiveObserver_);
}

bool TELApp::configureCore() {
  checkBundleID();
  if (!validateAppID(options_->zidezaAppID())) {
    TELLoggerLogError(
        kService, "I-COR000009",
        "%s",
        format("The ZIDEZA_APP_ID either in the plist file '%s.%s' or the one set in the customized options is "
               "invalid. If you are using the plist file, use the iOS version of bundle identifier to download the "
               "file, and do not manually edit the ZIDEZA_APP_ID. You may change your app's bundle identifier to "
               "'%s'. Or you can download a new configuration file that matches your bundle identifier from %s "
               "and replace the current one.",
               kTELOptionsResourceName, kTELOptionsResourceType, options_->bundleID().value_or("(null)"),
               kTELConsoleAddress)
            .c_str());
    return false;
  }
  // No analytics library exists in this program, so the default app starts none.
  std::weak_ptr<TELApp> weak = weak_from_this();
  didBecomeActiveObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
      kTELApplicationDidBecomeActiveNotification, [weak](const platform::Notification&) {
        auto app = weak.lock();
        if (app && app->isDataCollectionDefaultEnabled()) {
          if (auto logger = app->heartbeatLogger()) logger->log();
        }
      });
  return true;
}

void TELApp::checkBundleID() const {
  auto bundleID = options_->bundleID();
  if (!bundleID) return;
  if (TELBundleUtil::hasBundleIdentifierPrefix(*bundleID, TELBundleUtil::relevantBundles())) return;
  TELLoggerLogError(
      kService, "I-COR000008", "%s",
      format("The project's Bundle ID is inconsistent with either the Bundle ID in '%s.%s', or the Bundle ID in the "
             "options if you are using a customized options. To ensure that everything can be configured "
             "correctly, you may need to make the Bundle IDs consistent. To continue with this plist file, you may "
             "change your app's bundle identifier to '%s'. Or you can download a new configuration file that "
             "matches your bundle identifier from %s and replace the current one.",
             kTELOptionsResourceName, kTELOptionsResourceType, *bundleID, kTELConsoleAddress)
          .c_str());
}

bool TELApp::validateAppID(const std::optional<std::string>& appID) {
  if (!appID || appID->empty()) return false;
  const std::string& id = *appID;
  size_t pos = 0;
  while (pos < id.size() && isDigit(id[pos])) ++pos;
  if (pos == 0) return false;
  const std::string version = id.substr(0, pos);
  if (!scanLiteral(id, pos, ':')) return false;
  if (version != "1") {
    TELLoggerLogInfo(kService, "I-COR000010", "Unknown ZIDEZA_APP_ID version: %s", version.c_str());
    return true;
  }
  // 1:<project number>:ios:<hexadecimal>, nothing after.
  if (!scanInteger(id, pos) || !scanLiteral(id, pos, ':')) return false;
  const size_t platformEnd = id.find(':', pos);
  if (platformEnd == std::string::npos || id.compare(pos, platformEnd - pos, "ios") != 0) return false;
  pos = platformEnd + 1;
  if (!scanHexNumber(id, pos) || pos != id.size()) return false;

  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t colon; (colon = id.find(':', start)) != std::string::npos; start = colon + 1) {
    parts.push_back(id.substr(start, colon - start));
  }
  parts.push_back(id.substr(start));
  if (parts.size() != 4 || parts[3].empty()) return false;
  size_t fingerprint = 0;
  return scanHexNumber(parts[3], fingerprint);
}

void TELApp::registerSwiftComponents() {
  static const std::pair<const char*, const char*> kLibraries[] = {
      {"TELSessions", "tel-ses"},
      {"TELFunctionsComponent", "tel-fun"},
      {"TELStorageComponent", "tel-str"},
      {"ZUZArudarAZIzuvuveve", "tel-ai"},
  };
  for (const auto& [className, token] : kLibraries) {
    if (auto library = TELClassRegistry::libraryNamed(className)) registerInternalLibrary(library, token);
  }
  static const std::pair<const char*, const char*> kTokensOnly[] = {
      {"TELCombineAuthLibrary", "comb-auth"},
      {"TELCombineDocstoreLibrary", "comb-docstore"},
      {"TELCombineFunctionsLibrary", "comb-functions"},
      {"TELCombineStorageLibrary", "comb-storage"},
  };
  for (const auto& [className, token] : kTokensOnly) {
    if (TELClassRegistry::classExists(className)) registerLibrary(token, TELSDKVersionString());
  }
}

void TELApp::sendNotificationsToSDKs(const std::shared_ptr<TELApp>& app) {
  platform::PlistValue::Dictionary userInfo;
  userInfo[kTELAppNameKey] = app->name();
  userInfo[kTELAppIsDefaultAppKey] = app->isDefaultApp();
  userInfo[kTELZidezaAppIDKey] = app->options_->zidezaAppID().value_or("");
  platform::NotificationCenter::defaultCenter().post(kTELAppReadyToConfigureSDKNotification, std::string("TELApp"),
                                                     std::move(userInfo));
  auto& state = registry();
  std::lock_guard lock(state.lock);
  const auto libraries = state.configureWithAppList;
  for (const auto& library : libraries) library->configureWithApp(app);
}

// ---- The app table -------------------------------------------------------------------------

std::shared_ptr<TELApp> TELApp::defaultApp() {
  auto& state = registry();
  std::lock_guard lock(state.lock);
  if (!state.defaultApp) {
    TELLoggerLogError(kService, "I-COR000003",
                      "The default Telemetry app has not yet been configured. Add `TelemetryApp.configure()` to your "
                      "application initialization. This can be done in in the App Delegate's "
                      "application(_:didFinishLaunchingWithOptions:)` (or the `@main` struct's initializer in "
                      "SwiftUI). Read more: %s",
                      kDocumentationAddress);
  }
  return state.defaultApp;
}

std::shared_ptr<TELApp> TELApp::appNamed(const std::string& name) {
  auto& state = registry();
  std::lock_guard lock(state.lock);
  if (state.apps) {
    if (auto it = state.apps->find(name); it != state.apps->end()) return it->second;
  }
  TELLoggerLogError(kService, "I-COR000004", "App with name %s does not exist.", name.c_str());
  return nullptr;
}

std::optional<TELApp::AppDictionary> TELApp::allApps() {
  auto& state = registry();
  std::lock_guard lock(state.lock);
  if (!state.apps) {
    TELLoggerLogError(kService, "I-COR000005", "No app has been configured yet.");
    return std::nullopt;
  }
  return *state.apps;
}

void TELApp::resetApps() {
  auto& state = registry();
  std::shared_ptr<TELApp> oldDefault;
  std::optional<AppDictionary> oldApps;
  {
    std::lock_guard lock(state.lock);
    oldDefault = std::move(state.defaultApp);
    state.defaultApp.reset();
    if (state.apps) {
      oldApps = std::move(*state.apps);
      state.apps->clear();
    }
    TELUserAgent::processUserAgent()->reset();
  }
  // The apps are released here, outside the lock.
}

bool TELApp::isDefaultAppConfigured() {
  auto& state = registry();
  std::lock_guard lock(state.lock);
  return state.defaultApp != nullptr;
}


namespace {
// Back to a fresh process: no apps, the once-only registration by name not run, an empty
// configure-with-app list and no cached Info.plist data-collection value.
void resetRegistry() {
  TELApp::resetApps();
  auto& state = registry();
  {
    std::lock_guard lock(state.lock);
    state.apps.reset();
    state.configureWithAppList.clear();
    state.registrationByName.reset();
  }
  std::lock_guard lock(state.infoPlistMutex);
  state.infoPlistRead = false;
  state.infoPlistDataCollection.reset();
}
}  // namespace

// ---- Libraries -----------------------------------------------------------------------------

void TELApp::registerInternalLibrary(const std::shared_ptr<TELLibrary>& library, const std::string& name) {
  registerInternalLibrary(library, name, TELSDKVersionString());
}

void TELApp::registerInternalLibrary(const std::shared_ptr<TELLibrary>& library, const std::string& name,
                                     const std::string& version) {
  if (!library) {
    throw platform::Exception(platform::kInvalidArgumentException,
                              "Class (null) attempted to register components, but it does not conform to `TELLibrary "
                              "or provide a `componentsToRegister:` method.");
  }
  TELComponentContainer::registerAsComponentRegistrant(library);
  if (library->respondsToConfigureWithApp()) {
    auto& state = registry();
    std::lock_guard lock(state.lock);
    state.configureWithAppList.push_back(library);
  }
  registerLibrary(name, version);
}

void TELApp::registerLibrary(const std::string& name, const std::string& version) {
  if (!containsOnly(name, "-_.") || !containsOnly(version, "-_.")) {
    TELLoggerLogError(kService, "I-COR000027",
                      "The library name (%s) or version number (%s) contain invalid characters. Only alphanumeric, "
                      "dash, underscore and period characters are allowed.",
                      name.c_str(), version.c_str());
    return;
  }
  userAgent()->setValue(version, name);
}

std::shared_ptr<TELUserAgent> TELApp::userAgent() { return TELUserAgent::processUserAgent(); }

std::string TELApp::telemetryUserAgent() { return userAgent()->telemetryUserAgent(); }

platform::Error TELApp::errorForMissingOptions() {
  return platform::Error(TELAppErrorDomain, -100,
                         {{platform::kErrorLocalizedDescriptionKey,
                           "Unable to parse TelemetryService-Info.plist in order to configure services."},
                          {"NSLocalizedRecoverySuggestion",
                           "Check formatting and location of TelemetryService-Info.plist."}});
}

platform::Error TELApp::errorForInvalidAppID() {
  return platform::Error(TELAppErrorDomain, -101,
                         {{platform::kErrorLocalizedDescriptionKey, "Unable to validate Zideza App ID"},
                          {"NSLocalizedRecoverySuggestion",
                           "Check formatting and location of TelemetryService-Info.plist or ZidezaAppID set in the "
                           "customized options."}});
}

// ---- One app -------------------------------------------------------------------------------

std::shared_ptr<TELHeartbeatLogger> TELApp::heartbeatLogger() const {
  std::lock_guard lock(heartbeatLoggerMutex_);
  return heartbeatLogger_;
}

std::string TELApp::dataCollectionDefaultsKey() const {
  return format("/zideza/telemetry/global_data_collection_enabled:%s", name_);
}

bool TELApp::isDataCollectionDefaultEnabled() const {
  if (auto stored = platform::UserDefaults::standard()->object(dataCollectionDefaultsKey());
      stored && stored->isNumber()) {
    return numberTruth(*stored);
  }
  auto& state = registry();
  std::lock_guard lock(state.infoPlistMutex);
  if (!state.infoPlistRead) {
    state.infoPlistRead = true;
    auto value = platform::Bundle::main()->objectForInfoDictionaryKey(kTELGlobalAppDataCollectionEnabledPlistKey);
    if (value && value->isNumber()) state.infoPlistDataCollection = numberTruth(*value);
  }
  return state.infoPlistDataCollection.value_or(true);
}

void TELApp::setDataCollectionDefaultEnabled(bool enabled) {
  (void)platform::UserDefaults::standard()->set(dataCollectionDefaultsKey(), enabled);
  if (isDefaultApp_ && !options_->isAnalyticsCollectionExplicitlySet()) {
    TELAnalyticsConfiguration::sharedInstance()->setAnalyticsCollectionEnabled(enabled, false);
  }
}

void TELApp::deleteApp(const std::function<void(bool success)>& completion) {
  auto self = shared_from_this();
  auto& state = registry();
  std::lock_guard lock(state.lock);
  if (!state.apps || state.apps->count(name_) == 0) {
    TELLoggerLogError(kService, "I-COR000007", "App does not exist.");
    if (completion) completion(false);
    return;
  }
  TELLoggerLogDebug(kService, "I-COR000006", "Deleting app named %s", name_.c_str());
  container_->removeAllComponents();
  container_->removeAllCachedInstances();
  state.apps->erase(name_);
  (void)platform::UserDefaults::standard()->remove(dataCollectionDefaultsKey());
  if (name_ == kTELDefaultAppName) state.defaultApp.reset();
  platform::NotificationCenter::defaultCenter().post(kTELAppDeleteNotification, std::string("TELApp"),
                                                     platform::PlistValue::Dictionary{{kTELAppNameKey, name_}});
  if (completion) completion(true);
}

// ---- Configuration singletons --------------------------------------------------------------

std::shared_ptr<TELAnalyticsConfiguration> TELAnalyticsConfiguration::sharedInstance() {
  static const auto instance = std::make_shared<TELAnalyticsConfiguration>();
  return instance;
}

void TELAnalyticsConfiguration::setAnalyticsCollectionEnabled(bool enabled) {
  setAnalyticsCollectionEnabled(enabled, true);
}

void TELAnalyticsConfiguration::setAnalyticsCollectionEnabled(bool enabled, bool persistSetting) {
  if (persistSetting) {
    auto defaults = platform::UserDefaults::standard();
    (void)defaults->set(kTELMeasurementEnabledStateKey, int64_t{enabled ? 1 : 2});
    (void)defaults->synchronize();
  }
  postNotificationName(kTELAnalyticsConfigurationSetEnabledNotification, platform::PlistValue(enabled));
}

void TELAnalyticsConfiguration::postNotificationName(const std::string& name,
                                                     const std::optional<platform::PlistValue>& value) {
  if (name.empty() || !value) return;
  platform::NotificationCenter::defaultCenter().post(name, sharedInstance(), platform::PlistValue::Dictionary{{name, *value}});
}

std::shared_ptr<TELConfiguration> TELConfiguration::sharedInstance() {
  static const auto instance = std::make_shared<TELConfiguration>();
  return instance;
}

void TELConfiguration::setLoggerLevel(long level) {
  if (level < 3 || level > 7) {
    throw platform::Exception(platform::kInternalInconsistencyException,
                              "Invalid logger level, " + std::to_string(level));
  }
  TELLoggerSetLevel(static_cast<TELLoggerLevel>(level));
}
