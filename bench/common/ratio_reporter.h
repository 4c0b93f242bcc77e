// The console reporter every benchmark program uses: it prints the usual table, keeps each
// benchmark's figures (real time, CPU time and counters per iteration), and afterwards prints
// chosen figures beside their baselines from the same run as ratios, one line a pair:
//
//   figure                    measure        ours   baseline                    baseline   ratio
//   BM_BuildList/100          real       123.4 us   BM_Baseline_ReadBills/100    12.3 us  10.03x
//
// Times are kept in seconds per iteration whatever unit a benchmark reports in, so a figure
// and a baseline shown in different units still compare. Where repetitions are asked for,
// their median stands for the figure (steadier than the mean on a shared machine). A pair
// with a side that did not run (filtered out or failed) is left out.
//
// Threads: used from the thread that runs the benchmarks.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace brivel::bench {

// What a ratio line compares: real (wall) time, CPU time, or the value of a named counter.
struct Measure {
  enum class Kind { realTime, cpuTime, counter };
  Kind kind = Kind::realTime;
  std::string counter;

  static Measure realTime() { return {Kind::realTime, {}}; }
  static Measure cpuTime() { return {Kind::cpuTime, {}}; }
  static Measure counterNamed(std::string name) { return {Kind::counter, std::move(name)}; }

  std::string label() const {
    switch (kind) {
      case Kind::realTime:
        return "real";
      case Kind::cpuTime:
        return "cpu";
      case Kind::counter:
        break;
    }
    return counter;
  }
};

// A figure and the benchmark it is compared with.
struct RatioPair {
  std::string figure;
  std::string baseline;
};

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal, so that piped output stays plain text.
  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_None) {}

  // Reads benchmark flags from the command line and runs the selected benchmarks with this
  // reporter. False, after saying so, when an argument is not a benchmark flag.
  bool run(int* argc, char** argv) {
    benchmark::Initialize(argc, argv);
    if (benchmark::ReportUnrecognizedArguments(*argc, argv)) return false;
    benchmark::RunSpecifiedBenchmarks(this);
    return true;
  }

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type != Run::RT_Iteration && !median) continue;
      if (run.iterations <= 0) continue;
      const std::string name = run.run_name.str();
      if (!median && medianSeen_.count(name) > 0) continue;
      if (median) medianSeen_.insert(name);
      Figures& figures = figures_[name];
      // The table's figures, per iteration, taken back from the benchmark's unit to seconds.
      const double toSeconds = 1.0 / benchmark::GetTimeUnitMultiplier(run.time_unit);
      figures.realSeconds = run.GetAdjustedRealTime() * toSeconds;
      figures.cpuSeconds = run.GetAdjustedCPUTime() * toSeconds;
      figures.counters.clear();
      for (const auto& [counterName, counter] : run.counters) figures.counters[counterName] = counter.value;
    }
  }

  // The value of `measure` for the named benchmark (as the table names it, e.g. "BM_X/100"):
  // seconds per iteration for times. Empty when it did not run or has no such counter.
  std::optional<double> value(const std::string& name, const Measure& measure = Measure::realTime()) const {
    auto found = figures_.find(name);
    if (found == figures_.end()) return std::nullopt;
    const Figures& figures = found->second;
    switch (measure.kind) {
      case Measure::Kind::realTime:
        return figures.realSeconds;
      case Measure::Kind::cpuTime:
        return figures.cpuSeconds;
      case Measure::Kind::counter:
        break;
    }
    auto counter = figures.counters.find(measure.counter);
    if (counter == figures.counters.end()) return std::nullopt;
    return counter->second;
  }

  // A blank line, `title`, and the column heads.
  void printHeading(const std::string& title) const {
    std::printf("\n%s\n%-40s %-9s %13s   %-36s %13s %9s\n", title.c_str(), "figure", "measure", "ours", "baseline",
                "baseline", "ratio");
  }

  // One line: the figure's value, the baseline's and ours / baseline. Nothing when either
  // side is missing or the baseline is zero.
  void printRatio(const RatioPair& pair, const Measure& measure = Measure::realTime()) const {
    const auto ours = value(pair.figure, measure);
    const auto base = value(pair.baseline, measure);
    if (!ours || !base || *base == 0) return;
    std::printf("%-40s %-9s %13s   %-36s %13s %8.2fx\n", pair.figure.c_str(), measure.label().c_str(),
                format(*ours, measure).c_str(), pair.baseline.c_str(), format(*base, measure).c_str(),
                *ours / *base);
  }

  // A heading and a line for each pair, for each of `measures` in turn.
  void printRatios(const std::string& title, const std::vector<RatioPair>& pairs,
                   const std::vector<Measure>& measures = {Measure::realTime()}) const {
    printHeading(title);
    for (const RatioPair& pair : pairs) {
      for (const Measure& measure : measures) printRatio(pair, measure);
    }
  }

 private:
  struct Figures {
    double realSeconds = 0;
    double cpuSeconds = 0;
    std::map<std::string, double> counters;
  };

  // Seconds in the largest unit that keeps the number at 1 or more; counters as they are.
  static std::string format(double value, const Measure& measure) {
    char text[48];
    if (measure.kind == Measure::Kind::counter) {
      std::snprintf(text, sizeof text, "%.0f", value);
      return text;
    }
    const std::pair<double, const char*> units[] = {{1.0, "s"}, {1e-3, "ms"}, {1e-6, "us"}, {1e-9, "ns"}};
    for (const auto& [scale, unit] : units) {
      if (std::fabs(value) >= scale || scale == 1e-9) {
        std::snprintf(text, sizeof text, "%.3f %s", value / scale, unit);
        return text;
      }
    }
    return text;
  }

  std::map<std::string, Figures> figures_;
  std::set<std::string> medianSeen_;
};

}  // namespace brivel::bench
