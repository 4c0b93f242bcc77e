// The forecast's costs at 10,000 mixed bills (or --bills N: run it at 1000, 10000 and 50000
// for the three sizes; a third each monthly, quarterly and yearly, some
// without their period, most linked to one of five bank accounts), beside baselines measured in
// the same run:
//   - the year's twelve month records and one month's figures (its record and its spendable
//     amount) as the forecast tab reads them, the records again after a bill's cost changed
//     (made anew from the bills) and made afresh as monthValues(profile) answers them, each
//     beside a plain loop that sums each month by the same rule over the same bills;
//   - the records after a bill was added (the kept figures take it in);
//   - three actions posted over HTTP on 127.0.0.1 and timed inside the server (its
//     Server-Timing "total": checks, the hop to the main thread, the action, the new render and
//     its JSON answer), as the web front's benchmark times a posted action: the forecast tab
//     (the spendable switch, which redraws the twelve month cards), a month screen (pushing
//     January from its card, also with a bill added before each push, and January and
//     February in turn with a bill added before each) and a checklist tick
//     (paying a bill of January's left-to-pay sheet). Each is compared with serialising the
//     tree it answers with to JSON.
// At the end each figure is printed with its baseline and their ratio.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "Brivel/forecast/forecast_figures.h"
#include "Brivel/forecast/forecast_screen.h"
#include "Brivel/model/bank_account_entity.h"
#include "Brivel/model/bill_entity.h"
#include "Brivel/model/brivel_model_container.h"
#include "Brivel/model/profile_entity.h"
#include "Brivel/model/profile_manager.h"
#include "Brivel/model/user_defaults_manager.h"
#include "Brivel/shell/model_environment.h"
#include "bench/common/loopback_client.h"
#include "bench/common/node_json.h"
#include "bench/common/ratio_reporter.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/paths.h"
#include "platform/ui/runtime.h"
#include "web/front.h"

namespace {

using nlohmann::json;
using namespace platform::ui;

// How many bills the store holds (--bills N).
int gBills = 10000;

std::filesystem::path benchDirectory() {
  static const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("brivel-forecast-bench-" + std::to_string(getpid()));
  return dir;
}

struct Fixture {
  std::shared_ptr<platform::ModelContainer> container;
  std::shared_ptr<brivel::ProfileEntity> profile;
  std::shared_ptr<brivel::ProfileManager> manager;
  std::shared_ptr<brivel::UserDefaultsManager> settings;
  std::shared_ptr<ViewRuntime> runtime;
};

Fixture& fixture() {
  static std::unique_ptr<Fixture> made;
  if (made) return *made;
  made = std::make_unique<Fixture>();
  Fixture& f = *made;
  std::filesystem::create_directories(benchDirectory());
  platform::FileLocations::setDataDirectory(benchDirectory());
  f.container = brivel::BrivelModelContainer::makeContainer(benchDirectory() / "Brivel.store");
  f.profile = std::make_shared<brivel::ProfileEntity>();
  f.profile->setName("Bench");
  f.profile->setSalary({3000.0});
  brivel::BankAccountList accounts;
  for (int a = 0; a < 5; ++a) {
    auto account = std::make_shared<brivel::BankAccountEntity>();
    account->setName("account " + std::to_string(a));
    account->setNumber("DE00 " + std::to_string(1000 + a));
    accounts.push_back(account);
  }
  f.profile->setBankAccounts(accounts);
  brivel::BillList list;
  for (int i = 0; i < gBills; ++i) {
    auto bill = std::make_shared<brivel::BillEntity>();
    bill->setName("Bill " + std::to_string((i * 7919) % gBills));
    bill->setCost(1.0 + (i % 97) * 0.25);
    switch (i % 3) {
      case 0:
        bill->setOccurring(brivel::OccurringType::monthly);
        break;
      case 1:
        bill->setOccurring(brivel::OccurringType::quarterly);
        if (i % 4 != 3) bill->setQuarterly(static_cast<brivel::QuarterType>(i % 4));
        break;
      default:
        bill->setOccurring(brivel::OccurringType::yearly);
        if (i % 13 != 12) bill->setYearly(static_cast<brivel::YearlyType>(i % 13));
        break;
    }
    if (i % 6 != 5) bill->setBankAccount(accounts[static_cast<std::size_t>(i % 6)]);
    list.push_back(bill);
  }
  f.profile->setBills(list);
  f.container->mainContext().insert(f.profile);
  if (!f.container->mainContext().save().ok()) std::fprintf(stderr, "the bench store could not be saved\n");
  f.manager = std::make_shared<brivel::ProfileManager>();
  f.manager->setSelectedUser(f.profile);
  f.settings = std::make_shared<brivel::UserDefaultsManager>();
  auto container = f.container;
  auto manager = f.manager;
  auto settings = f.settings;
  auto profile = f.profile;
  f.runtime = std::make_shared<ViewRuntime>([container, manager, settings, profile] {
    return brivel::modelContainer(View(brivel::ForecastScreen{profile}), container)
        .environmentObject(manager)
        .environmentObject(settings);
  });
  f.runtime->render();
  platform::MainLoop::drain();
  return f;
}

// ----- Figures -----

// What the forecast tab reads on a render: the year's records (kept with the profile's
// figures) and one month's figures.
void BM_YearAndMonthFigures(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    auto year = brivel::yearRecords(*f.profile);
    auto december = *brivel::monthValues(*f.profile, 11);
    benchmark::DoNotOptimize((*year)[0].cost);
    benchmark::DoNotOptimize(brivel::spendableAmount(*f.profile, december));
  }
}
BENCHMARK(BM_YearAndMonthFigures)->Unit(benchmark::kMicrosecond);

