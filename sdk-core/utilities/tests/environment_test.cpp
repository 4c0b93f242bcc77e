#include "sdk-core/utilities/environment.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <atomic>
#include <set>

#include "platform/foundation/text.h"
#include "platform/testing/environment.h"

namespace {

// Every answer settable.
class FakeProbe : public UTLEnvironmentProbe {
 public:
  std::optional<std::string> machine = "arm64";
  std::string version = "17.2";
  std::map<std::string, platform::PlistValue> info = {{"DTSDKBuild", "21C52"}, {"DTXcodeBuild", "15C500b"}};
  std::set<std::string> files;
  std::set<std::string> resources;
  std::string path = "/opt/brivel";
  std::optional<std::string> receipt;
  bool encrypted = false;
  bool onMac = false;
  bool pad = false;

  std::optional<std::string> unameMachine() const override { return machine; }
  std::optional<std::string> sysctlEntry(const std::string& name) const override {
    return name == "hw.machine" ? machine : std::nullopt;
  }
  std::string systemVersion() const override { return version; }
  bool isiOSAppOnMac() const override { return onMac; }
  bool isPadInterfaceIdiom() const override { return pad; }
  bool isMainExecutableEncrypted() const override { return encrypted; }
  std::string bundlePath() const override { return path; }
  std::optional<platform::PlistValue> infoDictionaryValue(const std::string& key) const override {
    auto it = info.find(key);
    if (it == info.end()) return std::nullopt;
    return it->second;
  }
  bool bundleContainsFile(const std::string& name) const override { return files.count(name) > 0; }
  bool hasResource(const std::string& name, const std::string& type) const override {
    return resources.count(name + "." + type) > 0;
  }
  std::optional<std::string> appStoreReceiptPath() const override { return receipt; }
};

class EnvironmentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Locale::setCurrent("en_US");
    install();
  }
  void install() { UTLAppEnvironmentUtil::setProbe(std::make_shared<FakeProbe>(probe_)); }

  platform::testing::Environment environment_{"sdk-environment"};
  FakeProbe probe_;
};

TEST_F(EnvironmentTest, UserAgentIsSortedCaseInsensitivelyOverWholeEntries) {
  TELUserAgent agent;
  agent.setValue(TELSDKVersionString(), "tel-ios");
  EXPECT_EQ(agent.telemetryUserAgent(),
            "apple-platform/ios apple-sdk/21C52 appstore/false deploy/swiftpm device/arm64 "
            "os-version/17.2 tel-ios/10.27.0 xcode/15C500b");

  // Each registration clears the cached string; the token lands in its sorted place, where a
  // hyphen sorts before a letter and case does not count.
  for (const char* name : {"telemetry-vuzirerered", "tel-ses", "tel-install", "Zeta"}) {
    agent.setValue("10.27.0", name);
  }
  EXPECT_EQ(agent.telemetryUserAgent(),
            "apple-platform/ios apple-sdk/21C52 appstore/false deploy/swiftpm device/arm64 "
            "os-version/17.2 tel-install/10.27.0 tel-ios/10.27.0 tel-ses/10.27.0 "
            "telemetry-vuzirerered/10.27.0 xcode/15C500b Zeta/10.27.0");
}

TEST_F(EnvironmentTest, EnvironmentEntriesWinAndAbsentOnesAreLeftOut) {
  probe_.info.clear();
  probe_.machine.reset();
  install();
  TELUserAgent agent;
  agent.setValue("1.0", "device");  // replaced by the environment's value, or dropped with it
  agent.setValue("10.27.0", "tel-ios");
  EXPECT_EQ(agent.telemetryUserAgent(), "apple-platform/ios appstore/false deploy/swiftpm device/1.0 "
                                        "os-version/17.2 tel-ios/10.27.0");

  probe_.machine = "arm64";
  install();
  TELUserAgent other;
  other.setValue("1.0", "device");
  EXPECT_EQ(other.telemetryUserAgent(), "apple-platform/ios appstore/false deploy/swiftpm device/arm64 "
                                        "os-version/17.2");

  other.setValue("10.27.0", "tel-ios");
  other.reset();  // registered tokens give way to the environment entries
  EXPECT_EQ(other.telemetryUserAgent().find("tel-ios"), std::string::npos);
}

TEST_F(EnvironmentTest, ProcessUserAgentStartsWithTheCoreToken) {
  EXPECT_NE(TELUserAgent::processUserAgent()->telemetryUserAgent().find("tel-ios/10.27.0"), std::string::npos);
  EXPECT_EQ(TELUserAgent::processUserAgent(), TELUserAgent::processUserAgent());
}

