#include "sdk-core/core/endpoints.h"

#include <gtest/gtest.h>

#include "sdk-core/core/tests/sdk_test_support.h"

namespace {

class EndpointsTest : public SdkCoreTest {
 protected:
  void SetUp() override {
    SdkCoreTest::SetUp();
    platform::FileLocations::setResourceDirectory(root_ / "Brivel");
  }
};

TEST_F(EndpointsTest, TheFileBesideTheProgramOverridesTheBuiltInAddresses) {
  EXPECT_EQ(TELEndpoints::installationsBaseURL(), "https://installations.telemetry.invalid");
  EXPECT_FALSE(TELEndpoints::uploadBaseURLForTarget(999));

  writePlist(root_ / "Brivel" / "TelemetryEndpoints.plist",
             platform::PlistValue::Dictionary{
                 {"InstallationsBaseURL", "http://127.0.0.1:8080/"},
                 {"UploadBaseURLs", platform::PlistValue::Dictionary{{"1002", "http://127.0.0.1:9000"}}}});
  relaunch();  // the file is read once per process
  platform::FileLocations::setResourceDirectory(root_ / "Brivel");
  EXPECT_EQ(TELEndpoints::installationsBaseURL(), "http://127.0.0.1:8080");
  EXPECT_EQ(TELEndpoints::uploadBaseURLForTarget(1002), "http://127.0.0.1:9000");
  EXPECT_EQ(TELEndpoints::uploadBaseURLForTarget(1001), "https://upload-1001.telemetry.invalid");
  EXPECT_EQ(TELEndpoints::crashReportingSettingsBaseURL(), "https://settings.telemetry.invalid");

  TELEndpoints::setCrashReportingSettingsBaseURL("http://127.0.0.1:1/");
  EXPECT_EQ(TELEndpoints::crashReportingSettingsBaseURL(), "http://127.0.0.1:1");
}

TEST_F(EndpointsTest, AFileNamedAtLaunchIsCheckedBeforeItIsUsed) {
  const auto file = root_ / "endpoints.plist";
  struct Case {
    platform::PlistValue content;
    std::string reason;  // empty: accepted
  };
  const std::vector<Case> cases = {
      {platform::PlistValue::Array{}, "is not a property-list dictionary"},
      {platform::PlistValue::Dictionary{{"InstallationsBaseURL", "ftp://host"}},
       "InstallationsBaseURL is not an http(s) URL"},
      {platform::PlistValue::Dictionary{{"UploadBaseURLs", platform::PlistValue::Dictionary{{"7", "http://h"}}}},
       "UploadBaseURLs has an unknown target \"7\""},
      {platform::PlistValue::Dictionary{{"CrashReportingSettingsBaseURL", 5}},
       "CrashReportingSettingsBaseURL is not an http(s) URL"},
      {platform::PlistValue::Dictionary{{"InstallationsBaseURL", "http://127.0.0.1:4000"}}, ""},
  };
  for (const auto& c : cases) {
    writePlist(file, c.content);
    auto used = TELEndpoints::useFile(file);
    if (c.reason.empty()) {
      EXPECT_TRUE(used.ok());
    } else {
      ASSERT_FALSE(used.ok());
      EXPECT_NE(used.error().localizedDescription().find(c.reason), std::string::npos) << used.error().localizedDescription();
      EXPECT_EQ(TELEndpoints::installationsBaseURL(), "https://installations.telemetry.invalid");
    }
  }
  EXPECT_EQ(TELEndpoints::installationsBaseURL(), "http://127.0.0.1:4000");
  EXPECT_FALSE(TELEndpoints::useFile(root_ / "missing.plist").ok());
}

TEST_F(EndpointsTest, TheShippedTableLeadsNowhere) {
  const auto shipped = std::filesystem::path(BRIVEL_SOURCE_DIR) / "sdk-core/resources/TelemetryEndpoints.plist";
  ASSERT_TRUE(TELEndpoints::useFile(shipped).ok());
  std::vector<std::string> urls = {TELEndpoints::installationsBaseURL(), TELEndpoints::crashReportingSettingsBaseURL()};
  for (int target = 1000; target <= 1003; ++target) urls.push_back(*TELEndpoints::uploadBaseURLForTarget(target));
  for (const auto& url : urls) EXPECT_TRUE(url.ends_with(".invalid")) << url;
}

}  // namespace
