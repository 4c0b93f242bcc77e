// The base fixture of the screen tests (bills, profiles): a fresh data directory with a real
// store file, the four shared objects over it, and a host that shows a screen in the app's
// environment, directly or in a sheet with its own flag. Header-only, for tests; a fixture
// adds its own preparation (bundle, locale) in prepare(), and the environment puts every
// process-wide state back after each test (cleanUp() is for anything else).
//
// Threads: the test thread, which is the main thread of the views.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "Brivel/model/bill_view_model.h"
#include "Brivel/model/brivel_model_container.h"
#include "Brivel/model/profile_manager.h"
#include "Brivel/model/ring_view_model.h"
#include "Brivel/model/user_defaults_manager.h"
#include "Brivel/shell/model_environment.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/defaults.h"
#include "platform/foundation/paths.h"
#include "platform/ui/observable.h"
#include "platform/testing/environment.h"
#include "platform/ui/services.h"
#include "platform/ui/testing/driver.h"

namespace brivel::testing {

class ScreenTest : public ::testing::Test {
 protected:
  // `prefix` names the temporary folder, so that a left-over one tells which tests made it.
  explicit ScreenTest(std::string prefix) : environment_(prefix) {}

  void SetUp() override {
    std::filesystem::create_directories(root_ / "data");
    prepare();
    if (HasFatalFailure()) return;
    openObjects();
  }

  void TearDown() override {
    driver_.reset();
    platform::MainLoop::drain();
    container_.reset();
    cleanUp();
  }

  // Runs before the store and the shared objects open; cleanUp() runs after they are gone.
  virtual void prepare() {}
  virtual void cleanUp() {}

  // Opens the store and the shared objects anew, as a new launch would.
  void openObjects() {
    driver_.reset();
    container_.reset();
    container_ = BrivelModelContainer::makeContainer(root_ / "data" / "Brivel.store");
    ASSERT_NE(container_, nullptr);
    settings_ = std::make_shared<UserDefaultsManager>();
    manager_ = std::make_shared<ProfileManager>();
    billVM_ = std::make_shared<BillViewModel>();
    ringVM_ = std::make_shared<RingViewModel>();
  }

  platform::ModelContext& context() { return container_->mainContext(); }

  // `screen` in the app's environment.
  platform::ui::View hosted(platform::ui::View screen) const {
    return modelContainer(screen, container_)
        .environmentObject(settings_)
        .environmentObject(manager_)
        .environmentObject(billVM_)
        .environmentObject(ringVM_);
  }

  void show(std::function<platform::ui::View()> make) {
    auto self = this;
    driver_ = std::make_unique<platform::ui::testing::ViewDriver>([self, make] { return self->hosted(make()); });
    driver_->tree();
  }

  // Shows `make(flag)` in a sheet whose flag `presented_` starts true, as the bills list
  // presents its sheets.
  void showInSheet(std::function<platform::ui::View(platform::ui::Binding<bool>)> make) {
    using namespace platform::ui;
    auto flag = presented_;
    Binding<bool> binding([flag] { return *flag; },
                          [flag](bool on) {
                            *flag = on;
                            notifyAnyChange();
                          });
    auto self = this;
    driver_ = std::make_unique<platform::ui::testing::ViewDriver>([self, binding, make] {
      return self->hosted(Text("presenter").sheet(binding, [binding, make] { return make(binding); }));
    });
    driver_->tree();
  }

  // How many haptics of `kind` ("success", "warning", ...) the event log holds.
  std::size_t hapticCount(const std::string& kind) const {
    std::size_t n = 0;
    for (const auto& e : platform::ui::EventLog::shared().entries(platform::ui::LoggedEventType::haptic)) {
      n += e.detail == kind ? 1 : 0;
    }
    return n;
  }

  platform::ui::testing::ViewDriver& driver() { return *driver_; }

  // Declared first, so it goes last, after the store and the views.
  platform::testing::Environment environment_;
  // The environment's folder: the data directory is <root>/data.
  const std::filesystem::path root_ = environment_.root();
  std::shared_ptr<platform::ModelContainer> container_;
  std::shared_ptr<UserDefaultsManager> settings_;
  std::shared_ptr<ProfileManager> manager_;
  std::shared_ptr<BillViewModel> billVM_;
  std::shared_ptr<RingViewModel> ringVM_;
  std::shared_ptr<bool> presented_ = std::make_shared<bool>(true);
  std::unique_ptr<platform::ui::testing::ViewDriver> driver_;
};

}  // namespace brivel::testing
