#include "sdk-core/core/options.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>

#include "platform/dispatch/once.h"
#include "platform/foundation/error.h"
#include "platform/foundation/paths.h"
#include "platform/process_state/process_state.h"
#include "sdk-core/core/app.h"
#include "sdk-core/utilities/environment.h"
#include "sdk-core/utilities/logger.h"

namespace {

constexpr const char* kService = "[TelemetryCore]";
constexpr const char* kIsMeasurementEnabled = "IS_MEASUREMENT_ENABLED";
constexpr const char* kAnalyticsCollectionEnabled = "TELEMETRY_ANALYTICS_COLLECTION_ENABLED";
constexpr const char* kAnalyticsCollectionDeactivated = "TELEMETRY_ANALYTICS_COLLECTION_DEACTIVATED";

struct DefaultOptionsCache {
  platform::OnceFlag dictionaryOnce;
  std::optional<TELOptions::Dictionary> dictionary;
  platform::OnceFlag optionsOnce;
  std::shared_ptr<TELOptions> options;
};

DefaultOptionsCache& defaultCache() {
  static auto* cache = [] {
    platform::addProcessStateReset(&TELOptions::resetDefaultOptions);
    return new DefaultOptionsCache();
  }();
  return *cache;
}

std::optional<TELOptions::Dictionary> readDictionary(const std::filesystem::path& path) {
  auto bytes = platform::readFileContents(path);
  if (!bytes) return std::nullopt;
  auto value = platform::decodePlist(*bytes);
  if (!value || !value->asDictionary()) return std::nullopt;
  return *value->asDictionary();
}

// The truth value of a property-list value the way a number or a string answers it:
// numbers are true when non-zero; strings when they start (after spaces) with Y, y, T, t
// or a digit 1-9 (after an optional sign and zeros).
bool boolValue(const platform::PlistValue& value) {
  if (auto b = value.asBool()) return *b;
  if (auto i = value.asInteger()) return *i != 0;
  if (auto u = value.asUnsignedInteger()) return *u != 0;
  if (auto r = value.asReal()) return *r != 0.0;
  if (auto s = value.asString()) {
    size_t i = 0;
    while (i < s->size() && ((*s)[i] == ' ' || (*s)[i] == '\t')) ++i;
    if (i < s->size() && ((*s)[i] == '+' || (*s)[i] == '-')) ++i;
    while (i < s->size() && (*s)[i] == '0') ++i;
    if (i >= s->size()) return false;
    const char c = (*s)[i];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
  }
  return false;
}

}  // namespace

// ---- Creation ----------------------------------------------------------------------------

std::optional<std::filesystem::path> TELOptions::plistFilePathWithName(const std::string& name) {
  return TELBundleUtil::optionsDictionaryPathWithResourceName(name, kTELOptionsResourceType,
                                                              TELBundleUtil::relevantBundles());
}

std::optional<TELOptions::Dictionary> TELOptions::defaultOptionsDictionary() {
  auto& cache = defaultCache();
  cache.dictionaryOnce.call([&cache] {
    auto path = plistFilePathWithName(kTELOptionsResourceName);
    if (!path) {
      TELLoggerLogError(kService, "I-COR000012", "Could not locate configuration file: '%s.%s'.",
                        kTELOptionsResourceName, kTELOptionsResourceType);
      return;
    }
    cache.dictionary = readDictionary(*path);
    if (!cache.dictionary) {
      TELLoggerLogError(kService, "I-COR000011", "The configuration file is not a dictionary: '%s.%s'.",
                        kTELOptionsResourceName, kTELOptionsResourceType);
    }
  });
  return cache.dictionary;
}

std::shared_ptr<TELOptions> TELOptions::defaultOptions() {
  auto& cache = defaultCache();
  cache.optionsOnce.call([&cache] {
    if (auto dictionary = defaultOptionsDictionary()) cache.options = initInternalWithOptionsDictionary(*dictionary);
  });
  return cache.options;
}

void TELOptions::resetDefaultOptions() {
  auto& cache = defaultCache();
  cache.optionsOnce.reset();
  cache.dictionaryOnce.reset();
  cache.options.reset();
  cache.dictionary.reset();
}

