#include "Brivel/shell/app_delegate.h"

#include <exception>

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

AppDelegate::AppDelegate(std::function<void()> configureSDK)
    : configureSDK_(configureSDK ? std::move(configureSDK) : std::function<void()>(&TELConfigureSDKAtLaunch)) {}

bool AppDelegate::application(platform::Application& application, const std::optional<LaunchOptions>&) {
  platform::ApplicationCallLog::shared().record("TelemetryApp.configure");
  configureSDK_();
  try {
    platform::configureTips({platform::TipsConfigurationOption{platform::TipsDatastoreLocation::applicationDefault}});
  } catch (const std::exception&) {
    // A datastore that cannot be read leaves the tips in memory; launch goes on.
  }
  SegmentedPickerStyleManager::applyAppearance();
  application.registerForRemoteNotifications();
  return true;
}

}  // namespace brivel
