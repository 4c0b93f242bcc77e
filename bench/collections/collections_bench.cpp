// The side collections' costs beside baselines measured in the same run:
//   open_accounts_list     one tap posted over HTTP on 127.0.0.1 that opens the bank-account
//                          list of a profile of 1,000 accounts sorted by name, timed inside the
//                          server (its Server-Timing "total": checks, the hop to the main
//                          thread, the action, the new render and its answer)
//   open_plain_list        the baseline: the same tap opening a plain list of 1,000 texts
//   delete_linked_account  a confirmed delete of an account linked to 1,000 of 10,000 bills:
//                          the walk over the profile's bills, the removal and the store's save
//   sqlite_clear_links     the baseline: one SQLite UPDATE (in a transaction) that clears the
//                          same 1,000 links in a table of 10,000 bills
// After the runs, each figure is printed as a ratio to its baseline.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "Brivel/collections/bank_account_screens.h"
#include "Brivel/collections/collection_actions.h"
#include "Brivel/model/bill_entity.h"
#include "Brivel/model/brivel_model_container.h"
#include "Brivel/model/profile_entity.h"
#include "Brivel/model/user_defaults_manager.h"
#include "Brivel/shell/model_environment.h"
#include "bench/common/loopback_client.h"
#include "bench/common/ratio_reporter.h"
#include "platform/data/save_reporter.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/date.h"
#include "platform/foundation/paths.h"
#include "platform/foundation/uuid.h"
#include "web/front.h"

