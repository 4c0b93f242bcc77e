// brivel: the app program. It starts the app (launch steps, store, shared objects), serves
// its one scene to a browser page on this machine and prints the page's address.
//
//   brivel [--data-dir DIR] [--port N] [--sdk-endpoints FILE]
//
// --data-dir puts every file the app writes under DIR (default $XDG_DATA_HOME/brivel, else
// ~/.local/share/brivel); --port serves on port N of 127.0.0.1 (default, or 0: a free port);
// --sdk-endpoints reads the SDK's service addresses from FILE instead of the
// TelemetryEndpoints.plist beside the program (whose hosts lead nowhere).
// SIGINT and SIGTERM end the program cleanly: the main loop stops, the server closes and the
// store is saved. Exit codes: 0 after a clean end, 1 when the page cannot be served, 2 for a
// bad command line.
#include <pthread.h>
#include <signal.h>

#include <charconv>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "Brivel/model/brivel_model_container.h"
#include "Brivel/shell/app_platform.h"
#include "Brivel/bills/collection_list_screen.h"
#include "Brivel/shell/brivel_app.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/paths.h"
#include "platform/ui/runtime.h"
#include "platform/ui/services.h"
#include "sdk-core/core/endpoints.h"
#include "web/front.h"

namespace {

constexpr const char* kUsage =
    "usage: brivel [--data-dir DIR] [--port N] [--sdk-endpoints FILE]\n"
    "  --data-dir DIR        keep the app's files under DIR\n"
    "  --port N              serve the page on port N of 127.0.0.1 (0: any free port)\n"
    "  --sdk-endpoints FILE  read the SDK's service addresses from FILE (a property list)\n";

struct Options {
  std::optional<std::filesystem::path> dataDirectory;
  std::optional<std::filesystem::path> sdkEndpoints;
  int port = 0;
  bool help = false;
};

// Parses the command line; on a bad one writes why to `error` and answers std::nullopt.
std::optional<Options> parseOptions(int argc, char** argv, std::string& error) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      options.help = true;
      continue;
    }
    if (argument != "--data-dir" && argument != "--port" && argument != "--sdk-endpoints") {
      error = "unknown argument '" + std::string(argument) + "'";
      return std::nullopt;
    }
    if (i + 1 >= argc) {
      error = std::string(argument) + " needs a value";
      return std::nullopt;
    }
    const std::string_view value = argv[++i];
    if (argument == "--data-dir") {
      if (value.empty()) {
        error = "--data-dir needs a directory";
        return std::nullopt;
      }
      options.dataDirectory = std::filesystem::path(value);
    } else if (argument == "--sdk-endpoints") {
      if (value.empty()) {
        error = "--sdk-endpoints needs a file";
        return std::nullopt;
      }
      options.sdkEndpoints = std::filesystem::path(value);
    } else {
      int port = 0;
      auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), port);
      if (ec != std::errc() || end != value.data() + value.size() || port < 0 || port > 65535) {
        error = "--port needs a number from 0 to 65535, not '" + std::string(value) + "'";
        return std::nullopt;
      }
      options.port = port;
    }
  }
  return options;
}

// Waits for SIGINT or SIGTERM on a thread of its own and then stops the main loop. The
// signals are blocked in every thread first, so only this thread receives them.
class ShutdownSignals {
 public:
  ShutdownSignals() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGINT);
    sigaddset(&set_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set_, nullptr);
  }
  void startWatching() {
    watcher_ = std::thread([set = set_] {
      int received = 0;
      sigwait(&set, &received);
      platform::DispatchQueue::main()->async([] { platform::MainLoop::stop(); });
    });
    watcher_.detach();
  }

 private:
  sigset_t set_{};
  std::thread watcher_;
};

}  // namespace

int main(int argc, char** argv) {
  // Before any thread starts, so that every thread inherits the blocked signals.
  ShutdownSignals signals;

  std::string error;
  const std::optional<Options> options = parseOptions(argc, argv, error);
  if (!options) {
    std::cerr << "brivel: " << error << "\n" << kUsage;
    return 2;
  }
  if (options->help) {
    std::cout << kUsage;
    return 0;
  }
  if (options->sdkEndpoints) {
    if (auto failure = TELEndpoints::useFile(*options->sdkEndpoints)) {
      std::cerr << "brivel: " << failure->localizedDescription() << "\n";
      return 2;
    }
  }
  if (options->dataDirectory) {
    platform::FileLocations::setDataDirectory(std::filesystem::absolute(*options->dataDirectory));
  }
  std::error_code ignored;
  std::filesystem::create_directories(platform::FileLocations::dataDirectory(), ignored);

  // A link the app opens is printed for the user to follow.
  platform::ui::setOpenURLHandler([](const std::string& url) { std::cout << "brivel: open " << url << std::endl; });

  brivel::RootScreen root;
  root.collectionTab = [] { return platform::ui::View(brivel::CollectionListScreen{}); };
  brivel::BrivelApp app({}, root);
  app.delegate().application(brivel::Application::shared(), std::nullopt);

  auto runtime = std::make_shared<platform::ui::ViewRuntime>([app] { return app.body(); });
  auto scene = std::make_shared<brivel::WindowScene>([weak = std::weak_ptr(runtime)] {
    auto strong = weak.lock();
    return strong ? strong->scenePhase() : platform::ui::ScenePhase::background;
  });
  brivel::Application::shared().connectScene(scene);
  // The application becomes active whenever the page is shown; the SDK's heartbeats hang on it.
  runtime->addRenderObserver([weak = std::weak_ptr(runtime)](const platform::ui::Node&, std::uint64_t) {
    if (auto strong = weak.lock()) brivel::Application::shared().noteScenePhase(strong->scenePhase());
  });

  web::WebServerOptions serverOptions;
  serverOptions.port = options->port;
  web::WebFront front(runtime, serverOptions);
  if (auto failure = front.start()) {
    std::cerr << "brivel: the page cannot be served: " << *failure << "\n";
    return 1;
  }
  std::cout << front.url() << std::endl;

  signals.startWatching();
  platform::MainLoop::run();
  brivel::Application::shared().noteWillTerminate();

  front.stop();
  brivel::Application::shared().disconnectScene(scene);
  if (auto container = brivel::BrivelModelContainer::sharedContainer()) {
    if (auto saveError = container->mainContext().save()) {
      std::cerr << "Error saving: " << saveError->localizedDescription() << "\n";
      return 1;
    }
  }
  return 0;
}
