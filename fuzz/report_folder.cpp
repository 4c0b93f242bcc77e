// A report folder as a later launch finds it: the metadata record, the binary-image record,
// crash and event records and whatever else lies there. Each part of the input is one file;
// its first byte picks the name (kNames), the rest is the content. The folder is read as the
// unsent-reports collection reads it, packed into the crash-report message as the report
// adapter does (and the message decoded again), and symbolicated.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "crash-reporting/core/context.h"
#include "crash-reporting/pipeline/report_adapter.h"
#include "crash-reporting/pipeline/symbolication.h"
#include "crash-reporting/reports/internal_report.h"
#include "fuzz_files.h"
#include "fuzz_seeds.h"

namespace {

const char* const kNames[] = {"metadata.crrecord",        "binary_images.crrecord",   "exception.crrecord",
                              "signal.crrecord",          "mach_exception.crrecord",  "metric_kit_fatal.crrecord",
                              "custom_fatal.crrecord",    "custom_exception_a.crrecord", "errors_a.crrecord",
                              "signal.crrecord.symbolicated", "sdk.log",             "Other.CRRECORD"};
constexpr size_t kNameCount = sizeof kNames / sizeof kNames[0];

std::string reportFolder() { return (fuzzFolder("report-folder") / "0123456789abcdef").string(); }

uint8_t nameIndex(const char* name) {
  for (size_t index = 0; index < kNameCount; ++index) {
    if (std::string(kNames[index]) == name) return static_cast<uint8_t>(index);
  }
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzEmptyFolder(fuzzFolder("report-folder"));
  const std::string folder = reportFolder();
  std::filesystem::create_directories(folder);
  for (const std::string& part : fuzzParts(data, size)) {
    if (part.empty()) continue;
    fuzzWriteFile(std::filesystem::path(folder) / kNames[static_cast<uint8_t>(part[0]) % kNameCount],
                  std::string_view(part).substr(1));
  }

  // The unsent-reports collection.
  auto report = CRInternalReport::reportWithPath(folder);
  if (!report) report = std::make_shared<CRInternalReport>(folder, "0123456789abcdef");
  (void)report->hasAnyEvents();
  (void)report->dateCreated();
  (void)report->orgID();
  (void)report->OSVersion();
  (void)report->OSBuildVersion();
  (void)report->bundleVersion();
  (void)report->bundleShortVersionString();
  (void)report->crashedOnDate();

  // Symbolication at the next launch writes "<crash file>.symbolicated" beside each.
  CRProcessReportOperation(report, std::make_shared<CRSymbolResolver>()).start();

  // The message: every record file, carried whole, and read back the same.
  CRReportAdapter adapter(folder, "1:4242:ios:5ab3", nullptr, "cQ7VpZlTQ1Kx-7gjfR1Pj_", "token");
  if (const auto bytes = adapter.transportBytes()) {
    const auto decoded = CRDecodeReport(*bytes);
    if (!decoded || decoded->files.size() != adapter.files().size()) std::abort();
  }
  return 0;
}

std::vector<FuzzSeed> fuzzSeeds() {
  fuzzEmptyFolder(fuzzFolder("report-folder"));
  const std::string folder = reportFolder();
  std::filesystem::create_directories(folder);
  // The metadata record as a launch writes it.
  CRContextInitData init;
  init.rootPath = folder;
  init.sessionId = "0123456789abcdef";
  init.qualitySessionId = "fedcba9876543210";
  init.customBundleId = "ruv.vantoru.Brivel";
  CRContextRecordMetadata(folder.c_str(), &init);
  const std::string metadata = fuzzReadFile(std::filesystem::path(folder) / "metadata.crrecord");

  using nlohmann::json;
  const auto lines = [](std::initializer_list<json> values) {
    std::string text;
    for (const json& value : values) text += value.dump() + "\n";
    return text;
  };
  const std::string images = lines({
      json{{"load", {{"uuid", "00112233445566778899aabbccddeeff"}, {"base", 4194304}, {"size", 65536}, {"path", "/usr/bin/brivel"}}}},
      json{{"load", {{"uuid", "ffeeddccbbaa99887766554433221100"}, {"base", 140000000}, {"size", 4096}, {"path", "/lib/libz.so.1"}}}},
      json{{"unload", {{"uuid", "ffeeddccbbaa99887766554433221100"}, {"base", 140000000}}}},
  });
  const std::string signal = lines({
      json{{"signal", {{"number", 11}, {"code", 1}, {"address", 16}, {"name", "SIGSEGV"}, {"time", 1765400000}}}},
      json{{"threads", json::array({json{{"crashed", true}, {"registers", {{"pc", 4198400}}},
                                         {"stacktrace", json::array({4198400, 4198500, 140000010})}}})}},
  });
  const std::string mach = lines({json{{"mach_exception", {{"exception", 1}, {"time", 1765400001}}}}});
  const auto part = [](const char* name, const std::string& content) { return std::string(1, static_cast<char>(nameIndex(name))) + content; };

  std::vector<FuzzSeed> seeds = {
      {"crashed", fuzzJoinParts({part("metadata.crrecord", metadata), part("binary_images.crrecord", images),
                                 part("signal.crrecord", signal), part("sdk.log", "a log line\n")})},
      {"mach", fuzzJoinParts({part("metadata.crrecord", metadata), part("mach_exception.crrecord", mach),
                              part("errors_a.crrecord", lines({json{{"error", {{"domain", "d"}, {"code", 3}}}}}))})},
      {"no-events", fuzzJoinParts({part("metadata.crrecord", metadata)})},
      {"no-metadata", fuzzJoinParts({part("exception.crrecord", signal), part("Other.CRRECORD", "{}\n")})},
  };
  fuzzEmptyFolder(fuzzFolder("report-folder"));
  return seeds;
}
