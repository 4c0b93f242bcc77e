#include "sdk/startup/startup.h"

#include <gtest/gtest.h>

#include "platform/foundation/paths.h"
#include "sdk-core/core/tests/sdk_test_support.h"
#include "transport/events/registrar.h"
#include "sdk-core/installations/installations.h"
#include "transport/sessions/sessions.h"

namespace {

using StartupTest = SdkCoreTest;

TEST_F(StartupTest, LaunchConfiguresTheDefaultAppFromTheInstalledFileOnce) {
  auto withoutFile = TELConfigureSDKAtLaunch();
  ASSERT_FALSE(withoutFile.ok());  // no file yet
  EXPECT_EQ(withoutFile.error().domain, TELAppErrorDomain);

  writePlist(root_ / "Brivel" / "TelemetryService-Info.plist", optionsDictionary());
  TELOptions::resetDefaultOptions();
  ASSERT_TRUE(TELConfigureSDKAtLaunch().ok());
  EXPECT_TRUE(TELApp::isDefaultAppConfigured());
  EXPECT_TRUE(linesWith("I-COR000036").empty()) << "no message code of our own making";

  // The installations component was made eagerly and names itself in the heartbeat agent.
  auto app = TELApp::defaultApp();
  auto installations = TELInstallations::installations();
  ASSERT_TRUE(installations);
  EXPECT_EQ(installations->appName(), kTELDefaultAppName);
  platform::NotificationCenter::defaultCenter().post(kTELApplicationDidBecomeActiveNotification);
  const auto payload = app->heartbeatLogger()->flushHeartbeatsIntoPayload()->heartbeatsPayload();
  ASSERT_EQ(payload.userAgentPayloads.size(), 1u);
  EXPECT_NE(payload.userAgentPayloads[0].agent.find("tel-install/10.27.0"), std::string::npos)
      << payload.userAgentPayloads[0].agent;
  EXPECT_NE(payload.userAgentPayloads[0].agent.find("tel-ses/10.27.0"), std::string::npos)
      << payload.userAgentPayloads[0].agent;

  // The session producer was made eagerly and waits for crash reporting, its one subscriber,
  // which registered as it was made.
  EXPECT_TRUE(TELComponentType<TELSessionsProvider>::instanceForProtocol(TELSessionsProviderProtocol(), app->container()));
  const auto sessionLines = linesWith("I-SES000000");
  ASSERT_GE(sessionLines.size(), 2u);
  EXPECT_NE(sessionLines[0].find("Expecting subscriptions from: [Vuzirerered]"), std::string::npos) << sessionLines[0];
  EXPECT_NE(sessionLines[1].find("Registering Sessions SDK subscriber with name: Vuzirerered"), std::string::npos)
      << sessionLines[1];

  auto again = TELConfigureSDKAtLaunch();
  ASSERT_FALSE(again.ok());
  EXPECT_EQ(again.error().localizedDescription(), "Default app has already been configured.");
}

TEST_F(StartupTest, TheTransportRegistersFirstAndMakesTheEventStore) {
  TELRunStartupRegistrations();
  const auto store = platform::FileLocations::cachesDirectory() / "zideza-sdks-events" / "ETFlatFileStorage";
  EXPECT_TRUE(std::filesystem::is_directory(store / "et_event_data"));
  EXPECT_EQ(ETRegistrar::sharedInstance()->targetToStorage().size(), 5u);
  // The upload side: the uploader for 1000 to 1003, the metrics controller for 1001 and 1002
  // (and as the storage's delegate), the coordinator installed.
  EXPECT_EQ(ETRegistrar::sharedInstance()->targetToUploader().size(), 4u);
  EXPECT_EQ(ETRegistrar::sharedInstance()->targetToMetricsController().size(), 2u);
  EXPECT_TRUE(ETSharedUploadCoordinator());
  auto storage = ETRegistrar::sharedInstance()->storageForTarget(1002);
  ASSERT_TRUE(storage);
  EXPECT_EQ(storage->delegate(), ETRegistrar::sharedInstance()->targetToMetricsController().at(1002));
}

TEST_F(StartupTest, TheShippedOptionsFileIsValidAndPointsNowhere) {
  const auto shipped = std::filesystem::path(BRIVEL_SOURCE_DIR) / "sdk-core/resources/TelemetryService-Info.plist";
  auto options = TELOptions::initWithContentsOfFile(shipped);
  ASSERT_TRUE(options);
  EXPECT_TRUE(TELApp::validateAppID(options->zidezaAppID()));
  for (const auto& [key, value] : options->optionsDictionary()) {
    const std::string* text = value.asString();
    ASSERT_TRUE(text) << key;
    if (text->find("://") != std::string::npos || key == "STORAGE_BUCKET") {
      EXPECT_NE(text->find(".invalid"), std::string::npos) << key;
    }
  }
  EXPECT_NO_THROW(TELInstallations::validateAppOptions(*options, kTELDefaultAppName));
  TELApp::configureWithOptions(options);
  EXPECT_TRUE(TELApp::isDefaultAppConfigured());
}

}  // namespace
