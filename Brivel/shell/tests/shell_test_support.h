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
#include "Brivel/model/profile_manager.h"
#include "Brivel/shell/entity_unavailable_view.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/root_screen.h"
#include "Brivel/shell/settings_screen.h"
#include "Brivel/shell/view_helpers.h"
#include "platform/application/application.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/date.h"
#include "platform/foundation/paths.h"
#include "platform/foundation/plist.h"
#include "platform/testing/environment.h"
#include "platform/ui/environment.h"
#include "platform/ui/services.h"

namespace brivel::testing {

// A tab for the root screen's tests, which sit below the real screens: a navigation stack
// with an empty state (no profile selected, or none to show) and a toolbar button that opens
// the settings sheet.
struct TestTab {
  bool forecast = false;

  platform::ui::View body(platform::ui::Context& ctx) const {
    using namespace platform::ui;
    const bool hasProfile = ctx.environmentObject<ProfileManager>()->selectedUser() != nullptr;
    EntityUnavailableView empty =
        hasProfile || forecast
            ? EntityUnavailableView{keyText(localizable_noBillsAvailable), SymbolImage(SFSymbols::cloudSun),
                                    keyText(localizable_noBillsAvailableDescription), std::nullopt, {}}
            : EntityUnavailableView{keyText(localizable_noProfileSelected),
                                    SymbolImage(SFSymbols::personCropCircleBadgeQuestionmarkFill),
                                    keyText(localizable_noProfileSelectedDescription), std::nullopt, {}};
    auto showSettingsScreen = ctx.state<bool>("showSettingsScreen", false);
    View settingsButton =
        Button(SymbolImage(SFSymbols::gearshape), [showSettingsScreen] { showSettingsScreen.set(true); })
            .accessibilityIdentifier("settings");
    View page = View(empty).toolbar({ToolbarItem(ToolbarPlacement::topBarTrailing, settingsButton)});
    return NavigationStack(page).sheet(showSettingsScreen.binding(), [showSettingsScreen] {
      return View(SettingsScreen{showSettingsScreen.binding()}).presentationSizing(PresentationSizing::form);
    });
  }
};

// A root screen whose two tabs are test tabs.
inline RootScreen testRootScreen() {
  RootScreen root;
  root.collectionTab = [] { return platform::ui::View(TestTab{}); };
  root.forecastTab = [](const std::shared_ptr<ProfileEntity>&) { return platform::ui::View(TestTab{true}); };
  return root;
}

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
