#include "platform/foundation/bundle.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/dispatch/clock.h"
#include "platform/foundation/date.h"
#include "platform/foundation/paths.h"
#include "platform/testing/environment.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

class BundleTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir_ / "app"); }
  platform::testing::Environment environment_{"brivel-bundle"};
  fs::path dir_ = environment_.root();
};

TEST_F(BundleTest, ReadsInfoPlistAndFindsResources) {
  std::ofstream(dir_ / "app" / "Info.plist") << R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
  <key>CFBundleIdentifier</key><string>ruv.vantoru.Duvenmark</string>
  <key>CFBundleVersion</key><string>42</string>
</dict></plist>)";
  std::ofstream(dir_ / "app" / "Options.plist") << "x";
  std::ofstream(dir_ / "secret.txt") << "outside";

  Bundle::setMain(dir_ / "app");
  auto bundle = Bundle::main();
  EXPECT_EQ(bundle->bundleIdentifier(), "ruv.vantoru.Duvenmark");
  EXPECT_EQ(bundle->objectForInfoDictionaryKey("CFBundleVersion"), PlistValue("42"));
  EXPECT_EQ(bundle->objectForInfoDictionaryKey("CFBundleShortVersionString"), std::nullopt);
  EXPECT_EQ(bundle->pathForResource("Options", "plist"), dir_ / "app" / "Options.plist");
  EXPECT_EQ(bundle->pathForResource("Missing", "plist"), std::nullopt);
  EXPECT_EQ(bundle->pathForResource("../secret", "txt"), std::nullopt);
}

TEST_F(BundleTest, BundleWithoutUsableInfoPlistIsEmpty) {
  EXPECT_TRUE(Bundle(dir_ / "nowhere").infoDictionary().empty());
  std::ofstream(dir_ / "app" / "Info.plist") << "<plist><array/></plist>";
  Bundle bundle(dir_ / "app");
  EXPECT_TRUE(bundle.infoDictionary().empty());
  EXPECT_EQ(bundle.bundleIdentifier(), std::nullopt);
}

TEST(FileLocationsTest, DataDirectoryFollowsXdgThenHome) {
  const char* savedXdg = std::getenv("XDG_DATA_HOME");
  const char* savedHome = std::getenv("HOME");
  std::string xdg = savedXdg ? savedXdg : "";
  std::string home = savedHome ? savedHome : "";

  setenv("XDG_DATA_HOME", "/tmp/xdg-data", 1);
  FileLocations::setDataDirectory({});
  EXPECT_EQ(FileLocations::dataDirectory(), fs::path("/tmp/xdg-data/brivel"));
  EXPECT_EQ(FileLocations::preferencesDirectory(), fs::path("/tmp/xdg-data/brivel/Preferences"));

  setenv("XDG_DATA_HOME", "relative/ignored", 1);
  setenv("HOME", "/home/someone", 1);
  FileLocations::setDataDirectory({});
  EXPECT_EQ(FileLocations::dataDirectory(), fs::path("/home/someone/.local/share/brivel"));

  FileLocations::setDataDirectory("/srv/brivel-data");
  EXPECT_EQ(FileLocations::cachesDirectory(), fs::path("/srv/brivel-data/Caches"));

  if (savedXdg) setenv("XDG_DATA_HOME", xdg.c_str(), 1); else unsetenv("XDG_DATA_HOME");
  if (savedHome) setenv("HOME", home.c_str(), 1); else unsetenv("HOME");
  FileLocations::setDataDirectory({});
}

TEST(DateTest, NowFollowsTheVirtualClockAndConvertsEpochs) {
  VirtualClock clock(std::chrono::system_clock::time_point(std::chrono::seconds(978307200 + 100)));
  EXPECT_EQ(Date::now().timeIntervalSinceReferenceDate, 100.0);
  clock.advance(std::chrono::milliseconds(1500));
  EXPECT_EQ(Date::now().timeIntervalSinceReferenceDate, 101.5);
  EXPECT_EQ(Date::now().timeIntervalSince1970(), 978307301.5);
  EXPECT_EQ(Date::fromSystemTime(Date{101.5}.systemTime()), Date{101.5});
}

}  // namespace
}  // namespace platform
