#include "sdk-core/startup/startup.h"

#include <gtest/gtest.h>

#include "platform/foundation/paths.h"
#include "sdk-core/core/tests/sdk_test_support.h"
#include "transport/events/registrar.h"

namespace {

using StartupTest = SdkCoreTest;

TEST_F(StartupTest, LaunchConfiguresTheDefaultAppFromTheInstalledFileOnce) {
  EXPECT_NE(exceptionReason([] { TELConfigureSDKAtLaunch(); }), "<no exception>");  // no file yet

  writePlist(root_ / "Brivel" / "TelemetryService-Info.plist", optionsDictionary());
  TELOptions::resetDefaultOptions();
  TELConfigureSDKAtLaunch();
  EXPECT_TRUE(TELApp::isDefaultAppConfigured());
  EXPECT_EQ(linesWith("I-COR000036").size(), 1u);
  EXPECT_EQ(exceptionReason([] { TELConfigureSDKAtLaunch(); }), "Default app has already been configured.");
}

TEST_F(StartupTest, TheTransportRegistersFirstAndMakesTheEventStore) {
  TELRunStartupRegistrations();
  const auto store = platform::FileLocations::cachesDirectory() / "zideza-sdks-events" / "ETFlatFileStorage";
  EXPECT_TRUE(std::filesystem::is_directory(store / "et_event_data"));
  EXPECT_EQ(ETRegistrar::sharedInstance()->targetToStorage().size(), 5u);
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
  TELApp::configureWithOptions(options);
  EXPECT_TRUE(TELApp::isDefaultAppConfigured());
}

}  // namespace
