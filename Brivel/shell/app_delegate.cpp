#include "Brivel/shell/app_delegate.h"

#include "sdk/startup/startup.h"

namespace brivel {

void SegmentedPickerStyleManager::applyAppearance(platform::AppearanceProxy& proxy) {
  const platform::RGBAColor red{0.8, 0.2, 0.3, 1.0};
  proxy.setTableViewShowsVerticalScrollIndicator(false);
  proxy.setSegmentedControlSelectedSegmentTintColor(red);
  proxy.setSegmentedControlSelectedTitleForegroundColor(platform::RGBAColor::white());
  proxy.setSegmentedControlNormalTitleForegroundColor(platform::RGBAColor{0.8, 0.2, 0.3, 1.0});
}

AppDelegate::AppDelegate(platform::AppPlatform appPlatform, std::function<platform::Status()> configureSDK)
    : platform_(std::move(appPlatform)),
      configureSDK_(configureSDK ? std::move(configureSDK) : std::function<platform::Status()>(&TELConfigureSDKAtLaunch)) {}

bool AppDelegate::application(platform::Application& application, const std::optional<LaunchOptions>&) {
  sdkConfiguration_ = configureSDK_();
  // A datastore that cannot be read leaves the tips in memory; launch goes on.
  (void)platform_.tips->configure(
      {platform::TipsConfigurationOption{platform::TipsDatastoreLocation::applicationDefault}});
  SegmentedPickerStyleManager::applyAppearance(*platform_.appearance);
  application.registerForRemoteNotifications();
  return true;
}

}  // namespace brivel
