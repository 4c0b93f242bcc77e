#include "platform/testing/environment.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/foundation/bundle.h"
#include "platform/foundation/data_notices.h"
#include "platform/foundation/paths.h"

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
    setFileWriteFaultForTesting(FileWriteFault::Write);
  }
  EXPECT_FALSE(std::filesystem::exists(root));
  EXPECT_EQ(FileLocations::dataDirectory(), programData);
  EXPECT_EQ(Bundle::main()->bundlePath(), programBundle);
  EXPECT_TRUE(DataNotices::shared().all().empty());

  Environment next("env");
  EXPECT_TRUE(writeFileAtomically(next.root() / "file", std::vector<uint8_t>{1}).ok()) << "no write fault left";
}

}  // namespace
}  // namespace platform::testing
