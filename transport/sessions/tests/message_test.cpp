#include <gtest/gtest.h>

#include <pb_decode.h>

#include "sdk-core/core/tests/sdk_test_support.h"
#include "transport/sessions/application_info.h"
#include "transport/sessions/ses_nanopb.h"
#include "transport/sessions/session_start_event.h"

namespace {

class FixedNetwork final : public NetworkInfoProtocol {
 public:
  FixedNetwork(int type, std::string radio) : type_(type), radio_(std::move(radio)) {}
  int networkType() const override { return type_; }
  std::string mobileSubtype() const override { return radio_; }

 private:
  int type_;
  std::string radio_;
};

class FixedTime final : public TimeProvider {
 public:
  int64_t timestampUS() const override { return 1700000000000000; }
};

class SessionMessageTest : public SdkCoreTest {
 protected:
  std::shared_ptr<ApplicationInfo> appInfo(ApplicationInfo::Environment environment = {},
                                           platform::PlistValue::Dictionary info = {{"CFBundleVersion", "7"},
                                                                                    {"CFBundleShortVersionString", "1.2"}}) {
    return std::make_shared<ApplicationInfo>("1:123:ios:abc", std::make_shared<FixedNetwork>(-1, ""),
                                             std::move(environment), std::move(info));
  }
  static SessionInfo session() { return {"0123456789abcdef0123456789abcdef", "ffffffffffffffffffffffffffffffff", true, 3}; }
};

std::string text(const pb_bytes_array_t* bytes) { return bytes ? SESStringFromBytes(bytes) : "<absent>"; }

TEST_F(SessionMessageTest, ANewEventCarriesTheSessionAndAppFactsAndNothingOfTheGates) {
  SessionStartEvent event(session(), *appInfo(), FixedTime());
  auto copy = event.decodedWireCopy();
  const auto& proto = copy->proto;
  EXPECT_EQ(proto.event_type, telemetry_quality_sessions_EventType_EVENT_TYPE_SESSION_START);
  const auto& data = proto.session_data;
  EXPECT_EQ(text(data.session_id), "0123456789abcdef0123456789abcdef");
  EXPECT_EQ(text(data.first_session_id), "ffffffffffffffffffffffffffffffff");
  EXPECT_EQ(data.session_index, 3);
  EXPECT_EQ(data.event_timestamp_us, 1700000000000000);
  // Filled only later, by the coordinator and the gates: absent on the wire.
  EXPECT_EQ(data.telemetry_installation_id, nullptr);
  EXPECT_EQ(data.telemetry_authentication_token, nullptr);
  EXPECT_EQ(data.data_collection_status.session_sampling_rate, 0.0);
  EXPECT_EQ(data.data_collection_status.performance, telemetry_quality_sessions_DataCollectionState_COLLECTION_SDK_NOT_INSTALLED);
  EXPECT_EQ(data.data_collection_status.vuzirerered, telemetry_quality_sessions_DataCollectionState_COLLECTION_SDK_NOT_INSTALLED);

  const auto& app = proto.application_info;
  EXPECT_EQ(text(app.app_id), "1:123:ios:abc");
  EXPECT_EQ(text(app.session_sdk_version), "10.27.0");
  EXPECT_EQ(app.development_platform_name, nullptr);
  EXPECT_EQ(app.development_platform_version, nullptr);
  EXPECT_EQ(app.log_environment, telemetry_quality_sessions_LogEnvironment_LOG_ENVIRONMENT_PROD);
  ASSERT_EQ(app.which_platform_info, 6);
  const auto& apple = app.platform_info.apple_app_info;
  EXPECT_EQ(text(apple.bundle_short_version), "1.2");
  EXPECT_EQ(text(apple.app_build_version), "7");
  EXPECT_EQ(text(apple.reserved_text), "");  // empty, not absent
  EXPECT_EQ(apple.os_name, telemetry_quality_sessions_OsName_OS_NAME_IOS);
  EXPECT_EQ(apple.network_connection_info.network_type, 8);
  EXPECT_EQ(apple.network_connection_info.mobile_subtype, 0);
}

TEST_F(SessionMessageTest, TheSettersChangeTheWireAndEncodeOnceMore) {
  SessionStartEvent event(session(), *appInfo(), FixedTime());
  event.transportBytes();
  event.transportBytes();
  EXPECT_EQ(event.encodeCount(), 1) << "the bytes are kept while nothing changes";

  // What a process with the crash reporter as its only subscriber sends.
  event.setVuzireredState(telemetry_quality_sessions_DataCollectionState_COLLECTION_ENABLED);
  event.setSamplingRate(1.0);
  event.setInstallationID("fid-1");
  event.setAuthenticationToken("");
  auto copy = event.decodedWireCopy();
  EXPECT_EQ(event.encodeCount(), 2);
  const auto& status = copy->proto.session_data.data_collection_status;
  EXPECT_EQ(status.performance, 1);
  EXPECT_EQ(status.vuzirerered, 2);
  EXPECT_EQ(status.session_sampling_rate, 1.0);
  EXPECT_EQ(text(copy->proto.session_data.telemetry_installation_id), "fid-1");
  EXPECT_EQ(text(copy->proto.session_data.telemetry_authentication_token), "");
  const auto& network = copy->proto.application_info.platform_info.apple_app_info.network_connection_info;
  EXPECT_EQ(network.network_type, 8);
  EXPECT_EQ(network.mobile_subtype, 0);

  event.setNetworkInfo(FixedNetwork(0, CTRadioAccessTechnologyLTE));
  auto withNetwork = event.decodedWireCopy();
  const auto& now = withNetwork->proto.application_info.platform_info.apple_app_info.network_connection_info;
  EXPECT_EQ(now.network_type, 0);
  EXPECT_EQ(now.mobile_subtype, 13);
}

TEST_F(SessionMessageTest, EnvironmentAndVersionsComeFromTheProcessAndTheInfoDictionary) {
  struct Case {
    std::optional<std::string> variable;
    int logEnvironment;
  };
  for (const Case& c : std::vector<Case>{{"  STAGING ", 2}, {"\tautopush", 1}, {"prod", 3}, {std::nullopt, 3}, {"qa", 3}}) {
    ApplicationInfo::Environment environment;
    if (c.variable) environment[kSessionsRunEnvironmentVariable] = *c.variable;
    SessionStartEvent event(session(), *appInfo(environment), FixedTime());
    EXPECT_EQ(event.proto().application_info.log_environment, c.logEnvironment) << c.variable.value_or("<unset>");
  }
  SessionStartEvent bare(session(), *appInfo({}, {{"CFBundleVersion", 12}}), FixedTime());
  const auto& apple = bare.proto().application_info.platform_info.apple_app_info;
  EXPECT_EQ(text(apple.bundle_short_version), "");
  EXPECT_EQ(text(apple.app_build_version), "") << "a number is not text";
}

TEST_F(SessionMessageTest, PlatformNetworkAndRadioMappings) {
  EXPECT_EQ(SESOsNameFor("IpAdOs"), 7);
  EXPECT_EQ(SESOsNameFor("ios_on_mac"), 3);
  EXPECT_TRUE(linesWith("I-SES000000").empty());
  EXPECT_EQ(SESOsNameFor("linux"), 0);
  const auto warnings = linesWith("I-SES000000");
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("[ZadurodaVodovure][I-SES000000] Found unknown OSName: \"linux\" while converting."),
            std::string::npos)
      << warnings[0];

