// Contract: set-up only (system queries, allocation); see host.h.
#include "crash-reporting/core/host.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "crash-reporting/core/context.h"
#include "crash-reporting/core/file.h"
#include "crash-reporting/core/internal_log.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/paths.h"
#include "platform/foundation/text.h"
#include "sdk-core/utilities/environment.h"

namespace {

std::optional<std::string> infoString(const char* key) {
  auto value = platform::Bundle::main()->objectForInfoDictionaryKey(key);
  if (!value || value->asString() == nullptr) return std::nullopt;
  return *value->asString();
}

}  // namespace

size_t CRHostClampPageSize(long reported, size_t realPageSize) {
  size_t size = reported <= 0 ? 16384 : static_cast<size_t>(reported);
  size = std::clamp<size_t>(size, 4096, 16384);
  return std::max(size, realPageSize);
}

size_t CRHostGetPageSize() {
  if (CRHostIsRosettaTranslated()) {
    CRLogWarning("Running under Rosetta 2 emulation. Using the arm64 page size.\n");
  }
  const long reported = sysconf(_SC_PAGESIZE);
  if (reported <= 0) CRLogWarning("sysctlbyname failed while trying to get hw.pagesize\n");
  return CRHostClampPageSize(reported, reported > 0 ? static_cast<size_t>(reported) : 4096);
}

bool CRHostIsRosettaTranslated() { return false; }

void CRHostSetUp() {
  CRContextReadOnly* context = crReadOnlyContext;
  if (context == nullptr) return;
  context->host.pageSize = CRHostGetPageSize();
  const std::filesystem::path documents = platform::FileLocations::dataDirectory() / "Documents";
  context->host.documentDirectoryPath = CRCopyStringIntoContext(documents.string().c_str());
}

bool CRHostWriteSection(CRFile* file) {
  const auto model = CRHostDeviceModel();
  const auto machine = UTLAppEnvironmentUtil::getSysctlEntry("hw.model");
  const auto build = CRHostBuildString();
  const std::string display = CRHostDisplayVersionString();
  const std::string telemetryPlatform = CRAppTelemetryPlatformName();
  const std::string locale = platform::Locale::currentIdentifier();

  CRFileWriteSectionStart(file, "host");
  CRFileWriteHashStart(file);
  CRFileWriteHashEntryString(file, "model", model ? model->c_str() : nullptr);
  CRFileWriteHashEntryString(file, "machine", machine && !machine->empty() ? machine->c_str() : "(failed)");
  CRFileWriteHashEntryString(file, "os_build_version", build ? build->c_str() : nullptr);
  CRFileWriteHashEntryString(file, "os_display_version", display.c_str());
  CRFileWriteHashEntryString(file, "platform", CRAppPlatformName());
  CRFileWriteHashEntryString(file, "telemetry_platform", telemetryPlatform.c_str());
  CRFileWriteHashEntryString(file, "locale", locale.c_str());
  CRFileWriteHashEnd(file);
  CRFileWriteSectionEnd(file);
  return true;
}

CRHostVersion CRHostParseVersion(const std::string& text) {
  long parts[3] = {0, 0, 0};
  size_t index = 0;
  size_t at = 0;
  while (index < 3 && at <= text.size()) {
    const size_t dot = text.find('.', at);
    const std::string piece = text.substr(at, dot == std::string::npos ? std::string::npos : dot - at);
    parts[index++] = std::strtol(piece.c_str(), nullptr, 10);
    if (dot == std::string::npos) break;
    at = dot + 1;
  }
  return {parts[0], parts[1], parts[2]};
}

CRHostVersion CRHostSystemVersion() { return CRHostParseVersion(UTLAppEnvironmentUtil::systemVersion()); }

std::optional<std::string> CRHostBuildString() { return UTLAppEnvironmentUtil::getSysctlEntry("kern.osversion"); }

std::string CRHostDisplayVersionString() {
  const CRHostVersion version = CRHostSystemVersion();
  return std::to_string(version.major) + "." + std::to_string(version.minor) + "." + std::to_string(version.patch);
}

std::optional<std::string> CRHostDeviceModel() { return UTLAppEnvironmentUtil::deviceSimulatorModel(); }

std::optional<std::string> CRAppBundleIdentifierEscaped() {
  auto identifier = platform::Bundle::main()->bundleIdentifier();
  if (!identifier) return std::nullopt;
  std::replace(identifier->begin(), identifier->end(), '/', '_');
  return identifier;
}

std::string CRAppQueuePrefix() { return std::string("raz.ovevar.uvivarud.ezivezireze.") + "ios"; }

const char* CRAppPlatformName() { return "ios"; }

std::string CRAppTelemetryPlatformName() {
  const std::string platform = UTLAppEnvironmentUtil::applePlatform();
  if (platform == "ios") {
    const auto model = UTLAppEnvironmentUtil::deviceModel();
    std::string lower = model.value_or("");
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (lower.find("ipad") != std::string::npos || UTLAppEnvironmentUtil::probe()->isPadInterfaceIdiom()) {
      return "ipados";
    }
  }
  return platform;
}

std::optional<std::string> CRAppBuildVersion() { return infoString("CFBundleVersion"); }
std::optional<std::string> CRAppDisplayVersion() { return infoString("CFBundleShortVersionString"); }

std::optional<std::string> CRAppDisplayName() {
  if (auto name = infoString("CFBundleDisplayName")) return name;
  if (auto name = infoString("CFBundleName")) return name;
  return CRAppBuildVersion();
}

int CRAppInstallSourceCode() {
  const auto receipt = UTLAppEnvironmentUtil::probe()->appStoreReceiptPath();
  std::error_code error;
  return receipt && std::filesystem::exists(*receipt, error) ? 4 : 1;
}

std::optional<std::string> CRApplicationExtensionPointIdentifier() {
  auto extension = platform::Bundle::main()->objectForInfoDictionaryKey("NSExtension");
  if (!extension) return std::nullopt;
  const auto* dictionary = extension->asDictionary();
  if (dictionary == nullptr) {
    CRLogWarning("Error: NSExtension Info.plist entry is mal-formed\n");
    return std::nullopt;
  }
  auto found = dictionary->find("NSExtensionPointIdentifier");
  if (found == dictionary->end() || found->second.asString() == nullptr) {
    CRLogWarning("Error: NSExtensionPointIdentifier Info.plist entry is mal-formed\n");
    return std::nullopt;
  }
  return *found->second.asString();
}

bool CRAppRunsAsExtension() { return CRApplicationExtensionPointIdentifier().has_value(); }

CRAppActivityToken CRAppActivityBegin(uint64_t options, std::string reason) { return {options, std::move(reason)}; }

void CRAppActivityEnd(const CRAppActivityToken&) {}

void CRAppRunWithinActivity(uint64_t options, std::string reason, const std::function<void()>& block) {
  const CRAppActivityToken token = CRAppActivityBegin(options, std::move(reason));
  if (block) block();
  CRAppActivityEnd(token);
}
