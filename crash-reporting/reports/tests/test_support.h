// Shared pieces of the crash-reports tests: a fresh data directory and main bundle per case,
// and file helpers.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/foundation/bundle.h"
#include "platform/testing/environment.h"

namespace reports_test {

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  std::ostringstream text;
  text << stream.rdbuf();
  return text.str();
}

inline void writeFile(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// Points the main bundle at a folder whose Info.plist names `identifier`.
inline void useBundleIdentifier(const std::filesystem::path& folder, const std::string& identifier) {
  writeFile(folder / "Info.plist",
            R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>)"
            "<key>CFBundleIdentifier</key><string>" + identifier + "</string></dict></plist>");
  platform::Bundle::setMain(folder);
}

class ReportsTest : public ::testing::Test {
 protected:
  ReportsTest() { useBundleIdentifier(environment_.root() / "bundle", "ruv.vantoru.Brivel"); }
  platform::testing::Environment environment_{"crash-reports"};
};

}  // namespace reports_test

#include <nlohmann/json.hpp>

#include "crash-reporting/core/context.h"
#include "crash-reporting/core/section_reader.h"
#include "platform/dispatch/queue.h"

namespace reports_test {

inline std::vector<nlohmann::json> readSections(const std::filesystem::path& path) {
  return CRFileReadSections(path.c_str(), false).value_or(std::vector<nlohmann::json>{});
}

// Set-up data for a report folder: errors and custom exceptions on, the default limits.
inline CRContextInitData initDataFor(const std::string& folder) {
  CRContextInitData data;
  data.rootPath = folder;
  data.previouslyCrashedFileRootPath = folder;
  data.sessionId = "0123456789abcdef0123456789abcdef";
  data.errorsEnabled = true;
  data.customExceptionsEnabled = true;
  data.maxCustomExceptions = 8;
  data.maxLogSize = 64000;
  data.maxKeyValues = 64;
  return data;
}

// A crash-time context set up in a report folder of the test's own (no handlers installed).
class ContextTest : public ReportsTest {
 protected:
  ContextTest() : initData(initDataFor(reportPath().string())) { std::filesystem::create_directories(reportPath()); }
  std::filesystem::path reportPath() const { return environment_.root() / "report"; }
  std::filesystem::path file(const std::string& name) const { return reportPath() / name; }
  bool setUpContext() { return CRContextInitialize(&initData); }
  // Waits until every block queued on the logging queue so far has run.
  static void drainLoggingQueue() { CRContextLoggingQueue()->sync([] {}); }

  CRContextInitData initData;
};

}  // namespace reports_test
