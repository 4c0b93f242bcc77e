// A page for the browser tests of the toast: a screen with one button whose action shows the
// kit's toast, served by the real web front. The app shows toasts only from its editors, so
// the browser tests use this page to see a toast appear and clear itself without a reload.
//
//   brivel_toast_page   prints http://127.0.0.1:PORT/ and serves until SIGINT or SIGTERM.
#include <pthread.h>
#include <signal.h>

#include <iostream>
#include <memory>
#include <thread>

#include "Brivel/shell/toast.h"
#include "platform/dispatch/queue.h"
#include "platform/ui/runtime.h"
#include "web/front.h"

int main() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);

  using namespace platform::ui;
  auto runtime = std::make_shared<ViewRuntime>([] {
    return Closure("toastPage", [](Context& ctx) {
      auto saved = ctx.state<bool>("savedToastMessage", false);
      View content = List({Section({Button(verbatim("Save"), [saved] { brivel::showToast(saved.binding()); })
                                        .accessibilityIdentifier("save")})});
      return NavigationStack(content | brivel::ToastMessageModifier{saved.get(), brivel::ToastMessageType::added,
                                                                    brivel::SFSymbols::plus});
    });
  });
  web::WebFront front(runtime);
  if (auto started = front.start(); !started.ok()) {
    const std::string failure = started.error().localizedDescription();
    std::cerr << "brivel_toast_page: " << failure << "\n";
    return 1;
  }
  std::cout << front.launchUrl() << std::endl;

  std::thread([set] {
    int received = 0;
    sigwait(&set, &received);
    platform::DispatchQueue::main()->async([] { platform::MainLoop::stop(); });
  }).detach();
  platform::MainLoop::run();
  front.stop();
  return 0;
}
