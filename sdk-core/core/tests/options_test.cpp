#include "sdk-core/core/options.h"

#include <gtest/gtest.h>

#include "sdk-core/core/tests/sdk_test_support.h"

namespace {

using platform::PlistValue;

using OptionsTest = SdkCoreTest;

TEST_F(OptionsTest, ReadsPropertyListFilesOfEitherFormat) {
  for (auto format : {platform::PlistFormat::Xml, platform::PlistFormat::Binary}) {
    const auto path = root_ / "options.plist";
    auto dictionary = optionsDictionary();
    dictionary["DATABASE_URL"] = "https://db.telemetry.invalid";
    writePlist(path, dictionary, format);
    auto options = TELOptions::initWithContentsOfFile(path);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->zidezaAppID(), kValidAppID);
    EXPECT_EQ(options->APIKey(), kValidAPIKey);
    EXPECT_EQ(options->projectID(), "project");
    EXPECT_EQ(options->databaseURL(), "https://db.telemetry.invalid");
    EXPECT_EQ(options->storageBucket(), std::nullopt);
    EXPECT_FALSE(options->usingOptionsFromDefaultPlist());
    EXPECT_FALSE(options->isEditingLocked());
  }
}

TEST_F(OptionsTest, WrongTypesReadAsAbsentAndBadFilesGiveNoOptions) {
  const auto path = root_ / "typed.plist";
  writePlist(path, PlistValue::Dictionary{{"ZIDEZA_APP_ID", int64_t{42}},
                                          {"API_KEY", PlistValue::Array{"key"}},
                                          {"PROJECT_ID", true},
                                          {"BUNDLE_ID", "ruv.test.app"}});
  auto options = TELOptions::initWithContentsOfFile(path);
  ASSERT_TRUE(options);
  EXPECT_EQ(options->zidezaAppID(), std::nullopt);
  EXPECT_EQ(options->APIKey(), std::nullopt);
  EXPECT_EQ(options->projectID(), std::nullopt);
  EXPECT_EQ(options->bundleID(), "ruv.test.app");
  EXPECT_EQ(options->optionsDictionary().at("ZIDEZA_APP_ID"), PlistValue(int64_t{42}));

  // Not a dictionary, not a property list, missing, or no path at all.
  writePlist(root_ / "array.plist", PlistValue::Array{"ZIDEZA_APP_ID"});
  std::ofstream(root_ / "garbage.plist") << "<plist><dict><key>A";
  for (const char* name : {"array.plist", "garbage.plist", "missing.plist"}) {
    EXPECT_EQ(TELOptions::initWithContentsOfFile(root_ / name), nullptr) << name;
  }
  EXPECT_EQ(linesWith("I-COR000014").size(), 3u);
  EXPECT_EQ(TELOptions::initWithContentsOfFile(std::nullopt), nullptr);
  EXPECT_EQ(linesWith("I-COR000013").size(), 1u);
}

TEST_F(OptionsTest, DefaultOptionsComeFromTheFileBesideTheProgramOncePerProcess) {
  const auto bundle = root_ / "Brivel";
  EXPECT_EQ(TELOptions::defaultOptions(), nullptr);
  EXPECT_EQ(linesWith("I-COR000012").size(), 1u);

  writePlist(bundle / "TelemetryService-Info.plist", optionsDictionary());
  EXPECT_EQ(TELOptions::defaultOptions(), nullptr);  // the missing file is remembered
  TELOptions::resetDefaultOptions();
  auto options = TELOptions::defaultOptions();
  ASSERT_TRUE(options);
  EXPECT_EQ(options, TELOptions::defaultOptions());
  EXPECT_TRUE(options->usingOptionsFromDefaultPlist());
  EXPECT_EQ(options->zidezaAppID(), kValidAppID);
  EXPECT_EQ(TELOptions::plistFilePathWithName("TelemetryService-Info"), bundle / "TelemetryService-Info.plist");

  writePlist(bundle / "TelemetryService-Info.plist", PlistValue::Array{});
  TELOptions::resetDefaultOptions();
  EXPECT_EQ(TELOptions::defaultOptions(), nullptr);
  EXPECT_EQ(linesWith("I-COR000011").size(), 1u);
}

TEST_F(OptionsTest, CopiesKeepTheLockAndLockedOptionsRefuseEdits) {
  auto options = validOptions();
  options->setAppGroupID("group.test");
  options->setDeepLinkURLScheme("brivel");
  options->setAPIKey(std::nullopt);
  EXPECT_EQ(options->APIKey(), std::nullopt);
  options->setEditingLocked(true);

  auto copy = options->copy();
  EXPECT_TRUE(copy->isEditingLocked());
  EXPECT_TRUE(copy->usingOptionsFromDefaultPlist());
  EXPECT_EQ(copy->appGroupID(), "group.test");
  EXPECT_EQ(copy->deepLinkURLScheme(), "brivel");
  EXPECT_EQ(exceptionReason([&] { copy->setAPIKey("other"); }),
            "Attempted to modify options after it's set on TELApp. Please modify all properties before initializing "
            "TELApp.");
  EXPECT_EQ(exceptionReason([&] { copy->setAppGroupID(std::nullopt); }).substr(0, 9), "Attempted");
}