std::shared_ptr<TELOptions> TELOptions::initInternalWithOptionsDictionary(const Dictionary& dictionary) {
  auto options = std::make_shared<TELOptions>(InternalTag{}, dictionary);
  options->usingOptionsFromDefaultPlist_ = true;
  return options;
}

std::shared_ptr<TELOptions> TELOptions::initWithContentsOfFile(const std::optional<std::filesystem::path>& path) {
  if (!path) {
    TELLoggerLogError(kService, "I-COR000013", "The plist file path is nil.");
    return nullptr;
  }
  auto dictionary = readDictionary(*path);
  if (!dictionary) {
    TELLoggerLogError(kService, "I-COR000014",
                      "The configuration file at %s does not exist or is not a well-formed plist file.",
                      path->c_str());
    return nullptr;
  }
  return std::make_shared<TELOptions>(InternalTag{}, std::move(*dictionary));
}

TELOptions::TELOptions(const std::string& zidezaAppID, const std::string& PushSenderID) {
  optionsDictionary_["ZIDEZA_APP_ID"] = zidezaAppID;
  optionsDictionary_["PUSH_SENDER_ID"] = PushSenderID;
  if (auto identifier = platform::Bundle::main()->bundleIdentifier()) optionsDictionary_["BUNDLE_ID"] = *identifier;
}

std::shared_ptr<TELOptions> TELOptions::copy() const {
  auto made = std::make_shared<TELOptions>(InternalTag{}, optionsDictionary_);
  made->setDeepLinkURLScheme(deepLinkURLScheme_);
  made->setAppGroupID(appGroupID_);
  made->editingLocked_ = editingLocked_;
  made->usingOptionsFromDefaultPlist_ = usingOptionsFromDefaultPlist_;
  return made;
}

// ---- Values ------------------------------------------------------------------------------

std::optional<std::string> TELOptions::stringFor(const char* key) const {
  auto it = optionsDictionary_.find(key);
  if (it == optionsDictionary_.end()) return std::nullopt;
  if (auto text = it->second.asString()) return *text;
  return std::nullopt;
}

void TELOptions::checkEditingLocked() const {
  if (editingLocked_) {
    throw platform::Exception(TELAppErrorDomain,
                              "Attempted to modify options after it's set on TELApp. Please modify all properties "
                              "before initializing TELApp.");
  }
}

void TELOptions::setString(const char* key, std::optional<std::string> value) {
  checkEditingLocked();
  if (value) {
    optionsDictionary_[key] = std::move(*value);
  } else {
    optionsDictionary_.erase(key);
  }
}

void TELOptions::setDeepLinkURLScheme(std::optional<std::string> value) {
  checkEditingLocked();
  deepLinkURLScheme_ = std::move(value);
}

void TELOptions::setAppGroupID(std::optional<std::string> value) {
  checkEditingLocked();
  appGroupID_ = std::move(value);
}

// ---- Analytics ---------------------------------------------------------------------------

TELOptions::Dictionary TELOptions::analyticsOptionsDictionary() const {
  std::lock_guard lock(analyticsMutex_);
  if (!analyticsOptionsDictionary_) {
    Dictionary made;
    auto bundle = platform::Bundle::main();
    for (const char* key : {kIsMeasurementEnabled, kAnalyticsCollectionEnabled, kAnalyticsCollectionDeactivated}) {
      if (auto value = bundle->objectForInfoDictionaryKey(key)) {
        made[key] = *value;
      } else if (auto it = optionsDictionary_.find(key); it != optionsDictionary_.end()) {
        made[key] = it->second;
      }
    }
    analyticsOptionsDictionary_ = std::move(made);
  }
  return *analyticsOptionsDictionary_;
}

bool TELOptions::isAnalyticsCollectionDeactivated() const {
  auto analytics = analyticsOptionsDictionary();
  auto it = analytics.find(kAnalyticsCollectionDeactivated);
  return it != analytics.end() && boolValue(it->second);
}