// The same after a bill's cost changed each time: the figures are made again from the bills,
// and the twelve records from them.
void BM_YearRecordsAfterACostChange(benchmark::State& state) {
  Fixture& f = fixture();
  auto bill = f.profile->bills()->front();
  const double cost = bill->cost();
  int flip = 0;
  for (auto _ : state) {
    bill->setCost(cost + (++flip % 2));
    auto year = brivel::yearRecords(*f.profile);
    benchmark::DoNotOptimize((*year)[0].cost);
  }
  bill->setCost(cost);
}
BENCHMARK(BM_YearRecordsAfterACostChange)->Unit(benchmark::kMicrosecond);

// A bill added (untimed) before each read: the twelve records from the kept figures with the
// new bill taken in. The added bills are deleted again afterwards.
brivel::BillList gAddedBills;
std::shared_ptr<brivel::BillEntity> addMonthlyBill() {
  Fixture& f = fixture();
  auto bill = brivel::BillEntity::make(
      {.name = "Added " + std::to_string(gAddedBills.size()), .cost = 12.5, .profile = f.profile});
  gAddedBills.push_back(bill);
  return bill;
}
void deleteAddedBills() {
  for (const auto& bill : gAddedBills) fixture().container->mainContext().deleteModel(bill);
  gAddedBills.clear();
  platform::MainLoop::drain();
}

void BM_YearRecordsAfterABillAdded(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    state.PauseTiming();
    addMonthlyBill();
    state.ResumeTiming();
    auto year = brivel::yearRecords(*f.profile);
    benchmark::DoNotOptimize((*year)[0].cost);
  }
  deleteAddedBills();
}
BENCHMARK(BM_YearRecordsAfterABillAdded)->Iterations(200)->Unit(benchmark::kMicrosecond);

// Every month's record made afresh, as a caller of monthValues(profile) gets them (their bills
// shared with the kept figures).
void BM_YearRecordsByValue(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    auto year = brivel::monthValues(*f.profile);
    benchmark::DoNotOptimize(year[0].cost);
  }
}
BENCHMARK(BM_YearRecordsByValue)->Unit(benchmark::kMicrosecond);

// The same rule as a plain loop: one walk over the bills, each adding its cost to the months it
// falls in, then one month's spendable amount.
void BM_Baseline_PlainMonthSums(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    std::array<double, 12> sums{};
    double monthly = 0.0;
    std::array<double, 3> quarterly{};
    std::array<double, 12> yearly{};
    for (const auto& bill : f.profile->bills().value_or(brivel::BillList{})) {
      switch (bill->occurring()) {
        case brivel::OccurringType::monthly:
          monthly += bill->cost();
          break;
        case brivel::OccurringType::quarterly:
          if (auto q = bill->quarterly()) quarterly[static_cast<std::size_t>(*q)] += bill->cost();
          break;
        case brivel::OccurringType::yearly:
          if (auto m = bill->yearly()) yearly[static_cast<std::size_t>(*m)] += bill->cost();
          break;
      }
    }
    for (std::size_t m = 0; m < 12; ++m) sums[m] = (monthly + quarterly[m % 3]) + yearly[m];
    benchmark::DoNotOptimize(sums);
    benchmark::DoNotOptimize(f.profile->salary()[0] - sums[11]);
  }
}
BENCHMARK(BM_Baseline_PlainMonthSums)->Unit(benchmark::kMicrosecond);

// ----- Actions over the server -----

