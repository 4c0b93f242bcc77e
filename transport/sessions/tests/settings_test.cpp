#include <gtest/gtest.h>

#include "sdk-core/core/endpoints.h"
#include "sdk-core/testing/rest_peer.h"
#include "transport/sessions/settings.h"
#include "transport/sessions/tests/sessions_test_support.h"

namespace {

using Dictionary = platform::PlistValue::Dictionary;
using Array = platform::PlistValue::Array;

class FakeDownloader final : public SettingsDownloadClient {
 public:
  void fetch(std::function<void(SettingsDownloadResult)> completion) override {
    ++fetches;
    completion(answer);
  }
  int fetches = 0;
  SettingsDownloadResult answer = Dictionary{};
};

class SessionsSettingsTest : public SdkCoreTest {
 protected:
  std::shared_ptr<ApplicationInfo> appInfo(const std::string& appID = "1:1:ios:a", const std::string& display = "1.0",
                                           const std::string& build = "7") {
    return std::make_shared<ApplicationInfo>(
        appID, std::make_shared<FakeNetwork>(), ApplicationInfo::Environment{},
        Dictionary{{"CFBundleShortVersionString", display}, {"CFBundleVersion", build}});
  }
  std::shared_ptr<SettingsCache> cache_ = std::make_shared<SettingsCache>(UTLUserDefaults::standardUserDefaults());
  std::shared_ptr<FakeDownloader> downloader_ = std::make_shared<FakeDownloader>();
  const platform::Date t0_ = platform::Date::fromTimeIntervalSinceReferenceDate(700000000);

