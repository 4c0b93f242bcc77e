// BrivelApp: the app itself. It owns the AppDelegate and the four shared objects the screens
// read from the environment, and builds the scene's content. It runs on the application
// platform it is given (the program's is the system one; tests give a fake).
//
// The shared objects are created on first read, once per app, in the order the scene's
// content reads them: UserDefaultsManager, ProfileManager, BillViewModel (which loads the
// legacy bills), RingViewModel (which loads the legacy rings). The content is the root screen
// with the store container and the four objects in its environment, and an appear action that
// clears pending notifications and turns "getNotified" off. When the store container cannot
// be built, the content is the container-unavailable screen alone and no shared object is
// ever created.
//
// Copies of a BrivelApp share one app (its delegate, objects and container provider), so the
// runtime's root closure can hold one by value:
//
//   const platform::AppPlatform appPlatform = platform::AppPlatform::system();
//   BrivelApp app({}, root, appPlatform);
//   app.delegate().application(*appPlatform.application, std::nullopt);
//   auto runtime = std::make_shared<ViewRuntime>([app] { return app.body(); });
//
// Threads: main thread.
#pragma once

#include <functional>
#include <memory>

#include "Brivel/model/bill_view_model.h"
#include "Brivel/model/profile_manager.h"
#include "Brivel/model/ring_view_model.h"
#include "Brivel/model/user_defaults_manager.h"
#include "Brivel/shell/app_delegate.h"
#include "Brivel/shell/root_screen.h"
#include "platform/data/model_container.h"
#include "platform/ui/view.h"

namespace brivel {

class BrivelApp {
 public:
  using ContainerProvider = std::function<std::shared_ptr<platform::ModelContainer>()>;

  // `container` answers the store container (nullptr when it could not be built); by default
  // the process's shared container. `root` is the root screen with the program's tabs; the
  // program hands in the bills list and the forecast, which live above the shell. The
  // delegate's launch steps and the appear action run on `appPlatform`.
  explicit BrivelApp(ContainerProvider container = {}, RootScreen root = {},
                     platform::AppPlatform appPlatform = platform::AppPlatform::system());

  AppDelegate& delegate() const;

  // The scene's content, built each time the window asks for it.
  platform::ui::View body() const;

  // The appear action of the root content.
  void clearPendingNotifications() const;

  // The shared objects; each is created on its first read.
  std::shared_ptr<UserDefaultsManager> userDefaultsManager() const;
  std::shared_ptr<ProfileManager> profileManager() const;
  std::shared_ptr<BillViewModel> billVM() const;
  std::shared_ptr<RingViewModel> ringVM() const;

  // Whether any shared object has been created yet.
  bool hasCreatedSharedObjects() const;

 private:
  struct Storage;
  std::shared_ptr<Storage> storage_;
};

}  // namespace brivel