// The first node (any depth, slots included) that `match` takes.
const Node* firstNode(const Node& node, const std::function<bool(const Node&)>& match) {
  if (match(node)) return &node;
  for (const auto& child : node.children) {
    if (auto found = firstNode(child, match)) return found;
  }
  for (const auto& [name, slot] : node.slots) {
    for (const auto& child : slot) {
      if (auto found = firstNode(child, match)) return found;
    }
  }
  return nullptr;
}

// The first node with the accessibility identifier `id` and an action, or the first pushed
// page when `id` is empty.
const Node* findNode(const Node& tree, const std::string& id, bool pushedPage = false) {
  return firstNode(tree, [&](const Node& node) {
    return pushedPage ? (node.kind == NodeKind::navigationPage && !node.actionId.empty() && !node.flag(Attr::hidden))
                      : node.string(Attr::accessibilityIdentifier) == id && !node.actionId.empty();
  });
}

// The `n`th (from 0) of the nodes findNode(tree, id) looks for.
const Node* nthNode(const Node& tree, const std::string& id, int n) {
  return firstNode(tree, [&](const Node& node) {
    return node.string(Attr::accessibilityIdentifier) == id && !node.actionId.empty() && n-- == 0;
  });
}

// The web front over the fixture's runtime, started once for every action benchmark.
struct Server {
  Server() {
    web::WebServerOptions options;
    options.assetDirectory = BRIVEL_WEB_SOURCE_ASSETS;
    front = std::make_unique<web::WebFront>(fixture().runtime, options);
    if (auto started = front->start(); !started.ok()) {
      const std::string error = started.error().localizedDescription();
      std::fprintf(stderr, "the page cannot be served: %s\n", error.c_str());
      front.reset();
      return;
    }
    platform::MainLoop::drain();
    poster = std::make_unique<brivel::bench::LoopbackClient>(front->server()->port());
    headers = {{"X-Brivel-Token", front->server()->token()}};
  }
  // Posts `event` on the control found by `find` in the latest tree.
  std::optional<double> act(const std::function<const Node*(const Node&)>& find, const char* event = "tap") {
    const Node* node = find(fixture().runtime->render());
    if (!node) return std::nullopt;
    poster->start([this, body = json{{"id", node->actionId}, {"event", event}}.dump()](httplib::Client& c) {
      return c.Post("/action", headers, body, "application/json");
    });
    platform::MainLoop::runUntil([&] { return poster->done(); }, std::chrono::seconds(30));
    if (!poster->done()) return std::nullopt;
    return brivel::bench::serverSeconds(poster->result());
  }
  std::unique_ptr<web::WebFront> front;
  std::unique_ptr<brivel::bench::LoopbackClient> poster;
  httplib::Headers headers;
};

Server& server() {
  static Server s;
  return s;
}

// The tree each action answered with last, for its JSON baseline.
std::map<std::string, Node>& answeredTrees() {
  static std::map<std::string, Node> trees;
  return trees;
}

auto byId(const std::string& id) {
  return [id](const Node& tree) { return findNode(tree, id); };
}
const Node* pushedPage(const Node& tree) { return findNode(tree, "", true); }

std::size_t nodeCount(const Node& node) {
  std::size_t n = 1;
  for (const auto& child : node.children) n += nodeCount(child);
  for (const auto& [name, slot] : node.slots) {
    for (const auto& child : slot) n += nodeCount(child);
  }
  return n;
}

void runAction(benchmark::State& state, const std::string& name, const std::function<std::optional<double>()>& act) {
  if (!server().front) {
    state.SkipWithError("no server");
    return;
  }
  for (auto _ : state) {
    auto seconds = act();
    if (!seconds) {
      state.SkipWithError("the post failed");
      break;
    }
    state.SetIterationTime(*seconds);
  }
  answeredTrees()[name] = fixture().runtime->render();
  state.counters["nodes"] = static_cast<double>(nodeCount(answeredTrees()[name]));
}

void forecast_tab_spendable_switch(benchmark::State& state) {
  runAction(state, "forecast_tab", [] { return server().act(byId("toggleSpendable")); });
}
BENCHMARK(forecast_tab_spendable_switch)->UseManualTime()->Unit(benchmark::kMillisecond);

void month_screen_push(benchmark::State& state) {
  // One push first, untimed: the month's rows are read off the bills list's kept order, which
  // the program's bills tab has made long before; this store has no bills tab to make it.
  if (server().front && server().act(byId("monthRow"))) (void)server().act(pushedPage, "dismiss");
  runAction(state, "month_screen", [] {
    auto pushed = server().act(byId("monthRow"));
    // Back to the year overview, untimed, for the next push.
    if (pushed && !server().act(pushedPage, "dismiss")) return std::optional<double>();
    return pushed;
  });
  // The answered tree is the month screen's: push once more to keep it, then go back.
  if (server().front && server().act(byId("monthRow"))) {
    answeredTrees()["month_screen"] = fixture().runtime->render();
    state.counters["nodes"] = static_cast<double>(nodeCount(answeredTrees()["month_screen"]));
    (void)server().act(pushedPage, "dismiss");
  }
}
BENCHMARK(month_screen_push)->UseManualTime()->Unit(benchmark::kMillisecond);