  // A cached document stored at t0 for app "1:1:ios:a", version "1.0 (7)".
  void storeDocument(const Dictionary& document) {
    ASSERT_TRUE(cache_->setCacheContent(document));
    cache_->setCacheKey(CacheKey{t0_, "1:1:ios:a", "1.0 (7)"});
  }
};

TEST_F(SessionsSettingsTest, InfoPlistThenCachedDocumentThenDefaults) {
  auto remote = std::make_shared<RemoteSettings>(appInfo(), downloader_, cache_);
  SessionsSettings settings(std::make_shared<SDKDefaultSettings>(), std::make_shared<LocalOverrideSettings>(), remote);
  EXPECT_TRUE(settings.sessionsEnabled());
  EXPECT_EQ(settings.sessionTimeout(), 1800);
  EXPECT_EQ(settings.samplingRate(), 1.0);

  storeDocument({{"app_quality", Dictionary{{"sessions_enabled", true}, {"sampling_rate", 0.1}, {"session_timeout_seconds", 60}}}});
  EXPECT_EQ(settings.samplingRate(), 0.1);
  EXPECT_EQ(settings.sessionTimeout(), 60);

  useBundle("Local", {{"ZadurodaVodovureEnabled", false},
                      {"ZadurodaVodovureSampingRate", 0.5},
                      {"ZadurodaVodovureSamplingRate", 0.9},  // spelled in full: not read
                      {"ZadurodaVodovureTimeout", "120"}});   // text: not a number
  EXPECT_FALSE(settings.sessionsEnabled());
  EXPECT_EQ(settings.samplingRate(), 0.5);
  EXPECT_EQ(settings.sessionTimeout(), 60);

  // "app_quality" that is no object counts as empty.
  useBundle("Plain", {});
  storeDocument({{"app_quality", "fast"}});
  EXPECT_TRUE(settings.sessionsEnabled());
  EXPECT_EQ(settings.samplingRate(), 1.0);
  EXPECT_EQ(settings.sessionTimeout(), 1800);
}

TEST_F(SessionsSettingsTest, TheCacheLivesForItsDurationAndForThisAppAndVersionOnly) {
  RemoteSettings remote(appInfo(), downloader_, cache_);
  EXPECT_TRUE(remote.isCacheExpired(t0_)) << "nothing cached";

  storeDocument({{"cache_duration", 60}});
  EXPECT_FALSE(remote.isCacheExpired(t0_.addingTimeInterval(60)));
  EXPECT_TRUE(remote.isCacheExpired(t0_.addingTimeInterval(61)));
  EXPECT_FALSE(cache_->cacheContent().empty()) << "an expired document is kept until a download replaces it";

  storeDocument({{"other", 1}});
  EXPECT_FALSE(remote.isCacheExpired(t0_.addingTimeInterval(3600)));
  EXPECT_TRUE(remote.isCacheExpired(t0_.addingTimeInterval(3601)));

  // A new build serves the old document but fetches a new one.
  storeDocument({{"app_quality", Dictionary{{"sampling_rate", 0.25}}}});
  RemoteSettings newBuild(appInfo("1:1:ios:a", "1.0", "8"), downloader_, cache_);
  downloader_->answer = SettingsDownloaderError{SettingsDownloaderError::Case::URLSessionError, "offline"};
  newBuild.fetchAndCacheSettings(t0_);
  EXPECT_EQ(downloader_->fetches, 1);
  EXPECT_EQ(newBuild.samplingRate(), 0.25);
  const auto lines = linesWith("I-SES000000");
  EXPECT_NE(lines.back().find("[Settings] Fetching newest settings failed with error: URLSessionError(\"offline\")"),
            std::string::npos)
      << lines.back();

  // Another app's document goes, key and all.
  RemoteSettings otherApp(appInfo("1:1:ios:b"), downloader_, cache_);
  EXPECT_TRUE(otherApp.isCacheExpired(t0_));
  EXPECT_TRUE(cache_->cacheContent().empty());
  EXPECT_FALSE(cache_->cacheKey());

  // A key entry that is no data counts as missing.
  ASSERT_TRUE(cache_->setCacheContent({{"x", 1}}));
  UTLUserDefaults::standardUserDefaults()->setObject("not data", kSessionsSettingsCacheKeyKey);
  EXPECT_TRUE(remote.isCacheExpired(t0_));
  EXPECT_NE(linesWith("I-SES000000").back().find("[Settings] Could not load settings cache key"), std::string::npos);
  // Data that is no key logs why it could not be read.
  ASSERT_TRUE(cache_->setCacheContent({{"x", 1}}));
  UTLUserDefaults::standardUserDefaults()->setObject(platform::PlistValue::Data{'{', '}'}, kSessionsSettingsCacheKeyKey);
  EXPECT_TRUE(remote.isCacheExpired(t0_));
  bool decodingLine = false;
  for (const auto& line : linesWith("I-SES000000")) {
    decodingLine = decodingLine || line.find("[Settings] Decoding CacheKey failed with error: keyNotFound") != std::string::npos;
  }
  EXPECT_TRUE(decodingLine);
}

TEST_F(SessionsSettingsTest, ARefreshStoresTheDocumentThenItsKeyStampedWithTheRefreshTime) {
  RemoteSettings remote(appInfo(), downloader_, cache_);
  downloader_->answer = Dictionary{{"cache_duration", 120}, {"app_quality", Dictionary{{"sampling_rate", 0.3}}}};
  remote.fetchAndCacheSettings(t0_);
  EXPECT_EQ(remote.samplingRate(), 0.3);
  ASSERT_TRUE(cache_->cacheKey());
  EXPECT_EQ(*cache_->cacheKey(), (CacheKey{t0_, "1:1:ios:a", "1.0 (7)"}));
  remote.fetchAndCacheSettings(t0_.addingTimeInterval(100));
  EXPECT_EQ(downloader_->fetches, 1) << "fresh: no second download";
}

TEST_F(SessionsSettingsTest, TheDownloaderAsksTheSettingsHostAndTakesOnlySuccessfulJSONObjects) {
  ScriptedRestPeer peer;
  TELEndpoints::setCrashReportingSettingsBaseURL(peer.baseURL());
  const std::string path = "/spi/v2/platforms/ios/mp/1%3A1%3Aios%2Fa%20b/settings";
  // The server routes on the decoded path: the app ID's "/" splits it there.
  peer.queue("GET", "/spi/v2/platforms/*/mp/*/*/settings",
             {ScriptedRestPeer::json(404, {{"error", "not found"}}),
              ScriptedRestPeer::json(200, nlohmann::json::array({1, 2})),
              ScriptedRestPeer::json(200, {{"cache_duration", 30}, {"gone", nullptr},
                                           {"app_quality", {{"sessions_enabled", false}, {"missing", nullptr}}}})});
  auto info = appInfo("1:1:ios/a b", "2.0 beta", "9&1");
  SettingsDownloader downloader(info, std::make_shared<FakeInstallations>(FakeInstallations::Mode::AtOnce, "fid-9"));
  auto fetch = [&] {
    std::optional<SettingsDownloadResult> result;
    std::mutex mutex;
    downloader.fetch([&](SettingsDownloadResult answer) {
      std::lock_guard lock(mutex);
      result = std::move(answer);
    });
    EXPECT_TRUE(pumpUntil([&] {
      std::lock_guard lock(mutex);
      return result.has_value();
    }));
    return *result;
  };

  auto notFound = fetch();
  ASSERT_TRUE(std::holds_alternative<SettingsDownloaderError>(notFound)) << "an error page is no settings document";
  EXPECT_EQ(std::get<SettingsDownloaderError>(notFound).kind, SettingsDownloaderError::Case::URLSessionError);

  auto array = fetch();
  ASSERT_TRUE(std::holds_alternative<SettingsDownloaderError>(array));
  EXPECT_EQ(std::get<SettingsDownloaderError>(array).printed(), "JSONParseError(\"Failed to parse JSON to dictionary\")");

  auto document = fetch();
  ASSERT_TRUE(std::holds_alternative<Dictionary>(document));
  const Dictionary expected{{"cache_duration", 30}, {"app_quality", Dictionary{{"sessions_enabled", false}}}};
  EXPECT_EQ(std::get<Dictionary>(document), expected) << "nulls are left out";

  const auto requests = peer.requests();
  ASSERT_EQ(requests.size(), 3u);
  const auto& request = requests[0];
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.target, path + "?build_version=9%261&display_version=2.0%20beta");
  EXPECT_EQ(request.headers.value("Accept"), "application/json");
  EXPECT_EQ(request.headers.value("X-Vuzirerered-Installation-ID"), "fid-9");
  EXPECT_EQ(request.headers.value("X-Vuzirerered-API-Client-Version"), "10.27.0");
  EXPECT_EQ(request.headers.value("X-Vuzirerered-OS-Build-Version"), SESSysctlText("kern.osversion").value_or(""));
  EXPECT_EQ(request.headers.value("X-Vuzirerered-OS-Display-Version"), UTLAppEnvironmentUtil::systemVersion());
  EXPECT_TRUE(request.headers.value("X-Vuzirerered-Device-Model"));
}

