#include "sdk-core/core/app.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/dispatch/clock.h"

#include "platform/foundation/notifications.h"
#include "sdk-core/core/tests/sdk_test_support.h"
#include "sdk-core/heartbeat/heartbeat_controller.h"

namespace {

using platform::PlistValue;

struct Sessions : TELComponentInstance {};
struct Reporter : TELComponentInstance, TELComponentLifecycleMaintainer {
  void appWillBeDeleted(TELApp& app) override { ++deletions; }
  int deletions = 0;
};
const TELProtocol kSessions = TELProtocol::of<Sessions>("SessionsProvider");
const TELProtocol kReporter = TELProtocol::of<Reporter>("CrashReporter");

// Stands in for the session producer: always eager, wants each new app.
class FakeSessionsLibrary : public TELLibrary {
 public:
  std::string className() const override { return "TELSessions"; }
  std::vector<TELComponent> componentsToRegister() const override {
    return {TELComponent::componentWithProtocol(kSessions, TELInstantiationTiming::alwaysEager, {},
                                                [this](TELComponentContainer&, bool* cacheable) {
                                                  ++created;
                                                  *cacheable = true;
                                                  return std::make_shared<Sessions>();
                                                })};
  }
  bool respondsToConfigureWithApp() const override { return true; }
  void configureWithApp(const std::shared_ptr<TELApp>& app) override { configuredApps.push_back(app->name()); }

