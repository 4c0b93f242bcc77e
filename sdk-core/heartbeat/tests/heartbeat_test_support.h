// A fresh data directory per test, so heartbeat files never leak between tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/foundation/defaults.h"
#include "platform/foundation/paths.h"
#include "platform/testing/environment.h"

class HeartbeatDataDirectoryTest : public ::testing::Test {
 protected:
  // A data directory of its own; preferences read in an earlier test (or an earlier repeat
  // of this one) are forgotten, so each test starts from what its directory holds.
  platform::testing::Environment environment_{"sdk-heartbeat"};
  std::filesystem::path directory_ = environment_.dataDirectory();

  std::filesystem::path heartbeatFile(const std::string& fileName) const {
    return platform::FileLocations::applicationSupportDirectory() / "zideza-heartbeat-storage" / fileName;
  }
};

#include <ostream>

#include "sdk-core/heartbeat/heartbeats_payload.h"

// Failure messages show a payload as its JSON.
inline std::ostream& operator<<(std::ostream& out, const HeartbeatsPayload& payload) {
  return out << payload.jsonString();
}
