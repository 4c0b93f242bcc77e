#include "Brivel/shell/app_platform.h"

#include <algorithm>
#include <sstream>

#include "platform/background_tasks/background_tasks.h"
#include "platform/foundation/notifications.h"
#include "platform/foundation/paths.h"
#include "platform/ui/services.h"

namespace brivel {

namespace {
std::string rgba(const RGBAColor& c) {
  return platform::ui::Appearance::rgba(c.red, c.green, c.blue, c.alpha);
}

// Hands the proxy's values to the view layer, which copies them onto every rendered window.
void publish(const AppearanceProxy& proxy) {
  platform::ui::Appearance appearance = platform::ui::Appearance::current();
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
  platform::ui::Appearance::set(std::move(appearance));
}

std::string describe(const RGBAColor& c) {
  std::ostringstream out;
  out << "rgba(" << c.red << "," << c.green << "," << c.blue << "," << c.alpha << ")";
  return out.str();
}
}  // namespace

ShellCallLog& ShellCallLog::shared() {
  static ShellCallLog log;
  return log;
}

void ShellCallLog::record(std::string call) {
  std::lock_guard lock(mutex_);
  entries_.push_back(std::move(call));
}

std::vector<std::string> ShellCallLog::entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

void ShellCallLog::clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

SceneActivationState WindowScene::activationState() const {
  if (!phase_) return SceneActivationState::unattached;
  switch (phase_()) {
    case platform::ui::ScenePhase::active:
      return SceneActivationState::foregroundActive;
    case platform::ui::ScenePhase::inactive:
      return SceneActivationState::foregroundInactive;
    case platform::ui::ScenePhase::background:
      return SceneActivationState::background;
  }
  return SceneActivationState::unattached;
}

Application& Application::shared() {
  static Application application;
  return application;
}

void Application::connectScene(std::shared_ptr<WindowScene> scene) {
  if (scene && std::find(scenes_.begin(), scenes_.end(), scene) == scenes_.end()) {
    scenes_.push_back(std::move(scene));
  }
}

void Application::disconnectScene(const std::shared_ptr<WindowScene>& scene) {
  scenes_.erase(std::remove(scenes_.begin(), scenes_.end(), scene), scenes_.end());
}

std::vector<std::shared_ptr<WindowScene>> Application::connectedScenes() const { return scenes_; }

void Application::registerForRemoteNotifications() {
  ShellCallLog::shared().record("registerForRemoteNotifications");
  platform::ui::registerForRemoteNotifications();
}

void Application::noteScenePhase(platform::ui::ScenePhase phase) {
  using platform::ui::ScenePhase;
  auto& center = platform::NotificationCenter::defaultCenter();
  const bool launching = !lastPhase_;
  const bool wasActive = lastPhase_ == ScenePhase::active;
  const bool wasBackground = lastPhase_ == ScenePhase::background;
  lastPhase_ = phase;
  if (phase == ScenePhase::active && !wasActive) {
    if (wasBackground) center.post(platform::kApplicationWillEnterForegroundNotification);
    if (launching || wasBackground) center.post(platform::kSceneWillEnterForegroundNotification);
    center.post(kApplicationDidBecomeActiveNotification);
    return;
  }
  if (phase != ScenePhase::active && wasActive) center.post(platform::kSceneWillDeactivateNotification);
  if (phase == ScenePhase::background && !wasBackground && !launching) {
    center.post(platform::kApplicationDidEnterBackgroundNotification);
  }
}

void Application::noteWillTerminate() {
  platform::NotificationCenter::defaultCenter().post(platform::kApplicationWillTerminateNotification);
}

void Application::open(const std::string& url) { platform::ui::openURL(url); }

UserNotificationCenter& UserNotificationCenter::current() {
  static UserNotificationCenter center;
  return center;
}

void UserNotificationCenter::removeAllPendingNotificationRequests() {
  ShellCallLog::shared().record("removeAllPendingNotificationRequests");
  platform::ui::removeAllPendingNotificationRequests();
}

AppearanceProxy& AppearanceProxy::shared() {
  static AppearanceProxy proxy;
  return proxy;
}

void AppearanceProxy::setTableViewShowsVerticalScrollIndicator(bool shows) {
  tableViewShowsVerticalScrollIndicator = shows;
  ShellCallLog::shared().record(std::string("UITableView.showsVerticalScrollIndicator=") +
                                (shows ? "true" : "false"));
  publish(*this);
}

void AppearanceProxy::setSegmentedControlSelectedSegmentTintColor(RGBAColor color) {
  segmentedControlSelectedSegmentTintColor = color;
  ShellCallLog::shared().record("UISegmentedControl.selectedSegmentTintColor=" + describe(color));
  publish(*this);
}

void AppearanceProxy::setSegmentedControlSelectedTitleForegroundColor(RGBAColor color) {
  segmentedControlSelectedTitleForegroundColor = color;
  ShellCallLog::shared().record("UISegmentedControl.selected.foregroundColor=" + describe(color));
  publish(*this);
}

void AppearanceProxy::setSegmentedControlNormalTitleForegroundColor(RGBAColor color) {
  segmentedControlNormalTitleForegroundColor = color;
  ShellCallLog::shared().record("UISegmentedControl.normal.foregroundColor=" + describe(color));
  publish(*this);
}

std::string tipsDatastorePath() {
  return (platform::FileLocations::dataDirectory() / "Tips" / "datastore.json").string();
}

platform::Status configureTips(const std::vector<TipsConfigurationOption>& options) {
  ShellCallLog::shared().record("Tips.configure");
  for (const auto& option : options) {
    switch (option.datastoreLocation) {
      case TipsDatastoreLocation::applicationDefault:
        if (platform::Status configured = platform::ui::Tips::configure(tipsDatastorePath()); !configured.ok()) {
          return configured;
        }
        break;
    }
  }
  return {};
}

}  // namespace brivel
