// Serves the bills list over a fresh store of N bills for bench/page/page_bench.mjs: prints the
// page's address on one line, then serves until it is killed.
//
//   page_fixture --bills 10000 --data-dir /tmp/x
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "bench/common/bill_store.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/paths.h"
#include "web/front.h"

int main(int argc, char** argv) {
  int bills = 1000;
  std::filesystem::path dir;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string name = argv[i];
    if (name == "--bills") bills = std::atoi(argv[i + 1]);
    if (name == "--data-dir") dir = argv[i + 1];
  }
  if (dir.empty() || bills < 0) {
    std::cerr << "usage: page_fixture --bills N --data-dir DIR\n";
    return 2;
  }
  std::filesystem::create_directories(dir);
  platform::FileLocations::setDataDirectory(dir);
  auto store = brivel::bench::makeBillStore(dir / "Brivel.store", bills);
  auto runtime = std::make_shared<platform::ui::ViewRuntime>(store.root());
  web::WebFront front(runtime);
  if (auto started = front.start(); !started.ok()) {
    const std::string error = started.error().localizedDescription();
    std::cerr << error << "\n";
    return 1;
  }
  std::cout << front.launchUrl() << std::endl;
  platform::MainLoop::run();
  return 0;
}
