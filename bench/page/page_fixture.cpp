// Seeds a data folder for bench/page/page_bench.mjs: a store of N bills in one profile, picked
// as the last one used, so that the real `brivel` started on the folder opens with it shown.
// It writes the folder and exits; the program itself serves the page.
//
//   page_fixture --bills 10000 --data-dir /tmp/x && brivel --data-dir /tmp/x --port 0
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "bench/common/bill_store.h"
#include "platform/foundation/defaults.h"
#include "platform/foundation/paths.h"

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
  {
    auto store = brivel::bench::makeBillStore(dir / "Brivel.store", bills);
    store.manager->select(store.profile);
    if (!platform::UserDefaults::standard()->synchronize().ok()) {
      std::cerr << "the pick could not be remembered\n";
      return 1;
    }
  }
  return 0;
}