namespace {

using nlohmann::json;
using namespace platform::ui;

std::filesystem::path benchDirectory() {
  static const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("brivel-collections-bench-" + std::to_string(getpid()));
  return dir;
}

std::shared_ptr<platform::ModelContainer> openStore(const std::string& name) {
  std::filesystem::create_directories(benchDirectory() / name);
  platform::FileLocations::setDataDirectory(benchDirectory());
  return brivel::BrivelModelContainer::makeContainer(benchDirectory() / name / "Brivel.store");
}

std::shared_ptr<brivel::ProfileEntity> newProfile() {
  auto profile = std::make_shared<brivel::ProfileEntity>();
  profile->setName("Bench");
  profile->setBankAccountSortType(brivel::BankAccountSortType::name);
  return profile;
}

std::shared_ptr<brivel::BankAccountEntity> newAccount(const std::shared_ptr<brivel::ProfileEntity>& profile, int i) {
  return brivel::BankAccountEntity::make({.name = "account " + std::to_string((i * 7919) % 1000),
                                          .color = "appleRed",
                                          .number = "DE" + std::to_string(i),
                                          .profile = profile,
                                          .bills = brivel::BillList{}});
}

// ----- Opening the list over the server -----

// A page with one button ("open") that shows or hides `content` below it.
View togglePage(std::function<View()> content) {
  return Closure("page", [content](Context& ctx) {
    auto shown = ctx.state<bool>("shown", false);
    return VStack({Button(verbatim("open"), [shown] { shown.toggle(); }).accessibilityIdentifier("open"),
                   when(shown.get(), content)});
  });
}

// Taps "open" twice per iteration over HTTP and counts the server's time of the tap that
// opens the content.
void timeOpening(benchmark::State& state, std::shared_ptr<ViewRuntime> runtime) {
  web::WebServerOptions options;
  options.assetDirectory = BRIVEL_WEB_SOURCE_ASSETS;
  web::WebFront front(runtime, options);
  if (auto started = front.start(); !started.ok()) {
    const std::string error = started.error().localizedDescription();
    state.SkipWithError(error.c_str());
    return;
  }
  platform::MainLoop::drain();
  const int port = front.server()->port();
  httplib::Headers headers{{"X-Brivel-Token", front.server()->token()}};
  // Runs a request on a client thread while this (main) thread serves the main queue.
  auto request = [&](std::function<httplib::Result(httplib::Client&)> send) {
    auto pending = std::async(std::launch::async, [&] {
      httplib::Client client("127.0.0.1", port);
      return send(client);
    });
    platform::MainLoop::runUntil(
        [&] { return pending.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, std::chrono::seconds(30));
    return pending.get();
  };
  auto page = request([&](httplib::Client& c) { return c.Get("/render", headers); });
  std::smatch match;
  const std::string html = page ? json::parse(page->body)["html"].get<std::string>() : std::string();
  if (!std::regex_search(html, match, std::regex("data-id=\"open\" type=\"button\" data-action=\"([^\"]+)\""))) {
    state.SkipWithError("no open button on the page");
    return;
  }
  const std::string body = json{{"id", match[1].str()}, {"event", "tap"}}.dump();
  auto tap = [&]() -> double {
    auto res = request([&](httplib::Client& c) { return c.Post("/action", headers, body, "application/json"); });
    return brivel::bench::serverSeconds(res).value_or(-1);
  };
  for (auto _ : state) {
    const double opening = tap();
    if (opening < 0 || tap() < 0) {
      state.SkipWithError("the post failed");
      break;
    }
    state.SetIterationTime(opening);
  }
  front.stop();
}

void open_accounts_list(benchmark::State& state) {
  auto container = openStore("list");
  auto profile = newProfile();
  brivel::BankAccountList accounts;
  for (int i = 0; i < 1000; ++i) accounts.push_back(newAccount(profile, i));
  profile->setBankAccounts(accounts);
  container->mainContext().insert(profile);
  if (!container->mainContext().save().ok()) std::fprintf(stderr, "the bench store could not be saved\n");
  auto settings = std::make_shared<brivel::UserDefaultsManager>();
  auto runtime = std::make_shared<ViewRuntime>([container, profile, settings] {
    return brivel::modelContainer(NavigationStack(togglePage([profile] {
                                    return View(brivel::BankAccountsListScreen{profile, false});
                                  })),
                                  container)
        .environmentObject(settings);
  });
  runtime->render();
  timeOpening(state, runtime);
}
BENCHMARK(open_accounts_list)->UseManualTime()->Unit(benchmark::kMillisecond);


void open_plain_list(benchmark::State& state) {
  auto runtime = std::make_shared<ViewRuntime>([] {
    return NavigationStack(togglePage([] {
      std::vector<View> rows;
      rows.reserve(1000);
      for (int i = 0; i < 1000; ++i) rows.push_back(Verbatim("account " + std::to_string(i)));
      return List(std::move(rows));
    }));
  });
  runtime->render();
  timeOpening(state, runtime);
}
BENCHMARK(open_plain_list)->UseManualTime()->Unit(benchmark::kMillisecond);

// ----- Deleting an account linked to 1,000 of 10,000 bills -----

void delete_linked_account(benchmark::State& state) {
  auto container = openStore("delete");
  auto& context = container->mainContext();
  auto profile = newProfile();
  brivel::BankAccountList accounts;
  for (int i = 0; i < 10; ++i) accounts.push_back(newAccount(profile, i));
  brivel::BillList bills;
  for (int i = 0; i < 10000; ++i) {
    auto bill = std::make_shared<brivel::BillEntity>();
    bill->setName("bill " + std::to_string(i));
    bill->setCost(1.0 + i % 97);
    bill->setBankAccount(accounts[static_cast<std::size_t>(i % 10)]);
    bills.push_back(bill);
  }
  profile->setBankAccounts(accounts);
  profile->setBills(bills);
  context.insert(profile);
  if (!context.save().ok()) std::fprintf(stderr, "the bench store could not be saved\n");
  int made = 10;
  for (auto _ : state) {
    // A fresh account takes over the links of the one deleted last (not timed).
    auto doomed = newAccount(profile, made++);
    auto list = profile->bankAccounts().value_or(brivel::BankAccountList{});
    list.push_back(doomed);
    profile->setBankAccounts(list);
    for (std::size_t i = 0; i < bills.size(); i += 10) bills[i]->setBankAccount(doomed);
    if (!context.save().ok()) std::fprintf(stderr, "the bench store could not be saved\n");

    const auto start = std::chrono::steady_clock::now();
    brivel::deleteBankAccount(*doomed, *profile);
    (void)platform::saveReportingFailure(context);
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
}
BENCHMARK(delete_linked_account)->UseManualTime()->Unit(benchmark::kMillisecond);

void sqlite_clear_links(benchmark::State& state) {
  std::filesystem::create_directories(benchDirectory());
  const std::string path = (benchDirectory() / "plain.sqlite").string();
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db,
               "PRAGMA journal_mode=WAL;"
               "CREATE TABLE bills(id INTEGER PRIMARY KEY, name TEXT, cost REAL, account INTEGER);"
               "CREATE INDEX bills_account ON bills(account);",
               nullptr, nullptr, nullptr);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO bills(name, cost, account) VALUES (?, ?, ?)", -1, &insert, nullptr);
  for (int i = 0; i < 10000; ++i) {
    const std::string name = "bill " + std::to_string(i);
    sqlite3_bind_text(insert, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_double(insert, 2, 1.0 + i % 97);
    sqlite3_bind_int(insert, 3, i % 10);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  for (auto _ : state) {
    sqlite3_exec(db, "UPDATE bills SET account = 99 WHERE id % 10 = 1", nullptr, nullptr, nullptr);  // not timed
    const auto start = std::chrono::steady_clock::now();
    sqlite3_exec(db, "BEGIN; UPDATE bills SET account = NULL WHERE account = 99; COMMIT;", nullptr, nullptr, nullptr);
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  sqlite3_close(db);
}
BENCHMARK(sqlite_clear_links)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  brivel::bench::RatioReporter reporter;
  if (!reporter.run(&argc, argv)) return 1;
  reporter.printRatios("The side collections beside plain work (ratio = ours / baseline):",
                       {{"open_accounts_list/manual_time", "open_plain_list/manual_time"},
                        {"delete_linked_account/manual_time", "sqlite_clear_links/manual_time"}});
  platform::MainLoop::drain();
  std::error_code ignored;
  std::filesystem::remove_all(benchDirectory(), ignored);
  benchmark::Shutdown();
  return 0;
}
