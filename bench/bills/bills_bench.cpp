// The bills list's costs beside baselines measured in the same run:
//   - building the list (grouping by category and sorting by name) for a profile of 100,
//     1,000 and 10,000 bills, beside a plain walk that reads each bill's name, cost and
//     category;
//   - rendering the list screen's view tree at the same sizes, beside the runtime rendering a
//     plain list of as many texts;
//   - one search keystroke at 10,000 bills (the search field's new text, the filter and the
//     render), beside the plain list of 10,000 texts;
//   - the automatic save after the new-bill editor adds one bill, at 10,000 bills beside the
//     same at 100 bills: the ratio should stay near 1.
// At the end each figure is printed with its baseline and their ratio.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/common/ratio_reporter.h"
#include "Brivel/bills/bill_entity_add_screen.h"
#include "Brivel/bills/bill_sections.h"
#include "Brivel/bills/collection_list_screen.h"
#include "Brivel/model/brivel_model_container.h"
#include "Brivel/model/category_entity.h"
#include "Brivel/model/profile_entity.h"
#include "Brivel/model/profile_manager.h"
#include "Brivel/model/user_defaults_manager.h"
#include "Brivel/shell/model_environment.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/paths.h"
#include "platform/ui/runtime.h"

namespace {

using namespace platform::ui;

std::filesystem::path benchDirectory() {
  static const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("brivel-bills-bench-" + std::to_string(getpid()));
  return dir;
}

// A store with one selected profile of `bills` bills in 10 categories, grouped by category,
// and the list screen over it.
struct Fixture {
  std::shared_ptr<platform::ModelContainer> container;
  std::shared_ptr<brivel::ProfileEntity> profile;
  std::shared_ptr<brivel::ProfileManager> manager;
  std::shared_ptr<brivel::UserDefaultsManager> settings;
  std::unique_ptr<ViewRuntime> runtime;
};

std::map<int, std::unique_ptr<Fixture>>& fixtures() {
  static std::map<int, std::unique_ptr<Fixture>> all;
  return all;
}

// Drops every fixture's screen, so that no view tree renders again on later changes.
void dropScreens() {
  for (auto& [size, f] : fixtures()) f->runtime.reset();
  platform::MainLoop::drain();
}

Fixture& fixture(int bills) {
  auto& slot = fixtures()[bills];
  if (slot) return *slot;
  slot = std::make_unique<Fixture>();
  Fixture& f = *slot;
  const auto dir = benchDirectory() / std::to_string(bills);
  std::filesystem::create_directories(dir);
  platform::FileLocations::setDataDirectory(benchDirectory());
  f.container = brivel::BrivelModelContainer::makeContainer(dir / "Brivel.store");
  f.profile = std::make_shared<brivel::ProfileEntity>();
  f.profile->setName("Bench");
  f.profile->setCollectionFilterType(brivel::CollectionFilterType::category);
  brivel::CategoryList categories;
  for (int c = 0; c < 10; ++c) {
    auto category = std::make_shared<brivel::CategoryEntity>();
    category->setName("Category " + std::to_string(c));
    categories.push_back(category);
  }
  f.profile->setCategories(categories);
  brivel::BillList list;
  for (int i = 0; i < bills; ++i) {
    auto bill = std::make_shared<brivel::BillEntity>();
    bill->setName("Bill " + std::to_string((i * 7919) % bills));
    bill->setCost(1.0 + (i % 97) * 0.25);
    if (i % 4 != 0) bill->setCategory(categories[static_cast<std::size_t>(i % 10)]);
    list.push_back(bill);
  }
  f.profile->setBills(list);
  f.container->mainContext().insert(f.profile);
  if (f.container->mainContext().save()) std::fprintf(stderr, "the bench store could not be saved\n");
  f.manager = std::make_shared<brivel::ProfileManager>();
  f.manager->setSelectedUser(f.profile);
  f.settings = std::make_shared<brivel::UserDefaultsManager>();
  auto container = f.container;
  auto manager = f.manager;
  auto settings = f.settings;
  f.runtime = std::make_unique<ViewRuntime>([container, manager, settings] {
    return brivel::modelContainer(View(brivel::CollectionListScreen{}), container)
        .environmentObject(manager)
        .environmentObject(settings);
  });
  f.runtime->render();
  platform::MainLoop::drain();
  return f;
}

void BM_BuildList(benchmark::State& state) {
  Fixture& f = fixture(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    auto content = brivel::buildBillListContent(*f.profile, "");
    benchmark::DoNotOptimize(content.sections.size());
  }
}
BENCHMARK(BM_BuildList)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_Baseline_ReadBills(benchmark::State& state) {
  Fixture& f = fixture(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    double total = 0;
    std::size_t length = 0;
    for (const auto& bill : f.profile->bills().value_or(brivel::BillList{})) {
      length += bill->name().size();
      total += bill->cost();
      benchmark::DoNotOptimize(bill->category());
    }
    benchmark::DoNotOptimize(total);
    benchmark::DoNotOptimize(length);
  }
}
BENCHMARK(BM_Baseline_ReadBills)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_RenderList(benchmark::State& state) {
  Fixture& f = fixture(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    f.runtime->invalidate();
    benchmark::DoNotOptimize(f.runtime->render().children.size());
  }
  platform::MainLoop::drain();
}
BENCHMARK(BM_RenderList)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_Baseline_RenderPlainList(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  ViewRuntime runtime([rows] {
    std::vector<View> texts;
    texts.reserve(static_cast<std::size_t>(rows));
    for (int i = 0; i < rows; ++i) texts.push_back(Verbatim("Bill " + std::to_string(i)));
    return NavigationStack(List(std::move(texts)));
  });
  for (auto _ : state) {
    runtime.invalidate();
    benchmark::DoNotOptimize(runtime.render().children.size());
  }
  platform::MainLoop::drain();
}
BENCHMARK(BM_Baseline_RenderPlainList)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

const Node* findSearchField(const Node& node) {
  if (node.kind == NodeKind::searchField) return &node;
  for (const auto& child : node.children) {
    if (auto found = findSearchField(child)) return found;
  }
  for (const auto& [name, slot] : node.slots) {
    for (const auto& child : slot) {
      if (auto found = findSearchField(child)) return found;
    }
  }
  return nullptr;
}

void BM_SearchKeystroke(benchmark::State& state) {
  Fixture& f = fixture(10000);
  const char* texts[] = {"Bill 12", "Bill 123"};
  int turn = 0;
  for (auto _ : state) {
    const Node* field = findSearchField(f.runtime->render());
    if (!field) {
      state.SkipWithError("no search field");
      break;
    }
    f.runtime->dispatch(ActionEvent{field->actionId, EventKind::setValue, std::string(texts[turn++ % 2])});
  }
  // Leave the list unsearched for the other figures.
  if (const Node* field = findSearchField(f.runtime->render())) {
    f.runtime->dispatch(ActionEvent{field->actionId, EventKind::setValue, std::string()});
  }
  platform::MainLoop::drain();
}
BENCHMARK(BM_SearchKeystroke)->Unit(benchmark::kMillisecond);

void BM_AutosaveAfterAddingOneBill(benchmark::State& state) {
  // Only the store's work is measured: no list screen is shown.
  Fixture& f = fixture(static_cast<int>(state.range(0)));
  dropScreens();
  brivel::BillEntityAddScreenViewModel form;
  form.name = "New bill";
  form.cost = "12.5";
  for (auto _ : state) {
    auto profile = f.profile;
    platform::DispatchQueue::main()->async([profile, &form] { brivel::addBillFromForm(form, profile); });
    // The turn that added the bill ends with the store's automatic save.
    platform::MainLoop::drain();
  }
}
BENCHMARK(BM_AutosaveAfterAddingOneBill)->Arg(100)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  brivel::bench::RatioReporter reporter;
  if (!reporter.run(&argc, argv)) return 1;
  reporter.printRatios("The bills list beside plain work on as many bills (ratio = ours / baseline):",
                       {
                           {"BM_BuildList/100", "BM_Baseline_ReadBills/100"},
                           {"BM_BuildList/1000", "BM_Baseline_ReadBills/1000"},
                           {"BM_BuildList/10000", "BM_Baseline_ReadBills/10000"},
                           {"BM_RenderList/100", "BM_Baseline_RenderPlainList/100"},
                           {"BM_RenderList/1000", "BM_Baseline_RenderPlainList/1000"},
                           {"BM_RenderList/10000", "BM_Baseline_RenderPlainList/10000"},
                           {"BM_SearchKeystroke", "BM_Baseline_RenderPlainList/10000"},
                           {"BM_AutosaveAfterAddingOneBill/10000", "BM_AutosaveAfterAddingOneBill/100"},
                       });
  dropScreens();
  fixtures().clear();
  platform::MainLoop::drain();
  std::error_code ignored;
  std::filesystem::remove_all(benchDirectory(), ignored);
  benchmark::Shutdown();
  return 0;
}
