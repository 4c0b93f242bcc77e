// The names in the event store: an event file's name and a batch folder's name, parsed as
// the store lists them, and a percent-encoded mapping ID.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_seeds.h"
#include "transport/events/flat_file_storage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name(reinterpret_cast<const char*>(data), size);
  if (auto event = ETFlatFileStorage::eventComponentsFromFilename(name)) {
    (void)ETFlatFileStorage::decodedMappingID(event->mappingID);
  }
  (void)ETFlatFileStorage::batchComponentsFromFilename(name);
  (void)ETFlatFileStorage::decodedMappingID(name);
  return 0;
}

std::vector<FuzzSeed> fuzzSeeds() {
  const platform::Date expiration = platform::Date::fromTimeIntervalSince1970(1700604800.0);
  const std::string root = "/tmp/brivel-fuzz-seeds-events";
  auto storage = ETFlatFileStorage::make(root);
  const auto event = storage->pathForTarget(1018, "42", 2, expiration, "map-ping/ID%");
  const auto batch = storage->batchPathForTarget(1018, 7, expiration);
  std::error_code error;
  std::filesystem::remove_all(root, error);
  return {{"event", fuzzBytes(event.filename().string())},
          {"batch", fuzzBytes(batch.filename().string())},
          {"mapping", fuzzBytes(ETFlatFileStorage::encodedMappingID("a-b c/%d"))}};
}
