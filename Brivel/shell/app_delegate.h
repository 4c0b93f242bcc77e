// AppDelegate: the app's launch steps, and the appearance set-up they include.
//
// The app (BrivelApp) makes one AppDelegate over the application platform it was given and
// the program calls application() once, before the scene's content is first built. The steps,
// in order: configure the telemetry SDK (once per
// process; its failure is kept for the program, see sdkConfiguration()), configure the tips with the application's default
// datastore (an error is dropped and launch goes on), apply the appearance defaults of the
// controls, register for remote notifications; then answer true.
//
// Threads: main thread.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>

#include "platform/application/application.h"

namespace brivel {

// Sets the process-wide appearance defaults of tables and segmented controls: no vertical
// scroll indicator on tables; a red (0.8, 0.2, 0.3) selected segment with white title text,
// and red title text on the other segments.
class SegmentedPickerStyleManager {
 public:
  static void applyAppearance(platform::AppearanceProxy& appearance);
};

using LaunchOptions = std::map<std::string, std::string>;

class AppDelegate {
 public:
  // The steps run on `appPlatform`. `configureSDK` is the first step; by default the SDK's own
  // launch call. Tests pass a stand-in, since the SDK can be configured only once per process.
  explicit AppDelegate(platform::AppPlatform appPlatform = platform::AppPlatform::system(),
                       std::function<platform::Status()> configureSDK = {});
  // The launch steps; the options are never read. Always answers true.
  bool application(platform::Application& application, const std::optional<LaunchOptions>& launchOptions);
  // How the launch's SDK configuration went (success before application() ran). The program
  // does not go on without the SDK.
  const platform::Status& sdkConfiguration() const { return sdkConfiguration_; }

 private:
  platform::AppPlatform platform_;
  std::function<platform::Status()> configureSDK_;
  platform::Status sdkConfiguration_;
};

}  // namespace brivel
