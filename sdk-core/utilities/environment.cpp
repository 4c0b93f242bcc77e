#include "sdk-core/utilities/environment.h"

#include <sys/utsname.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/foundation/bundle.h"
#include "platform/foundation/text.h"
#include "platform/process_state/process_state.h"

std::string TELSDKVersionString() { return "10.27.0"; }

// ---- Linux probe ------------------------------------------------------------------------

namespace {

std::optional<utsname> systemName() {
  utsname name{};
  if (::uname(&name) != 0) return std::nullopt;
  return name;
}

std::optional<std::string> nonEmpty(std::string text) {
  if (text.empty()) return std::nullopt;
  return text;
}

std::optional<std::string> firstLineOf(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return std::nullopt;
  return nonEmpty(line);
}

}  // namespace

std::optional<std::string> UTLEnvironmentProbe::unameMachine() const {
  auto name = systemName();
  return name ? nonEmpty(name->machine) : std::nullopt;
}

std::optional<std::string> UTLEnvironmentProbe::sysctlEntry(const std::string& entry) const {
  auto name = systemName();
  if (!name) return std::nullopt;
  if (entry == "hw.machine") return nonEmpty(name->machine);
  if (entry == "kern.osversion") return nonEmpty(name->version);
  if (entry == "kern.osrelease") return nonEmpty(name->release);
  if (entry == "kern.ostype") return nonEmpty(name->sysname);
  if (entry == "hw.model") return firstLineOf("/sys/devices/virtual/dmi/id/product_name");
  return std::nullopt;
}

std::string UTLEnvironmentProbe::systemVersion() const {
  std::ifstream in("/etc/os-release");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VERSION_ID=", 0) != 0) continue;
    std::string value = line.substr(11);
    value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
    if (!value.empty()) return value;
  }
  auto name = systemName();
  return name ? std::string(name->release) : std::string();
}

std::string UTLEnvironmentProbe::bundlePath() const { return platform::Bundle::main()->bundlePath().string(); }

std::optional<platform::PlistValue> UTLEnvironmentProbe::infoDictionaryValue(const std::string& key) const {
  return platform::Bundle::main()->objectForInfoDictionaryKey(key);
}

bool UTLEnvironmentProbe::bundleContainsFile(const std::string& relativePath) const {
  std::error_code error;
  return std::filesystem::exists(platform::Bundle::main()->bundlePath() / relativePath, error);
}

bool UTLEnvironmentProbe::hasResource(const std::string& name, const std::string& type) const {
  return platform::Bundle::main()->pathForResource(name, type).has_value();
}

// ---- Launch arguments -------------------------------------------------------------------

namespace {

// What replace() put in place of the real command line.
platform::ProcessValue<std::optional<std::vector<std::string>>> gArgumentsOverride;

std::vector<std::string> readCommandLine() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::vector<std::string> arguments;
  std::string argument;
  while (std::getline(in, argument, '\0')) arguments.push_back(argument);
  return arguments;
}

}  // namespace

std::vector<std::string> UTLLaunchArguments::current() {
  static const std::vector<std::string> real = readCommandLine();
  auto replaced = gArgumentsOverride.get();
  return replaced ? *replaced : real;
}

bool UTLLaunchArguments::contains(const std::string& argument) {
  auto arguments = current();
  return std::find(arguments.begin(), arguments.end(), argument) != arguments.end();
}

void UTLLaunchArguments::replace(std::optional<std::vector<std::string>> arguments) {
  gArgumentsOverride.set(std::move(arguments));
}

// ---- Environment probes -----------------------------------------------------------------

namespace {

// Values computed once per process (until a test installs another probe).
struct EnvironmentCache {
  std::mutex mutex;
  std::shared_ptr<UTLEnvironmentProbe> probe = std::make_shared<UTLEnvironmentProbe>();
  std::optional<std::optional<std::string>> deviceModel;
  std::optional<std::optional<std::string>> deviceSimulatorModel;
  std::optional<bool> encrypted;
  std::optional<std::string> systemVersion;
};

EnvironmentCache& cache() {
  static EnvironmentCache instance;
  return instance;
}

template <typename T, typename F>
T onceValue(std::optional<T> EnvironmentCache::*slot, F compute) {
  auto& c = cache();
  std::lock_guard lock(c.mutex);
  if (!(c.*slot)) c.*slot = compute(*c.probe);
  return *(c.*slot);
}

}  // namespace

void UTLAppEnvironmentUtil::setProbe(std::shared_ptr<UTLEnvironmentProbe> probe) {
  platform::addProcessStateReset(+[] { UTLAppEnvironmentUtil::setProbe(nullptr); });
  auto& c = cache();
  std::lock_guard lock(c.mutex);
  c.probe = probe ? std::move(probe) : std::make_shared<UTLEnvironmentProbe>();
  c.deviceModel.reset();
  c.deviceSimulatorModel.reset();
  c.encrypted.reset();
  c.systemVersion.reset();
}

std::shared_ptr<UTLEnvironmentProbe> UTLAppEnvironmentUtil::probe() {
  auto& c = cache();
  std::lock_guard lock(c.mutex);
  return c.probe;
}

std::optional<std::string> UTLAppEnvironmentUtil::deviceModel() {
  return onceValue(&EnvironmentCache::deviceModel,
                   [](const UTLEnvironmentProbe& probe) { return probe.unameMachine(); });
}

std::optional<std::string> UTLAppEnvironmentUtil::deviceSimulatorModel() {
  return onceValue(&EnvironmentCache::deviceSimulatorModel,
                   [](const UTLEnvironmentProbe& probe) { return probe.sysctlEntry("hw.machine"); });
}

