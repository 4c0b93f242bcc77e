// The application-level platform of an app, stood in for on Linux, behind small interfaces.
//
// The phone platform gives an app an application object (its connected window scenes, the
// remote-notification registration, opening links), a user-notification centre, process-wide
// appearance settings of its controls and the tips' configuration. `AppPlatform` bundles one
// of each; the program hands `AppPlatform::system()` to the app, and tests hand in a fake
// (platform/application/testing/recording_app_platform.h records every call in order).
//
// The system implementations do what makes sense on this machine, which has one window
// scene (the browser page) and no notifications or native controls:
//   - Application: keeps the connected scenes, turns the scene phase the page reports into the
//     platform's lifecycle notifications, opens links through the view layer; registering
//     for remote notifications is passed to the view layer's stand-in, nothing else happens.
//   - UserNotificationCenter: removing pending requests is passed to the view layer's
//     stand-in; nothing is ever pending.
//   - AppearanceProxy: the values are kept and handed to the view layer's Appearance, which
//     the page uses to style its tables and segmented pickers.
//   - TipsConfigurator: keeps the tips' shown/closed state in the data directory.
//
// The system objects are shared by the process and go back to what a fresh process has
// through platform/process_state (scenes disconnected, no phase seen, appearance unset),
// which a test environment runs between tests.
//
//   platform::AppPlatform platform = platform::AppPlatform::system();
//   platform.appearance->setTableViewShowsVerticalScrollIndicator(false);
//
// Threads: main thread, like the app's other start-up code.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/expected.h"
#include "platform/ui/environment.h"

namespace platform {

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

// The application object.
class Application {
 public:
  virtual ~Application() = default;

  // The process's own application object (the Linux one), for parts that only read it, such
  // as the review prompt looking for an active scene.
  static Application& shared();

  virtual void connectScene(std::shared_ptr<WindowScene> scene) = 0;
  virtual void disconnectScene(const std::shared_ptr<WindowScene>& scene) = 0;
  // The connected scenes, in the order they connected.
  virtual std::vector<std::shared_ptr<WindowScene>> connectedScenes() const = 0;

  virtual void registerForRemoteNotifications() = 0;
  // Told the scene phase each time the page reports it; posts on the default notification
  // centre what the platform posts for its application and scene:
  //   first active (launch): scene will-enter-foreground, did-become-active;
  //   active to background (page hidden): scene will-deactivate, did-enter-background;
  //   background to active (shown again): will-enter-foreground, scene will-enter-foreground,
  //   did-become-active.
  // "UIApplicationDidBecomeActiveNotification" thus comes on every change into the active phase.
  virtual void noteScenePhase(ui::ScenePhase phase) = 0;
  // At a clean exit: posts "UIApplicationWillTerminateNotification".
  virtual void noteWillTerminate() = 0;
  // Opens a link.
  virtual void open(const std::string& url) = 0;
};

// The Linux application object: Application::shared() is one; a test may make its own to
// see the notifications it posts.
class SystemApplication final : public Application {
 public:
  void connectScene(std::shared_ptr<WindowScene> scene) override;
  void disconnectScene(const std::shared_ptr<WindowScene>& scene) override;
  std::vector<std::shared_ptr<WindowScene>> connectedScenes() const override;
  // Passed to the view layer's stand-in (ui::registerForRemoteNotifications).
  void registerForRemoteNotifications() override;
  void noteScenePhase(ui::ScenePhase phase) override;
  void noteWillTerminate() override;
  // Through the view layer (ui::openURL).
  void open(const std::string& url) override;

 private:
  std::vector<std::shared_ptr<WindowScene>> scenes_;
  std::optional<ui::ScenePhase> lastPhase_;
};

inline constexpr const char* kApplicationDidBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";

class UserNotificationCenter {
 public:
  virtual ~UserNotificationCenter() = default;
  virtual void removeAllPendingNotificationRequests() = 0;
};

// A colour given by its components, each 0 to 1.
struct RGBAColor {
  double red = 0, green = 0, blue = 0, alpha = 1;
  static RGBAColor white() { return {1, 1, 1, 1}; }
  friend bool operator==(const RGBAColor&, const RGBAColor&) = default;
};

// The process-wide appearance defaults of the controls; later controls take these values.
class AppearanceProxy {
 public:
  virtual ~AppearanceProxy() = default;
  virtual void setTableViewShowsVerticalScrollIndicator(bool shows) = 0;
  virtual void setSegmentedControlSelectedSegmentTintColor(RGBAColor color) = 0;
  virtual void setSegmentedControlSelectedTitleForegroundColor(RGBAColor color) = 0;
  virtual void setSegmentedControlNormalTitleForegroundColor(RGBAColor color) = 0;
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

// Configures the tips at launch; the system one is configureTips().
class TipsConfigurator {
 public:
  virtual ~TipsConfigurator() = default;
  [[nodiscard]] virtual Status configure(const std::vector<TipsConfigurationOption>& options) = 0;
};

// The application-level platform an app launches on: one object of each kind above.
struct AppPlatform {
  std::shared_ptr<Application> application;
  std::shared_ptr<UserNotificationCenter> notificationCenter;
  std::shared_ptr<AppearanceProxy> appearance;
  std::shared_ptr<TipsConfigurator> tips;

  // The process's Linux objects; `application` is Application::shared().
  static AppPlatform system();
};

}  // namespace platform
