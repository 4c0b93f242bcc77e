// TELEndpoints: where the SDK's services live, in one table.
//
// Every address is a base URL (scheme, host and an optional port, no trailing "/"): the
// installations service, the upload hosts of transport targets 1000 to 1003 and the
// crash-reporting settings host. The table is read once, on first use, from
// "TelemetryEndpoints.plist" in the resource directory (beside the program), unless
// `useFile` named another file first (the program's `--sdk-endpoints FILE`). Keys the file
// lacks keep the built-in addresses, which sit under ".invalid" so that nothing leaves the
// machine by accident. Tests point single entries at a loopback server with `set`.
//
// File layout (a property-list dictionary):
//   InstallationsBaseURL          string
//   UploadBaseURLs                dictionary from target number ("1000" ... "1003") to string
//   CrashReportingSettingsBaseURL string
//
// Threads: every member may be called from any thread (one lock guards the table).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/foundation/expected.h"

inline constexpr const char* kTELEndpointsResourceName = "TelemetryEndpoints";

class TELEndpoints {
 public:
  static std::string installationsBaseURL();
  // The upload base URL of a transport target; std::nullopt for a target outside 1000-1003.
  static std::optional<std::string> uploadBaseURLForTarget(int target);
  static std::string crashReportingSettingsBaseURL();

  // Reads the table from `file` now, in place of the one beside the program. An error (and
  // an unchanged table) when the file is missing, is not a dictionary, or holds a value of
  // the wrong type or an address that is not an http(s) URL.
  static platform::Status useFile(const std::filesystem::path& file);

  // Entry setters, for tests and tools that point the SDK at a service of their own; they win
  // over the file for the rest of the process.
  static void setInstallationsBaseURL(std::string url);
  static void setUploadBaseURL(int target, std::string url);
  static void setCrashReportingSettingsBaseURL(std::string url);
};
