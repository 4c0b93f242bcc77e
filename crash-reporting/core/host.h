// Facts about the device and the app, for the crash-time context and `metadata.crrecord`.
//
// Contract: set-up only. These read the system (sysconf, uname, /sys, the main bundle) and
// allocate; crash-time code reads what `CRHostSetUp` stored in the context instead.
//
// On Linux the device facts come from uname and the firmware's DMI product name (the
// "machine" value reads "(failed)" when that is not readable); the app facts come from the
// main bundle's Info.plist.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

struct CRFile;

// The page size the context uses: the reported size kept within 4,096...16,384 but never
// below `realPageSize` (a smaller mapping unit could not be protected).
size_t CRHostClampPageSize(long reported, size_t realPageSize);
size_t CRHostGetPageSize();
// Whether the process runs under binary translation; never on Linux.
bool CRHostIsRosettaTranslated();
// Stores the page size and the documents directory in the read-only context.
void CRHostSetUp();
// The "host" section. Always true.
bool CRHostWriteSection(CRFile* file);

struct CRHostVersion {
  long major = 0;
  long minor = 0;
  long patch = 0;
};
CRHostVersion CRHostSystemVersion();
// "1.2.3" of the parts found; missing parts are 0.
CRHostVersion CRHostParseVersion(const std::string& text);
std::optional<std::string> CRHostBuildString();
std::string CRHostDisplayVersionString();
std::optional<std::string> CRHostDeviceModel();

// Application facts.
std::optional<std::string> CRAppBundleIdentifierEscaped();  // "/" replaced by "_"
std::string CRAppQueuePrefix();                              // the crash core's queue-name prefix
const char* CRAppPlatformName();                             // "ios"
std::string CRAppTelemetryPlatformName();
std::optional<std::string> CRAppBuildVersion();
std::optional<std::string> CRAppDisplayVersion();
std::optional<std::string> CRAppDisplayName();
int CRAppInstallSourceCode();
std::optional<std::string> CRApplicationExtensionPointIdentifier();
bool CRAppRunsAsExtension();

// A process activity around work that must not be cut short (report submission). Linux has
// no such activities: the token only records what was asked, and ending it does nothing.
struct CRAppActivityToken {
  uint64_t options = 0;
  std::string reason;
};
CRAppActivityToken CRAppActivityBegin(uint64_t options, std::string reason);
void CRAppActivityEnd(const CRAppActivityToken& token);
// Begins an activity, runs `block`, ends it.
void CRAppRunWithinActivity(uint64_t options, std::string reason, const std::function<void()>& block);
