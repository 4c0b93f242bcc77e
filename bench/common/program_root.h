// The program's root screen over a bench store, as `brivel` builds it: the app with both tabs
// (the bills list and the forecast), its own shared objects, the store's profile picked and
// remembered so that the app's launch restores it.
//
//   auto store = brivel::bench::makeBillStore(dir / "Brivel.store", 10000);
//   platform::ui::ViewRuntime runtime(brivel::bench::programRoot(store));
//
// Main thread.
#pragma once

#include <functional>
#include <memory>

#include "Brivel/bills/collection_list_screen.h"
#include "Brivel/forecast/forecast_screen.h"
#include "Brivel/shell/brivel_app.h"
#include "bench/common/bill_store.h"

namespace brivel::bench {

inline std::function<platform::ui::View()> programRoot(const BillStore& store) {
  store.manager->select(store.profile);
  RootScreen root;
  root.collectionTab = [] { return platform::ui::View(CollectionListScreen{}); };
  root.forecastTab = [](const std::shared_ptr<ProfileEntity>& profile) { return platform::ui::View(ForecastScreen{profile}); };
  BrivelApp app([container = store.container] { return container; }, root);
  return [app] { return app.body(); };
}

}  // namespace brivel::bench
