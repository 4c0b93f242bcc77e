// A fresh data directory per test, so heartbeat files never leak between tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/foundation/defaults.h"
#include "platform/foundation/paths.h"

class HeartbeatDataDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = std::filesystem::temp_directory_path() /
                 ("sdk-heartbeat-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(directory_);
    platform::FileLocations::setDataDirectory(directory_);
    // Preferences read in an earlier test (or an earlier repeat of this one) belong to
    // another directory: start from what this one holds.
    platform::PreferencesDomain::discardLoadedDomainsForTesting();
  }
  void TearDown() override {
    platform::setFileWriteFaultForTesting(platform::FileWriteFault::None);
    platform::FileLocations::setDataDirectory({});
    platform::PreferencesDomain::discardLoadedDomainsForTesting();
    std::filesystem::remove_all(directory_);
  }

  std::filesystem::path heartbeatFile(const std::string& fileName) const {
    return platform::FileLocations::applicationSupportDirectory() / "zideza-heartbeat-storage" / fileName;
  }

  std::filesystem::path directory_;
};

#include <ostream>

#include "sdk-core/heartbeat/heartbeats_payload.h"

// Failure messages show a payload as its JSON.
inline std::ostream& operator<<(std::ostream& out, const HeartbeatsPayload& payload) {
  return out << payload.jsonString();
}
