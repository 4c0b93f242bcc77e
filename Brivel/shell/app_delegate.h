// AppDelegate: the app's launch steps, and the appearance set-up they include.
//
// The program creates one AppDelegate at start-up and calls application() once, before the
// scene's content is first built. The steps, in order: configure the telemetry SDK (once per
// process; what it raises is not caught), configure the tips with the application's default
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
  static void applyAppearance();
};

using LaunchOptions = std::map<std::string, std::string>;

class AppDelegate {
 public:
  // `configureSDK` is the first launch step; by default the SDK's own launch call. Tests pass
  // a stand-in, since the SDK can be configured only once per process.
  explicit AppDelegate(std::function<void()> configureSDK = {});
  // The launch steps; the options are never read. Always answers true.
  bool application(platform::Application& application, const std::optional<LaunchOptions>& launchOptions);

 private:
  std::function<void()> configureSDK_;
};

}  // namespace brivel
