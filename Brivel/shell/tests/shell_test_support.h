// A fixture for the shell's tests: a fresh data directory (defaults, store, tips and review
// files), a main bundle whose Info.plist the test controls, and an empty event log (the
// environment puts every process-wide state back before and after each test).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "Brivel/model/brivel_model_container.h"
#include "Brivel/model/profile_entity.h"
#include "platform/application/application.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/date.h"
#include "platform/foundation/paths.h"
#include "platform/foundation/plist.h"
#include "platform/testing/environment.h"
#include "platform/ui/services.h"

namespace brivel::testing {

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(root_ / "bundle");
    writeInfoPlist({{"CFBundleVersion", platform::PlistValue("7")},
                    {"CFBundleShortVersionString", platform::PlistValue("1.2.3")}});
  }

  // Replaces the main bundle's Info.plist.
  void writeInfoPlist(platform::PlistValue::Dictionary info) {
    auto bytes = platform::encodePlist(platform::PlistValue(std::move(info)), platform::PlistFormat::Xml);
    ASSERT_TRUE(bytes);
    ASSERT_TRUE(platform::writeFileAtomically(root_ / "bundle" / "Info.plist", *bytes).ok());
    platform::Bundle::setMain(root_ / "bundle");
  }

  std::shared_ptr<platform::ModelContainer> openStore() {
    return BrivelModelContainer::makeContainer(root_ / "data" / "Brivel.store");
  }

  static std::shared_ptr<ProfileEntity> makeProfile(const std::string& name, const std::string& color) {
    return ProfileEntity::make({.name = name, .color = color, .showSpendable = false});
  }

  // A window scene in a phase the test sets.
  std::shared_ptr<platform::WindowScene> connectScene(std::shared_ptr<platform::ui::ScenePhase> phase) {
    auto scene = std::make_shared<platform::WindowScene>([phase] { return *phase; });
    platform::Application::shared().connectScene(scene);
    return scene;
  }

  platform::testing::Environment environment_{"brivel-shell"};
  // The environment's folder: the data directory is <root>/data, the main bundle <root>/bundle.
  const std::filesystem::path root_ = environment_.root();
};

}  // namespace brivel::testing
