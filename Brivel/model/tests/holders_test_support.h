// A test fixture that points the data directory at a fresh temporary folder, so that the
// standard and app-group defaults suites of each test start empty and live on disk there.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/foundation/defaults.h"
#include "platform/foundation/paths.h"

namespace brivel::testing {

class DataDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() /
            ("brivel-holders-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name() + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(root_);
    platform::FileLocations::setDataDirectory(root_);
  }
  void TearDown() override {
    platform::FileLocations::setDataDirectory({});
    std::filesystem::remove_all(root_);
  }

  // The file a suite is persisted in.
  std::filesystem::path suiteFile(const std::string& name) const {
    return root_ / "Preferences" / (name + ".plist");
  }
  std::filesystem::path standardFile() const {
    return suiteFile(platform::UserDefaults::kStandardDomainName);
  }

  std::filesystem::path root_;
};

}  // namespace brivel::testing
