// Serves the demo screen on a free port of 127.0.0.1 and prints its address, for the browser
// test of the page's client. Runs until it is terminated.
#include <cstdio>

#include "platform/dispatch/queue.h"
#include "web/front.h"
#include "web/testing/demo_screen.h"

int main() {
  auto runtime =
      std::make_shared<platform::ui::ViewRuntime>([] { return platform::ui::View(web::testing::DemoScreen{6}); });
  web::WebFront front(runtime);
  if (auto started = front.start(); !started.ok()) {
    const std::string error = started.error().localizedDescription();
    std::fprintf(stderr, "demo page: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s\n", front.launchUrl().c_str());
  std::fflush(stdout);
  platform::MainLoop::run();
  return 0;
}
