#include <gtest/gtest.h>

#include "sdk-core/utilities/environment.h"
#include "transport/sessions/dev_event_console_logger.h"
#include "transport/sessions/tests/sessions_test_support.h"

namespace {

class FixedTime final : public TimeProvider {
 public:
  int64_t timestampUS() const override { return 1700000000000000; }
};

class ConsoleLoggerTest : public SdkCoreTest {
 protected:
  std::shared_ptr<SessionStartEvent> event() {
    ApplicationInfo appInfo("1:1:ios:a", std::make_shared<FakeNetwork>(), {},
                            platform::PlistValue::Dictionary{{"CFBundleShortVersionString", "1.0"}});
    return std::make_shared<SessionStartEvent>(SessionInfo{"abc", "abc", true, 0}, appInfo, FixedTime());
  }
};

TEST_F(ConsoleLoggerTest, TheDumpShowsTheWireCopy) {
  auto sent = event();
  sent->setInstallationID("");
  sent->setSamplingRate(0.5);
  sent->setVuzireredState(telemetry_quality_sessions_DataCollectionState_COLLECTION_ENABLED);
  DevEventConsoleLogger logger(kSessionsDebugEventsArgument);
  const std::string expected =
      "Printing Session Event due to \"-TELSessionsDebugEvents\" command line argument\n"
      "Session Event:\n"
      "  event_type: SESSION_START\n"
      "  session_data\n"
      "    session_id: abc\n"
      "    first_session_id: abc\n"
      "    session_index: 0\n"
      "    event_timestamp_us: 1700000000000000\n"
      "    telemetry_installation_id: <EMPTY>\n"
      "    telemetry_authentication_token:\n"
      "        <NULL>\n"
      "    data_collection_status\n"
      "      vuzirerered: ENABLED\n"
      "      performance: SDK_NOT_INSTALLED\n"
      "      session_sampling_rate: 0.5\n"
      "  application_info\n"
      "    app_id: 1:1:ios:a\n"
      "    session_sdk_version: 10.27.0\n"
      "    os_version: " + UTLAppEnvironmentUtil::systemVersion() + "\n"
      "    device_model: " + UTLAppEnvironmentUtil::deviceSimulatorModel().value_or("<EMPTY>") + "\n"
      "    development_platform_name: <NULL>\n"
      "    development_platform_version: <NULL>\n"
      "    apple_app_info\n"
      "      bundle_short_version: 1.0\n"
      "      app_build_version: <EMPTY>\n"
      "      network_connection_info\n"
      "        network_type: 8\n"
      "        mobile_subtype: 0\n"
      "      os_name: IOS\n"
      "      log_environment: PROD";
  EXPECT_EQ(logger.dump(*sent), expected);
}

TEST_F(ConsoleLoggerTest, NamesAndNumbers) {
  EXPECT_EQ(SESEventTypeName(7), "Unrecognized EventType. Please update the telemetry_quality_sessions_EventType "
                                 "CustomStringConvertible extension");
  EXPECT_EQ(SESDataCollectionStateName(5), "SAMPLED");
  EXPECT_EQ(SESDataCollectionStateName(6).rfind("Unrecognized DataCollectionState.", 0), 0u);
  EXPECT_EQ(SESOsNameName(7), "IPADOS");
  EXPECT_EQ(SESOsNameName(9).rfind("Unrecognized OsName.", 0), 0u);
  EXPECT_EQ(SESLogEnvironmentName(2), "STAGING");
  EXPECT_EQ(SESLogEnvironmentName(-1).rfind("Unrecognized LogEnvironment.", 0), 0u);
  EXPECT_EQ(SESDoubleText(1.0), "1.0");
  EXPECT_EQ(SESDoubleText(0.5), "0.5");
  EXPECT_EQ(SESDoubleText(0.1), "0.1");
  EXPECT_EQ(SESDoubleText(0.0), "0.0");
}

TEST_F(ConsoleLoggerTest, OnlyTheExactArgumentPrints) {
  DevEventConsoleLogger logger(kSessionsDebugEventsArgument);
  auto count = [&] { return linesWith("I-SES000000").size(); };
  UTLLaunchArguments::replace(std::vector<std::string>{"brivel", "-TELSessionsDebugEventsX", "-telsessionsdebugevents"});
  logger.logEvent(event(), nullptr);
  EXPECT_EQ(count(), 0u);
  UTLLaunchArguments::replace(std::vector<std::string>{"brivel", "-TELSessionsDebugEvents"});
  logger.logEvent(event(), nullptr);
  ASSERT_EQ(count(), 1u);
  EXPECT_NE(linesWith("I-SES000000")[0].find("Printing Session Event due to"), std::string::npos);
  UTLLaunchArguments::replace(std::nullopt);
}

}  // namespace
