// The store's costs beside plain baselines measured in the same run:
//   - opening a store of 10,000 bills in 10 profiles and loading the graph, beside a plain
//     SQLite SELECT of the same columns into one plain struct per row, each bill put into its
//     profile's list (the median of repetitions stands for each);
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

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "bench/common/heap.h"
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

// Opening and loading only: the graph's teardown, which the baseline's teardown is not
// comparable with, is timed apart below. Repeated, the median stands for the figure.
void BM_OpenAndLoadGraph(benchmark::State& state) {
  const auto& path = storePath();
  for (auto _ : state) {
    auto container = brivel::BrivelModelContainer::makeContainer(path);
    benchmark::DoNotOptimize(container.get());
    state.PauseTiming();
    if (container->mainContext().fetchCount<BillEntity>() != kProfiles * kBillsPerProfile) {
      state.SkipWithError("the graph is not whole");
      break;
    }
    container.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_OpenAndLoadGraph)->Unit(benchmark::kMillisecond)->Repetitions(15)->ReportAggregatesOnly(true);

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

// The plain way to the same graph: the same columns of the same rows, each row into a struct
// of its own (as records of a graph are held), text copied, UUIDs and salary arrays decoded,
// and each bill put into its profile's list in the stored order.
struct PlainUUID {
  std::array<std::uint8_t, 16> bytes{};
};

PlainUUID plainUUID(const unsigned char* text, int length) {
  PlainUUID uuid;
  if (text == nullptr || length != 36) return uuid;
  auto digit = [](unsigned char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
  };
  std::size_t byte = 0;
  for (int i = 0; i < 36 && byte < 16;) {
    if (text[i] == '-') {
      ++i;
      continue;
    }
    uuid.bytes[byte++] = static_cast<std::uint8_t>(digit(text[i]) << 4 | digit(text[i + 1]));
    i += 2;
  }
  return uuid;
}

std::string plainText(sqlite3_stmt* row, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
  return std::string(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(row, column)));
}

std::optional<std::int64_t> plainOptional(sqlite3_stmt* row, int column) {
  if (sqlite3_column_type(row, column) == SQLITE_NULL) return std::nullopt;
  return sqlite3_column_int64(row, column);
}

struct PlainBill {
  std::int64_t pk = 0;
  PlainUUID id;
  std::string name;
  double cost = 0;
  std::optional<std::string> note;
  std::int64_t occurring = 0;
  std::optional<std::int64_t> quarterly, yearly;
  std::int64_t profile = 0, profilePosition = 0;
  std::optional<std::int64_t> category, categoryPosition, bankAccount, bankAccountPosition;
  double timestamp = 0;
};

struct PlainProfile {
  std::int64_t pk = 0;
  PlainUUID id;
  std::string name, color;
  std::int64_t salaryType = 0;
  std::vector<double> salary;
  std::array<std::int64_t, 6> settings{};  // the sort orders, filter and quick action
  bool showSpendable = false, isArchived = false;
  double timestamp = 0;
  std::vector<std::shared_ptr<PlainBill>> bills;
};