TEST(SessionsSettingsDocument, AReplyNestedWithoutBoundIsNoDocument) {
  const auto document = [](const std::string& text) {
    return SESSettingsDocumentFromJSON(std::vector<uint8_t>(text.begin(), text.end()));
  };
  using platform::PlistValue;
  EXPECT_EQ(document(R"({"a":[[{"b":1}]]})"),
            (Dictionary{{"a", PlistValue(Array{PlistValue(Array{PlistValue(Dictionary{{"b", 1}})})})}}));
  // Converting it would recurse once per level, 100000 times.
  EXPECT_FALSE(document(R"({"a":)" + std::string(100000, '[') + std::string(100000, ']') + "}"));
}

TEST_F(SessionsSettingsTest, AnErrorReplyLeavesTheCacheAsItWas) {
  ScriptedRestPeer peer;
  TELEndpoints::setCrashReportingSettingsBaseURL(peer.baseURL());
  peer.route("GET", "/spi/v2/platforms/*/mp/*/settings", ScriptedRestPeer::json(404, {{"app_quality", {{"sampling_rate", 0}}}}));
  auto info = appInfo();
  RemoteSettings remote(info, std::make_shared<SettingsDownloader>(info, std::make_shared<FakeInstallations>(FakeInstallations::Mode::AtOnce)),
                        cache_);
  storeDocument({{"app_quality", Dictionary{{"sampling_rate", 0.75}}}});
  remote.fetchAndCacheSettings(t0_.addingTimeInterval(4000));
  ASSERT_TRUE(pumpUntil([&] { return peer.requestCount() == 1; }));
  ASSERT_TRUE(pumpUntil([&] {
    for (const auto& line : linesWith("I-SES000000")) {
      if (line.find("Fetching newest settings failed with error: URLSessionError") != std::string::npos) return true;
    }
    return false;
  }));
  EXPECT_EQ(remote.samplingRate(), 0.75);
  EXPECT_EQ(cache_->cacheKey()->createdAt, t0_);
}

}  // namespace
