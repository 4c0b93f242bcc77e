// The store's costs beside plain baselines measured in the same run:
//   - opening a store of 10,000 bills in 10 profiles and loading the graph, beside a plain
//     SQLite SELECT of the same rows;
//   - saving one changed bill among them, beside a single-row UPDATE in its own transaction
//     (same file settings: WAL, full sync);
//   - a year's figures for a profile of 10,000 bills after one of them changed (income,
//     payments, cost, and the monthly, quarterly and yearly selections of each month), beside
//     one plain loop over the same costs that collects the same bill lists.
// Goals: loading at most 1.5x the SELECT (teardown timed apart), the figures at most 1.5x
// the loop.
// At the end each figure is printed with its baseline and their ratio.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/common/ratio_reporter.h"
#include "Brivel/model/bill_entity.h"
#include "Brivel/model/brivel_model_container.h"
#include "Brivel/model/profile_entity.h"

namespace {

using brivel::BillEntity;
using brivel::OccurringType;
using brivel::ProfileEntity;

constexpr int kProfiles = 10;
constexpr int kBillsPerProfile = 1000;

std::filesystem::path benchDirectory() {
  static const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("brivel-store-bench-" + std::to_string(getpid()));
  return dir;
}

OccurringType occurrenceOf(int i) { return static_cast<OccurringType>(i % 3); }

void fillProfile(const std::shared_ptr<ProfileEntity>& profile, int bills) {
  brivel::BillList list;
  list.reserve(static_cast<std::size_t>(bills));
  for (int i = 0; i < bills; ++i) {
    auto bill = std::make_shared<BillEntity>();
    bill->setName("Bill " + std::to_string(i));
    bill->setCost(1.0 + (i % 97) * 0.25);
    bill->setOccurring(occurrenceOf(i));
    bill->setQuarterly(static_cast<brivel::QuarterType>(i % 3));
    bill->setYearly(static_cast<brivel::YearlyType>(i % 12));
    list.push_back(bill);
  }
  profile->setBills(list);
}

// The 10,000-bill store, made once.
const std::filesystem::path& storePath() {
  static const std::filesystem::path path = [] {
    std::filesystem::create_directories(benchDirectory());
    auto file = benchDirectory() / "Brivel.store";
    auto container = brivel::BrivelModelContainer::makeContainer(file);
    for (int p = 0; p < kProfiles; ++p) {
      auto profile = std::make_shared<ProfileEntity>();
      profile->setName("Profile " + std::to_string(p));
      fillProfile(profile, kBillsPerProfile);
      container->mainContext().insert(profile);
    }
    if (!container->mainContext().save().ok()) {
      std::fprintf(stderr, "cannot build the benchmark store\n");
      std::exit(1);
    }
    return file;
  }();
  return path;
}

// Opening and loading only: the graph's teardown, which the SELECT has no counterpart of, is
// timed apart below.
void BM_OpenAndLoadGraph(benchmark::State& state) {
  const auto& path = storePath();
  for (auto _ : state) {
    auto container = brivel::BrivelModelContainer::makeContainer(path);
    benchmark::DoNotOptimize(container->mainContext().fetchCount<BillEntity>());
    state.PauseTiming();
    container.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_OpenAndLoadGraph)->Unit(benchmark::kMillisecond);

void BM_GraphTeardown(benchmark::State& state) {
  const auto& path = storePath();
  for (auto _ : state) {
    state.PauseTiming();
    auto container = brivel::BrivelModelContainer::makeContainer(path);
    state.ResumeTiming();
    container.reset();
  }
}
BENCHMARK(BM_GraphTeardown)->Unit(benchmark::kMillisecond);

void BM_Baseline_SelectRows(benchmark::State& state) {
  const auto& path = storePath();
  for (auto _ : state) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    double sum = 0;
    for (const char* sql : {"SELECT * FROM \"ProfileEntity\"", "SELECT * FROM \"BillEntity\""}) {
      sqlite3_stmt* statement = nullptr;
      sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
      while (sqlite3_step(statement) == SQLITE_ROW) {
        int columns = sqlite3_column_count(statement);
        for (int c = 0; c < columns; ++c) {
          switch (sqlite3_column_type(statement, c)) {
            case SQLITE_TEXT:
              sum += sqlite3_column_bytes(statement, c);
              break;
            case SQLITE_BLOB:
              sum += sqlite3_column_bytes(statement, c);
              break;
            default:
              sum += sqlite3_column_double(statement, c);
          }
        }
      }
      sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_Baseline_SelectRows)->Unit(benchmark::kMillisecond);

void BM_SaveOneChangedBill(benchmark::State& state) {
  auto container = brivel::BrivelModelContainer::makeContainer(storePath());
  auto& context = container->mainContext();
  auto bills = context.fetch<BillEntity>();
  double cost = 1.0;
  for (auto _ : state) {
    bills[4321]->setCost(cost += 1.0);
    if (!context.save().ok()) {
      state.SkipWithError("save failed");
      break;
    }
  }
}
BENCHMARK(BM_SaveOneChangedBill)->Unit(benchmark::kMicrosecond);

void BM_Baseline_SingleRowUpdate(benchmark::State& state) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(storePath().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
  sqlite3_stmt* update = nullptr;
  sqlite3_prepare_v2(db, "UPDATE \"BillEntity\" SET cost=? WHERE pk=?", -1, &update, nullptr);
  double cost = 1.0;
  for (auto _ : state) {
    sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    sqlite3_bind_double(update, 1, cost += 1.0);
    sqlite3_bind_int64(update, 2, 4322);
    sqlite3_step(update);
    sqlite3_reset(update);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  }
  sqlite3_finalize(update);
  sqlite3_close(db);
}
BENCHMARK(BM_Baseline_SingleRowUpdate)->Unit(benchmark::kMicrosecond);

// The year's figures after a bill changed (which drops the profile's kept figures): the
// yearly income, payments and cost, and the monthly, quarterly and yearly selections every
// month is built from.
void BM_YearFigures(benchmark::State& state) {
  auto profile = std::make_shared<ProfileEntity>();
  fillProfile(profile, 10000);
  auto changed = profile->bills()->at(4321);
  double cost = 1.0;
  for (auto _ : state) {
    changed->setCost(cost += 1.0);
    auto year = profile->yearFigures();
    double total = profile->incomePerYear() + year->costPerYear +
                   static_cast<double>(year->billsPerYear) + year->monthly.cost +
                   static_cast<double>(year->monthly.bills.size());
    for (const auto& quarter : year->quarterly) total += quarter.cost + static_cast<double>(quarter.bills.size());
    for (const auto& month : year->yearly) total += month.cost + static_cast<double>(month.bills.size());
    benchmark::DoNotOptimize(total);
  }
}
BENCHMARK(BM_YearFigures)->Unit(benchmark::kMillisecond);

// The same figures by hand: one loop over plain rows that collects the same bill lists.
void BM_Baseline_OnePassLoop(benchmark::State& state) {
  struct Row {
    int occurring;
    int quarter;
    int month;
    double cost;
    std::shared_ptr<BillEntity> bill;
  };
  std::vector<Row> rows;
  for (int i = 0; i < 10000; ++i) {
    rows.push_back({i % 3, i % 3, i % 12, 1.0 + (i % 97) * 0.25, std::make_shared<BillEntity>()});
  }
  double salary = 2500.0;
  for (auto _ : state) {
    rows[4321].cost += 1.0;
    brivel::BillsCost monthly;
    std::array<brivel::BillsCost, 3> quarterly;
    std::array<brivel::BillsCost, 12> yearly;
    double monthlyPart = 0, quarterlyPart = 0, yearlyPart = 0;
    long payments = 0;
    for (const Row& row : rows) {
      if (row.occurring == 0) {
        monthlyPart += row.cost * 12;
        payments += 12;
        monthly.cost += row.cost;
        monthly.bills.push_back(row.bill);
      } else if (row.occurring == 1) {
        quarterlyPart += row.cost * 4;
        payments += 4;
        quarterly[row.quarter].cost += row.cost;
        quarterly[row.quarter].bills.push_back(row.bill);
      } else {
        yearlyPart += row.cost;
        payments += 1;
        yearly[row.month].cost += row.cost;
        yearly[row.month].bills.push_back(row.bill);
      }
    }
    double total = salary * 12 + (monthlyPart + quarterlyPart) + yearlyPart +
                   static_cast<double>(payments) + monthly.cost +
                   static_cast<double>(monthly.bills.size());
    for (const auto& quarter : quarterly) total += quarter.cost + static_cast<double>(quarter.bills.size());
    for (const auto& month : yearly) total += month.cost + static_cast<double>(month.bills.size());
    benchmark::DoNotOptimize(total);
  }
}
BENCHMARK(BM_Baseline_OnePassLoop)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  brivel::bench::RatioReporter reporter;
  if (!reporter.run(&argc, argv)) return 1;
  // Real time includes the disk's sync; CPU time is the steadier figure on a busy machine.
  using brivel::bench::Measure;
  reporter.printRatios("The store beside plain SQLite and a plain loop (ratio = ours / baseline):",
                       {
                           {"BM_OpenAndLoadGraph", "BM_Baseline_SelectRows"},
                           {"BM_SaveOneChangedBill", "BM_Baseline_SingleRowUpdate"},
                           {"BM_YearFigures", "BM_Baseline_OnePassLoop"},
                       },
                       {Measure::realTime(), Measure::cpuTime()});
  std::error_code ignored;
  std::filesystem::remove_all(benchDirectory(), ignored);
  benchmark::Shutdown();
  return 0;
}
