// brivel-widget-host: stands in for the system's widget host. It loads a widget plug-in and
// shows a lock screen in a browser page on this machine, where the plug-in's widgets can be
// placed and show their timelines' faces.
//
//   brivel-widget-host [--plugin PATH] [--data-dir DIR] [--port N]
//
// --plugin names the plug-in (default: BrivelWidgetsExtension.so beside this program);
// --data-dir keeps the placements under DIR (default $XDG_DATA_HOME/brivel-widget-host, else
// ~/.local/share/brivel-widget-host); --port serves on port N of 127.0.0.1 (default, or 0: a
// free port). One host runs per data folder: a second one on it says which process has it and
// exits. Exit codes: 0 after a clean end (SIGINT, SIGTERM), 1 when the plug-in cannot be used,
// the data folder is in use or the page cannot be served, 2 for a bad command line.
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/dispatch/queue.h"
#include "platform/dispatch/shutdown_signals.h"
#include "platform/dispatch/timer.h"
#include "platform/foundation/arguments.h"
#include "platform/foundation/data_folder_lock.h"
#include "platform/foundation/paths.h"
#include "platform/ui/runtime.h"
#include "web/front.h"
#include "widget/host/lock_screen.h"
#include "widget/host/lock_screen_model.h"
#include "widget/host/widget_plugin.h"

namespace {

constexpr const char* kUsage = "usage: brivel-widget-host [--plugin PATH] [--data-dir DIR] [--port N]\n";

struct Options {
  std::optional<std::filesystem::path> plugin;
  std::optional<std::filesystem::path> dataDirectory;
  int port = 0;
  bool help = false;
};

std::optional<Options> parseOptions(int argc, char** argv, std::string& error) {
  static const platform::ArgumentSpec spec{.valued = {"--plugin", "--data-dir", "--port"}, .switches = {"--help", "-h"}, .passed = {}};
  const platform::Expected<platform::Arguments> arguments = platform::parseArguments(argc, argv, spec);
  if (!arguments.ok()) {
    error = arguments.error().localizedDescription();
    return std::nullopt;
  }
  Options options;
  options.help = arguments->has("--help") || arguments->has("-h");
  if (auto plugin = arguments->value("--plugin")) options.plugin = std::filesystem::path(*plugin);
  if (auto dataDirectory = arguments->value("--data-dir")) options.dataDirectory = std::filesystem::path(*dataDirectory);
  if (auto value = arguments->value("--port")) {
    const platform::Expected<int> port = web::parsePortArgument(*value);
    if (!port.ok()) {
      error = port.error().localizedDescription();
      return std::nullopt;
    }
    options.port = *port;
  }
  return options;
}

std::filesystem::path defaultDataDirectory() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    return std::filesystem::path(xdg) / "brivel-widget-host";
  }
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home && *home ? home : ".") / ".local/share/brivel-widget-host";
}

}  // namespace

int main(int argc, char** argv) {
  platform::ShutdownSignals signals;

  std::string error;
  const std::optional<Options> options = parseOptions(argc, argv, error);
  if (!options) {
    std::cerr << "brivel-widget-host: " << error << "\n" << kUsage;
    return 2;
  }
  if (options->help) {
    std::cout << kUsage;
    return 0;
  }

  auto loaded = brivel::widgethost::WidgetPlugin::load(
      options->plugin ? std::filesystem::absolute(*options->plugin) : brivel::widgethost::defaultPluginPath());
  if (!loaded.ok()) {
    std::cerr << "brivel-widget-host: " << loaded.error().localizedDescription() << "\n";
    return 1;
  }
  std::shared_ptr<const brivel::widgethost::WidgetPlugin> plugin =
      std::move(*loaded);

  const std::filesystem::path dataDirectory =
      std::filesystem::absolute(options->dataDirectory.value_or(defaultDataDirectory()));
  platform::FileLocations::setDataDirectory(dataDirectory);
  // One program per data folder, taken before the placements are read.
  std::error_code folderError;
  std::filesystem::create_directories(dataDirectory, folderError);
  std::unique_ptr<platform::DataFolderLock> folderLock;
  if (auto taken = platform::DataFolderLock::acquire(dataDirectory, "The widget host"); taken.ok()) {
    folderLock = std::move(*taken);
  } else {
    std::cerr << "brivel-widget-host: " << taken.error().localizedDescription() << "\n";
    if (taken.error().code == static_cast<long>(platform::DataFolderLockError::HeldElsewhere)) return 1;
  }
  auto model = std::make_shared<brivel::widgethost::LockScreenModel>(
      plugin, brivel::widgethost::PlacementFile(dataDirectory / "lock-screen.json"));
  model->start();

  // The clock moves once a minute.
  auto minutes = platform::DispatchTimer::make(platform::DispatchQueue::main());
  minutes->setEventHandler([weak = std::weak_ptr(model)] {
    if (auto m = weak.lock()) m->objectWillChange().send();
  });
  minutes->schedule(std::chrono::seconds(60 - std::chrono::duration_cast<std::chrono::seconds>(
                                                  platform::Clock::wallNow().time_since_epoch()).count() % 60),
                    std::chrono::seconds(60), std::chrono::seconds(1));
  minutes->resume();

  auto runtime = std::make_shared<platform::ui::ViewRuntime>(
      [model] { return platform::ui::View(brivel::widgethost::LockScreen{model}); });
  web::WebServerOptions serverOptions;
  serverOptions.port = options->port;
  web::WebFront front(runtime, serverOptions);
  if (platform::Status started = front.start(); !started.ok()) {
    std::cerr << "brivel-widget-host: the page cannot be served: " << started.error().localizedDescription() << "\n";
    return 1;
  }
  std::cout << front.launchUrl() << std::endl;
  if (folderLock) folderLock->setAddress(front.launchUrl());

  signals.startWatching();
  platform::MainLoop::run();

  front.stop();
  minutes->cancel();
  return 0;
}
