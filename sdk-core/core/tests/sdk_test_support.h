// Shared fixture of the app, options and registry tests: a fresh data directory and main
// bundle per test, the SDK's process-wide state put back by the environment before and after
// each test, and the console lines captured.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/bundle.h"
#include "platform/foundation/defaults.h"
#include "platform/foundation/paths.h"
#include "platform/foundation/plist.h"
#include "platform/testing/environment.h"
#include "sdk-core/core/app.h"
#include "sdk-core/utilities/environment.h"
#include "sdk-core/utilities/logger.h"
#include "sdk-core/core/options.h"

// A valid app ID of the current version.
inline constexpr const char* kValidAppID = "1:123456789012:ios:0a1b2c3d4e5f";
// An API key of the form the installations client accepts (39 characters, "A" first).
inline constexpr const char* kValidAPIKey = "ABrivelTestInstallationsKey000000000000";

class SdkCoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(root_ / "data");
    useBundle("Brivel", {{"CFBundleIdentifier", "ruv.test.app"}});
    UTLLoggerSetSink([this](UTLLoggerLevel, const std::string& line) {
      std::lock_guard lock(linesMutex_);
      lines_.push_back(line);
    });
    UTLLoggerSetMaximumLevel(UTLLoggerLevel::Debug);
  }

  void TearDown() override { UTLLoggerFlush(); }

  // The program starting again over the same data directory: a fresh process with this
  // fixture's bundle and console capture.
  void relaunch() {
    UTLLoggerFlush();
    environment_.relaunch();
    SdkCoreTest::SetUp();
  }

  // Makes <root>/<folder> the main bundle with the given Info.plist.
  std::filesystem::path useBundle(const std::string& folder, const platform::PlistValue::Dictionary& info) {
    const auto directory = root_ / folder;
    std::filesystem::create_directories(directory);
    writePlist(directory / "Info.plist", info);
    platform::Bundle::setMain(directory);
    UTLAppEnvironmentUtil::setProbe(nullptr);
    return directory;
  }

  static void writePlist(const std::filesystem::path& path, const platform::PlistValue& value,
                         platform::PlistFormat format = platform::PlistFormat::Xml) {
    auto bytes = platform::encodePlist(value, format);
    ASSERT_TRUE(bytes);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes->data()),
                                                static_cast<std::streamsize>(bytes->size()));
  }

  static platform::PlistValue::Dictionary optionsDictionary(const std::string& appID = kValidAppID) {
    return {{"ZIDEZA_APP_ID", appID},
            {"API_KEY", kValidAPIKey},
            {"PROJECT_ID", "project"},
            {"PUSH_SENDER_ID", "123456789012"},
            {"BUNDLE_ID", "ruv.test.app"}};
  }

  static std::shared_ptr<TELOptions> validOptions(const std::string& appID = kValidAppID) {
    return TELOptions::initInternalWithOptionsDictionary(optionsDictionary(appID));
  }

  // The console lines so far that carry `code`.
  std::vector<std::string> linesWith(const std::string& code) {
    UTLLoggerFlush();
    std::lock_guard lock(linesMutex_);
    std::vector<std::string> found;
    for (const auto& line : lines_) {
      if (line.find("[" + code + "]") != std::string::npos) found.push_back(line);
    }
    return found;
  }

  platform::testing::Environment environment_{"sdk-core"};
  // The environment's folder: the data directory is <root>/data.
  const std::filesystem::path root_ = environment_.root();
  std::mutex linesMutex_;
  std::vector<std::string> lines_;
};

// Runs `body` and answers the reason of the platform::Exception it throws with `name`
// ("<no exception>" when it throws none).
template <class Body>
std::string exceptionReason(Body&& body, const std::string& name = TELAppErrorDomain) {
  try {
    body();
  } catch (const platform::Exception& exception) {
    EXPECT_EQ(exception.name(), name);
    return exception.reason();
  }
  return "<no exception>";
}
