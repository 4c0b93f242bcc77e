#include "Brivel/shell/brivel_app.h"

#include "Brivel/model/brivel_model_container.h"
#include "Brivel/shell/model_container_unavailable_view.h"
#include "Brivel/shell/model_environment.h"
#include "Brivel/shell/root_screen.h"

namespace brivel {

using platform::ui::View;

struct BrivelApp::Storage {
  ContainerProvider container;
  RootScreen root;
  platform::AppPlatform appPlatform;
  AppDelegate delegate;
  std::shared_ptr<UserDefaultsManager> userDefaultsManager = {};
  std::shared_ptr<ProfileManager> profileManager = {};
  std::shared_ptr<BillViewModel> billVM = {};
  std::shared_ptr<RingViewModel> ringVM = {};
};

BrivelApp::BrivelApp(ContainerProvider container, RootScreen root, platform::AppPlatform appPlatform)
    : storage_(std::make_shared<Storage>(Storage{
          .container = container ? std::move(container) : ContainerProvider(&BrivelModelContainer::sharedContainer),
          .root = std::move(root),
          .appPlatform = appPlatform,
          .delegate = AppDelegate(appPlatform),
      })) {}

AppDelegate& BrivelApp::delegate() const { return storage_->delegate; }

std::shared_ptr<UserDefaultsManager> BrivelApp::userDefaultsManager() const {
  if (!storage_->userDefaultsManager) storage_->userDefaultsManager = std::make_shared<UserDefaultsManager>();
  return storage_->userDefaultsManager;
}

std::shared_ptr<ProfileManager> BrivelApp::profileManager() const {
  if (!storage_->profileManager) storage_->profileManager = std::make_shared<ProfileManager>();
  return storage_->profileManager;
}

std::shared_ptr<BillViewModel> BrivelApp::billVM() const {
  if (!storage_->billVM) storage_->billVM = std::make_shared<BillViewModel>();
  return storage_->billVM;
}

std::shared_ptr<RingViewModel> BrivelApp::ringVM() const {
  if (!storage_->ringVM) storage_->ringVM = std::make_shared<RingViewModel>();
  return storage_->ringVM;
}

bool BrivelApp::hasCreatedSharedObjects() const {
  return storage_->userDefaultsManager || storage_->profileManager || storage_->billVM || storage_->ringVM;
}

void BrivelApp::clearPendingNotifications() const {
  storage_->appPlatform.notificationCenter->removeAllPendingNotificationRequests();
  userDefaultsManager()->setGetNotified(false);
}

View BrivelApp::body() const {
  auto container = storage_->container();
  if (!container) return View(ModelContainerUnavailableView{});

  // Read in this order, so that on the first build they are created in this order.
  auto settings = userDefaultsManager();
  auto profiles = profileManager();
  auto bills = billVM();
  auto rings = ringVM();
  BrivelApp app = *this;
  return modelContainer(View(storage_->root), container)
      .environmentObject(settings)
      .environmentObject(profiles)
      .environmentObject(bills)
      .environmentObject(rings)
      .onAppear([app] { app.clearPendingNotifications(); });
}

}  // namespace brivel
