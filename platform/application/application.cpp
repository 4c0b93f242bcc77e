#include "platform/application/application.h"

#include <algorithm>

#include "platform/background_tasks/background_tasks.h"
#include "platform/foundation/notifications.h"
#include "platform/foundation/paths.h"
#include "platform/process_state/process_state.h"
#include "platform/ui/services.h"

namespace platform {

namespace {
std::string rgba(const RGBAColor& c) {
  return ui::Appearance::rgba(c.red, c.green, c.blue, c.alpha);
}

// The appearance values set so far; unset ones keep the view layer's defaults.
struct AppearanceValues {
  std::optional<bool> tableViewShowsVerticalScrollIndicator;
  std::optional<RGBAColor> segmentedControlSelectedSegmentTintColor;
  std::optional<RGBAColor> segmentedControlSelectedTitleForegroundColor;
  std::optional<RGBAColor> segmentedControlNormalTitleForegroundColor;
};

// Hands the values to the view layer, which copies them onto every rendered window.
void publish(const AppearanceValues& proxy) {
  ui::Appearance appearance = ui::Appearance::current();
  if (proxy.tableViewShowsVerticalScrollIndicator) {
    appearance.tableShowsVerticalScrollIndicator = *proxy.tableViewShowsVerticalScrollIndicator;
  }
  if (proxy.segmentedControlSelectedSegmentTintColor) {
    appearance.segmentedSelectedTint = rgba(*proxy.segmentedControlSelectedSegmentTintColor);
  }
  if (proxy.segmentedControlSelectedTitleForegroundColor) {
    appearance.segmentedSelectedTitleColor = rgba(*proxy.segmentedControlSelectedTitleForegroundColor);
  }
  if (proxy.segmentedControlNormalTitleForegroundColor) {
    appearance.segmentedNormalTitleColor = rgba(*proxy.segmentedControlNormalTitleForegroundColor);
  }
  ui::Appearance::set(std::move(appearance));
}

}  // namespace

SceneActivationState WindowScene::activationState() const {
  if (!phase_) return SceneActivationState::unattached;
  switch (phase_()) {
    case ui::ScenePhase::active:
      return SceneActivationState::foregroundActive;
    case ui::ScenePhase::inactive:
      return SceneActivationState::foregroundInactive;
    case ui::ScenePhase::background:
      return SceneActivationState::background;
  }
  return SceneActivationState::unattached;
}

namespace {
std::shared_ptr<SystemApplication>& sharedApplication() {
  static auto* application = [] {
    addProcessStateReset(+[] { *sharedApplication() = SystemApplication(); });
    return new std::shared_ptr<SystemApplication>(std::make_shared<SystemApplication>());
  }();
  return *application;
}
}  // namespace

Application& Application::shared() { return *sharedApplication(); }

void SystemApplication::connectScene(std::shared_ptr<WindowScene> scene) {
  if (scene && std::find(scenes_.begin(), scenes_.end(), scene) == scenes_.end()) {
    scenes_.push_back(std::move(scene));
  }
}

void SystemApplication::disconnectScene(const std::shared_ptr<WindowScene>& scene) {
  scenes_.erase(std::remove(scenes_.begin(), scenes_.end(), scene), scenes_.end());
}

std::vector<std::shared_ptr<WindowScene>> SystemApplication::connectedScenes() const { return scenes_; }

void SystemApplication::registerForRemoteNotifications() {
  ui::registerForRemoteNotifications();
}

void SystemApplication::noteScenePhase(ui::ScenePhase phase) {
  using ui::ScenePhase;
  auto& center = NotificationCenter::defaultCenter();
  const bool launching = !lastPhase_;
  const bool wasActive = lastPhase_ == ScenePhase::active;
  const bool wasBackground = lastPhase_ == ScenePhase::background;
  lastPhase_ = phase;
  if (phase == ScenePhase::active && !wasActive) {
    if (wasBackground) center.post(kApplicationWillEnterForegroundNotification);
    if (launching || wasBackground) center.post(kSceneWillEnterForegroundNotification);
    center.post(kApplicationDidBecomeActiveNotification);
    return;
  }
  if (phase != ScenePhase::active && wasActive) center.post(kSceneWillDeactivateNotification);
  if (phase == ScenePhase::background && !wasBackground && !launching) {
    center.post(kApplicationDidEnterBackgroundNotification);
  }
}

void SystemApplication::noteWillTerminate() {
  NotificationCenter::defaultCenter().post(kApplicationWillTerminateNotification);
}

void SystemApplication::open(const std::string& url) { ui::openURL(url); }

namespace {

class SystemUserNotificationCenter final : public UserNotificationCenter {
 public:
  void removeAllPendingNotificationRequests() override { ui::removeAllPendingNotificationRequests(); }
};

// Keeps the values set so far and hands them all to the view layer at each change.
class SystemAppearanceProxy final : public AppearanceProxy {
 public:
  void setTableViewShowsVerticalScrollIndicator(bool shows) override {
    update(&AppearanceValues::tableViewShowsVerticalScrollIndicator, shows);
  }
  void setSegmentedControlSelectedSegmentTintColor(RGBAColor color) override {
    update(&AppearanceValues::segmentedControlSelectedSegmentTintColor, color);
  }
  void setSegmentedControlSelectedTitleForegroundColor(RGBAColor color) override {
    update(&AppearanceValues::segmentedControlSelectedTitleForegroundColor, color);
  }
  void setSegmentedControlNormalTitleForegroundColor(RGBAColor color) override {
    update(&AppearanceValues::segmentedControlNormalTitleForegroundColor, color);
  }

 private:
  // One set of values for the process, as the platform's appearance proxies are.
  static AppearanceValues& values() {
    static auto* kept = [] {
      addProcessStateReset(+[] { values() = AppearanceValues(); });
      return new AppearanceValues();
    }();
    return *kept;
  }

  template <typename Value>
  static void update(std::optional<Value> AppearanceValues::*field, Value value) {
    values().*field = value;
    publish(values());
  }
};

class SystemTipsConfigurator final : public TipsConfigurator {
 public:
  Status configure(const std::vector<TipsConfigurationOption>& options) override { return configureTips(options); }
};

}  // namespace

AppPlatform AppPlatform::system() {
  return AppPlatform{
      .application = sharedApplication(),
      .notificationCenter = std::make_shared<SystemUserNotificationCenter>(),
      .appearance = std::make_shared<SystemAppearanceProxy>(),
      .tips = std::make_shared<SystemTipsConfigurator>(),
  };
}

std::string tipsDatastorePath() {
  return (FileLocations::dataDirectory() / "Tips" / "datastore.json").string();
}

Status configureTips(const std::vector<TipsConfigurationOption>& options) {
  for (const auto& option : options) {
    switch (option.datastoreLocation) {
      case TipsDatastoreLocation::applicationDefault:
        if (Status configured = ui::Tips::configure(tipsDatastorePath()); !configured.ok()) {
          return configured;
        }
        break;
    }
  }
  return {};
}

}  // namespace platform