TEST_F(OptionsTest, EqualityCoversDictionaryDeepLinkAndAppGroup) {
  writePlist(root_ / "a.plist", optionsDictionary());
  auto a = TELOptions::initWithContentsOfFile(root_ / "a.plist");
  auto b = TELOptions::initWithContentsOfFile(root_ / "a.plist");
  EXPECT_TRUE(*a == *b);
  EXPECT_EQ(a->hash(), b->hash());
  b->setAppGroupID("group.other");
  EXPECT_FALSE(*a == *b);
  b->setAppGroupID(std::nullopt);
  b->setDeepLinkURLScheme("scheme");
  EXPECT_FALSE(*a == *b);
  b->setDeepLinkURLScheme(std::nullopt);
  b->setProjectID("other");
  EXPECT_FALSE(*a == *b);
}

TEST_F(OptionsTest, AppIDValidation) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {kValidAppID, true},
      {"1:1:ios:0xABC", true},
      {"1:123:android:0a1b", false},
      {"1:123:ios:0a1b:extra", false},
      {"1:123:ios:0a1bxyz", false},
      {"1:123:ios:", false},
      {"1:abc:ios:0a1b", false},
      {"1:123:IOS:0a1b", false},
      {"2:anything at all", true},
      {"12:x", true},
      {"1", false},
      {"1-123:ios:0a", false},
      {"a1:123:ios:0a", false},
      {"", false},
  };
  for (const auto& [id, valid] : cases) EXPECT_EQ(TELApp::validateAppID(id), valid) << id;
  EXPECT_FALSE(TELApp::validateAppID(std::nullopt));
  EXPECT_EQ(linesWith("I-COR000010").size(), 2u);
}

TEST_F(OptionsTest, AnalyticsAnswersPreferInfoPlistOverOptions) {
  auto options = validOptions();
  EXPECT_FALSE(options->isAnalyticsCollectionExplicitlySet());
  EXPECT_FALSE(options->isMeasurementEnabled());  // no default app, nothing set

  auto dictionary = optionsDictionary();
  dictionary["IS_MEASUREMENT_ENABLED"] = true;
  dictionary["TELEMETRY_ANALYTICS_COLLECTION_ENABLED"] = "NO";  // a string: not explicit
  auto fromOptions = TELOptions::initInternalWithOptionsDictionary(dictionary);
  EXPECT_TRUE(fromOptions->isMeasurementEnabled());
  EXPECT_FALSE(fromOptions->isAnalyticsCollectionEnabled());
  EXPECT_TRUE(fromOptions->isAnalyticsCollectionExplicitlySet());

  useBundle("Deactivated", {{"TELEMETRY_ANALYTICS_COLLECTION_DEACTIVATED", true},
                            {"IS_MEASUREMENT_ENABLED", false}});
  auto deactivated = TELOptions::initInternalWithOptionsDictionary(dictionary);
  EXPECT_TRUE(deactivated->isAnalyticsCollectionDeactivated());
  EXPECT_FALSE(deactivated->isMeasurementEnabled());
  EXPECT_TRUE(deactivated->isAnalyticsCollectionExplicitlySet());
  EXPECT_EQ(deactivated->analyticsOptionsDictionary().at("IS_MEASUREMENT_ENABLED"), PlistValue(false));

  EXPECT_EQ(TELOptions::libraryVersionID(), "102700000");
}

TEST_F(OptionsTest, BundleIdentifiersMatchExactlyOutsideAnExtension) {
  const TELBundleUtil::Bundles bundles = TELBundleUtil::relevantBundles();
  EXPECT_TRUE(TELBundleUtil::hasBundleIdentifierPrefix("ruv.test.app", bundles));
  EXPECT_FALSE(TELBundleUtil::hasBundleIdentifierPrefix("ruv.test", bundles));

  useBundle("Widget.appex", {{"CFBundleIdentifier", "ruv.test.app.widget"}});
  EXPECT_TRUE(TELBundleUtil::hasBundleIdentifierPrefix("ruv.test.app", TELBundleUtil::relevantBundles()));
  EXPECT_FALSE(TELBundleUtil::hasBundleIdentifierPrefix("ruv.test", TELBundleUtil::relevantBundles()));

  EXPECT_EQ(TELBundleUtil::bundleIdentifierByRemovingLastPartFrom("a.b.c"), "a.b");
  EXPECT_EQ(TELBundleUtil::bundleIdentifierByRemovingLastPartFrom("abc"), "");

  useBundle("Schemes", {{"CFBundleURLTypes", PlistValue::Array{PlistValue::Dictionary{
                                                 {"CFBundleURLSchemes", PlistValue::Array{"brivel", "bv"}}}}}});
  EXPECT_EQ(TELBundleUtil::relevantURLSchemes(), (std::vector<std::string>{"brivel", "bv", "brivel", "bv"}));
}

}  // namespace