void BM_Baseline_SelectRows(benchmark::State& state) {
  const auto& path = storePath();
  for (auto _ : state) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    std::vector<std::shared_ptr<PlainProfile>> profiles;
    std::vector<std::shared_ptr<PlainBill>> bills;
    sqlite3_stmt* row = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT pk, id, name, color, salaryType, salary, billSortType, "
                       "bankAccountSortType, categorySortType, noteSortType, "
                       "collectionFilterType, favoriteQuickAction, showSpendable, isArchived, "
                       "timestamp FROM \"ProfileEntity\" ORDER BY pk",
                       -1, &row, nullptr);
    while (sqlite3_step(row) == SQLITE_ROW) {
      auto profile = std::make_shared<PlainProfile>();
      profile->pk = sqlite3_column_int64(row, 0);
      profile->id = plainUUID(sqlite3_column_text(row, 1), sqlite3_column_bytes(row, 1));
      profile->name = plainText(row, 2);
      profile->color = plainText(row, 3);
      profile->salaryType = sqlite3_column_int64(row, 4);
      const auto* salary = static_cast<const double*>(sqlite3_column_blob(row, 5));
      profile->salary.assign(salary, salary + sqlite3_column_bytes(row, 5) / sizeof(double));
      for (int i = 0; i < 6; ++i) profile->settings[i] = sqlite3_column_int64(row, 6 + i);
      profile->showSpendable = sqlite3_column_int64(row, 12) != 0;
      profile->isArchived = sqlite3_column_int64(row, 13) != 0;
      profile->timestamp = sqlite3_column_double(row, 14);
      profiles.push_back(std::move(profile));
    }
    sqlite3_finalize(row);
    sqlite3_prepare_v2(db,
                       "SELECT pk, id, name, cost, note, occurring, quarterly, yearly, profile, "
                       "\"profile$position\", category, \"category$position\", bankAccount, "
                       "\"bankAccount$position\", timestamp FROM \"BillEntity\" ORDER BY pk",
                       -1, &row, nullptr);
    while (sqlite3_step(row) == SQLITE_ROW) {
      auto bill = std::make_shared<PlainBill>();
      bill->pk = sqlite3_column_int64(row, 0);
      bill->id = plainUUID(sqlite3_column_text(row, 1), sqlite3_column_bytes(row, 1));
      bill->name = plainText(row, 2);
      bill->cost = sqlite3_column_double(row, 3);
      if (sqlite3_column_type(row, 4) != SQLITE_NULL) bill->note = plainText(row, 4);
      bill->occurring = sqlite3_column_int64(row, 5);
      bill->quarterly = plainOptional(row, 6);
      bill->yearly = plainOptional(row, 7);
      bill->profile = sqlite3_column_int64(row, 8);
      bill->profilePosition = sqlite3_column_int64(row, 9);
      bill->category = plainOptional(row, 10);
      bill->categoryPosition = plainOptional(row, 11);
      bill->bankAccount = plainOptional(row, 12);
      bill->bankAccountPosition = plainOptional(row, 13);
      bill->timestamp = sqlite3_column_double(row, 14);
      bills.push_back(std::move(bill));
    }
    sqlite3_finalize(row);
    sqlite3_close(db);
    // Each bill into its profile's list, in the stored order.
    for (const auto& bill : bills) {
      auto owner = std::lower_bound(profiles.begin(), profiles.end(), bill->profile,
                                    [](const auto& p, std::int64_t key) { return p->pk < key; });
      if (owner != profiles.end() && (*owner)->pk == bill->profile) (*owner)->bills.push_back(bill);
    }
    for (const auto& profile : profiles) {
      std::stable_sort(profile->bills.begin(), profile->bills.end(), [](const auto& a, const auto& b) {
        return a->profilePosition < b->profilePosition;
      });
    }
    benchmark::DoNotOptimize(profiles.data());
    state.PauseTiming();
    if (bills.size() != kProfiles * kBillsPerProfile) {
      state.SkipWithError("the rows are not whole");
      break;
    }
    profiles.clear();
    bills.clear();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_Baseline_SelectRows)->Unit(benchmark::kMillisecond)->Repetitions(15)->ReportAggregatesOnly(true);

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
  brivel::bench::keepFreedHeapUnlessCold();
  brivel::bench::RatioReporter reporter;
  if (!reporter.run(&argc, argv)) return 1;
  // Real time includes the disk's sync; CPU time is the steadier figure on a busy machine.
  using brivel::bench::Measure;
  reporter.printRatios("The store beside plain SQLite and a plain loop (ratio = ours / baseline):",
                       {
                           {"BM_OpenAndLoadGraph/repeats:15", "BM_Baseline_SelectRows/repeats:15"},
                           {"BM_SaveOneChangedBill", "BM_Baseline_SingleRowUpdate"},
                           {"BM_YearFigures", "BM_Baseline_OnePassLoop"},
                       },
                       {Measure::realTime(), Measure::cpuTime()});
  std::error_code ignored;
  std::filesystem::remove_all(benchDirectory(), ignored);
  benchmark::Shutdown();
  return 0;
}
