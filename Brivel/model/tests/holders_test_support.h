// A test fixture that points the data directory at a fresh temporary folder, so that the
// standard and app-group defaults suites of each test start empty and live on disk there.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/foundation/defaults.h"
#include "platform/foundation/paths.h"
#include "platform/testing/environment.h"

namespace brivel::testing {

class DataDirectoryTest : public ::testing::Test {
 protected:
  // The file a suite is persisted in.
  std::filesystem::path suiteFile(const std::string& name) const {
    return root_ / "Preferences" / (name + ".plist");
  }
  std::filesystem::path standardFile() const {
    return suiteFile(platform::UserDefaults::kStandardDomainName);
  }

  platform::testing::Environment environment_{"brivel-holders"};
  std::filesystem::path root_ = environment_.dataDirectory();
};

}  // namespace brivel::testing
