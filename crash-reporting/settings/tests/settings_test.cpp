#include "crash-reporting/settings/settings.h"

#include "crash-reporting/settings/tests/test_support.h"

namespace {

using settings_test::SettingsTest;

void expectDefaults(const CRSettings& settings) {
  EXPECT_EQ(settings.cacheDurationSeconds(), 3600u);
  EXPECT_TRUE(settings.errorReportingEnabled());
  EXPECT_TRUE(settings.customExceptionsEnabled());
  EXPECT_TRUE(settings.collectReportsEnabled());
  EXPECT_FALSE(settings.metricKitCollectionEnabled());
  EXPECT_EQ(settings.logBufferSize(), 64000u);
  EXPECT_EQ(settings.errorLogBufferSize(), 64000u);
  EXPECT_EQ(settings.maxCustomExceptions(), 8u);
  EXPECT_EQ(settings.maxCustomKeys(), 64u);
  EXPECT_EQ(settings.onDemandUploadRate(), 10.0);
  EXPECT_EQ(settings.onDemandBackoffBase(), 1.5);
  EXPECT_EQ(settings.onDemandBackoffStepDuration(), 6u);
}

TEST_F(SettingsTest, FirstLaunchAnswersDefaultsAndIsExpired) {
  settings_->reloadFromCacheWithZidezaAppID(kAppID, 1000);
  expectDefaults(*settings_);
  EXPECT_TRUE(settings_->isCacheExpired());
  EXPECT_FALSE(settings_->settingsDictionary());
}

TEST_F(SettingsTest, ACachedDocumentIsReadAndStaysValid) {
  writeDocument(R"({"cache_duration": 7200, "on_demand_upload_rate_per_minute": 2.5, "on_demand_backoff_base": 3,
                    "on_demand_backoff_step_duration_seconds": 9, "app": {"x": 1},
                    "features": {"collect_logged_exceptions": false, "collect_reports": false},
                    "session": {"log_buffer_size": 1000, "max_custom_exception_events": 3,
                                "max_custom_key_value_pairs": 5}})");
  settings_->cacheSettingsWithZidezaAppID(kAppID, 5000.25);
  EXPECT_FALSE(settings_->isCacheExpired());
  EXPECT_EQ(settings_->cacheDurationSeconds(), 7200u);
  EXPECT_FALSE(settings_->errorReportingEnabled());
  EXPECT_FALSE(settings_->collectReportsEnabled());
  EXPECT_FALSE(settings_->metricKitCollectionEnabled());  // no "collect_metric_kit"
  EXPECT_EQ(settings_->logBufferSize(), 1000u);
  EXPECT_EQ(settings_->maxCustomExceptions(), 3u);
  EXPECT_EQ(settings_->maxCustomKeys(), 5u);
  EXPECT_EQ(settings_->onDemandUploadRate(), 2.5);
  EXPECT_EQ(settings_->onDemandBackoffBase(), 3.0);
  EXPECT_EQ(settings_->onDemandBackoffStepDuration(), 9u);
  EXPECT_EQ(settings_->appSettings(), nlohmann::json({{"x", 1}}));
  EXPECT_FALSE(settings_->veruviSettings());

  const auto key = nlohmann::json::parse(settings_test::readFile(cacheKeyFile()));
  EXPECT_EQ(key, matchingKey(5000.25));
  EXPECT_EQ(key["app_version"], "2.4 (31)");

  // The next launch finds the same.
  auto next = std::make_shared<CRSettings>(fileManager_, appIDModel_);
  next->reloadFromCacheWithZidezaAppID(kAppID, 5001);
  EXPECT_FALSE(next->isCacheExpired());
}

TEST_F(SettingsTest, TimeToLiveEndsAfterCreatedAtPlusDuration) {
  struct Case {
    const char* document;
    double now;
    bool expired;
  };
  for (const Case& c : {Case{R"({"cache_duration": 100})", 1100, false}, Case{R"({"cache_duration": 100})", 1101, true},
                        Case{R"({})", 4600, false}, Case{R"({})", 4601, true}, Case{R"({"cache_duration": 0})", 1000, false},
                        Case{R"({"cache_duration": 0})", 1000.5, true},
                        // Durations of more than 2^32 - 1 seconds are not believed: the default applies.
                        Case{R"({"cache_duration": 4294967296})", 4601, true},
                        Case{R"({"cache_duration": 4294967295})", 4294968295.0, false}}) {
    writeDocument(c.document);
    writeCacheKey(matchingKey(1000.75));
    auto settings = std::make_shared<CRSettings>(fileManager_, appIDModel_);
    settings->reloadFromCacheWithZidezaAppID(kAppID, c.now);
    EXPECT_EQ(settings->isCacheExpired(), c.expired) << c.document << " at " << c.now;
    EXPECT_TRUE(settings->settingsDictionary()) << c.document;  // a stale document stays in use
  }
}

