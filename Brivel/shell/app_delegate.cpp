#include "Brivel/shell/app_delegate.h"

#include <exception>

namespace brivel {

void SegmentedPickerStyleManager::applyAppearance() {
  auto& proxy = AppearanceProxy::shared();
  const RGBAColor red{0.8, 0.2, 0.3, 1.0};
  proxy.setTableViewShowsVerticalScrollIndicator(false);
  proxy.setSegmentedControlSelectedSegmentTintColor(red);
  proxy.setSegmentedControlSelectedTitleForegroundColor(RGBAColor::white());
  proxy.setSegmentedControlNormalTitleForegroundColor(RGBAColor{0.8, 0.2, 0.3, 1.0});
}

bool AppDelegate::application(Application& application, const std::optional<LaunchOptions>&) {
  try {
    configureTips({TipsConfigurationOption{TipsDatastoreLocation::applicationDefault}});
  } catch (const std::exception&) {
    // A datastore that cannot be read leaves the tips in memory; launch goes on.
  }
  SegmentedPickerStyleManager::applyAppearance();
  application.registerForRemoteNotifications();
  return true;
}

}  // namespace brivel
