// What a session event says about the app and the network: `ApplicationInfo` (the Zideza app
// ID, the run environment, the app's versions from its Info.plist, the device's facts, read once
// when it is made) and `NetworkInfo` (the network type and radio technology), with the mappings
// of those values to the event's codes.
//
// Both are immutable after construction and may be read from any thread.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/plist.h"
#include "sessions.pb.h"

class NetworkInfoProtocol {
 public:
  virtual ~NetworkInfoProtocol() = default;
  // -1 not reachable, 0 cellular, 1 another network.
  virtual int networkType() const = 0;
  // The radio access technology's name, or empty text.
  virtual std::string mobileSubtype() const = 0;
};

// The network as the SDK's utilities see it.
class NetworkInfo final : public NetworkInfoProtocol {
 public:
  int networkType() const override;
  std::string mobileSubtype() const override;
};

// The run environment: production, staging or autopush.
enum class SessionsApplicationEnvironment : int { prod = 0, staging = 1, autopush = 2 };

class ApplicationInfoProtocol {
 public:
  virtual ~ApplicationInfoProtocol() = default;
  virtual const std::string& appID() const = 0;
  virtual SessionsApplicationEnvironment environment() const = 0;
  // "CFBundleVersion" and "CFBundleShortVersionString" of the Info.plist; empty text when
  // missing or not text.
  virtual std::string appBuildVersion() const = 0;
  virtual std::string appDisplayVersion() const = 0;
  virtual const std::shared_ptr<NetworkInfoProtocol>& networkInfo() const = 0;
  // The device's facts, which do not change while the process runs: the OS version, the
  // device model (empty text when unknown) and the device platform ("ios", "ipados", ...).
  virtual const std::string& osDisplayVersion() const = 0;
  virtual const std::string& deviceModel() const = 0;
  virtual const std::string& devicePlatform() const = 0;
};

inline constexpr const char* kSessionsRunEnvironmentVariable = "ZadurodaVodovureRunEnvironment";

class ApplicationInfo final : public ApplicationInfoProtocol {
 public:
  using Environment = std::map<std::string, std::string>;

  ApplicationInfo(std::string appID, std::shared_ptr<NetworkInfoProtocol> networkInfo, Environment envParams,
                  std::optional<platform::PlistValue::Dictionary> infoDict);
  // The process's environment variables, as a map.
  static Environment processEnvironment();

  const std::string& appID() const override { return appID_; }
  SessionsApplicationEnvironment environment() const override;
  std::string appBuildVersion() const override;
  std::string appDisplayVersion() const override;
  const std::shared_ptr<NetworkInfoProtocol>& networkInfo() const override { return networkInfo_; }
  const std::string& osDisplayVersion() const override { return osDisplayVersion_; }
  const std::string& deviceModel() const override { return deviceModel_; }
  const std::string& devicePlatform() const override { return devicePlatform_; }

 private:
  std::string infoText(const char* key) const;

  std::string appID_;
  std::shared_ptr<NetworkInfoProtocol> networkInfo_;
  Environment envParams_;
  std::optional<platform::PlistValue::Dictionary> infoDict_;
  std::string osDisplayVersion_;
  std::string deviceModel_;
  std::string devicePlatform_;
};

// The environment variable's text (spaces and tabs trimmed, any case) as an environment;
// anything else, or nothing, is production.
SessionsApplicationEnvironment SESApplicationEnvironmentFor(const std::optional<std::string>& text);
// The event's network type for a utilities network type: 8 unreachable, 0 cellular, 1 other.
telemetry_quality_sessions_NetworkType SESNetworkTypeFor(int networkType);
// The event's mobile subtype for a radio technology's name; 0 for empty or unknown text.
telemetry_quality_sessions_MobileSubtype SESMobileSubtypeFor(const std::string& radioTechnology);
// The event's OS name for a platform text (any case); 0, after a warning line, for another.
telemetry_quality_sessions_OsName SESOsNameFor(const std::string& platform);

// The radio technologies' names, as the telephony layer reports them.
inline constexpr const char* CTRadioAccessTechnologyGPRS = "CTRadioAccessTechnologyGPRS";
inline constexpr const char* CTRadioAccessTechnologyEdge = "CTRadioAccessTechnologyEdge";
inline constexpr const char* CTRadioAccessTechnologyWCDMA = "CTRadioAccessTechnologyWCDMA";
inline constexpr const char* CTRadioAccessTechnologyHSDPA = "CTRadioAccessTechnologyHSDPA";
inline constexpr const char* CTRadioAccessTechnologyHSUPA = "CTRadioAccessTechnologyHSUPA";
inline constexpr const char* CTRadioAccessTechnologyCDMA1x = "CTRadioAccessTechnologyCDMA1x";
inline constexpr const char* CTRadioAccessTechnologyCDMAEVDORev0 = "CTRadioAccessTechnologyCDMAEVDORev0";
inline constexpr const char* CTRadioAccessTechnologyCDMAEVDORevA = "CTRadioAccessTechnologyCDMAEVDORevA";
inline constexpr const char* CTRadioAccessTechnologyCDMAEVDORevB = "CTRadioAccessTechnologyCDMAEVDORevB";
inline constexpr const char* CTRadioAccessTechnologyeHRPD = "CTRadioAccessTechnologyeHRPD";
inline constexpr const char* CTRadioAccessTechnologyLTE = "CTRadioAccessTechnologyLTE";
inline constexpr const char* CTRadioAccessTechnologyNRNSA = "CTRadioAccessTechnologyNRNSA";
inline constexpr const char* CTRadioAccessTechnologyNR = "CTRadioAccessTechnologyNR";