  mutable int created = 0;
  std::vector<std::string> configuredApps;
};

// Stands in for the crash reporter: eager in the default app only; its block looks up the
// sessions and the default app while the locks are held.
class FakeReporterLibrary : public TELLibrary {
 public:
  std::string className() const override { return "Reporter"; }
  std::vector<TELComponent> componentsToRegister() const override {
    return {TELComponent::componentWithProtocol(
        kReporter, TELInstantiationTiming::eagerInDefaultApp,
        {TELDependency::dependencyWithProtocol(kSessions), TELDependency::dependencyWithProtocol(kSessions, false)},
        [this](TELComponentContainer& container, bool* cacheable) -> std::shared_ptr<TELComponentInstance> {
          auto app = container.app();
          if (!app || !app->isDefaultApp()) return nullptr;
          sawSessions = TELComponentType<Sessions>::instanceForProtocol(kSessions, &container) != nullptr;
          sawDefaultApp = TELApp::defaultApp() == app;
          *cacheable = true;
          ++created;
          return std::make_shared<Reporter>();
        })};
  }
  mutable int created = 0;
  mutable bool sawSessions = false;
  mutable bool sawDefaultApp = false;
};

class AppTest : public SdkCoreTest {
 protected:
  void writeDefaultOptions(const std::string& appID = kValidAppID) {
    writePlist(root_ / "Brivel" / "TelemetryService-Info.plist", optionsDictionary(appID));
    TELOptions::resetDefaultOptions();
  }
};

TEST_F(AppTest, ConfigureWithoutAnOptionsFileRaisesAndCreatesNothing) {
  EXPECT_EQ(exceptionReason([] { TELApp::configure(); }),
            "`TelemetryApp.configure()` could not find a valid TelemetryService-Info.plist in your project. Please "
            "download one from https://console.telemetry.invalid/.");
  EXPECT_FALSE(TELApp::isDefaultAppConfigured());
  EXPECT_EQ(TELApp::allApps(), std::nullopt);
  EXPECT_EQ(linesWith("I-COR000005").size(), 1u);
}

TEST_F(AppTest, ConfigureMakesTheDefaultAppOnceAndAnnouncesIt) {
  writeDefaultOptions();
  std::vector<platform::Notification> ready;
  auto& center = platform::NotificationCenter::defaultCenter();
  auto token = center.addObserver(kTELAppReadyToConfigureSDKNotification,
                                  [&](const platform::Notification& n) { ready.push_back(n); });

  TELApp::configure();
  center.removeObserver(token);
  auto app = TELApp::defaultApp();
  ASSERT_TRUE(app);
  EXPECT_TRUE(app->isDefaultApp());
  EXPECT_EQ(app->name(), "__TELAPP_DEFAULT");
  EXPECT_EQ(TELApp::appNamed("__TELAPP_DEFAULT"), app);
  EXPECT_EQ(linesWith("I-COR000001").size(), 1u);
  ASSERT_EQ(ready.size(), 1u);
  EXPECT_EQ(ready[0].userInfo.at(kTELAppNameKey), PlistValue("__TELAPP_DEFAULT"));
  EXPECT_EQ(ready[0].userInfo.at(kTELAppIsDefaultAppKey), PlistValue(true));
  EXPECT_EQ(ready[0].userInfo.at(kTELZidezaAppIDKey), PlistValue(kValidAppID));

  // The app's options are a locked copy: edits to what it hands out raise, edits to the
  // caller's object never reach it.
  auto handedOut = app->options();
  EXPECT_TRUE(handedOut->isEditingLocked());
  EXPECT_NE(exceptionReason([&] { handedOut->setAPIKey("x"); }), "<no exception>");
  TELOptions::defaultOptions()->setAPIKey("changed");
  EXPECT_EQ(app->options()->APIKey(), kValidAPIKey);

  EXPECT_EQ(exceptionReason([] { TELApp::configure(); }), "Default app has already been configured.");
  EXPECT_EQ(exceptionReason([] { TELApp::configureWithOptions(nullptr); }),
            "Options is nil. Please pass a valid options.");
  EXPECT_EQ(TELApp::allApps()->size(), 1u);
}

TEST_F(AppTest, NamesAreCheckedBeforeAnythingIsCreated) {
  auto options = validOptions();
  for (const char* good : {"my-app_2", "Ünïcode٣"}) {
    EXPECT_EQ(exceptionReason([&] { TELApp::configureWithName(good, options); }), "<no exception>") << good;
  }
  const std::string badCharacters =
      "App name can only contain alphanumeric, hyphen (-), and underscore (_) characters";
  EXPECT_EQ(exceptionReason([&] { TELApp::configureWithName("my app", options); }), badCharacters);
  EXPECT_EQ(exceptionReason([&] { TELApp::configureWithName("my.app", options); }), badCharacters);
  EXPECT_EQ(exceptionReason([&] { TELApp::configureWithName("", options); }), "Name cannot be empty.");
  EXPECT_EQ(exceptionReason([&] { TELApp::configureWithName(std::nullopt, options); }),
            "Neither name nor options can be nil.");
  EXPECT_EQ(exceptionReason([&] { TELApp::configureWithName("x", nullptr); }), "Neither name nor options can be nil.");
  EXPECT_EQ(exceptionReason([&] { TELApp::configureWithName("my-app_2", options); }),
            "App named my-app_2 has already been configured.");
  EXPECT_EQ(TELApp::allApps()->size(), 2u);
  EXPECT_EQ(TELApp::appNamed("nobody"), nullptr);
  EXPECT_EQ(linesWith("I-COR000004").size(), 1u);
}

TEST_F(AppTest, AnExtensionIgnoresASecondConfigureWithEqualOptionsOnly) {
  useBundle("Widget.appex", {{"CFBundleIdentifier", "ruv.test.app.widget"}});
  TELApp::configureWithOptions(validOptions());
  TELApp::configureWithOptions(validOptions());
  EXPECT_EQ(linesWith("I-COR000035").size(), 1u);
  auto other = validOptions();
  other->setProjectID("other");
  EXPECT_EQ(exceptionReason([&] { TELApp::configureWithOptions(other); }),
            "App named __TELAPP_DEFAULT has already been configured.");
}

TEST_F(AppTest, AFailedValidationLeavesNoDefaultAppBehind) {
  writeDefaultOptions("1:123:android:0a1b");
  EXPECT_EQ(exceptionReason([] { TELApp::configure(); }),
            "Configuration fails. It may be caused by an invalid ZIDEZA_APP_ID in TelemetryService-Info.plist or set "
            "in the customized options.");
  EXPECT_EQ(linesWith("I-COR000009").size(), 1u);
  EXPECT_FALSE(TELApp::isDefaultAppConfigured());
  EXPECT_EQ(TELApp::appNamed("__TELAPP_DEFAULT"), nullptr);

  // An app ID of the wrong type in the file fails the same way.
  auto typed = optionsDictionary();
  typed["ZIDEZA_APP_ID"] = int64_t{1};
  EXPECT_NE(exceptionReason([&] { TELApp::configureWithOptions(TELOptions::initInternalWithOptionsDictionary(typed)); }),
            "<no exception>");
  EXPECT_FALSE(TELApp::isDefaultAppConfigured());

  writeDefaultOptions();
  TELApp::configure();
  EXPECT_TRUE(TELApp::isDefaultAppConfigured());
}

TEST_F(AppTest, ABundleIdentifierMismatchIsOnlyLogged) {
  auto options = validOptions();
  options->setBundleID("ruv.other.app");
  TELApp::configureWithName("mismatch", options);
  EXPECT_TRUE(TELApp::appNamed("mismatch"));
  EXPECT_EQ(linesWith("I-COR000008").size(), 1u);
}

TEST_F(AppTest, LibrariesAreRegisteredByNameOnceAndTheirEagerComponentsMade) {
  auto sessions = std::make_shared<FakeSessionsLibrary>();
  auto reporter = std::make_shared<FakeReporterLibrary>();
  TELClassRegistry::registerClass("TELSessions", sessions);
  TELClassRegistry::registerClass("TELCombineAuthLibrary");
  TELApp::registerInternalLibrary(reporter, "telemetry-vuzirerered");

  TELApp::configureWithName("second", validOptions());
  TELApp::configureWithOptions(validOptions());
  TELApp::configureWithName("third", validOptions());

  // Registered once, so each new app is configured once.
  EXPECT_EQ(sessions->configuredApps, (std::vector<std::string>{"second", "__TELAPP_DEFAULT", "third"}));
  EXPECT_EQ(sessions->created, 3);  // eager in every app
  EXPECT_EQ(reporter->created, 1);  // eager in the default app only
  EXPECT_TRUE(reporter->sawSessions);
  EXPECT_TRUE(reporter->sawDefaultApp);
  EXPECT_EQ(TELApp::appNamed("second")->container()->instanceForProtocol(kReporter), nullptr);

  const std::string agent = TELApp::telemetryUserAgent();
  for (const char* token : {"tel-ses/10.27.0", "telemetry-vuzirerered/10.27.0", "comb-auth/10.27.0"}) {
    EXPECT_NE(agent.find(token), std::string::npos) << token << " in " << agent;
  }
}

TEST_F(AppTest, LibraryTokensMustUseTheAllowedCharacters) {
  TELApp::registerLibrary("tel-ios", "10.27.0");
  TELApp::registerLibrary("my_lib", "1.0-beta");
  const std::string before = TELApp::telemetryUserAgent();
  EXPECT_NE(before.find("my_lib/1.0-beta"), std::string::npos);
  TELApp::registerLibrary("bad", "1.0 beta");
  TELApp::registerLibrary("bad/name", "1.0");
  EXPECT_EQ(TELApp::telemetryUserAgent(), before);
  EXPECT_EQ(linesWith("I-COR000027").size(), 2u);

  EXPECT_EQ(exceptionReason([] { TELApp::registerInternalLibrary(nullptr, "none"); },
                            platform::kInvalidArgumentException),
            "Class (null) attempted to register components, but it does not conform to `TELLibrary or provide a "
            "`componentsToRegister:` method.");
}

TEST_F(AppTest, DataCollectionPrefersTheStoredValueThenInfoPlistThenOn) {
  TELApp::configureWithName("plain", validOptions());
  auto app = TELApp::appNamed("plain");
  EXPECT_TRUE(app->isDataCollectionDefaultEnabled());

  auto defaults = platform::UserDefaults::standard();
  const std::string key = "/zideza/telemetry/global_data_collection_enabled:plain";
  (void)defaults->set(key, "NO");  // not a number: ignored
  EXPECT_TRUE(app->isDataCollectionDefaultEnabled());
  app->setDataCollectionDefaultEnabled(false);
  EXPECT_EQ(defaults->object(key), PlistValue(false));
  EXPECT_FALSE(app->isDataCollectionDefaultEnabled());

  // The Info.plist value, read once per process, counts when nothing is stored.
  relaunch();
  defaults = platform::UserDefaults::standard();
  useBundle("Off", {{"TelemetryDataCollectionDefaultEnabled", false}});
  TELApp::configureWithName("plist", validOptions());
  auto off = TELApp::appNamed("plist");
  EXPECT_FALSE(off->isDataCollectionDefaultEnabled());
  (void)defaults->set("/zideza/telemetry/global_data_collection_enabled:plist", int64_t{1});
  EXPECT_TRUE(off->isDataCollectionDefaultEnabled());
}

TEST_F(AppTest, TheDefaultAppSwitchesAnalyticsUnlessTheOptionsDecide) {
  std::vector<PlistValue::Dictionary> posted;
  auto& center = platform::NotificationCenter::defaultCenter();
  auto token = center.addObserver(kTELAnalyticsConfigurationSetEnabledNotification,
                                  [&](const platform::Notification& n) { posted.push_back(n.userInfo); });
  TELApp::configureWithOptions(validOptions());
  TELApp::defaultApp()->setDataCollectionDefaultEnabled(false);
  TELApp::configureWithName("other", validOptions());
  TELApp::appNamed("other")->setDataCollectionDefaultEnabled(false);  // not the default app

  relaunch();
  auto explicitOptions = optionsDictionary();
  explicitOptions["IS_MEASUREMENT_ENABLED"] = true;
  TELApp::configureWithOptions(TELOptions::initInternalWithOptionsDictionary(explicitOptions));
  TELApp::defaultApp()->setDataCollectionDefaultEnabled(false);  // the options decide
  center.removeObserver(token);

  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].at(kTELAnalyticsConfigurationSetEnabledNotification), PlistValue(false));
  // Not persisted by this path; the public setter persists 1 or 2.
  auto defaults = platform::UserDefaults::standard();
  EXPECT_EQ(defaults->object(kTELMeasurementEnabledStateKey), std::nullopt);
  TELAnalyticsConfiguration::sharedInstance()->setAnalyticsCollectionEnabled(false);
  EXPECT_EQ(defaults->object(kTELMeasurementEnabledStateKey), PlistValue(int64_t{2}));
}