// The same push with a monthly bill added (untimed) before each: the month's rows gain it.
void month_screen_push_after_an_add(benchmark::State& state) {
  runAction(state, "month_screen_after_an_add", [] {
    addMonthlyBill();
    platform::MainLoop::drain();
    auto pushed = server().act(byId("monthRow"));
    if (pushed && !server().act(pushedPage, "dismiss")) return std::optional<double>();
    return pushed;
  });
  deleteAddedBills();
}
BENCHMARK(month_screen_push_after_an_add)->UseManualTime()->Iterations(50)->Unit(benchmark::kMillisecond);

// The same with January and February pushed in turn: each push shows a month other than the
// one shown last, so its rows are read off the bills list's order again after the add, as the
// first push of a month after a change does.
void month_screen_push_of_another_month_after_an_add(benchmark::State& state) {
  int pushes = 0;
  runAction(state, "month_screen_of_another_month", [&pushes] {
    addMonthlyBill();
    platform::MainLoop::drain();
    const int month = pushes++ % 2;
    auto pushed = server().act([month](const Node& tree) { return nthNode(tree, "monthRow", month); });
    if (pushed && !server().act(pushedPage, "dismiss")) return std::optional<double>();
    return pushed;
  });
  deleteAddedBills();
}
BENCHMARK(month_screen_push_of_another_month_after_an_add)->UseManualTime()->Iterations(50)->Unit(benchmark::kMillisecond);

void checklist_tick(benchmark::State& state) {
  if (server().front && !findNode(fixture().runtime->render(), "unpaidBill")) {
    (void)server().act(byId("leftToPay"));  // January's left-to-pay sheet
  }
  // Each tick pays the first unpaid bill: the paid ones sit at the list's end, outside the rows
  // the page has built, as a user scrolled to the top sees it. Once every bill is paid, the
  // reset button unpays them all, untimed.
  runAction(state, "checklist_tick", [] {
    if (!findNode(fixture().runtime->render(), "unpaidBill") && !server().act(byId("resetPayedBills"))) {
      return std::optional<double>();
    }
    return server().act(byId("unpaidBill"));
  });
}
BENCHMARK(checklist_tick)->UseManualTime()->Unit(benchmark::kMillisecond);

void tree_to_json(benchmark::State& state, const std::string& name) {
  auto found = answeredTrees().find(name);
  if (found == answeredTrees().end()) {
    state.SkipWithError("its action did not run");
    return;
  }
  for (auto _ : state) {
    std::string text = brivel::bench::nodeToJson(found->second).dump();
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK_CAPTURE(tree_to_json, forecast_tab, std::string("forecast_tab"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(tree_to_json, month_screen, std::string("month_screen"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(tree_to_json, checklist_tick, std::string("checklist_tick"))->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  // --bills N (taken out before the benchmark library reads the rest).
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--bills=", 0) == 0) {
      gBills = std::max(1, std::atoi(arg.c_str() + 8));
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  brivel::bench::RatioReporter reporter;
  if (!reporter.run(&argc, argv)) return 1;
  const std::string title = "The forecast at " + std::to_string(gBills) + " bills beside plain work (ratio = ours / baseline):";
  reporter.printRatios(title,
                       {
                           {"BM_YearAndMonthFigures", "BM_Baseline_PlainMonthSums"},
                           {"BM_YearRecordsAfterACostChange", "BM_Baseline_PlainMonthSums"},
                           {"BM_YearRecordsAfterABillAdded", "BM_Baseline_PlainMonthSums"},
                           {"BM_YearRecordsByValue", "BM_Baseline_PlainMonthSums"},
                           {"forecast_tab_spendable_switch/manual_time", "tree_to_json/forecast_tab"},
                           {"month_screen_push/manual_time", "tree_to_json/month_screen"},
                           {"month_screen_push_after_an_add/manual_time", "tree_to_json/month_screen"},
                           {"month_screen_push_of_another_month_after_an_add/manual_time", "tree_to_json/month_screen"},
                           {"checklist_tick/manual_time", "tree_to_json/checklist_tick"},
                       });
  if (server().front) server().front->stop();
  fixture().runtime.reset();
  platform::MainLoop::drain();
  std::error_code ignored;
  std::filesystem::remove_all(benchDirectory(), ignored);
  benchmark::Shutdown();
  return 0;
}
