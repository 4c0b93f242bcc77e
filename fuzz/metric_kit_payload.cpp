// A diagnostic payload's JSON: the call-stack tree (first part of the input) and the
// metadata (second part) of one crash and one hang, turned into crash records as the
// MetricKit manager does when the payload is delivered.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "crash-reporting/pipeline/metric_kit_manager.h"
#include "crash-reporting/reports/file_manager.h"
#include "fuzz_files.h"
#include "fuzz_seeds.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/paths.h"

namespace {

constexpr const char* kExecutionID = "0123456789abcdef";

struct Setup {
  std::shared_ptr<CRFileManager> fileManager;
  std::shared_ptr<CRMetricKitManager> manager;
};

const Setup& setup() {
  static const Setup made = [] {
    platform::FileLocations::setDataDirectory(fuzzFolder("metric-kit"));
    auto fileManager = std::make_shared<CRFileManager>();
    return Setup{fileManager, std::make_shared<CRMetricKitManager>(
                                  fileManager, kExecutionID, platform::DispatchQueue::makeSerial("fuzz.metrickit"),
                                  [] { return std::optional<std::string>(); })};
  }();
  return made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Setup& made = setup();
  fuzzEmptyFolder(fuzzFolder("metric-kit"));
  std::filesystem::create_directories(made.fileManager->activePath() + "/" + kExecutionID);
  const auto parts = fuzzParts(data, size);
  platform::MXDiagnosticPayload payload;
  platform::MXCrashDiagnostic crash;
  crash.callStackTree.json = parts[0];
  crash.metaData.json = parts.size() > 1 ? parts[1] : std::string();
  crash.signal = 11;
  payload.crashDiagnostics.push_back(crash);
  platform::MXHangDiagnostic hang;
  hang.callStackTree = crash.callStackTree;
  hang.metaData = crash.metaData;
  hang.hangDuration = 2.5;
  payload.hangDiagnostics.push_back(hang);
  payload.timeStampBegin = std::chrono::system_clock::time_point(std::chrono::seconds(1765400000));
  payload.timeStampEnd = payload.timeStampBegin + std::chrono::hours(24);
  (void)made.manager->processMetricKitPayload(payload, false);
  (void)CRMetricKitManager::convertThreadsToArrayForNonfatal(crash.callStackTree);
  return 0;
}

std::vector<FuzzSeed> fuzzSeeds() {
  using nlohmann::json;
  const json frame = {{"address", 4198400}, {"offsetIntoBinaryTextSegment", 4096}, {"sampleCount", 1},
                      {"binaryUUID", "00112233-4455-6677-8899-AABBCCDDEEFF"}, {"binaryName", "brivel"}};
  json nested = frame;
  nested["subFrames"] = json::array({frame, frame});
  const json tree = {{"callStackPerThread", true},
                     {"callStacks", json::array({json{{"threadAttributed", false}, {"callStackRootFrames", json::array({frame})}},
                                                 json{{"threadAttributed", true}, {"callStackRootFrames", json::array({nested})}}})}};
  const json metadata = {{"appBuildVersion", "31"}, {"osVersion", "Linux 6.1"}, {"deviceType", "x86_64"},
                         {"regionFormat", "US"}, {"platformArchitecture", "x86_64"}};
  return {{"crash.json", fuzzJoinParts({tree.dump(), metadata.dump()})},
          {"flat.json", fuzzJoinParts({json{{"callStackPerThread", false}, {"callStacks", json::array()}}.dump(), "{}"})},
          {"no-metadata.json", fuzzJoinParts({tree.dump()})}};
}
