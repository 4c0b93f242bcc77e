// A fixture for the shell's tests: a fresh data directory (defaults, store, tips and review
// files), a main bundle whose Info.plist the test controls, and empty call and event logs.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>

#include "Brivel/model/brivel_model_container.h"
#include "Brivel/model/profile_entity.h"
#include "Brivel/shell/app_platform.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/date.h"
#include "platform/foundation/paths.h"
#include "platform/foundation/plist.h"
#include "platform/ui/services.h"

namespace brivel::testing {

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    root_ = std::filesystem::temp_directory_path() /
            ("brivel-shell-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ / "bundle");
    platform::FileLocations::setDataDirectory(root_ / "data");
    writeInfoPlist({{"CFBundleVersion", platform::PlistValue("7")},
                    {"CFBundleShortVersionString", platform::PlistValue("1.2.3")}});
    platform::ui::EventLog::shared().clear();
    ShellCallLog::shared().clear();
  }

  void TearDown() override {
    for (const auto& scene : Application::shared().connectedScenes()) Application::shared().disconnectScene(scene);
    platform::ui::Tips::configure({});
    platform::Bundle::setMain(platform::FileLocations::resourceDirectory());
    platform::FileLocations::setDataDirectory({});
    std::filesystem::remove_all(root_);
  }

  // Replaces the main bundle's Info.plist.
  void writeInfoPlist(platform::PlistValue::Dictionary info) {
    auto bytes = platform::encodePlist(platform::PlistValue(std::move(info)), platform::PlistFormat::Xml);
    ASSERT_TRUE(bytes);
    ASSERT_FALSE(platform::writeFileAtomically(root_ / "bundle" / "Info.plist", *bytes));
    platform::Bundle::setMain(root_ / "bundle");
  }

  std::shared_ptr<platform::ModelContainer> openStore() {
    return BrivelModelContainer::makeContainer(root_ / "data" / "Brivel.store");
  }

  static std::shared_ptr<ProfileEntity> makeProfile(const std::string& name, const std::string& color) {
    return ProfileEntity::make({.name = name, .color = color, .showSpendable = false});
  }

  // A window scene in a phase the test sets.
  std::shared_ptr<WindowScene> connectScene(std::shared_ptr<platform::ui::ScenePhase> phase) {
    auto scene = std::make_shared<WindowScene>([phase] { return *phase; });
    Application::shared().connectScene(scene);
    return scene;
  }

  std::filesystem::path root_;
};

}  // namespace brivel::testing
