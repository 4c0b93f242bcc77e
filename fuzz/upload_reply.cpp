// The collector's reply to an upload: the protobuf the uploader decodes for its next wait.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_seeds.h"
#include "platform/foundation/error.h"
#include "transport/upload/messages.h"
#include "transport/upload/testing/log_collector.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::Error error;
  (void)UPDecodeLogReply(std::vector<uint8_t>(data, data + size), &error);
  return 0;
}

std::vector<FuzzSeed> fuzzSeeds() {
  std::vector<FuzzSeed> seeds;
  const std::pair<const char*, std::optional<int64_t>> waits[] = {
      {"no-wait.pb", std::nullopt}, {"wait.pb", 30000}, {"negative-wait.pb", -1}, {"large-wait.pb", INT64_MAX}};
  for (const auto& [label, wait] : waits) {
    seeds.push_back({label, fuzzBytes(LoopbackLogCollector::logResponse(200, wait).body)});
  }
  return seeds;
}
