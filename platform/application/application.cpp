#include "platform/application/application.h"

#include <algorithm>
#include <sstream>

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

// Hands the proxy's values to the view layer, which copies them onto every rendered window.
void publish(const AppearanceProxy& proxy) {
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

std::string describe(const RGBAColor& c) {
  std::ostringstream out;
  out << "rgba(" << c.red << "," << c.green << "," << c.blue << "," << c.alpha << ")";
  return out.str();
}
}  // namespace

ApplicationCallLog& ApplicationCallLog::shared() {
  static auto* log = [] {
    addProcessStateReset(+[] { ApplicationCallLog::shared().clear(); });
    return new ApplicationCallLog();
  }();
  return *log;
}

void ApplicationCallLog::record(std::string call) {
  std::lock_guard lock(mutex_);
  entries_.push_back(std::move(call));
}

std::vector<std::string> ApplicationCallLog::entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

void ApplicationCallLog::clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

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

Application& Application::shared() {
  static auto* application = [] {
    addProcessStateReset(+[] { Application::shared() = Application(); });
    return new Application();
  }();
  return *application;
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
  ApplicationCallLog::shared().record("registerForRemoteNotifications");
  ui::registerForRemoteNotifications();
}

void Application::noteScenePhase(ui::ScenePhase phase) {
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

void Application::noteWillTerminate() {
  NotificationCenter::defaultCenter().post(kApplicationWillTerminateNotification);
}

void Application::open(const std::string& url) { ui::openURL(url); }

UserNotificationCenter& UserNotificationCenter::current() {
  static UserNotificationCenter center;
  return center;
}

void UserNotificationCenter::removeAllPendingNotificationRequests() {
  ApplicationCallLog::shared().record("removeAllPendingNotificationRequests");
  ui::removeAllPendingNotificationRequests();
}

AppearanceProxy& AppearanceProxy::shared() {
  static auto* proxy = [] {
    addProcessStateReset(+[] { AppearanceProxy::shared() = AppearanceProxy(); });
    return new AppearanceProxy();
  }();
  return *proxy;
}

void AppearanceProxy::setTableViewShowsVerticalScrollIndicator(bool shows) {
  tableViewShowsVerticalScrollIndicator = shows;
  ApplicationCallLog::shared().record(std::string("UITableView.showsVerticalScrollIndicator=") +
                                (shows ? "true" : "false"));
  publish(*this);
}

void AppearanceProxy::setSegmentedControlSelectedSegmentTintColor(RGBAColor color) {
  segmentedControlSelectedSegmentTintColor = color;
  ApplicationCallLog::shared().record("UISegmentedControl.selectedSegmentTintColor=" + describe(color));
  publish(*this);
}

void AppearanceProxy::setSegmentedControlSelectedTitleForegroundColor(RGBAColor color) {
  segmentedControlSelectedTitleForegroundColor = color;
  ApplicationCallLog::shared().record("UISegmentedControl.selected.foregroundColor=" + describe(color));
  publish(*this);
}

void AppearanceProxy::setSegmentedControlNormalTitleForegroundColor(RGBAColor color) {
  segmentedControlNormalTitleForegroundColor = color;
  ApplicationCallLog::shared().record("UISegmentedControl.normal.foregroundColor=" + describe(color));
  publish(*this);
}

std::string tipsDatastorePath() {
  return (FileLocations::dataDirectory() / "Tips" / "datastore.json").string();
}

Status configureTips(const std::vector<TipsConfigurationOption>& options) {
  ApplicationCallLog::shared().record("Tips.configure");
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