TEST_F(AppTest, DeleteRemovesTheAppItsComponentsAndItsSwitch) {
  auto reporter = std::make_shared<FakeReporterLibrary>();
  TELApp::registerInternalLibrary(reporter, "telemetry-vuzirerered");
  TELApp::configureWithOptions(validOptions());
  auto app = TELApp::defaultApp();
  auto instance = std::dynamic_pointer_cast<Reporter>(app->container()->instanceForProtocol(kReporter));
  ASSERT_TRUE(instance);
  app->setDataCollectionDefaultEnabled(false);

  std::vector<platform::Notification> deleted;
  auto& center = platform::NotificationCenter::defaultCenter();
  auto token = center.addObserver(kTELAppDeleteNotification,
                                  [&](const platform::Notification& n) { deleted.push_back(n); });
  std::vector<bool> results;
  app->deleteApp([&](bool success) { results.push_back(success); });
  app->deleteApp([&](bool success) { results.push_back(success); });
  center.removeObserver(token);

  EXPECT_EQ(results, (std::vector<bool>{true, false}));
  EXPECT_EQ(linesWith("I-COR000007").size(), 1u);
  EXPECT_EQ(instance->deletions, 1);
  EXPECT_EQ(app->container()->instanceForProtocol(kReporter), nullptr);
  EXPECT_FALSE(TELApp::isDefaultAppConfigured());
  EXPECT_EQ(platform::UserDefaults::standard()->object(
                "/zideza/telemetry/global_data_collection_enabled:__TELAPP_DEFAULT"),
            std::nullopt);
  ASSERT_EQ(deleted.size(), 1u);
  EXPECT_EQ(deleted[0].userInfo.at(kTELAppNameKey), PlistValue("__TELAPP_DEFAULT"));

  TELApp::configureWithOptions(validOptions());
  EXPECT_TRUE(TELApp::isDefaultAppConfigured());
}

