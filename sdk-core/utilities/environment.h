// What the SDK knows about its surroundings: its version, the environment probes of
// `UTLAppEnvironmentUtil`, the launch arguments, and the `TELUserAgent` token list.
//
// The probes ask a `UTLEnvironmentProbe`. The default one answers from Linux: uname for the
// machine and kernel values, /etc/os-release for the system version, the main bundle
// (platform::Bundle) for Info.plist values and bundle files; an ELF program carries no
// encryption information, so the encryption probe always answers "not encrypted", and
// there is no telephony, no pad idiom and no app-on-another-OS mode. Tests install their
// own probe with `UTLAppEnvironmentUtil::setProbe`, which also forgets the values
// computed once per process.
//
// Thread safety: every operation may be called from any thread. `TELUserAgent` guards its
// fields with its own lock.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/plist.h"

// "10.27.0": the version of every SDK library, as the logger and the user agent report it.
std::string TELSDKVersionString();

// What the environment probes read from the system. Every member has a Linux default.
class UTLEnvironmentProbe {
 public:
  virtual ~UTLEnvironmentProbe() = default;

  // The machine field of uname ("x86_64", "aarch64").
  virtual std::optional<std::string> unameMachine() const;
  // A named kernel value: "hw.machine" (the machine), "kern.osversion" (the kernel build),
  // "kern.osrelease" (the kernel release), "kern.ostype" (the system name), "hw.model"
  // (the firmware's product name when readable). Absent for other names.
  virtual std::optional<std::string> sysctlEntry(const std::string& name) const;
  // The operating system's version: VERSION_ID of /etc/os-release, else the kernel release.
  virtual std::string systemVersion() const;
  virtual bool isiOSAppOnMac() const { return false; }
  virtual bool isPadInterfaceIdiom() const { return false; }
  // Whether the main executable image is marked encrypted.
  virtual bool isMainExecutableEncrypted() const { return false; }
  // Whether a runtime class of this name exists. This program has no such runtime.
  virtual bool classExists(const std::string& name) const { return false; }

  // The main bundle: its folder, an Info.plist value, a file inside it, a resource.
  virtual std::string bundlePath() const;
  virtual std::optional<platform::PlistValue> infoDictionaryValue(const std::string& key) const;
  virtual bool bundleContainsFile(const std::string& relativePath) const;
  virtual bool hasResource(const std::string& name, const std::string& type) const;
  // The path of the bundle's store receipt, when the bundle names one.
  virtual std::optional<std::string> appStoreReceiptPath() const { return std::nullopt; }
};

// The process's launch arguments, read once from /proc/self/cmdline (argv[0] included).
class UTLLaunchArguments {
 public:
  static std::vector<std::string> current();
  static bool contains(const std::string& argument);
  // Stands other arguments in for the command line (std::nullopt: the real one again), as a
  // test does to start the SDK as `brivel -TELDebugEnabled` would.
  static void replace(std::optional<std::vector<std::string>> arguments);
};

class UTLAppEnvironmentUtil {
 public:
  static bool isFromAppStore();
  static bool isAppStoreReceiptSandbox();
  static bool isSimulator();
  static std::optional<std::string> getSysctlEntry(const std::string& name);
  static std::optional<std::string> deviceModel();
  static std::optional<std::string> deviceSimulatorModel();
  static std::string systemVersion();
  static bool isAppExtension();
  static bool isIOS7OrHigher() { return true; }
  static bool hasSwiftRuntime();
  static std::string applePlatform();
  static std::string appleDevicePlatform();
  static std::string deploymentType();

  // Installs a probe (nullptr: the Linux default) and forgets the once-computed values: how a
  // test stands in another machine or bundle.
  static void setProbe(std::shared_ptr<UTLEnvironmentProbe> probe);
  static std::shared_ptr<UTLEnvironmentProbe> probe();
};

// The SDK's user agent: name/version tokens of the registered libraries and of the
// environment, joined into one sorted string.
class TELUserAgent {
 public:
  // The environment entries, computed afresh at each call; absent values are left out.
  static std::map<std::string, std::string> environmentComponents();

  // The process-wide user agent, created once with "tel-ios" = TELSDKVersionString().
  static std::shared_ptr<TELUserAgent> processUserAgent();

  TELUserAgent() = default;

  void setValue(const std::string& version, const std::string& component);
  // "name/version" entries sorted by the current locale's case-insensitive order, joined
  // by single spaces; cached until the next change.
  std::string telemetryUserAgent();
  // Replaces the registered tokens by the environment entries.
  void reset();

 private:
  std::mutex mutex_;
  std::string telemetryUserAgent_;
  std::optional<std::map<std::string, std::string>> environmentComponents_;
  std::map<std::string, std::string> valuesByComponent_;
};
