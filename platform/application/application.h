// The application-level platform calls of an app, stood in for on Linux.
//
// The phone platform gives an app an application object (its connected window scenes, the
// remote-notification registration), a user-notification centre and process-wide appearance
// settings of its controls. This program has one window scene, the browser page, and no
// notifications or native controls, so each call here is a small stand-in that does what
// makes sense on this machine and records that it was made in the ApplicationCallLog, where
// the launch and appear steps can be checked in order:
//   - Application::registerForRemoteNotifications(): recorded, and passed to the view
//     layer's notification stand-in; nothing else happens.
//   - UserNotificationCenter::removeAllPendingNotificationRequests(): recorded, and passed to
//     the view layer's stand-in; nothing is ever pending.
//   - AppearanceProxy setters: the values are kept, recorded, and handed to the view layer's
//     Appearance, which the page uses to style its tables and segmented pickers.
//   - configureTips(): keeps the tips' shown/closed state in the data directory.
//
// Each shared object goes back to what a fresh process has through platform/process_state
// (scenes disconnected, no phase seen, appearance unset, log empty), which a test
// environment runs between tests.
//
// Threads: main thread, like the app's other start-up code; the log itself is locked.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/expected.h"
#include "platform/ui/environment.h"

namespace platform {

// The ordered record of the stand-in calls of this process.
class ApplicationCallLog {
 public:
  static ApplicationCallLog& shared();
  void record(std::string call);
  std::vector<std::string> entries() const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> entries_;
};

enum class SceneActivationState { unattached, foregroundActive, foregroundInactive, background };

// One window scene: the page that shows a view tree. Its activation state follows the scene
// phase the page reports (shown: active; hidden or closed: background).
class WindowScene {
 public:
  explicit WindowScene(std::function<ui::ScenePhase()> phase) : phase_(std::move(phase)) {}
  SceneActivationState activationState() const;

 private:
  std::function<ui::ScenePhase()> phase_;
};

class Application {
 public:
  static Application& shared();

  void connectScene(std::shared_ptr<WindowScene> scene);
  void disconnectScene(const std::shared_ptr<WindowScene>& scene);
  // The connected scenes, in the order they connected.
  std::vector<std::shared_ptr<WindowScene>> connectedScenes() const;

  void registerForRemoteNotifications();
  // Told the scene phase each time the page reports it; posts on the default notification
  // centre what the platform posts for its application and scene:
  //   first active (launch): scene will-enter-foreground, did-become-active;
  //   active to background (page hidden): scene will-deactivate, did-enter-background;
  //   background to active (shown again): will-enter-foreground, scene will-enter-foreground,
  //   did-become-active.
  // "UIApplicationDidBecomeActiveNotification" thus comes on every change into the active phase.
  void noteScenePhase(ui::ScenePhase phase);
  // At a clean exit: posts "UIApplicationWillTerminateNotification".
  void noteWillTerminate();
  // Opens a link through the view layer (ui::openURL).
  void open(const std::string& url);

 private:
  std::vector<std::shared_ptr<WindowScene>> scenes_;
  std::optional<ui::ScenePhase> lastPhase_;
};

inline constexpr const char* kApplicationDidBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";

class UserNotificationCenter {
 public:
  static UserNotificationCenter& current();
  void removeAllPendingNotificationRequests();
};

// A colour given by its components, each 0 to 1.
struct RGBAColor {
  double red = 0, green = 0, blue = 0, alpha = 1;
  static RGBAColor white() { return {1, 1, 1, 1}; }
  friend bool operator==(const RGBAColor&, const RGBAColor&) = default;
};

// The process-wide appearance defaults of the controls; later controls take these values.
struct AppearanceProxy {
  std::optional<bool> tableViewShowsVerticalScrollIndicator;
  std::optional<RGBAColor> segmentedControlSelectedSegmentTintColor;
  std::optional<RGBAColor> segmentedControlSelectedTitleForegroundColor;
  std::optional<RGBAColor> segmentedControlNormalTitleForegroundColor;

  static AppearanceProxy& shared();
  void setTableViewShowsVerticalScrollIndicator(bool shows);
  void setSegmentedControlSelectedSegmentTintColor(RGBAColor color);
  void setSegmentedControlSelectedTitleForegroundColor(RGBAColor color);
  void setSegmentedControlNormalTitleForegroundColor(RGBAColor color);
};

// Where the tips datastore lives; the application default is a file in the data directory.
enum class TipsDatastoreLocation { applicationDefault };
struct TipsConfigurationOption {
  TipsDatastoreLocation datastoreLocation = TipsDatastoreLocation::applicationDefault;
};

// The tips datastore file of the application default location.
std::string tipsDatastorePath();
// Configures the tips with their datastore. Fails when the datastore cannot be read.
platform::Status configureTips(const std::vector<TipsConfigurationOption>& options);

}  // namespace platform