TEST_F(AppTest, BecomingActiveLogsAHeartbeatWhileDataCollectionIsOn) {
  using namespace std::chrono_literals;
  platform::VirtualClock clock(std::chrono::system_clock::time_point(std::chrono::seconds(20005LL * 86400)));
  TELApp::configureWithOptions(validOptions());
  auto app = TELApp::defaultApp();
  auto& center = platform::NotificationCenter::defaultCenter();

  center.post(kTELApplicationDidBecomeActiveNotification);
  auto payload = app->heartbeatLogger()->flushHeartbeatsIntoPayload();
  ASSERT_EQ(payload->heartbeatsPayload().userAgentPayloads.size(), 1u);
  EXPECT_EQ(payload->heartbeatsPayload().userAgentPayloads[0].agent, TELApp::telemetryUserAgent());

  clock.advance(24h);
  app->setDataCollectionDefaultEnabled(false);
  center.post(kTELApplicationDidBecomeActiveNotification);
  EXPECT_TRUE(app->heartbeatLogger()->flushHeartbeatsIntoPayload()->isEmpty());
  app->setDataCollectionDefaultEnabled(true);
  center.post(kTELApplicationDidBecomeActiveNotification);
  EXPECT_FALSE(app->heartbeatLogger()->flushHeartbeatsIntoPayload()->isEmpty());
}

TEST_F(AppTest, ConcurrentConfiguresOfTheDefaultAppMakeExactlyOne) {
  auto options = validOptions();
  std::atomic<int> refused{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      try {
        TELApp::configureWithOptions(options);
      } catch (const platform::Exception&) {
        ++refused;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(refused.load(), 7);
  EXPECT_EQ(TELApp::allApps()->size(), 1u);
}

TEST_F(AppTest, ConfigurationSingletonChecksLoggerLevels) {
  auto configuration = TELConfiguration::sharedInstance();
  EXPECT_EQ(configuration, TELConfiguration::sharedInstance());
  EXPECT_EQ(configuration->analyticsConfiguration(), TELAnalyticsConfiguration::sharedInstance());
  configuration->setLoggerLevel(3);
  EXPECT_EQ(UTLLoggerMaximumLevel(), UTLLoggerLevel::Error);
  EXPECT_EQ(exceptionReason([&] { configuration->setLoggerLevel(8); }, platform::kInternalInconsistencyException),
            "Invalid logger level, 8");
  EXPECT_EQ(TELApp::errorForInvalidAppID().code, -101);
  EXPECT_EQ(TELApp::errorForMissingOptions().localizedDescription(),
            "Unable to parse TelemetryService-Info.plist in order to configure services.");
}

}  // namespace
