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
