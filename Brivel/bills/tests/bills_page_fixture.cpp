// The app for the bills browser flow: the real app (shared objects, store and defaults in
// --data-dir, launch steps, root screen, web front) with the bills list as its first tab, as
// the app shell will show it.
//
//   brivel_bills_page --data-dir DIR   prints http://127.0.0.1:PORT/, serves until SIGTERM.
#include <pthread.h>
#include <signal.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "Brivel/bills/collection_list_screen.h"
#include "Brivel/model/brivel_model_container.h"
#include "Brivel/shell/app_platform.h"
#include "Brivel/shell/brivel_app.h"
#include "Brivel/shell/model_environment.h"
#include "Brivel/shell/root_screen.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/paths.h"
#include "platform/ui/runtime.h"
#include "web/front.h"

int main(int argc, char** argv) {
  using namespace platform::ui;
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);

  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) == "--data-dir") {
      platform::FileLocations::setDataDirectory(std::filesystem::absolute(argv[i + 1]));
    }
  }
  std::error_code ignored;
  std::filesystem::create_directories(platform::FileLocations::dataDirectory(), ignored);

  brivel::BrivelApp app;
  app.delegate().application(brivel::Application::shared(), std::nullopt);
  auto container = brivel::BrivelModelContainer::sharedContainer();
  if (!container) return 1;
  auto runtime = std::make_shared<ViewRuntime>([app, container] {
    brivel::RootScreen root;
    root.collectionTab = [] { return View(brivel::CollectionListScreen{}); };
    return brivel::modelContainer(View(root), container)
        .environmentObject(app.userDefaultsManager())
        .environmentObject(app.profileManager())
        .environmentObject(app.billVM())
        .environmentObject(app.ringVM());
  });
  auto scene = std::make_shared<brivel::WindowScene>([weak = std::weak_ptr(runtime)] {
    auto strong = weak.lock();
    return strong ? strong->scenePhase() : ScenePhase::background;
  });
  brivel::Application::shared().connectScene(scene);

  web::WebFront front(runtime);
  if (auto failure = front.start()) {
    std::cerr << "brivel_bills_page: " << *failure << "\n";
    return 1;
  }
  std::cout << front.url() << std::endl;

  std::thread([set] {
    int received = 0;
    sigwait(&set, &received);
    platform::DispatchQueue::main()->async([] { platform::MainLoop::stop(); });
  }).detach();
  platform::MainLoop::run();
  front.stop();
  brivel::Application::shared().disconnectScene(scene);
  if (auto error = container->mainContext().save()) {
    std::cerr << "Error saving: " << error->localizedDescription() << "\n";
    return 1;
  }
  return 0;
}