std::optional<std::string> UTLAppEnvironmentUtil::getSysctlEntry(const std::string& name) {
  auto value = probe()->sysctlEntry(name);
  if (value && value->empty()) return std::nullopt;
  return value;
}

// Read once: each upload's request names it, and the file does not change under a process.
std::string UTLAppEnvironmentUtil::systemVersion() {
  return onceValue(&EnvironmentCache::systemVersion,
                   [](const UTLEnvironmentProbe& probe) { return probe.systemVersion(); });
}

bool UTLAppEnvironmentUtil::isSimulator() {
  auto model = deviceModel();
  return model && (*model == "x86_64" || *model == "i386");
}

bool UTLAppEnvironmentUtil::isAppStoreReceiptSandbox() {
  auto p = probe();
  if (auto enabled = p->infoDictionaryValue("TelemetryAppStoreReceiptURLCheckEnabled")) {
    const bool isNo = (enabled->asBool() && !*enabled->asBool()) ||
                      (enabled->toInt64() && *enabled->toInt64() == 0) ||
                      (enabled->asReal() && *enabled->asReal() == 0.0);
    if (isNo) return false;
  }
  auto receipt = p->appStoreReceiptPath();
  return receipt && std::filesystem::path(*receipt).filename() == "sandboxReceipt";
}

bool UTLAppEnvironmentUtil::isFromAppStore() {
  const bool encrypted = onceValue(&EnvironmentCache::encrypted, [](const UTLEnvironmentProbe& probe) {
    return probe.isMainExecutableEncrypted();
  });
  if (isSimulator() || isAppStoreReceiptSandbox()) return false;
  auto p = probe();
  if (p->bundleContainsFile("SC_Info")) return true;
  if (!encrypted) return false;
  return !p->hasResource("embedded", "mobileprovision");
}

bool UTLAppEnvironmentUtil::isAppExtension() {
  const std::string path = probe()->bundlePath();
  const std::string suffix = ".appex";
  return path.size() >= suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool UTLAppEnvironmentUtil::hasSwiftRuntime() {
  auto p = probe();
  return p->classExists("Swift._SwiftObject") || p->classExists("_TtCs12_SwiftObject");
}

std::string UTLAppEnvironmentUtil::applePlatform() { return probe()->isiOSAppOnMac() ? "ios_on_mac" : "ios"; }

std::string UTLAppEnvironmentUtil::appleDevicePlatform() {
  std::string platform = applePlatform();
  if (platform != "ios") return platform;
  auto model = deviceModel();
  if ((model && platform::lowercased(*model).find("ipad") != std::string::npos) ||
      probe()->isPadInterfaceIdiom()) {
    return "ipados";
  }
  return platform;
}

std::string UTLAppEnvironmentUtil::deploymentType() { return "swiftpm"; }

// ---- User agent -------------------------------------------------------------------------

std::map<std::string, std::string> TELUserAgent::environmentComponents() {
  std::map<std::string, std::string> components;
  auto p = UTLAppEnvironmentUtil::probe();
  auto infoString = [&p](const char* key) -> std::optional<std::string> {
    auto value = p->infoDictionaryValue(key);
    if (value && value->asString()) return *value->asString();
    return std::nullopt;
  };
  components["apple-platform"] = UTLAppEnvironmentUtil::applePlatform();
  if (auto sdk = infoString("DTSDKBuild")) components["apple-sdk"] = *sdk;
  components["appstore"] = UTLAppEnvironmentUtil::isFromAppStore() ? "true" : "false";
  components["deploy"] = UTLAppEnvironmentUtil::deploymentType();
  if (auto device = UTLAppEnvironmentUtil::deviceModel()) components["device"] = *device;
  const std::string os = UTLAppEnvironmentUtil::systemVersion();
  if (!os.empty()) components["os-version"] = os;
  if (auto xcode = infoString("DTXcodeBuild")) components["xcode"] = *xcode;
  return components;
}

std::shared_ptr<TELUserAgent> TELUserAgent::processUserAgent() {
  static const std::shared_ptr<TELUserAgent> agent = [] {
    auto made = std::make_shared<TELUserAgent>();
    made->setValue(TELSDKVersionString(), "tel-ios");
    return made;
  }();
  return agent;
}

void TELUserAgent::setValue(const std::string& version, const std::string& component) {
  std::lock_guard lock(mutex_);
  valuesByComponent_[component] = version;
  telemetryUserAgent_.clear();
}

void TELUserAgent::reset() {
  std::lock_guard lock(mutex_);
  valuesByComponent_ = environmentComponents();
  telemetryUserAgent_.clear();
}

std::string TELUserAgent::telemetryUserAgent() {
  std::lock_guard lock(mutex_);
  if (!telemetryUserAgent_.empty()) return telemetryUserAgent_;
  if (!environmentComponents_) environmentComponents_ = environmentComponents();
  std::map<std::string, std::string> all = valuesByComponent_;
  for (const auto& [name, value] : *environmentComponents_) all[name] = value;

  std::vector<std::string> entries;
  for (const auto& [name, value] : all) entries.push_back(name + "/" + value);
  std::stable_sort(entries.begin(), entries.end(), [](const std::string& a, const std::string& b) {
    return platform::localizedCaseInsensitiveCompare(a, b) < 0;
  });
  std::string joined;
  for (const auto& entry : entries) {
    if (!joined.empty()) joined += ' ';
    joined += entry;
  }
  telemetryUserAgent_ = joined;
  return telemetryUserAgent_;
}