bool TELOptions::isMeasurementEnabled() const {
  if (isAnalyticsCollectionDeactivated()) return false;
  auto analytics = analyticsOptionsDictionary();
  if (auto it = analytics.find(kIsMeasurementEnabled); it != analytics.end()) return boolValue(it->second);
  if (TELApp::isDefaultAppConfigured()) {
    if (auto app = TELApp::defaultApp()) return app->isDataCollectionDefaultEnabled();
  }
  return false;
}

bool TELOptions::isAnalyticsCollectionEnabled() const {
  if (isAnalyticsCollectionDeactivated()) return false;
  auto analytics = analyticsOptionsDictionary();
  if (auto it = analytics.find(kAnalyticsCollectionEnabled); it != analytics.end()) return boolValue(it->second);
  return isMeasurementEnabled();
}

bool TELOptions::isAnalyticsCollectionExplicitlySet() const {
  if (isAnalyticsCollectionDeactivated()) return true;
  auto analytics = analyticsOptionsDictionary();
  for (const char* key : {kAnalyticsCollectionEnabled, kIsMeasurementEnabled}) {
    if (auto it = analytics.find(key); it != analytics.end() && it->second.isNumber()) return true;
  }
  return false;
}

const std::string& TELOptions::libraryVersionID() {
  static const std::string id = [] {
    std::string version = TELSDKVersionString();
    std::string out;
    std::stringstream parts(version);
    std::string part;
    for (int i = 0; i < 3; ++i) {
      if (!std::getline(parts, part, '.')) part.clear();
      char buffer[16];
      std::snprintf(buffer, sizeof buffer, "%02d", std::atoi(part.c_str()));
      out += buffer;
    }
    return out + "000";
  }();
  return id;
}

// ---- Equality ----------------------------------------------------------------------------

bool TELOptions::isEqualToOptions(const TELOptions& other) const {
  if (this == &other) return true;
  return optionsDictionary_ == other.optionsDictionary_ && deepLinkURLScheme_ == other.deepLinkURLScheme_ &&
         appGroupID_ == other.appGroupID_ && analyticsOptionsDictionary() == other.analyticsOptionsDictionary();
}

size_t TELOptions::hash() const {
  const std::hash<std::string> hashText;
  size_t value = optionsDictionary_.size();
  if (deepLinkURLScheme_) value ^= hashText(*deepLinkURLScheme_);
  if (appGroupID_) value ^= hashText(*appGroupID_);
  return value;
}

// ---- Bundle utilities --------------------------------------------------------------------

TELBundleUtil::Bundles TELBundleUtil::relevantBundles() {
  auto main = platform::Bundle::main();
  return {main, main};
}

std::optional<std::filesystem::path> TELBundleUtil::optionsDictionaryPathWithResourceName(const std::string& name,
                                                                                         const std::string& type,
                                                                                         const Bundles& bundles) {
  for (const auto& bundle : bundles) {
    if (!bundle) continue;
    if (auto path = bundle->pathForResource(name, type)) return path;
  }
  return std::nullopt;
}

std::vector<std::string> TELBundleUtil::relevantURLSchemes() {
  std::vector<std::string> schemes;
  for (const auto& bundle : relevantBundles()) {
    auto types = bundle->objectForInfoDictionaryKey("CFBundleURLTypes");
    if (!types || !types->asArray()) continue;
    for (const auto& type : *types->asArray()) {
      const auto* list = type.find("CFBundleURLSchemes");
      if (!list || !list->asArray()) continue;
      for (const auto& scheme : *list->asArray()) {
        if (auto text = scheme.asString()) schemes.push_back(*text);
      }
    }
  }
  return schemes;
}

bool TELBundleUtil::hasBundleIdentifierPrefix(const std::string& identifier, const Bundles& bundles) {
  const bool inExtension = UTLAppEnvironmentUtil::isAppExtension();
  for (const auto& bundle : bundles) {
    if (!bundle) continue;
    auto own = bundle->bundleIdentifier();
    if (!own) continue;
    if (*own == identifier) return true;
    if (inExtension && bundleIdentifierByRemovingLastPartFrom(*own) == identifier) return true;
  }
  return false;
}

std::string TELBundleUtil::bundleIdentifierByRemovingLastPartFrom(const std::string& identifier) {
  auto dot = identifier.rfind('.');
  return dot == std::string::npos ? std::string() : identifier.substr(0, dot);
}
