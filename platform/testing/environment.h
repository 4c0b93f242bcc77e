// Environment: what every test starts from and leaves behind.
//
// Making one puts every process-wide state of our libraries back as a fresh process has it
// (platform/process_state) and points the data directory at a new temporary folder; letting
// it go puts everything back again and removes the folder. A test fixture holds one as a
// member, so no test depends on the order of tests or on what an earlier run left:
//
//   class StoreTest : public ::testing::Test {
//    protected:
//     platform::testing::Environment environment_{"store"};
//   };
//
// The data directory (`dataDirectory()`) is not created; whatever writes there first makes it,
// as in the program. Main thread; one Environment at a time.
#pragma once

#include <filesystem>
#include <string>

#include "platform/testing/temp_directory.h"

namespace platform::testing {

class Environment {
 public:
  // `prefix` starts the temporary folder's name.
  explicit Environment(const std::string& prefix = "brivel");
  ~Environment();
  Environment(const Environment&) = delete;
  Environment& operator=(const Environment&) = delete;

  // The test's temporary folder, holding the data directory and whatever else it needs.
  const std::filesystem::path& root() const { return root_.path(); }
  // <root>/data, the data directory for the test's lifetime.
  std::filesystem::path dataDirectory() const { return root() / "data"; }

 private:
  TempDirectory root_;
};

}  // namespace platform::testing
