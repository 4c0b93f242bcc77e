#include "transport/sessions/application_info.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "sdk-core/utilities/environment.h"
#include "sdk-core/utilities/logger.h"
#include "sdk-core/utilities/network_info.h"
#include "transport/sessions/ses_nanopb.h"

extern char** environ;

int NetworkInfo::networkType() const { return UTLNetworkInfo::getNetworkType(); }

std::string NetworkInfo::mobileSubtype() const { return UTLNetworkInfo::getNetworkRadioType().value_or(""); }

ApplicationInfo::ApplicationInfo(std::string appID, std::shared_ptr<NetworkInfoProtocol> networkInfo,
                                 Environment envParams, std::optional<platform::PlistValue::Dictionary> infoDict)
    : appID_(std::move(appID)),
      networkInfo_(std::move(networkInfo)),
      envParams_(std::move(envParams)),
      infoDict_(std::move(infoDict)),
      osDisplayVersion_(UTLAppEnvironmentUtil::systemVersion()),
      deviceModel_(UTLAppEnvironmentUtil::deviceSimulatorModel().value_or("")),
      devicePlatform_(UTLAppEnvironmentUtil::appleDevicePlatform()) {}

ApplicationInfo::Environment ApplicationInfo::processEnvironment() {
  Environment variables;
  for (char** entry = environ; entry && *entry; ++entry) {
    const std::string text = *entry;
    const size_t equals = text.find('=');
    if (equals == std::string::npos) continue;
    variables.emplace(text.substr(0, equals), text.substr(equals + 1));
  }
  return variables;
}

SessionsApplicationEnvironment ApplicationInfo::environment() const {
  auto found = envParams_.find(kSessionsRunEnvironmentVariable);
  return SESApplicationEnvironmentFor(found == envParams_.end() ? std::nullopt
                                                                : std::optional<std::string>(found->second));
}

std::string ApplicationInfo::infoText(const char* key) const {
  if (!infoDict_) return {};
  const auto found = infoDict_->find(key);
  if (found == infoDict_->end()) return {};
  const std::string* text = found->second.asString();
  return text ? *text : std::string();
}

std::string ApplicationInfo::appBuildVersion() const { return infoText("CFBundleVersion"); }

std::string ApplicationInfo::appDisplayVersion() const { return infoText("CFBundleShortVersionString"); }

namespace {
std::string lowercased(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}
}  // namespace

SessionsApplicationEnvironment SESApplicationEnvironmentFor(const std::optional<std::string>& text) {
  if (!text) return SessionsApplicationEnvironment::prod;
  const size_t first = text->find_first_not_of(" \t");
  const size_t last = text->find_last_not_of(" \t");
  const std::string word = first == std::string::npos ? std::string() : lowercased(text->substr(first, last - first + 1));
  if (word == "staging") return SessionsApplicationEnvironment::staging;
  if (word == "autopush") return SessionsApplicationEnvironment::autopush;
  return SessionsApplicationEnvironment::prod;
}

telemetry_quality_sessions_NetworkType SESNetworkTypeFor(int networkType) {
  switch (networkType) {
    case 0:
      return telemetry_quality_sessions_NetworkType_NETWORK_TYPE_MOBILE;
    case 1:
      return telemetry_quality_sessions_NetworkType_NETWORK_TYPE_WIFI;
    default:
      return telemetry_quality_sessions_NetworkType_NETWORK_TYPE_NONE;
  }
}

telemetry_quality_sessions_MobileSubtype SESMobileSubtypeFor(const std::string& radio) {
  static const std::pair<const char*, telemetry_quality_sessions_MobileSubtype> kTable[] = {
      {CTRadioAccessTechnologyGPRS, telemetry_quality_sessions_MobileSubtype_MOBILE_SUBTYPE_GPRS},
      {CTRadioAccessTechnologyEdge, telemetry_quality_sessions_MobileSubtype_MOBILE_SUBTYPE_EDGE},
      {CTRadioAccessTechnologyWCDMA, telemetry_quality_sessions_MobileSubtype_MOBILE_SUBTYPE_CDMA},
      {CTRadioAccessTechnologyCDMA1x, telemetry_quality_sessions_MobileSubtype_MOBILE_SUBTYPE_CDMA},
      {CTRadioAccessTechnologyHSDPA, telemetry_quality_sessions_MobileSubtype_MOBILE_SUBTYPE_HSDPA},
      {CTRadioAccessTechnologyHSUPA, telemetry_quality_sessions_MobileSubtype_MOBILE_SUBTYPE_HSUPA},
      {CTRadioAccessTechnologyCDMAEVDORev0, telemetry_quality_sessions_MobileSubtype_MOBILE_SUBTYPE_EVDO_0},
      {CTRadioAccessTechnologyCDMAEVDORevA, telemetry_quality_sessions_MobileSubtype_MOBILE_SUBTYPE_EVDO_A},
      {CTRadioAccessTechnologyCDMAEVDORevB, telemetry_quality_sessions_MobileSubtype_MOBILE_SUBTYPE_EVDO_B},
      {CTRadioAccessTechnologyeHRPD, telemetry_quality_sessions_MobileSubtype_MOBILE_SUBTYPE_EHRPD},
      {CTRadioAccessTechnologyLTE, telemetry_quality_sessions_MobileSubtype_MOBILE_SUBTYPE_LTE},
      {CTRadioAccessTechnologyNRNSA, telemetry_quality_sessions_MobileSubtype_MOBILE_SUBTYPE_NR},
      {CTRadioAccessTechnologyNR, telemetry_quality_sessions_MobileSubtype_MOBILE_SUBTYPE_NR},
  };
  for (const auto& [name, subtype] : kTable) {
    if (radio == name) return subtype;
  }
  return telemetry_quality_sessions_MobileSubtype_MOBILE_SUBTYPE_UNKNOWN;
}

telemetry_quality_sessions_OsName SESOsNameFor(const std::string& platform) {
  static const std::pair<const char*, telemetry_quality_sessions_OsName> kTable[] = {
      {"macos", telemetry_quality_sessions_OsName_OS_NAME_MACOS},
      {"maccatalyst", telemetry_quality_sessions_OsName_OS_NAME_MACCATALYST},
      {"ios_on_mac", telemetry_quality_sessions_OsName_OS_NAME_IOS_ON_MAC},
      {"ios", telemetry_quality_sessions_OsName_OS_NAME_IOS},
      {"tvos", telemetry_quality_sessions_OsName_OS_NAME_TVOS},
      {"watchos", telemetry_quality_sessions_OsName_OS_NAME_WATCHOS},
      {"ipados", telemetry_quality_sessions_OsName_OS_NAME_IPADOS},
  };
  const std::string lower = lowercased(platform);
  for (const auto& [name, osName] : kTable) {
    if (lower == name) return osName;
  }
  TELLoggerWrapper::logWithLevel(TELLoggerLevel::Warning, kSESLogService, kSESLogCode,
                                 "Found unknown OSName: \"" + platform + "\" while converting.");
  return telemetry_quality_sessions_OsName_OS_NAME_UNKNOWN_OSNAME;
}
