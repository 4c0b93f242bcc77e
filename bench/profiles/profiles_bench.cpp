// The legacy import and the profiles list, each beside a baseline measured in the same run.
//
//   import_legacy        5,000 legacy bills and 500 rings: decoding both property lists, the
//                        import's steps (categories, bills with their links, salary), and
//                        inserting and saving the new profile in a real store file
//   decode_legacy        the baseline: decoding the same two property lists alone
//   render_profiles      one render of the profiles list showing 100 profiles
//   profiles_to_json     the baseline: serialising the same rendered tree to JSON
// After the runs, each figure is printed as a ratio to its baseline.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/common/node_json.h"
#include "bench/common/ratio_reporter.h"
#include "Brivel/model/bill_view_model.h"
#include "Brivel/model/brivel_model_container.h"
#include "Brivel/model/profile_manager.h"
#include "Brivel/model/ring_view_model.h"
#include "Brivel/model/user_defaults_manager.h"
#include "Brivel/profiles/legacy_import.h"
#include "Brivel/profiles/profile_actions.h"
#include "Brivel/profiles/profiles_list_screen.h"
#include "Brivel/shell/model_environment.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/defaults.h"
#include "platform/foundation/paths.h"
#include "platform/ui/runtime.h"

namespace {

using platform::ui::Node;

constexpr int kBills = 5000;
constexpr int kRings = 500;
constexpr int kProfiles = 100;

std::filesystem::path benchDirectory() {
  static const std::filesystem::path dir = [] {
    auto path = std::filesystem::temp_directory_path() / ("brivel-profiles-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(path);
    platform::FileLocations::setDataDirectory(path / "data");
    return path;
  }();
  return dir;
}

struct LegacyBytes {
  std::vector<std::uint8_t> bills;
  std::vector<std::uint8_t> rings;
};

const LegacyBytes& legacyBytes() {
  static const LegacyBytes bytes = [] {
    std::vector<brivel::Ring> rings;
    for (int i = 0; i < kRings; ++i) rings.push_back({platform::UUID::random(), "Ring " + std::to_string(i)});
    std::vector<brivel::Bill> bills;
    for (int i = 0; i < kBills; ++i) {
      brivel::Bill bill;
      bill.title = "Bill " + std::to_string(i);
      bill.amount = 10.0 + i;
      bill.note = i % 3 == 0 ? "" : "note";
      bill.occurring = i % 3;
      bill.startingMonth = i % 4;
      bill.startingMonthYearly = i % 13;
      if (i % 5 != 0) bill.ring = rings[static_cast<std::size_t>(i % kRings)];
      bills.push_back(std::move(bill));
    }
    return LegacyBytes{*brivel::encodeBills(bills), *brivel::encodeRings(rings)};
  }();
  return bytes;
}

void decode_legacy(benchmark::State& state) {
  const auto& bytes = legacyBytes();
  for (auto _ : state) {
    auto bills = brivel::decodeBills(bytes.bills);
    auto rings = brivel::decodeRings(bytes.rings);
    benchmark::DoNotOptimize(bills);
    benchmark::DoNotOptimize(rings);
  }
}
BENCHMARK(decode_legacy)->Unit(benchmark::kMillisecond);

void import_legacy(benchmark::State& state) {
  const auto& bytes = legacyBytes();
  const auto store = benchDirectory() / "import.store";
  brivel::UserDefaultsManager settings;
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(store);
    std::filesystem::remove(store.string() + "-wal");
    std::filesystem::remove(store.string() + "-shm");
    auto container = brivel::BrivelModelContainer::makeContainer(store);
    state.ResumeTiming();

    auto bills = brivel::decodeBills(bytes.bills);
    auto rings = brivel::decodeRings(bytes.rings);
    auto profile = brivel::makeNewProfile("Imported", "appleRed");
    brivel::importRings(profile, *rings);
    brivel::importBills(profile, *bills);
    brivel::importSalary(*profile, settings);
    if (!brivel::insertAndSaveProfile(container->mainContext(), profile).ok()) state.SkipWithError("save failed");

    state.PauseTiming();
    container.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(import_legacy)->Unit(benchmark::kMillisecond);

// The profiles list over a store with 100 profiles, in the app's environment.
struct ListFixture {
  std::shared_ptr<platform::ModelContainer> container;
  std::unique_ptr<platform::ui::ViewRuntime> runtime;
  bool shown = true;

  ListFixture() {
    container = brivel::BrivelModelContainer::makeContainer(benchDirectory() / "list.store");
    for (int i = 0; i < kProfiles; ++i) {
      container->mainContext().insert(brivel::makeNewProfile("Profile " + std::to_string(i), "sonicBlue"));
    }
    (void)container->mainContext().save();
    auto settings = std::make_shared<brivel::UserDefaultsManager>();
    auto manager = std::make_shared<brivel::ProfileManager>();
    auto billVM = std::make_shared<brivel::BillViewModel>();
    auto ringVM = std::make_shared<brivel::RingViewModel>();
    auto stored = container;
    bool* flag = &shown;
    runtime = std::make_unique<platform::ui::ViewRuntime>([=] {
      platform::ui::Binding<bool> dismiss([flag] { return *flag; }, [flag](bool on) { *flag = on; });
      return brivel::modelContainer(platform::ui::View(brivel::ProfilesListScreen{dismiss}), stored)
          .environmentObject(settings)
          .environmentObject(manager)
          .environmentObject(billVM)
          .environmentObject(ringVM);
    });
    runtime->render();
  }
};

ListFixture& listFixture() {
  static ListFixture fixture;
  return fixture;
}

void render_profiles(benchmark::State& state) {
  auto& fixture = listFixture();
  for (auto _ : state) {
    fixture.runtime->invalidate();
    benchmark::DoNotOptimize(&fixture.runtime->render());
  }
  platform::MainLoop::drain();
}
BENCHMARK(render_profiles)->Unit(benchmark::kMicrosecond);

void profiles_to_json(benchmark::State& state) {
  const Node tree = listFixture().runtime->render();
  for (auto _ : state) {
    benchmark::DoNotOptimize(brivel::bench::nodeToJson(tree).dump());
  }
}
BENCHMARK(profiles_to_json)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchDirectory();
  brivel::bench::RatioReporter reporter;
  if (!reporter.run(&argc, argv)) {
    std::filesystem::remove_all(benchDirectory());
    return 1;
  }
  reporter.printRatios("The legacy import and the profiles list beside their baselines (ratio = ours / baseline):",
                       {{"import_legacy", "decode_legacy"}, {"render_profiles", "profiles_to_json"}});
  benchmark::Shutdown();
  listFixture().runtime.reset();
  std::filesystem::remove_all(benchDirectory());
  return 0;
}
