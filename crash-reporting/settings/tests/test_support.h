// Shared pieces of the settings tests: a fresh data directory and main bundle per case, the
// settings folder of that directory, and a settings object over a fixed build.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "crash-reporting/reports/file_manager.h"
#include "crash-reporting/reports/tests/test_support.h"
#include "crash-reporting/settings/application_identifier_model.h"
#include "crash-reporting/settings/settings.h"
#include "platform/foundation/bundle.h"
#include "platform/testing/environment.h"

namespace settings_test {

using reports_test::readFile;
using reports_test::writeFile;

// Points the main bundle at a folder whose Info.plist names the app and its versions.
inline void useBundle(const std::filesystem::path& folder, const std::string& identifier,
                      const std::string& displayVersion, const std::string& buildVersion) {
  writeFile(folder / "Info.plist",
            R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>)"
            "<key>CFBundleIdentifier</key><string>" + identifier + "</string>"
            "<key>CFBundleShortVersionString</key><string>" + displayVersion + "</string>"
            "<key>CFBundleVersion</key><string>" + buildVersion + "</string></dict></plist>");
  platform::Bundle::setMain(folder);
}

class SettingsTest : public ::testing::Test {
 protected:
  static constexpr const char* kAppID = "1:4242:ios:5ab3";

  SettingsTest() {
    useBundle(environment_.root() / "bundle", "ruv.vantoru.Brivel", "2.4", "31");
    fileManager_ = std::make_shared<CRFileManager>();
    appIDModel_ = std::make_shared<CRApplicationIdentifierModel>(
        std::map<std::string, std::string>{{"x86_64", "00112233445566778899aabbccddeeff"}});
    settings_ = std::make_shared<CRSettings>(fileManager_, appIDModel_);
  }

  std::filesystem::path settingsFile() const { return fileManager_->settingsFilePath(); }
  std::filesystem::path cacheKeyFile() const { return fileManager_->settingsCacheKeyPath(); }

  void writeDocument(const std::string& text) { writeFile(settingsFile(), text); }
  void writeCacheKey(const nlohmann::json& key) { writeFile(cacheKeyFile(), key.dump()); }
  // A cache key that matches this build, saved at `createdAt`.
  nlohmann::json matchingKey(const nlohmann::json& createdAt) const {
    return {{"created_at", createdAt},
            {"zideza_app_id", kAppID},
            {"build_instance_id", appIDModel_->buildInstanceID()},
            {"app_version", appIDModel_->synthesizedVersion()}};
  }

  platform::testing::Environment environment_{"crash-settings"};
  std::shared_ptr<CRFileManager> fileManager_;
  std::shared_ptr<CRApplicationIdentifierModel> appIDModel_;
  std::shared_ptr<CRSettings> settings_;
};

}  // namespace settings_test
