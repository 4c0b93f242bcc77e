// Shared pieces of the crash core's tests: a temporary report folder, file reading, and a
// context set up in it (and forgotten again after each case).
#pragma once

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "crash-reporting/core/context.h"
#include "crash-reporting/core/section_reader.h"
#include "platform/testing/environment.h"
#include "platform/testing/temp_directory.h"

namespace crash_test {

// A report folder of the test's own, removed afterwards.
struct TempDir : platform::testing::TempDirectory {
  TempDir() : platform::testing::TempDirectory("crash-core") {}
};

inline std::string readFile(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  std::ostringstream text;
  text << stream.rdbuf();
  return text.str();
}

inline std::vector<nlohmann::json> readSections(const std::string& path) {
  return CRFileReadSections(path.c_str(), false).value_or(std::vector<nlohmann::json>{});
}

inline CRContextInitData initDataFor(const TempDir& folder) {
  CRContextInitData data;
  data.rootPath = folder.path().string();
  data.previouslyCrashedFileRootPath = folder.path().string();
  data.sessionId = "SESSION-1";
  data.qualitySessionId = "";
  data.betaToken = "";
  data.maxCustomExceptions = 8;
  data.maxLogSize = 65536;
  data.maxKeyValues = 64;
  return data;
}

// A context set up in a fresh report folder, forgotten when the case ends.
class ContextTest : public ::testing::Test {
 protected:
  bool setUpContext(CRContextHooks hooks = {}) {
    CRContextSetHooks(std::move(hooks));
    const CRContextInitData data = initDataFor(folder);
    return CRContextInitialize(&data);
  }
  TempDir folder;
  // Declared after the folder, so the context is forgotten before the folder goes.
  platform::testing::Environment environment_{"crash-core"};
};

}  // namespace crash_test
