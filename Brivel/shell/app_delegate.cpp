#include "Brivel/shell/app_delegate.h"

#include "sdk-core/startup/startup.h"

namespace brivel {

void SegmentedPickerStyleManager::applyAppearance() {
  auto& proxy = platform::AppearanceProxy::shared();
  const platform::RGBAColor red{0.8, 0.2, 0.3, 1.0};
  proxy.setTableViewShowsVerticalScrollIndicator(false);
  proxy.setSegmentedControlSelectedSegmentTintColor(red);
  proxy.setSegmentedControlSelectedTitleForegroundColor(platform::RGBAColor::white());
  proxy.setSegmentedControlNormalTitleForegroundColor(platform::RGBAColor{0.8, 0.2, 0.3, 1.0});
}

AppDelegate::AppDelegate(std::function<platform::Status()> configureSDK)
    : configureSDK_(configureSDK ? std::move(configureSDK) : std::function<platform::Status()>(&TELConfigureSDKAtLaunch)) {}

bool AppDelegate::application(platform::Application& application, const std::optional<LaunchOptions>&) {
  platform::ApplicationCallLog::shared().record("TelemetryApp.configure");
  sdkConfiguration_ = configureSDK_();
  // A datastore that cannot be read leaves the tips in memory; launch goes on.
  (void)platform::configureTips({platform::TipsConfigurationOption{platform::TipsDatastoreLocation::applicationDefault}});
  SegmentedPickerStyleManager::applyAppearance();
  application.registerForRemoteNotifications();
  return true;
}

}  // namespace brivel