TEST_F(EnvironmentTest, StoreBuildDecision) {
  struct Case {
    const char* name;
    const char* machine;
    bool scInfo, encrypted, provision;
    std::optional<std::string> receipt;
    std::optional<bool> receiptCheck;
    bool expected;
  };
  const std::vector<Case> cases = {
      {"plain build", "arm64", false, false, false, std::nullopt, std::nullopt, false},
      {"store folder", "arm64", true, false, false, std::nullopt, std::nullopt, true},
      {"simulator with store folder", "x86_64", true, true, false, std::nullopt, std::nullopt, false},
      {"encrypted, no profile", "arm64", false, true, false, std::nullopt, std::nullopt, true},
      {"encrypted with profile", "arm64", false, true, true, std::nullopt, std::nullopt, false},
      {"sandbox receipt", "arm64", true, true, false, "/b/receipt/sandboxReceipt", std::nullopt, false},
      {"sandbox receipt, check off", "arm64", true, false, false, "/b/receipt/sandboxReceipt", false, true},
      {"production receipt", "arm64", true, false, false, "/b/receipt/receipt", std::nullopt, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    probe_.machine = c.machine;
    probe_.files = c.scInfo ? std::set<std::string>{"SC_Info"} : std::set<std::string>{};
    probe_.encrypted = c.encrypted;
    probe_.resources = c.provision ? std::set<std::string>{"embedded.mobileprovision"} : std::set<std::string>{};
    probe_.receipt = c.receipt;
    probe_.info.erase("TelemetryAppStoreReceiptURLCheckEnabled");
    if (c.receiptCheck) probe_.info["TelemetryAppStoreReceiptURLCheckEnabled"] = *c.receiptCheck;
    install();
    EXPECT_EQ(UTLAppEnvironmentUtil::isFromAppStore(), c.expected);
  }
}

TEST_F(EnvironmentTest, PlatformAndBundleProbes) {
  EXPECT_EQ(UTLAppEnvironmentUtil::applePlatform(), "ios");
  EXPECT_EQ(UTLAppEnvironmentUtil::appleDevicePlatform(), "ios");
  EXPECT_FALSE(UTLAppEnvironmentUtil::isAppExtension());
  EXPECT_FALSE(UTLAppEnvironmentUtil::isSimulator());

  probe_.machine = "iPad13,1";
  probe_.path = "/opt/brivel/Widgets.appex";
  install();
  EXPECT_EQ(UTLAppEnvironmentUtil::appleDevicePlatform(), "ipados");
  EXPECT_TRUE(UTLAppEnvironmentUtil::isAppExtension());

  probe_.onMac = true;
  install();
  EXPECT_EQ(UTLAppEnvironmentUtil::applePlatform(), "ios_on_mac");
  EXPECT_EQ(UTLAppEnvironmentUtil::appleDevicePlatform(), "ios_on_mac");

  probe_.machine = "i386";
  install();
  EXPECT_TRUE(UTLAppEnvironmentUtil::isSimulator());
}

// The system version is read from the probe once, and read afresh from a probe put in its place.
TEST_F(EnvironmentTest, SystemVersionIsReadOncePerProbe) {
  struct CountingProbe : FakeProbe {
    std::shared_ptr<std::atomic<int>> reads = std::make_shared<std::atomic<int>>(0);
    std::string systemVersion() const override {
      ++*reads;
      return version;
    }
  };
  CountingProbe first;
  UTLAppEnvironmentUtil::setProbe(std::make_shared<CountingProbe>(first));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(UTLAppEnvironmentUtil::systemVersion(), "17.2");
  EXPECT_EQ(first.reads->load(), 1);

  CountingProbe second;
  second.version = "18.0";
  UTLAppEnvironmentUtil::setProbe(std::make_shared<CountingProbe>(second));
  EXPECT_EQ(UTLAppEnvironmentUtil::systemVersion(), "18.0");
  EXPECT_EQ(UTLAppEnvironmentUtil::systemVersion(), "18.0");
  EXPECT_EQ(second.reads->load(), 1);
}

TEST(EnvironmentLinuxTest, DefaultProbeAnswersFromTheRunningSystem) {
  UTLAppEnvironmentUtil::setProbe(nullptr);
  utsname name{};
  ASSERT_EQ(::uname(&name), 0);
  EXPECT_EQ(UTLAppEnvironmentUtil::deviceModel(), std::string(name.machine));
  EXPECT_EQ(UTLAppEnvironmentUtil::deviceSimulatorModel(), std::string(name.machine));
  EXPECT_EQ(UTLAppEnvironmentUtil::getSysctlEntry("kern.osrelease"), std::string(name.release));
  EXPECT_EQ(UTLAppEnvironmentUtil::getSysctlEntry("no.such.entry"), std::nullopt);
  EXPECT_FALSE(UTLAppEnvironmentUtil::systemVersion().empty());
  EXPECT_FALSE(UTLAppEnvironmentUtil::hasSwiftRuntime());
}

TEST(LaunchArgumentsTest, ReadsTheRealCommandLine) {
  UTLLaunchArguments::replace(std::nullopt);
  const auto arguments = UTLLaunchArguments::current();
  ASSERT_FALSE(arguments.empty());
  EXPECT_NE(arguments.front().find("sdk_core_test"), std::string::npos) << arguments.front();
  UTLLaunchArguments::replace(std::vector<std::string>{"x", "-TELDebugEnabled"});
  EXPECT_TRUE(UTLLaunchArguments::contains("-TELDebugEnabled"));
  EXPECT_FALSE(UTLLaunchArguments::contains("-TELDebug"));
  UTLLaunchArguments::replace(std::nullopt);
}

}  // namespace