TEST_F(SettingsTest, AnotherBuildOrVersionExpiresButKeepsTheDocument) {
  writeDocument(R"({"session": {"max_custom_key_value_pairs": 5}})");
  for (const char* field : {"build_instance_id", "app_version"}) {
    nlohmann::json key = matchingKey(1000);
    key[field] = "other";
    writeCacheKey(key);
    auto settings = std::make_shared<CRSettings>(fileManager_, appIDModel_);
    settings->reloadFromCacheWithZidezaAppID(kAppID, 1001);
    EXPECT_TRUE(settings->isCacheExpired()) << field;
    EXPECT_EQ(settings->maxCustomKeys(), 5u) << field;
    EXPECT_TRUE(std::filesystem::exists(settingsFile()));
  }
}

TEST_F(SettingsTest, UnusableCachesAreDeletedAtOnce) {
  struct Case {
    const char* name;
    std::optional<std::string> document;
    std::optional<nlohmann::json> key;
  };
  nlohmann::json otherApp = matchingKey(1000);
  otherApp["zideza_app_id"] = "1:1:ios:other";
  // Valid JSON, but copying it would recurse 100000 levels deep.
  const std::string bottomless = R"({"app":)" + std::string(100000, '[') + std::string(100000, ']') + "}";
  for (const Case& c : {Case{"other app", "{}", otherApp}, Case{"array document", "[1, 2]", matchingKey(1000)},
                        Case{"scalar document", "3", matchingKey(1000)}, Case{"not JSON", "{cache", matchingKey(1000)},
                        Case{"nested without bound", bottomless, matchingKey(1000)},
                        Case{"no key", "{}", std::nullopt}, Case{"key not an object", "{}", nlohmann::json("x")}}) {
    writeDocument(*c.document);
    std::filesystem::remove(cacheKeyFile());
    if (c.key) writeCacheKey(*c.key);
    auto settings = std::make_shared<CRSettings>(fileManager_, appIDModel_);
    settings->reloadFromCacheWithZidezaAppID(kAppID, 1001);
    EXPECT_TRUE(settings->isCacheExpired()) << c.name;
    EXPECT_FALSE(settings->settingsDictionary()) << c.name;
    EXPECT_FALSE(std::filesystem::exists(settingsFile())) << c.name;
    EXPECT_FALSE(std::filesystem::exists(cacheKeyFile())) << c.name;
    expectDefaults(*settings);
  }
}

TEST_F(SettingsTest, OutOfRangeValuesFallBackToDefaults) {
  writeDocument(R"({"cache_duration": -5, "on_demand_upload_rate_per_minute": -1, "on_demand_backoff_base": "2",
                    "on_demand_backoff_step_duration_seconds": 1e12,
                    "features": {"collect_reports": "no", "collect_metric_kit": true},
                    "session": {"log_buffer_size": 4294967296, "max_custom_exception_events": 2.9,
                                "max_custom_key_value_pairs": null}})");
  writeCacheKey(matchingKey(1000));
  settings_->reloadFromCacheWithZidezaAppID(kAppID, 1001);
  EXPECT_EQ(settings_->cacheDurationSeconds(), 3600u);
  EXPECT_EQ(settings_->onDemandUploadRate(), 10.0);
  EXPECT_EQ(settings_->onDemandBackoffBase(), 1.5);
  EXPECT_EQ(settings_->onDemandBackoffStepDuration(), 6u);
  EXPECT_TRUE(settings_->collectReportsEnabled());
  EXPECT_TRUE(settings_->metricKitCollectionEnabled());
  EXPECT_EQ(settings_->logBufferSize(), 64000u);
  EXPECT_EQ(settings_->maxCustomExceptions(), 2u);
  EXPECT_EQ(settings_->maxCustomKeys(), 64u);

  // A key whose time is not a usable number counts as expired.
  for (const nlohmann::json& createdAt : {nlohmann::json(-1), nlohmann::json(4294967296.0), nlohmann::json("1000"),
                                          nlohmann::json(nullptr)}) {
    writeCacheKey(matchingKey(createdAt));
    auto settings = std::make_shared<CRSettings>(fileManager_, appIDModel_);
    settings->reloadFromCacheWithZidezaAppID(kAppID, 1001);
    EXPECT_TRUE(settings->isCacheExpired()) << createdAt;
    EXPECT_TRUE(settings->settingsDictionary()) << createdAt;
  }
}

TEST_F(SettingsTest, DeletingForgetsTheDocumentAndRemovesTheFilesAtOnce) {
  writeDocument("{}");
  settings_->cacheSettingsWithZidezaAppID(kAppID, 1000);
  ASSERT_FALSE(settings_->isCacheExpired());
  settings_->deleteCachedSettings();
  EXPECT_TRUE(settings_->isCacheExpired());
  EXPECT_FALSE(std::filesystem::exists(settingsFile()));
  EXPECT_FALSE(std::filesystem::exists(cacheKeyFile()));
  // A document saved afterwards is not touched by the earlier deletion.
  writeDocument(R"({"cache_duration": 9})");
  settings_->cacheSettingsWithZidezaAppID(kAppID, 2000);
  EXPECT_FALSE(settings_->isCacheExpired());
  EXPECT_EQ(settings_->cacheDurationSeconds(), 9u);
}

}  // namespace
