#include "platform/testing/environment.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "platform/foundation/bundle.h"
#include "platform/foundation/data_notices.h"
#include "platform/foundation/defaults.h"
#include "platform/foundation/paths.h"
#include "platform/process_state/process_state.h"

namespace platform::testing {
namespace {

TEST(TempDirectoryTest, EachIsNewAndGoesWithEverythingInIt) {
  std::filesystem::path first;
  {
    TempDirectory a("same");
    TempDirectory b("same");
    first = a.path();
    EXPECT_NE(a.path(), b.path());
    ASSERT_TRUE(std::filesystem::is_directory(a.path()));
    std::filesystem::create_directories(a.path() / "inner");
    std::ofstream(a.file("inner/file")) << "x";
  }
  EXPECT_FALSE(std::filesystem::exists(first));
}

// What one test changes in the process is gone for the next, and the data directory and bundle
// are the program's own again after the last.
TEST(EnvironmentTest, PutsBackWhatATestChangedInTheProcess) {
  const auto programData = FileLocations::dataDirectory();
  const auto programBundle = Bundle::main()->bundlePath();
  std::filesystem::path root;
  {
    Environment environment("env");
    root = environment.root();
    EXPECT_EQ(FileLocations::dataDirectory(), environment.dataDirectory());
    Bundle::setMain(root);
    DataNotices::shared().set("test", "a notice");
    setFileWriteFault(FileWriteFault::Write);
  }
  EXPECT_FALSE(std::filesystem::exists(root));
  EXPECT_EQ(FileLocations::dataDirectory(), programData);
  EXPECT_EQ(Bundle::main()->bundlePath(), programBundle);
  EXPECT_TRUE(DataNotices::shared().all().empty());

  Environment next("env");
  EXPECT_TRUE(writeFileAtomically(next.root() / "file", std::vector<uint8_t>{1}).ok()) << "no write fault left";
}

// A relaunch is a new process over the same files: what was written stays, what the process
// had read or set is gone.
TEST(EnvironmentTest, RelaunchKeepsTheFilesAndForgetsTheProcess) {
  Environment environment("env");
  auto before = UserDefaults::standard();
  ASSERT_TRUE(before->set("kept", 1).ok());
  setFileWriteFault(FileWriteFault::Write);

  environment.relaunch();
  EXPECT_EQ(FileLocations::dataDirectory(), environment.dataDirectory());
  auto after = UserDefaults::standard();
  EXPECT_NE(after->domain(), before->domain()) << "the suite is read again from its file";
  EXPECT_EQ(after->integer("kept"), 1);
  EXPECT_TRUE(after->set("written", 2).ok()) << "no write fault left";
}

TEST(ProcessValueTest, GoesBackToWhatAFreshProcessHas) {
  static ProcessValue<int> value(7);
  static ProcessValue<std::shared_ptr<int>> shared;
  Environment environment("process-value");
  int made = 0;
  auto make = [&made] { return std::make_shared<int>(++made); };

  EXPECT_EQ(value.get(), 7);
  value.set(9);
  auto first = shared.getOrMake(make);
  EXPECT_EQ(shared.getOrMake(make), first) << "made once";
  EXPECT_EQ(value.get(), 9);

  resetProcessState();
  EXPECT_EQ(value.get(), 7);
  auto second = shared.getOrMake(make);
  EXPECT_NE(second, first) << "made anew after a reset";
  EXPECT_EQ(*second, 2);
}

}  // namespace
}  // namespace platform::testing
