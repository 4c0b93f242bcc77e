// The store the bills benchmarks share: one selected profile named "Bench" of `bills` bills in
// 10 categories ("Category 0" ... "Category 9", a quarter of the bills in none), grouped by
// category, saved in a store file of its own, with the list screen's root view over it.
//
//   auto store = brivel::bench::makeBillStore(dir / "Brivel.store", 10000);
//   platform::ui::ViewRuntime runtime(store.root());
//
// Main thread.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "Brivel/bills/collection_list_screen.h"
#include "Brivel/model/bill_entity.h"
#include "Brivel/model/brivel_model_container.h"
#include "Brivel/model/category_entity.h"
#include "Brivel/model/profile_entity.h"
#include "Brivel/model/profile_manager.h"
#include "Brivel/model/user_defaults_manager.h"
#include "Brivel/shell/model_environment.h"

namespace brivel::bench {

struct BillStore {
  std::shared_ptr<platform::ModelContainer> container;
  std::shared_ptr<ProfileEntity> profile;
  std::shared_ptr<ProfileManager> manager;
  std::shared_ptr<UserDefaultsManager> settings;

  // The bills list screen over this store, as the app shows it.
  std::function<platform::ui::View()> root() const {
    return [container = container, manager = manager, settings = settings] {
      return modelContainer(platform::ui::View(CollectionListScreen{}), container)
          .environmentObject(manager)
          .environmentObject(settings);
    };
  }
};

inline BillStore makeBillStore(const std::filesystem::path& file, int bills) {
  BillStore store;
  store.container = BrivelModelContainer::makeContainer(file);
  store.profile = std::make_shared<ProfileEntity>();
  store.profile->setName("Bench");
  store.profile->setCollectionFilterType(CollectionFilterType::category);
  CategoryList categories;
  for (int c = 0; c < 10; ++c) {
    auto category = std::make_shared<CategoryEntity>();
    category->setName("Category " + std::to_string(c));
    categories.push_back(category);
  }
  store.profile->setCategories(categories);
  BillList list;
  for (int i = 0; i < bills; ++i) {
    auto bill = std::make_shared<BillEntity>();
    bill->setName("Bill " + std::to_string((i * 7919) % bills));
    bill->setCost(1.0 + (i % 97) * 0.25);
    if (i % 4 != 0) bill->setCategory(categories[static_cast<std::size_t>(i % 10)]);
    list.push_back(bill);
  }
  store.profile->setBills(list);
  store.container->mainContext().insert(store.profile);
  if (!store.container->mainContext().save().ok()) std::fprintf(stderr, "the bench store could not be saved\n");
  store.manager = std::make_shared<ProfileManager>();
  store.manager->setSelectedUser(store.profile);
  store.settings = std::make_shared<UserDefaultsManager>();
  return store;
}

}  // namespace brivel::bench
