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
// as in the program. A test that needs a second start of the program over the same files (a
// setting read back, a store reopened) calls relaunch():
//
//   UTLUserDefaults defaults("suite");
//   defaults.setObject(...);
//   environment_.relaunch();  // what the next process reads is what was written
//
// Main thread; one Environment at a time.
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

  // Stands in for the program starting again: every process-wide state is put back as a fresh
  // process has it (configured SDK, registrations, suites read, sinks, probes, launch
  // arguments, main bundle) while the files stay and the data directory remains this one.
  // Whatever a test set on the process before (a sink, a probe, a bundle) it sets again.
  void relaunch();

 private:
  TempDirectory root_;
};

}  // namespace platform::testing