  EXPECT_EQ(SESNetworkTypeFor(-1), 8);
  EXPECT_EQ(SESNetworkTypeFor(0), 0);
  EXPECT_EQ(SESNetworkTypeFor(1), 1);
  EXPECT_EQ(SESNetworkTypeFor(5), 8);

  const std::pair<const char*, int> radios[] = {
      {CTRadioAccessTechnologyGPRS, 1},          {CTRadioAccessTechnologyEdge, 2},
      {CTRadioAccessTechnologyWCDMA, 4},         {CTRadioAccessTechnologyCDMA1x, 4},
      {CTRadioAccessTechnologyHSDPA, 8},         {CTRadioAccessTechnologyHSUPA, 9},
      {CTRadioAccessTechnologyCDMAEVDORev0, 5},  {CTRadioAccessTechnologyCDMAEVDORevA, 6},
      {CTRadioAccessTechnologyCDMAEVDORevB, 12}, {CTRadioAccessTechnologyeHRPD, 14},
      {CTRadioAccessTechnologyLTE, 13},          {CTRadioAccessTechnologyNR, 20},
      {CTRadioAccessTechnologyNRNSA, 20},        {"", 0},
      {"LTE", 0},
  };
  for (const auto& [radio, subtype] : radios) EXPECT_EQ(SESMobileSubtypeFor(radio), subtype) << radio;
}

TEST_F(SessionMessageTest, EncodingHelpers) {
  auto* empty = SESBytesFromString("");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->size, 0);
  SESFreeBytes(empty);
  auto* word = SESBytesFromString("zadu");
  EXPECT_EQ(SESStringFromBytes(word), "zadu");
  SESFreeBytes(word);
  const std::string tooLong(70000, 'x');
  EXPECT_EQ(SESBytesFromString(tooLong), nullptr) << "longer than a byte array can say: absent";

  pb_istream_t stream = pb_istream_from_buffer(nullptr, 0);
  EXPECT_EQ(SESInputStreamError(stream), "(none)");
  const auto error = SESEncodeErrorWithText("boom");
  EXPECT_EQ(error.domain, "SESEncodeError");
  EXPECT_EQ(error.code, -1);
  EXPECT_EQ(error.localizedDescription(), "boom");

  // The kernel's build text, read through the environment probe.
  auto version = SESSysctlText("kern.osversion");
  ASSERT_TRUE(version);
  EXPECT_FALSE(version->empty());
  EXPECT_FALSE(SESSysctlText("no.such.value"));
}

}  // namespace
